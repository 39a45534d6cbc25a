#include "engine/core/LocationObject.h"

#include <cmath>
#include <limits>
#include <utility>

#include "engine/core/GreatCircle.h"
#include "engine/core/Utility.h"
#include "platform/com/guard.h"
#include "platform/com/accessors.h"

using com::Flag;
using com::TextIn;
using com::TextOut;
using com::ValueOut;

namespace vov {

bool IsValidPosition(double latitude, double longitude) { return latitude != 0.0 || longitude != 0.0; }

LONG DistanceInUnits(double nmi, Units units) {
  const double distance = nmi * (units == Metric ? kMetresPerNm : kFeetPerNm);
  // Half the earth's circumference is about 65.6 million feet, so only a
  // position that is not a number gets here out of range.
  if (!(distance >= 0.0 && distance <= std::numeric_limits<LONG>::max())) return -1;
  return static_cast<LONG>(distance);
}

}  // namespace vov

namespace {

// The distance units of the system settings the engine holds; before the
// engine has made its Utility, the default units (Imperial).
Units DistanceUnits() {
  Units units = Imperial;
  if (const std::shared_ptr<vov::Utility> utility = vov::Utility::Existing(); utility != nullptr) {
    static_cast<void>(utility->SystemSettings().GetUnits(&units));
  }
  return units;
}

// Truncation towards zero into a 16-bit result. Degrees from a latitude or
// longitude always fit; a value stored from elsewhere saturates (NaN gives 0)
// rather than overflowing.
SHORT TruncateToShort(double value) {
  if (std::isnan(value)) return 0;
  if (value >= std::numeric_limits<SHORT>::max()) return std::numeric_limits<SHORT>::max();
  if (value <= std::numeric_limits<SHORT>::min()) return std::numeric_limits<SHORT>::min();
  return static_cast<SHORT>(value);
}

// Degrees, minutes and seconds of the absolute value of a coordinate; the sign
// is the hemisphere's business. Seconds keep their fraction.
SHORT WholeDegrees(double coordinate) { return TruncateToShort(std::fabs(coordinate)); }
double MinutesOf(double coordinate) {
  const double magnitude = std::fabs(coordinate);
  return (magnitude - std::trunc(magnitude)) * 60.0;
}
SHORT WholeMinutes(double coordinate) { return TruncateToShort(MinutesOf(coordinate)); }
double SecondsOf(double coordinate) {
  const double minutes = MinutesOf(coordinate);
  return (minutes - std::trunc(minutes)) * 60.0;
}
double FromDegreesMinutesSeconds(SHORT deg, SHORT min, double sec) { return deg + min / 60.0 + sec / 3600.0; }

// Makes the sign of a coordinate agree with a hemisphere: `negative` says the
// hemisphere counts negative (south, west). Zero stays zero.
HRESULT ApplyHemisphere(double& coordinate, INT hemisphere, INT positive, INT negative) {
  if (hemisphere != positive && hemisphere != negative) return E_INVALIDARG;
  const bool wantNegative = hemisphere == negative;
  if (wantNegative ? coordinate > 0.0 : coordinate < 0.0) coordinate = -coordinate;
  return S_OK;
}

}  // namespace

// ---- CLocationObject ----------------------------------------------------------------

// Zero reports South and West: only a strictly positive coordinate is North or East.
HRESULT CLocationObject::GetLatitudeHemisphere(LatitudeHemisphere* pVal) {
  return ValueOut(pVal, m_dLatitude > 0.0 ? North : South);
}
HRESULT CLocationObject::SetLatitudeHemisphere(LatitudeHemisphere newVal) {
  return ApplyHemisphere(m_dLatitude, newVal, North, South);
}
HRESULT CLocationObject::GetLongitudeHemisphere(LongitudeHemisphere* pVal) {
  return ValueOut(pVal, m_dLongitude > 0.0 ? East : West);
}
HRESULT CLocationObject::SetLongitudeHemisphere(LongitudeHemisphere newVal) {
  return ApplyHemisphere(m_dLongitude, newVal, East, West);
}
HRESULT CLocationObject::GetLatitudeDegrees(SHORT* pVal) { return ValueOut(pVal, WholeDegrees(m_dLatitude)); }
HRESULT CLocationObject::GetLatitudeMinutes(SHORT* pVal) { return ValueOut(pVal, WholeMinutes(m_dLatitude)); }
HRESULT CLocationObject::GetLatitudeSeconds(double* pVal) { return ValueOut(pVal, SecondsOf(m_dLatitude)); }
// The result is north or east of the equator or meridian; the hemisphere is
// set afterwards by its own method.
HRESULT CLocationObject::SetLatitudeDegreesMinutesSeconds(SHORT deg, SHORT min, double sec) {
  m_dLatitude = FromDegreesMinutesSeconds(deg, min, sec);
  return S_OK;
}
HRESULT CLocationObject::GetLongitudeDegrees(SHORT* pVal) { return ValueOut(pVal, WholeDegrees(m_dLongitude)); }
HRESULT CLocationObject::GetLongitudeMinutes(SHORT* pVal) { return ValueOut(pVal, WholeMinutes(m_dLongitude)); }
HRESULT CLocationObject::GetLongitudeSeconds(double* pVal) { return ValueOut(pVal, SecondsOf(m_dLongitude)); }
HRESULT CLocationObject::SetLongitudeDegreesMinutesSeconds(SHORT deg, SHORT min, double sec) {
  m_dLongitude = FromDegreesMinutesSeconds(deg, min, sec);
  return S_OK;
}
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
HRESULT CLocationObject::SetLatitude(double newVal) { return com::ValueIn(m_dLatitude, newVal); }
HRESULT CLocationObject::SetLongitude(double newVal) { return com::ValueIn(m_dLongitude, newVal); }
// (0, 0) is the "no position" value. A valid location answers 1 rather than
// VARIANT_TRUE (-1): clients of the type library test for the value 1.
HRESULT CLocationObject::IsValid(VARIANT_BOOL* pVal) {
  return ValueOut(pVal, static_cast<VARIANT_BOOL>(vov::IsValidPosition(m_dLatitude, m_dLongitude) ? 1 : 0));
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
HRESULT CLocationObject::GetBearing(HeadingType type, ILocationObject* to, BSTR* pVal) {
  return SpeakAbout(to, pVal, [&](const vov::Utility& utility, double latitude, double longitude) {
    if (vov::IsSameLocation(m_dLatitude, m_dLongitude, latitude, longitude)) {
      return utility.LoadResourceString(kTextNoDirection);
    }
    SHORT bearing = -1;
    static_cast<void>(GetBearingDegrees(to, &bearing));
    return utility.HeadingDescription(bearing, type == HeadingCompass);
  });
}
HRESULT CLocationObject::GetRelativeHeading(SHORT currentHeading, ILocationObject* to, BSTR* pVal) {
  return SpeakAbout(to, pVal, [&](const vov::Utility& utility, double latitude, double longitude) {
    if (vov::IsSameLocation(m_dLatitude, m_dLongitude, latitude, longitude)) {
      return utility.LoadResourceString(kTextNoDirection);
    }
    SHORT bearing = -1;
    static_cast<void>(GetBearingDegrees(to, &bearing));
    if (currentHeading == -1) return utility.CompassPointName(bearing);
    return utility.RelativeHeadingDescription(currentHeading, bearing, false);
  });
}
HRESULT CLocationObject::ReadPosition(ILocationObject* to, double* latitude, double* longitude) {
  HRESULT hr = to->GetLatitude(latitude);
  if (SUCCEEDED(hr)) hr = to->GetLongitude(longitude);
  return hr;
}
double CLocationObject::DistanceNmTo(double latitude, double longitude) const {
  return vov::GreatCircleDistanceNm(m_dLatitude * vov::kRadiansPerDegree, m_dLongitude * vov::kRadiansPerDegree,
                                    latitude * vov::kRadiansPerDegree, longitude * vov::kRadiansPerDegree);
}
HRESULT CLocationObject::GetDistance(ILocationObject* to, LONG* pVal) {
  if (to == nullptr || pVal == nullptr) return E_POINTER;
  double latitude = 0.0;
  double longitude = 0.0;
  const HRESULT hr = ReadPosition(to, &latitude, &longitude);
  if (FAILED(hr)) return hr;
  if (!vov::IsValidPosition(m_dLatitude, m_dLongitude) || !vov::IsValidPosition(latitude, longitude)) {
    *pVal = -1;
    return S_OK;
  }
  *pVal = vov::DistanceInUnits(DistanceNmTo(latitude, longitude), DistanceUnits());
  return S_OK;
}
// No bearing where the distance handed out is 0: two places closer than one
// unit are the same place to the user.
HRESULT CLocationObject::GetBearingDegrees(ILocationObject* to, SHORT* pVal) {
  if (to == nullptr || pVal == nullptr) return E_POINTER;
  double latitude = 0.0;
  double longitude = 0.0;
  const HRESULT hr = ReadPosition(to, &latitude, &longitude);
  if (FAILED(hr)) return hr;
  const double nmi = DistanceNmTo(latitude, longitude);
  if (!vov::IsValidPosition(m_dLatitude, m_dLongitude) || !vov::IsValidPosition(latitude, longitude) ||
      vov::DistanceInUnits(nmi, DistanceUnits()) <= 0) {
    *pVal = -1;
    return S_OK;
  }
  const double course = vov::InitialCourse(m_dLatitude * vov::kRadiansPerDegree, m_dLongitude * vov::kRadiansPerDegree,
                                          latitude * vov::kRadiansPerDegree, longitude * vov::kRadiansPerDegree,
                                          nmi * vov::kRadiansPerNm);
  *pVal = static_cast<SHORT>(vov::WholeDegreeBearing(course));
  return S_OK;
}
HRESULT CLocationObject::GetDistanceDescription(ILocationObject* to, BSTR* pVal) {
  return SpeakAbout(to, pVal, [&](const vov::Utility& utility, double, double) {
    LONG distance = -1;
    static_cast<void>(GetDistance(to, &distance));
    return utility.DistanceDescription(distance, false);
  });
}
HRESULT CLocationObject::GetDistanceAndHeading(SHORT currentHeading, ILocationObject* to, BSTR* pVal) {
  return DistanceAndHeadingText(currentHeading, to, SentenceParts{}, pVal);
}
HRESULT CLocationObject::GetDistanceAndHeadingAndName(SHORT currentHeading, ILocationObject* to,
                                                      IDescriptionConfigurationObject* config, BSTR* pVal) {
  SentenceParts parts;
  parts.name = true;
  if (config != nullptr) {
    VARIANT_BOOL flag = VARIANT_FALSE;
    HRESULT hr = config->GetIncludeDescriptionDetails(&flag);
    parts.description = SUCCEEDED(hr) && flag != 0;
    flag = VARIANT_FALSE;
    hr = config->GetIncludeCompassDirection(&flag);
    parts.compass = SUCCEEDED(hr) && flag != 0;
    flag = VARIANT_FALSE;
    hr = config->GetDirectionInformationFirst(&flag);
    parts.directionFirst = SUCCEEDED(hr) && flag != 0;
  }
  return DistanceAndHeadingText(currentHeading, to, parts, pVal);
}

template <class Words>
HRESULT CLocationObject::SpeakAbout(ILocationObject* to, BSTR* pVal, Words words) {
  if (pVal == nullptr) return E_POINTER;
  *pVal = nullptr;
  if (to == nullptr) return E_POINTER;
  return com::Guarded([&] {
    double latitude = 0.0;
    double longitude = 0.0;
    HRESULT hr = ReadPosition(to, &latitude, &longitude);
    if (FAILED(hr)) return hr;
    const std::shared_ptr<vov::Utility> held = vov::Utility::Instance();
    const vov::Utility& utility = *held;
    const std::u16string text = !vov::IsValidPosition(m_dLatitude, m_dLongitude) ||
                                        !vov::IsValidPosition(latitude, longitude)
                                    ? utility.LoadResourceString(kTextNoPosition)
                                    : words(utility, latitude, longitude);
    return TextOut(pVal, text);
  });
}

HRESULT CLocationObject::DistanceAndHeadingText(SHORT currentHeading, ILocationObject* to, SentenceParts parts,
                                                BSTR* pVal) {
  if (pVal == nullptr) return E_POINTER;
  *pVal = nullptr;
  if (to == nullptr) return E_POINTER;
  return com::Guarded([&] {
    double latitude = 0.0;
    double longitude = 0.0;
    HRESULT hr = ReadPosition(to, &latitude, &longitude);
    if (FAILED(hr)) return hr;
    const std::shared_ptr<vov::Utility> held = vov::Utility::Instance();
    vov::Utility& utility = *held;
    RelativeHeadingType headingMode = AheadLeft;
    static_cast<void>(utility.SystemSettings().GetHeadingMode(&headingMode));
    if (currentHeading != -1 && headingMode == LeftRightDegreesCompass) parts.compass = false;

    BSTR rawName = nullptr;
    BSTR rawDescription = nullptr;
    hr = to->GetName(&rawName);
    com::Bstr name;
    name.Reset(rawName);
    if (FAILED(hr)) return hr;
    hr = to->GetDescription(&rawDescription);
    com::Bstr description;
    description.Reset(rawDescription);
    if (FAILED(hr)) return hr;
    const std::u16string_view nameText = com::BstrView(name);
    const std::u16string_view descriptionText = com::BstrView(description);
    // The description is told only when it says more than the name.
    parts.description = parts.description && !descriptionText.empty() &&
                        nameText.find(descriptionText) == std::u16string_view::npos;

    const bool here = vov::IsValidPosition(m_dLatitude, m_dLongitude);
    const bool there = vov::IsValidPosition(latitude, longitude);
    std::u16string text;
    if (here && there) {
      const vov::DistanceHeadingRecord record = utility.NewDistanceHeadingRecord(this, to, currentHeading);
      const bool arrived = utility.IsWithinArrivedNearThreshold(record.distance);
      UINT id = 0;
      if (parts.description) {
        id = nameText.empty() ? (arrived ? kTextHere : kTextDistanceDirection)
                              : (arrived ? kTextNameDescriptionHere
                                         : parts.directionFirst ? kTextNameDescriptionDirectionFirst
                                                                : kTextNameDescriptionDistanceDirection);
      } else if (!parts.name || nameText.empty()) {
        id = arrived ? kTextHere : kTextDistanceDirection;
      } else {
        id = arrived ? kTextNameHere
                     : parts.directionFirst ? kTextNameDirectionFirst : kTextNameDistanceDirection;
      }
      text = utility.ExpandDescriptionTemplate(id, to, &record, nullptr, GPSMode, nullptr, u"");
      if (parts.compass && !arrived && currentHeading != -1) {
        text += u", ";
        text += utility.CompassPointName(record.bearing);
      }
    } else if (here) {
      text = parts.name ? utility.ExpandDescriptionTemplate(kTextNameNoPosition, to, nullptr, nullptr, GPSMode,
                                                            nullptr, u"")
                        : utility.LoadResourceString(kTextPositionUnknown);
    } else if (!parts.name && !parts.description) {
      text = utility.LoadResourceString(kTextPositionUnknown);
    } else {
      text = utility.ExpandDescriptionTemplate(
          parts.description ? kTextNameDescriptionOwnPositionUnknown : kTextNameOwnPositionUnknown, to, nullptr,
          nullptr, GPSMode, nullptr, u"");
    }
    return TextOut(pVal, text);
  });
}

