// Virtual exploration on the demo map, against the extract it is converted
// from (read with libosmium): starting on the street of real addresses, a
// virtual explorer (virtual_explorer.h) turns to face along the street,
// walks to the next intersection and then keeps turning the same way and
// walking on, which goes round the block and back to the first
// intersection; crossing the street there and walking on reaches the
// intersection that walking on from the near side reaches; backing up
// undoes one step. Every point reached names only streets that run there in
// the extract.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
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

constexpr int kStarts = 100;
constexpr std::uint32_t kSeed = 20261211;
// Legs walked round a block before giving up: blocks of the old town have
// up to six or seven sides.
constexpr int kMostLegs = 8;
// A point reached is named by the streets running this close to it.
constexpr std::int32_t kStreetsThereFeet = 15;
// Back at an intersection: the location is one foot short of it on the
// side the walk came from.
constexpr std::int32_t kSameIntersectionFeet = 10;
// Addresses farther from their street are left out: the node is not on
// its street's frontage.
constexpr std::int32_t kAddressFrontageFeet = 300;

// The extract's street segments in cells of a grid, for the question which
// streets run near a point.
class StreetGrid {
 public:
  explicit StreetGrid(const ExtractJunctions& extract) : extract_(extract) {
    for (std::size_t r = 0; r < extract.runs.size(); ++r) {
      const OsmStreetRun& run = extract.runs[r];
      if (run.Label().empty()) continue;
      byName_[run.Label()].push_back(r);
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

  // The nearest point of a street of that name, and its distance in feet
  // (-1 when the extract has no street of that name).
  std::int32_t FootOn(const std::string& name, TiPoint p, TiPoint* foot) const {
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
};

std::int32_t Feet(TiPoint a, TiPoint b) { return DistanceFeetBetweenMapPoints(a.x, a.y, b.x, b.y); }

TEST_F(MapEngineTest, DemoMapVirtualWalksGoRoundRealBlocks) {
  const ExtractJunctions extract = ReadExtractJunctions(DEMO_OSM_PATH);
  ASSERT_EQ(extract.error, "");
  std::vector<OsmAddress> addresses = ReadExtractAddresses(DEMO_OSM_PATH);
  ASSERT_GE(addresses.size(), static_cast<std::size_t>(kStarts));
  std::shuffle(addresses.begin(), addresses.end(), std::mt19937(kSeed));
  const StreetGrid grid(extract);
  // Junction points and street ends, the points a walk may stop at.
  std::vector<TiPoint> stops;
  for (const auto& [node, j] : extract.junctions) stops.push_back(j.point);
  for (const OsmStreetRun& run : extract.runs) {
    stops.push_back(run.points.front());
    stops.push_back(run.points.back());
  }
  const auto nearStop = [&stops](TiPoint p) {
    return std::any_of(stops.begin(), stops.end(),
                       [&p](const TiPoint& s) { return Feet(p, s) <= kSameIntersectionFeet; });
  };

  LoadEnglish();
  OpenMapFile(DEMO_MAP_PATH);
  ASSERT_NE(map_->m_Rdr.get(), nullptr);
  const std::vector<std::string> spokenForNameless = {
      platform::Utf16ToUtf8(map_->LoadResourceString(23095)), platform::Utf16ToUtf8(map_->LoadResourceString(20584)),
      platform::Utf16ToUtf8(map_->LoadResourceString(23100)), platform::Utf16ToUtf8(map_->LoadResourceString(23101))};
  const auto nameless = [&spokenForNameless](const std::string& name) {
    return std::any_of(spokenForNameless.begin(), spokenForNameless.end(),
                       [&name](const std::string& s) { return name.rfind(s, 0) == 0; });
  };

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
      movesAtStops += nearStop(s.at) ? 1 : 0;
    }
  };

  std::size_t starts = 0, started = 0, firstReached = 0, circuits = 0, closed = 0, legs = 0;
  std::size_t crossings = 0, crossedThenOn = 0, sameAhead = 0, backups = 0;
  int failures = 0;
  for (const OsmAddress& address : addresses) {
    if (starts == static_cast<std::size_t>(kStarts)) break;
    TiPoint foot{};
    const std::int32_t d = grid.FootOn(address.street, address.point, &foot);
    if (d < 0 || d > kAddressFrontageFeet) continue;
    ++starts;
    const std::string number = std::to_string(address.number);

    for (const int turn : {+1, -1}) {
      VirtualExplorer explorer(*map_);
      const bool ok = explorer.Start(foot, address.street, number);
      failures += explorer.failures();
      if (!ok) continue;
      started += turn > 0 ? 1 : 0;
      check(explorer, false, "start");
      // Facing across the street, a turn faces along it.
      if (!explorer.Turn(turn) || !explorer.Forward()) continue;
      ++firstReached;
      check(explorer, true, "first intersection");
      const VirtualExplorer::State first = explorer.state();
      if (getenv("DBG") && starts < 6) {
          std::printf(" START %s %d turn %d at %d,%d heading %d:", address.street.c_str(), address.number, turn, first.at.x, first.at.y, first.heading);
          for (const auto& c : first.list) std::printf(" [%s %d side %d ct %d]", c.name.c_str(), c.orientation, c.side, c.connectType);
          std::printf("\n");
      }

      if (turn > 0) {
        // Crossing the street in front and walking on reaches the
        // intersection that walking on from the near side reaches.
        const bool on = explorer.Forward();
        const VirtualExplorer::State ahead = explorer.state();
        backups += on && explorer.Backup() && explorer.state().at.x == first.at.x &&
                           explorer.state().at.y == first.at.y && explorer.state().list.size() == first.list.size()
                       ? 1
                       : 0;
        if (on && explorer.Cross()) {
          ++crossings;
          check(explorer, true, "across");
          if (explorer.Forward()) {
            ++crossedThenOn;
            check(explorer, true, "on after crossing");
            sameAhead += Feet(explorer.state().at, ahead.at) <= 2 * kSameIntersectionFeet ? 1 : 0;
          }
        }
        explorer = VirtualExplorer(*map_);
        static_cast<void>(explorer.Start(foot, address.street, number));
        static_cast<void>(explorer.Turn(turn));
        static_cast<void>(explorer.Forward());
      }

      // Round the block: turn the same way at every intersection and walk
      // on, until the first intersection comes round again.
      ++circuits;
      std::set<std::pair<std::int32_t, std::int32_t>> visited;
      for (int leg = 1; leg <= kMostLegs; ++leg) {
        if (!explorer.Turn(turn) || !explorer.Forward()) break;
        check(explorer, true, "round the block");
        const TiPoint at = explorer.state().at;
        if (getenv("DBG") && starts < 6) {
          std::printf("   leg %d turn %d at %d,%d heading %d:", leg, turn, at.x, at.y, explorer.state().heading);
          for (const auto& c : explorer.state().list) std::printf(" [%s %d side %d ct %d]", c.name.c_str(), c.orientation, c.side, c.connectType);
          std::printf("\n");
        }
        visited.insert({at.x >> 4, at.y >> 4});
        if (leg >= 3 && visited.size() >= 3 && Feet(at, first.at) <= kSameIntersectionFeet) {
          ++closed;
          legs += static_cast<std::size_t>(leg);
          break;
        }
      }
      failures += explorer.failures();
    }
  }

  const auto share = [](std::size_t k, std::size_t of) { return of == 0 ? 0.0 : 100.0 * static_cast<double>(k) / of; };
  std::printf("%zu start addresses: started %.1f%%, first intersection reached %.1f%% of %zu walks; round the block "
              "and back %.1f%% of %zu (%.1f legs on average); crossing the street %.1f%% of the first "
              "intersections, then walking on %.1f%% of those, reaching the intersection ahead %.1f%%; backing up "
              "restores the point %.1f%%; points naming only streets that run there %.1f%% of %zu; moves ending at "
              "a junction or street end of the extract %.1f%% of %zu\n",
              starts, share(started, starts), share(firstReached, 2 * started), 2 * started, share(closed, circuits),
              circuits, closed == 0 ? 0.0 : static_cast<double>(legs) / closed, share(crossings, firstReached / 2),
              share(crossedThenOn, crossings), share(sameAhead, crossedThenOn), share(backups, firstReached / 2),
              share(namesThere, points), points, share(movesAtStops, moves), moves);
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(starts, static_cast<std::size_t>(kStarts));
}

}  // namespace
