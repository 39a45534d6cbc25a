// The database server's module: its class-object map and the four entry
// points through which COM creates, registers and unloads it.
#include "outside/dorvanta/Database.h"
#include "outside/dorvanta/FoundPOIIndexes.h"
#include "outside/dorvanta/POISearchInfo.h"
#include "platform/com/atl.h"

namespace {

const com::ClassEntry kClassMap[] = {
    {&CLSID_Database, u"Dorvanta.Database", u"Database Class", u"Free", &dorvanta::CDatabase::CreateInstance},
    {&CLSID_FoundPOIIndexes, u"Dorvanta.FoundPOIIndexes", u"FoundPOIIndexes Class", u"Free",
     &dorvanta::CFoundPOIIndexes::CreateInstance},
    {&CLSID_POISearchInfo, u"Dorvanta.POISearchInfo", u"POISearchInfo Class", u"Free",
     &dorvanta::CPOISearchInfo::CreateInstance},
};

}  // namespace

COM_SERVER_ENTRY_POINTS(kClassMap)
