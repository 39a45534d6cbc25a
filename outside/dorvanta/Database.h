// The database server's database object. It keeps the database files it was
// asked to open, each a dorvanta::PoiStore, until it is closed, and answers
// the calls that name one of them. A file that is not open, is missing or was
// refused as damaged or foreign answers as a file without records: a zero
// count, a found flag that is false. Out pointers that are null answer
// E_POINTER; methods not offered yet answer E_NOTIMPL.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "typelib/DorvantaLib.h"
#include "outside/dorvanta/PoiStore.h"
#include "platform/com/atl.h"

namespace dorvanta {

class CDatabase final : public com::ComClass<CDatabase, IDatabase> {
 public:
  // A folder opens every file of it whose name ends in ".pdb" (any case);
  // any other path opens that one file. Files already open stay open; files
  // that cannot be opened are left out. The count is of all files open.
  HRESULT STDMETHODCALLTYPE DbOpen(BSTR inFolderOrFile, LONG* outCount) override;
  HRESULT STDMETHODCALLTYPE DbGetRecordCount(BSTR inFile, LONG* outCount) override;
  HRESULT STDMETHODCALLTYPE DbClose() override;
  HRESULT STDMETHODCALLTYPE DbPOIListSearchInfos(BSTR inFile, VARIANT* inOutList, VARIANT_BOOL* outFound) override;
  HRESULT STDMETHODCALLTYPE DbPOIAcceptFound(BSTR inFile, ULONG inKey, VARIANT_BOOL* outAccepted) override;
  // The record of a key as the navigation engine's point-of-interest object
  // (VOV.POIObject, created through the registry), carrying the key, name,
  // position, categories, address, phone and the file as the caller named
  // it; category 18 marks a user point, subcategory 1 a private one. A file
  // or key without a record answers S_OK with no object and the flag false;
  // an object that cannot be made or filled answers its failure.
  HRESULT STDMETHODCALLTYPE DbPOIGetRecord(BSTR inFile, ULONG inKey, IDispatch** outPOI,
                                           VARIANT_BOOL* outSuccess) override;

  HRESULT STDMETHODCALLTYPE DbPOIGetCategories(VARIANT*, LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DbPOIGetSubCategories(SHORT, VARIANT*, LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DbPOISetCachePages(SHORT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DbPOISetMemoryKB(SHORT) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DbGetNamesAndKeys(BSTR, BSTR, VARIANT*, VARIANT*, LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DbPOIGetMediaFile(BSTR, ULONG, BSTR, BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DbPOINextFreeKey(BSTR, LONG*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DbSetDebugFolder(BSTR) override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE Reserved9() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved11() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved12() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved13() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved14() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved15() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved16() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved17() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved19() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved20() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved21() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved22() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved23() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved26() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved29() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved31() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved33() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved34() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved35() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved36() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved37() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved38() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved40() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved43() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved44() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved45() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved46() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved47() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved48() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved49() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved50() override { return E_NOTIMPL; }

 private:
  friend class com::ComClass<CDatabase, IDatabase>;
  CDatabase() = default;
  ~CDatabase() override = default;

  // Opens one file read-only into files_ unless it is open already.
  void OpenFile(const std::string& hostPath);
  // The open store of a file the caller names; nullptr when it is not open.
  PoiStore* Find(BSTR file);

  std::mutex lock_;  // the class is free-threaded
  // Open files by host path: the phone's and the host's spelling of a path
  // name the same file.
  std::map<std::string, std::unique_ptr<PoiStore>> files_;
};

}  // namespace dorvanta
