// The language library: the module the map engine reads its numbered texts
// from (SetResources), and the five word tables built from its "key,value"
// texts when a library is loaded and after the maps are.
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "mapengine/object/CMap.h"
#include "platform/com/guard.h"
#include "platform/os/module.h"
#include "platform/os/resource.h"

namespace {

// The string ids of the five word tables, each list ending in 0.
const UINT kWordTable1[] = {23007, 23008, 23009, 23010, 23012, 23011, 23013, 23014, 23015, 23016, 23017, 0};
const UINT kWordTable2[] = {23018, 23019, 23020, 23021, 23022, 23023, 23024,
                            23025, 23026, 23027, 23028, 23029, 23030, 0};
const UINT kWordTable4[] = {25001, 25000, 25002, 25003, 25004, 25005, 25006, 25007, 25008, 25009, 25010, 25011, 0};
const UINT kWordTable5[] = {23031, 23032, 23033, 23034, 0};

std::vector<UINT> StateNameIds() {
  std::vector<UINT> ids;
  for (UINT id = 23035; id <= 23093; ++id) ids.push_back(id);
  for (UINT id = 24000; id <= 24012; ++id) ids.push_back(id);
  ids.push_back(0);
  return ids;
}

// A word table keeps at most this much of a key and of a value.
constexpr std::size_t kMaxKeyLength = 19;
constexpr std::size_t kMaxValueLength = 99;

}  // namespace

std::u16string CMap::LoadResourceString(UINT id) const { return platform::LoadStringResource(m_hResources.get(), id); }

std::unique_ptr<CKeyValueTable> CMap::BuildWordTable(const UINT* ids) const {
  int count = 0;
  while (ids[count] != 0) ++count;
  auto table = std::make_unique<CKeyValueTable>(count);
  for (int i = 0; i < count; ++i) {
    std::u16string text = LoadResourceString(ids[i]);
    if (text.empty()) continue;
    std::size_t comma = text.find(u',');
    if (comma == std::u16string::npos) return std::make_unique<CKeyValueTable>(0);
    std::u16string_view key = std::u16string_view(text).substr(0, comma).substr(0, kMaxKeyLength);
    std::u16string_view value = std::u16string_view(text).substr(comma + 1).substr(0, kMaxValueLength);
    // The table has a slot for every id: a refusal means memory ran out.
    if (!table->Add(key, value)) throw std::bad_alloc();
  }
  return table;
}

void CMap::BuildWordTables() {
  const std::vector<UINT> stateIds = StateNameIds();
  const UINT* lists[5] = {kWordTable1, kWordTable2, stateIds.data(), kWordTable4, kWordTable5};
  std::unique_ptr<CKeyValueTable> built[5];
  for (int slot = 0; slot < 5; ++slot) built[slot] = BuildWordTable(lists[slot]);
  for (int slot = 0; slot < 5; ++slot) m_pWordTables[slot] = std::move(built[slot]);
}

HRESULT CMap::SetResources(BSTR inResourcesToLoad, VARIANT_BOOL* outResourceLoaded) {
  if (outResourceLoaded != nullptr) *outResourceLoaded = VARIANT_FALSE;
  return com::Guarded([&] {
    bool loaded = LoadResourceLibrary(BstrView(inResourcesToLoad));
    if (outResourceLoaded != nullptr) *outResourceLoaded = loaded ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  });
}

bool CMap::LoadResourceLibrary(std::u16string_view path) {
  m_hResources.reset();
  std::u16string name(path);
  if (!name.empty()) m_hResources.reset(LoadLibraryW(name.c_str()));
  if (m_hResources == nullptr) {
    LogFormat(u"CMap::SetResources: language library not loaded: %s", {name});
    return false;
  }
  try {
    BuildWordTables();
  } catch (...) {
    // Tables that cannot be built leave things as a library that cannot be
    // loaded does: no library, the tables of the last one.
    m_hResources.reset();
    throw;
  }
  return true;
}
