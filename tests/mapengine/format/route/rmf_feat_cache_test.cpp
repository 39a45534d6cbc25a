// Tests of the per-route feature cache: the budget (a refused block changes
// nothing, room is made by evicting released blocks oldest release first and
// never held ones), blocks coming back after release without being rebuilt,
// the writing mark, clearing, the key order of the chains, resizing, and a
// long random run checked step by step against a small model of the cache.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <list>
#include <map>
#include <random>
#include <tuple>
#include <vector>

#include "mapengine/format/route/RmfFeatCache.h"

namespace {

RmfFeatKey Key(std::uint32_t a, std::uint16_t b = 0, std::uint16_t c = 0) { return RmfFeatKey{a, b, c}; }

// The cache under test, destroyed with the test.
class FeatCacheTest : public ::testing::Test {
 protected:
  void Make(std::int32_t budget, std::int32_t buckets = 0) {
    ASSERT_EQ(RmfFeatCacheCreate(nullptr, &cache_, buckets, budget), 1);
  }
  void TearDown() override {
    if (cache_ != nullptr) {
      EXPECT_EQ(RmfFeatCacheDestroy(cache_), 1);
    }
  }
  // Adds, fills with `fill`, clears the writing mark; held once.
  void* AddFilled(RmfFeatKey key, std::int32_t size, std::uint8_t fill) {
    void* data = nullptr;
    EXPECT_EQ(RmfFeatCacheAdd(cache_, key, size, &data), 1);
    if (data == nullptr) return nullptr;
    std::memset(data, fill, static_cast<std::size_t>(size));
    EXPECT_EQ(RmfFeatCacheSetWriting(cache_, data, 0), 1);
    return data;
  }
  // Adds, fills and releases: the block sits on the release list.
  void AddReleased(RmfFeatKey key, std::int32_t size, std::uint8_t fill) {
    void* data = AddFilled(key, size, fill);
    ASSERT_NE(data, nullptr);
    ASSERT_EQ(RmfFeatCacheRelease(cache_, data), 1);
  }
  // Whether the key is in the cache, found by walking every chain (a Get
  // would change the block's state).
  bool Holds(RmfFeatKey key) const {
    for (std::uint32_t b = 0; b < cache_->bucketCount; ++b) {
      for (const RmfFeatCacheEntry* e = cache_->buckets[b]; e != nullptr; e = e->chainNext) {
        if (e->key.a == key.a && e->key.b == key.b && e->key.c == key.c) return true;
      }
    }
    return false;
  }

  RmfFeatCache* cache_ = nullptr;
};

TEST_F(FeatCacheTest, DefaultsAndBadArguments) {
  Make(0, -4);
  EXPECT_EQ(cache_->budget, static_cast<std::uint32_t>(kRmfFeatCacheDefaultBudget));
  EXPECT_EQ(cache_->bucketCount, static_cast<std::uint32_t>(kRmfFeatCacheDefaultBuckets));

  void* data = nullptr;
  std::int32_t size = 0;
  int dummy = 0;
  EXPECT_EQ(RmfFeatCacheCreate(nullptr, nullptr, 1, 1), kRmfBadArgument);
  EXPECT_EQ(RmfFeatCacheDestroy(nullptr), kRmfBadArgument);
  EXPECT_EQ(RmfFeatCacheAdd(nullptr, Key(1), 4, &data), kRmfBadArgument);
  EXPECT_EQ(RmfFeatCacheAdd(cache_, Key(1), -1, &data), kRmfBadArgument);
  EXPECT_EQ(RmfFeatCacheAdd(cache_, Key(1), 4, nullptr), kRmfBadArgument);
  EXPECT_EQ(RmfFeatCacheGet(cache_, Key(1), nullptr, &size), kRmfBadArgument);
  EXPECT_EQ(RmfFeatCacheRelease(cache_, nullptr), kRmfBadArgument);
  EXPECT_EQ(RmfFeatCacheResize(cache_, &dummy, -1, &data), kRmfBadArgument);
  EXPECT_EQ(RmfFeatCacheSetWriting(nullptr, &dummy, 0), kRmfBadArgument);
  EXPECT_EQ(RmfFeatCacheClear(nullptr), kRmfBadArgument);
  EXPECT_EQ(RmfFeatCacheTrim(cache_, -1), kRmfBadArgument);
  EXPECT_EQ(cache_->bytesInUse + cache_->bytesReleased, 0u);
}

TEST_F(FeatCacheTest, BlockBeyondTheFreeBudgetChangesNothing) {
  Make(1000);
  void* held = AddFilled(Key(1), 600, 0x11);
  AddReleased(Key(2), 300, 0x22);
  // 400 bytes are free for use: evicting the released block would give 100
  // of them only as spare, never 500.
  void* data = &data;
  EXPECT_EQ(RmfFeatCacheAdd(cache_, Key(3), 401, &data), kRmfMalformed);
  EXPECT_EQ(data, &data);
  EXPECT_EQ(RmfFeatCacheTrim(cache_, 401), 0);
  EXPECT_TRUE(Holds(Key(2)));
  EXPECT_FALSE(Holds(Key(3)));
  EXPECT_EQ(cache_->bytesInUse, 600u);
  EXPECT_EQ(cache_->bytesReleased, 300u);

  // Exactly the free part fits, at the price of the released block.
  ASSERT_EQ(RmfFeatCacheAdd(cache_, Key(3), 400, &data), 1);
  EXPECT_FALSE(Holds(Key(2)));
  EXPECT_EQ(cache_->bytesInUse, 1000u);
  EXPECT_EQ(cache_->bytesReleased, 0u);
  EXPECT_EQ(static_cast<std::uint8_t*>(held)[599], 0x11);
}

TEST_F(FeatCacheTest, ReleasedBlockComesBackUnchangedAndLeavesTheReleaseList) {
  Make(1000);
  void* first = AddFilled(Key(7, 1, 2), 100, 0x5A);
  ASSERT_EQ(RmfFeatCacheRelease(cache_, first), 1);
  EXPECT_EQ(cache_->releaseOldest, cache_->releaseNewest);
  EXPECT_EQ(cache_->bytesReleased, 100u);

  void* again = nullptr;
  std::int32_t size = 0;
  ASSERT_EQ(RmfFeatCacheGet(cache_, Key(7, 1, 2), &again, &size), 1);
  EXPECT_EQ(again, first);
  EXPECT_EQ(size, 100);
  EXPECT_EQ(static_cast<std::uint8_t*>(again)[0], 0x5A);
  EXPECT_EQ(static_cast<std::uint8_t*>(again)[99], 0x5A);
  EXPECT_EQ(cache_->releaseOldest, nullptr);
  EXPECT_EQ(cache_->releaseNewest, nullptr);
  EXPECT_EQ(cache_->bytesInUse, 100u);
  EXPECT_EQ(cache_->bytesReleased, 0u);

  // Held again, it survives a request that needs every other byte.
  ASSERT_EQ(RmfFeatCacheTrim(cache_, 900), 1);
  void* other = nullptr;
  EXPECT_EQ(RmfFeatCacheAdd(cache_, Key(8), 901, &other), kRmfMalformed);
  EXPECT_TRUE(Holds(Key(7, 1, 2)));

  // Two holders: the block is released only by the second release.
  ASSERT_EQ(RmfFeatCacheGet(cache_, Key(7, 1, 2), &again, nullptr), 1);
  ASSERT_EQ(RmfFeatCacheRelease(cache_, again), 1);
  EXPECT_EQ(cache_->bytesReleased, 0u);
  ASSERT_EQ(RmfFeatCacheRelease(cache_, again), 1);
  EXPECT_EQ(cache_->bytesReleased, 100u);
  EXPECT_EQ(RmfFeatCacheRelease(cache_, again), kRmfMalformed);
  EXPECT_EQ(cache_->bytesReleased, 100u);
}

TEST_F(FeatCacheTest, EvictionFollowsReleaseOrderNotAddOrder) {
  Make(400);
  void* a = AddFilled(Key(1), 100, 1);
  void* b = AddFilled(Key(2), 100, 2);
  void* c = AddFilled(Key(3), 100, 3);
  ASSERT_EQ(RmfFeatCacheRelease(cache_, b), 1);
  ASSERT_EQ(RmfFeatCacheRelease(cache_, c), 1);
  ASSERT_EQ(RmfFeatCacheRelease(cache_, a), 1);
  // Fetching b again and giving it back makes it the newest release.
  void* data = nullptr;
  ASSERT_EQ(RmfFeatCacheGet(cache_, Key(2), &data, nullptr), 1);
  ASSERT_EQ(RmfFeatCacheRelease(cache_, data), 1);
  // Release order now: c, a, b. 100 bytes are free; 200 more evict c only.
  ASSERT_EQ(RmfFeatCacheAdd(cache_, Key(4), 200, &data), 1);
  EXPECT_FALSE(Holds(Key(3)));
  EXPECT_TRUE(Holds(Key(1)));
  EXPECT_TRUE(Holds(Key(2)));
  // 200 held, 200 released: room for 100 more takes the next oldest, a.
  ASSERT_EQ(RmfFeatCacheTrim(cache_, 100), 1);
  EXPECT_FALSE(Holds(Key(1)));
  EXPECT_TRUE(Holds(Key(2)));
  EXPECT_EQ(cache_->bytesInUse + cache_->bytesReleased, 300u);
}

TEST_F(FeatCacheTest, DuplicateKeyIsRefusedWithoutEvictingIt) {
  Make(100);
  AddReleased(Key(5, 6, 7), 60, 0x33);
  void* data = nullptr;
  // Room for 80 would evict the released block with this very key.
  EXPECT_EQ(RmfFeatCacheAdd(cache_, Key(5, 6, 7), 80, &data), kRmfMalformed);
  EXPECT_TRUE(Holds(Key(5, 6, 7)));
  EXPECT_EQ(cache_->bytesReleased, 60u);
  EXPECT_EQ(cache_->bytesInUse, 0u);
}

TEST_F(FeatCacheTest, WritingMarkKeepsABlockExclusive) {
  Make(1000);
  void* data = nullptr;
  ASSERT_EQ(RmfFeatCacheAdd(cache_, Key(9), 16, &data), 1);
  void* got = nullptr;
  EXPECT_EQ(RmfFeatCacheGet(cache_, Key(9), &got, nullptr), kRmfMalformed);
  EXPECT_EQ(got, nullptr);
  EXPECT_EQ(RmfFeatCacheRelease(cache_, data), kRmfMalformed);
  EXPECT_EQ(RmfFeatCacheSetWriting(cache_, data, 1), kRmfMalformed);
  EXPECT_EQ(cache_->bytesReleased, 0u);

  ASSERT_EQ(RmfFeatCacheSetWriting(cache_, data, 0), 1);
  EXPECT_EQ(RmfFeatCacheSetWriting(cache_, data, 0), kRmfMalformed);
  ASSERT_EQ(RmfFeatCacheGet(cache_, Key(9), &got, nullptr), 1);
  EXPECT_EQ(got, data);
  // Held twice: the mark cannot be taken.
  EXPECT_EQ(RmfFeatCacheSetWriting(cache_, data, 1), kRmfMalformed);
  ASSERT_EQ(RmfFeatCacheRelease(cache_, data), 1);
  // Held once: it can, and the block is again out of reach.
  ASSERT_EQ(RmfFeatCacheSetWriting(cache_, data, 7), 1);
  EXPECT_EQ(RmfFeatCacheGet(cache_, Key(9), &got, nullptr), kRmfMalformed);
  // Released blocks cannot be marked either.
  ASSERT_EQ(RmfFeatCacheSetWriting(cache_, data, 0), 1);
  ASSERT_EQ(RmfFeatCacheRelease(cache_, data), 1);
  EXPECT_EQ(RmfFeatCacheSetWriting(cache_, data, 1), kRmfMalformed);
}

TEST_F(FeatCacheTest, ClearRefusedWhileAnyBlockIsHeld) {
  // A held block of 0 bytes counts as held as much as one of 16.
  for (std::int32_t size : {0, 16}) {
    SCOPED_TRACE(size);
    Make(1000);
    AddReleased(Key(1), 40, 1);
    void* held = AddFilled(Key(2), size, 2);
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(RmfFeatCacheClear(cache_), kRmfMalformed);
    EXPECT_TRUE(Holds(Key(1)));
    EXPECT_TRUE(Holds(Key(2)));
    ASSERT_EQ(RmfFeatCacheRelease(cache_, held), 1);
    EXPECT_EQ(RmfFeatCacheClear(cache_), 1);
    EXPECT_FALSE(Holds(Key(1)));
    EXPECT_FALSE(Holds(Key(2)));
    EXPECT_EQ(cache_->releaseOldest, nullptr);
    EXPECT_EQ(cache_->bytesInUse + cache_->bytesReleased, 0u);
    // The cache works on after a clear.
    AddReleased(Key(1), 40, 3);
    ASSERT_EQ(RmfFeatCacheDestroy(cache_), 1);
    cache_ = nullptr;
  }
}

TEST_F(FeatCacheTest, ChainsRunInKeyOrderBThenAThenC) {
  Make(1000, 1);
  const RmfFeatKey keys[] = {Key(5, 2, 0), Key(1, 3, 0), Key(9, 1, 4), Key(9, 1, 2), Key(0xFFFFFFFF, 0, 0),
                             Key(2, 2, 9), Key(2, 2, 1), Key(0, 0xFFFF, 0), Key(3, 1, 0)};
  for (const RmfFeatKey& k : keys) AddReleased(k, 4, 0);
  std::vector<std::tuple<std::uint16_t, std::uint32_t, std::uint16_t>> chain;
  const RmfFeatCacheEntry* previous = nullptr;
  for (const RmfFeatCacheEntry* e = cache_->buckets[0]; e != nullptr; e = e->chainNext) {
    EXPECT_EQ(e->chainPrevious, previous);
    chain.emplace_back(e->key.b, e->key.a, e->key.c);
    previous = e;
  }
  ASSERT_EQ(chain.size(), std::size(keys));
  EXPECT_TRUE(std::is_sorted(chain.begin(), chain.end()));

  // Every key is found again, through its own bucket, with many buckets too.
  ASSERT_EQ(RmfFeatCacheDestroy(cache_), 1);
  Make(1000, 7);
  for (const RmfFeatKey& k : keys) AddReleased(k, 4, static_cast<std::uint8_t>(k.a + k.b + k.c));
  for (const RmfFeatKey& k : keys) {
    void* data = nullptr;
    ASSERT_EQ(RmfFeatCacheGet(cache_, k, &data, nullptr), 1);
    EXPECT_EQ(*static_cast<std::uint8_t*>(data), static_cast<std::uint8_t>(k.a + k.b + k.c));
    ASSERT_EQ(RmfFeatCacheRelease(cache_, data), 1);
  }
  void* data = nullptr;
  EXPECT_EQ(RmfFeatCacheGet(cache_, Key(9, 1, 3), &data, nullptr), 0);
}

TEST_F(FeatCacheTest, ResizeKeepsDataAndAccountsTheNewSize) {
  Make(1000);
  AddReleased(Key(1), 300, 1);
  AddReleased(Key(2), 300, 2);
  void* data = nullptr;
  ASSERT_EQ(RmfFeatCacheAdd(cache_, Key(3), 100, &data), 1);
  std::memset(data, 0x77, 100);
  // Growing to 500 needs the oldest released block.
  void* grown = nullptr;
  ASSERT_EQ(RmfFeatCacheResize(cache_, data, 500, &grown), 1);
  EXPECT_EQ(static_cast<std::uint8_t*>(grown)[0], 0x77);
  EXPECT_EQ(static_cast<std::uint8_t*>(grown)[99], 0x77);
  EXPECT_FALSE(Holds(Key(1)));
  EXPECT_TRUE(Holds(Key(2)));
  EXPECT_EQ(cache_->bytesInUse, 500u);
  EXPECT_EQ(cache_->bytesReleased, 300u);
  // More than budget - in use + own size is refused and leaves it alone.
  void* refused = nullptr;
  EXPECT_EQ(RmfFeatCacheResize(cache_, grown, 1001, &refused), kRmfMalformed);
  EXPECT_EQ(refused, nullptr);
  EXPECT_EQ(cache_->bytesInUse, 500u);
  EXPECT_TRUE(Holds(Key(3)));
  // Shrinking needs no room.
  ASSERT_EQ(RmfFeatCacheResize(cache_, grown, 8, &data), 1);
  EXPECT_EQ(cache_->bytesInUse, 8u);
  EXPECT_TRUE(Holds(Key(2)));
  ASSERT_EQ(RmfFeatCacheSetWriting(cache_, data, 0), 1);
  void* got = nullptr;
  std::int32_t size = 0;
  ASSERT_EQ(RmfFeatCacheGet(cache_, Key(3), &got, &size), 1);
  EXPECT_EQ(got, data);
  EXPECT_EQ(size, 8);
  // Only a block being written may be resized.
  EXPECT_EQ(RmfFeatCacheResize(cache_, got, 16, &refused), kRmfMalformed);
}

// ---- random operations against a model ----------------------------------------------------
//
// The model keeps every block's size, holders and writing mark and the
// release order, and evicts exactly as the cache must. After every step the
// cache's counts, its keys and the invariant are compared with it, and every
// fetched block must still hold the bytes its writer put in.

struct ModelBlock {
  std::uint32_t size = 0;
  std::int32_t holders = 0;
  bool writing = false;
  void* data = nullptr;
};

std::uint64_t Packed(RmfFeatKey k) {
  return (static_cast<std::uint64_t>(k.b) << 48) | (static_cast<std::uint64_t>(k.a) << 16) | k.c;
}

std::uint8_t FillOf(RmfFeatKey k) { return static_cast<std::uint8_t>(k.a * 31 + k.b * 7 + k.c); }

class CacheModel {
 public:
  explicit CacheModel(std::uint32_t budget) : budget_(budget) {}

  std::uint32_t Free() const { return budget_ - inUse_; }
  bool Trim(std::uint32_t need) {
    if (need > Free()) return false;
    while (need + released_ > Free()) {
      const std::uint64_t oldest = releaseOrder_.front();
      releaseOrder_.pop_front();
      released_ -= blocks_[oldest].size;
      blocks_.erase(oldest);
    }
    return true;
  }

  std::map<std::uint64_t, ModelBlock> blocks_;
  std::list<std::uint64_t> releaseOrder_;  // oldest first
  std::uint32_t budget_;
  std::uint32_t inUse_ = 0;
  std::uint32_t released_ = 0;
};

TEST_F(FeatCacheTest, RandomOperationsAgreeWithAModel) {
  constexpr std::uint32_t kBudget = 4096;
  constexpr std::uint32_t kSeed = 20240611;
  SCOPED_TRACE(testing::Message() << "seed " << kSeed);
  std::mt19937 random(kSeed);
  Make(static_cast<std::int32_t>(kBudget), 5);
  CacheModel model(kBudget);
  auto pick = [&random](std::uint32_t n) { return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(random); };
  auto keyOf = [](std::uint64_t packed) {
    return RmfFeatKey{static_cast<std::uint32_t>(packed >> 16), static_cast<std::uint16_t>(packed >> 48),
                      static_cast<std::uint16_t>(packed)};
  };
  // A key of the held blocks whose writing mark is `writing`, or none.
  auto heldKey = [&](bool writing, std::uint64_t* out) {
    std::vector<std::uint64_t> keys;
    for (const auto& [k, b] : model.blocks_) {
      if (b.holders > 0 && b.writing == writing) keys.push_back(k);
    }
    if (keys.empty()) return false;
    *out = keys[pick(static_cast<std::uint32_t>(keys.size()))];
    return true;
  };

  for (int step = 0; step < 20000; ++step) {
    SCOPED_TRACE(step);
    const RmfFeatKey key = Key(pick(6), static_cast<std::uint16_t>(pick(3)), static_cast<std::uint16_t>(pick(2)));
    const std::uint64_t packed = Packed(key);
    const std::uint32_t op = pick(100);
    if (op < 30) {  // add
      const std::uint32_t size = pick(model.Free() / 2 + 64);
      void* data = nullptr;
      const std::int32_t rc = RmfFeatCacheAdd(cache_, key, static_cast<std::int32_t>(size), &data);
      if (size > model.Free() || model.blocks_.count(packed) != 0) {
        ASSERT_EQ(rc, kRmfMalformed);
      } else {
        ASSERT_EQ(rc, 1);
        ASSERT_TRUE(model.Trim(size));
        std::memset(data, FillOf(key), size);
        model.blocks_[packed] = ModelBlock{size, 1, true, data};
        model.inUse_ += size;
      }
    } else if (op < 55) {  // get
      void* data = nullptr;
      std::int32_t size = -1;
      const std::int32_t rc = RmfFeatCacheGet(cache_, key, &data, &size);
      const auto found = model.blocks_.find(packed);
      if (found == model.blocks_.end()) {
        ASSERT_EQ(rc, 0);
      } else if (found->second.writing) {
        ASSERT_EQ(rc, kRmfMalformed);
      } else {
        ASSERT_EQ(rc, 1);
        ModelBlock& b = found->second;
        ASSERT_EQ(data, b.data);
        ASSERT_EQ(static_cast<std::uint32_t>(size), b.size);
        for (std::uint32_t i = 0; i < b.size; i += 97) ASSERT_EQ(static_cast<std::uint8_t*>(data)[i], FillOf(key));
        if (b.holders++ == 0) {
          model.releaseOrder_.remove(packed);
          model.released_ -= b.size;
          model.inUse_ += b.size;
        }
      }
    } else if (op < 80) {  // release
      std::uint64_t k = 0;
      if (!heldKey(false, &k)) continue;
      ModelBlock& b = model.blocks_[k];
      ASSERT_EQ(RmfFeatCacheRelease(cache_, b.data), 1);
      if (--b.holders == 0) {
        model.releaseOrder_.push_back(k);
        model.inUse_ -= b.size;
        model.released_ += b.size;
      }
    } else if (op < 88) {  // finish writing
      std::uint64_t k = 0;
      if (!heldKey(true, &k)) continue;
      ASSERT_EQ(RmfFeatCacheSetWriting(cache_, model.blocks_[k].data, 0), 1);
      model.blocks_[k].writing = false;
    } else if (op < 96) {  // resize a block being written
      std::uint64_t k = 0;
      if (!heldKey(true, &k)) continue;
      ModelBlock& b = model.blocks_[k];
      const std::uint32_t size = pick(b.size + model.Free() / 2 + 64);
      void* data = nullptr;
      const std::int32_t rc = RmfFeatCacheResize(cache_, b.data, static_cast<std::int32_t>(size), &data);
      if (size > model.Free() + b.size) {
        ASSERT_EQ(rc, kRmfMalformed);
      } else {
        ASSERT_EQ(rc, 1);
        model.inUse_ -= b.size;
        ASSERT_TRUE(model.Trim(size));
        for (std::uint32_t i = 0; i < std::min(size, b.size); i += 97) {
          ASSERT_EQ(static_cast<std::uint8_t*>(data)[i], FillOf(keyOf(k)));
        }
        std::memset(data, FillOf(keyOf(k)), size);
        b.size = size;
        b.data = data;
        model.inUse_ += size;
      }
    } else if (op < 98) {  // trim
      const std::uint32_t need = pick(kBudget + 64);
      const std::int32_t rc = RmfFeatCacheTrim(cache_, static_cast<std::int32_t>(need));
      ASSERT_EQ(rc, model.Trim(need) ? 1 : 0);
    } else {  // clear
      const bool anyHeld =
          std::any_of(model.blocks_.begin(), model.blocks_.end(), [](const auto& e) { return e.second.holders > 0; });
      ASSERT_EQ(RmfFeatCacheClear(cache_), anyHeld ? kRmfMalformed : 1);
      if (!anyHeld) {
        model.blocks_.clear();
        model.releaseOrder_.clear();
        model.released_ = 0;
      }
    }

    ASSERT_LE(static_cast<std::uint64_t>(cache_->bytesInUse) + cache_->bytesReleased, kBudget);
    ASSERT_EQ(cache_->bytesInUse, model.inUse_);
    ASSERT_EQ(cache_->bytesReleased, model.released_);
    std::size_t entries = 0;
    for (std::uint32_t b = 0; b < cache_->bucketCount; ++b) {
      for (const RmfFeatCacheEntry* e = cache_->buckets[b]; e != nullptr; e = e->chainNext) {
        ++entries;
        ASSERT_EQ(model.blocks_.count(Packed(e->key)), 1u);
      }
    }
    ASSERT_EQ(entries, model.blocks_.size());
  }
}

}  // namespace
