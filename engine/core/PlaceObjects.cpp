#include "engine/core/PlaceObjects.h"

#include <charconv>
#include <cstdlib>
#include <string>

#include "engine/core/Utility.h"
#include "platform/com/accessors.h"
#include "platform/com/guard.h"

using com::TextIn;
using com::TextOut;
using com::ValueOut;

// ---- CWhereAmIObject --------------------------------------------------------------------

HRESULT CWhereAmIObject::GetCity(BSTR* pVal) { return TextOut(pVal, m_fields.city); }
HRESULT CWhereAmIObject::GetStreetName(BSTR* pVal) { return TextOut(pVal, m_fields.streetName); }
HRESULT CWhereAmIObject::GetStreetNameShort(BSTR* pVal) { return TextOut(pVal, m_fields.streetNameShort); }
HRESULT CWhereAmIObject::GetStreetNameDetailed(BSTR* pVal) { return TextOut(pVal, m_fields.streetNameDetailed); }
HRESULT CWhereAmIObject::GetArea(BSTR* pVal) { return TextOut(pVal, m_fields.area); }
HRESULT CWhereAmIObject::GetBorough(BSTR* pVal) { return TextOut(pVal, m_fields.borough); }
HRESULT CWhereAmIObject::GetCounty(BSTR* pVal) { return TextOut(pVal, m_fields.county); }
HRESULT CWhereAmIObject::GetCountry(BSTR* pVal) { return TextOut(pVal, m_fields.country); }
HRESULT CWhereAmIObject::GetRoadClassification(BSTR* pVal) { return TextOut(pVal, m_fields.roadClassification); }
HRESULT CWhereAmIObject::GetStateProvince(BSTR* pVal) { return TextOut(pVal, m_fields.stateProvince); }
HRESULT CWhereAmIObject::GetZipPostalcode(BSTR* pVal) { return TextOut(pVal, m_fields.zipPostalcode); }
HRESULT CWhereAmIObject::GetHouseNumber(BSTR* pVal) { return TextOut(pVal, m_fields.houseNumber); }
HRESULT CWhereAmIObject::GetRoadSpeedLimit(SHORT* pVal) { return ValueOut(pVal, m_fields.roadSpeedLimit); }
HRESULT CWhereAmIObject::GetNumberOfLanes(SHORT* pVal) { return ValueOut(pVal, m_fields.numberOfLanes); }
HRESULT CWhereAmIObject::GetAddressLeftFrom(LONG* pVal) { return ValueOut(pVal, m_fields.addressLeftFrom); }
HRESULT CWhereAmIObject::GetAddressLeftTo(LONG* pVal) { return ValueOut(pVal, m_fields.addressLeftTo); }
HRESULT CWhereAmIObject::GetAddressRightFrom(LONG* pVal) { return ValueOut(pVal, m_fields.addressRightFrom); }
HRESULT CWhereAmIObject::GetAddressRightTo(LONG* pVal) { return ValueOut(pVal, m_fields.addressRightTo); }
HRESULT CWhereAmIObject::GetAddressLeftFromAlphanumeric(BSTR* pVal) {
  return TextOut(pVal, m_fields.addressLeftFromAlphanumeric);
}
HRESULT CWhereAmIObject::GetAddressLeftToAlphanumeric(BSTR* pVal) {
  return TextOut(pVal, m_fields.addressLeftToAlphanumeric);
}
HRESULT CWhereAmIObject::GetAddressRightFromAlphanumeric(BSTR* pVal) {
  return TextOut(pVal, m_fields.addressRightFromAlphanumeric);
}
HRESULT CWhereAmIObject::GetAddressRightToAlphanumeric(BSTR* pVal) {
  return TextOut(pVal, m_fields.addressRightToAlphanumeric);
}
HRESULT CWhereAmIObject::GetMap(BSTR* pVal) { return TextOut(pVal, m_fields.map); }
HRESULT CWhereAmIObject::GetMapNameOnly(BSTR* pVal) { return TextOut(pVal, m_fields.mapNameOnly); }
HRESULT CWhereAmIObject::GetDescription(BSTR* pVal) { return TextOut(pVal, m_fields.description); }

// ---- CVirtualObject ---------------------------------------------------------------------

HRESULT CVirtualObject::GetHeading(HeadingType type, BSTR* pVal) {
  if (pVal == nullptr) return E_POINTER;
  *pVal = nullptr;
  return com::Guarded([&] {
    return TextOut(pVal, vov::Utility::Instance()->HeadingDescription(m_nHeading, type == HeadingCompass));
  });
}
HRESULT CVirtualObject::SetHeading(SHORT newVal) {
  // Widened first: the magnitude of -32768 does not fit in 16 bits.
  m_nHeading = newVal == -1 ? SHORT{-1} : static_cast<SHORT>(std::abs(static_cast<int>(newVal)) % 360);
  return S_OK;
}
HRESULT CVirtualObject::GetHeadingDegrees(SHORT* pVal) { return ValueOut(pVal, m_nHeading); }
HRESULT CVirtualObject::GetRelativeHeading(ILocationObject* to, BSTR* pVal) {
  return m_pLocation->GetRelativeHeading(m_nHeading, to, pVal);
}
HRESULT CVirtualObject::GetDistanceAndHeading(ILocationObject* to, BSTR* pVal) {
  return m_pLocation->GetDistanceAndHeading(m_nHeading, to, pVal);
}
HRESULT CVirtualObject::GetDistanceAndHeadingAndName(ILocationObject* to, IDescriptionConfigurationObject* config,
                                                     BSTR* pVal) {
  return m_pLocation->GetDistanceAndHeadingAndName(m_nHeading, to, config, pVal);
}

// ---- CTalkingLightObject ----------------------------------------------------------------

namespace {

constexpr std::u16string_view kRawStart = u"<TL>";

// The text between `open` and the next `close` after it, searching `raw` from
// `from`; `from` moves past `close`. False when either tag is missing.
bool TaggedText(std::u16string_view raw, std::size_t& from, std::u16string_view open, std::u16string_view close,
                std::u16string_view& text) {
  std::size_t start = raw.find(open, from);
  if (start == std::u16string_view::npos) return false;
  start += open.size();
  std::size_t end = raw.find(close, start);
  if (end == std::u16string_view::npos) return false;
  text = raw.substr(start, end - start);
  from = end + close.size();
  return true;
}

// A whole decimal number that fits in 32 bits: an optional "-", then digits.
bool ParseAmplitude(std::u16string_view text, LONG& value) {
  std::string narrow;
  for (char16_t c : text) {
    if (c != u'-' && (c < u'0' || c > u'9')) return false;
    narrow.push_back(static_cast<char>(c));
  }
  const char* end = narrow.data() + narrow.size();
  auto [ptr, ec] = std::from_chars(narrow.data(), end, value);
  return ec == std::errc() && ptr == end;
}

}  // namespace

HRESULT CTalkingLightObject::InternalGetRawData(BSTR* pVal) {
  if (pVal == nullptr) return E_POINTER;
  *pVal = nullptr;
  std::u16string raw(kRawStart);
  raw += u"<id>";
  raw.append(com::BstrView(m_bstrId));
  raw += u"</id><am>";
  for (char c : std::to_string(m_nAmplitude)) raw.push_back(static_cast<char16_t>(c));
  raw += u"</am></TL>";
  *pVal = SysAllocStringLen(raw.data(), static_cast<UINT>(raw.size()));
  return *pVal == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT CTalkingLightObject::InternalSetFromRawData(BSTR rawData) {
  const std::u16string_view raw = com::BstrView(rawData);
  if (raw.substr(0, kRawStart.size()) != kRawStart) return S_FALSE;
  std::size_t from = kRawStart.size();
  std::u16string_view id;
  std::u16string_view amplitudeText;
  LONG amplitude = 0;
  if (!TaggedText(raw, from, u"<id>", u"</id>", id) || !TaggedText(raw, from, u"<am>", u"</am>", amplitudeText) ||
      !ParseAmplitude(amplitudeText, amplitude)) {
    return S_FALSE;
  }
  HRESULT hr = TextIn(m_bstrId, id);
  if (FAILED(hr)) return hr;
  m_nAmplitude = amplitude;
  return S_OK;
}
