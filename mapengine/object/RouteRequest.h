// One route request of the map engine: the request object that carries the
// positions, the preferences and the result of one search, and the route
// thread that drives the map-format library's router for it and turns the
// route's features into WayPoints.
//
// CMap::FindRoute makes one request object per request and waits for it;
// the search runs on a thread of its own with a large stack, at a priority
// below the caller's. It stops early, with the router's code, when the
// engine's cancel flag is raised (by CMap::CleanUp).
#pragma once

#include <cstdint>
#include <vector>

#include "typelib/CartovelLib.h"
#include "mapengine/object/RouteFilters.h"
#include "mapengine/object/RouteSteps.h"
#include "platform/com/atl.h"

class CMap;

// WayPoints a request holds at most; a route that needs as many fails.
inline constexpr std::int32_t kRouteWaypointCapacity = 10000;
// Stack the route thread reserves: the search and the step building keep
// large buffers on it.
inline constexpr std::size_t kRouteThreadStack = 0xD0000;

// The turn-cost table of a request: the walking table for a driving route of
// vehicle mode Shortest whatever the turn preference, else the fewest-turns
// table for turn preference Fewest, else for driving the mirrored table
// when left turns are favoured and the default one otherwise, and for
// walking the walking table.
const std::int32_t* ChooseRouteTurnCosts(RouteTypeAutomatic type, std::int32_t turnPreference,
                                         std::int32_t vehicleMode);

class CRouteThreadHelper final : public com::ComClass<CRouteThreadHelper, IRouteThreadHelper> {
 public:
  CRouteThreadHelper();
  ~CRouteThreadHelper() override;

  // IRouteThreadHelper. Answers S_OK; outSuccess tells whether a route was
  // made (E_POINTER for a null outSuccess).
  HRESULT STDMETHODCALLTYPE FindRoute(RouteTypeAutomatic inType, INT wpMode, double inOriginLat, double inOriginLon,
                                      double inDestLat, double inDestLon, CARTOVELRouteTurnPreference turnPref,
                                      CARTOVELRouteVehicleMode vehicleMode,
                                      CARTOVELRouteFreewayPreference freewayPref,
                                      CARTOVELRouteRoundaboutPreference roundaboutPref,
                                      CARTOVELRouteTollRoadPreference tollroadPref, VARIANT* pInOutLatLonSteps,
                                      VARIANT_BOOL* outSuccess) override;

  // The engine that asks; set before FindRoute.
  void SetMap(CMap* map) { m_pMap = map; }

  // Runs the request on the route thread and fills the result (longitude
  // before latitude): 1 for a route (with no result VARIANT: for a route
  // whose feature references were kept), else 0.
  int FindRouteInternal(RouteTypeAutomatic type, int wpMode, double originLon, double originLat, double destLon,
                        double destLat, const RouteRequestOptions& options, VARIANT* result);

  // The thread function; `argument` is the request object.
  static DWORD RouteThread(void* argument);

 private:
  void Run();

  CMap* m_pMap = nullptr;
  double m_dOriginLon = 0.0;
  double m_dOriginLat = 0.0;
  double m_dDestLon = 0.0;
  double m_dDestLat = 0.0;
  std::int32_t m_nRouteType = 0;
  std::int32_t m_nWaypointCapacity = kRouteWaypointCapacity;
  std::vector<WayPointOwner> m_WaypointVector;  // its size is the count
  std::int32_t m_bRouteCreated = 0;
  std::int32_t m_nWaypointMode = 1;
  std::int32_t m_bNoOutput = 0;
  RouteRequestOptions m_Options{};
};
