// The engine object's construction and destruction, its log line, the fix
// reset and the test of a usable fix. The receiver input, the sentence parser
// and the position utilities have files of their own.
#include "engine/core/GPSCore.h"

#include "engine/core/GreatCircle.h"
#include "engine/core/PlaceObjects.h"
#include "engine/core/Utility.h"

IMap* m_pCartovel = nullptr;

GPSCore::GPSCore() {
  std::lock_guard<std::recursive_mutex> com(m_csCom);
  CVirtualObject* virtualObject = nullptr;
  if (SUCCEEDED(CVirtualObject::CreateObject(&virtualObject))) m_pVirtual.reset(virtualObject);
  InitGPSPortState();
  ResetGPSFix();
}

GPSCore::~GPSCore() {
  std::lock_guard<std::recursive_mutex> com(m_csCom);
  GPSStopRecording();
  InitGPSPortState();
}

void GPSCore::Log(std::u16string_view text) const {
  const std::shared_ptr<vov::Utility> utility = vov::Utility::Existing();
  if (utility == nullptr) return;
  vov::WriteDebugLog(utility->SystemSettings().DebugDirectory(), text, true, true);
}

void GPSCore::SimulationAnnotationReached(const std::u16string& text) {
  if (m_annotationObserver) m_annotationObserver(text);
}

void GPSCore::ResetGPSFix() {
  if (m_pGPS != nullptr) {
    std::lock_guard<std::recursive_mutex> hold(m_pGPS->Lock());
    m_pGPS->ResetFix();
  }
  m_bUntrustedPosition = false;
  m_currentStreet.clear();
  m_previousStreet.clear();
  m_headingHistory.fill(-1);
  m_nSampleCounter = 0;
  m_nBigCityCounter = 0;
  m_dP1Latitude = m_dP1Longitude = 0.0;
  m_dP2Latitude = m_dP2Longitude = 0.0;
}

bool GPSCore::IsFixUsable() {
  if (m_bTestMode) return true;
  if (m_pGPS == nullptr) return false;
  std::lock_guard<std::recursive_mutex> hold(m_pGPS->Lock());
  const GPSQuality quality = m_pGPS->Fix().fixQuality;
  return quality != GPSQualityNoGPS && quality != GPSQualityNoFix;
}

void GPSCore::UpdatePedometer(bool force) {
  if (m_pGPS == nullptr) return;
  std::lock_guard<std::recursive_mutex> hold(m_pGPS->Lock());
  const vov::GPSFix& fix = m_pGPS->Fix();
  double latitude = 0.0, longitude = 0.0;
  m_pGPS->Location()->GetLatitude(&latitude);
  m_pGPS->Location()->GetLongitude(&longitude);
  if (fix.fixQuality < GPSQualityPoor || !vov::IsValidPosition(latitude, longitude)) {
    m_nPedometerCountdown = 0;
    return;
  }
  if (m_nPedometerCountdown >= 1 && !force) {
    --m_nPedometerCountdown;
    return;
  }
  // The fix's speed is in miles per hour, the minimum speed in knots.
  if (fix.speed / kMphPerKnot <= m_dMinSpeedForHeadingAveraging) {
    m_nPedometerCountdown = 0;
    return;
  }
  if (m_pPedometerLast != nullptr) {
    double lastLatitude = 0.0, lastLongitude = 0.0;
    m_pPedometerLast->GetLatitude(&lastLatitude);
    m_pPedometerLast->GetLongitude(&lastLongitude);
    const double nm =
        vov::GreatCircleDistanceNm(lastLatitude * vov::kRadiansPerDegree, lastLongitude * vov::kRadiansPerDegree,
                                   latitude * vov::kRadiansPerDegree, longitude * vov::kRadiansPerDegree);
    if (nm == nm) m_dPedometerMetres += nm * vov::kMetresPerNm;
  } else {
    ILocationObject* copy = nullptr;
    if (FAILED(CLocationObject::CreateInstance(&copy))) return;
    m_pPedometerLast.reset(copy);
  }
  // A copy: the fix's own location moves on with the next sentence.
  m_pPedometerLast->SetLatitude(latitude);
  m_pPedometerLast->SetLongitude(longitude);
  m_nPedometerCountdown = 5;
}
