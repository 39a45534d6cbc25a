#include "engine/core/LocationObject.h"

#include <utility>

#include "engine/core/ValueAccess.h"

using vov::detail::Flag;
using vov::detail::TextIn;
using vov::detail::TextOut;
using vov::detail::ValueOut;

// ---- CLocationObject ----------------------------------------------------------------

HRESULT CLocationObject::GetLatitudeHemisphere(LatitudeHemisphere*) { return E_NOTIMPL; }
HRESULT CLocationObject::SetLatitudeHemisphere(LatitudeHemisphere) { return E_NOTIMPL; }
HRESULT CLocationObject::GetLongitudeHemisphere(LongitudeHemisphere*) { return E_NOTIMPL; }
HRESULT CLocationObject::SetLongitudeHemisphere(LongitudeHemisphere) { return E_NOTIMPL; }
HRESULT CLocationObject::GetLatitudeDegrees(SHORT*) { return E_NOTIMPL; }
HRESULT CLocationObject::GetLatitudeMinutes(SHORT*) { return E_NOTIMPL; }
HRESULT CLocationObject::GetLatitudeSeconds(double*) { return E_NOTIMPL; }
HRESULT CLocationObject::SetLatitudeDegreesMinutesSeconds(SHORT, SHORT, double) { return E_NOTIMPL; }
HRESULT CLocationObject::GetLongitudeDegrees(SHORT*) { return E_NOTIMPL; }
HRESULT CLocationObject::GetLongitudeMinutes(SHORT*) { return E_NOTIMPL; }
HRESULT CLocationObject::GetLongitudeSeconds(double*) { return E_NOTIMPL; }
HRESULT CLocationObject::SetLongitudeDegreesMinutesSeconds(SHORT, SHORT, double) { return E_NOTIMPL; }
HRESULT CLocationObject::SetDescription(BSTR newVal) { return TextIn(m_bstrDescription, newVal); }
HRESULT CLocationObject::GetName(BSTR* pVal) { return TextOut(pVal, m_bstrName); }
HRESULT CLocationObject::SetName(BSTR newVal) { return TextIn(m_bstrName, newVal); }
HRESULT CLocationObject::GetDescription(BSTR* pVal) { return TextOut(pVal, m_bstrDescription); }
// Everything is read from the other object before anything here changes, so a
// failed read leaves this location as it was (and copying from itself works).
HRESULT CLocationObject::SetLocation(ILocationObject* other) {
  if (other == nullptr) return E_POINTER;
  BSTR description = nullptr;
  BSTR name = nullptr;
  double latitude = 0.0;
  double longitude = 0.0;
  HRESULT hr = other->GetDescription(&description);
  if (SUCCEEDED(hr)) hr = other->GetName(&name);
  if (SUCCEEDED(hr)) hr = other->GetLatitude(&latitude);
  if (SUCCEEDED(hr)) hr = other->GetLongitude(&longitude);
  com::Bstr ownedDescription;
  com::Bstr ownedName;
  ownedDescription.Reset(description);
  ownedName.Reset(name);
  if (FAILED(hr)) return hr;
  m_bstrDescription = std::move(ownedDescription);
  m_bstrName = std::move(ownedName);
  m_dLatitude = latitude;
  m_dLongitude = longitude;
  return S_OK;
}
HRESULT CLocationObject::SetLatitude(double newVal) {
  m_dLatitude = newVal;
  return S_OK;
}
HRESULT CLocationObject::SetLongitude(double newVal) {
  m_dLongitude = newVal;
  return S_OK;
}
// (0, 0) is the "no position" value. A valid location answers 1 rather than
// VARIANT_TRUE (-1): clients of the type library test for the value 1.
HRESULT CLocationObject::IsValid(VARIANT_BOOL* pVal) {
  return ValueOut(pVal, static_cast<VARIANT_BOOL>(m_dLatitude != 0.0 || m_dLongitude != 0.0 ? 1 : 0));
}
HRESULT CLocationObject::GetLocation(ILocationObject** pVal) {
  if (pVal == nullptr) return E_POINTER;
  *pVal = nullptr;
  CLocationObject* copy = nullptr;
  HRESULT hr = CreateObject(&copy);
  if (FAILED(hr)) return hr;
  hr = copy->SetLocation(this);
  if (FAILED(hr)) {
    copy->Release();
    return hr;
  }
  *pVal = copy;
  return S_OK;
}
HRESULT CLocationObject::GetLatitude(double* pVal) { return ValueOut(pVal, m_dLatitude); }
HRESULT CLocationObject::GetLongitude(double* pVal) { return ValueOut(pVal, m_dLongitude); }
HRESULT CLocationObject::GetBearing(HeadingType, ILocationObject*, BSTR*) { return E_NOTIMPL; }
HRESULT CLocationObject::GetRelativeHeading(SHORT, ILocationObject*, BSTR*) { return E_NOTIMPL; }
HRESULT CLocationObject::GetDistance(ILocationObject*, LONG*) { return E_NOTIMPL; }
HRESULT CLocationObject::GetBearingDegrees(ILocationObject*, SHORT*) { return E_NOTIMPL; }
HRESULT CLocationObject::GetDistanceDescription(ILocationObject*, BSTR*) { return E_NOTIMPL; }
HRESULT CLocationObject::GetDistanceAndHeading(SHORT, ILocationObject*, BSTR*) { return E_NOTIMPL; }
HRESULT CLocationObject::GetDistanceAndHeadingAndName(SHORT, ILocationObject*, IDescriptionConfigurationObject*,
                                                      BSTR*) {
  return E_NOTIMPL;
}

