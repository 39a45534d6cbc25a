// The roads at real junctions of the demo street map, listed as the map
// engine lists them in virtual exploration (its exploration filters, end
// flag 1, capacity 25, tile tables, no box), against the extract the map is
// converted from. At a sample of OpenStreetMap nodes where several highway
// ways meet, the records must name exactly the ways there: each way once
// for every direction it goes on in from the node, heading for its next
// node, and ending at the next node where streets meet (or where the map
// cuts the street).
//
// The extract's streets come from the street-graph fixture's reading of it
// (libosmium). The exploration filter opens every highway class the converter writes as a street, both ways, so every
// such way counts; ways become streets as the converter writes them: not
// the areas tagged area=yes, split where a node has no position, repeated
// equal points dropped, pieces of fewer than two points left out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/format/features/RmfProfile.h"
#include "mapengine/format/route/RmfFeatConnect.h"
#include "mapengine/format/route/RmfNodeConnections.h"
#include "mapengine/format/route/RmfRoute.h"
#include "mapengine/format/store/RmfTile.h"
#include "mapengine/object/RouteFilters.h"
#include "tests/mapengine/format/features/RmfFeatureRefPrint.h"
#include "tools/osm2rmf/Osm2Rmf.h"
#include "tools/rmfbuild/RmfMemoryReader.h"
#include "tests/mapengine/format/route/OsmStreetGraph.h"

namespace {

using Position = std::pair<std::int32_t, std::int32_t>;

constexpr std::int32_t kCell = 4096;  // level-0 tiles, where the map cuts its streets
constexpr double kUnitsPerTurn = 268435456.0;
constexpr double kPi = 3.14159265358979323846;
// The map engine's call.
constexpr std::int32_t kCapacity = 25;
constexpr std::int32_t kNoBox = -1;

bool StreetClass(std::string_view highway) {
  static constexpr std::string_view kWays[] = {
      "motorway",     "motorway_link", "trunk",       "trunk_link",   "primary",     "primary_link",
      "secondary",    "secondary_link", "tertiary",   "tertiary_link", "unclassified", "residential",
      "road",         "living_street", "service",     "track",        "pedestrian",  "footway",
      "path",         "cycleway",      "steps",       "bridleway"};
  return std::find(std::begin(kWays), std::end(kWays), highway) != std::end(kWays);
}

// One way going on from a node: the way and the position of its next node.
struct Arm {
  std::int64_t way;
  Position next;
};

// The streets of the extract by position: the ways going on from each
// position, and how many passages of ways meet there.
struct Streets {
  explicit Streets(const std::vector<routetest::ExtractStreetRun>& runs) {
    for (const routetest::ExtractStreetRun& run : runs) {
      if (!StreetClass(run.highway)) continue;
      const std::vector<Position>& points = run.points;
      for (std::size_t i = 0; i < points.size(); ++i) {
        ++passages[points[i]];
        if (i > 0) arms[points[i]].push_back(Arm{run.way, points[i - 1]});
        if (i + 1 < points.size()) arms[points[i]].push_back(Arm{run.way, points[i + 1]});
      }
    }
  }

  int PassagesAt(const Position& p) const {
    const auto it = passages.find(p);
    return it == passages.end() ? 0 : it->second;
  }

  std::map<Position, int> passages;
  std::map<Position, std::vector<Arm>> arms;
};

bool OnCellBorder(const Position& p) { return p.first % kCell == 0 || p.second % kCell == 0; }

// Whether the segment from a to b leaves a's cell, where the map cuts it.
bool LeavesCell(const Position& a, const Position& b) {
  const auto cell = [](std::int32_t v) { return v >= 0 ? v / kCell : (v - kCell + 1) / kCell; };
  return cell(a.first) != cell(b.first) || cell(a.second) != cell(b.second) || OnCellBorder(b);
}

// The bearing from a to b as a map heading in radians: counter-clockwise
// from east, the longitude difference scaled by the cosine of a's latitude.
// *slack gets how far the library's heading may lie from it: the library
// works on whole map units and drops the fraction of the scaled difference,
// which turns a heading by at most the angle one unit subtends at the
// distance (streets' nodes lie a few metres, some tens of units, apart),
// and its arc tangent is good to a few hundredths of a degree.
double Bearing(const Position& a, const Position& b, double* slack) {
  const double latitude = a.second / kUnitsPerTurn * 2 * kPi;
  const double dx = (static_cast<double>(b.first) - a.first) * std::cos(latitude);
  const double dy = static_cast<double>(b.second) - a.second;
  *slack = std::asin(std::min(1.0, 1.0 / std::hypot(dx, dy))) + 0.05 * kPi / 180;
  return std::atan2(dy, dx);
}

double AngleBetween(double a, double b) {
  double d = std::fmod(a - b, 2 * kPi);
  if (d > kPi) d -= 2 * kPi;
  if (d < -kPi) d += 2 * kPi;
  return std::fabs(d);
}

// A record held in a slot for the length of a scope.
class Held {
 public:
  Held(RmfReader* reader, std::uint32_t featureId, std::uint32_t secondId) {
    const RmfFeatureRef ref{featureId, static_cast<std::uint16_t>(secondId & 0xFFFF),
                            static_cast<std::uint16_t>(secondId >> 16), 0, 0, 0, 0};
    if (RmfFeatureFetch(reader, ref, &slot_, &continues_) != 1) slot_ = nullptr;
  }
  ~Held() {
    if (slot_ != nullptr) {
      EXPECT_EQ(RmfFeatureRelease(slot_), 1);
    }
  }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  RmfFeature* get() const { return slot_; }
  bool continues() const { return continues_ != 0; }

  std::optional<Position> PointAt(std::int32_t part, std::int32_t vertex) const {
    TiPoint p{};
    const std::int32_t word = RmfFeatureNodeAt(slot_, part, vertex);
    if (word < 0 || word >= 0x8000 || RmfFeaturePointAt(slot_, word, &p) != 1) return std::nullopt;
    return Position{p.x, p.y};
  }
  // The next vertex position from `vertex` in `direction`; -1 at the part's end.
  std::int32_t Next(std::int32_t part, std::int32_t vertex, std::int32_t direction) const {
    std::int32_t found = -1;
    return RmfFeatureNextNode(slot_, part, vertex, direction, &found, nullptr) < 0 ? -1 : found;
  }

 private:
  RmfFeature* slot_ = nullptr;
  std::int32_t continues_ = 0;
};

// A reference of the map arriving at the position: along the first part met
// that passes it, from the vertex before (or, at the part's first vertex,
// after) to the vertex there.
std::optional<RmfFeatureRef> ArrivingAt(RmfReader* reader, const Position& at) {
  const TiPoint point{at.first, at.second};
  std::uint32_t ids[4];
  const std::int32_t n = RmfTilesAroundPoint(&point, 0, ids);
  for (std::int32_t k = 0; k < n; ++k) {
    for (std::uint32_t sequence = 0; sequence <= 0xFFFF; ++sequence) {
      const Held rec(reader, ids[k], sequence << 16);
      if (rec.get() == nullptr) break;
      for (std::int32_t part = 0; part < RmfFeaturePartCount(rec.get()); ++part) {
        for (std::int32_t v = rec.Next(part, -1, 1); v >= 0; v = rec.Next(part, v, 1)) {
          if (rec.PointAt(part, v) != at) continue;
          const std::int32_t before = rec.Next(part, v, -1);
          const std::int32_t from = before >= 0 ? before : rec.Next(part, v, 1);
          if (from < 0) continue;
          return RmfFeatureRef{ids[k],
                               0,
                               static_cast<std::uint16_t>(sequence),
                               static_cast<std::uint16_t>(part),
                               static_cast<std::uint16_t>(from),
                               static_cast<std::uint16_t>(v),
                               kRmfPositionWhole};
        }
      }
      if (!rec.continues()) break;
    }
  }
  return std::nullopt;
}

TEST(DemoMapJunctions, TheRoadsListedAreTheWaysMeetingAtTheNode) {
  std::string error;
  const Streets extract(routetest::ReadStreetRuns(DEMO_OSM_PATH, &error));
  ASSERT_TRUE(error.empty()) << error;
  // Nodes shared by several ways, whose ways all reach their next node
  // inside the node's cell: where the map cuts a street at a cell border,
  // its next vertex is the cut, not the next node.
  std::vector<Position> junctions;
  for (const auto& entry : extract.arms) {
    const Position& p = entry.first;
    const std::vector<Arm>& arms = entry.second;
    std::set<std::int64_t> ways;
    for (const Arm& a : arms) ways.insert(a.way);
    if (ways.size() < 2 || OnCellBorder(p)) continue;
    if (std::any_of(arms.begin(), arms.end(), [&p](const Arm& a) { return LeavesCell(p, a.next); })) continue;
    junctions.push_back(p);
  }
  ASSERT_GT(junctions.size(), 1000u) << "the extract's streets meet at thousands of nodes";
  std::mt19937 random(152);
  std::shuffle(junctions.begin(), junctions.end(), random);
  junctions.resize(300);

  rmfbuild::MemoryReader maps(16u << 20);
  ASSERT_NE(maps.reader(), nullptr);
  ASSERT_EQ(maps.AddFile(DEMO_MAP_PATH), 1) << maps.error();
  ASSERT_EQ(RmfProfileSetCallbacks(maps.reader(), ExploreFeatureFilter, WalkingConnectionFilter, nullptr,
                                   kRmfProfileEngineLimit),
            1);
  RmfRoute* route = nullptr;
  ASSERT_EQ(RmfRouteCreate(&route, maps.reader()), 1);

  std::size_t records = 0;
  std::size_t crowded = 0;
  double worst = 0;
  for (const Position& at : junctions) {
    SCOPED_TRACE(::testing::Message() << "at " << at.first << "," << at.second);
    const std::vector<Arm>& arms = extract.arms.at(at);
    const std::optional<RmfFeatureRef> ref = ArrivingAt(maps.reader(), at);
    ASSERT_TRUE(ref.has_value()) << "no street of the map passes the node";
    RmfJunction out[kCapacity];
    const std::int32_t n = RmfRouteFeatConnect(route, &*ref, 1, out, kCapacity, 1, kNoBox);
    ASSERT_EQ(n, static_cast<std::int32_t>(arms.size())) << *ref;
    if (n > kCapacity) {
      ++crowded;
      continue;
    }
    std::vector<bool> matched(arms.size(), false);
    for (std::int32_t i = 0; i < n; ++i) {
      const RmfJunction& r = out[i];
      SCOPED_TRACE(::testing::Message() << "record " << i << " " << RmfJunctionReference(r));
      const Held rec(maps.reader(), r.featureId, r.secondId);
      ASSERT_NE(rec.get(), nullptr);
      ASSERT_EQ(rec.PointAt(r.part, r.startVertex), std::optional<Position>(at)) << "it starts at the junction";
      ASSERT_NE(r.startVertex, r.endVertex);
      const std::int32_t direction = r.endVertex > r.startVertex ? 1 : -1;
      const std::int32_t second = rec.Next(r.part, r.startVertex, direction);
      const std::optional<Position> next = rec.PointAt(r.part, second);
      ASSERT_TRUE(next.has_value());

      // One of the node's ways going on to that next node, not yet named.
      std::size_t arm = 0;
      while (arm < arms.size() && (matched[arm] || arms[arm].next != *next)) ++arm;
      ASSERT_LT(arm, arms.size()) << "no way goes on from the node to " << next->first << "," << next->second;
      matched[arm] = true;

      double slack = 0;
      const double expected = Bearing(at, *next, &slack);
      const double heading = r.heading / kUnitsPerTurn * 2 * kPi;
      const double off = AngleBetween(heading, expected);
      worst = std::max(worst, off / slack);
      EXPECT_LE(off, slack) << "heading 0x" << std::hex << r.heading << std::dec << " toward " << next->first << ","
                            << next->second;

      EXPECT_EQ(r.roadClass, 3) << "the exploration filter opens every street both ways at level 3";
      // Turning back is a way, except where the road merely continues.
      const bool back = r.featureId == ref->featureId && r.secondId == (std::uint32_t{ref->source} | (std::uint32_t{ref->secondId} << 16)) &&
                        r.part == ref->part && second == ref->fromVertex;
      EXPECT_EQ(r.verdict, back && n == 2 ? kRmfVerdictForbiddenTurn : kRmfVerdictAllowed);

      // Every vertex on the way to the far end is no junction; the far end
      // is one, or the end of the part.
      std::int32_t v = second;
      for (; v != r.endVertex && v >= 0; v = rec.Next(r.part, v, direction)) {
        const std::optional<Position> p = rec.PointAt(r.part, v);
        ASSERT_TRUE(p.has_value());
        ASSERT_LE(extract.PassagesAt(*p), 1) << "the record passes a junction at vertex " << v;
      }
      ASSERT_EQ(v, r.endVertex) << "the far end lies along the part";
      const std::optional<Position> far = rec.PointAt(r.part, r.endVertex);
      ASSERT_TRUE(far.has_value());
      EXPECT_TRUE(extract.PassagesAt(*far) >= 2 || rec.Next(r.part, r.endVertex, direction) < 0)
          << "the far end at " << far->first << "," << far->second << " is neither a junction nor the part's end";
    }
    records += static_cast<std::size_t>(n);
  }
  std::printf("checked %zu junctions, %zu roads (%zu with more than %d); headings off by at most %.0f%% of the slack\n",
              junctions.size(), records, crowded, kCapacity, worst * 100);
  EXPECT_EQ(RmfRouteDestroy(route), 1);
}

}  // namespace
