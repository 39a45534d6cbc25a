// The fix object and its status snapshot: the fix's fields in the system
// units, the location queries answered by the inner location, and the
// accuracy in words, which both objects tell alike.
#include "engine/core/GPSObject.h"

#include <cmath>
#include <limits>

#include "engine/core/Utility.h"
#include "platform/com/accessors.h"
#include "platform/com/guard.h"

using com::TextOut;
using com::ValueOut;

namespace {

// Language texts of the accuracy description.
constexpr UINT kTextNoReceiver = 20733;             // no receiver chosen
constexpr UINT kTextNoSignalFrom = 20016;           // %s: the receiver's name
constexpr UINT kTextNoSignal = 20009;
constexpr UINT kTextMetres = 20611;
constexpr UINT kTextFeet = 20612;
constexpr UINT kTextDifferential = 20622;
constexpr UINT kTextAccuracyNoSatellites = 20617;   // %s differential, %d accuracy, %s unit
constexpr UINT kTextAccuracy = 20615;               // the same, then %d satellites
constexpr UINT kTextSatellitesOnly = 20616;         // %d satellites

constexpr double kMetresPerFoot = 0.304799999536704;
constexpr double kFeetPerMetre = 3.2808399;
constexpr double kKmhPerMph = 1.609344;
constexpr double kKnotsPerMph = 0.868976240408186;
constexpr double kBritishKnotsPerMph = 0.8684210526279225;

// The system units of the Utility; before the engine has made it, the
// default units (Imperial).
Units SystemUnits() {
  Units units = Imperial;
  if (const std::shared_ptr<vov::Utility> utility = vov::Utility::Existing(); utility != nullptr) {
    static_cast<void>(utility->SystemSettings().GetUnits(&units));
  }
  return units;
}

// Truncation towards zero that saturates instead of overflowing.
template <class Int>
Int Truncate(double value) {
  if (std::isnan(value)) return 0;
  if (value >= static_cast<double>(std::numeric_limits<Int>::max())) return std::numeric_limits<Int>::max();
  if (value <= static_cast<double>(std::numeric_limits<Int>::min())) return std::numeric_limits<Int>::min();
  return static_cast<Int>(value);
}

// Miles per hour in the system units; 0 without a speed.
double SpeedInUnits(double mph, Units units) {
  if (!(mph > 0.0)) return 0.0;
  switch (units) {
    case Metric:
      return mph * kKmhPerMph;
    case Nautical:
      return mph * kKnotsPerMph;
    case BritishNautical:
      return mph * kBritishKnotsPerMph;
    case Imperial:
      break;
  }
  return mph;
}

VARIANT_BOOL Bool(bool value) { return value ? VARIANT_TRUE : VARIANT_FALSE; }

}  // namespace

namespace vov {

std::u16string EstimatedAccuracyDescription(const AccuracyState& state) {
  const std::shared_ptr<Utility> held = Utility::Instance();
  Utility& utility = *held;
  const GPSSettings& receiver = utility.GPSSettings().Record();
  if (receiver.receiverType == GPSTypeNone) return utility.LoadResourceString(kTextNoReceiver);
  if (state.fixQuality == GPSQualityNoGPS) {
    if (!receiver.receiverName.empty()) return utility.FormatResourceString(kTextNoSignalFrom, {receiver.receiverName});
    return utility.LoadResourceString(kTextNoSignal);
  }
  if (state.estimatedAccuracy >= 0.0 && state.fixQuality >= GPSQualityPoor) {
    Units units = Imperial;
    static_cast<void>(utility.SystemSettings().GetUnits(&units));
    const bool metric = units == Metric;
    const LONG accuracy = Truncate<LONG>(metric ? state.estimatedAccuracy : state.estimatedAccuracy * kFeetPerMetre);
    const std::u16string unit = utility.LoadResourceString(metric ? kTextMetres : kTextFeet);
    const std::u16string differential = state.differential ? utility.LoadResourceString(kTextDifferential) : u"";
    if (state.fixQuality == GPSQualityInertial && state.satellites == 0) {
      return utility.FormatResourceString(kTextAccuracyNoSatellites, {differential, accuracy, unit});
    }
    return utility.FormatResourceString(kTextAccuracy, {differential, accuracy, unit, state.satellites});
  }
  return utility.FormatResourceString(kTextSatellitesOnly, {state.satellites});
}

}  // namespace vov

// ---- CGPSObject -------------------------------------------------------------------------

HRESULT CGPSObject::FinalConstruct() { return vov::detail::CreateInnerLocation(m_pLocation); }

void CGPSObject::ResetFix() {
  const double accuracy = m_fix.estimatedAccuracy;
  m_fix = vov::GPSFix();
  m_fix.estimatedAccuracy = accuracy;
  MarkChanged();
}

HRESULT CGPSObject::GetAltitude(LONG* pVal) {
  if (pVal == nullptr) return E_POINTER;
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  const LONG feet = m_fix.altitude;
  if (feet == -1 || feet == 0 || SystemUnits() != Metric) {
    *pVal = feet;
  } else {
    *pVal = Truncate<LONG>(feet * kMetresPerFoot + 0.5);
  }
  return S_OK;
}

HRESULT CGPSObject::GetHeading(HeadingType type, BSTR* pVal) {
  if (pVal == nullptr) return E_POINTER;
  *pVal = nullptr;
  return com::Guarded([&] {
    std::lock_guard<std::recursive_mutex> hold(m_lock);
    return TextOut(pVal, vov::Utility::Instance()->HeadingDescription(m_fix.heading, type == HeadingCompass));
  });
}

HRESULT CGPSObject::GetHeadingDegrees(SHORT* pVal) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  return ValueOut(pVal, m_fix.heading);
}

HRESULT CGPSObject::GetSpeed(SHORT* pVal) {
  if (pVal == nullptr) return E_POINTER;
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  *pVal = Truncate<SHORT>(SpeedInUnits(m_fix.speed, SystemUnits()) + 0.5);
  return S_OK;
}

HRESULT CGPSObject::GetSpeedDouble(double* pVal) {
  if (pVal == nullptr) return E_POINTER;
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  *pVal = std::trunc(SpeedInUnits(m_fix.speed, SystemUnits()) * 10.0) * 0.1;
  return S_OK;
}

HRESULT CGPSObject::GetEstimatedAccuracyDescription(BSTR* pVal) {
  if (pVal == nullptr) return E_POINTER;
  *pVal = nullptr;
  return com::Guarded([&] {
    vov::AccuracyState state;
    {
      std::lock_guard<std::recursive_mutex> hold(m_lock);
      state.fixQuality = m_fix.fixQuality;
      state.estimatedAccuracy = m_fix.estimatedAccuracy;
      state.differential = m_fix.ggaQuality == 2;
      state.satellites = m_fix.satellites;
    }
    return TextOut(pVal, vov::EstimatedAccuracyDescription(state));
  });
}

HRESULT CGPSObject::GetFixQuality(GPSQuality* pVal) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  return ValueOut(pVal, m_fix.fixQuality);
}
HRESULT CGPSObject::GetHDOP(double* pVal) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  return ValueOut(pVal, m_fix.hdop);
}
HRESULT CGPSObject::GetVDOP(double* pVal) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  return ValueOut(pVal, m_fix.vdop);
}
HRESULT CGPSObject::GetNumberOfSatellites(SHORT* pVal) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  return ValueOut(pVal, m_fix.satellites);
}
HRESULT CGPSObject::HasGPSFix(VARIANT_BOOL* pVal) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  return ValueOut(pVal, Bool(m_fix.fixQuality > GPSQualityNoFix));
}
HRESULT CGPSObject::IsDifferentialEnabled(VARIANT_BOOL* pVal) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  return ValueOut(pVal, Bool(m_fix.ggaQuality == 2));
}

HRESULT CGPSObject::GetEstimatedAccuracy(SHORT* pVal) {
  if (pVal == nullptr) return E_POINTER;
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  const double metres = m_fix.estimatedAccuracy;
  if (metres < 0.0) {
    *pVal = -1;
  } else {
    *pVal = Truncate<SHORT>(SystemUnits() == Metric ? metres : metres * kFeetPerMetre);
  }
  return S_OK;
}

HRESULT CGPSObject::IsHeadingValid(VARIANT_BOOL* pVal) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  return ValueOut(pVal, Bool(m_fix.heading != -1));
}
HRESULT CGPSObject::GetInstantaneousHeadingDegrees(SHORT* pVal) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  return ValueOut(pVal, m_fix.instantaneousHeading);
}

HRESULT CGPSObject::GetRelativeHeading(ILocationObject* to, BSTR* pVal) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  return m_pLocation->GetRelativeHeading(m_fix.heading, to, pVal);
}
HRESULT CGPSObject::GetDistanceAndHeading(ILocationObject* to, BSTR* pVal) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  return m_pLocation->GetDistanceAndHeading(m_fix.heading, to, pVal);
}
HRESULT CGPSObject::GetDistanceAndHeadingAndName(ILocationObject* to, IDescriptionConfigurationObject* config,
                                                 BSTR* pVal) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  return m_pLocation->GetDistanceAndHeadingAndName(m_fix.heading, to, config, pVal);
}

HRESULT CGPSObject::GetName(BSTR* pVal) { return LockedLocation()->GetName(pVal); }
HRESULT CGPSObject::SetName(BSTR newVal) { return LockedLocation()->SetName(newVal); }
HRESULT CGPSObject::GetDescription(BSTR* pVal) { return LockedLocation()->GetDescription(pVal); }

// A new position is a new fix for whatever was worked out from the old one.
HRESULT CGPSObject::SetLocation(ILocationObject* other) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  MarkChanged();
  return m_pLocation->SetLocation(other);
}
HRESULT CGPSObject::SetLongitude(double newVal) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  MarkChanged();
  return m_pLocation->SetLongitude(newVal);
}
HRESULT CGPSObject::SetLatitude(double newVal) {
  std::lock_guard<std::recursive_mutex> hold(m_lock);
  MarkChanged();
  return m_pLocation->SetLatitude(newVal);
}

// ---- CGPSStatusObject -------------------------------------------------------------------

HRESULT CGPSStatusObject::GetFixQuality(GPSQuality* pVal) { return ValueOut(pVal, m_eFixQuality); }
HRESULT CGPSStatusObject::HasGPSFix(VARIANT_BOOL* pVal) { return ValueOut(pVal, Bool(m_bHasFix)); }
HRESULT CGPSStatusObject::IsDifferentialEnabled(VARIANT_BOOL* pVal) { return ValueOut(pVal, Bool(m_bDifferential)); }
HRESULT CGPSStatusObject::GetNumberOfSatellites(SHORT* pVal) { return ValueOut(pVal, m_nSatellites); }
HRESULT CGPSStatusObject::GetHDOP(double* pVal) { return ValueOut(pVal, m_dHDOP); }
HRESULT CGPSStatusObject::GetVDOP(double* pVal) { return ValueOut(pVal, m_dVDOP); }
HRESULT CGPSStatusObject::GetEstimatedAccuracy(double* pVal) { return ValueOut(pVal, m_dEstimatedAccuracy); }

HRESULT CGPSStatusObject::GetEstimatedAccuracyDescription(BSTR* pVal) {
  if (pVal == nullptr) return E_POINTER;
  *pVal = nullptr;
  return com::Guarded([&] {
    vov::AccuracyState state;
    state.fixQuality = m_eFixQuality;
    state.estimatedAccuracy = m_dEstimatedAccuracy;
    state.differential = m_bDifferential;
    state.satellites = m_nSatellites;
    return TextOut(pVal, vov::EstimatedAccuracyDescription(state));
  });
}
