// Virtual exploration on the demo map, against the extract it is converted
// from (read with libosmium): starting on the street of real addresses, a
// virtual explorer (virtual_explorer.h) turns to face along the street with
// the address's block on one side, walks to the block's first corner, and
// then at every corner turns into the first street on that side and walks
// on, round the block and back to the first corner. Where the street goes on
// at the first corner, crossing the street and walking on reaches the
// intersection that walking on from the near side reaches, and backing up
// undoes one step. Every point reached names only streets that run there in
// the extract, and every move ends at a junction or the end of a street.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "mapengine/object/CMap.h"
#include "mapengine/object/Geometry.h"
#include "platform/os/text.h"
#include "tests/mapengine/object/extract_addresses.h"
#include "tests/mapengine/object/extract_junctions.h"
#include "tests/mapengine/object/map_engine_fixture.h"
#include "tests/mapengine/object/virtual_explorer.h"

namespace {

constexpr int kStarts = 40;
constexpr std::uint32_t kSeed = 20261211;
// Legs walked round a block before giving up: a walk stops at every
// driveway and path that meets the street.
constexpr int kMostLegs = 60;
// A point reached is named by the streets running this close to it.
constexpr std::int32_t kStreetsThereFeet = 15;
// Back at an intersection: the location is one foot short of it on the
// side the walk came from.
constexpr std::int32_t kSameIntersectionFeet = 10;
// Addresses farther from their street are left out: the node is not on
// its street's frontage.
constexpr std::int32_t kAddressFrontageFeet = 300;
// Addresses nearer their street than this lie on no side of it.
constexpr std::int32_t kOffStreetFeet = 5;

// The extract's street segments in cells of a grid, for the question which
// streets run near a point.
class StreetGrid {
 public:
  explicit StreetGrid(const ExtractJunctions& extract) : extract_(extract) {
    for (const auto& [node, j] : extract.junctions) stops_[{Cell(j.point.x), Cell(j.point.y)}].push_back(j.point);
    for (std::size_t r = 0; r < extract.runs.size(); ++r) {
      const OsmStreetRun& run = extract.runs[r];
      if (run.Label().empty()) continue;
      byName_[run.Label()].push_back(r);
      for (const TiPoint end : {run.points.front(), run.points.back()}) stops_[{Cell(end.x), Cell(end.y)}].push_back(end);
      for (std::size_t s = 0; s + 1 < run.points.size(); ++s) {
        const TiPoint a = run.points[s];
        const TiPoint b = run.points[s + 1];
        for (std::int32_t x = Cell(std::min(a.x, b.x)); x <= Cell(std::max(a.x, b.x)); ++x) {
          for (std::int32_t y = Cell(std::min(a.y, b.y)); y <= Cell(std::max(a.y, b.y)); ++y) {
            cells_[{x, y}].push_back({r, s});
          }
        }
      }
    }
  }

  // The labels of the named streets within `feet` of `p`.
  std::set<std::string> NamesNear(TiPoint p, std::int32_t feet) const {
    std::set<std::string> names;
    for (std::int32_t x = Cell(p.x) - 1; x <= Cell(p.x) + 1; ++x) {
      for (std::int32_t y = Cell(p.y) - 1; y <= Cell(p.y) + 1; ++y) {
        const auto it = cells_.find({x, y});
        if (it == cells_.end()) continue;
        for (const auto& [r, s] : it->second) {
          const OsmStreetRun& run = extract_.runs[r];
          if (DistanceFeetToSegment(p, run.points[s], run.points[s + 1]) <= feet) names.insert(run.Label());
        }
      }
    }
    return names;
  }

  // Whether a junction or the end of a street lies within `feet` of `p`.
  bool StopNear(TiPoint p, std::int32_t feet) const {
    for (std::int32_t x = Cell(p.x) - 1; x <= Cell(p.x) + 1; ++x) {
      for (std::int32_t y = Cell(p.y) - 1; y <= Cell(p.y) + 1; ++y) {
        const auto it = stops_.find({x, y});
        if (it == stops_.end()) continue;
        for (const TiPoint& s : it->second) {
          if (DistanceFeetBetweenMapPoints(p.x, p.y, s.x, s.y) <= feet) return true;
        }
      }
    }
    return false;
  }

  // The nearest point of a street of that name, the bearing of the street
  // there (the way its points run), and the distance in feet (-1 when the
  // extract has no street of that name).
  std::int32_t FootOn(const std::string& name, TiPoint p, TiPoint* foot, std::int32_t* bearing) const {
    const auto it = byName_.find(name);
    if (it == byName_.end()) return -1;
    std::int32_t best = -1;
    for (const std::size_t r : it->second) {
      const OsmStreetRun& run = extract_.runs[r];
      for (std::size_t s = 0; s + 1 < run.points.size(); ++s) {
        const std::int32_t d = DistanceFeetToSegment(p, run.points[s], run.points[s + 1]);
        if (best < 0 || d < best) {
          best = d;
          *foot = ProjectMapPointOntoSegment(run.points[s], run.points[s + 1], p, false);
          *bearing = BearingBetweenMapPoints(run.points[s].x, run.points[s].y, run.points[s + 1].x, run.points[s + 1].y);
        }
      }
    }
    return best;
  }

 private:
  // Cells of 2048 map units: 600 feet east-west, 1000 north-south here,
  // far more than any distance asked.
  static std::int32_t Cell(std::int32_t v) { return v >> 11; }

  const ExtractJunctions& extract_;
  std::map<std::string, std::vector<std::size_t>> byName_;
  std::map<std::pair<std::int32_t, std::int32_t>, std::vector<std::pair<std::size_t, std::size_t>>> cells_;
  std::map<std::pair<std::int32_t, std::int32_t>, std::vector<TiPoint>> stops_;
};

std::int32_t Feet(TiPoint a, TiPoint b) { return DistanceFeetBetweenMapPoints(a.x, a.y, b.x, b.y); }

// The cross street a walker who keeps the block on the right (turn +1) or
// on the left (-1) takes at an intersection: of the named streets not
// blocked (by orientation), the first one after the way back,
// anticlockwise for the right, clockwise for the left; where only
// driveways and paths go on, the way back. -1 when there is none.
int BlockTurn(const VirtualExplorer::State& s, int turn, const std::function<bool(const std::string&)>& nameless,
              const std::set<int>& blocked) {
  const int n = static_cast<int>(s.list.size());
  if (n == 0 || s.heading < 0) return -1;
  // The way back: the entry nearest the heading turned round.
  int back = 0;
  int nearest = 360;
  for (int i = 0; i < n; ++i) {
    const int d = std::abs(s.list[static_cast<std::size_t>(i)].orientation - (s.heading + 180) % 360);
    const int off = std::min(d, 360 - d);
    if (off < nearest) {
      nearest = off;
      back = i;
    }
  }
  for (int k = 1; k < n; ++k) {
    const int i = ((back - turn * k) % n + n) % n;
    const HeardCrossStreet& c = s.list[static_cast<std::size_t>(i)];
    if (c.connectType == 0 && !nameless(c.name) && blocked.count(c.orientation) == 0) return i;
  }
  return blocked.count(s.list[static_cast<std::size_t>(back)].orientation) == 0 ? back : -1;
}

// The entry of the street's name whose orientation is nearest `heading`;
// -1 when none has the name.
int NearestEntry(const VirtualExplorer::State& s, int heading, const std::string& street) {
  int best = -1;
  int bestOff = 360;
  for (std::size_t i = 0; i < s.list.size(); ++i) {
    if (s.list[i].name != street) continue;
    const int d = std::abs(s.list[i].orientation - heading);
    const int off = std::min(d, 360 - d);
    if (off < bestOff) {
      bestOff = off;
      best = static_cast<int>(i);
    }
  }
  return best;
}

TEST_F(MapEngineTest, DemoMapVirtualWalksGoRoundRealBlocks) {
  const ExtractJunctions extract = ReadExtractJunctions(DEMO_OSM_PATH);
  ASSERT_EQ(extract.error, "");
  std::vector<OsmAddress> addresses = ReadExtractAddresses(DEMO_OSM_PATH);
  ASSERT_GE(addresses.size(), static_cast<std::size_t>(kStarts));
  std::shuffle(addresses.begin(), addresses.end(), std::mt19937(kSeed));
  const StreetGrid grid(extract);
  LoadEnglish();
  OpenMapFile(DEMO_MAP_PATH);
  ASSERT_NE(map_->m_Rdr.get(), nullptr);
  const auto nameless = [this](const std::string& name) { return IsSpokenForNameless(name); };

  // Every point reached: every named cross street runs there, and a move
  // ends at a junction or the end of a street of the extract.
  std::size_t points = 0, namesThere = 0, moves = 0, movesAtStops = 0;
  const auto check = [&](const VirtualExplorer& explorer, bool moved, const char* what) {
    const VirtualExplorer::State& s = explorer.state();
    ++points;
    const std::set<std::string> there = grid.NamesNear(s.at, kStreetsThereFeet);
    bool all = true;
    for (const HeardCrossStreet& c : s.list) {
      if (nameless(c.name) || there.count(c.name) > 0) continue;
      all = false;
      std::printf("  %s: \"%s\" does not run at %d,%d\n", what, c.name.c_str(), s.at.x, s.at.y);
    }
    namesThere += all ? 1 : 0;
    if (moved) {
      ++moves;
      movesAtStops += grid.StopNear(s.at, kSameIntersectionFeet) ? 1 : 0;
    }
  };

  std::size_t starts = 0, started = 0, firstReached = 0, closed = 0, legs = 0;
  std::size_t stillWalking = 0, noWayOn = 0;
  std::size_t streetAhead = 0, crossings = 0, crossedThenOn = 0, sameAhead = 0, backups = 0;
  int failures = 0;
  for (const OsmAddress& address : addresses) {
    if (starts == static_cast<std::size_t>(kStarts)) break;
    TiPoint foot{};
    std::int32_t along = 0;
    const std::int32_t d = grid.FootOn(address.street, address.point, &foot, &along);
    if (d < kOffStreetFeet || d > kAddressFrontageFeet) continue;
    ++starts;
    const std::string number = std::to_string(address.number);
    // Which side of the street the address lies on, walking the way the
    // street's points run.
    const std::int32_t toAddress = BearingBetweenMapPoints(foot.x, foot.y, address.point.x, address.point.y);
    const bool onTheRight = (toAddress - along + 360) % 360 < 180;

    // Round the address's block keeping it on the right (+1), then on the
    // left (-1).
    for (const int turn : {+1, -1}) {
      VirtualExplorer explorer(*map_);
      const bool ok = explorer.Start(foot, address.street, number);
      failures += explorer.failures();
      if (!ok) continue;
      started += turn > 0 ? 1 : 0;
      check(explorer, false, "start");
      // Facing across the street, turn to face along it with the block on
      // the walk's side, and walk to the block's first corner.
      const int facing = onTheRight == (turn > 0) ? along : (along + 180) % 360;
      const int index = NearestEntry(explorer.state(), facing, address.street);
      if (index < 0 || !explorer.TurnTo(index, turn) || !explorer.Forward()) continue;
      ++firstReached;
      check(explorer, true, "first corner");
      const VirtualExplorer::State first = explorer.state();

      // Where the street goes on ahead: crossing the street in front and
      // walking on reaches the intersection that walking on from the near
      // side reaches, and backing up undoes a step.
      VirtualExplorer probe = explorer;
      if (turn > 0 && explorer.Current() != nullptr &&
          AreHeadingAndOrientationSimilar(first.heading, explorer.Current()->orientation, 50) && probe.Forward() &&
          Feet(probe.state().at, first.at) > kSameIntersectionFeet) {
        ++streetAhead;
        const TiPoint ahead = probe.state().at;
        backups += probe.Backup() && probe.state().at.x == first.at.x && probe.state().at.y == first.at.y &&
                           probe.state().list.size() == first.list.size()
                       ? 1
                       : 0;
        if (probe.Cross()) {
          ++crossings;
          check(probe, true, "across");
          if (probe.Forward()) {
            ++crossedThenOn;
            check(probe, true, "on after crossing");
            sameAhead += Feet(probe.state().at, ahead) <= 2 * kSameIntersectionFeet ? 1 : 0;
          }
        }
        failures += probe.failures();
      }

      // At every corner turn into the first street on the walk's side and
      // walk on, until the first corner comes round again. A street the
      // walk does not go along (a path or a square: the walk keeps to
      // streets) is passed over as a walker would.
      std::set<std::pair<std::int32_t, std::int32_t>> visited;
      for (int leg = 1; leg <= kMostLegs; ++leg) {
        const TiPoint from = explorer.state().at;
        std::set<int> blocked;
        bool moved = false;
        for (std::size_t tries = 0; tries < explorer.state().list.size() && !moved; ++tries) {
          const int next = BlockTurn(explorer.state(), turn, nameless, blocked);
          if (next < 0 || !explorer.TurnTo(next, turn)) break;
          const int orientation = explorer.Current()->orientation;
          if (!explorer.Forward()) break;
          moved = Feet(explorer.state().at, from) > kSameIntersectionFeet;
          if (!moved) {
            static_cast<void>(explorer.Backup());
            blocked.insert(orientation);
          }
        }
        if (!moved) {
          ++noWayOn;
          break;
        }
        check(explorer, true, "round the block");
        const TiPoint at = explorer.state().at;
        visited.insert({at.x >> 4, at.y >> 4});
        if (leg >= 3 && visited.size() >= 3 && Feet(at, first.at) <= kSameIntersectionFeet) {
          ++closed;
          legs += static_cast<std::size_t>(leg);
          break;
        }
        if (leg == kMostLegs) ++stillWalking;
      }
      failures += explorer.failures();
    }
  }

  const auto share = [](std::size_t k, std::size_t of) { return of == 0 ? 0.0 : 100.0 * static_cast<double>(k) / of; };
  std::printf("%zu start addresses: started %.1f%%; walks of both ways round the address's block reaching its "
              "first corner %.1f%% of %zu, going round and back to it %.1f%% (%.1f legs on average; the others "
              "still walking after %d legs %zu, with no way on %zu); where the street goes on ahead (%zu corners): "
              "backing up restores the corner %.1f%%, crossing the street %.1f%%, then walking on %.1f%% of those, "
              "reaching the intersection that walking on from the near side reaches %.1f%%; points naming only "
              "streets that run there %.1f%% of %zu; moves ending at a junction or street end of the extract %.1f%% "
              "of %zu\n",
              starts, share(started, starts), share(firstReached, 2 * started), 2 * started,
              share(closed, firstReached), closed == 0 ? 0.0 : static_cast<double>(legs) / closed, kMostLegs,
              stillWalking, noWayOn, streetAhead, share(backups, streetAhead), share(crossings, streetAhead),
              share(crossedThenOn, crossings), share(sameAhead, crossedThenOn), share(namesThere, points), points,
              share(movesAtStops, moves), moves);
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(starts, static_cast<std::size_t>(kStarts));
  EXPECT_GE(share(started, starts), 95.0);
  EXPECT_GE(share(firstReached, 2 * started), 95.0);
  // The rest are the large blocks of the outskirts and the villages round
  // the town, which 60 legs with a stop at every driveway do not go round.
  EXPECT_GE(share(closed, firstReached), 55.0);
  EXPECT_LE(share(noWayOn, firstReached), 5.0);
  EXPECT_GE(streetAhead, static_cast<std::size_t>(kStarts / 2));
  EXPECT_EQ(backups, streetAhead);
  EXPECT_EQ(crossings, streetAhead);
  EXPECT_GE(share(sameAhead, crossedThenOn), 90.0);
  EXPECT_GE(share(namesThere, points), 99.0);
  EXPECT_GE(share(movesAtStops, moves), 99.0);
}


// Asking again which streets cross here from the pavement: a position 3 to
// 10 feet off a street's centre line, on either side, facing either way
// along it, away from any junction. The list names the street itself (both
// ways, a step can be taken) and only streets that run at the foot of the
// position in the extract.
TEST_F(MapEngineTest, DemoMapCrossStreetsAskedFromThePavement) {
  const ExtractJunctions extract = ReadExtractJunctions(DEMO_OSM_PATH);
  ASSERT_EQ(extract.error, "");
  const StreetGrid grid(extract);
  LoadEnglish();
  OpenMapFile(DEMO_MAP_PATH);
  ASSERT_NE(map_->m_Rdr.get(), nullptr);
  const auto nameless = [this](const std::string& name) { return IsSpokenForNameless(name); };

  // Segments of 80 feet or more: the position lies 16 feet or more from
  // either end, well clear of the junctions.
  const std::vector<SampledStreetPosition> samples = SampleStreetPositions(extract, 40, kSeed + 1, 80);
  ASSERT_EQ(samples.size(), 40U);
  std::mt19937 gen(kSeed + 2);
  std::uniform_int_distribution<std::int32_t> offFeet(3, 10);
  std::size_t asked = 0, answered = 0, ownStreet = 0, namesThere = 0;
  for (const SampledStreetPosition& sample : samples) {
    // Streets of another name this close make the nearest street a
    // different one from the pavement.
    const std::set<std::string> atFoot = grid.NamesNear(sample.point, 25);
    if (atFoot.size() != 1) continue;
    for (const int side : {+90, -90}) {
      const std::int32_t off = offFeet(gen);
      const TiPoint at = ProjectPoint(sample.point, (sample.heading + side + 360) % 360, off);
      for (const std::int32_t heading : {sample.heading, (sample.heading + 180) % 360}) {
        ++asked;
        const HeardCrossStreets heard = AskUpdateCrossStreets(*map_, at, heading, CARTOVELRightSide, true);
        EXPECT_EQ(heard.hr, S_OK);
        if (heard.streets.empty()) {
          std::printf("  nothing %d ft off \"%s\" at %d,%d heading %d\n", off, sample.name.c_str(), at.x, at.y,
                      heading);
          continue;
        }
        ++answered;
        int own = 0;
        bool all = true;
        for (const HeardCrossStreet& c : heard.streets) {
          own += c.name == sample.name ? 1 : 0;
          if (!nameless(c.name) && grid.NamesNear(sample.point, kStreetsThereFeet).count(c.name) == 0) all = false;
        }
        ownStreet += own >= 2 ? 1 : 0;
        namesThere += all ? 1 : 0;
      }
    }
  }
  std::printf("%zu questions from the pavement: answered %zu, naming the street both ways %zu, naming only streets "
              "running there %zu\n",
              asked, answered, ownStreet, namesThere);
  ASSERT_GE(asked, 80U);
  EXPECT_EQ(answered, asked);
  EXPECT_GE(static_cast<double>(ownStreet), 0.95 * static_cast<double>(asked));
  EXPECT_GE(static_cast<double>(namesThere), 0.95 * static_cast<double>(asked));
}

}  // namespace
