// The engine's value objects for route waypoints: a waypoint of a route as it
// leaves the route model, and a waypoint the user marks while recording a
// route. Each answers the location methods of its interface through the
// location object it holds.
#pragma once

#include <memory>

#include "engine/core/ValueForwarding.h"
#include "typelib/VovLib.h"
#include "platform/com/atl.h"
#include "platform/com/owners.h"

// One waypoint of a route. A new one has no index, turn-complete heading,
// number of lanes, street orientations or feature index (all -1), street speed
// and distance from the last waypoint 0, every flag off, no street names and
// an unknown side of the street. The route model fills what the interface
// cannot set through the setters below the interface methods.
class CWaypointObject : public com::ComClass<CWaypointObject, IWaypointObject> {
 public:
  HRESULT FinalConstruct() { return vov::detail::CreateInnerLocation(m_pLocation); }

  HRESULT STDMETHODCALLTYPE GetIndex(SHORT* pVal) override;
  VOV_TEXT_PROPERTY(StreetNameForward, m_bstrStreetNameForward)
  HRESULT STDMETHODCALLTYPE IsTurningPoint(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE SetTurningPoint(VARIANT_BOOL newVal) override;
  HRESULT STDMETHODCALLTYPE IsUserPoint(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE SetUserPoint(VARIANT_BOOL newVal) override;
  HRESULT STDMETHODCALLTYPE GetTurnCompleteHeadingDegrees(SHORT* pVal) override;
  // The turn to make here in words ("Turn to the right"); empty unless this
  // is a turning point with a known heading after the turn.
  HRESULT STDMETHODCALLTYPE GetTurningInfo(SHORT currentHeading, BSTR* pVal) override;
  // The waypoint's spoken name comes with the route descriptions: E_NOTIMPL,
  // with a null result, until then.
  HRESULT STDMETHODCALLTYPE GetWaypointName(Mode mode, BSTR* pVal) override;
  HRESULT STDMETHODCALLTYPE IsRouteEndPoint(VARIANT_BOOL* pVal) override;
  HRESULT STDMETHODCALLTYPE IsRouteBeginningPoint(VARIANT_BOOL* pVal) override;
  VOV_VALUE_PROPERTY(NumberOfLanes, SHORT, m_nNumberOfLanes)
  VOV_VALUE_PROPERTY(StreetOrientationForward, SHORT, m_nStreetOrientationForward)
  VOV_VALUE_PROPERTY(StreetOrientationReverse, SHORT, m_nStreetOrientationReverse)
  VOV_FORWARD_LOCATION(m_pLocation)
  VOV_VALUE_PROPERTY(DistanceFromLastWaypoint, double, m_dDistanceFromLastWaypoint)
  VOV_VALUE_PROPERTY(StreetSpeed, SHORT, m_nStreetSpeed)
  HRESULT STDMETHODCALLTYPE GetFeatureIndex(SHORT* pVal) override;
  VOV_TEXT_PROPERTY(CrossStreet, m_bstrCrossStreet)
  VOV_VALUE_PROPERTY(SideOfStreet, LONG, m_nSideOfStreet)

  void SetIndex(SHORT index) { m_nIndex = index; }
  void SetTurnCompleteHeadingDegrees(SHORT heading) { m_nTurnCompleteHeading = heading; }
  void SetRouteBeginningPoint(bool on) { m_bBeginningPoint = on ? VARIANT_TRUE : VARIANT_FALSE; }
  void SetRouteEndPoint(bool on) { m_bEndPoint = on ? VARIANT_TRUE : VARIANT_FALSE; }
  void SetFeatureIndex(SHORT index) { m_nFeatureIndex = index; }

 private:
  std::unique_ptr<ILocationObject, com::Releaser> m_pLocation;
  VARIANT_BOOL m_bUserPoint = VARIANT_FALSE;
  VARIANT_BOOL m_bTurningPoint = VARIANT_FALSE;
  com::Bstr m_bstrStreetNameForward;
  SHORT m_nIndex = -1;
  // Language texts of the turning info, and how close a turn is to going on.
  static constexpr UINT kTextTurn = 21009;
  static constexpr UINT kTextContinue = 21010;
  static constexpr INT kStraightOnDegrees = 23;
  SHORT m_nTurnCompleteHeading = -1;
  VARIANT_BOOL m_bBeginningPoint = VARIANT_FALSE;
  VARIANT_BOOL m_bEndPoint = VARIANT_FALSE;
  SHORT m_nNumberOfLanes = -1;
  SHORT m_nStreetOrientationForward = -1;
  SHORT m_nStreetOrientationReverse = -1;
  SHORT m_nStreetSpeed = 0;  // km/h
  double m_dDistanceFromLastWaypoint = 0.0;  // metres
  SHORT m_nFeatureIndex = -1;
  com::Bstr m_bstrCrossStreet;
  LONG m_nSideOfStreet = 0;
};

// A waypoint the user marks while recording: its place, the turn taken there
// (NoTurn when new), the heading before the turn (-1 when new) and the street
// ahead (empty when new).
class CWaypointUserObject : public com::ComClass<CWaypointUserObject, IWaypointUserObject> {
 public:
  HRESULT FinalConstruct() { return vov::detail::CreateInnerLocation(m_pLocation); }

  // Makes the waypoint at `location`, which it then shares with the caller
  // (the object is held, not copied: later changes to it move the waypoint).
  // E_POINTER for a null location. Once a waypoint was made, a call without a
  // heading (-1) answers S_FALSE and changes nothing, so a second mark where
  // no heading is known keeps the first place and turn.
  HRESULT STDMETHODCALLTYPE CreateUserWaypoint(ILocationObject* location, WaypointTurnType turnType,
                                               SHORT headingBeforeTurn) override;
  // The turn type of the waypoint.
  HRESULT STDMETHODCALLTYPE GetTurningInfo(WaypointTurnType* pVal) override;
  HRESULT STDMETHODCALLTYPE GetHeadingWhenCreated(SHORT* pVal) override;
  VOV_TEXT_PROPERTY(StreetNameForward, m_bstrStreetNameForward)
  VOV_FORWARD_LOCATION(m_pLocation)

 private:
  std::unique_ptr<ILocationObject, com::Releaser> m_pLocation;
  bool m_bCreated = false;
  WaypointTurnType m_eTurnType = NoTurn;
  SHORT m_nHeadingWhenCreated = -1;
  com::Bstr m_bstrStreetNameForward;
};
