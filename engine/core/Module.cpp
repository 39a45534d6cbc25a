// The navigation engine's server module: its class-object map and the four
// entry points through which COM creates, registers and unloads it.
#include "engine/core/LocationObject.h"
#include "engine/core/POIObjects.h"
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
};

}  // namespace

COM_SERVER_ENTRY_POINTS(kClassMap)
