#include "outside/dorvanta/POISearchInfo.h"

#include "platform/com/accessors.h"

namespace dorvanta {

template <class T>
HRESULT CPOISearchInfo::Read(const T& field, T* out) {
  std::lock_guard<std::mutex> hold(lock_);
  return com::ValueOut(out, field);
}

template <class T>
HRESULT CPOISearchInfo::Write(T& field, T value) {
  std::lock_guard<std::mutex> hold(lock_);
  field = value;
  return S_OK;
}

HRESULT CPOISearchInfo::get_Key(ULONG* pVal) { return Read(key_, pVal); }
HRESULT CPOISearchInfo::put_Key(ULONG newVal) { return Write(key_, newVal); }
HRESULT CPOISearchInfo::get_Category(SHORT* pVal) { return Read(category_, pVal); }
HRESULT CPOISearchInfo::put_Category(SHORT newVal) { return Write(category_, newVal); }
HRESULT CPOISearchInfo::get_SubCategory(SHORT* pVal) { return Read(subCategory_, pVal); }
HRESULT CPOISearchInfo::put_SubCategory(SHORT newVal) { return Write(subCategory_, newVal); }
HRESULT CPOISearchInfo::get_Latitude(double* pVal) { return Read(latitude_, pVal); }
HRESULT CPOISearchInfo::put_Latitude(double newVal) { return Write(latitude_, newVal); }
HRESULT CPOISearchInfo::get_Longitude(double* pVal) { return Read(longitude_, pVal); }
HRESULT CPOISearchInfo::put_Longitude(double newVal) { return Write(longitude_, newVal); }

}  // namespace dorvanta
