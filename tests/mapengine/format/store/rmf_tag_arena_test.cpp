// Tests of the tagged arena allocator: the block accounting, splitting and
// merging, the counts and their limits, eviction in least-recently-used order
// through the owners, several regions, and random operations checked against
// a model of the live blocks with a full walk of the arena after each step.
#include "mapengine/format/store/RmfTagArena.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <list>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using rmf::detail::TagArenaCheck;
using rmf::detail::TagBlockInfo;
using rmf::detail::TagRegionReport;

// Caller memory for regions: 8-aligned, with a byte offset to make it less so.
class Memory {
 public:
  explicit Memory(std::size_t bytes) : words_((bytes + 16) / 8 + 1) {}
  unsigned char* at(std::size_t offset) { return reinterpret_cast<unsigned char*>(words_.data()) + offset; }

 private:
  std::vector<std::uint64_t> words_;
};

std::vector<TagRegionReport> Walk(RmfTagArena* arena, std::vector<void*>* lru = nullptr) {
  std::vector<TagRegionReport> regions;
  std::string fault;
  EXPECT_TRUE(TagArenaCheck(arena, &regions, lru, &fault)) << fault;
  return regions;
}

std::vector<std::uint32_t> FreeSizes(const TagRegionReport& region) {
  std::vector<std::uint32_t> sizes;
  for (const TagBlockInfo& b : region.blocks) {
    if (b.references == 0) sizes.push_back(b.size);
  }
  return sizes;
}

const TagBlockInfo* Find(const std::vector<TagRegionReport>& regions, const void* data) {
  for (const auto& r : regions) {
    for (const auto& b : r.blocks) {
      if (b.data == data) return &b;
    }
  }
  return nullptr;
}

TEST(TagArenaRegion, SizesAlignmentAndRefusals) {
  Memory mem(2048);
  EXPECT_EQ(RmfTagT1(nullptr, 1024), nullptr);
  EXPECT_EQ(RmfTagT1(mem.at(0), 511), nullptr);
  EXPECT_EQ(RmfTagT1(mem.at(1), 514), nullptr);  // 3 bytes skipped leave 511
  RmfTagArena* arena = RmfTagT1(mem.at(1), 518);  // 515 left, cut to 512
  ASSERT_NE(arena, nullptr);
  EXPECT_EQ(reinterpret_cast<unsigned char*>(arena), mem.at(4));
  const auto regions = Walk(arena);
  ASSERT_EQ(regions.size(), 1u);
  EXPECT_EQ(regions[0].size, 512u);
  // A 512-byte region leaves most of itself for blocks.
  EXPECT_LE(regions[0].headerBytes, 64u);
  // A fresh region is one free block: the region less its header, one
  // trailer and the end sentinel.
  EXPECT_EQ(RmfTagT13(arena), static_cast<std::int32_t>(512 - regions[0].headerBytes - 4 - 36));
  EXPECT_EQ(FreeSizes(regions[0]), std::vector<std::uint32_t>{512 - regions[0].headerBytes - 4 - 36});
  EXPECT_EQ(RmfTagT13(nullptr), kRmfTagBadArgument);
}

TEST(TagArenaAccounting, OneByteCostsFortyFourAndDataIsAligned) {
  Memory mem(4096);
  RmfTagArena* arena = RmfTagT1(mem.at(0), 4096);
  ASSERT_NE(arena, nullptr);
  const std::int32_t fresh = RmfTagT13(arena);
  void* fixed = RmfTagT4(arena, 1, 0x54455354);
  ASSERT_NE(fixed, nullptr);
  EXPECT_EQ(RmfTagT13(arena), fresh - 44);  // pinned: all 44 bytes leave the count
  void* purgeable = RmfTagT3(arena, 1, nullptr);
  ASSERT_NE(purgeable, nullptr);
  EXPECT_EQ(RmfTagT13(arena), fresh - 44 - 4);  // unpinned: only its trailer leaves the count
  for (std::uint32_t bytes : {0u, 2u, 3u, 4u, 5u, 7u, 8u, 100u}) {
    void* p = RmfTagT4(arena, bytes, 1);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 4, 0u);
    TagBlockInfo info;
    ASSERT_TRUE(rmf::detail::TagBlockState(arena, p, &info));
    EXPECT_EQ(info.size, ((bytes + 3) & ~3u) + 36) << bytes;
    EXPECT_TRUE(info.fixed);
    EXPECT_EQ(info.tag, 1u);
  }
  TagBlockInfo info;
  ASSERT_TRUE(rmf::detail::TagBlockState(arena, fixed, &info));
  EXPECT_EQ(info.tag, 0x54455354u);
  EXPECT_EQ(info.references, 1);
  EXPECT_EQ(info.pins, 1);
  ASSERT_TRUE(rmf::detail::TagBlockState(arena, purgeable, &info));
  EXPECT_FALSE(info.fixed);
  EXPECT_EQ(info.pins, 0);
  Walk(arena);
}

// A free block larger than the request by up to 40 bytes is handed out whole;
// by 44 or more it is split and the rest stays free.
TEST(TagArenaAccounting, WholeOrSplitAtTheThreshold) {
  struct Case {
    std::uint32_t excess;  // free block size beyond the 40 bytes a 1-byte request needs
    bool split;
  } cases[] = {{0, false}, {36, false}, {40, false}, {44, true}, {48, true}, {100, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "excess " << c.excess);
    Memory mem(1024);
    RmfTagArena* arena = RmfTagT1(mem.at(0), 1024);
    ASSERT_NE(arena, nullptr);
    const std::uint32_t fresh = static_cast<std::uint32_t>(RmfTagT13(arena));
    // A fixed block in front leaves exactly 40 + excess bytes of free block.
    const std::uint32_t front = fresh - 80 - c.excess;
    ASSERT_NE(RmfTagT4(arena, front, 0), nullptr);
    auto regions = Walk(arena);
    ASSERT_EQ(FreeSizes(regions[0]), std::vector<std::uint32_t>{40 + c.excess});
    void* p = RmfTagT4(arena, 1, 0);
    ASSERT_NE(p, nullptr);
    regions = Walk(arena);
    const TagBlockInfo* b = Find(regions, p);
    ASSERT_NE(b, nullptr);
    if (c.split) {
      EXPECT_EQ(b->size, 40u);
      EXPECT_EQ(FreeSizes(regions[0]), std::vector<std::uint32_t>{c.excess - 4});
    } else {
      EXPECT_EQ(b->size, 40u + c.excess);
      EXPECT_TRUE(FreeSizes(regions[0]).empty());
    }
  }
}

TEST(TagArenaAccounting, ThreeAdjacentFreesMergeInAnyOrder) {
  std::vector<int> order = {0, 1, 2};
  do {
    SCOPED_TRACE(testing::Message() << "order " << order[0] << order[1] << order[2]);
    Memory mem(2048);
    RmfTagArena* arena = RmfTagT1(mem.at(0), 2048);
    ASSERT_NE(arena, nullptr);
    const std::int32_t fresh = RmfTagT13(arena);
    void* blocks[3];
    for (int i = 0; i < 3; ++i) {
      blocks[i] = RmfTagT3(arena, 20 + 8 * i, nullptr);
      ASSERT_NE(blocks[i], nullptr);
    }
    void* guard = RmfTagT4(arena, 16, 0);  // keeps the tail's free space apart
    ASSERT_NE(guard, nullptr);
    for (int i : order) {
      ASSERT_EQ(RmfTagT5(arena, blocks[i]), 1);
      Walk(arena);
    }
    const auto regions = Walk(arena);
    // (20 + 36) + (28 + 36) + (36 + 36) plus the two trailers absorbed.
    EXPECT_EQ(regions[0].blocks.front().references, 0);
    EXPECT_EQ(regions[0].blocks.front().size, 56u + 64u + 72u + 8u);
    EXPECT_EQ(FreeSizes(regions[0]).size(), 2u);  // the merged block and the tail
    ASSERT_EQ(RmfTagT8(arena, guard), 0);
    ASSERT_EQ(RmfTagT5(arena, guard), 1);
    EXPECT_EQ(RmfTagT13(arena), fresh);
    EXPECT_EQ(Walk(arena)[0].blocks.size(), 1u);
  } while (std::next_permutation(order.begin(), order.end()));
}

TEST(TagArenaCounts, LimitsAndCodes) {
  Memory mem(1024);
  RmfTagArena* arena = RmfTagT1(mem.at(0), 1024);
  ASSERT_NE(arena, nullptr);
  void* p = RmfTagT3(arena, 8, nullptr);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(RmfTagT9(arena, p), kRmfTagInUse);  // never below 1
  EXPECT_EQ(RmfTagT8(arena, p), kRmfTagInUse);  // not pinned
  EXPECT_EQ(RmfTagT7(arena, p), 2);
  EXPECT_EQ(RmfTagT5(arena, p), kRmfTagInUse);  // referenced twice: stays
  EXPECT_EQ(RmfTagT12(arena, p), kRmfTagInUse);
  EXPECT_EQ(RmfTagT11(arena), 0);       // nothing evictable
  EXPECT_EQ(RmfTagT9(arena, p), 1);
  EXPECT_EQ(RmfTagT6(arena, p), 1);
  EXPECT_EQ(RmfTagT5(arena, p), kRmfTagInUse);  // pinned: stays
  EXPECT_EQ(RmfTagT11(arena), 0);
  for (int expected = 2; expected <= 65535; ++expected) ASSERT_EQ(RmfTagT6(arena, p), expected);
  EXPECT_EQ(RmfTagT6(arena, p), kRmfTagInUse);
  for (int expected = 65534; expected >= 0; --expected) ASSERT_EQ(RmfTagT8(arena, p), expected);
  for (int expected = 2; expected <= 65535; ++expected) ASSERT_EQ(RmfTagT7(arena, p), expected);
  EXPECT_EQ(RmfTagT7(arena, p), kRmfTagInUse);
  for (int expected = 65534; expected >= 1; --expected) ASSERT_EQ(RmfTagT9(arena, p), expected);
  EXPECT_EQ(RmfTagT10(arena, p, 0), kRmfTagBadArgument);
  EXPECT_EQ(RmfTagT10(arena, p, 2), kRmfTagBadArgument);
  EXPECT_EQ(RmfTagT10(arena, p, -1), 1);
  EXPECT_EQ(RmfTagT10(arena, p, 1), 1);
  ASSERT_EQ(RmfTagT5(arena, p), 1);
  Walk(arena);
  // The block is free now: its header still passes the checks, so every
  // operation reports it as not allocated (and a second free as nothing to do).
  for (auto op : {RmfTagT6, RmfTagT7, RmfTagT8, RmfTagT9}) EXPECT_EQ(op(arena, p), kRmfTagNotAllocated);
  EXPECT_EQ(RmfTagT10(arena, p, 1), kRmfTagNotAllocated);
  EXPECT_EQ(RmfTagT5(arena, p), 0);
  EXPECT_EQ(RmfTagT12(arena, p), 0);
  // Null and foreign pointers.
  int outside = 0;
  for (auto op : {RmfTagT5, RmfTagT6, RmfTagT7, RmfTagT8, RmfTagT9, RmfTagT12}) {
    EXPECT_EQ(op(nullptr, p), kRmfTagBadArgument);
    EXPECT_EQ(op(arena, nullptr), kRmfTagBadArgument);
    EXPECT_EQ(op(arena, &outside), kRmfTagBadArgument);
    EXPECT_EQ(op(arena, static_cast<unsigned char*>(p) + 4), kRmfTagBadArgument);
  }
  EXPECT_EQ(RmfTagT11(nullptr), kRmfTagBadArgument);
  EXPECT_EQ(RmfTagT3(nullptr, 4, nullptr), nullptr);
  EXPECT_EQ(RmfTagT4(arena, 0xfffffff0u, 0), nullptr);
  Walk(arena);
}

// Owner records that log the blocks they are asked for and give them back
// (or refuse).
struct Owners {
  RmfTagArena* arena = nullptr;
  std::vector<void*> asked;
  std::vector<void*> refuse;
  RmfTagOwner record{&Owners::Release, this};

  static std::int32_t Release(void* block, void* newBlock, void* context, RmfTagOwner* owner) {
    auto* self = static_cast<Owners*>(context);
    EXPECT_EQ(newBlock, nullptr);
    EXPECT_EQ(owner, &self->record);
    self->asked.push_back(block);
    if (std::find(self->refuse.begin(), self->refuse.end(), block) != self->refuse.end()) return -1;
    EXPECT_EQ(RmfTagT12(self->arena, block), 1);
    EXPECT_EQ(RmfTagT5(self->arena, block), 1);
    return 1;
  }
};

TEST(TagArenaEviction, LeastRecentlyUsedFirstThroughTheOwner) {
  Memory mem(1024);
  Owners owners;
  owners.arena = RmfTagT1(mem.at(0), 48 + 4 * 140 + 40);  // room for exactly four 100-byte blocks
  RmfTagArena* arena = owners.arena;
  ASSERT_NE(arena, nullptr);
  void* b[4];
  for (auto& p : b) {
    p = RmfTagT3(arena, 100, &owners.record);
    ASSERT_NE(p, nullptr);
  }
  ASSERT_TRUE(FreeSizes(Walk(arena)[0]).empty());
  ASSERT_EQ(RmfTagT10(arena, b[0], 1), 1);   // order now 1 2 3 0
  ASSERT_EQ(RmfTagT10(arena, b[3], -1), 1);  // order now 3 1 2 0
  ASSERT_EQ(RmfTagT6(arena, b[1]), 1);       // pinned: skipped
  std::vector<void*> lru;
  Walk(arena, &lru);
  EXPECT_EQ(lru, (std::vector<void*>{b[3], b[1], b[2], b[0]}));
  void* n1 = RmfTagT3(arena, 100, &owners.record);
  EXPECT_EQ(n1, b[3]);  // the evicted block's room is reused
  EXPECT_EQ(owners.asked, std::vector<void*>{b[3]});
  void* n2 = RmfTagT3(arena, 100, &owners.record);
  ASSERT_NE(n2, nullptr);
  EXPECT_EQ(owners.asked, (std::vector<void*>{b[3], b[2]}));
  // Now 1 (pinned), 0, n1, n2: an allocation of two blocks' room evicts the
  // two oldest unpinned ones, which are not adjacent, then one more.
  ASSERT_EQ(RmfTagT7(arena, n1), 2);  // referenced twice: skipped too
  void* big = RmfTagT3(arena, 100 + 140, &owners.record);
  EXPECT_EQ(big, nullptr);  // b0 and n2 are free but apart; nothing else may go
  EXPECT_EQ(owners.asked, (std::vector<void*>{b[3], b[2], b[0], n2}));
  Walk(arena);
  ASSERT_EQ(RmfTagT9(arena, n1), 1);
  big = RmfTagT3(arena, 100 + 140, &owners.record);
  EXPECT_NE(big, nullptr);  // n1 went and merged with n2's free room into 280 bytes
  EXPECT_EQ(owners.asked.back(), n1);
  ASSERT_EQ(RmfTagT8(arena, b[1]), 0);
  EXPECT_EQ(RmfTagT11(arena), 1);
  EXPECT_EQ(owners.asked.back(), b[1]);
  Walk(arena);
}

TEST(TagArenaEviction, FixedAndOwnerlessBlocks) {
  Memory mem(1024);
  RmfTagArena* arena = RmfTagT1(mem.at(0), 512);
  ASSERT_NE(arena, nullptr);
  void* fixed = RmfTagT4(arena, 100, 7);
  void* loose = RmfTagT3(arena, 100, nullptr);
  ASSERT_NE(fixed, nullptr);
  ASSERT_NE(loose, nullptr);
  EXPECT_EQ(RmfTagT11(arena), 1);  // the ownerless purgeable block is simply freed
  TagBlockInfo info;
  ASSERT_TRUE(rmf::detail::TagBlockState(arena, loose, &info));
  EXPECT_EQ(info.references, 0);
  EXPECT_EQ(RmfTagT11(arena), 0);  // the fixed block stays pinned
  EXPECT_EQ(RmfTagT5(arena, fixed), kRmfTagInUse);
  EXPECT_EQ(RmfTagT8(arena, fixed), 0);
  void* second = RmfTagT4(arena, 100, 8);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(RmfTagT5(arena, second), kRmfTagInUse);
  EXPECT_EQ(RmfTagT8(arena, second), 0);
  EXPECT_EQ(RmfTagT5(arena, second), 1);  // a tag is not an owner
  EXPECT_EQ(RmfTagT11(arena), 1);         // an unpinned fixed block is evictable
  ASSERT_TRUE(rmf::detail::TagBlockState(arena, fixed, &info));
  EXPECT_EQ(info.references, 0);
  EXPECT_EQ(Walk(arena)[0].blocks.size(), 1u);
}

TEST(TagArenaEviction, RefusingOwnerDoesNotStallAllocation) {
  Memory mem(1024);
  Owners owners;
  owners.arena = RmfTagT1(mem.at(0), 48 + 4 * 140 + 40);
  RmfTagArena* arena = owners.arena;
  ASSERT_NE(arena, nullptr);
  void* b[4];
  for (auto& p : b) {
    p = RmfTagT3(arena, 100, &owners.record);
    ASSERT_NE(p, nullptr);
  }
  owners.refuse = {b[0], b[1], b[2], b[3]};
  EXPECT_EQ(RmfTagT5(arena, b[0]), kRmfTagRefused);
  EXPECT_EQ(RmfTagT11(arena), kRmfTagRefused);
  EXPECT_EQ(RmfTagT3(arena, 100, &owners.record), nullptr);  // gives up once every block refused
  owners.refuse = {b[0], b[2], b[3]};
  owners.asked.clear();
  void* p = RmfTagT3(arena, 100, &owners.record);
  EXPECT_EQ(p, b[1]);
  Walk(arena);
}

TEST(TagArenaRegions, SecondRegionsShareIndexAndListButNeverMerge) {
  Memory first(600), second(2048), third(1024);
  RmfTagArena* arena = RmfTagT1(first.at(0), 512);
  ASSERT_NE(arena, nullptr);
  const std::int32_t freshFirst = RmfTagT13(arena);
  EXPECT_EQ(RmfTagT2(nullptr, second.at(0), 1024), kRmfTagBadArgument);
  EXPECT_EQ(RmfTagT2(arena, second.at(0), 511), kRmfTagBadArgument);
  EXPECT_EQ(RmfTagT2(arena, first.at(0) + 64, 512), kRmfTagBadArgument);  // overlaps the first region
  ASSERT_EQ(RmfTagT2(arena, second.at(2), 1026), 1);       // 2 skipped, 1024 left
  EXPECT_EQ(RmfTagT2(arena, second.at(500), 1024), kRmfTagBadArgument);    // overlaps the second
  ASSERT_EQ(RmfTagT2(arena, third.at(0), 1024), 1);
  EXPECT_EQ(RmfTagT13(arena), freshFirst + 2 * (freshFirst + 512));
  auto regions = Walk(arena);
  ASSERT_EQ(regions.size(), 3u);
  EXPECT_EQ(regions[1].size, 1024u);
  // Blocks too large for the first region come from the others; best fit
  // takes the smallest free block that holds the request.
  void* big = RmfTagT4(arena, 800, 0);
  ASSERT_NE(big, nullptr);
  EXPECT_NE(Find(Walk(arena), big), nullptr);
  void* small = RmfTagT3(arena, 300, nullptr);
  ASSERT_NE(small, nullptr);
  regions = Walk(arena);
  EXPECT_EQ(regions[0].blocks.front().data, small);
  // Fill everything; each region keeps its own blocks and sentinel.
  std::vector<void*> blocks;
  while (void* p = RmfTagT4(arena, 60, 0)) blocks.push_back(p);
  // The purgeable block made room on the way, and its place went to a fixed one.
  TagBlockInfo info;
  ASSERT_TRUE(rmf::detail::TagBlockState(arena, small, &info));
  EXPECT_TRUE(info.fixed);
  EXPECT_NE(std::find(blocks.begin(), blocks.end(), small), blocks.end());
  regions = Walk(arena);
  for (const auto& r : regions) {
    std::uint32_t sum = r.headerBytes + 36;
    for (const auto& b : r.blocks) sum += b.size + 4;
    EXPECT_EQ(sum, r.size);
  }
  // Freeing everything gives each region back its single free block.
  for (void* p : blocks) {
    ASSERT_EQ(RmfTagT8(arena, p), 0);
    ASSERT_EQ(RmfTagT5(arena, p), 1);
  }
  ASSERT_EQ(RmfTagT8(arena, big), 0);
  ASSERT_EQ(RmfTagT5(arena, big), 1);
  regions = Walk(arena);
  for (const auto& r : regions) EXPECT_EQ(r.blocks.size(), 1u);
  EXPECT_EQ(RmfTagT13(arena), freshFirst + 2 * (freshFirst + 512));
  // Handles name blocks in every region and come back to the same address.
  for (const auto& r : regions) {
    void* header = static_cast<unsigned char*>(r.blocks.front().data) - 36;
    const std::uint32_t h = rmf::detail::TagArenaHandleOf(arena, header);
    EXPECT_NE(h, 0u);
    EXPECT_EQ(rmf::detail::TagArenaNodeAt(arena, h), header);
  }
  int outside = 0;
  EXPECT_EQ(rmf::detail::TagArenaHandleOf(arena, &outside), 0u);
}

// Random operations against a model of the live blocks. Every purgeable
// block has an owner that checks each eviction takes the oldest evictable
// block of the model's LRU order.
class ArenaModel {
 public:
  struct Live {
    std::uint32_t bytes;
    bool fixed;
    int pins;
    int references;
    unsigned char fill;
  };

  explicit ArenaModel(unsigned seed) : rng_(seed) {}

  int evictions() const { return evictions_; }
  int failedAllocations() const { return failedAllocations_; }

  void Run(int steps) {
    arena_ = RmfTagT1(first_.at(1), 3000);
    ASSERT_NE(arena_, nullptr);
    ASSERT_EQ(RmfTagT2(arena_, second_.at(3), 1500), 1);
    ASSERT_EQ(RmfTagT2(arena_, third_.at(0), 700), 1);
    for (int step = 0; step < steps; ++step) {
      SCOPED_TRACE(testing::Message() << "step " << step);
      ASSERT_NO_FATAL_FAILURE(Step());
      ASSERT_NO_FATAL_FAILURE(Compare());
    }
  }

 private:
  static std::int32_t Release(void* block, void*, void* context, RmfTagOwner*) {
    auto* self = static_cast<ArenaModel*>(context);
    auto it = self->live_.find(block);
    EXPECT_NE(it, self->live_.end());
    if (it == self->live_.end()) return -1;
    if (self->evicting_) {
      ++self->evictions_;
      // The arena must ask for the oldest block that is neither pinned nor
      // referenced twice.
      for (void* p : self->lru_) {
        const Live& l = self->live_.at(p);
        if (l.pins == 0 && l.references < 2) {
          EXPECT_EQ(p, block);
          break;
        }
      }
    }
    EXPECT_EQ(RmfTagT12(self->arena_, block), 1);
    EXPECT_EQ(RmfTagT5(self->arena_, block), 1);
    self->Forget(block);
    return 1;
  }

  void Forget(void* block) {
    live_.erase(block);
    lru_.remove(block);
  }

  void* PickLive() {
    if (live_.empty()) return nullptr;
    auto it = live_.begin();
    std::advance(it, static_cast<long>(rng_() % live_.size()));
    return it->first;
  }

  void Allocate(bool fixed) {
    const std::uint32_t bytes = rng_() % 5 == 0 ? rng_() % 900 : rng_() % 120;
    evicting_ = true;
    void* p = fixed ? RmfTagT4(arena_, bytes, 0x4649) : RmfTagT3(arena_, bytes, &owner_);
    evicting_ = false;
    if (p == nullptr) {
      ++failedAllocations_;
      // Only when nothing evictable is left and no free block is large enough.
      for (const auto& [q, l] : live_) ASSERT_FALSE(l.pins == 0 && l.references < 2);
      std::vector<TagRegionReport> regions;
      std::string fault;
      ASSERT_TRUE(TagArenaCheck(arena_, &regions, nullptr, &fault)) << fault;
      for (const auto& r : regions) {
        for (std::uint32_t size : FreeSizes(r)) ASSERT_LT(size, ((bytes + 3) & ~3u) + 36);
      }
      return;
    }
    ASSERT_EQ(reinterpret_cast<std::uintptr_t>(p) % 4, 0u);
    ASSERT_EQ(live_.count(p), 0u);
    const auto fill = static_cast<unsigned char>(rng_());
    std::memset(p, fill, bytes);
    live_[p] = Live{bytes, fixed, fixed ? 1 : 0, 1, fill};
    lru_.push_back(p);
  }

  void Step() {
    const int op = static_cast<int>(rng_() % 100);
    void* p = PickLive();
    if (op < 30 || p == nullptr) return Allocate(op % 4 == 0);
    Live& l = live_[p];
    if (op < 45) {
      const bool inUse = l.references > 1 || l.pins > 0;
      const std::int32_t r = RmfTagT5(arena_, p);
      if (inUse) {
        ASSERT_EQ(r, kRmfTagInUse);
      } else {
        ASSERT_EQ(r, 1);
        if (live_.count(p) != 0) Forget(p);  // a fixed or detached block is freed directly
      }
    } else if (op < 55) {
      ASSERT_EQ(RmfTagT6(arena_, p), ++l.pins);
    } else if (op < 65) {
      // Fixed blocks are unpinned only to be freed at once, as their users do;
      // an unpinned fixed block would be evictable like any other.
      if (l.fixed && l.pins == 1) {
        if (l.references > 1) return;
        ASSERT_EQ(RmfTagT8(arena_, p), 0);
        ASSERT_EQ(RmfTagT5(arena_, p), 1);
        Forget(p);
        return;
      }
      ASSERT_EQ(RmfTagT8(arena_, p), l.pins == 0 ? kRmfTagInUse : --l.pins);
    } else if (op < 72) {
      ASSERT_EQ(RmfTagT7(arena_, p), ++l.references);
    } else if (op < 80) {
      ASSERT_EQ(RmfTagT9(arena_, p), l.references == 1 ? kRmfTagInUse : --l.references);
    } else if (op < 90) {
      const int mode = (rng_() & 1) != 0 ? 1 : -1;
      ASSERT_EQ(RmfTagT10(arena_, p, mode), 1);
      lru_.remove(p);
      if (mode == 1) {
        lru_.push_back(p);
      } else {
        lru_.push_front(p);
      }
    } else if (op < 95) {
      bool any = false;
      for (const auto& [q, m] : live_) any = any || (m.pins == 0 && m.references < 2);
      evicting_ = true;
      const std::int32_t r = RmfTagT11(arena_);
      evicting_ = false;
      ASSERT_EQ(r, any ? 1 : 0);
    } else {
      // Detach the owner: a later free then frees the block without asking.
      const bool inUse = l.references > 1 || l.pins > 0;
      ASSERT_EQ(RmfTagT12(arena_, p), inUse ? kRmfTagInUse : 1);
      if (!inUse && !l.fixed) {
        ASSERT_EQ(RmfTagT5(arena_, p), 1);
        Forget(p);
      }
    }
  }

  void Compare() {
    std::vector<TagRegionReport> regions;
    std::vector<void*> lru;
    std::string fault;
    ASSERT_TRUE(TagArenaCheck(arena_, &regions, &lru, &fault)) << fault;
    ASSERT_EQ(lru, std::vector<void*>(lru_.begin(), lru_.end()));
    std::size_t allocated = 0;
    std::int64_t unpinned = 0;
    for (const auto& r : regions) {
      for (const auto& b : r.blocks) {
        if (b.pins == 0) unpinned += b.size;
        if (b.references == 0) continue;
        ++allocated;
        auto it = live_.find(b.data);
        ASSERT_NE(it, live_.end());
        const Live& l = it->second;
        ASSERT_GE(b.size, ((l.bytes + 3) & ~3u) + 36);
        ASSERT_LE(b.size, ((l.bytes + 3) & ~3u) + 36 + 40);  // whole blocks carry at most 40 spare bytes
        ASSERT_EQ(b.references, l.references);
        ASSERT_EQ(b.pins, l.pins);
        ASSERT_EQ(b.fixed, l.fixed);
        const auto* bytes = static_cast<const unsigned char*>(b.data);
        const bool intact = std::all_of(bytes, bytes + l.bytes, [&](unsigned char c) { return c == l.fill; });
        ASSERT_TRUE(intact) << "block data damaged";
      }
    }
    ASSERT_EQ(allocated, live_.size());
    ASSERT_EQ(RmfTagT13(arena_), unpinned);
  }

  Memory first_{3100}, second_{1600}, third_{800};
  RmfTagArena* arena_ = nullptr;
  RmfTagOwner owner_{&ArenaModel::Release, this};
  std::map<void*, Live> live_;
  std::list<void*> lru_;  // oldest first
  bool evicting_ = false;
  int evictions_ = 0;
  int failedAllocations_ = 0;
  std::mt19937 rng_;
};

TEST(TagArenaModel, RandomOperationsKeepEveryInvariant) {
  for (unsigned seed : {1u, 2u, 3u, 4u}) {
    SCOPED_TRACE(testing::Message() << "seed " << seed);
    ArenaModel model(seed);
    model.Run(2500);
    if (HasFatalFailure()) return;
    // The run must have reached the interesting states.
    EXPECT_GT(model.evictions(), 50);
    EXPECT_GT(model.failedAllocations(), 5);
  }
}

}  // namespace
