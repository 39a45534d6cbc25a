// Side of street and street orientation on the demo map, checked against the
// OpenStreetMap extract it is converted from, read here with libosmium
// independently of the converter.
//
// Side: each address node is put on the nearest segment of a street way of
// its street's name; walking that segment from its first node to its second,
// the node lies on the left or the right (the sign of the cross product of
// the segment and the node, in map units). The map engine is asked the side
// of the node's house-number parity at the node's foot on the segment, with
// the segment's bearing as heading.
//
// Orientation: ways of the extract whose every segment runs within a few
// degrees of north-south or east-west; the map engine is asked the street's
// orientation at the middle of the way's longest segment, walking either way
// along it, and it must be the bearing from the way's first node to its last.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "mapengine/object/CMap.h"
#include "mapengine/object/Geometry.h"
#include "mapengine/object/NearestFeature.h"
#include "mapengine/object/SideOfStreet.h"
#include "mapengine/object/StreetWalk.h"
#include "tests/mapengine/object/extract_addresses.h"
#include "tests/mapengine/object/extract_junctions.h"
#include "tests/mapengine/object/map_engine_fixture.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// Bearing in degrees (0..360) from a to b on a plane whose eastward axis is
// shrunk by the cosine of the latitude.
double PlaneBearing(TiPoint a, TiPoint b) {
  const double latitude = MapUnitsToDegrees(a.x, a.y).latitude * kPi / 180;
  const double east = static_cast<double>(b.x - a.x) * std::cos(latitude);
  const double north = static_cast<double>(b.y - a.y);
  const double degrees = std::atan2(east, north) * 180 / kPi;
  return degrees < 0 ? degrees + 360 : degrees;
}

// Degrees between two bearings, 0..180.
double BearingGap(double a, double b) {
  const double d = std::fmod(std::fabs(a - b), 360.0);
  return d > 180 ? 360 - d : d;
}

// A point of the street ways nearest to an address.
struct Placement {
  TiPoint a{}, b{};  // the segment, in the way's order
  std::int32_t feet = -1;
};

// The address nodes and the street ways of the extract, read once for the
// tests of the suite, and the demo map opened for each.
class SideOfStreetDemoTest : public MapEngineTest {
 protected:
  static void SetUpTestSuite() {
    AddressNodes addressNodes;
    StreetWayReading streetWays;
    osmium::io::Reader in(DEMO_OSM_PATH, osmium::osm_entity_bits::node | osmium::osm_entity_bits::way);
    osmium::index::map::FlexMem<osmium::unsigned_object_id_type, osmium::Location> index;
    osmium::handler::NodeLocationsForWays<decltype(index)> locations(index);
    locations.ignore_errors();  // nodes missing from the extract stay invalid locations
    osmium::apply(in, locations, addressNodes, streetWays);
    in.close();
    addresses_ = new std::vector<OsmAddress>(std::move(addressNodes.addresses));
    runs_ = new std::vector<OsmStreetRun>(std::move(streetWays.runs));
  }
  static void TearDownTestSuite() {
    delete addresses_;
    delete runs_;
    addresses_ = nullptr;
    runs_ = nullptr;
  }
  void SetUp() override {
    MapEngineTest::SetUp();
    LoadEnglish();
    OpenMapFile(DEMO_MAP_PATH);
    ASSERT_NE(map_->m_Rdr.get(), nullptr);
  }

  static std::vector<OsmAddress>* addresses_;
  static std::vector<OsmStreetRun>* runs_;
};
std::vector<OsmAddress>* SideOfStreetDemoTest::addresses_ = nullptr;
std::vector<OsmStreetRun>* SideOfStreetDemoTest::runs_ = nullptr;

TEST_F(SideOfStreetDemoTest, SideOfStreetAgreesWithTheSideTheAddressLiesOn) {
  const std::vector<OsmAddress>& addresses = *addresses_;
  ASSERT_GT(addresses.size(), 1000u);
  std::map<std::string, std::vector<const OsmStreetRun*>> ways;
  for (const OsmStreetRun& run : *runs_) {
    if (run.classDigit >= 5 && !run.name.empty()) ways[run.name].push_back(&run);
  }

  // Every eighth address node, in file order, keeps the test within a few
  // seconds under the sanitizers (two street walks an address).
  constexpr std::size_t kEvery = 8;
  // Addresses nearer their street than this lie on it rather than beside it.
  constexpr std::int32_t kOnTheStreetFeet = 3;
  std::size_t asked = 0, placed = 0, agree = 0, placedAmbiguous = 0, agreeAmbiguous = 0;
  for (std::size_t k = 0; k < addresses.size(); k += kEvery) {
    const OsmAddress& address = addresses[k];
    const auto it = ways.find(address.street);
    if (it == ways.end()) continue;
    Placement best;
    best.feet = 985;  // 300 metres, as far as the converter places addresses
    for (const OsmStreetRun* run : it->second) {
      for (std::size_t i = 1; i < run->points.size(); ++i) {
        const std::int32_t d = DistanceFeetToSegment(address.point, run->points[i - 1], run->points[i]);
        if (d < best.feet) best = Placement{run->points[i - 1], run->points[i], d};
      }
    }
    if (best.feet == 985 || best.feet < kOnTheStreetFeet) continue;
    // Left of a -> b when the cross product of (b - a) and (p - a) is
    // positive (x east, y north); scaling an axis keeps its sign.
    const std::int64_t cross =
        static_cast<std::int64_t>(best.b.x - best.a.x) * (address.point.y - best.a.y) -
        static_cast<std::int64_t>(best.b.y - best.a.y) * (address.point.x - best.a.x);
    if (cross == 0) continue;
    const INT expected = cross > 0 ? CARTOVELLeftSide : CARTOVELRightSide;

    const TiPoint foot = ProjectMapPointOntoSegment(best.a, best.b, address.point, false);
    const std::int32_t heading = BearingBetweenMapPoints(best.a.x, best.a.y, best.b.x, best.b.y);
    const DegreePoint at = MapUnitsToDegrees(foot.x, foot.y);
    const INT parity = address.number % 2 != 0 ? kHouseNumberParityOdd : kHouseNumberParityEven;
    INT side = -1;
    ASSERT_EQ(map_->GetSideOfStreet(at.latitude, at.longitude, heading, parity, &side), S_OK);
    ++asked;
    if (side == CARTOVELSideUnknown) continue;
    ++placed;
    agree += side == expected ? 1 : 0;
    // Parity tells the side only where the street's numbers there keep one
    // parity a side and the two sides differ in it (or one side has none).
    const RmfFeatureRef street = GetNearestFeatureInOurOrientationNavigable(*map_, foot, heading, "567");
    const StreetSegmentNumbers n = GetHouseNumbersAlongStreet(map_->m_MapContext, street, foot, heading);
    const std::int32_t right = n.rightFrom > 0 ? n.rightFrom : n.rightTo;
    const std::int32_t left = n.leftFrom > 0 ? n.leftFrom : n.leftTo;
    const bool tells = n.mixed == 0 && (right <= 0 || left <= 0 || right % 2 != left % 2);
    if (!tells) {
      ++placedAmbiguous;
      agreeAmbiguous += side == expected ? 1 : 0;
    }
  }
  const auto share = [](std::size_t part, std::size_t whole) {
    return whole == 0 ? 0.0 : 100.0 * static_cast<double>(part) / static_cast<double>(whole);
  };
  const std::size_t placedPlain = placed - placedAmbiguous, agreePlain = agree - agreeAmbiguous;
  std::printf("address nodes %zu (every %zu), asked beside their street %zu, placed %zu (%.1f%%)\n", addresses.size(),
              kEvery, asked, placed, share(placed, asked));
  std::printf("side agrees %zu of %zu (%.1f%%); where parity tells the side %zu of %zu (%.1f%%), elsewhere %zu of "
              "%zu (%.1f%%)\n",
              agree, placed, share(agree, placed), agreePlain, placedPlain, share(agreePlain, placedPlain),
              agreeAmbiguous, placedAmbiguous, share(agreeAmbiguous, placedAmbiguous));
  // Measured on this extract (every eighth node): 942 asked, 739 placed
  // (78.5%), the side agrees for 95.7% of them; 97.8% (673 of 688) where the
  // street's numbers there keep one parity a side and the sides differ, and
  // 34 of the 51 placed elsewhere (pieces whose range is marked mixed while
  // the two numbers of each side keep one parity). Where the numbers cannot
  // tell the side (both sides of one parity, or a side of both) the map
  // names none, and the engine falls back to the street's geometry; naming
  // one there as well placed all 942 and agreed for 85.8% (53.1% where
  // parity cannot tell). Parity cannot tell the side
  // where a street is numbered up one side and down the other, or where the
  // few addresses a piece holds share one parity on both sides. The 15
  // disagreements where it can: streets numbered on one side only in the map
  // whose other side holds numbers of both parities (Malzstraße, Weidenweg,
  // Schulstraße, ...), pieces where the interpolated even and odd numbers
  // have changed sides (Gartenstraße, Ravensburgstraße, 4.Ringstraße), and
  // an address placed on the way of a crossing street rather than its own.
  // With the sides swapped the agreement falls to about 14%. The limits
  // stay a few points under the measured shares.
  EXPECT_GT(asked, addresses.size() / kEvery / 2);
  EXPECT_GE(share(placed, asked), 75.0);
  EXPECT_GE(share(agree, placed), 93.0);
  EXPECT_GE(share(agreePlain, placedPlain), 94.0);
}

TEST_F(SideOfStreetDemoTest, StreetOrientationOfNorthSouthAndEastWestStreets) {
  constexpr double kStraight = 3.0;  // degrees every segment keeps to its axis
  std::size_t northSouth = 0, eastWest = 0;
  for (const OsmStreetRun& run : *runs_) {
    if (run.classDigit < 5 || run.Label().empty()) continue;
    const double way = PlaneBearing(run.points.front(), run.points.back());
    // The axis the way runs along (0 north-south, 90 east-west), if any.
    const double axis = BearingGap(way, 0) <= kStraight || BearingGap(way, 180) <= kStraight ? 0
                        : BearingGap(way, 90) <= kStraight || BearingGap(way, 270) <= kStraight ? 90
                                                                                              : -1;
    if (axis < 0) continue;
    std::size_t longest = 0;
    std::int32_t longestFeet = 0;
    bool straight = true;
    for (std::size_t i = 1; i < run.points.size() && straight; ++i) {
      const TiPoint a = run.points[i - 1], b = run.points[i];
      const std::int32_t feet = DistanceFeetBetweenMapPoints(a.x, a.y, b.x, b.y);
      straight = feet < 10 || BearingGap(PlaneBearing(a, b), way) <= kStraight;
      if (feet > longestFeet) {
        longestFeet = feet;
        longest = i;
      }
    }
    if (!straight || longestFeet < 100) continue;
    (axis == 0 ? northSouth : eastWest) += 1;
    const TiPoint a = run.points[longest - 1], b = run.points[longest];
    const DegreePoint middle = MapUnitsToDegrees(a.x + (b.x - a.x) / 2, a.y + (b.y - a.y) / 2);
    // Walking either way along it, the street runs the way its nodes do.
    for (const long heading : {std::lround(way) % 360, std::lround(way + 180) % 360}) {
      SHORT orientation = -1;
      ASSERT_EQ(map_->GetStreetOrientation(middle.latitude, middle.longitude, static_cast<SHORT>(heading),
                                           &orientation),
                S_OK);
      EXPECT_LE(BearingGap(orientation, way), kStraight + 1) << run.Label() << " (way " << run.way << ") heading "
                                                              << heading << ": orientation " << orientation
                                                              << ", the way runs " << way;
    }
  }
  std::printf("straight ways: north-south %zu, east-west %zu\n", northSouth, eastWest);
  EXPECT_GE(northSouth, 5u);
  EXPECT_GE(eastWest, 5u);
}

}  // namespace
