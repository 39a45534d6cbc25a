// Edge expansion at the centre crossing of a plain 3 x 3 street grid, worked
// out by hand: the ways on from a forward node and into a backward one, each
// costing its turn and its stretch, the cost shift applied to both, the
// search level that shuts out lower classes, and the pending list of
// restriction items.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "mapengine/format/base/TiGeometry.h"
#include "mapengine/format/features/RmfProfile.h"
#include "mapengine/format/route/RmfRoute.h"
#include "mapengine/format/route/RmfRouteExpand.h"
#include "mapengine/format/route/RmfRouteInternal.h"
#include "tests/mapengine/format/features/TestProfiles.h"
#include "tests/mapengine/format/route/RouteGrid.h"
#include "tools/rmfbuild/RmfMemoryReader.h"

namespace routetest {
namespace {

// Crossings of the 3 x 3 grid: 0 1 2 the south row, 3 4 5 the middle, 6 7 8
// the north row; 4 is the centre.
constexpr int kCentre = 4;

class ExpandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GridLayout layout = PlainGrid(3, 3);
    layout.cutAtCells = false;
    grid_ = std::make_unique<RouteGrid>(layout);
    ASSERT_TRUE(grid_->ok()) << grid_->error();
    ASSERT_GE(maps_.AddMap(grid_->build().description), 1) << maps_.error();
    ASSERT_EQ(RmfProfileSetCallbacks(maps_.reader(), &testprofiles::Walking, nullptr, nullptr, kRmfProfileEngineLimit),
              1);
    ASSERT_EQ(RmfRouteCreate(&route_, maps_.reader()), 1);
  }
  void TearDown() override {
    if (route_ != nullptr) {
      EXPECT_EQ(RmfRouteDestroy(route_), 1);
    }
  }

  // The node of a block: forward, standing at its end; backward, standing at
  // its end too (the block not paid for yet).
  RmfExpandNodeRef NodeOf(int from, int to) const {
    const RmfFeatureRef r = grid_->Refs(*grid_->Block(from, to)).front();
    const std::uint32_t packed = static_cast<std::uint32_t>(r.part) |
                                 (static_cast<std::uint32_t>(r.toVertex) << kRmfNodeRefVertexShift) |
                                 (r.toVertex > r.fromVertex ? kRmfNodeRefHigher : 0u);
    return RmfExpandNodeRef{{r.featureId, r.source | (static_cast<std::uint32_t>(r.secondId) << 16), packed, nullptr},
                            0};
  }

  struct Step {
    int to;  // the crossing the stretch leads to (forward) or comes from (backward)
    std::int32_t cost;
    std::uint32_t sector;
  };

  std::vector<Step> Expand(const RmfExpandNodeRef& node, bool forward, std::int32_t level, std::int32_t* result) {
    RmfExpansion records[kRmfExpandCapacity];
    std::int32_t costs[kRmfExpandCapacity];
    std::int32_t times[kRmfExpandCapacity];
    *result = RmfRouteExpandNode(route_, &node, level, forward ? 1 : 0, nullptr, nullptr, &Alloc, this, records, times,
                                 costs, kRmfExpandCapacity);
    std::vector<Step> steps;
    for (std::int32_t i = 0; i < *result; ++i) {
      // Where the stretch runs: forward, its successor's junction; backward,
      // the far end of the way into the junction.
      const TiPoint at = forward ? records[i].point : FarEnd(records[i]);
      steps.push_back(Step{CrossingAt(at), costs[i], (records[i].packedFlags >> kRmfExpandPackedSectorShift) & 0xF});
    }
    std::sort(steps.begin(), steps.end(), [](const Step& a, const Step& b) { return a.to < b.to; });
    return steps;
  }

  // The other end of the block a backward record names.
  TiPoint FarEnd(const RmfExpansion& e) const {
    const int junction = CrossingAt(e.point);
    const RouteGraph& g = grid_->Graph(TravelMode::kWalking);
    for (const GraphSegment& s : g.segments) {
      for (const RmfFeatureRef& r : grid_->Refs(DirectedSegment{static_cast<int>(&s - g.segments.data()), true})) {
        const std::uint32_t part = e.packed & kRmfNodeRefPartMask;
        if (r.featureId == e.featureId && r.part == part && (s.from == junction || s.to == junction)) {
          return g.nodes[static_cast<std::size_t>(s.from == junction ? s.to : s.from)];
        }
      }
    }
    return TiPoint{};
  }

  int CrossingAt(TiPoint p) const {
    const std::vector<TiPoint>& c = grid_->layout().crossings;
    for (std::size_t i = 0; i < c.size(); ++i) {
      if (c[i].x == p.x && c[i].y == p.y) return static_cast<int>(i);
    }
    return -1;
  }

  std::int32_t BlockCost(int a, int b, std::uint32_t shift) const {
    const TiPoint& p = grid_->layout().crossings[static_cast<std::size_t>(a)];
    const TiPoint& q = grid_->layout().crossings[static_cast<std::size_t>(b)];
    return RmfScaledCost(static_cast<std::uint32_t>(TiDistance(&p, &q)), kWalkingFactor, shift);
  }

  static void* Alloc(void* context, std::uint32_t size) {
    auto* self = static_cast<ExpandTest*>(context);
    self->items_.emplace_back(size);
    return self->items_.back().data();
  }

  std::unique_ptr<RouteGrid> grid_;
  rmfbuild::MemoryReader maps_;
  RmfRoute* route_ = nullptr;
  std::vector<std::vector<std::uint8_t>> items_;
};

// Arriving at the centre from the west: straight on east (sector 0), left
// north (4), right south (12) and back west (8), each the turn plus the
// block; with shift 4 the turn costs 1/16 and the block 1/16 as much.
TEST_F(ExpandTest, ForwardStepsCostTheirTurnAndTheirBlock) {
  for (const std::uint32_t shift : {0u, 4u}) {
    SCOPED_TRACE("shift " + std::to_string(shift));
    route_->costShift = shift;
    std::int32_t n = 0;
    const std::vector<Step> steps = Expand(NodeOf(3, kCentre), true, 0, &n);
    ASSERT_EQ(n, 4);
    const struct {
      int to;
      std::uint32_t sector;
    } want[] = {{1, 12}, {3, 8}, {5, 0}, {7, 4}};
    for (std::size_t i = 0; i < 4; ++i) {
      EXPECT_EQ(steps[i].to, want[i].to);
      EXPECT_EQ(steps[i].sector, want[i].sector);
      EXPECT_EQ(steps[i].cost,
                (kRmfDefaultTurnCosts[want[i].sector] >> shift) + BlockCost(kCentre, want[i].to, shift));
    }
  }
}

// The backward node of the block from the centre to the east pays for that
// block and the turn into it from each way into the centre: from the south
// a right turn, from the north a left one.
TEST_F(ExpandTest, BackwardStepsPayForTheNodesOwnBlock) {
  std::int32_t n = 0;
  const std::vector<Step> steps = Expand(NodeOf(kCentre, 5), false, 0, &n);
  ASSERT_EQ(n, 4);
  const struct {
    int from;
    std::uint32_t sector;
  } want[] = {{1, 12}, {3, 0}, {5, 8}, {7, 4}};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(steps[i].to, want[i].from);
    EXPECT_EQ(steps[i].sector, want[i].sector);
    EXPECT_EQ(steps[i].cost, kRmfDefaultTurnCosts[want[i].sector] + BlockCost(kCentre, 5, 0));
  }
}

// The test profile gives every street class 3: a search at level 3 takes
// every way, at level 4 none; a forbidden sector drops its turn.
TEST_F(ExpandTest, LevelAndForbiddenTurnsShutWaysOut) {
  std::int32_t n = 0;
  EXPECT_EQ(Expand(NodeOf(3, kCentre), true, 3, &n).size(), 4u);
  EXPECT_EQ(Expand(NodeOf(3, kCentre), true, 4, &n).size(), 0u);
  EXPECT_EQ(n, 0);
  std::int32_t costs[kRmfTurnSectors];
  std::copy(std::begin(kRmfDefaultTurnCosts), std::end(kRmfDefaultTurnCosts), costs);
  costs[4] = -1;
  costs[8] = -1;
  ASSERT_EQ(RmfRouteSetTurnCosts(route_, costs), 1);
  const std::vector<Step> steps = Expand(NodeOf(3, kCentre), true, 0, &n);
  ASSERT_EQ(steps.size(), 2u);
  EXPECT_EQ(steps[0].to, 1);
  EXPECT_EQ(steps[1].to, 5);
}

// A step whose cost does not fit 31 bits is an overflow; so is the cost
// of a stretch at a factor that does not fit at the shift.
TEST_F(ExpandTest, StepBeyondThirtyOneBitsOverflows) {
  std::int32_t costs[kRmfTurnSectors];
  std::fill(std::begin(costs), std::end(costs), 0x7FFFFFFF);
  ASSERT_EQ(RmfRouteSetTurnCosts(route_, costs), 1);
  std::int32_t n = 0;
  (void)Expand(NodeOf(3, kCentre), true, 0, &n);
  EXPECT_EQ(n, kRmfCostOverflow);
}

TEST(RouteAddPending, KeepsItemsSortedByKeyThenKindWithoutRepeats) {
  std::vector<std::unique_ptr<RmfPendingItem>> memory;
  const RmfExpandAllocFn alloc = [](void* context, std::uint32_t) -> void* {
    auto* m = static_cast<std::vector<std::unique_ptr<RmfPendingItem>>*>(context);
    m->push_back(std::make_unique<RmfPendingItem>());
    return m->back().get();
  };
  RmfExpansion e{};
  for (const auto& [key, kind] : std::vector<std::pair<std::uint32_t, std::uint8_t>>{
           {5, 3}, {9, 6}, {5, 6}, {9, 6}, {1, 3}, {5, 3}}) {
    const RmfPendingItem item{key, kind, nullptr};
    ASSERT_EQ(RmfRouteAddPending(alloc, &memory, &item, &e), 0);
  }
  std::vector<std::pair<std::uint32_t, int>> got;
  for (const RmfPendingItem* p = e.pending; p != nullptr; p = p->next) got.emplace_back(p->key, p->kind);
  EXPECT_EQ(got, (std::vector<std::pair<std::uint32_t, int>>{{9, 6}, {5, 6}, {5, 3}, {1, 3}}));
  EXPECT_EQ(memory.size(), 4u) << "a repeated item takes no memory";

  const RmfExpandAllocFn none = [](void*, std::uint32_t) -> void* { return nullptr; };
  const RmfPendingItem more{7, 3, nullptr};
  EXPECT_EQ(RmfRouteAddPending(none, nullptr, &more, &e), kRmfNoMemory);
}

}  // namespace
}  // namespace routetest
