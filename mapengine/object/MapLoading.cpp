// Map loading: Initalize chooses the map folder, creates the map reader and
// the point-of-interest reader in memory blocks of the configured size, opens
// every "*.rmf" of the folder into one of them and builds the word tables from
// the language library; CleanUp undoes it. Also the search of the loaded maps
// by name and the lookup of a map's number by its name.
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>

#include "mapengine/format/store/RmfReader.h"
#include "mapengine/object/CMap.h"
#include "platform/com/guard.h"
#include "platform/com/variant_array.h"
#include "platform/os/files.h"
#include "platform/os/format.h"
#include "platform/os/text.h"

namespace {

// The map-name table and the map-file list hold this many names; maps beyond
// it could not be named back, so they are not opened.
constexpr int kMapNameCapacity = 255;
// Longest path the map library is given, in bytes without the NUL.
constexpr std::size_t kMaxAnsiPath = 259;

std::u16string Lower(std::u16string_view text) { return LowerCaseText(text); }

// The names FindFirstFileW gives for `pattern`, in its order.
std::vector<std::u16string> ListFiles(const std::u16string& pattern) {
  std::vector<std::u16string> names;
  WIN32_FIND_DATAW data{};
  HANDLE first = FindFirstFileW(pattern.c_str(), &data);
  if (first == INVALID_HANDLE_VALUE) return names;
  const platform::FindOwner find(first);
  do {
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) names.emplace_back(data.cFileName);
  } while (FindNextFileW(find.get(), &data));
  return names;
}

}  // namespace

void ReaderCloser::operator()(RmfReader* reader) const noexcept { RmfReaderClose(reader); }

// ---- Initalize and CleanUp -----------------------------------------------------------

namespace {
constexpr std::u16string_view kUnableToInitialize = u"UNABLE TO INITIALIZE MAP ENGINE";
}  // namespace

HRESULT CMap::Initalize(BSTR mapDirectory, BSTR settingsDirectory, BSTR, VARIANT_BOOL inSearchOtherMapDirectories,
                        BSTR* pResult) {
  if (pResult != nullptr) *pResult = nullptr;
  return com::Guarded([&] {
    std::u16string result = InitalizeMaps(BstrView(mapDirectory), BstrView(settingsDirectory),
                                          inSearchOtherMapDirectories != VARIANT_FALSE);
    // An attempt that stopped before the readers were ready is taken up again
    // by the next call, over what it kept.
    m_bInitalizeUnfinished = result == kUnableToInitialize;
    if (pResult == nullptr) return S_OK;
    *pResult = SysAllocStringLen(result.data(), static_cast<UINT>(result.size()));
    return *pResult != nullptr ? S_OK : E_OUTOFMEMORY;
  });
}

std::u16string CMap::InitalizeMaps(std::u16string_view mapDirectory, std::u16string_view settingsDirectory,
                                   bool searchOtherFolders) {
  LogFormat(u"CMap::Initalize: %s %s", {mapDirectory, settingsDirectory});
  if (m_Rdr != nullptr && !m_bInitalizeUnfinished) {
    Log(u"Error already Initalized");
    return u"ALREADY INITIALIZED";
  }

  m_nMapsLoaded = 0;
  m_nPOIsLoaded = 0;
  m_nLoadedCountryMaps = m_nLoadedProvincialMaps = m_nLoadedStateMaps = m_nLoadedRegionalMaps = 0;
  m_nMapNumber = 0;
  m_POIFiles.clear();
  if (m_pMapNames == nullptr) m_pMapNames = std::make_unique<CKeyValueTable>(kMapNameCapacity);

  LogMemoryStatus(u"Memory percent free:%d, free memory:%d KBytes");

  if (m_pMapMemory == nullptr) {
    if (m_nMapMemoryBytes <= 0) m_nMapMemoryBytes = static_cast<std::int32_t>(m_nMapMemoryKB) * 1024;
    if (m_nMapMemoryBytes > 0) m_pMapMemory.reset(std::calloc(1, static_cast<std::size_t>(m_nMapMemoryBytes)));
    if (m_pMapMemory == nullptr) {
      Log(u"Error Memory MAP allocation failed.");
      return std::u16string(kUnableToInitialize);
    }
    m_nMapBlockBytes = m_nMapMemoryBytes;
  }
  // A reader kept by an unfinished attempt lives in the block: it is used
  // again, never replaced by a second one over the same memory.
  if (m_Rdr == nullptr) {
    m_Rdr.reset(RmfReaderCreateInArena(m_pMapMemory.get(), static_cast<std::uint32_t>(m_nMapBlockBytes)));
  }
  if (m_Rdr == nullptr) {
    Log(u"Error Zazo Doz did not Initalized: m_Rdr");
    return std::u16string(kUnableToInitialize);
  }

  const std::int32_t poiBytes = static_cast<std::int32_t>(m_nPOIMemoryKB) * 1024;
  if (m_pPOIMemory == nullptr) {
    if (poiBytes > 0) m_pPOIMemory.reset(std::calloc(1, static_cast<std::size_t>(poiBytes)));
    if (m_pPOIMemory == nullptr) {
      Log(u"Error Memory POI allocation failed. ");
      return std::u16string(kUnableToInitialize);
    }
    m_nPOIMemoryBytes = poiBytes;
  }
  if (m_RdrPOI == nullptr) {
    m_RdrPOI.reset(RmfReaderCreateInArena(m_pPOIMemory.get(), static_cast<std::uint32_t>(m_nPOIMemoryBytes)));
  }
  if (m_RdrPOI == nullptr) {
    Log(u"Error Zazo Doz did not Initalized: m_RdrPOI");
    return std::u16string(kUnableToInitialize);
  }

  m_MapContext.rdr = m_Rdr.get();
  std::u16string_view debugFolder = BstrView(m_DebugDirectory).substr(0, 255);
  debugFolder.copy(m_MapContext.debugDirectory, debugFolder.size());
  m_MapContext.debugDirectory[debugFolder.size()] = u'\0';
  LogMemoryStatus(u"After ZazoDoz Engine Initialized Memory percent free:%d, free memory:%d KBytes");

  if (RmfReaderSetMaxOpenFiles(m_Rdr.get(), MAX_NUMBER_MAPS_OPEN) != MAX_NUMBER_MAPS_OPEN) {
    Log(u"Error Zazo Doz did not Initalized MAX_NUMBER_MAPS_OPEN");
    return std::u16string(kUnableToInitialize);
  }
  if (RmfReaderSetMaxOpenFiles(m_RdrPOI.get(), MAX_NUMBER_POIS_OPEN) != MAX_NUMBER_POIS_OPEN) {
    Log(u"Error Zazo Doz did not Initalized MAX_NUMBER_POIS_OPEN");
    return std::u16string(kUnableToInitialize);
  }

  if (!FindMapDirectory(mapDirectory, searchOtherFolders)) {
    Log(u"Error No Maps Found in any map directory:");
    return u"NO MAPS FOUND";
  }
  std::u16string folder(BstrView(m_MapPath));
  std::vector<std::u16string> files = ListFiles(folder + u"*.rmf");
  if (files.empty()) {
    Log(u"Error No Maps Found After map directory was chosen?");
    return u"NO MAPS FOUND";
  }
  for (const std::u16string& name : files) LoadMap_POI(folder + name, name);

  BuildWordTables();

  if (m_nMapsLoaded == 0) {
    Log(u"Error No maps were found in any known map directory");
    return u"NO MAPS FOUND";
  }
  return u"OK";
}

// Nothing here can throw, so CleanUp needs no guard (and the destructor may
// call it).
HRESULT CMap::CleanUp() {
  // A route request running on another thread ends first: it uses the
  // reader. The request lock is held through the teardown, so that a request
  // arriving meanwhile waits and then finds no maps.
  m_RouteCancel.store(1);
  std::lock_guard<std::mutex> hold(m_RouteRequestLock);
  m_RouteCancel.store(0);
  // Initalize makes the map block before either reader or the POI block, and
  // only this function frees it: without a map reader or block no maps were
  // loaded. What may exist without them (the map-name table, the language
  // library and its word tables) stays, owned by its field.
  if (m_Rdr == nullptr && m_pMapMemory == nullptr) return S_OK;

  Log(u"\n\nCleanUp");
  // Each reader is closed before the block it lives in is freed.
  m_Rdr.reset();
  m_pMapMemory.reset();
  m_nMapBlockBytes = 0;
  m_RdrPOI.reset();
  m_pPOIMemory.reset();
  m_nPOIMemoryBytes = 0;
  m_MapContext.rdr = nullptr;
  m_pWPFeatureIds.clear();
  m_nWPFeatureIndex = -1;

  m_pMapNames.reset();
  m_MapFiles.Reset();
  m_nPOIsLoaded = 0;
  m_POIFiles.clear();
  UnRegisterAllUserPOIs();
  m_ReportedPOIKeys.clear();
  for (auto& table : m_pWordTables) table.reset();

  ClearDebugLogFlag();
  m_nMapsLoaded = 0;
  m_nMapMemoryBytes = 0;
  m_bInitalizeUnfinished = false;
  m_hResources.reset();
  return S_OK;
}

// ---- one file -------------------------------------------------------------------------------

namespace {

// The words after a refused file's error number in the log.
std::u16string OpenErrorCause(std::int32_t error) {
  switch (error) {
    case kRmfHeaderRejected:
      return u": the file is cut short or its header is damaged";
    case kRmfCannotOpen:
      return u": the file cannot be read";
    case kRmfNoMemory:
      return u": out of memory";
    default:
      return u"";
  }
}

}  // namespace

void CMap::LoadMap_POI(const std::u16string& fullPath, const std::u16string& fileName) {
  // The map library opens files by an 8-bit name in the phone's code page.
  std::string ansiPath = platform::Utf16ToCp1252(fullPath);
  if (ansiPath.size() > kMaxAnsiPath) {
    LogFormat(u"RmfReaderOpen failed: path too long: %s", {fullPath});
    return;
  }

  if (ContainsText(fileName, u"_POI_") || ContainsText(fileName, u"_poi_")) {
    LoadPOIFile(fullPath, fileName, ansiPath);
    return;
  }

  const int mapLimit = MAX_NUMBER_MAPS_OPEN < kMapNameCapacity ? MAX_NUMBER_MAPS_OPEN : kMapNameCapacity;
  if (m_nMapsLoaded >= mapLimit) {
    Log(u"RmfReaderOpen failed to load map: Reached max Map limit");
    LogFormat(u"    map not loaded: %s", {fileName});
    return;
  }
  std::int32_t opened = RmfReaderOpen(m_Rdr.get(), ansiPath.c_str(), 0);
  if (opened <= 0) {
    LogFormat(u"RmfReaderOpen failed to load map: %s (error %d%s)", {fileName, m_Rdr->lastError, OpenErrorCause(m_Rdr->lastError)});
    return;
  }
  ++m_nMapNumber;
  // Both tables have room for every map below the limit, so a refusal means
  // memory ran out: a map the engine cannot name back is not counted as loaded.
  if (!m_pMapNames->Add(fileName, platform::FormatW(u"%d", {m_nMapNumber}))) throw std::bad_alloc();
  if (m_MapFiles.Append(fileName) == 0) throw std::bad_alloc();
  ++m_nMapsLoaded;
  CountMapKind(fileName);
}

// A point-of-interest file is known by its file name without the extension,
// lower-cased; the points it holds carry that identifier before the comma of
// their name texts, which is how a found point leads back to its "*.pdb".
std::u16string CMap::POIFileIdentifier(std::u16string_view fileName) {
  std::u16string_view base = fileName.substr(0, fileName.rfind(u'.'));
  return Lower(base);
}

void CMap::LoadPOIFile(const std::u16string& fullPath, const std::u16string& fileName, const std::string& ansiPath) {
  std::u16string identifier = POIFileIdentifier(fileName);
  if (identifier.empty()) return;

  std::u16string cut = fullPath.substr(0, fullPath.rfind(u'.'));
  std::u16string companion = platform::FormatW(u"%s.pdb", {cut});
  if (!FileExists(companion)) {
    if (cut.size() == 7) return;
    std::u16string shorter = cut.size() > 7 ? cut.substr(0, cut.size() - 7) : std::u16string();
    companion = platform::FormatW(u"%s.pdb", {shorter});
    if (!FileExists(companion)) {
      LogFormat(u"Warning  CMap::LoadMap_POI File not found %s, POI not loaded.", {companion});
      return;
    }
  }

  const bool isPublic = ansiPath.find("_PUBLIC") != std::string::npos;
  if (!isPublic && m_nPOIsLoaded >= MAX_NUMBER_POIS_OPEN) {
    Log(u"RmfReaderOpen failed to load POI: Reached max POI limit.");
    return;
  }
  std::int32_t opened = RmfReaderOpen(m_RdrPOI.get(), ansiPath.c_str(), 0);
  if (opened <= 0) {
    LogFormat(u"RmfReaderOpen failed to load POI: %s (error %d%s)", {fileName, m_RdrPOI->lastError, OpenErrorCause(m_RdrPOI->lastError)});
    return;
  }
  if (!isPublic) ++m_nPOIsLoaded;
  m_POIFiles[identifier] = companion;
}

void CMap::CountMapKind(std::u16string_view fileName) {
  std::u16string name = Lower(fileName);
  std::u16string byDot = name.substr(0, name.rfind(u'.'));
  std::u16string byDash = name.substr(0, name.rfind(u'-'));
  std::u16string folder(BstrView(m_MapPath));
  struct Kind {
    const char16_t* suffix;
    std::int16_t CMap::*counter;
  };
  const Kind kinds[] = {{u".cou", &CMap::m_nLoadedCountryMaps},
                        {u".rgn", &CMap::m_nLoadedRegionalMaps},
                        {u".pro", &CMap::m_nLoadedProvincialMaps}};
  for (const Kind& kind : kinds) {
    if (FileExists(folder + byDot + kind.suffix) || FileExists(folder + byDash + kind.suffix)) {
      ++(this->*kind.counter);
      return;
    }
  }
  ++m_nLoadedStateMaps;
}

// ---- loaded maps by name --------------------------------------------------------------------

std::u16string CMap::NormaliseMapName(std::u16string_view fileName) {
  std::u16string name = Lower(fileName);
  std::size_t underscore = name.rfind(u'_');
  bool digitAfterUnderscore = false;
  for (std::size_t i = 0; i + 1 < name.size(); ++i)
    if (name[i] == u'_' && name[i + 1] >= u'0' && name[i + 1] <= u'9') digitAfterUnderscore = true;
  if (digitAfterUnderscore) return name.substr(0, underscore);
  std::size_t dash = name.rfind(u'-');
  if (dash != std::u16string::npos) return name.substr(0, dash);
  return name;
}

HRESULT CMap::FindMatchingMaps(BSTR searchString, VARIANT* pInOutListOfMatchingMaps) {
  if (pInOutListOfMatchingMaps == nullptr) return S_OK;
  VariantClear(pInOutListOfMatchingMaps);
  return com::Guarded([&] {
    std::vector<std::u16string> found;
    const std::u16string search = UpperCaseAsciiText(BstrView(searchString));
    if (m_pMapNames != nullptr) {
      for (const std::u16string& name : ListFiles(std::u16string(BstrView(m_MapPath)) + u"*.rmf")) {
        if (!m_pMapNames->Contains(name)) continue;
        std::u16string normal = UpperCaseAsciiText(NormaliseMapName(name));
        if (normal.compare(0, search.size(), search) != 0) continue;
        bool taken = false;
        for (const std::u16string& f : found) taken = taken || f == normal;
        if (!taken && found.size() < static_cast<std::size_t>(kMapNameCapacity)) found.push_back(normal);
      }
    }

    com::VariantArray list;
    HRESULT hr = list.Create(found.size());
    // A list with a name missing would pass for a list without that map, so
    // a failed name fails the whole list (and the array goes with `list`).
    for (std::size_t i = 0; SUCCEEDED(hr) && i < found.size(); ++i) hr = list.PutText(i, found[i]);
    if (FAILED(hr)) return hr;
    list.MoveTo(pInOutListOfMatchingMaps);
    return S_OK;
  });
}

int CMap::GetMapIndexByName(std::u16string_view mapName) const {
  if (m_pMapNames == nullptr) return 0;
  std::u16string_view number = m_pMapNames->LookupView(mapName);
  std::u16string withExtension;
  if (number.empty()) {
    withExtension = platform::FormatW(u"%s.rmf", {mapName});
    number = m_pMapNames->LookupView(withExtension);
  }
  int value = 0;
  for (char16_t c : number) {
    if (c < u'0' || c > u'9' || value > 100000) return 0;
    value = value * 10 + (c - u'0');
  }
  return value;
}
