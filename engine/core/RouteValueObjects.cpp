#include "engine/core/RouteValueObjects.h"

#include <cstdlib>
#include <string>

#include "engine/core/Utility.h"
#include "platform/com/accessors.h"
#include "platform/com/guard.h"

using com::Flag;
using com::TextOut;
using com::ValueOut;

// ---- CWaypointObject --------------------------------------------------------------------

HRESULT CWaypointObject::GetIndex(SHORT* pVal) { return ValueOut(pVal, m_nIndex); }
HRESULT CWaypointObject::IsTurningPoint(VARIANT_BOOL* pVal) { return ValueOut(pVal, m_bTurningPoint); }
HRESULT CWaypointObject::SetTurningPoint(VARIANT_BOOL newVal) { return com::FlagIn(m_bTurningPoint, newVal); }
HRESULT CWaypointObject::IsUserPoint(VARIANT_BOOL* pVal) { return ValueOut(pVal, m_bUserPoint); }
HRESULT CWaypointObject::SetUserPoint(VARIANT_BOOL newVal) { return com::FlagIn(m_bUserPoint, newVal); }
HRESULT CWaypointObject::GetTurnCompleteHeadingDegrees(SHORT* pVal) { return ValueOut(pVal, m_nTurnCompleteHeading); }
// The turn to make at a turning point, seen from the heading the walker
// comes along (the heading given, else the way along the street into the
// waypoint): "continue" words when the turn is within 23 degrees of that
// heading, "turn" words otherwise; empty where there is no turn to tell.
HRESULT CWaypointObject::GetTurningInfo(SHORT currentHeading, BSTR* pVal) {
  if (pVal == nullptr) return E_POINTER;
  *pVal = nullptr;
  return com::Guarded([&] {
    if (m_bTurningPoint == VARIANT_FALSE || m_nTurnCompleteHeading == -1) return TextOut(pVal, std::u16string_view());
    const INT heading = currentHeading != -1 ? currentHeading : (m_nStreetOrientationReverse + 180) % 360;
    const INT difference = std::abs(m_nTurnCompleteHeading - heading);
    const bool straightOn = difference < kStraightOnDegrees || 360 - difference < kStraightOnDegrees;
    const std::shared_ptr<vov::Utility> held = vov::Utility::Instance();
    const vov::Utility& utility = *held;
    const std::u16string words = utility.RelativeHeadingDescription(heading, m_nTurnCompleteHeading, true);
    return TextOut(pVal, utility.FormatResourceString(straightOn ? kTextContinue : kTextTurn, {words}));
  });
}
HRESULT CWaypointObject::GetWaypointName(Mode, BSTR* pVal) {
  if (pVal != nullptr) *pVal = nullptr;
  return E_NOTIMPL;
}
HRESULT CWaypointObject::IsRouteEndPoint(VARIANT_BOOL* pVal) { return ValueOut(pVal, m_bEndPoint); }
HRESULT CWaypointObject::IsRouteBeginningPoint(VARIANT_BOOL* pVal) { return ValueOut(pVal, m_bBeginningPoint); }
HRESULT CWaypointObject::GetFeatureIndex(SHORT* pVal) { return ValueOut(pVal, m_nFeatureIndex); }

// ---- CWaypointUserObject ----------------------------------------------------------------

HRESULT CWaypointUserObject::CreateUserWaypoint(ILocationObject* location, WaypointTurnType turnType,
                                                SHORT headingBeforeTurn) {
  if (location == nullptr) return E_POINTER;
  if (m_bCreated && headingBeforeTurn == -1) return S_FALSE;
  location->AddRef();
  m_pLocation.reset(location);
  m_eTurnType = turnType;
  m_nHeadingWhenCreated = headingBeforeTurn;
  m_bCreated = true;
  return S_OK;
}
HRESULT CWaypointUserObject::GetTurningInfo(WaypointTurnType* pVal) { return ValueOut(pVal, m_eTurnType); }
HRESULT CWaypointUserObject::GetHeadingWhenCreated(SHORT* pVal) { return ValueOut(pVal, m_nHeadingWhenCreated); }
