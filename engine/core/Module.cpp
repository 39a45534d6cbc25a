// The navigation engine's server module: its class-object map and the four
// entry points through which COM creates, registers and unloads it.
#include "engine/core/BluetoothDevices.h"
#include "engine/core/LocationObject.h"
#include "engine/core/POIObjects.h"
#include "engine/core/PlaceObjects.h"
#include "engine/core/RouteValueObjects.h"
#include "engine/core/SettingsObjects.h"
#include "engine/core/ValueObjects.h"
#include "platform/com/atl.h"

namespace {

const com::ClassEntry kClassMap[] = {
    {&CLSID_LocationObject, u"VOV.LocationObject", u"LocationObject Class", u"Free",
     &CLocationObject::CreateInstance},
    {&CLSID_AddressObject, u"VOV.AddressObject", u"AddressObject Class", u"Free", &CAddressObject::CreateInstance},
    {&CLSID_POISearchConfigurationObject, u"VOV.POISearchConfigurationObject",
     u"POISearchConfigurationObject Class", u"Free", &CPOISearchConfigurationObject::CreateInstance},
    {&CLSID_POIObject, u"VOV.POIObject", u"POIObject Class", u"Free", &CPOIObject::CreateInstance},
    {&CLSID_POICategoryObject, u"VOV.POICategoryObject", u"POICategoryObject Class", u"Free",
     &CPOICategoryObject::CreateInstance},
    {&CLSID_POISubCategoryObject, u"VOV.POISubCategoryObject", u"POISubCategoryObject Class", u"Free",
     &CPOISubCategoryObject::CreateInstance},
    {&CLSID_StreetObject, u"VOV.StreetObject", u"StreetObject Class", u"Free", &CStreetObject::CreateInstance},
    {&CLSID_AddressSearchConfigurationObject, u"VOV.AddressSearchConfigurationObject",
     u"AddressSearchConfigurationObject Class", u"Free", &CAddressSearchConfigurationObject::CreateInstance},
    {&CLSID_DestinationObject, u"VOV.DestinationObject", u"DestinationObject Class", u"Free",
     &CDestinationObject::CreateInstance},
    {&CLSID_WhereAmIObject, u"VOV.WhereAmIObject", u"WhereAmIObject Class", u"Free", &CWhereAmIObject::CreateInstance},
    {&CLSID_VirtualObject, u"VOV.VirtualObject", u"VirtualObject Class", u"Free", &CVirtualObject::CreateInstance},
    {&CLSID_WaypointObject, u"VOV.WaypointObject", u"WaypointObject Class", u"Free", &CWaypointObject::CreateInstance},
    {&CLSID_WaypointUserObject, u"VOV.WaypointUserObject", u"WaypointUserObject Class", u"Free",
     &CWaypointUserObject::CreateInstance},
    {&CLSID_TalkingLightObject, u"VOV.TalkingLightObject", u"TalkingLightObject Class", u"Free",
     &CTalkingLightObject::CreateInstance},
    {&CLSID_DescriptionConfigurationObject, u"VOV.DescriptionConfigurationObject",
     u"DescriptionConfigurationObject Class", u"Free", &CDescriptionConfigurationObject::CreateInstance},
    {&CLSID_POIDescriptionConfigurationObject, u"VOV.POIDescriptionConfigurationObject",
     u"POIDescriptionConfigurationObject Class", u"Free", &CPOIDescriptionConfigurationObject::CreateInstance},
    {&CLSID_WaypointConfigurationObject, u"VOV.WaypointConfigurationObject", u"WaypointConfigurationObject Class",
     u"Free", &CWaypointConfigurationObject::CreateInstance},
    {&CLSID_GPSTimeObject, u"VOV.GPSTimeObject", u"GPSTimeObject Class", u"Free", &CGPSTimeObject::CreateInstance},
    {&CLSID_SystemSettingsObject, u"VOV.SystemSettingsObject", u"SystemSettingsObject Class", u"Free",
     &CSystemSettingsObject::CreateInstance},
    {&CLSID_GPSSettingsObject, u"VOV.GPSSettingsObject", u"GPSSettingsObject Class", u"Free",
     &CGPSSettingsObject::CreateInstance},
    {&CLSID_LookaroundSettingsObject, u"VOV.LookaroundSettingsObject", u"LookaroundSettingsObject Class", u"Free",
     &CLookaroundSettingsObject::CreateInstance},
    {&CLSID_RouteSettingsObject, u"VOV.RouteSettingsObject", u"RouteSettingsObject Class", u"Free",
     &CRouteSettingsObject::CreateInstance},
    {&CLSID_BluetoothDeviceObject, u"VOV.BluetoothDeviceObject", u"BluetoothDeviceObject Class", u"Free",
     &CBluetoothDeviceObject::CreateInstance},
};

}  // namespace

COM_SERVER_ENTRY_POINTS(kClassMap)
