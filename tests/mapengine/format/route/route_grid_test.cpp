// The street grids of the routing tests agree with the maps built from
// them: every block, read through the map as the router reads it, has the
// grid's points, the travel the test profiles give it and the grid's
// restrictions; cell borders cut lines only when asked; route results map
// back to blocks, and only whole ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/format/features/RmfFeatureAttr.h"
#include "tests/mapengine/format/features/TestProfiles.h"
#include "tests/mapengine/format/route/RouteGrid.h"
#include "tools/rmfbuild/RmfMemoryReader.h"

namespace routetest {
namespace {

using Xy = std::pair<std::int32_t, std::int32_t>;
Xy XyOf(const TiPoint& p) { return {p.x, p.y}; }
std::vector<Xy> XyOf(const std::vector<TiPoint>& points) {
  std::vector<Xy> out;
  for (const TiPoint& p : points) out.push_back(XyOf(p));
  return out;
}

// A grid that has a bit of everything: 9 x 7 crossings 120 m apart span
// three level-0 cells east to west, lines of one to four blocks, crossings
// off the grid lines, one-way and reversed lines, missing blocks and
// restrictions of both kinds.
GridOptions Mixed(std::uint32_t seed) {
  GridOptions o;
  o.seed = seed;
  o.columns = 9;
  o.rows = 7;
  o.spacingMetres = 120;
  o.jitter = 0.2;
  o.maxLineBlocks = 4;
  o.oneWayShare = 0.3;
  o.missingBlockShare = 0.1;
  o.restrictions = 8;
  return o;
}

// A stretch as the reader gives it: the points from one vertex position to
// another of a part, and the attributes stored for its first segment.
struct ReadStretch {
  std::vector<TiPoint> points;
  std::vector<std::string> firstSegment;  // "code value name" of each attribute
  RmfFeatureAnswer walking{};
  RmfFeatureAnswer driving{};
};

ReadStretch Read(RmfReader* reader, const RmfFeatureRef& ref) {
  ReadStretch out;
  RmfFeature* slot = nullptr;
  if (RmfFeatureFetch(reader, ref, &slot, nullptr) != 1) return out;
  auto set = std::make_unique<RmfAttrSet>();
  if (RmfFeatureSelectPart(slot, ref.part, 1, set.get()) == 0) {
    (void)testprofiles::Walking(set.get(), nullptr, &out.walking, nullptr);
    (void)testprofiles::Driving(set.get(), nullptr, &out.driving, nullptr);
  }
  const std::int32_t step = ref.toVertex > ref.fromVertex ? 1 : -1;
  std::int32_t at = ref.fromVertex;
  TiPoint p{};
  if (RmfFeaturePointAt(slot, RmfFeatureNodeAt(slot, ref.part, at), &p) == 1) out.points.push_back(p);
  for (int guard = 0; at != ref.toVertex && guard < 100; ++guard) {
    std::int32_t found = -1;
    const std::int32_t point = RmfFeatureNextNode(slot, ref.part, at, step, &found, set.get());
    if (point < 0 || RmfFeaturePointAt(slot, point, &p) != 1) break;
    if (at == ref.fromVertex) {
      for (std::int32_t i = 0; i < set->count; ++i) {
        const RmfAttrEntry& e = set->entries[i];
        out.firstSegment.push_back(std::string(e.code) + " " + e.value + " " + e.name);
      }
    }
    out.points.push_back(p);
    at = found;
  }
  (void)RmfFeatureRelease(slot);
  return out;
}

TEST(RouteGrid, EveryBlockReadsFromTheMapAsTheGridDescribesIt) {
  for (const std::uint32_t seed : {1u, 2u, 3u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    const RouteGrid grid = RouteGrid::Generate(Mixed(seed));
    ASSERT_TRUE(grid.ok()) << grid.error();
    ASSERT_EQ(grid.layout().restrictions.size(), 8u);
    rmfbuild::MemoryReader maps;
    ASSERT_GE(maps.AddMap(grid.build().description), 1) << maps.error();

    const RouteGraph& walking = grid.Graph(TravelMode::kWalking);
    const RouteGraph& driving = grid.Graph(TravelMode::kDriving);
    int cut = 0;
    for (std::size_t s = 0; s < walking.segments.size(); ++s) {
      cut += grid.IsCut(static_cast<int>(s)) ? 1 : 0;
      for (const bool forward : {true, false}) {
        const DirectedSegment block{static_cast<int>(s), forward};
        SCOPED_TRACE("block " + std::to_string(s) + (forward ? " forward" : " backward"));
        std::vector<TiPoint> expected = walking.segments[s].points;
        if (!forward) std::reverse(expected.begin(), expected.end());
        std::vector<TiPoint> read;
        for (const RmfFeatureRef& ref : grid.Refs(block)) {
          const ReadStretch r = Read(maps.reader(), ref);
          ASSERT_GE(r.points.size(), 2u);
          if (!read.empty()) {
            EXPECT_EQ(XyOf(read.back()), XyOf(r.points.front())) << "pieces of a block meet";
            read.pop_back();
          }
          read.insert(read.end(), r.points.begin(), r.points.end());
          // Travel toward higher vertex positions is travel along the line.
          const int along = (ref.toVertex > ref.fromVertex) == forward ? testprofiles::kHigher : testprofiles::kLower;
          const int against = along == testprofiles::kHigher ? testprofiles::kLower : testprofiles::kHigher;
          for (const auto& [graph, answer] : {std::pair{&walking, &r.walking}, std::pair{&driving, &r.driving}}) {
            const GraphSegment& g = graph->segments[s];
            EXPECT_EQ(answer->travel[along].roadClass >= 0, g.open[0]);
            EXPECT_EQ(answer->travel[against].roadClass >= 0, g.open[1]);
            for (const int d : {along, against}) {
              if (answer->travel[d].roadClass >= 0) {
                EXPECT_EQ(answer->travel[d].costFactor, g.costFactor);
              }
            }
          }
        }
        EXPECT_EQ(XyOf(read), XyOf(expected));
      }
    }
    EXPECT_GT(cut, 0) << "lines across the cell borders are cut";

    // Each restriction's two blocks carry it, stored after their lower
    // vertex: the stretch read upward from there. Its mark names the
    // direction of travel it holds for (from -> via -> to): '+' along the
    // vertex order.
    for (const GridRestriction& r : grid.layout().restrictions) {
      const std::string key = std::to_string(r.key);
      for (const auto& [a, b, end] : {std::tuple{r.from, r.via, 'B'}, std::tuple{r.via, r.to, 'E'}}) {
        DirectedSegment block = *grid.Block(a, b);
        const char mark = block.forward ? '+' : '-';
        block.forward = true;
        const std::vector<RmfFeatureRef> refs = grid.Refs(block);
        ASSERT_EQ(refs.size(), 1u) << "a restricted block is not cut";
        const ReadStretch read = Read(maps.reader(), refs[0]);
        const std::string want = std::string("17B") + mark + " 0" + (r.only ? 'R' : 'P') + end + " " + key;
        EXPECT_NE(std::find(read.firstSegment.begin(), read.firstSegment.end(), want), read.firstSegment.end()) << want;
      }
    }
  }
}

TEST(RouteGrid, CellBordersCutLinesOnlyWhenAsked) {
  GridOptions o = Mixed(4);
  o.restrictions = 0;
  o.cutAtCells = false;
  const RouteGrid whole = RouteGrid::Generate(o);
  ASSERT_TRUE(whole.ok()) << whole.error();
  o.cutAtCells = true;
  const RouteGrid cut = RouteGrid::Generate(o);
  ASSERT_TRUE(cut.ok()) << cut.error();
  const RouteGraph& w = whole.Graph(TravelMode::kWalking);
  const RouteGraph& c = cut.Graph(TravelMode::kWalking);
  ASSERT_EQ(w.segments.size(), c.segments.size()) << "the same seed draws the same grid";
  int cutBlocks = 0;
  for (std::size_t s = 0; s < w.segments.size(); ++s) {
    EXPECT_FALSE(whole.IsCut(static_cast<int>(s)));
    EXPECT_EQ(w.segments[s].points.size(), 2u);
    if (!cut.IsCut(static_cast<int>(s))) continue;
    ++cutBlocks;
    // A cut block has its cut points between its two crossings, on the
    // line between them.
    const std::vector<TiPoint>& p = c.segments[s].points;
    ASSERT_GT(p.size(), 2u);
    EXPECT_EQ(XyOf(p.front()), XyOf(w.segments[s].points.front()));
    EXPECT_EQ(XyOf(p.back()), XyOf(w.segments[s].points.back()));
  }
  EXPECT_GT(cutBlocks, 0);
}

TEST(RouteGrid, RouteResultsMapBackToWholeBlocks) {
  GridLayout layout = PlainGrid(5, 2, 150);
  // The south row as one line through five crossings, the rest as blocks;
  // nothing cut, so that every block is one entry.
  layout.lines.erase(layout.lines.begin(), layout.lines.begin() + 4);
  layout.lines.push_back(GridLine{{0, 1, 2, 3, 4}});
  layout.cutAtCells = false;
  const RouteGrid grid(layout);
  ASSERT_TRUE(grid.ok()) << grid.error();

  // Along the row, up and back west: the entries of every block in order.
  const std::vector<DirectedSegment> route = {*grid.Block(0, 1), *grid.Block(1, 2), *grid.Block(2, 3),
                                              *grid.Block(3, 8), *grid.Block(8, 7), *grid.Block(7, 6)};
  std::vector<RmfFeatureRef> refs;
  for (const DirectedSegment& d : route) {
    const std::vector<RmfFeatureRef> r = grid.Refs(d);
    ASSERT_EQ(r.size(), 1u);
    refs.push_back(r[0]);
  }
  std::string why;
  EXPECT_EQ(grid.Blocks(refs.data(), refs.size(), &why), route) << why;

  // An entry that runs along several blocks of one part (as a compacted
  // result has them) names each of them.
  std::vector<RmfFeatureRef> merged(refs.begin() + 2, refs.end());
  merged[0].fromVertex = refs[0].fromVertex;
  EXPECT_EQ(grid.Blocks(merged.data(), merged.size(), &why), route) << why;

  // What does not cover whole blocks of the grid is refused with a reason:
  // here the pieces of a block that a cell border cuts.
  const RouteGrid cut = RouteGrid::Generate(Mixed(5));
  ASSERT_TRUE(cut.ok()) << cut.error();
  std::vector<RmfFeatureRef> pieces;
  for (std::size_t s = 0; pieces.empty() && s < cut.Graph(TravelMode::kWalking).segments.size(); ++s) {
    if (cut.IsCut(static_cast<int>(s))) pieces = cut.Refs(DirectedSegment{static_cast<int>(s), true});
  }
  ASSERT_GE(pieces.size(), 2u);
  ASSERT_TRUE(cut.Blocks(pieces.data(), pieces.size(), &why).has_value()) << why;
  RmfFeatureRef stranger = pieces[0];
  stranger.featureId ^= 1;
  RmfFeatureRef still = pieces[0];
  still.toVertex = still.fromVertex;
  const struct {
    const char* name;
    std::vector<RmfFeatureRef> refs;
  } refused[] = {
      {"a part of another map", {stranger}},
      {"an entry that stands still", {still}},
      {"a block left after its first piece", {pieces.front()}},
      {"a block entered at its last piece", {pieces.back()}},
      {"a block's pieces out of order", {pieces.back(), pieces.front()}},
  };
  for (const auto& c : refused) {
    why.clear();
    EXPECT_FALSE(cut.Blocks(c.refs.data(), c.refs.size(), &why).has_value()) << c.name;
    EXPECT_FALSE(why.empty()) << c.name;
  }
}

TEST(RouteGrid, MisplacedRestrictionsAreRefused) {
  GridLayout layout = PlainGrid(3, 3);
  const int sw = layout.Crossing(0, 0), s = layout.Crossing(1, 0), c = layout.Crossing(1, 1);
  const int e = layout.Crossing(2, 1), n = layout.Crossing(1, 2);
  const struct {
    const char* name;
    GridRestriction restriction;
    bool ok;
  } cases[] = {
      {"between crossings of three blocks and more", {s, c, e, false, 1}, true},
      {"from a corner of two blocks", {sw, s, c, false, 2}, false},
      {"back onto its from block", {n, c, n, true, 3}, false},
      {"over crossings no block joins", {sw, c, e, false, 4}, false},
  };
  for (const auto& k : cases) {
    GridLayout l = layout;
    l.restrictions = {k.restriction};
    const RouteGrid grid(l);
    EXPECT_EQ(grid.ok(), k.ok) << k.name << ": " << grid.error();
  }
}

}  // namespace
}  // namespace routetest
