// Tests of the route object over small street maps written by the builder:
// creation and its failure, the view of the reader's sources and profile
// (and what a change of either does to the feature cache), discarding a
// result, compaction of results filled in by hand, the length of reference
// lists against sums of TiDistance, the scaling of costs, and the options.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "mapengine/format/RmfReaderRecord.h"
#include "mapengine/format/base/TiGeometry.h"
#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/format/features/RmfProfile.h"
#include "mapengine/format/route/RmfFeatCache.h"
#include "mapengine/format/route/RmfNodePool.h"
#include "mapengine/format/route/RmfRoute.h"
#include "mapengine/format/route/RmfRouteInternal.h"
#include "mapengine/format/store/RmfReader.h"
#include "tests/mapengine/format/features/RmfFeatureRefPrint.h"
#include "tests/mapengine/format/features/TestProfiles.h"
#include "tools/rmfbuild/RmfFeatures.h"
#include "tools/rmfbuild/RmfMemoryReader.h"

namespace {

using rmfbuild::Feature;
using rmfbuild::FeatureCategory;
using rmfbuild::FeatureClass;

// One street of five vertices, not in line, with an attribute word after
// its third vertex so that a walk has a word to step over.
const std::vector<TiPoint> kStreet = {
    {100000, 200000}, {101000, 200500}, {101700, 201900}, {103000, 202000}, {103100, 203500}};

rmfbuild::FeatureMap StreetMap(int tileLevel, std::vector<TiPoint> points) {
  rmfbuild::FeatureMap map;
  map.tileLevels[0] = {tileLevel, tileLevel};
  Feature f = Feature::Line(FeatureClass{1, 5, FeatureCategory::kLine}, "Main Street", std::move(points));
  f.Attribute(rmfbuild::RouteClassAttribute(1, rmfbuild::RoadValue('3', ' ', '3'), "Main Street"));
  f.VertexAttr(2, rmfbuild::TextTriple{"L99", "Crossing", ""});
  map.Add(f);
  return map;
}

std::uint32_t LevelMaskOf(const rmfbuild::FeatureBuild& built) {
  std::uint32_t mask = 0;
  for (const auto& piece : built.pieces) mask |= 1u << piece.tileLevel;
  return mask;
}

RmfFeatureRef Ref(std::uint32_t feature, std::uint16_t part, std::uint16_t from, std::uint16_t to,
                  std::uint16_t position = kRmfPositionWhole, std::uint16_t source = 0, std::uint16_t second = 0) {
  return RmfFeatureRef{feature, source, second, part, from, to, position};
}

// Stores a copy of `refs` as the route's result, as a search would.
void SetResult(RmfRoute* route, const std::vector<RmfFeatureRef>& refs) {
  auto* array = static_cast<RmfFeatureRef*>(std::malloc(refs.size() * sizeof(RmfFeatureRef)));
  ASSERT_NE(array, nullptr);
  std::memcpy(array, refs.data(), refs.size() * sizeof(RmfFeatureRef));
  std::free(route->result);
  route->result = array;
  route->resultCount = static_cast<std::int32_t>(refs.size());
  route->routeCost = 1234;
}

// Fills every other heap-owning field a search and the expansion leave.
void SetLeftovers(RmfRoute* route) {
  route->sideTable = static_cast<RmfRouteSideEntry*>(std::calloc(2, sizeof(RmfRouteSideEntry)));
  route->sideCount = 2;
  route->auxRecords = static_cast<RmfRouteAuxRecord*>(std::calloc(2, sizeof(RmfRouteAuxRecord)));
  route->auxCount = 2;
  route->auxRecords[0].blocks[0] = std::malloc(10);
  route->auxRecords[0].blocks[1] = std::malloc(20);
  route->auxRecords[1].blocks[1] = std::malloc(30);
  route->searchBlock = std::malloc(40);
  route->searchBlockSize = 40;
  route->searchBlockIndex = 3;
  ASSERT_EQ(RmfNodePoolCreate(&route->nodePool, 256, 64, 4096, nullptr, nullptr), 1);
  route->meetForward = RmfNodePoolAlloc(route->nodePool, 92);
  route->meetBackward = RmfNodePoolAlloc(route->nodePool, 92);
}

// Everything a reset discards is gone (and freed: LeakSanitizer checks).
void ExpectNoSearchState(const RmfRoute* route) {
  EXPECT_EQ(route->result, nullptr);
  EXPECT_EQ(route->resultCount, 0);
  EXPECT_EQ(route->routeCost, -1);
  EXPECT_EQ(route->sideTable, nullptr);
  EXPECT_EQ(route->sideCount, 0);
  EXPECT_EQ(route->auxRecords, nullptr);
  EXPECT_EQ(route->auxCount, 0);
  EXPECT_EQ(route->searchBlock, nullptr);
  EXPECT_EQ(route->searchBlockSize, 0);
  EXPECT_EQ(route->searchBlockIndex, -1);
  EXPECT_EQ(route->nodePool, nullptr);
  EXPECT_EQ(route->meetForward, nullptr);
  EXPECT_EQ(route->meetBackward, nullptr);
  EXPECT_EQ(route->stateFlags & kRmfRouteStateCompacted, 0u);
}

class RouteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(reader_, nullptr);
    ASSERT_GE(maps_.AddFeatures(StreetMap(2, kStreet), &built_), 1) << maps_.error();
    const auto pieces = built_.PiecesOf(0);
    ASSERT_EQ(pieces.size(), 1u);
    street_ = pieces[0];
    ASSERT_EQ(street_->points.size(), kStreet.size());
    // The street's word positions: vertices and the attribute word between.
    RmfFeatureRef whole = Ref(street_->tileId, street_->entry, 0, 0, kRmfPositionWhole, 0, street_->sequence);
    RmfFeature* slot = nullptr;
    ASSERT_EQ(RmfFeatureFetch(reader_, whole, &slot, nullptr), 1);
    for (std::int32_t position = 0;; ++position) {
      const std::int32_t word = RmfFeatureNodeAt(slot, whole.part, position);
      if (word < 0) break;
      ((word & 0x8000) == 0 ? vertices_ : attributes_).push_back(static_cast<std::uint16_t>(position));
    }
    (void)RmfFeatureRelease(slot);
    ASSERT_EQ(vertices_.size(), kStreet.size());
    ASSERT_FALSE(attributes_.empty());
    ASSERT_EQ(RmfRouteCreate(&route_, reader_), 1);
  }
  void TearDown() override {
    if (route_ != nullptr) {
      EXPECT_EQ(RmfRouteDestroy(route_), 1);
    }
  }

  // The street from vertex i to vertex j.
  RmfFeatureRef Street(std::size_t i, std::size_t j, std::uint16_t position = kRmfPositionWhole) const {
    return Ref(street_->tileId, street_->entry, vertices_[i], vertices_[j], position, 0, street_->sequence);
  }
  std::int64_t Distance(std::size_t i, std::size_t j) const {
    std::int64_t sum = 0;
    for (std::size_t k = std::min(i, j); k < std::max(i, j); ++k) {
      sum += TiDistance(&street_->points[k], &street_->points[k + 1]);
    }
    return sum;
  }
  std::int32_t SlotUses() const {
    std::int32_t uses = -1;
    (void)RmfFeatureSlotUsage(reader_, nullptr, &uses);
    return uses;
  }
  // A released block in the route's feature cache.
  void CacheBlock(RmfFeatKey key) {
    void* data = nullptr;
    ASSERT_EQ(RmfFeatCacheAdd(route_->featCache, key, 64, &data), 1);
    ASSERT_EQ(RmfFeatCacheSetWriting(route_->featCache, data, 0), 1);
    ASSERT_EQ(RmfFeatCacheRelease(route_->featCache, data), 1);
  }
  bool Cached(RmfFeatKey key) {
    void* data = nullptr;
    if (RmfFeatCacheGet(route_->featCache, key, &data, nullptr) != 1) return false;
    EXPECT_EQ(RmfFeatCacheRelease(route_->featCache, data), 1);
    return true;
  }

  rmfbuild::MemoryReader maps_;
  RmfReader* const reader_ = maps_.reader();
  rmfbuild::FeatureBuild built_;
  const rmfbuild::FeaturePiece* street_ = nullptr;
  std::vector<std::uint16_t> vertices_;
  std::vector<std::uint16_t> attributes_;
  RmfRoute* route_ = nullptr;
};

// ---- creation and the reader's sources ------------------------------------------------------

TEST_F(RouteTest, CreateRefusesBadArgumentsAndLeavesNothingWhenItFails) {
  RmfRoute* route = reinterpret_cast<RmfRoute*>(&route);
  RmfReader closed{};
  EXPECT_EQ(RmfRouteCreate(nullptr, reader_), kRmfBadArgument);
  EXPECT_EQ(RmfRouteCreate(&route, nullptr), kRmfBadArgument);
  EXPECT_EQ(RmfRouteCreate(&route, &closed), kRmfBadArgument);
  // A source the reader cannot give fails the synchronisation: the record
  // made so far is freed (LeakSanitizer) and the output is left alone.
  RmfSource* source = reader_->sources[0];
  reader_->sources[0] = nullptr;
  EXPECT_EQ(RmfRouteCreate(&route, reader_), kRmfMalformed);
  reader_->sources[0] = source;
  EXPECT_EQ(route, reinterpret_cast<RmfRoute*>(&route));
}

TEST_F(RouteTest, FreshRouteHasNoResultAndKnowsItsSource) {
  std::int32_t count = -5;
  RmfFeatureRef* refs = reinterpret_cast<RmfFeatureRef*>(&count);
  EXPECT_EQ(RmfRouteRetrieve(route_, &count, &refs), 0);
  EXPECT_EQ(count, -5);
  EXPECT_EQ(refs, reinterpret_cast<RmfFeatureRef*>(&count));
  EXPECT_EQ(RmfRouteCompact(route_), 0);

  ASSERT_EQ(route_->sourceCount, 1);
  EXPECT_EQ(route_->sourceEnable[0], 1);
  const RmfSource* source = reader_->sources[0];
  EXPECT_EQ(std::memcmp(&route_->sourceBoxes[0], &source->header.box, sizeof(TiRect)), 0);
  EXPECT_EQ(RmfRouteSourceFlagBytes(route_)[0], source->header.flags);
  EXPECT_EQ(route_->levelMask, LevelMaskOf(built_));
  EXPECT_EQ(route_->profileGeneration, RmfProfileGetCounter(reader_));

  std::int32_t changed = -1;
  EXPECT_EQ(RmfRouteInit(route_, &changed), 1);
  EXPECT_EQ(changed, 0);
}

TEST_F(RouteTest, InitEmptiesTheCacheForANewProfileAndANewSource) {
  const RmfFeatKey key{street_->tileId, 0, street_->sequence};
  CacheBlock(key);
  route_->sourceEnable[0] = 0;
  std::int32_t changed = -1;
  ASSERT_EQ(RmfRouteInit(route_, &changed), 1);
  EXPECT_EQ(changed, 0);
  EXPECT_TRUE(Cached(key));
  EXPECT_EQ(route_->sourceEnable[0], 0);

  // A new profile: the cache is emptied and every source enabled again.
  ASSERT_EQ(RmfProfileSetCallbacks(reader_, testprofiles::Walking, nullptr, nullptr, kRmfProfileEngineLimit), 1);
  ASSERT_EQ(RmfRouteInit(route_, &changed), 1);
  EXPECT_EQ(changed, 1);
  EXPECT_FALSE(Cached(key));
  EXPECT_EQ(route_->sourceEnable[0], 1);
  EXPECT_EQ(route_->profileGeneration, RmfProfileGetCounter(reader_));

  // A new source on other tile levels, with other header flags.
  CacheBlock(key);
  rmfbuild::FeatureMap second = StreetMap(5, {{300000, 100000}, {301000, 101000}, {302000, 101000}});
  second.wideEntries = true;
  second.compressed = true;
  rmfbuild::FeatureBuild built;
  ASSERT_EQ(maps_.AddFeatures(second, &built), 2) << maps_.error();
  ASSERT_EQ(RmfRouteInit(route_, &changed), 1);
  EXPECT_EQ(changed, 1);
  EXPECT_FALSE(Cached(key));
  ASSERT_EQ(route_->sourceCount, 2);
  EXPECT_EQ(route_->sourceEnable[0], 1);
  EXPECT_EQ(route_->sourceEnable[1], 1);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(std::memcmp(&route_->sourceBoxes[i], &reader_->sources[i]->header.box, sizeof(TiRect)), 0) << i;
  }
  const std::uint8_t* flags = RmfRouteSourceFlagBytes(route_);
  EXPECT_EQ(flags[0] & (rmf::kHeaderFlagWideEntries | rmf::kHeaderFlagCompressed), 0);
  EXPECT_EQ(flags[1] & (rmf::kHeaderFlagWideEntries | rmf::kHeaderFlagCompressed),
            rmf::kHeaderFlagWideEntries | rmf::kHeaderFlagCompressed);
  EXPECT_EQ(route_->sourceFlags, static_cast<std::uint32_t>(flags[0] | flags[1]));
  EXPECT_EQ(route_->levelMask, LevelMaskOf(built_) | LevelMaskOf(built));
  EXPECT_NE(LevelMaskOf(built_), LevelMaskOf(built));
}

TEST_F(RouteTest, InitWithABlockStillHeldFailsAndTriesAgainLater) {
  const RmfFeatKey key{7, 0, 0};
  void* data = nullptr;
  ASSERT_EQ(RmfFeatCacheAdd(route_->featCache, key, 16, &data), 1);
  ASSERT_EQ(RmfFeatCacheSetWriting(route_->featCache, data, 0), 1);
  ASSERT_EQ(RmfProfileSetCallbacks(reader_, testprofiles::Driving, nullptr, nullptr, kRmfProfileEngineLimit), 1);
  const std::uint32_t errors = RmfInternalErrorCount();
  std::int32_t changed = -1;
  EXPECT_EQ(RmfRouteInit(route_, &changed), kRmfMalformed);
  EXPECT_EQ(changed, 0);
  EXPECT_EQ(RmfInternalErrorCount(), errors + 1);
  EXPECT_NE(route_->profileGeneration, RmfProfileGetCounter(reader_));
  ASSERT_EQ(RmfFeatCacheRelease(route_->featCache, data), 1);
  EXPECT_EQ(RmfRouteInit(route_, &changed), 1);
  EXPECT_EQ(changed, 1);
  EXPECT_FALSE(Cached(key));
}

// ---- results ------------------------------------------------------------------------------

TEST_F(RouteTest, SetTurnCostsDiscardsTheResult) {
  SetResult(route_, {Street(0, 1), Street(1, 2), Street(2, 3)});
  SetLeftovers(route_);
  route_->stateFlags |= kRmfRouteStateCompacted;
  EXPECT_EQ(RmfRouteSetTurnCosts(route_, nullptr), kRmfBadArgument);
  std::int32_t count = 0;
  ASSERT_EQ(RmfRouteRetrieve(route_, &count, nullptr), 1);
  EXPECT_EQ(count, 3);

  std::int32_t costs[kRmfTurnSectors];
  for (int i = 0; i < kRmfTurnSectors; ++i) costs[i] = 100 * i;
  costs[8] = -1;  // no U-turns
  EXPECT_EQ(RmfRouteSetTurnCosts(route_, costs), 1);
  EXPECT_EQ(std::memcmp(route_->turnCosts, costs, sizeof costs), 0);
  EXPECT_EQ(RmfRouteRetrieve(route_, &count, nullptr), 0);
  ExpectNoSearchState(route_);
  EXPECT_NE(route_->stateFlags & kRmfRouteStateAutoCompact, 0u);
}

TEST_F(RouteTest, ResetAndDestroyFreeWhatASearchLeft) {
  SetResult(route_, {Street(0, 4)});
  SetLeftovers(route_);
  EXPECT_EQ(RmfRouteReset(route_), 1);
  ExpectNoSearchState(route_);
  EXPECT_EQ(RmfRouteReset(route_), 1);
  SetResult(route_, {Street(0, 4)});
  SetLeftovers(route_);
  CacheBlock(RmfFeatKey{1, 2, 3});
  EXPECT_EQ(RmfRouteDestroy(route_), 1);  // LeakSanitizer checks that all of it went
  route_ = nullptr;
}

struct CompactCase {
  const char* name;
  std::vector<RmfFeatureRef> in;
  std::vector<RmfFeatureRef> out;
};

TEST_F(RouteTest, CompactionMergesOnlyInnerEntriesThatContinueEachOther) {
  constexpr std::uint32_t kA = 0x1111;
  constexpr std::uint32_t kB = 0x2222;
  const std::uint16_t kReverse = kRmfPositionReverse | kRmfPositionWhole;
  const CompactCase cases[] = {
      {"three entries stay as they are",
       {Ref(kA, 0, 2, 4, 300), Ref(kA, 0, 4, 6), Ref(kA, 0, 6, 7, 500)},
       {Ref(kA, 0, 2, 4, 300), Ref(kA, 0, 4, 6), Ref(kA, 0, 6, 7, 500)}},
      {"an inner run becomes one entry; the ends stay although they continue it",
       {Ref(kA, 0, 0, 2, 300), Ref(kA, 0, 2, 4), Ref(kA, 0, 4, 6), Ref(kA, 0, 6, 8), Ref(kA, 0, 8, 9, 700)},
       {Ref(kA, 0, 0, 2, 300), Ref(kA, 0, 2, 8), Ref(kA, 0, 8, 9, 700)}},
      {"backward runs merge as well and take the end position of the last",
       {Ref(kB, 1, 9, 8, 100), Ref(kB, 1, 8, 6, kReverse), Ref(kB, 1, 6, 4, kReverse), Ref(kB, 1, 4, 3, 200)},
       {Ref(kB, 1, 9, 8, 100), Ref(kB, 1, 8, 4, kReverse), Ref(kB, 1, 4, 3, 200)}},
      {"two runs on two features",
       {Ref(kA, 0, 0, 1), Ref(kA, 0, 1, 2), Ref(kA, 0, 2, 3), Ref(kB, 0, 5, 4), Ref(kB, 0, 4, 3), Ref(kB, 0, 3, 0)},
       {Ref(kA, 0, 0, 1), Ref(kA, 0, 1, 3), Ref(kB, 0, 5, 3), Ref(kB, 0, 3, 0)}},
      {"no merge across a change of part, source, record, direction, reverse mark, or a gap",
       {Ref(kA, 0, 0, 1), Ref(kA, 0, 1, 2), Ref(kA, 1, 2, 3), Ref(kA, 1, 3, 4, kRmfPositionWhole, 1),
        Ref(kA, 1, 4, 5, kRmfPositionWhole, 1, 1), Ref(kA, 1, 5, 4, kRmfPositionWhole, 1, 1),
        Ref(kA, 1, 4, 3, kReverse, 1, 1), Ref(kA, 1, 2, 1, kReverse, 1, 1), Ref(kA, 1, 1, 1, kReverse, 1, 1),
        Ref(kA, 1, 1, 0)},
       {Ref(kA, 0, 0, 1), Ref(kA, 0, 1, 2), Ref(kA, 1, 2, 3), Ref(kA, 1, 3, 4, kRmfPositionWhole, 1),
        Ref(kA, 1, 4, 5, kRmfPositionWhole, 1, 1), Ref(kA, 1, 5, 4, kRmfPositionWhole, 1, 1),
        Ref(kA, 1, 4, 3, kReverse, 1, 1), Ref(kA, 1, 2, 1, kReverse, 1, 1), Ref(kA, 1, 1, 1, kReverse, 1, 1),
        Ref(kA, 1, 1, 0)}},
  };
  for (const CompactCase& c : cases) {
    SCOPED_TRACE(c.name);
    SetResult(route_, c.in);
    SetLeftovers(route_);
    EXPECT_EQ(RmfRouteCompact(route_), static_cast<std::int32_t>(c.out.size()));
    std::int32_t count = 0;
    RmfFeatureRef* refs = nullptr;
    ASSERT_EQ(RmfRouteRetrieve(route_, &count, &refs), 1);
    EXPECT_EQ(std::vector<RmfFeatureRef>(refs, refs + count), c.out);
    EXPECT_NE(route_->stateFlags & kRmfRouteStateCompacted, 0u);
    EXPECT_EQ(route_->nodePool, nullptr);
    EXPECT_EQ(route_->searchBlock, nullptr);
    EXPECT_EQ(route_->meetForward, nullptr);
    EXPECT_EQ(route_->routeCost, 1234);
    // Once per result.
    EXPECT_EQ(RmfRouteCompact(route_), static_cast<std::int32_t>(c.out.size()));
    ASSERT_EQ(RmfRouteReset(route_), 1);
  }
}

// ---- lengths of reference lists ------------------------------------------------------------

TEST_F(RouteTest, RefsLengthAgreesWithDistanceSums) {
  const std::int64_t firstTwo = Distance(0, 2);
  const struct {
    const char* name;
    std::vector<RmfFeatureRef> refs;
    std::int64_t length;
  } cases[] = {
      {"whole street", {Street(0, 4)}, Distance(0, 4)},
      {"whole street backward", {Street(4, 0)}, Distance(0, 4)},
      {"over the attribute word", {Street(1, 3)}, Distance(1, 3)},
      {"one vertex", {Street(2, 2)}, 0},
      {"half", {Street(0, 2, 512)}, (firstTwo * (512ll << 22)) >> 32},
      {"fraction 1", {Street(0, 2, 1)}, (firstTwo * (1ll << 22)) >> 32},
      {"fraction 0", {Street(0, 2, 0)}, 0},
      {"fraction with direction marks", {Street(2, 0, kRmfPositionReverse | 768)}, (firstTwo * (768ll << 22)) >> 32},
      {"a list", {Street(0, 1), Street(1, 3), Street(3, 4), Street(4, 0)}, 2 * Distance(0, 4)},
      {"nothing", {}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(RmfRouteRefsLength(reader_, c.refs.data(), static_cast<std::int32_t>(c.refs.size())), c.length);
    EXPECT_EQ(SlotUses(), 0);
  }
}

TEST_F(RouteTest, RefsLengthRefusesWalksThatDoNotComeOut) {
  RmfFeatureRef toAttribute = Street(1, 1);
  toAttribute.toVertex = attributes_.back();
  RmfFeatureRef fromAttribute = Street(4, 4);
  fromAttribute.fromVertex = attributes_.back();
  RmfFeatureRef beyondEnd = Street(0, 4);
  beyondEnd.toVertex = static_cast<std::uint16_t>(vertices_.back() + 1);
  RmfFeatureRef noRecord = Street(0, 1);
  noRecord.secondId = 9;
  RmfFeatureRef noSource = Street(0, 1);
  noSource.source = 3;
  RmfFeatureRef noPart = Street(0, 1);
  noPart.part = 40;
  const struct {
    const char* name;
    std::vector<RmfFeatureRef> refs;
    std::int32_t rc;
  } cases[] = {
      {"to an attribute word", {toAttribute}, kRmfMalformed},
      {"from an attribute word", {fromAttribute}, kRmfMalformed},
      {"beyond the last vertex", {beyondEnd}, kRmfMalformed},
      {"a record that is not there", {noRecord}, kRmfMalformed},
      {"a source that is not there", {noSource}, kRmfMalformed},
      {"a part that is not there", {noPart}, kRmfMalformed},
      {"after a good one", {Street(0, 4), toAttribute}, kRmfMalformed},
      {"fraction above 1024", {Street(0, 1, 1025)}, kRmfBadReference},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(RmfRouteRefsLength(reader_, c.refs.data(), static_cast<std::int32_t>(c.refs.size())), c.rc);
    EXPECT_EQ(SlotUses(), 0);
  }
  const RmfFeatureRef one = Street(0, 1);
  RmfReader closed{};
  EXPECT_EQ(RmfRouteRefsLength(reader_, nullptr, 1), kRmfBadArgument);
  EXPECT_EQ(RmfRouteRefsLength(reader_, &one, -1), kRmfBadArgument);
  EXPECT_EQ(RmfRouteRefsLength(&closed, &one, 1), kRmfBadArgument);
  EXPECT_EQ(RmfRouteRefsLength(nullptr, &one, 1), kRmfBadArgument);
}

// ---- costs ------------------------------------------------------------------------------------

// length x factor >> (8 + shift), or the overflow mark when the product
// exceeds 0x7FFFFFFF << (8 + shift), in 128 bits.
std::int32_t ModelCost(std::uint32_t length, std::uint32_t factor, std::uint32_t shift) {
  const unsigned __int128 product = static_cast<unsigned __int128>(length) * factor;
  const std::uint32_t total = 8 + shift;
  if (total >= 64) return 0;  // the product has 64 bits at most
  if (product > (static_cast<unsigned __int128>(0x7FFFFFFF) << total)) return kRmfScaledCostOverflow;
  return static_cast<std::int32_t>(product >> total);
}

TEST(ScaledCostTest, AgreesWithA128BitModel) {
  const std::uint32_t lengths[] = {0, 1, 1000, (1u << 19) - 1, 1u << 19, 0x7FFFFF, 0x7FFFFFFF, 0xFFFFFFFF};
  const std::uint32_t factors[] = {0, 1, 256, 1373, (1u << 13) - 1, 1u << 13, 0xFFFF, 0xFFFFFFFF};
  const std::uint32_t shifts[] = {0, 4, 8, 23, 24, 25, 31, 56, 60, 100, 0xFFFFFFF0};
  for (std::uint32_t length : lengths) {
    for (std::uint32_t factor : factors) {
      for (std::uint32_t shift : shifts) {
        if (shift == 0xFFFFFFF0) continue;  // beyond the model's 128 bits; below
        EXPECT_EQ(RmfScaledCost(length, factor, shift), ModelCost(length, factor, shift))
            << length << " x " << factor << " >> 8 + " << shift;
      }
    }
  }
  // The largest inputs of the 32-bit path give what the 64-bit one does.
  EXPECT_EQ(RmfScaledCost((1u << 19) - 1, (1u << 13) - 1, 0),
            static_cast<std::int32_t>(((std::uint64_t{1} << 19) - 1) * ((1u << 13) - 1) >> 8));
  EXPECT_EQ(RmfScaledCost(0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFF0), 0);
}

TEST(ScaledCostTest, OverflowStartsJustAboveTheLimit) {
  // 0x7FFFFFFF << 8 as a product of two 32-bit numbers: 0x7FFFFFFF x 256.
  EXPECT_EQ(RmfScaledCost(0x7FFFFFFF, 256, 0), 0x7FFFFFFF);
  EXPECT_EQ(RmfScaledCost(0x80000000, 256, 0), kRmfScaledCostOverflow);
  EXPECT_EQ(RmfScaledCost(0x80000000, 256, 1), 0x40000000);
  EXPECT_EQ(RmfScaledCost(0x7FFFFFFF, 257, 0), kRmfScaledCostOverflow);
  // A remainder below the shift already exceeds the limit.
  EXPECT_EQ(RmfScaledCost(0xFFFFFFFF, 0xFFFFFFFF, 25), kRmfScaledCostOverflow);
  EXPECT_EQ(RmfScaledCost(0xFFFFFFFF, 0xFFFFFFFF, 26), 0x3FFFFFFF);
}

// ---- options ----------------------------------------------------------------------------------

TEST_F(RouteTest, OptionsRefuseBadRoutesAndValues) {
  std::atomic<std::int8_t> cancel{0};
  std::uint8_t progress = 0;
  EXPECT_EQ(RmfRouteSetCancelFlag(route_, &cancel), 1);
  EXPECT_EQ(route_->cancel, &cancel);
  EXPECT_EQ(RmfRouteSetProgress(route_, &progress), 1);
  EXPECT_EQ(route_->progress, &progress);
  EXPECT_EQ(RmfRouteSetNodeMemoryLimit(route_, 24), kRmfBadArgument);
  EXPECT_EQ(RmfRouteSetNodeMemoryLimit(route_, 0x80000000u), kRmfBadArgument);
  EXPECT_EQ(RmfRouteSetNodeMemoryLimit(route_, 25), 1);
  EXPECT_EQ(route_->nodeMemoryLimit, 25u);
  EXPECT_EQ(RmfRouteSetModeFlags(route_, kRmfRouteModeDefault | 0x04), kRmfBadArgument);
  EXPECT_EQ(RmfRouteSetModeFlags(route_, 0x80), kRmfBadArgument);
  EXPECT_EQ(route_->modeFlags, kRmfRouteModeDefault);
  EXPECT_EQ(RmfRouteSetModeFlags(route_, kRmfRouteModeTimeDependent | kRmfRouteModeSideTable), 1);
  EXPECT_EQ(RmfRouteSetTolerance(route_, 100), 1);
  EXPECT_EQ(RmfRouteSetTries(route_, 0), 1);

  // A record that was never created (tag 0) is refused everywhere.
  RmfRoute notCreated{};
  notCreated.reader = reader_;
  const std::int32_t costs[kRmfTurnSectors] = {};
  for (RmfRoute* r : {static_cast<RmfRoute*>(nullptr), &notCreated}) {
    EXPECT_EQ(RmfRouteDestroy(r), kRmfBadArgument);
    EXPECT_EQ(RmfRouteRetrieve(r, nullptr, nullptr), kRmfBadArgument);
    EXPECT_EQ(RmfRouteSetTurnCosts(r, costs), kRmfBadArgument);
    EXPECT_EQ(RmfRouteReset(r), kRmfBadArgument);
    EXPECT_EQ(RmfRouteInit(r, nullptr), kRmfBadArgument);
    EXPECT_EQ(RmfRouteCompact(r), kRmfBadArgument);
    EXPECT_EQ(RmfRouteSetCancelFlag(r, nullptr), kRmfBadArgument);
    EXPECT_EQ(RmfRouteSetProgress(r, nullptr), kRmfBadArgument);
    EXPECT_EQ(RmfRouteSetTolerance(r, 125), kRmfBadArgument);
    EXPECT_EQ(RmfRouteSetNodeMemoryLimit(r, 1000), kRmfBadArgument);
    EXPECT_EQ(RmfRouteSetTries(r, 3), kRmfBadArgument);
    EXPECT_EQ(RmfRouteSetModeFlags(r, 0), kRmfBadArgument);
  }
}

TEST_F(RouteTest, RetrieveRefusesANegativeCount) {
  route_->resultCount = -1;
  EXPECT_EQ(RmfRouteRetrieve(route_, nullptr, nullptr), kRmfBadArgument);
  route_->resultCount = 0;
}

}  // namespace
