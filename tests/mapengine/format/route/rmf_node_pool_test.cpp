// Tests of the search's node pool: the limits of its arguments, rounding and
// alignment of requests, how chunks are sized and counted against the
// maximum, which chunks serve requests (only the five newest), and what
// happens at the maximum with and without a reclaim hook.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "mapengine/format/route/RmfNodePool.h"

namespace {

constexpr std::uint32_t kGrain = kRmfNodePoolGrain;

std::uintptr_t Address(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }

// A pool owned by the test.
struct Pool {
  Pool(std::int32_t initial, std::int32_t growth, std::int32_t maximum, RmfNodeReclaimFn reclaim = nullptr,
       void* context = nullptr) {
    rc = RmfNodePoolCreate(&pool, initial, growth, maximum, reclaim, context);
  }
  ~Pool() {
    if (pool != nullptr) (void)RmfNodePoolDestroy(pool);
  }
  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;
  void* Alloc(std::int32_t size) { return RmfNodePoolAlloc(pool, size); }

  RmfNodePool* pool = nullptr;
  std::int32_t rc = 0;
};

TEST(NodePoolTest, CreateRefusesBadLimits) {
  const struct {
    std::int32_t initial, growth, maximum;
    std::int32_t rc;
  } cases[] = {
      {100, 40, 200, 1},  {40, 40, 25, 1},        // initial = growth, the least maximum
      {39, 40, 200, kRmfBadArgument},             // initial below growth
      {100, 0, 200, kRmfBadArgument},  {0, -1, 200, kRmfBadArgument},  // no growth
      {100, 40, 24, kRmfBadArgument},  {100, 40, 0, kRmfBadArgument},   // maximum below 25
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.initial << " " << c.growth << " " << c.maximum);
    Pool p(c.initial, c.growth, c.maximum);
    EXPECT_EQ(p.rc, c.rc);
    EXPECT_EQ(p.pool != nullptr, c.rc == 1);
  }
  EXPECT_EQ(RmfNodePoolCreate(nullptr, 100, 40, 200, nullptr, nullptr), kRmfBadArgument);
}

TEST(NodePoolTest, RequestsAreRoundedAndAligned) {
  Pool p(1000, 100, 100000);
  ASSERT_EQ(p.rc, 1);
  EXPECT_EQ(p.Alloc(0), nullptr);
  EXPECT_EQ(p.Alloc(-8), nullptr);
  std::vector<void*> got;
  for (std::int32_t size : {1, 3, 4, 5, 8, 9, 92, 24, 12}) got.push_back(p.Alloc(size));
  for (std::size_t i = 0; i < got.size(); ++i) {
    ASSERT_NE(got[i], nullptr);
    EXPECT_EQ(Address(got[i]) % kGrain, 0u) << i;
  }
  // One chunk, each request taking its size rounded up to the grain.
  const std::uint32_t expected[] = {1, 3, 4, 5, 8, 9, 92, 24};
  for (std::size_t i = 0; i + 1 < got.size(); ++i) {
    const std::uint32_t rounded = (expected[i] + kGrain - 1) / kGrain * kGrain;
    EXPECT_EQ(Address(got[i + 1]) - Address(got[i]), rounded) << i;
  }
  // Every byte handed out is the caller's: write them all (ASan checks).
  for (void* g : got) *static_cast<std::uint8_t*>(g) = 0xEE;
}

TEST(NodePoolTest, ChunksAreCountedAgainstTheMaximum) {
  // Room for exactly the first chunk: 96 + 12 counted bytes, + 24 reserved.
  {
    Pool p(96, 32, 96 + 12 + 24);
    ASSERT_EQ(p.rc, 1);
    for (int i = 0; i < 96 / 8; ++i) ASSERT_NE(p.Alloc(8), nullptr) << i;
    EXPECT_EQ(p.pool->allocated, 96u + 12u);
    EXPECT_EQ(p.Alloc(1), nullptr);
    EXPECT_EQ(p.pool->allocated, 96u + 12u);
  }
  // One byte more than the first chunk needs: it is refused too.
  {
    Pool p(96, 32, 96 + 12 + 24 - 1);
    ASSERT_EQ(p.rc, 1);
    EXPECT_EQ(p.Alloc(8), nullptr);
    EXPECT_EQ(p.pool->allocated, 0u);
  }
  // Room for a growth chunk after it; a request larger than the growth
  // size gets a chunk of its own size (+ 12).
  {
    Pool p(96, 32, 96 + 12 + 32 + 12 + 24 + 64 + 12);
    ASSERT_EQ(p.rc, 1);
    ASSERT_NE(p.Alloc(96), nullptr);
    ASSERT_NE(p.Alloc(32), nullptr);
    EXPECT_EQ(p.pool->allocated, 96u + 12u + 32u + 12u);
    void* big = p.Alloc(64);
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(p.pool->allocated, 96u + 12u + 32u + 12u + 64u + 12u);
    std::fill_n(static_cast<std::uint8_t*>(big), 64, 0x11);
    EXPECT_EQ(p.Alloc(8), nullptr);
  }
  // A first request larger than the initial chunk gets a chunk of its size.
  {
    Pool p(40, 40, 1000);
    ASSERT_EQ(p.rc, 1);
    ASSERT_NE(p.Alloc(200), nullptr);
    EXPECT_EQ(p.pool->allocated, 200u + 12u);
  }
}

TEST(NodePoolTest, OnlyTheFiveNewestChunksServeRequests) {
  Pool p(64, 64, 100000);
  ASSERT_EQ(p.rc, 1);
  std::uint8_t* first = static_cast<std::uint8_t*>(p.Alloc(40));  // first chunk: 24 bytes stay free
  ASSERT_NE(first, nullptr);
  auto inFirst = [&](const void* q) { return Address(q) >= Address(first) && Address(q) < Address(first) + 64; };
  // Four full chunks later the first is the fifth newest and still serves.
  for (int i = 0; i < 4; ++i) ASSERT_NE(p.Alloc(64), nullptr);
  const std::uint32_t before = p.pool->allocated;
  void* served = p.Alloc(8);
  EXPECT_TRUE(inFirst(served));
  EXPECT_EQ(p.pool->allocated, before);
  // One chunk more and it is out of reach: a new chunk is made instead.
  ASSERT_NE(p.Alloc(64), nullptr);
  const std::uint32_t later = p.pool->allocated;
  void* fresh = p.Alloc(8);
  EXPECT_FALSE(inFirst(fresh));
  EXPECT_EQ(p.pool->allocated, later + 64u + 12u);
}

// A reclaim hook over a buffer of the test: hands out its slots and records
// the sizes asked for.
struct Reclaimer {
  static void* Reclaim(void* context, std::uint32_t size) {
    auto* self = static_cast<Reclaimer*>(context);
    self->asked.push_back(size);
    if (self->given >= 2) return nullptr;
    return self->slots[self->given++];
  }
  alignas(8) std::uint8_t slots[2][128] = {};
  int given = 0;
  std::vector<std::uint32_t> asked;
};

TEST(NodePoolTest, AtTheMaximumTheHookIsAskedElseNothingIsGiven) {
  for (bool withHook : {false, true}) {
    SCOPED_TRACE(withHook);
    Reclaimer reclaimer;
    Pool p(32, 32, 32 + 12 + 24, withHook ? &Reclaimer::Reclaim : nullptr, &reclaimer);
    ASSERT_EQ(p.rc, 1);
    ASSERT_NE(p.Alloc(32), nullptr);
    void* a = p.Alloc(13);
    void* b = p.Alloc(90);
    void* c = p.Alloc(8);
    if (!withHook) {
      EXPECT_EQ(a, nullptr);
      EXPECT_EQ(b, nullptr);
      EXPECT_EQ(c, nullptr);
      EXPECT_TRUE(reclaimer.asked.empty());
      continue;
    }
    EXPECT_EQ(a, reclaimer.slots[0]);
    EXPECT_EQ(b, reclaimer.slots[1]);
    EXPECT_EQ(c, nullptr);  // the hook has nothing left
    const std::vector<std::uint32_t> rounded = {(13 + kGrain - 1) / kGrain * kGrain, (90 + kGrain - 1) / kGrain * kGrain,
                                                8};
    EXPECT_EQ(reclaimer.asked, rounded);
    EXPECT_EQ(p.pool->allocated, 32u + 12u);
  }
}

TEST(NodePoolTest, DestroyOnlyALivePool) {
  RmfNodePool* pool = nullptr;
  ASSERT_EQ(RmfNodePoolCreate(&pool, 64, 64, 1000, nullptr, nullptr), 1);
  for (int i = 0; i < 10; ++i) ASSERT_NE(RmfNodePoolAlloc(pool, 50), nullptr);
  EXPECT_EQ(RmfNodePoolDestroy(pool), 1);  // every chunk goes (LeakSanitizer checks)

  RmfNodePool notAPool{};
  EXPECT_EQ(RmfNodePoolDestroy(nullptr), 0);
  EXPECT_EQ(RmfNodePoolDestroy(&notAPool), 0);
  EXPECT_EQ(RmfNodePoolAlloc(&notAPool, 8), nullptr);
  notAPool.magic = kRmfNodePoolDeadMagic;
  EXPECT_EQ(RmfNodePoolDestroy(&notAPool), 0);
}

}  // namespace
