// The cross streets of the next intersection on the demo map, against the
// extract it is converted from (read with libosmium, extract_junctions.h):
// from 1,000 positions drawn on named streets, walking along the street,
// IMap::FindNextCrossStreets answers within the intersection search's step
// cap, at a junction of the extract that lies ahead on the way, and names
// only streets that meet at that junction.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "mapengine/object/CMap.h"
#include "mapengine/object/Geometry.h"
#include "mapengine/object/Utilities.h"
#include "platform/os/text.h"
#include "tests/mapengine/object/cross_street_list.h"
#include "tests/mapengine/object/counting_clock.h"
#include "tests/mapengine/object/extract_junctions.h"
#include "tests/mapengine/object/map_engine_fixture.h"

namespace {

constexpr int kPositions = 1000;
constexpr std::uint32_t kSeed = 20261211;

TEST_F(MapEngineTest, DemoMapNextCrossStreetsMeetAtTheJunctionAheadOfTheExtract) {
  const ExtractJunctions extract = ReadExtractJunctions(DEMO_OSM_PATH);
  ASSERT_EQ(extract.error, "");
  const std::vector<SampledStreetPosition> positions = SampleStreetPositions(extract, kPositions, kSeed);
  ASSERT_EQ(positions.size(), static_cast<std::size_t>(kPositions));
  // Junctions by their point; the converter and this reading round the same
  // coordinates, so a unit either way is the most they differ by.
  std::map<std::pair<std::int32_t, std::int32_t>, const OsmJunction*> byPoint;
  for (const auto& [node, j] : extract.junctions) byPoint[{j.point.x, j.point.y}] = &j;
  const auto junctionAt = [&byPoint](TiPoint p) -> const OsmJunction* {
    for (std::int32_t dx = -1; dx <= 1; ++dx) {
      for (std::int32_t dy = -1; dy <= 1; ++dy) {
        const auto it = byPoint.find({p.x + dx, p.y + dy});
        if (it != byPoint.end()) return it->second;
      }
    }
    return nullptr;
  };

  // The ends of the extract's street ways that meet no other way.
  std::set<std::pair<std::int32_t, std::int32_t>> streetEnds;
  for (const OsmStreetRun& run : extract.runs) {
    for (const TiPoint& end : {run.points.front(), run.points.back()}) {
      for (std::int32_t dx = -1; dx <= 1; ++dx) {
        for (std::int32_t dy = -1; dy <= 1; ++dy) streetEnds.insert({end.x + dx, end.y + dy});
      }
    }
  }

  LoadEnglish();
  OpenMapFile(DEMO_MAP_PATH);
  ASSERT_NE(map_->m_Rdr.get(), nullptr);
  const auto nameless = [this](const std::string& name) { return IsSpokenForNameless(name); };

  std::size_t answered = 0, silentOwnName = 0, expectable = 0, expected = 0, atJunction = 0, streetEnd = 0, aheadOfWalker = 0, onWay = 0, firstOnWay = 0, namesMeet = 0;
  // The searches run on a clock read as steps (counting_clock.h); the time
  // per call is measured by bench/cross_streets_bench.cpp.
  CountingClock clock;
  platform::SetClock(&clock);
  int mostReads = 0;
  for (const SampledStreetPosition& p : positions) {
    const int readsBefore = clock.reads;
    const HeardCrossStreets heard = AskNextCrossStreets(*map_, p.point, p.name, p.heading);
    mostReads = std::max(mostReads, clock.reads - readsBefore);
    EXPECT_EQ(heard.hr, S_OK);
    EXPECT_TRUE(heard.wellFormed);
    if (heard.streets.empty()) {
      // Nothing to tell is right where the way meets no street of another
      // name before it ends (a loop, a way going on under its own name).
      const OsmJunction* next = p.junction != 0 ? extract.JunctionAt(p.junction) : nullptr;
      const bool onlyOwn = next == nullptr || (next->names.size() == 1 && next->names.count(p.name) == 1);
      silentOwnName += onlyOwn ? 1 : 0;
      continue;
    }
    ++answered;
    // Every cross street is told at the one intersection.
    const TiPoint at = heard.streets[0].at;
    for (const HeardCrossStreet& c : heard.streets) EXPECT_TRUE(c.at.x == at.x && c.at.y == at.y);
    const OsmJunction* junction = junctionAt(at);
    const bool ahead = AreHeadingAndOrientationSimilar(
        p.heading, BearingBetweenMapPoints(p.point.x, p.point.y, at.x, at.y), 90);
    aheadOfWalker += ahead ? 1 : 0;
    if (junction == nullptr) {
      // Not a junction: where the street ends, told as the street alone.
      const bool alone = heard.streets.size() == 1 && heard.streets[0].name == p.name;
      streetEnd += alone && streetEnds.count({at.x, at.y}) > 0 ? 1 : 0;
      continue;
    }
    ++atJunction;
    const auto& along = p.junctionsAhead;
    if (std::find(along.begin(), along.end(), junction->node) != along.end()) ++onWay;
    if (junction->node == p.junction) ++firstOnWay;
    // The junction a walker expects at least: the first one ahead on the
    // way where a street of another name meets, when the way reaches one.
    // The engine stops earlier where an unnamed road meets or the street
    // forks, which this reading cannot tell from a way going on.
    for (const std::int64_t node : along) {
      const OsmJunction* j = extract.JunctionAt(node);
      if (j->names.size() > 1 || (j->names.size() == 1 && j->names.count(p.name) == 0)) {
        ++expectable;
        expected += node == junction->node ? 1 : 0;
        break;
      }
    }
    bool all = true;
    for (const HeardCrossStreet& c : heard.streets) {
      const std::string& name = c.name;
      if (!nameless(name) && junction->names.count(name) == 0) {
        all = false;
        std::printf("  %s heading %d: \"%s\" does not meet at node %lld\n", p.name.c_str(), p.heading, name.c_str(),
                    static_cast<long long>(junction->node));
      }
    }
    namesMeet += all ? 1 : 0;
  }
  platform::SetClock(nullptr);
  const std::size_t timeOuts =
      static_cast<std::size_t>(std::count(debugOutput_.begin(), debugOutput_.end(),
                                          std::u16string(u"CARTOVEL: Failed to find intersection in 3 seconds\n")));
  const auto share = [](std::size_t k, std::size_t of) { return of == 0 ? 0.0 : 100.0 * static_cast<double>(k) / of; };
  std::printf("%d positions: answered %.1f%% (of the others, %.1f%% have no street of another name at the junction "
              "ahead); of the answers: at a junction of the extract %.1f%%, at the end of "
              "the street %.1f%%, ahead of the walker %.1f%%, a junction on the sampled way %.1f%% (its first one "
              "%.1f%%; the first one where a street of another name meets %.1f%% of %zu); at the junctions, naming only streets that meet there %.1f%%; at most %d "
              "reads of the ticks in one call; %zu searches timed out\n",
              kPositions, share(answered, positions.size()), share(silentOwnName, positions.size() - answered),
              share(atJunction, answered), share(streetEnd, answered),
              share(aheadOfWalker, answered), share(onWay, answered), share(firstOnWay, answered),
              share(expected, expectable), expectable,
              share(namesMeet, atJunction), mostReads, timeOuts);
  // No search ran into the time limit: each one ended within the step cap
  // of 120 points (a read of the ticks as it starts and one per point).
  EXPECT_EQ(timeOuts, 0u);
  EXPECT_LE(mostReads, 1 + 120 + 1);
  EXPECT_GE(share(answered, positions.size()), 90.0);
  EXPECT_GE(share(silentOwnName, positions.size() - answered), 90.0);
  EXPECT_GE(share(atJunction + streetEnd, answered), 99.0);
  EXPECT_GE(share(aheadOfWalker, answered), 95.0);
  EXPECT_GE(share(expected, expectable), 80.0);
  EXPECT_GE(share(namesMeet, atJunction), 95.0);
}

}  // namespace
