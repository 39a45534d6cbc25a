// Tests of the route data's block cache on a real temporary file: creation
// and its refusals (the handle is closed either way), blocks cut by region
// ends and the order of the two region lists, least-recently-used eviction
// (told apart by rewriting the file under the cache), the ring of recent
// blocks, short reads, and random reads under byte and block budgets checked
// against the file with the byte count worked out after every read.
#include "mapengine/format/route/RmfBlockCache.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/os/text.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

std::uint8_t Byte(std::uint32_t i, std::uint8_t generation = 0) {
  return static_cast<std::uint8_t>(i * 131 + (i >> 8) * 7 + 3 + generation * 101);
}

class BlockCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = temp_.string();
    path_ = folder_ + "/route.dat";
  }
  void TearDown() override { RmfBlockCacheDestroy(cache_); }

  // (Re)writes the file with size bytes of the pattern of a generation.
  void WriteFile(std::uint32_t size, std::uint8_t generation = 0) {
    std::vector<char> bytes(size);
    for (std::uint32_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(Byte(i, generation));
    std::ofstream(path_, std::ios::binary | std::ios::trunc).write(bytes.data(), size);
    size_ = size;
  }

  HANDLE Open() const {
    const std::u16string wide = platform::Utf8ToUtf16(path_);
    return CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
  }

  void Create(std::int32_t blockSize, std::vector<RmfBlockRegion> regions, std::vector<RmfBlockRegion> more,
              std::int32_t byteBudget, std::int32_t blockBudget) {
    HANDLE file = Open();
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ASSERT_EQ(RmfBlockCacheCreate(&cache_, file, blockSize, regions.data(), static_cast<std::int32_t>(regions.size()),
                                  more.data(), static_cast<std::int32_t>(more.size()), byteBudget, blockBudget),
              1);
    ASSERT_NE(cache_, nullptr);
  }

  // Reads the byte at offset through the cache; kNotServed for a null answer.
  static constexpr int kNotServed = 0x100;
  int ReadByte(std::uint32_t offset) {
    const std::uint8_t* p = RmfBlockCacheGet(cache_, offset);
    return p != nullptr ? *p : kNotServed;
  }

  // Bytes used are the blocks' lengths plus the growth of the index and the
  // list since creation; the list, the index and the count agree.
  void ExpectAccounting() {
    std::int64_t lengths = 0;
    std::int32_t blocks = 0;
    DcllIterator it;
    dcllInitIterator(cache_->lru, &it);
    for (void* e = dcllHead(&it); it.current != nullptr; e = dcllNext(&it)) {
      const auto* block = static_cast<const RmfBlock*>(e);
      EXPECT_EQ(block->node, it.current);
      lengths += block->length;
      ++blocks;
    }
    EXPECT_EQ(cache_->blockCount, blocks);
    EXPECT_EQ(hashtabGetNumElems(cache_->index), blocks);
    const std::int64_t growth =
        std::int64_t{hashtabGetMemAllocated(cache_->index)} -
        (kHashtabTableBytes + kHashtabBucketBytes * static_cast<std::uint32_t>(cache_->index->bucketCount)) +
        dcllGetMemAllocated(cache_->lru) - kDcllListBytes;
    EXPECT_EQ(cache_->bytesUsed, lengths + growth);
  }

  testing_support::TempFolder temp_{"blocks"};
  std::string folder_;
  std::string path_;
  std::uint32_t size_ = 0;
  RmfBlockCache* cache_ = nullptr;
};

TEST_F(BlockCacheTest, CreationRefusesBadArgumentsAndOwnsTheHandleEitherWay) {
  WriteFile(1000);
  const RmfBlockRegion good[] = {{0, 1000}};
  const RmfBlockRegion past4Gb[] = {{0xFFFFFF00u, 0x101}};
  struct Case {
    const char* what;
    bool out;
    std::int32_t blockSize;
    const RmfBlockRegion* regions;
    std::int32_t count;
    const RmfBlockRegion* more;
    std::int32_t moreCount;
    std::int32_t byteBudget, blockBudget;
  };
  const Case cases[] = {
      {"no out", false, 64, good, 1, nullptr, 0, 1000, 4},
      {"block size 0", true, 0, good, 1, nullptr, 0, 1000, 4},
      {"block size too large", true, kRmfBlockSizeLimit + 1, good, 1, nullptr, 0, 1000, 4},
      {"negative count", true, 64, good, -1, nullptr, 0, 1000, 4},
      {"no regions for a count", true, 64, nullptr, 1, nullptr, 0, 1000, 4},
      {"negative second count", true, 64, good, 1, good, -1, 1000, 4},
      {"no second regions for a count", true, 64, good, 1, nullptr, 1, 1000, 4},
      {"region past 4 GB", true, 64, good, 1, past4Gb, 1, 1000, 4},
      {"byte budget 0", true, 64, good, 1, nullptr, 0, 0, 4},
      {"block budget 0", true, 64, good, 1, nullptr, 0, 1000, 0},
  };
  for (const Case& c : cases) {
    HANDLE file = Open();
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    RmfBlockCache* cache = reinterpret_cast<RmfBlockCache*>(&cache_);  // not null: must be cleared
    EXPECT_EQ(RmfBlockCacheCreate(c.out ? &cache : nullptr, file, c.blockSize, c.regions, c.count, c.more,
                                  c.moreCount, c.byteBudget, c.blockBudget),
              kRmfBadArgument)
        << c.what;
    if (c.out) {
      EXPECT_EQ(cache, nullptr) << c.what;
    }
    EXPECT_EQ(CloseHandle(file), FALSE) << c.what << ": the handle was left open";
  }
  RmfBlockCache* cache = nullptr;
  EXPECT_EQ(RmfBlockCacheCreate(&cache, INVALID_HANDLE_VALUE, 64, good, 1, nullptr, 0, 1000, 4), kRmfBadArgument);

  // A region that reaches exactly to 4 GB is fine; destruction closes the file.
  const RmfBlockRegion to4Gb[] = {{0xFFFFFF00u, 0x100}};
  HANDLE file = Open();
  ASSERT_EQ(RmfBlockCacheCreate(&cache, file, 64, to4Gb, 1, nullptr, 0, 1000, 4), 1);
  RmfBlockCacheDestroy(cache);
  EXPECT_EQ(CloseHandle(file), FALSE);
  EXPECT_EQ(RmfBlockCacheGet(nullptr, 0), nullptr);

  // The largest budgets with one-byte blocks: the index stays of a size that
  // can be allocated, and the cache works.
  ASSERT_EQ(RmfBlockCacheCreate(&cache, Open(), 1, good, 1, nullptr, 0, 0x7FFFFFFF, 0x7FFFFFFF), 1);
  EXPECT_LE(cache->index->bucketCount, hashtabSize(65536));
  const std::uint8_t* p = RmfBlockCacheGet(cache, 999);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(*p, Byte(999));
  RmfBlockCacheDestroy(cache);
}

TEST_F(BlockCacheTest, BlocksEndAtTheirRegionAndTheFirstListComesFirst) {
  WriteFile(2000);
  // The second list overlaps the first at 300 .. 349: the first one serves it.
  Create(64, {{100, 250}}, {{300, 100}, {1000, 30}}, 1 << 20, 100);
  struct Case {
    std::uint32_t offset;
    std::uint32_t available;  // 0 = not served
  };
  const Case cases[] = {
      {99, 0},   {100, 64}, {163, 1}, {164, 64},
      {300, 50}, {349, 1},            // the last byte of the region: block 292 .. 349
      {350, 14}, {363, 1},  {364, 36},  // the second list: blocks 300 .. 363, 364 .. 399
      {400, 0},  {999, 0},  {1000, 30}, {1029, 1}, {1030, 0},
  };
  for (const Case& c : cases) {
    std::uint32_t available = 0xDEAD;
    const std::uint8_t* p = RmfBlockCacheGetSpan(cache_, c.offset, &available);
    EXPECT_EQ(available, c.available) << c.offset;
    if (c.available == 0) {
      EXPECT_EQ(p, nullptr) << c.offset;
      continue;
    }
    ASSERT_NE(p, nullptr) << c.offset;
    EXPECT_EQ(p[0], Byte(c.offset)) << c.offset;
    EXPECT_EQ(p[c.available - 1], Byte(c.offset + c.available - 1)) << c.offset;
  }
  ExpectAccounting();
}

TEST_F(BlockCacheTest, TheBlockUsedLongestAgoIsEvictedFirst) {
  WriteFile(1024);
  Create(64, {{0, 1024}}, {}, 1 << 20, 2);
  const std::uint32_t a = 0, b = 64, c = 128;
  EXPECT_EQ(ReadByte(a), Byte(a));
  EXPECT_EQ(ReadByte(b), Byte(b));
  EXPECT_EQ(ReadByte(c), Byte(c));  // evicts a
  EXPECT_EQ(cache_->blockCount, 2);
  EXPECT_EQ(cache_->lookups, 3u);
  EXPECT_EQ(cache_->hits, 0u);

  // With new file contents, a block still held answers with the old bytes and
  // a block read again with the new ones.
  WriteFile(1024, 1);
  EXPECT_EQ(ReadByte(b), Byte(b));
  EXPECT_EQ(ReadByte(a), Byte(a, 1));  // read again; evicts b
  EXPECT_EQ(ReadByte(c), Byte(c));
  EXPECT_EQ(ReadByte(b), Byte(b, 1));  // read again; evicts c
  EXPECT_EQ(cache_->lookups, 5u);
  EXPECT_EQ(cache_->hits, 0u);
  EXPECT_EQ(cache_->blockCount, 2);
  ExpectAccounting();
}

TEST_F(BlockCacheTest, AHitInTheIndexMakesTheBlockTheNewest) {
  WriteFile(1024);
  Create(64, {{0, 1024}}, {}, 1 << 20, 4);
  const std::uint32_t a = 0, b = 64, c = 128, d = 192, e = 256;
  for (std::uint32_t offset : {a, b, c, d}) EXPECT_EQ(ReadByte(offset), Byte(offset));
  EXPECT_EQ(ReadByte(a), Byte(a));  // d took a's slot of the recent blocks: an index hit
  EXPECT_EQ(cache_->hits, 1u);
  EXPECT_EQ(ReadByte(e), Byte(e));  // evicts b, the oldest now
  WriteFile(1024, 1);
  EXPECT_EQ(ReadByte(a), Byte(a));
  EXPECT_EQ(ReadByte(b), Byte(b, 1));
  ExpectAccounting();
}

TEST_F(BlockCacheTest, TheLastThreeBlocksAnswerWithoutALookup) {
  WriteFile(1024);
  Create(64, {{0, 1024}}, {}, 1 << 20, 10);
  for (std::uint32_t offset : {0u, 5u, 63u, 64u, 100u, 128u, 191u, 1u, 70u, 130u}) {
    EXPECT_EQ(ReadByte(offset), Byte(offset));
  }
  EXPECT_EQ(cache_->lookups, 3u);
  EXPECT_EQ(cache_->stamp, 3u);
  EXPECT_EQ(ReadByte(192), Byte(192));  // takes the oldest slot, block 0's
  EXPECT_EQ(cache_->recent[0]->offset, 192u);
  EXPECT_EQ(cache_->recentPosition, 1);
  EXPECT_EQ(ReadByte(10), Byte(10));  // an index hit, into the next slot (block 64's)
  EXPECT_EQ(cache_->lookups, 5u);
  EXPECT_EQ(cache_->hits, 1u);
  EXPECT_EQ(cache_->recent[1]->offset, 0u);
  EXPECT_EQ(cache_->recent[1]->stamp, 5u);  // stamped at its last lookup
  EXPECT_EQ(cache_->recent[2]->stamp, 3u);
  EXPECT_EQ(ReadByte(100), Byte(100));  // block 64 left the ring: a lookup again
  EXPECT_EQ(cache_->lookups, 6u);
}

TEST_F(BlockCacheTest, AShortReadLeavesTheAccountingAsItWas) {
  WriteFile(300);
  Create(64, {{0, 1000}}, {}, 1 << 20, 10);
  EXPECT_EQ(ReadByte(0), Byte(0));
  for (std::uint32_t offset : {256u, 299u, 320u, 999u}) {  // 256 .. 319 is cut by the file's end
    const std::int32_t bytes = cache_->bytesUsed, blocks = cache_->blockCount;
    EXPECT_EQ(ReadByte(offset), kNotServed) << offset;
    EXPECT_EQ(cache_->bytesUsed, bytes) << offset;
    EXPECT_EQ(cache_->blockCount, blocks) << offset;
    ExpectAccounting();
  }
  EXPECT_EQ(ReadByte(64), Byte(64));
  EXPECT_EQ(ReadByte(0), Byte(0));
  EXPECT_EQ(cache_->blockCount, 2);
}

TEST_F(BlockCacheTest, AShortReadAfterAnEvictionCountsTheEvictedBlockOut) {
  WriteFile(300);
  Create(64, {{0, 1000}}, {}, 1 << 20, 1);
  EXPECT_EQ(ReadByte(0), Byte(0));
  EXPECT_EQ(ReadByte(320), kNotServed);  // evicts block 0 to make room, then reads short
  EXPECT_EQ(cache_->blockCount, 0);
  ExpectAccounting();
  EXPECT_EQ(ReadByte(64), Byte(64));
  EXPECT_EQ(ReadByte(128), Byte(128));  // evicts block 64
  EXPECT_EQ(cache_->blockCount, 1);
  ExpectAccounting();
}

struct Budgets {
  std::int32_t byteBudget;
  std::int32_t blockBudget;
};

class BlockCacheBudgetTest : public BlockCacheTest, public ::testing::WithParamInterface<Budgets> {};

TEST_P(BlockCacheBudgetTest, RandomReadsMatchTheFileWithinTheBudgets) {
  const Budgets budgets = GetParam();
  const unsigned seed = 4711;
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  WriteFile(5000);
  // Regions of several lengths, short end blocks, and one that runs past the
  // end of the file.
  const std::vector<RmfBlockRegion> regions = {{0, 1000}, {1000, 10}, {1010, 7}, {1100, 333}};
  const std::vector<RmfBlockRegion> more = {{2000, 2500}, {4800, 400}};
  constexpr std::uint32_t kBlock = 64;
  Create(kBlock, regions, more, budgets.byteBudget, budgets.blockBudget);
  std::vector<RmfBlockRegion> all = regions;
  all.insert(all.end(), more.begin(), more.end());
  // What one more block may add beyond its length: its index entry with the
  // entry's node and the list of a bucket used for the first time, and its
  // node in the LRU list.
  const std::int32_t slack = kHashtabEntryBytes + kDcllNodeBytes + kDcllListBytes + kDcllNodeBytes;

  for (int step = 0; step < 3000; ++step) {
    const RmfBlockRegion& region = all[rng() % all.size()];
    const std::uint32_t offset = region.start + rng() % region.length;
    const std::uint32_t blockStart = region.start + (offset - region.start) / kBlock * kBlock;
    const std::uint32_t blockEnd = std::min(blockStart + kBlock, region.start + region.length);
    std::uint32_t available = 0;
    const std::uint8_t* p = RmfBlockCacheGetSpan(cache_, offset, &available);
    if (blockEnd > size_) {
      ASSERT_EQ(p, nullptr) << "step " << step << ", offset " << offset;
    } else {
      ASSERT_NE(p, nullptr) << "step " << step << ", offset " << offset;
      ASSERT_EQ(available, blockEnd - offset) << "step " << step;
      for (std::uint32_t i = 0; i < available; ++i) ASSERT_EQ(p[i], Byte(offset + i)) << "step " << step;
    }
    ASSERT_LE(cache_->blockCount, budgets.blockBudget) << "step " << step;
    ASSERT_TRUE(cache_->blockCount <= 1 || cache_->bytesUsed < budgets.byteBudget + slack)
        << "step " << step << ": " << cache_->bytesUsed << " bytes in " << cache_->blockCount << " blocks";
    ExpectAccounting();
    if (HasFailure()) break;
  }
}

INSTANTIATE_TEST_SUITE_P(Budgets, BlockCacheBudgetTest,
                         ::testing::Values(Budgets{300, 100}, Budgets{1 << 20, 3}, Budgets{700, 4}, Budgets{50, 100}));

}  // namespace
