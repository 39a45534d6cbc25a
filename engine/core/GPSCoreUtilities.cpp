// The engine's utilities on the current position and the receiver's state:
// where the user is and faces in either mode, how near a place is, the last
// description spoken, and the time and status snapshots handed to the user
// program. Callers hold m_csCom; the fix object's lock is taken here where
// fix fields are read.
#include "engine/core/GPSCore.h"

#include <algorithm>
#include <new>

#include "engine/core/GreatCircle.h"
#include "engine/core/PlaceObjects.h"
#include "engine/core/Utility.h"
#include "engine/core/ValueObjects.h"
#include "platform/com/accessors.h"
#include "platform/os/text.h"

namespace {

// The receiver is active when there are receiver settings and they name a
// receiver.
bool IsReceiverActive() {
  const std::shared_ptr<vov::Utility> utility = vov::Utility::Existing();
  return utility != nullptr && utility->GPSSettings().Record().receiverType != GPSTypeNone;
}

}  // namespace

// Both texts are folded code point by code point, as the phone lower-cases
// them, so "Main St" is found in "NORTH MAIN ST".
bool GPSCore::MatchNameInsensitive(std::u16string_view needle, std::u16string_view text) {
  if (needle.empty() || text.empty()) return false;
  return platform::FoldCase(text).find(platform::FoldCase(needle)) != std::u32string::npos;
}

SHORT GPSCore::GetHeadingDegreesForMode(Mode mode) {
  SHORT heading = -1;
  GetCurrentLocationAndHeading(mode, nullptr, &heading);
  return heading;
}

// The fix object's heading is read under its lock, as its own getter does.
void GPSCore::GetCurrentLocationAndHeading(Mode mode, ILocationObject** location, SHORT* heading) {
  ILocationObject* current = nullptr;
  SHORT degrees = -1;
  if (mode == VirtualMode) {
    if (m_pVirtual != nullptr) {
      current = m_pVirtual->Location();
      if (FAILED(m_pVirtual->GetHeadingDegrees(&degrees))) degrees = -1;
    }
  } else if (m_pGPS != nullptr) {
    std::lock_guard<std::recursive_mutex> hold(m_pGPS->Lock());
    current = m_pGPS->Location();
    degrees = m_pGPS->Fix().heading;
  }
  if (location != nullptr) *location = current;
  if (heading != nullptr) *heading = degrees;
}

bool GPSCore::IsNearCurrentLocation(Mode mode, ILocationObject* location) {
  if (location == nullptr) return false;
  const std::shared_ptr<vov::Utility> utility = vov::Utility::Existing();
  if (utility == nullptr) return false;
  ILocationObject* current = nullptr;
  GetCurrentLocationAndHeading(mode, &current, nullptr);
  if (current == nullptr) return false;
  LONG distance = -1;
  HRESULT hr = S_OK;
  if (mode == VirtualMode) {
    hr = current->GetDistance(location, &distance);
  } else {
    std::lock_guard<std::recursive_mutex> hold(m_pGPS->Lock());
    hr = current->GetDistance(location, &distance);
  }
  // An unknown distance (-1, an invalid position) is never near.
  return SUCCEEDED(hr) && utility->IsWithinArrivedNearThreshold(distance);
}

// The bearing of the description words: the one the location objects give,
// -1 when either position is invalid or they are the same place.
LONG GPSCore::GetBearingDegreesBetween(ILocationObject* from, ILocationObject* to) {
  if (from == nullptr || to == nullptr) return -1;
  SHORT bearing = -1;
  if (FAILED(from->GetBearingDegrees(to, &bearing))) return -1;
  return bearing;
}

// Faster than 5 miles an hour the user is driving and the next intersection
// is sought farther ahead: 1600 feet (450 m) instead of 200 feet (65 m).
LONG GPSCore::GetIntersectionSearchDistance() {
  double speed = -1.0;
  if (m_pGPS != nullptr) {
    std::lock_guard<std::recursive_mutex> hold(m_pGPS->Lock());
    speed = m_pGPS->Fix().speed;
  }
  const std::shared_ptr<vov::Utility> utility = vov::Utility::Existing();
  const Units units = utility != nullptr ? utility->SystemSettings().Record().units : vov::SystemSettings().units;
  const bool driving = speed > 5.0;
  if (units == Metric) return driving ? 450 : 65;
  return driving ? 1600 : 200;
}

// Without a Utility (the engine not started) there are no texts and the
// description is empty. When the copy cannot be made the old description is
// dropped rather than kept under a new request.
void GPSCore::SetLastDescription(UINT textId, std::initializer_list<platform::FormatArg> args) {
  const std::shared_ptr<const vov::Utility> utility = vov::Utility::Existing();
  const std::u16string text = utility != nullptr ? utility->FormatResourceString(textId, args) : std::u16string();
  if (!m_bstrLastDescription.Assign(text)) {
    m_bstrLastDescription.Reset();
    throw std::bad_alloc();
  }
}

std::u16string GPSCore::GetLastDescription() const {
  return std::u16string(com::BstrView(m_bstrLastDescription));
}

// All six fields stay 0 (not valid) unless the receiver is active and its
// fix can be used: a time from a receiver without a fix is the receiver's
// guess.
HRESULT GPSCore::GPSGetTimeInternal(IGPSTimeObject** time) {
  if (time == nullptr) return E_POINTER;
  *time = nullptr;
  CGPSTimeObject* made = nullptr;
  const HRESULT hr = CGPSTimeObject::CreateObject(&made);
  if (FAILED(hr)) return hr;
  std::unique_ptr<CGPSTimeObject, com::Releaser> snapshot(made);
  if (m_pGPS != nullptr && IsReceiverActive()) {
    std::lock_guard<std::recursive_mutex> hold(m_pGPS->Lock());
    if (IsFixUsable()) {
      const vov::GPSFix& fix = m_pGPS->Fix();
      snapshot->SetYear(fix.year);
      snapshot->SetMonth(fix.month);
      snapshot->SetDay(fix.day);
      snapshot->SetHour(fix.hour);
      snapshot->SetMinutes(fix.minute);
      snapshot->SetSeconds(fix.second);
    }
  }
  *time = snapshot.release();
  return S_OK;
}

// The quality is recomputed first, so that a receiver that fell silent since
// the last sentence shows as such. Without a fix object the snapshot is that
// of a receiver never heard.
HRESULT GPSCore::GPSGetStatusInternal(IGPSStatusObject** status) {
  if (status == nullptr) return E_POINTER;
  *status = nullptr;
  CGPSStatusObject* made = nullptr;
  const HRESULT hr = CGPSStatusObject::CreateObject(&made);
  if (FAILED(hr)) return hr;
  std::unique_ptr<CGPSStatusObject, com::Releaser> snapshot(made);
  if (m_pGPS != nullptr) {
    std::lock_guard<std::recursive_mutex> hold(m_pGPS->Lock());
    const vov::GPSFix& fix = m_pGPS->Fix();
    snapshot->m_dHDOP = fix.hdop;
    snapshot->m_dVDOP = fix.vdop;
    UpdateFixQuality(m_pGPS.get());
    snapshot->m_eFixQuality = fix.fixQuality;
    if (fix.fixQuality != GPSQualityNoGPS && fix.fixQuality != GPSQualityNoFix) {
      snapshot->m_bHasFix = true;
      snapshot->m_dEstimatedAccuracy = GetEstimatedAccuracy();
    } else {
      snapshot->m_bHasFix = false;
      snapshot->m_dEstimatedAccuracy = -1.0;
    }
    snapshot->m_bDifferential = fix.ggaQuality == 2;
    snapshot->m_nSatellites = fix.satellites;
    // Test mode shows what the accuracy would be, without satellites.
    if (m_bTestMode) {
      snapshot->m_nSatellites = 0;
      snapshot->m_dEstimatedAccuracy = GetEstimatedAccuracy();
    }
  }
  *status = snapshot.release();
  return S_OK;
}

std::u16string GPSCore::GetPedometerDescription(Mode mode) {
  const std::shared_ptr<vov::Utility> utility = vov::Utility::Existing();
  if (utility == nullptr) return {};
  double metres = m_dPedometerVirtualMetres;
  if (mode == GPSMode) {
    UpdatePedometer(true);
    metres = m_dPedometerMetres;
  }
  const double inUnits =
      utility->SystemSettings().Record().units == Metric ? metres : metres * vov::kFeetPerNm / vov::kMetresPerNm;
  return utility->DistanceDescription(static_cast<LONG>(std::min(inUnits, 2.0e9)), false);
}
