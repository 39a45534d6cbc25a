// A point-of-interest search configuration whose fields a test or a
// benchmark sets directly (the navigation engine's own object gets its
// setters with the engine): shared by the search tests and the benchmark.
#pragma once

#include <string>

#include "engine/core/VovLib.h"
#include "platform/com/atl.h"

// A search configuration whose fields the test sets.
class TestSearchConfig : public com::ComClass<TestSearchConfig, IPOISearchConfigurationObject> {
 public:
  LONG maxResults = 25;
  SHORT maxTime = 10;
  SHORT category = 0;
  SHORT subcategory = 0;
  bool privateOnly = false;
  bool publicOnly = false;
  bool includePrivate = false;
  double distanceStarting = -1.0;
  SHORT heading = -1;
  int direction = 0;  // Directions: 0 all, 1 north, 2 east, 3 south, 4 west, 5 ahead, 6 right, 7 behind, 8 left
  std::u16string text;

  HRESULT STDMETHODCALLTYPE GetMaxSearchResults(LONG* pVal) override { return Out(pVal, maxResults); }
  HRESULT STDMETHODCALLTYPE SetMaxSearchResults(LONG newVal) override {
    maxResults = newVal;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Reserved9() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved10() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved11() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved12() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved13() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved14() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetCategoryNumber(SHORT* pVal) override { return Out(pVal, category); }
  HRESULT STDMETHODCALLTYPE GetSubCategoryNumber(SHORT* pVal) override { return Out(pVal, subcategory); }
  HRESULT STDMETHODCALLTYPE SetCategoryNumber(SHORT newVal) override {
    category = newVal;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSubCategoryNumber(SHORT newVal) override {
    subcategory = newVal;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetMaxSearchTime(SHORT* pVal) override { return Out(pVal, maxTime); }
  HRESULT STDMETHODCALLTYPE SetMaxSearchTime(SHORT newVal) override {
    maxTime = newVal;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetUserPrivateOnly(VARIANT_BOOL newVal) override {
    privateOnly = newVal != 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetUserPrivateOnly(VARIANT_BOOL* pVal) override {
    return Out(pVal, static_cast<VARIANT_BOOL>(privateOnly ? VARIANT_TRUE : VARIANT_FALSE));
  }
  HRESULT STDMETHODCALLTYPE SetUserPublicOnly(VARIANT_BOOL newVal) override {
    publicOnly = newVal != 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetUserPublicOnly(VARIANT_BOOL* pVal) override {
    return Out(pVal, static_cast<VARIANT_BOOL>(publicOnly ? VARIANT_TRUE : VARIANT_FALSE));
  }
  HRESULT STDMETHODCALLTYPE Reserved25() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved26() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved27() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reserved28() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetDistanceStarting(double newVal) override {
    distanceStarting = newVal;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDistanceStarting(double* pVal) override { return Out(pVal, distanceStarting); }
  HRESULT STDMETHODCALLTYPE SetCurrentHeadingDegrees(SHORT newVal) override {
    heading = newVal;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetCurrentHeadingDegrees(SHORT* pVal) override { return Out(pVal, heading); }
  HRESULT STDMETHODCALLTYPE SetSearchDirection(Directions newVal) override {
    direction = newVal;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetSearchDirection(Directions* pVal) override {
    return Out(pVal, static_cast<Directions>(direction));
  }
  HRESULT STDMETHODCALLTYPE SetIncludeUserPrivateAsWell(VARIANT_BOOL newVal) override {
    includePrivate = newVal != 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IncludeUserPrivateAsWell(VARIANT_BOOL* pVal) override {
    return Out(pVal, static_cast<VARIANT_BOOL>(includePrivate ? VARIANT_TRUE : VARIANT_FALSE));
  }
  HRESULT STDMETHODCALLTYPE GetMainSearchString(BSTR* pVal) override {
    if (pVal == nullptr) return E_POINTER;
    *pVal = text.empty() ? nullptr : SysAllocString(text.c_str());
    return S_OK;
  }

 private:
  template <class V>
  static HRESULT Out(V* out, V value) {
    if (out == nullptr) return E_POINTER;
    *out = value;
    return S_OK;
  }
};
