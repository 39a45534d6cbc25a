// Route requests: the IMap operations that ask for a walking or a driving
// route, the request object, the route thread that runs the router of the
// map-format library and turns its features into WayPoints, the street
// references at the two ends of a request, and the operations over the
// feature references that the last route leaves in m_pWPFeatureIds.
#include "mapengine/object/RouteRequest.h"

#include <exception>
#include <memory>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/format/features/RmfProfile.h"
#include "mapengine/format/route/RmfRoute.h"
#include "mapengine/format/route/RmfRouteSearch.h"
#include "mapengine/object/CMap.h"
#include "mapengine/object/Geometry.h"
#include "mapengine/object/NearestFeature.h"
#include "platform/com/guard.h"
#include "platform/com/variant_array.h"
#include "platform/os/thread.h"

namespace {

// Near-street search at a route end without a heading: features of these
// classes, searched out to this many feet.
constexpr const char* kRouteEndClasses = "567";
constexpr std::int32_t kRouteEndLargestFeet = 15840;
// With a heading: the search in the heading's orientation starts at this many
// feet.
constexpr std::int32_t kRouteEndHeadingFeet = 200;

struct RouteDestroyer {
  void operator()(RmfRoute* route) const noexcept { (void)RmfRouteDestroy(route); }
};
using RouteOwner = std::unique_ptr<RmfRoute, RouteDestroyer>;

// Raises the calling thread's priority for the time of a request and puts
// it back afterwards.
class CallerPriority {
 public:
  explicit CallerPriority(int raised) : saved_(platform::GetCurrentThreadPriority()) {
    (void)platform::SetCurrentThreadPriority(raised);
  }
  ~CallerPriority() { (void)platform::SetCurrentThreadPriority(saved_); }
  CallerPriority(const CallerPriority&) = delete;
  CallerPriority& operator=(const CallerPriority&) = delete;

 private:
  int saved_;
};

// The route as walked. A route between two points of one stretch comes from
// the router as the origin's reference (its point to the stretch's end) and
// the destination's (the stretch's start to its point); followed in turn they
// would jump back over the stretch. Such a route is the one stretch, whole,
// on which the steps find the two points' feet.
std::vector<RmfFeatureRef> WalkedFeatures(const RmfFeatureRef* features, std::int32_t count) {
  std::vector<RmfFeatureRef> walked(features, features + count);
  if (walked.size() == 2) {
    const RmfFeatureRef& a = walked[0];
    const RmfFeatureRef& b = walked[1];
    if (a.featureId == b.featureId && a.source == b.source && a.secondId == b.secondId && a.part == b.part &&
        a.fromVertex == b.fromVertex && a.toVertex == b.toVertex) {
      RmfFeatureRef stretch = a;
      stretch.position = kRmfPositionWhole;
      walked.assign(1, stretch);
    }
  }
  return walked;
}

bool WantsStreetDetails(BSTR* parameters) {
  if (parameters == nullptr) return false;
  return ContainsText(BstrView(*parameters), u"STREET DETAILED");
}

}  // namespace

const std::int32_t* ChooseRouteTurnCosts(RouteTypeAutomatic type, std::int32_t turnPreference,
                                         std::int32_t vehicleMode) {
  if (type == DrivingRoute) {
    if (vehicleMode == CARTOVELRouteVehicleModeShortest) return kWalkingTurnCosts;
    if (turnPreference == CARTOVELRouteTurnFewest) return kFewestTurnsCosts;
    if (turnPreference == CARTOVELRouteTurnFavorsLeft) return kDrivingTurnCostsMirrored;
    return kDrivingTurnCosts;
  }
  return turnPreference == CARTOVELRouteTurnFewest ? kFewestTurnsCosts : kWalkingTurnCosts;
}

std::int32_t FindRouteEndpointRefs(CMap& map, double longitude, double latitude, int role, RmfFeatureRef* out,
                                   int max, std::int32_t heading) {
  RmfReader* reader = map.m_Rdr.get();
  if (reader == nullptr || out == nullptr || max < 1) return 0;
  const TiPoint point = LonLatToMapUnits(longitude, latitude);
  std::vector<RmfFeatureRef> streets;
  if (heading == -1) {
    GetNearbyCrossStreetFeatures(reader, point, 2, kRouteEndLargestFeet, kNearFeaturesLimit, &streets,
                                 kRouteEndClasses);
  } else {
    map.GetFeaturesInHeading(point, kRouteEndHeadingFeet, heading, kNearFeaturesLimit, &streets, kRouteEndClasses);
  }
  std::int32_t count = 0;
  for (const RmfFeatureRef& street : streets) {
    // Each street gives up to two references: stop while both still fit.
    if (count + 2 >= max) break;
    RmfFeatureRef travel[2];
    const std::int32_t n = RmfFeatureTravelRefs(reader, role == kRouteEndOrigin ? 1 : 0, 0, street, travel);
    for (std::int32_t k = 0; k < n && k < 2; ++k) out[count++] = travel[k];
  }
  return count;
}

// ---- the request object ------------------------------------------------------------

CRouteThreadHelper::CRouteThreadHelper() { m_WaypointVector.reserve(kRouteWaypointCapacity); }

CRouteThreadHelper::~CRouteThreadHelper() = default;  // the owners release what is left

HRESULT CRouteThreadHelper::FindRoute(RouteTypeAutomatic inType, INT wpMode, double inOriginLat, double inOriginLon,
                                      double inDestLat, double inDestLon, CARTOVELRouteTurnPreference turnPref,
                                      CARTOVELRouteVehicleMode vehicleMode,
                                      CARTOVELRouteFreewayPreference freewayPref,
                                      CARTOVELRouteRoundaboutPreference roundaboutPref,
                                      CARTOVELRouteTollRoadPreference tollroadPref, VARIANT* pInOutLatLonSteps,
                                      VARIANT_BOOL* outSuccess) {
  if (outSuccess == nullptr) return E_POINTER;
  *outSuccess = VARIANT_FALSE;
  if (m_pMap == nullptr) return E_UNEXPECTED;
  m_pMap->Log(u"      CRouteThreadHelper::FindRoute Started");
  const RouteRequestOptions options{freewayPref, turnPref, roundaboutPref, tollroadPref, vehicleMode};
  const HRESULT hr = com::Guarded([&] {
    if (FindRouteInternal(inType, wpMode, inOriginLon, inOriginLat, inDestLon, inDestLat, options,
                          pInOutLatLonSteps) != 0) {
      *outSuccess = VARIANT_TRUE;
    }
    return S_OK;
  });
  if (FAILED(hr) && pInOutLatLonSteps != nullptr) VariantClear(pInOutLatLonSteps);
  m_pMap->Log(u"      CRouteThreadHelper::FindRoute Exiting");
  return S_OK;
}

int CRouteThreadHelper::FindRouteInternal(RouteTypeAutomatic type, int wpMode, double originLon, double originLat,
                                          double destLon, double destLat, const RouteRequestOptions& options,
                                          VARIANT* result) {
  CMap& map = *m_pMap;
  map.Log(u"        CRouteThreadHelper::FindRouteInternal Started");
  m_dOriginLon = originLon;
  m_dOriginLat = originLat;
  m_dDestLon = destLon;
  m_dDestLat = destLat;
  m_nRouteType = type;
  m_nWaypointMode = wpMode;
  m_Options = options;
  m_bNoOutput = result == nullptr ? 1 : 0;
  m_bRouteCreated = 0;
  m_WaypointVector.clear();

  map.Log(u"        CRouteThreadHelper::CreateThread Started");
  {
    CallerPriority raised(THREAD_PRIORITY_ABOVE_NORMAL);
    platform::Thread thread;
    if (thread.Start(&CRouteThreadHelper::RouteThread, this, kRouteThreadStack)) {
      (void)thread.SetPriority(THREAD_PRIORITY_BELOW_NORMAL);
      thread.Wait(INFINITE);
      thread.Close();
    }
  }
  map.Log(u"        CRouteThreadHelper::CreateThread Exiting");

  if (m_bRouteCreated == 0) {
    map.Log(u"       ****WARNING***CRouteThreadHelper::Route not created.");
    return 0;
  }
  if (m_bNoOutput != 0) return 1;

  const auto count = static_cast<std::int32_t>(m_WaypointVector.size());
  map.LogFormat(u"        CRouteThreadHelper::FindRouteInternal Waypoint Vector created size = %d", {count});
  if (count >= m_nWaypointCapacity) {
    map.Log(u"        ****ERROR****CRouteThreadHelper::FindRouteInternal waypointVector Error Max waypoints reached");
    m_WaypointVector.clear();
    return 0;
  }

  VariantClear(result);
  com::VariantArray array;
  if (FAILED(array.Create(static_cast<std::size_t>(count)))) throw std::bad_alloc();
  for (std::size_t i = 0; i < m_WaypointVector.size(); ++i) {
    if (FAILED(array.PutObject(i, m_WaypointVector[i].get()))) {  // takes its own reference
      m_WaypointVector.clear();
      throw std::bad_alloc();
    }
  }
  m_WaypointVector.clear();  // the array holds them now
  array.MoveTo(result);
  map.Log(u"        CRouteThreadHelper::FindRouteInternal Exiting");
  return m_bRouteCreated;
}

DWORD CRouteThreadHelper::RouteThread(void* argument) {
  auto* self = static_cast<CRouteThreadHelper*>(argument);
  try {
    self->Run();
  } catch (...) {
    // Memory ran out while the steps were built: the request fails as a
    // failed step would, and no feature reference is kept.
    self->m_WaypointVector.clear();
    self->m_bRouteCreated = 0;
    self->m_pMap->m_pWPFeatureIds.clear();
    self->m_pMap->m_nWPFeatureIndex = -1;
    self->m_pMap->Log(u"          ****ERROR****RouteThread::out of memory");
  }
  return 0;
}

void CRouteThreadHelper::Run() {
  CMap& map = *m_pMap;
  RmfReader* reader = map.m_Rdr.get();
  map.Log(u"          RouteThread::Started");
  RmfRoute* made = nullptr;
  if (reader == nullptr || RmfRouteCreate(&made, reader) < 0 || made == nullptr) {
    map.Log(u"          ****ERROR****RouteThread::RmfRouteCreate Error");
    return;
  }
  RouteOwner route(made);
  map.Log(u"          RouteThread::RmfRouteCreate done");
  (void)RmfRouteSetCancelFlag(route.get(), map.RouteCancelFlag());

  const auto type = static_cast<RouteTypeAutomatic>(m_nRouteType);
  const std::int32_t* costs = ChooseRouteTurnCosts(type, m_Options.turnPreference, m_Options.vehicleMode);
  (void)RmfProfileReset(reader);
  (void)RmfRouteSetTurnCosts(route.get(), costs);
  // The filters stay installed after this request: their context is the
  // map's copy of the options, not this object's.
  RouteRequestOptions* options = map.KeepRouteProfileOptions(m_Options);
  if (type == DrivingRoute) {
    (void)RmfProfileSetCallbacks(reader, &DrivingFeatureFilter, &DrivingConnectionFilter, options,
                                 kRmfProfileEngineLimit);
    map.Log(u"          RouteThread::SetRouteDriving done");
  } else {
    (void)RmfProfileSetCallbacks(reader, &WalkingFeatureFilter, &WalkingConnectionFilter, options,
                                 kRmfProfileEngineLimit);
    map.Log(u"          RouteThread::SetRouteWalking done");
    // A walking route never starts from a heading, and clears one that was set.
    map.FindRouteInitialHeading = -1;
  }

  RmfFeatureRef origins[kRouteEndRefsMax];
  const std::int32_t originCount = FindRouteEndpointRefs(map, m_dOriginLon, m_dOriginLat, kRouteEndOrigin, origins,
                                                         kRouteEndRefsMax, map.FindRouteInitialHeading);
  if (originCount < 1) {
    map.Log(u"          ****WARNING***RouteThread::Origin No street found");
    return;
  }
  RmfFeatureRef destinations[kRouteEndRefsMax];
  const std::int32_t destinationCount = FindRouteEndpointRefs(map, m_dDestLon, m_dDestLat, kRouteEndDestination,
                                                              destinations, kRouteEndRefsMax, -1);
  if (destinationCount < 1) {
    map.Log(u"          ****WARNING***RouteThread::Destination No street found");
    return;
  }

  map.Log(u"            RouteThread::(RmfRouteFind) Started");
  const std::int32_t found = RmfRouteFind(route.get(), origins, originCount, destinations, destinationCount);
  map.LogFormat(u"            RouteThread::(RmfRouteFind) Call Ended with %d features found", {found});
  if (found < 1) {
    map.Log(u"          ****WARNING***RouteThread::nFeatureCount invalid no Route");
    return;
  }

  map.Log(u"            RouteThread::(RmfRouteRetrieve) Started");
  std::int32_t retrievedCount = 0;
  RmfFeatureRef* retrievedFeatures = nullptr;
  const std::int32_t retrieved = RmfRouteRetrieve(route.get(), &retrievedCount, &retrievedFeatures);
  map.LogFormat(u"            RouteThread::(RmfRouteRetrieve) Call Ended with %d return code", {retrieved});
  if (retrieved < 1 || retrievedCount < 1 || retrievedFeatures == nullptr) {
    map.Log(u"          RouteThread::(RmfRouteRetrieve) ret value invalid no Route.");
    return;
  }
  const std::vector<RmfFeatureRef> walked = WalkedFeatures(retrievedFeatures, retrievedCount);
  const RmfFeatureRef* features = walked.data();
  const auto count = static_cast<std::int32_t>(walked.size());

  bool keepRefs = true;
  try {
    map.m_pWPFeatureIds.assign(static_cast<std::size_t>(count) + 2, RmfFeatureRef{});
  } catch (const std::bad_alloc&) {
    map.Log(u"          RouteThread::(RmfRouteRetrieve) m_pWPFeatureIds malloc failed");
    map.m_pWPFeatureIds.clear();
    map.m_pWPFeatureIds.shrink_to_fit();
    map.m_nWPFeatureIndex = -1;
    keepRefs = false;
  }

  std::unique_ptr<RouteStepBuilder> steps;
  if (m_bNoOutput == 0) {
    steps = std::make_unique<RouteStepBuilder>(map, m_dOriginLat, m_dOriginLon, m_dDestLat, m_dDestLon,
                                               m_nWaypointMode, features, count);
  }
  std::vector<WayPointOwner> madeSteps;
  for (std::int32_t i = 0; i < count; ++i) {
    if (keepRefs) {
      map.m_pWPFeatureIds[static_cast<std::size_t>(i)] = features[i];
      map.m_nWPFeatureIndex = i;
    }
    if (steps == nullptr) continue;
    madeSteps.clear();
    if (!steps->AddFeatureSteps(i, madeSteps)) {
      // The builder has logged why; nothing of this route is kept.
      m_WaypointVector.clear();
      map.m_pWPFeatureIds.clear();
      map.m_nWPFeatureIndex = -1;
      return;
    }
    for (WayPointOwner& step : madeSteps) {
      // A step beyond the capacity is dropped (its owner releases it).
      if (static_cast<std::int32_t>(m_WaypointVector.size()) < m_nWaypointCapacity) {
        m_WaypointVector.push_back(std::move(step));
      }
    }
  }

  route.reset();
  m_bRouteCreated = 1;
  map.Log(u"          RouteThread::Exiting Normally");
}

// ---- CMap ------------------------------------------------------------------------------

void CMap::FindRoute(RouteTypeAutomatic type, INT waypointMode, double originLat, double originLon, double destLat,
                     double destLon, CARTOVELRouteTurnPreference turnPref, CARTOVELRouteVehicleMode vehicleMode,
                     CARTOVELRouteFreewayPreference freewayPref, CARTOVELRouteRoundaboutPreference roundaboutPref,
                     CARTOVELRouteTollRoadPreference tollroadPref, VARIANT* result) noexcept {
  // The navigation engine calls under its own lock; this one only keeps a
  // second caller (or CleanUp) from running into a request in progress.
  std::lock_guard<std::mutex> hold(m_RouteRequestLock);
  m_RouteCancel.store(0);
  Log(u"    CMap::FindRoute enter");
  if (result != nullptr) VariantClear(result);
  m_pWPFeatureIds.clear();
  m_pWPFeatureIds.shrink_to_fit();
  m_nWPFeatureIndex = -1;
  CRouteThreadHelper* request = nullptr;
  if (SUCCEEDED(CRouteThreadHelper::CreateObject(&request))) {
    std::unique_ptr<CRouteThreadHelper, com::Releaser> owner(request);
    request->SetMap(this);
    VARIANT_BOOL success = VARIANT_FALSE;
    (void)request->FindRoute(type, waypointMode, originLat, originLon, destLat, destLon, turnPref, vehicleMode,
                             freewayPref, roundaboutPref, tollroadPref, result, &success);
  }
  Log(u"    CMap::FindRoute exit");
}

HRESULT CMap::FindWalkingRoute(double inOriginLat, double inOriginLon, double inDestLat, double inDestLon,
                               BSTR* pInParameters, CARTOVELRouteTurnPreference inTurnPref,
                               CARTOVELRouteRoundaboutPreference inRoundaboutPref, VARIANT* pInOutLatLonSteps) {
  m_bStreetDetailed = WantsStreetDetails(pInParameters) ? 1 : 0;
  FindRoute(WalkingRoute, m_nRouteWaypointMode, inOriginLat, inOriginLon, inDestLat, inDestLon, inTurnPref,
            CARTOVELRouteVehicleModeMixedPedestrian, CARTOVELRouteFreewayNone, inRoundaboutPref,
            CARTOVELRouteTollRoadNone, pInOutLatLonSteps);
  return S_OK;
}

HRESULT CMap::FindDrivingRoute(double inOriginLat, double inOriginLon, double inDestLat, double inDestLon,
                               BSTR* pInParameters, CARTOVELRouteVehicleMode inVehicleMode,
                               CARTOVELRouteTurnPreference inTurnPref, CARTOVELRouteFreewayPreference inFreewayPref,
                               CARTOVELRouteRoundaboutPreference inRoundaboutPref,
                               CARTOVELRouteTollRoadPreference inTollroadPref, VARIANT* pInOutLatLonSteps) {
  m_bStreetDetailed = WantsStreetDetails(pInParameters) ? 1 : 0;
  FindRoute(DrivingRoute, m_nRouteWaypointMode, inOriginLat, inOriginLon, inDestLat, inDestLon, inTurnPref,
            inVehicleMode, inFreewayPref, inRoundaboutPref, inTollroadPref, pInOutLatLonSteps);
  return S_OK;
}

HRESULT CMap::RouteClose() {
  m_pWPFeatureIds.clear();
  m_pWPFeatureIds.shrink_to_fit();
  m_nWPFeatureIndex = -1;
  return S_OK;
}

HRESULT CMap::UpdateFeatureIdsForRoute(RouteTypeAutomatic inRouteType, CARTOVELRouteTurnPreference inTurnPref,
                                       CARTOVELRouteVehicleMode inVehicleMode,
                                       CARTOVELRouteFreewayPreference inFreewayPref,
                                       CARTOVELRouteRoundaboutPreference inRoundaboutPref,
                                       CARTOVELRouteTollRoadPreference inTollroadPref, double inOriginLat,
                                       double inOriginLon, double inDestLat, double inDestLon,
                                       SHORT inLastFeatureIndex, SHORT inInitialHeading,
                                       VARIANT_BOOL* outFeaturesCreated) {
  if (outFeaturesCreated == nullptr) return E_POINTER;
  Log(u"UpdateFeatureIdsForRoute::Enter");
  *outFeaturesCreated = VARIANT_FALSE;
  FindRouteInitialHeading = inInitialHeading;
  // Waypoint mode 0 and no result: only m_pWPFeatureIds is rebuilt.
  FindRoute(inRouteType, 0, inOriginLat, inOriginLon, inDestLat, inDestLon, inTurnPref, inVehicleMode, inFreewayPref,
            inRoundaboutPref, inTollroadPref, nullptr);
  const auto features = static_cast<std::int32_t>(m_nWPFeatureIndex) + 1;
  if (!m_pWPFeatureIds.empty() && features == static_cast<std::int32_t>(inLastFeatureIndex) + 1) {
    *outFeaturesCreated = VARIANT_TRUE;
    Log(u"UpdateFeatureIdsForRoute::Exit OK");
  } else {
    Log(u"UpdateFeatureIdsForRoute: number Features did not match original route.");
    m_pWPFeatureIds.clear();
    m_pWPFeatureIds.shrink_to_fit();
    m_nWPFeatureIndex = -1;
  }
  return S_OK;
}
