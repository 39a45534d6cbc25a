#include "outside/dorvanta/Database.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <string_view>
#include <system_error>
#include <vector>

#include "typelib/VovLib.h"
#include "outside/dorvanta/POISearchInfo.h"
#include "platform/com/accessors.h"
#include "platform/com/owners.h"
#include "platform/com/variant_array.h"
#include "platform/os/device.h"
#include "platform/os/text.h"

namespace dorvanta {
namespace {

// The host file a caller's path names, spelt one way for every spelling.
std::string HostFile(std::u16string_view path) {
  return std::filesystem::path(platform::HostPath(path)).lexically_normal().string();
}

bool HasPdbExtension(const std::filesystem::path& file) {
  std::string extension = file.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
  return extension == ".pdb";
}

LONG ClampToLong(std::uint64_t value) {
  return static_cast<LONG>(std::min<std::uint64_t>(value, static_cast<std::uint64_t>(std::numeric_limits<LONG>::max())));
}

// A search info holding a record's key, categories and position.
HRESULT MakeSearchInfo(const PoiRecord& record, IDispatch** out) {
  *out = nullptr;
  CPOISearchInfo* info = nullptr;
  HRESULT hr = CPOISearchInfo::CreateObject(&info);
  if (FAILED(hr)) return hr;
  info->put_Key(record.key);
  info->put_Category(record.category);
  info->put_SubCategory(record.subcategory);
  info->put_Latitude(record.latitude);
  info->put_Longitude(record.longitude);
  *out = static_cast<IPOISearchInfo*>(info);
  return S_OK;
}

// The user's own points are category 18: subcategory 1 private, 2 public.
constexpr std::int16_t kUserPoiCategory = 18;
constexpr std::int16_t kUserPoiPrivate = 1;

// Puts one text of a record into a point-of-interest object's property.
HRESULT PutText(IPOIObject* poi, HRESULT (STDMETHODCALLTYPE IPOIObject::*put)(BSTR), std::u16string_view text) {
  com::Bstr value;
  if (!value.Assign(text)) return E_OUTOFMEMORY;
  return (poi->*put)(value);
}

HRESULT PutText(IPOIObject* poi, HRESULT (STDMETHODCALLTYPE IPOIObject::*put)(BSTR), const std::string& utf8) {
  return PutText(poi, put, std::u16string_view(platform::Utf8ToUtf16(utf8)));
}

// A new point-of-interest object of the engine holding `record`, read from
// the file the caller named `file`.
HRESULT MakePOIObject(const PoiRecord& record, std::u16string_view file, IDispatch** out) {
  *out = nullptr;
  IUnknown* unknown = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_POIObject, nullptr, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void**>(&unknown));
  if (FAILED(hr)) return hr;
  std::unique_ptr<IUnknown, com::Releaser> unknownOwner(unknown);
  if (FAILED(hr = OleRun(unknown))) return hr;
  IPOIObject* poi = nullptr;
  if (FAILED(hr = unknown->QueryInterface(IID_IPOIObject, reinterpret_cast<void**>(&poi)))) return hr;
  std::unique_ptr<IPOIObject, com::Releaser> owner(poi);

  const bool userPoint = record.category == kUserPoiCategory;
  const auto flag = [](bool value) { return static_cast<VARIANT_BOOL>(value ? VARIANT_TRUE : VARIANT_FALSE); };
  const HRESULT steps[] = {
      poi->SetKey(static_cast<LONG>(record.key)),
      PutText(poi, &IPOIObject::SetName, record.name),
      poi->SetLatitude(record.latitude),
      poi->SetLongitude(record.longitude),
      poi->SetCategoryNumber(record.category),
      poi->SetSubCategoryNumber(record.subcategory),
      PutText(poi, &IPOIObject::SetAddressNumber, record.houseNumber),
      PutText(poi, &IPOIObject::SetStreet, record.street),
      PutText(poi, &IPOIObject::SetCity, record.city),
      PutText(poi, &IPOIObject::SetZipCode, record.postalCode),
      PutText(poi, &IPOIObject::SetCountry, record.country),
      PutText(poi, &IPOIObject::SetPhoneNumber, record.phone),
      PutText(poi, &IPOIObject::SetPDBFile, file),
      poi->SetIsUserPOI(flag(userPoint)),
      poi->SetIsPrivate(flag(userPoint && record.subcategory == kUserPoiPrivate)),
  };
  for (HRESULT step : steps) {
    if (FAILED(step)) return step;
  }
  IDispatch* dispatch = nullptr;
  if (FAILED(hr = poi->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)))) return hr;
  *out = dispatch;
  return S_OK;
}

}  // namespace

void CDatabase::OpenFile(const std::string& hostPath) {
  if (files_.count(hostPath) != 0) return;
  std::unique_ptr<PoiStore> store;
  if (PoiStore::Open(hostPath, PoiStore::Access::kReadOnly, store) == DorvantaResult::kOk) {
    files_.emplace(hostPath, std::move(store));
  }
}

PoiStore* CDatabase::Find(BSTR file) {
  if (SysStringLen(file) == 0) return nullptr;
  auto found = files_.find(HostFile(com::BstrView(file)));
  return found == files_.end() ? nullptr : found->second.get();
}

HRESULT CDatabase::DbOpen(BSTR inFolderOrFile, LONG* outCount) {
  if (outCount == nullptr) return E_POINTER;
  *outCount = 0;
  return com::Guarded([&] {
    std::lock_guard<std::mutex> hold(lock_);
    if (SysStringLen(inFolderOrFile) != 0) {
      std::string path = HostFile(com::BstrView(inFolderOrFile));
      std::error_code error;
      if (std::filesystem::is_directory(path, error)) {
        std::vector<std::string> pdbFiles;
        for (std::filesystem::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
          std::error_code kindError;
          if (it->is_regular_file(kindError) && HasPdbExtension(it->path())) pdbFiles.push_back(it->path().string());
        }
        std::sort(pdbFiles.begin(), pdbFiles.end());
        for (const std::string& file : pdbFiles) OpenFile(file);
      } else {
        OpenFile(path);
      }
    }
    *outCount = static_cast<LONG>(files_.size());
    return S_OK;
  });
}

HRESULT CDatabase::DbGetRecordCount(BSTR inFile, LONG* outCount) {
  if (outCount == nullptr) return E_POINTER;
  *outCount = 0;
  return com::Guarded([&] {
    std::lock_guard<std::mutex> hold(lock_);
    std::uint64_t count = 0;
    if (PoiStore* store = Find(inFile); store != nullptr && store->Count(count) == DorvantaResult::kOk) {
      *outCount = ClampToLong(count);
    }
    return S_OK;
  });
}

HRESULT CDatabase::DbClose() {
  std::lock_guard<std::mutex> hold(lock_);
  files_.clear();
  return S_OK;
}

HRESULT CDatabase::DbPOIListSearchInfos(BSTR inFile, VARIANT* inOutList, VARIANT_BOOL* outFound) {
  if (inOutList == nullptr || outFound == nullptr) return E_POINTER;
  *outFound = VARIANT_FALSE;
  return com::Guarded([&] {
    std::vector<PoiRecord> records;
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (PoiStore* store = Find(inFile); store != nullptr) {
        DorvantaResult read = store->ForEach([&records](const PoiRecord& record) {
          records.push_back(record);
          return true;
        });
        // A file that fails part-way is answered as one without points
        // rather than with some of them.
        if (read != DorvantaResult::kOk) records.clear();
      }
    }

    // No points, no array: the list is only cleared. A list too long to
    // index with a LONG cannot be made.
    com::VariantArray array;
    if (!records.empty()) {
      HRESULT hr = array.Create(records.size());
      for (size_t i = 0; SUCCEEDED(hr) && i < records.size(); ++i) {
        IDispatch* info = nullptr;
        hr = MakeSearchInfo(records[i], &info);
        if (SUCCEEDED(hr)) {
          hr = array.PutObject(i, info);  // the array takes its own reference
          info->Release();
        }
      }
      if (FAILED(hr)) return hr;
    }

    // The list's old value is the caller's to give up: it is freed before the
    // new one goes in, and stays when it cannot be freed.
    if (HRESULT hr = VariantClear(inOutList); FAILED(hr)) return hr;
    if (array.MoveTo(inOutList)) *outFound = VARIANT_TRUE;
    return S_OK;
  });
}

HRESULT CDatabase::DbPOIAcceptFound(BSTR inFile, ULONG inKey, VARIANT_BOOL* outAccepted) {
  if (outAccepted == nullptr) return E_POINTER;
  *outAccepted = VARIANT_FALSE;
  return com::Guarded([&] {
    std::lock_guard<std::mutex> hold(lock_);
    PoiRecord record;
    if (PoiStore* store = Find(inFile); store != nullptr && store->Get(inKey, record) == DorvantaResult::kOk) {
      *outAccepted = VARIANT_TRUE;
    }
    return S_OK;
  });
}

HRESULT CDatabase::DbPOIGetRecord(BSTR inFile, ULONG inKey, IDispatch** outPOI, VARIANT_BOOL* outSuccess) {
  if (outPOI == nullptr || outSuccess == nullptr) return E_POINTER;
  *outPOI = nullptr;
  *outSuccess = VARIANT_FALSE;
  return com::Guarded([&] {
    PoiRecord record;
    {
      std::lock_guard<std::mutex> hold(lock_);
      PoiStore* store = Find(inFile);
      if (store == nullptr || store->Get(inKey, record) != DorvantaResult::kOk) return S_OK;
    }
    // The engine's object is made outside the lock: its server may call back.
    HRESULT hr = MakePOIObject(record, com::BstrView(inFile), outPOI);
    if (SUCCEEDED(hr)) *outSuccess = VARIANT_TRUE;
    return hr;
  });
}

}  // namespace dorvanta
