// The map engine's server module: its class-object map and the four entry
// points through which COM creates, registers and unloads it.
#include "mapengine/object/CMap.h"
#include "mapengine/object/ResultObjects.h"
#include "platform/com/atl.h"

namespace {

const com::ClassEntry kClassMap[] = {
    {&CLSID_Map, u"Cartovel.Map", u"Map Class", u"Free", &CMap::CreateInstance},
    {&CLSID_WayPoint, u"Cartovel.WayPoint", u"WayPoint Class", u"Free", &CWayPoint::CreateInstance},
    {&CLSID_CrossStreet, u"Cartovel.CrossStreet", u"CrossStreet Class", u"Free", &CCrossStreet::CreateInstance},
    {&CLSID_LocationDetails, u"Cartovel.LocationDetails", u"LocationDetails Class", u"Free",
     &CLocationDetails::CreateInstance},
    {&CLSID_AddressDetails, u"Cartovel.AddressDetails", u"AddressDetails Class", u"Free",
     &CAddressDetails::CreateInstance},
};

}  // namespace

COM_SERVER_ENTRY_POINTS(kClassMap)
