// One user point as the map engine's point-of-interest search reads it: its
// key in its database file, its category and subcategory, and its position
// in signed decimal degrees. The database server fills one for each point of
// a stand-alone file; the navigation engine makes one for a point it adds.
#pragma once

#include <mutex>

#include "typelib/DorvantaLib.h"
#include "platform/com/atl.h"

namespace dorvanta {

class CPOISearchInfo final : public com::ComClass<CPOISearchInfo, IPOISearchInfo> {
 public:
  // Each get answers E_POINTER for a null pointer. A new info is all zero.
  HRESULT STDMETHODCALLTYPE get_Key(ULONG* pVal) override;
  HRESULT STDMETHODCALLTYPE put_Key(ULONG newVal) override;
  HRESULT STDMETHODCALLTYPE get_Category(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE put_Category(SHORT newVal) override;
  HRESULT STDMETHODCALLTYPE get_SubCategory(SHORT* pVal) override;
  HRESULT STDMETHODCALLTYPE put_SubCategory(SHORT newVal) override;
  HRESULT STDMETHODCALLTYPE get_Latitude(double* pVal) override;
  HRESULT STDMETHODCALLTYPE put_Latitude(double newVal) override;
  HRESULT STDMETHODCALLTYPE get_Longitude(double* pVal) override;
  HRESULT STDMETHODCALLTYPE put_Longitude(double newVal) override;

 private:
  friend class com::ComClass<CPOISearchInfo, IPOISearchInfo>;
  CPOISearchInfo() = default;
  ~CPOISearchInfo() override = default;

  template <class T>
  HRESULT Read(const T& field, T* out);
  template <class T>
  HRESULT Write(T& field, T value);

  std::mutex lock_;  // the class is free-threaded
  ULONG key_ = 0;
  SHORT category_ = 0;
  SHORT subCategory_ = 0;
  double latitude_ = 0;
  double longitude_ = 0;
};

}  // namespace dorvanta
