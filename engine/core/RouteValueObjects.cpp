#include "engine/core/RouteValueObjects.h"

#include "engine/core/ValueAccess.h"

using vov::detail::Flag;
using vov::detail::ValueOut;

// ---- CWaypointObject --------------------------------------------------------------------

HRESULT CWaypointObject::GetIndex(SHORT* pVal) { return ValueOut(pVal, m_nIndex); }
HRESULT CWaypointObject::IsTurningPoint(VARIANT_BOOL* pVal) { return ValueOut(pVal, m_bTurningPoint); }
HRESULT CWaypointObject::SetTurningPoint(VARIANT_BOOL newVal) {
  m_bTurningPoint = Flag(newVal);
  return S_OK;
}
HRESULT CWaypointObject::IsUserPoint(VARIANT_BOOL* pVal) { return ValueOut(pVal, m_bUserPoint); }
HRESULT CWaypointObject::SetUserPoint(VARIANT_BOOL newVal) {
  m_bUserPoint = Flag(newVal);
  return S_OK;
}
HRESULT CWaypointObject::GetTurnCompleteHeadingDegrees(SHORT* pVal) { return ValueOut(pVal, m_nTurnCompleteHeading); }
HRESULT CWaypointObject::GetTurningInfo(SHORT, BSTR* pVal) {
  if (pVal != nullptr) *pVal = nullptr;
  return E_NOTIMPL;
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
