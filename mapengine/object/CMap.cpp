// CMap construction, lifetime, the settings operations and the small
// map-folder and load-count properties. Every other operation has the file of
// its own job: map loading in MapLoading.cpp, the map folder search in
// MapFolder.cpp, the language library in LanguageLibrary.cpp, street names in
// StreetNames.cpp, and so on.
#include "mapengine/object/CMap.h"

#include <new>

#include "mapengine/object/InputChecks.h"
#include "platform/com/accessors.h"
#include "platform/com/guard.h"

CMap::CMap() {
  Log(u"Constructed VOV");
  ClearVariables();
}

// Every field owns what it holds; CleanUp is called for its order only: it
// closes the readers before the memory blocks they live in are freed.
CMap::~CMap() { CleanUp(); }

// ---- settings ------------------------------------------------------------------

HRESULT CMap::ClearVariables() {
  m_nMapsLoaded = 0;
  m_nMapNumber = 0;
  m_nPOIsLoaded = 0;
  m_nMapMemoryBytes = 0;
  m_nLoadedCountryMaps = 0;
  m_nLoadedProvincialMaps = 0;
  m_nLoadedStateMaps = 0;
  m_nLoadedRegionalMaps = 0;
  m_bStreetDetailed = 0;
  FindRouteInitialHeading = -1;
  m_NextIntersectionCache = NextIntersectionCache::Empty();
  m_nMapMemoryKB = 2000;
  m_nPOIMemoryKB = 768;
  // A null BSTR is the empty text: emptying needs no memory and cannot fail.
  m_BaseMapPath.Reset();
  m_DebugDirectory.Reset();
  return S_OK;
}

HRESULT CMap::SetNumberMaxMaps(SHORT inMaxNumberOfMapsAllowed) {
  return com::ValueIn(MAX_NUMBER_MAPS_OPEN, inMaxNumberOfMapsAllowed);
}

HRESULT CMap::SetNumberMaxCommercialPOIFiles(SHORT inMaxNumberOfCommercialPOIFilesAllowed) {
  return com::ValueIn(MAX_NUMBER_POIS_OPEN, inMaxNumberOfCommercialPOIFilesAllowed);
}

HRESULT CMap::SetMapMemoryAllocated(SHORT inMemoryToUseInKB) { return com::ValueIn(m_nMapMemoryKB, inMemoryToUseInKB); }

HRESULT CMap::SetPOIMemoryAllocatedRME(SHORT inMemoryToUseInKB) {
  return com::ValueIn(m_nPOIMemoryKB, inMemoryToUseInKB);
}

HRESULT CMap::SetDebugDirectory(BSTR inDebugDirectory) {
  return m_DebugDirectory.Assign(BstrView(inDebugDirectory)) ? S_OK : E_OUTOFMEMORY;
}

HRESULT CMap::UsingWinCE42(VARIANT_BOOL inUsingWinCE42) {
  m_bUsingWinCE42 = inUsingWinCE42 != 0 ? 1 : 0;
  return S_OK;
}

HRESULT CMap::SetRouteWaypointMode(INT inWaypointMode) { return com::ValueIn(m_nRouteWaypointMode, inWaypointMode); }

HRESULT CMap::put_FindRouteInitialHeading(LONG newVal) {
  return com::ValueIn(FindRouteInitialHeading, ReduceHeading(newVal));
}

// ---- map folder and load counts ------------------------------------------------

void CMap::SetMapDirectory(const char16_t* base, const char16_t* folder) {
  std::u16string path = base != nullptr ? base : u"";
  if (!path.empty() && path.back() == u'\\') path.pop_back();
  if (folder != nullptr) path += folder;
  if (path.empty() || (path.back() != u'\\' && path.back() != u'/')) path += u'\\';
  if (!m_MapPath.Assign(path)) throw std::bad_alloc();
}

HRESULT CMap::get_MapPath(BSTR* pVal) { return com::TextOut(pVal, m_MapPath); }

HRESULT CMap::put_MapPath(BSTR newVal) {
  if (SysStringLen(newVal) == 0) return S_OK;
  return com::Guarded([&] {
    SetMapDirectory(m_BaseMapPath, newVal);
    return S_OK;
  });
}

HRESULT CMap::SetBaseMapPath(BSTR baseMapPath) {
  return m_BaseMapPath.Assign(BstrView(baseMapPath)) ? S_OK : E_OUTOFMEMORY;
}

HRESULT CMap::NumberOfMapsLoaded(SHORT* pVal) { return com::ValueOut(pVal, m_nMapsLoaded); }

HRESULT CMap::NumberOfPOIsLoaded(LONG* outCommercialPOIsLoaded) {
  return com::ValueOut(outCommercialPOIsLoaded, m_nPOIsLoaded);
}

HRESULT CMap::LoadedCountryMaps(SHORT* outLoadedCountryMaps) {
  return com::ValueOut(outLoadedCountryMaps, m_nLoadedCountryMaps);
}

HRESULT CMap::LoadedProvincialMaps(SHORT* outLoadedProvincialMaps) {
  return com::ValueOut(outLoadedProvincialMaps, m_nLoadedProvincialMaps);
}

HRESULT CMap::LoadedStateMaps(SHORT* outLoadedStateMaps) {
  return com::ValueOut(outLoadedStateMaps, m_nLoadedStateMaps);
}

HRESULT CMap::LoadedRegionalMaps(SHORT* outLoadedRegionalMaps) {
  return com::ValueOut(outLoadedRegionalMaps, m_nLoadedRegionalMaps);
}

// ---- operations that need open maps -------------------------------------------------
