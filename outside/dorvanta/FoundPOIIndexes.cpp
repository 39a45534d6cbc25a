#include "outside/dorvanta/FoundPOIIndexes.h"

#include <limits>

#include "platform/com/accessors.h"

namespace dorvanta {

HRESULT CFoundPOIIndexes::Add(BSTR inDatabaseFile, ULONG inKey) {
  return com::Guarded([&] {
    std::u16string file(com::BstrView(inDatabaseFile));
    std::lock_guard<std::mutex> hold(lock_);
    // The count is answered as a LONG; a list that could not be counted is full.
    if (entries_.size() >= static_cast<size_t>(std::numeric_limits<LONG>::max())) return E_OUTOFMEMORY;
    entries_.push_back(Entry{std::move(file), inKey});
    return S_OK;
  });
}

HRESULT CFoundPOIIndexes::Count(LONG* outCount) {
  std::lock_guard<std::mutex> hold(lock_);
  return com::ValueOut(outCount, entries_.size());
}

HRESULT CFoundPOIIndexes::Get(LONG inIndex, BSTR* outDatabaseFile, ULONG* outKey, SHORT* outFlag) {
  if (outDatabaseFile == nullptr || outKey == nullptr) return E_POINTER;
  std::lock_guard<std::mutex> hold(lock_);
  if (inIndex < 0 || static_cast<size_t>(inIndex) >= entries_.size()) return E_INVALIDARG;
  const Entry& entry = entries_[static_cast<size_t>(inIndex)];
  // The outs are written only once the copy is made.
  BSTR file = nullptr;
  if (HRESULT hr = com::TextOut(&file, entry.file); FAILED(hr)) return hr;
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
