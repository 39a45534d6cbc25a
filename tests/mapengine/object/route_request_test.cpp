// Route requests on the town: the turn-cost table a request chooses, what a
// walking and a driving request leave behind (result, feature references,
// heading, log), one-way streets, request after request, a request cut short
// by CleanUp from another thread, and the operations over the references of
// the last route.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mapengine/format/features/RmfFeatureAttr.h"
#include "mapengine/object/CMap.h"
#include "mapengine/object/Geometry.h"
#include "mapengine/object/RouteRequest.h"
#include "tests/mapengine/object/map_engine_fixture.h"
#include "tests/mapengine/object/town_fixture.h"

namespace {

TEST(RouteTurnCostsTest, EachRequestGetsItsTable) {
  struct Case {
    RouteTypeAutomatic type;
    CARTOVELRouteTurnPreference turn;
    CARTOVELRouteVehicleMode vehicle;
    const std::int32_t* table;
  };
  const Case cases[] = {
      {WalkingRoute, CARTOVELRouteTurnAutomatic, CARTOVELRouteVehicleModeMixedPedestrian, kWalkingTurnCosts},
      {WalkingRoute, CARTOVELRouteTurnFavorsLeft, CARTOVELRouteVehicleModeMixedPedestrian, kWalkingTurnCosts},
      {WalkingRoute, CARTOVELRouteTurnFewest, CARTOVELRouteVehicleModeMixedPedestrian, kFewestTurnsCosts},
      {DrivingRoute, CARTOVELRouteTurnAutomatic, CARTOVELRouteVehicleModeFastest, kDrivingTurnCosts},
      {DrivingRoute, CARTOVELRouteTurnFavorsRight, CARTOVELRouteVehicleModeFastest, kDrivingTurnCosts},
      {DrivingRoute, CARTOVELRouteTurnFavorsLeft, CARTOVELRouteVehicleModeFastest, kDrivingTurnCostsMirrored},
      {DrivingRoute, CARTOVELRouteTurnFewest, CARTOVELRouteVehicleModeFastest, kFewestTurnsCosts},
      {DrivingRoute, CARTOVELRouteTurnFewest, CARTOVELRouteVehicleModeMixedPedestrian, kFewestTurnsCosts},
      // The shortest route takes the walking table, even for the fewest turns.
      {DrivingRoute, CARTOVELRouteTurnFewest, CARTOVELRouteVehicleModeShortest, kWalkingTurnCosts},
      {DrivingRoute, CARTOVELRouteTurnFavorsLeft, CARTOVELRouteVehicleModeShortest, kWalkingTurnCosts},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChooseRouteTurnCosts(c.type, c.turn, c.vehicle), c.table)
        << "type " << c.type << " turn " << c.turn << " vehicle " << c.vehicle;
  }
}

TEST(RouteTurnCostsTest, TheMirroredTableFavoursLeftTurnsAsTheDefaultFavoursRightOnes) {
  for (int k = 0; k < kRmfTurnSectors; ++k) {
    EXPECT_EQ(kDrivingTurnCostsMirrored[k], kDrivingTurnCosts[(kRmfTurnSectors - k) % kRmfTurnSectors]) << k;
  }
  // Sector 2 is a left turn, 14 the right turn of the same angle.
  EXPECT_LT(kDrivingTurnCosts[14], kDrivingTurnCosts[2]);
  EXPECT_LT(kDrivingTurnCostsMirrored[2], kDrivingTurnCostsMirrored[14]);
}

// Degrees of a town position.
DegreePoint Where(TiPoint p) { return MapUnitsToDegrees(p.x, p.y); }

// On Schulstraße's one-way block (eastwards, between Ahornstraße and
// Buchenstraße): a point near its eastern end and one near its western end.
const TiPoint kOneWayEast = town::Pt(1100, town::kSchulY);
const TiPoint kOneWayWest = town::Pt(500, town::kSchulY);

class RouteRequestTest : public MapEngineTest {
 protected:
  void SetUp() override {
    MapEngineTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(OpenBuiltMap(town::TownMap(), "town.rmf"));
    debugOutput_.clear();
  }

  HRESULT Walk(TiPoint from, TiPoint to, VARIANT* result, BSTR* parameters = nullptr,
               CARTOVELRouteTurnPreference turn = CARTOVELRouteTurnAutomatic) {
    const DegreePoint a = Where(from);
    const DegreePoint b = Where(to);
    return map_->FindWalkingRoute(a.latitude, a.longitude, b.latitude, b.longitude, parameters, turn,
                                  CARTOVELRouteRoundaboutNormal, result);
  }
  HRESULT Drive(TiPoint from, TiPoint to, VARIANT* result, BSTR* parameters = nullptr) {
    const DegreePoint a = Where(from);
    const DegreePoint b = Where(to);
    return map_->FindDrivingRoute(a.latitude, a.longitude, b.latitude, b.longitude, parameters,
                                  CARTOVELRouteVehicleModeFastest, CARTOVELRouteTurnAutomatic,
                                  CARTOVELRouteFreewayNormal, CARTOVELRouteRoundaboutNormal,
                                  CARTOVELRouteTollRoadNormal, result);
  }

  // The features the last route kept, in route order.
  std::vector<RmfFeatureRef> RouteFeatures() const {
    const auto n = static_cast<std::size_t>(map_->m_nWPFeatureIndex + 1);
    EXPECT_LE(n, map_->m_pWPFeatureIds.size());
    return {map_->m_pWPFeatureIds.begin(), map_->m_pWPFeatureIds.begin() + static_cast<std::ptrdiff_t>(n)};
  }
  // The points of a route feature in the direction it is travelled.
  std::vector<TiPoint> PointsOf(const RmfFeatureRef& ref) const {
    TiPoint* points = nullptr;
    const std::int32_t n = RmfFeatureRefPoints(map_->m_Rdr.get(), ref, &points);
    EXPECT_GE(n, 2);
    return n > 0 ? std::vector<TiPoint>(points, points + n) : std::vector<TiPoint>{};
  }

  // The debug lines without the line breaks written apart from them.
  std::vector<std::u16string> LogLines() const {
    std::vector<std::u16string> lines;
    for (const std::u16string& line : debugOutput_) {
      if (line != u"\n") lines.push_back(line);
    }
    return lines;
  }
  bool Logged(std::u16string_view line) const {
    for (const std::u16string& l : debugOutput_) {
      if (l == line) return true;
    }
    return false;
  }
  // Whether `expected` appear in this order among the log lines.
  ::testing::AssertionResult LoggedInOrder(const std::vector<std::u16string>& expected) const {
    const std::vector<std::u16string> lines = LogLines();
    std::size_t next = 0;
    for (const std::u16string& line : lines) {
      if (next < expected.size() && line == expected[next]) ++next;
    }
    if (next == expected.size()) return ::testing::AssertionSuccess();
    std::string all;
    for (const std::u16string& line : lines) all += platform::Utf16ToUtf8(line) + "\n";
    return ::testing::AssertionFailure() << "missing in order: \"" << platform::Utf16ToUtf8(expected[next])
                                         << "\"; the log:\n"
                                         << all;
  }
  // The number n of "<prefix>n<suffix>" in the log; -1000 when absent.
  int LoggedNumber(std::u16string_view prefix, std::u16string_view suffix) const {
    for (const std::u16string& l : debugOutput_) {
      if (l.size() > prefix.size() + suffix.size() && l.starts_with(prefix) && l.ends_with(suffix)) {
        return std::stoi(platform::Utf16ToUtf8(l.substr(prefix.size(), l.size() - prefix.size() - suffix.size())));
      }
    }
    return -1000;
  }
};

LONG ElementCount(const VARIANT& v) {
  LONG lower = 0, upper = -1;
  SafeArrayGetLBound(v.parray, 1, &lower);
  SafeArrayGetUBound(v.parray, 1, &upper);
  return upper - lower + 1;
}

TEST_F(RouteRequestTest, AWalkingRouteLogsEachStageAndKeepsItsFeatures) {
  VARIANT result;
  VariantInit(&result);
  ASSERT_EQ(Walk(town::Pt(1600, town::kGartenY), town::Pt(2800, 1200), &result), S_OK);
  ASSERT_EQ(result.vt, VT_ARRAY | VT_VARIANT);
  const int features = LoggedNumber(u"            RouteThread::(RmfRouteFind) Call Ended with ", u" features found");
  ASSERT_GE(features, 2) << "Gartenstraße then Lindenstraße at least";
  EXPECT_TRUE(LoggedInOrder({
      u"    CMap::FindRoute enter",
      u"      CRouteThreadHelper::FindRoute Started",
      u"        CRouteThreadHelper::FindRouteInternal Started",
      u"        CRouteThreadHelper::CreateThread Started",
      u"          RouteThread::Started",
      u"          RouteThread::RmfRouteCreate done",
      u"          RouteThread::SetRouteWalking done",
      u"            RouteThread::(RmfRouteFind) Started",
      u"            RouteThread::(RmfRouteFind) Call Ended with " + platform::Utf8ToUtf16(std::to_string(features)) +
          u" features found",
      u"            RouteThread::(RmfRouteRetrieve) Started",
      u"            RouteThread::(RmfRouteRetrieve) Call Ended with 1 return code",
      u"          RouteThread::Exiting Normally",
      u"        CRouteThreadHelper::CreateThread Exiting",
      u"        CRouteThreadHelper::FindRouteInternal Exiting",
      u"      CRouteThreadHelper::FindRoute Exiting",
      u"    CMap::FindRoute exit",
  }));
  EXPECT_EQ(ElementCount(result),
            LoggedNumber(u"        CRouteThreadHelper::FindRouteInternal Waypoint Vector created size = ", u""))
      << "every WayPoint made is in the result";
  // Room for two more than the route's features, the index on the last one.
  EXPECT_EQ(map_->m_nWPFeatureIndex, features - 1);
  EXPECT_EQ(map_->m_pWPFeatureIds.size(), static_cast<std::size_t>(features) + 2);
  const std::vector<RmfFeatureRef> route = RouteFeatures();
  const std::vector<TiPoint> first = PointsOf(route.front());
  const std::vector<TiPoint> last = PointsOf(route.back());
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(last.empty());
  EXPECT_EQ(first.front().y, town::Pt(0, town::kGartenY).y) << "the route starts on Gartenstraße";
  EXPECT_EQ(last.back().x, town::Pt(town::kLindenX, 0).x) << "and ends on Lindenstraße";
  VariantClear(&result);
}

TEST_F(RouteRequestTest, ADrivingRouteObeysTheOneWayBlockAndAWalkingRouteDoesNot) {
  const std::int32_t blockY = town::Pt(0, town::kSchulY).y;
  const std::int32_t ahornX = town::Pt(town::kAhornX, 0).x;
  const std::int32_t buchenX = town::Pt(town::kBuchenX, 0).x;
  const auto onBlock = [&](const std::vector<TiPoint>& points) {
    for (const TiPoint& p : points) {
      if (p.y != blockY || p.x < ahornX || p.x > buchenX) return false;
    }
    return true;
  };

  // Walking from the eastern end of the block to its western end: straight
  // along it, against its direction.
  VARIANT result;
  VariantInit(&result);
  ASSERT_EQ(Walk(kOneWayEast, kOneWayWest, &result), S_OK);
  ASSERT_EQ(result.vt, VT_ARRAY | VT_VARIANT);
  VariantClear(&result);
  const std::vector<RmfFeatureRef> walked = RouteFeatures();
  ASSERT_FALSE(walked.empty());
  for (const RmfFeatureRef& ref : walked) {
    const std::vector<TiPoint> points = PointsOf(ref);
    EXPECT_TRUE(onBlock(points)) << "the walk stays on the block";
    ASSERT_FALSE(points.empty());
    EXPECT_GT(points.front().x, points.back().x) << "westwards";
  }

  // Driving the same way: off the block first, round the blocks, and back
  // onto it from Ahornstraße; wherever the block is used, eastwards.
  ASSERT_EQ(Drive(kOneWayEast, kOneWayWest, &result), S_OK);
  ASSERT_EQ(result.vt, VT_ARRAY | VT_VARIANT);
  VariantClear(&result);
  const std::vector<RmfFeatureRef> driven = RouteFeatures();
  ASSERT_GE(driven.size(), 3u);
  bool leftTheBlock = false;
  for (const RmfFeatureRef& ref : driven) {
    const std::vector<TiPoint> points = PointsOf(ref);
    ASSERT_FALSE(points.empty());
    if (onBlock(points)) {
      EXPECT_LE(points.front().x, points.back().x) << "the one-way block is driven eastwards only";
    } else {
      leftTheBlock = true;
    }
  }
  EXPECT_TRUE(leftTheBlock);
}

TEST_F(RouteRequestTest, AWalkingRouteClearsTheInitialHeadingADrivingRouteKeepsIt) {
  VARIANT result;
  VariantInit(&result);
  ASSERT_EQ(map_->put_FindRouteInitialHeading(town::kEast), S_OK);
  ASSERT_EQ(Drive(town::Pt(1600, town::kSchulY), town::Pt(2800, 1200), &result), S_OK);
  EXPECT_EQ(result.vt, VT_ARRAY | VT_VARIANT);
  EXPECT_EQ(map_->FindRouteInitialHeading, town::kEast);
  VariantClear(&result);

  ASSERT_EQ(Walk(town::Pt(1600, town::kSchulY), town::Pt(2800, 1200), &result), S_OK);
  EXPECT_EQ(result.vt, VT_ARRAY | VT_VARIANT);
  EXPECT_EQ(map_->FindRouteInitialHeading, -1);
  VariantClear(&result);
}

TEST_F(RouteRequestTest, TheInitialHeadingIsTakenModulo360) {
  struct Case {
    LONG given;
    std::int32_t kept;
  };
  const Case cases[] = {{-1, -1}, {0, 0}, {450, 90}, {-90, 270}, {-721, 359}, {0x7FFFFFFF, 127}, {-0x7FFFFFFF - 1, 232}};
  for (const Case& c : cases) {
    ASSERT_EQ(map_->put_FindRouteInitialHeading(c.given), S_OK);
    EXPECT_EQ(map_->FindRouteInitialHeading, c.kept) << c.given;
  }
  // A driving route from a heading beyond a turn is the one from the heading.
  VARIANT reduced;
  VARIANT turned;
  VariantInit(&reduced);
  VariantInit(&turned);
  ASSERT_EQ(map_->put_FindRouteInitialHeading(town::kEast), S_OK);
  ASSERT_EQ(Drive(town::Pt(1600, town::kSchulY), town::Pt(2800, 1200), &reduced), S_OK);
  const std::vector<RmfFeatureRef> first = map_->m_pWPFeatureIds;
  ASSERT_EQ(map_->put_FindRouteInitialHeading(town::kEast + 360 * 1000), S_OK);
  ASSERT_EQ(Drive(town::Pt(1600, town::kSchulY), town::Pt(2800, 1200), &turned), S_OK);
  EXPECT_EQ(reduced.vt, VT_ARRAY | VT_VARIANT);
  EXPECT_EQ(turned.vt, VT_ARRAY | VT_VARIANT);
  ASSERT_EQ(map_->m_pWPFeatureIds.size(), first.size());
  for (std::size_t i = 0; i < first.size(); ++i) {
    EXPECT_EQ(map_->m_pWPFeatureIds[i].featureId, first[i].featureId) << i;
  }
  VariantClear(&reduced);
  VariantClear(&turned);
}

TEST_F(RouteRequestTest, TheStreetDetailedFlagFollowsTheParameters) {
  struct Case {
    const char16_t* parameters;  // null: no BSTR pointer
    std::uint8_t flag;
  };
  const Case cases[] = {
      {u"STREET DETAILED", 1}, {u"X;STREET DETAILED;Y", 1}, {u"street detailed", 0}, {u"", 0}, {nullptr, 0}};
  for (const Case& c : cases) {
    for (bool walking : {true, false}) {
      BSTR parameters = c.parameters != nullptr ? SysAllocString(c.parameters) : nullptr;
      map_->m_bStreetDetailed = c.flag == 0 ? 1 : 0;
      VARIANT result;
      VariantInit(&result);
      BSTR* p = c.parameters != nullptr ? &parameters : nullptr;
      ASSERT_EQ(walking ? Walk(kOneWayWest, kOneWayEast, &result, p) : Drive(kOneWayWest, kOneWayEast, &result, p),
                S_OK);
      EXPECT_EQ(map_->m_bStreetDetailed, c.flag) << (walking ? "walking " : "driving ")
                                                 << (c.parameters ? platform::Utf16ToUtf8(c.parameters) : "null");
      VariantClear(&result);
      SysFreeString(parameters);
    }
  }
}

TEST_F(RouteRequestTest, WithoutAResultOnlyTheFeatureReferencesAreRefreshed) {
  map_->FindRoute(WalkingRoute, 1, Where(kOneWayEast).latitude, Where(kOneWayEast).longitude,
                  Where(town::Pt(2800, 1200)).latitude, Where(town::Pt(2800, 1200)).longitude,
                  CARTOVELRouteTurnAutomatic, CARTOVELRouteVehicleModeMixedPedestrian, CARTOVELRouteFreewayNone,
                  CARTOVELRouteRoundaboutNormal, CARTOVELRouteTollRoadNone, nullptr);
  EXPECT_GE(map_->m_nWPFeatureIndex, 1);
  EXPECT_EQ(map_->m_pWPFeatureIds.size(), static_cast<std::size_t>(map_->m_nWPFeatureIndex) + 3);
  EXPECT_TRUE(Logged(u"          RouteThread::Exiting Normally"));
  EXPECT_FALSE(Logged(u"       ****WARNING***CRouteThreadHelper::Route not created."));
  for (const std::u16string& line : debugOutput_) {
    EXPECT_EQ(line.find(u"Waypoint Vector created"), std::u16string::npos) << "no WayPoints are handed out";
  }
}

TEST_F(RouteRequestTest, NoStreetNearTheOriginEndsTheRequestBeforeTheDestination) {
  // A previous route's references go with the new request.
  VARIANT result;
  VariantInit(&result);
  ASSERT_EQ(Walk(kOneWayEast, kOneWayWest, &result), S_OK);
  ASSERT_FALSE(map_->m_pWPFeatureIds.empty());
  debugOutput_.clear();

  // About 20 km north of the town: far beyond the 3 miles searched.
  const TiPoint nowhere = town::Pt(0, 150000);
  ASSERT_EQ(Walk(nowhere, kOneWayWest, &result), S_OK);
  EXPECT_EQ(result.vt, VT_EMPTY);
  EXPECT_TRUE(map_->m_pWPFeatureIds.empty());
  EXPECT_EQ(map_->m_nWPFeatureIndex, -1);
  EXPECT_TRUE(LoggedInOrder({u"          ****WARNING***RouteThread::Origin No street found",
                             u"        CRouteThreadHelper::CreateThread Exiting",
                             u"       ****WARNING***CRouteThreadHelper::Route not created.",
                             u"    CMap::FindRoute exit"}));
  EXPECT_FALSE(Logged(u"          ****WARNING***RouteThread::Destination No street found"));
  EXPECT_FALSE(Logged(u"            RouteThread::(RmfRouteFind) Started"));

  debugOutput_.clear();
  ASSERT_EQ(Drive(kOneWayWest, nowhere, &result), S_OK);
  EXPECT_EQ(result.vt, VT_EMPTY);
  EXPECT_TRUE(Logged(u"          ****WARNING***RouteThread::Destination No street found"));
  EXPECT_FALSE(Logged(u"            RouteThread::(RmfRouteFind) Started"));
}

TEST_F(RouteRequestTest, WithoutMapsTheRouteCannotBeCreated) {
  ASSERT_EQ(map_->CleanUp(), S_OK);
  debugOutput_.clear();
  VARIANT result;
  VariantInit(&result);
  ASSERT_EQ(Walk(kOneWayEast, kOneWayWest, &result), S_OK);
  EXPECT_EQ(result.vt, VT_EMPTY);
  EXPECT_TRUE(LoggedInOrder({u"          RouteThread::Started",
                             u"          ****ERROR****RouteThread::RmfRouteCreate Error",
                             u"       ****WARNING***CRouteThreadHelper::Route not created."}));
}

TEST_F(RouteRequestTest, UpdateFeatureIdsForRouteComparesTheFeatureCount) {
  VARIANT result;
  VariantInit(&result);
  const TiPoint to = town::Pt(2800, 1200);
  ASSERT_EQ(Walk(kOneWayEast, to, &result), S_OK);
  VariantClear(&result);
  const std::vector<RmfFeatureRef> original = RouteFeatures();
  ASSERT_GE(original.size(), 2u);
  const auto last = static_cast<SHORT>(original.size() - 1);

  const DegreePoint a = Where(kOneWayEast);
  const DegreePoint b = Where(to);
  const auto update = [&](SHORT lastIndex, SHORT heading) {
    VARIANT_BOOL created = VARIANT_TRUE;
    EXPECT_EQ(map_->UpdateFeatureIdsForRoute(WalkingRoute, CARTOVELRouteTurnAutomatic,
                                             CARTOVELRouteVehicleModeMixedPedestrian, CARTOVELRouteFreewayNone,
                                             CARTOVELRouteRoundaboutNormal, CARTOVELRouteTollRoadNone, a.latitude,
                                             a.longitude, b.latitude, b.longitude, lastIndex, heading, &created),
              S_OK);
    return created;
  };

  // The same route again: its references are kept; a walking route ignores
  // the heading (and clears it).
  debugOutput_.clear();
  EXPECT_EQ(update(last, town::kNorth), VARIANT_TRUE);
  EXPECT_TRUE(Logged(u"UpdateFeatureIdsForRoute::Exit OK"));
  EXPECT_EQ(map_->FindRouteInitialHeading, -1);
  const std::vector<RmfFeatureRef> again = RouteFeatures();
  ASSERT_EQ(again.size(), original.size());
  for (std::size_t i = 0; i < again.size(); ++i) {
    EXPECT_EQ(again[i].featureId, original[i].featureId);
    EXPECT_EQ(again[i].secondId, original[i].secondId);
  }

  // A count that does not match: nothing is kept.
  debugOutput_.clear();
  EXPECT_EQ(update(static_cast<SHORT>(last + 1), -1), VARIANT_FALSE);
  EXPECT_TRUE(Logged(u"UpdateFeatureIdsForRoute: number Features did not match original route."));
  EXPECT_TRUE(map_->m_pWPFeatureIds.empty());
  EXPECT_EQ(map_->m_nWPFeatureIndex, -1);

  // No route at all does not match a route of one feature... nor of none.
  const TiPoint nowhere = town::Pt(0, 150000);
  const DegreePoint far = Where(nowhere);
  VARIANT_BOOL created = VARIANT_TRUE;
  EXPECT_EQ(map_->UpdateFeatureIdsForRoute(WalkingRoute, CARTOVELRouteTurnAutomatic,
                                           CARTOVELRouteVehicleModeMixedPedestrian, CARTOVELRouteFreewayNone,
                                           CARTOVELRouteRoundaboutNormal, CARTOVELRouteTollRoadNone, far.latitude,
                                           far.longitude, b.latitude, b.longitude, -1, -1, &created),
            S_OK);
  EXPECT_EQ(created, VARIANT_FALSE);

  EXPECT_EQ(map_->UpdateFeatureIdsForRoute(WalkingRoute, CARTOVELRouteTurnAutomatic,
                                           CARTOVELRouteVehicleModeMixedPedestrian, CARTOVELRouteFreewayNone,
                                           CARTOVELRouteRoundaboutNormal, CARTOVELRouteTollRoadNone, a.latitude,
                                           a.longitude, b.latitude, b.longitude, last, -1, nullptr),
            E_POINTER);
}

TEST_F(RouteRequestTest, RouteCloseFreesTheReferences) {
  VARIANT result;
  VariantInit(&result);
  ASSERT_EQ(Walk(kOneWayEast, kOneWayWest, &result), S_OK);
  VariantClear(&result);
  ASSERT_FALSE(map_->m_pWPFeatureIds.empty());
  EXPECT_EQ(map_->RouteClose(), S_OK);
  EXPECT_TRUE(map_->m_pWPFeatureIds.empty());
  EXPECT_EQ(map_->m_nWPFeatureIndex, -1);
  EXPECT_EQ(map_->RouteClose(), S_OK) << "twice is harmless";
}

TEST_F(RouteRequestTest, AThousandRequestsInARow) {
  const TiPoint ends[][2] = {{kOneWayEast, kOneWayWest}, {town::Pt(1600, town::kGartenY), town::Pt(2800, 1200)}};
  for (int i = 0; i < 1000; ++i) {
    const TiPoint* e = ends[(i / 2) % 2];
    VARIANT result;
    VariantInit(&result);
    const HRESULT hr = i % 2 == 0 ? Walk(e[0], e[1], &result) : Drive(e[0], e[1], &result);
    ASSERT_EQ(hr, S_OK) << i;
    ASSERT_EQ(result.vt, VT_ARRAY | VT_VARIANT) << i;
    ASSERT_GE(map_->m_nWPFeatureIndex, 0) << i;
    VariantClear(&result);
    debugOutput_.clear();
  }
}

// Holds the route thread when its search is about to start until the engine
// has been asked to stop, so that CleanUp meets a request in progress.
class BlockedSearch {
 public:
  explicit BlockedSearch(CMap* map) : map_(map) {
    platform::SetDebugOutputSink([this](const std::u16string& line) { OnLine(line); });
  }
  ~BlockedSearch() { platform::SetDebugOutputSink({}); }

  void WaitUntilSearching() {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [this] { return searching_; });
  }
  std::vector<std::u16string> Lines() {
    std::lock_guard<std::mutex> hold(lock_);
    return lines_;
  }
  bool Has(std::u16string_view line) {
    std::lock_guard<std::mutex> hold(lock_);
    for (const std::u16string& l : lines_) {
      if (l == line) return true;
    }
    return false;
  }

 private:
  void OnLine(const std::u16string& line) {
    bool hold = false;
    {
      std::lock_guard<std::mutex> guard(lock_);
      lines_.push_back(line);
      if (line == u"            RouteThread::(RmfRouteFind) Started" && !searching_) {
        searching_ = true;
        hold = true;
      }
    }
    changed_.notify_all();
    if (!hold) return;
    // The flag is raised by CleanUp on its own thread; nothing else to wait on.
    while (!map_->RouteCancelRequested()) std::this_thread::yield();
  }

  CMap* map_;
  std::mutex lock_;
  std::condition_variable changed_;
  bool searching_ = false;
  std::vector<std::u16string> lines_;
};

TEST_F(RouteRequestTest, CleanUpDuringARequestStopsTheSearchAndWaitsForIt) {
  BlockedSearch blocked(map_);
  VARIANT result;
  VariantInit(&result);
  HRESULT walked = E_FAIL;
  std::thread request([&] { walked = Walk(kOneWayEast, town::Pt(2800, 1200), &result); });
  blocked.WaitUntilSearching();

  bool requestEndedFirst = false;
  std::thread cleaner([&] {
    EXPECT_EQ(map_->CleanUp(), S_OK);
    requestEndedFirst = blocked.Has(u"    CMap::FindRoute exit");
  });
  cleaner.join();
  request.join();

  EXPECT_TRUE(requestEndedFirst) << "CleanUp returned while the request was still running";
  EXPECT_EQ(walked, S_OK);
  EXPECT_EQ(result.vt, VT_EMPTY) << "a cancelled search gives no route";
  EXPECT_TRUE(blocked.Has(u"            RouteThread::(RmfRouteFind) Call Ended with -1 features found"))
      << "the router's cancel code";
  EXPECT_TRUE(blocked.Has(u"       ****WARNING***CRouteThreadHelper::Route not created."));
  EXPECT_EQ(map_->m_Rdr.get(), nullptr) << "CleanUp went on once the request had ended";
  EXPECT_TRUE(map_->m_pWPFeatureIds.empty());
  EXPECT_FALSE(map_->RouteCancelRequested()) << "the flag does not stay raised for the next request";
}

TEST_F(RouteRequestTest, ASecondRequestWaitsForTheFirstAndIsAnsweredNormally) {
  // The first request is held in its search until released; the second
  // comes from another thread meanwhile.
  std::mutex lock;
  std::condition_variable changed;
  bool searching = false;
  bool release = false;
  std::vector<std::u16string> lines;
  platform::SetDebugOutputSink([&](const std::u16string& line) {
    std::unique_lock<std::mutex> hold(lock);
    lines.push_back(line);
    if (line == u"            RouteThread::(RmfRouteFind) Started" && !searching) {
      searching = true;
      changed.notify_all();
      changed.wait(hold, [&] { return release; });
    }
  });
  VARIANT first;
  VARIANT second;
  VariantInit(&first);
  VariantInit(&second);
  std::thread one([&] { EXPECT_EQ(Walk(kOneWayEast, kOneWayWest, &first), S_OK); });
  {
    std::unique_lock<std::mutex> hold(lock);
    changed.wait(hold, [&] { return searching; });
  }
  std::thread two([&] { EXPECT_EQ(Drive(town::Pt(1600, town::kGartenY), town::Pt(2800, 1200), &second), S_OK); });
  // Give the second request the chance to arrive while the first is held;
  // the outcome checked below holds whichever comes first.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  {
    std::lock_guard<std::mutex> hold(lock);
    release = true;
  }
  changed.notify_all();
  one.join();
  two.join();
  platform::SetDebugOutputSink({});

  EXPECT_EQ(first.vt, VT_ARRAY | VT_VARIANT);
  EXPECT_EQ(second.vt, VT_ARRAY | VT_VARIANT);
  // The two requests do not overlap: each enter is followed by its exit.
  int open = 0;
  int requests = 0;
  for (const std::u16string& line : lines) {
    if (line == u"    CMap::FindRoute enter") {
      EXPECT_EQ(open, 0) << "a request started inside another";
      ++open;
      ++requests;
    } else if (line == u"    CMap::FindRoute exit") {
      --open;
    }
  }
  EXPECT_EQ(requests, 2);
  EXPECT_EQ(open, 0);
  VariantClear(&first);
  VariantClear(&second);
}


TEST_F(RouteRequestTest, ARequestArrivingWhileCleanUpTearsDownWaitsAndFindsNoMaps) {
  // When CleanUp begins tearing the maps down (its first log line), a
  // request is sent from another thread and given the chance to get in.
  std::mutex lock;
  std::condition_variable changed;
  std::vector<std::u16string> lines;
  bool enteredDuringTeardown = false;
  std::thread request;
  VARIANT result;
  VariantInit(&result);
  HRESULT walked = E_FAIL;
  platform::SetDebugOutputSink([&](const std::u16string& line) {
    std::unique_lock<std::mutex> hold(lock);
    lines.push_back(line);
    if (line == u"    CMap::FindRoute enter") {
      // On the request's thread, under the request lock: the maps are still
      // there only when the request got in before the teardown ended.
      enteredDuringTeardown = map_->m_Rdr.get() != nullptr;
      changed.notify_all();
    }
    if (line == u"\n\nCleanUp" && !request.joinable()) {
      request = std::thread([&] { walked = Walk(kOneWayEast, town::Pt(2800, 1200), &result); });
      // A request let in goes on while the maps are freed; one kept out
      // waits for CleanUp to end. Either way the teardown goes on after a
      // short wait.
      changed.wait_for(hold, std::chrono::milliseconds(200), [&] { return enteredDuringTeardown; });
    }
  });
  EXPECT_EQ(map_->CleanUp(), S_OK);
  ASSERT_TRUE(request.joinable());
  request.join();
  platform::SetDebugOutputSink({});

  EXPECT_FALSE(enteredDuringTeardown) << "a request ran while the maps were freed";
  EXPECT_EQ(walked, S_OK);
  EXPECT_EQ(result.vt, VT_EMPTY) << "no maps, no route";
  EXPECT_EQ(map_->m_Rdr.get(), nullptr);
  EXPECT_FALSE(map_->RouteCancelRequested());
  VariantClear(&result);
}

}  // namespace
