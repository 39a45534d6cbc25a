#include "outside/dorvanta/FoundPOIIndexes.h"

#include <limits>

namespace dorvanta {

HRESULT CFoundPOIIndexes::Add(BSTR inDatabaseFile, ULONG inKey) {
  return com::Guarded([&] {
    std::u16string file(inDatabaseFile == nullptr ? u"" : inDatabaseFile, SysStringLen(inDatabaseFile));
    std::lock_guard<std::mutex> hold(lock_);
    // The count is answered as a LONG; a list that could not be counted is full.
    if (entries_.size() >= static_cast<size_t>(std::numeric_limits<LONG>::max())) return E_OUTOFMEMORY;
    entries_.push_back(Entry{std::move(file), inKey});
    return S_OK;
  });
}

HRESULT CFoundPOIIndexes::Count(LONG* outCount) {
  if (outCount == nullptr) return E_POINTER;
  std::lock_guard<std::mutex> hold(lock_);
  *outCount = static_cast<LONG>(entries_.size());
  return S_OK;
}

HRESULT CFoundPOIIndexes::Get(LONG inIndex, BSTR* outDatabaseFile, ULONG* outKey, SHORT* outFlag) {
  if (outDatabaseFile == nullptr || outKey == nullptr) return E_POINTER;
  std::lock_guard<std::mutex> hold(lock_);
  if (inIndex < 0 || static_cast<size_t>(inIndex) >= entries_.size()) return E_INVALIDARG;
  const Entry& entry = entries_[static_cast<size_t>(inIndex)];
  BSTR file = SysAllocStringLen(entry.file.data(), static_cast<UINT>(entry.file.size()));
  if (file == nullptr) return E_OUTOFMEMORY;
  *outDatabaseFile = file;
  *outKey = entry.key;
  if (outFlag != nullptr) *outFlag = 0;
  return S_OK;
}

HRESULT CFoundPOIIndexes::Clear() {
  std::lock_guard<std::mutex> hold(lock_);
  entries_.clear();
  return S_OK;
}

}  // namespace dorvanta
