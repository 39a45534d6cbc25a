// The user point-of-interest registry: the user's own points, registered by
// database file as search infos of the database server, for the
// point-of-interest search to scan beside the map's points.
//
// Reference rule: the registry holds one reference per stored slot and gives
// it back when the slot goes. Infos are released only after the registry has
// reached its new state, so an info whose last release calls back into the
// engine finds a registry that is whole.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "mapengine/object/CMap.h"
#include "platform/com/guard.h"
#include "platform/com/variant_array.h"

namespace {

using InfoOwner = std::unique_ptr<IPOISearchInfo, com::Releaser>;

// The search-info interface of `object`, or an empty owner when it has none.
InfoOwner QuerySearchInfo(IUnknown* object) {
  IPOISearchInfo* info = nullptr;
  if (object == nullptr || FAILED(object->QueryInterface(IidOf<IPOISearchInfo>(), reinterpret_cast<void**>(&info))) ||
      info == nullptr) {
    return InfoOwner();
  }
  return InfoOwner(info);
}

// Gives back the references of `infos` in list order.
void ReleaseInOrder(CMap::UserPOIList& infos) noexcept {
  for (auto& info : infos) info.reset();
}

std::u16string FileKey(BSTR file) { return std::u16string(BstrView(file)); }

}  // namespace

bool CMap::ReadPOISearchInfoList(const VARIANT* list, UserPOIList* infos) {
  // A list is an array of variants and nothing else: an array of another
  // element type would be read as variants it does not hold.
  com::VariantArrayView view;
  if (FAILED(view.Open(list))) return false;
  if (view.lower() == -1) return false;

  for (std::size_t at = 0; at < view.size(); ++at) {
    IPOISearchInfo* info = nullptr;
    if (FAILED(view.ObjectAt(at, &info))) return false;
    InfoOwner owner(info);  // given back if the list cannot grow
    infos->push_back(std::move(owner));
  }
  return true;
}

HRESULT CMap::ReadPOIKeys(const UserPOIList& infos, std::vector<ULONG>* keys) {
  keys->reserve(infos.size());
  for (const auto& info : infos) {
    ULONG key = 0;
    const HRESULT hr = info->get_Key(&key);
    if (FAILED(hr)) return hr;
    keys->push_back(key);
  }
  return S_OK;
}

HRESULT CMap::UnRegisterAllUserPOIs() {
  std::map<std::u16string, UserPOIList> released = std::move(m_UserPOIRegistry);
  m_UserPOIRegistry.clear();
  for (auto& entry : released) ReleaseInOrder(entry.second);
  return S_OK;
}

HRESULT CMap::UnRegisterUserPOI(BSTR inPOIPdbFile) {
  return com::Guarded([&] {
    auto entry = m_UserPOIRegistry.find(FileKey(inPOIPdbFile));
    if (entry == m_UserPOIRegistry.end()) return S_OK;
    UserPOIList released = std::move(entry->second);
    m_UserPOIRegistry.erase(entry);
    ReleaseInOrder(released);
    return S_OK;
  });
}

HRESULT CMap::RegisterUserPOIs(BSTR inPOIPdbFile, VARIANT* inPOISearchInfoList, VARIANT_BOOL* outSuccessful) {
  if (outSuccessful == nullptr) return E_POINTER;
  *outSuccessful = VARIANT_FALSE;
  return com::Guarded([&] {
    std::u16string file = FileKey(inPOIPdbFile);
    // The file's old list goes whatever the new one turns out to be: a bad
    // list leaves the file unregistered.
    if (auto entry = m_UserPOIRegistry.find(file); entry != m_UserPOIRegistry.end()) {
      UserPOIList released = std::move(entry->second);
      m_UserPOIRegistry.erase(entry);
      ReleaseInOrder(released);
    }
    UserPOIList infos;
    if (!ReadPOISearchInfoList(inPOISearchInfoList, &infos)) return S_OK;
    m_UserPOIRegistry.emplace(std::move(file), std::move(infos));
    *outSuccessful = VARIANT_TRUE;
    return S_OK;
  });
}

HRESULT CMap::RegisterUserPOI(BSTR inPOIPdbFile, IUnknown* inPOISearchInfo, VARIANT_BOOL* outSuccessful) {
  if (outSuccessful == nullptr) return E_POINTER;
  *outSuccessful = VARIANT_FALSE;
  if (inPOISearchInfo == nullptr) return E_POINTER;
  return com::Guarded([&] {
    InfoOwner info = QuerySearchInfo(inPOISearchInfo);
    if (!info) return S_OK;  // not a search info: nothing to register
    std::u16string file = FileKey(inPOIPdbFile);
    if (auto entry = m_UserPOIRegistry.find(file); entry != m_UserPOIRegistry.end()) {
      entry->second.push_back(std::move(info));
    } else {
      UserPOIList infos;
      infos.push_back(std::move(info));
      m_UserPOIRegistry.emplace(std::move(file), std::move(infos));
    }
    *outSuccessful = VARIANT_TRUE;
    return S_OK;
  });
}

HRESULT CMap::DeleteRegistrationUserPOI(BSTR inPOIPdbFile, LONG inPOIKey) {
  return com::Guarded([&] {
    auto entry = m_UserPOIRegistry.find(FileKey(inPOIPdbFile));
    if (entry == m_UserPOIRegistry.end()) return S_OK;
    UserPOIList& infos = entry->second;
    // Every key is read before anything changes: a failed query leaves the
    // list as it was and answers its error.
    std::vector<ULONG> keys;
    if (const HRESULT hr = ReadPOIKeys(infos, &keys); FAILED(hr)) return hr;
    // Keys are unsigned; the caller passes them in a signed argument.
    const ULONG key = static_cast<ULONG>(inPOIKey);
    UserPOIList kept;
    UserPOIList released;
    kept.reserve(infos.size());
    released.reserve(infos.size());
    for (std::size_t i = 0; i < infos.size(); ++i) {
      (keys[i] == key ? released : kept).push_back(std::move(infos[i]));
    }
    infos = std::move(kept);  // the file stays registered, even with no info left
    ReleaseInOrder(released);
    return S_OK;
  });
}

HRESULT CMap::UpdateRegistrationUserPOI(BSTR inPOIPdbFile, IUnknown* inPOISearchInfo, VARIANT_BOOL* outSuccessful) {
  if (outSuccessful == nullptr) return E_POINTER;
  *outSuccessful = VARIANT_FALSE;
  if (inPOISearchInfo == nullptr) return E_POINTER;
  return com::Guarded([&] {
    auto entry = m_UserPOIRegistry.find(FileKey(inPOIPdbFile));
    if (entry == m_UserPOIRegistry.end()) return RegisterUserPOI(inPOIPdbFile, inPOISearchInfo, outSuccessful);
    InfoOwner fresh = QuerySearchInfo(inPOISearchInfo);
    if (!fresh) return S_OK;  // not a search info: nothing changes
    ULONG freshKey = 0;
    if (const HRESULT hr = fresh->get_Key(&freshKey); FAILED(hr)) return hr;
    UserPOIList& infos = entry->second;
    std::vector<ULONG> keys;
    if (const HRESULT hr = ReadPOIKeys(infos, &keys); FAILED(hr)) return hr;

    // The new info takes every slot of its key, with a reference for each;
    // the infos it displaces are given back, as the registry no longer holds
    // them.
    UserPOIList released;
    released.reserve(infos.size());
    for (std::size_t i = 0; i < infos.size(); ++i) {
      if (keys[i] != freshKey) continue;
      released.push_back(std::move(infos[i]));
      fresh->AddRef();
      infos[i].reset(fresh.get());
    }
    ReleaseInOrder(released);
    *outSuccessful = VARIANT_TRUE;
    return S_OK;
  });
}
