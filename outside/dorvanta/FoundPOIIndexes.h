// The database server's list of found points: an ordered list of entries, each
// a database file name and a 32-bit key. The map engine's point-of-interest
// search adds what it finds; the navigation engine counts the entries, reads
// them back by position and clears the list for the next search.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "typelib/DorvantaLib.h"
#include "platform/com/atl.h"

namespace dorvanta {

class CFoundPOIIndexes final : public com::ComClass<CFoundPOIIndexes, IFoundPOIIndexes> {
 public:
  // A null file name is the empty text.
  HRESULT STDMETHODCALLTYPE Add(BSTR inDatabaseFile, ULONG inKey) override;
  HRESULT STDMETHODCALLTYPE Reserved8() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved9() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Count(LONG* outCount) override;
  // E_POINTER for a null file or key pointer (the flag pointer may be null);
  // E_INVALIDARG, with every output untouched, for an index outside the list.
  // The flag is always 0.
  HRESULT STDMETHODCALLTYPE Get(LONG inIndex, BSTR* outDatabaseFile, ULONG* outKey, SHORT* outFlag) override;
  HRESULT STDMETHODCALLTYPE Clear() override;

 private:
  friend class com::ComClass<CFoundPOIIndexes, IFoundPOIIndexes>;
  CFoundPOIIndexes() = default;
  ~CFoundPOIIndexes() override = default;

  struct Entry {
    std::u16string file;
    ULONG key = 0;
  };
  std::mutex lock_;  // the class is free-threaded
  std::vector<Entry> entries_;
};

}  // namespace dorvanta
