// Tests of the hash table: bucket counts, the string hash against zlib's
// CRC-32, random adds, removes and finds checked against std::map with the
// byte count worked out from the model, failed allocations leaving the table
// as it was, destruction, the walk with its stop flag, and finding further
// entries with a compare function that lets one key match several.
#include "mapengine/format/route/RmfHashtab.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/mapengine/format/route/ContainerTestMemory.h"

namespace {

using container_test::Element;
using container_test::ElementNumber;
using container_test::FailAllocation;
using container_test::FailNothing;
using container_test::g_memory;
using container_test::TestAlloc;
using container_test::TestFree;

const void* IntKey(std::uint32_t n) { return reinterpret_cast<const void*>(static_cast<std::uintptr_t>(n)); }

TEST(Hashtab, SizeIsTheFirstPrimeAboveAThird) {
  struct Case {
    std::uint32_t n;
    std::int32_t buckets;
  };
  const Case cases[] = {
      {0, 7},           {20, 7},  // 20 / 3 = 6
      {21, 13},         {38, 13},         {39, 31},  // 39 / 3 = 13 is not above 13
      {3000, 1021},     {0x7FFFFFFF, 1073741789},
      {3221225366u, 1073741789},  // a third of it is 1073741788
      {3221225367u, 1073741789},  // no prime is above a third: the last one
      {0xFFFFFFFFu, 1073741789},
  };
  for (const Case& c : cases) EXPECT_EQ(hashtabSize(c.n), c.buckets) << c.n;
}

// CRC-32 table entry by the bit-wise definition.
std::uint32_t Crc32Entry(std::uint32_t byte) {
  std::uint32_t crc = byte;
  for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
  return crc;
}

TEST(Hashtab, StringHashIsCrc32FromZeroWithoutTheFinalComplement) {
  EXPECT_EQ(hashtabStringHash(""), 0u);
  EXPECT_EQ(hashtabStringHash(nullptr), 0u);
  EXPECT_EQ(hashtabStringHash("a"), Crc32Entry(0x61));
  // zlib complements before and after: starting it from all ones runs the
  // register from 0, and complementing its answer undoes the final step.
  for (const char* text : {"a", "ab", "Neubrandenburg", "\xff\x80\x01", "the quick brown fox jumps"}) {
    const std::uint32_t zlib =
        ~static_cast<std::uint32_t>(crc32(0xFFFFFFFFul, reinterpret_cast<const Bytef*>(text), std::strlen(text)));
    EXPECT_EQ(hashtabStringHash(text), zlib) << text;
  }
}

TEST(Hashtab, StringTableFindsByTextNotByPointer) {
  Hashtab* table = hashtabCreateStringTable(nullptr, TestAlloc, TestFree, hashtabSize(10));
  ASSERT_NE(table, nullptr);
  const std::string stored[] = {"L7B", "0PB", ""};
  for (int i = 0; i < 3; ++i) ASSERT_EQ(hashtabAdd(table, Element(i), stored[i].c_str()), 0);
  for (int i = 0; i < 3; ++i) {
    const std::string copy = stored[i];
    void* value = nullptr;
    EXPECT_EQ(hashtabFind(table, copy.c_str(), &value), 1) << copy;
    EXPECT_EQ(value, Element(i));
  }
  EXPECT_EQ(hashtabFind(table, "L7", nullptr), 0);
  EXPECT_EQ(hashtabAdd(table, Element(5), "0PB"), kHashtabFailed);
  hashtabDestroyTable(table);
  EXPECT_EQ(g_memory.live, 0);
}

// The byte count of a table of bucketCount buckets, entries entries and the
// given number of bucket lists, by the phone's sizes.
std::uint32_t ExpectedBytes(std::int32_t bucketCount, std::size_t entries, std::size_t lists) {
  return 40 + 4 * static_cast<std::uint32_t>(bucketCount) + 16 * static_cast<std::uint32_t>(entries) +
         20 * static_cast<std::uint32_t>(lists) + 12 * static_cast<std::uint32_t>(entries);
}

TEST(Hashtab, RandomOperationsMatchAMapAndTheByteCount) {
  const unsigned seed = 77031;
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  constexpr std::int32_t kBuckets = 7;  // long chains
  Hashtab* table = hashtabCreateIntTable(nullptr, TestAlloc, TestFree, kBuckets);
  ASSERT_NE(table, nullptr);
  std::map<std::uint32_t, int> model;
  std::set<std::uint32_t> buckets;  // buckets that have had an entry: they keep their list
  for (int step = 0; step < 5000; ++step) {
    SCOPED_TRACE("step " + std::to_string(step));
    // Keys spread over a range wider than the buckets, with large values too.
    const std::uint32_t key = rng() % 2 ? rng() % 60 : 0xFFFFFF00u + rng() % 40;
    void* value = nullptr;
    const bool present = model.count(key) > 0;
    switch (rng() % 3) {
      case 0: {
        const int n = step;
        ASSERT_EQ(hashtabAdd(table, Element(n), IntKey(key)), present ? kHashtabFailed : 0);
        if (!present) {
          model[key] = n;
          buckets.insert(key % kBuckets);
        }
        break;
      }
      case 1:
        ASSERT_EQ(hashtabRemove(table, IntKey(key), &value), present ? 1 : 0);
        if (present) {
          EXPECT_EQ(ElementNumber(value), model[key]);
          model.erase(key);
        } else {
          EXPECT_EQ(value, nullptr);
        }
        break;
      case 2:
        ASSERT_EQ(hashtabFind(table, IntKey(key), &value), present ? 1 : 0);
        if (present) {
          EXPECT_EQ(ElementNumber(value), model[key]);
        }
        break;
    }
    ASSERT_EQ(hashtabGetNumElems(table), static_cast<std::int32_t>(model.size()));
    ASSERT_EQ(hashtabGetMemAllocated(table), ExpectedBytes(kBuckets, model.size(), buckets.size()));
  }
  // Every value once through the walk.
  std::multiset<int> seen;
  std::int32_t stop = 0;
  ASSERT_EQ(hashtabForEach(
                table,
                [](void* v, std::int32_t*, void* c) -> std::int32_t {
                  static_cast<std::multiset<int>*>(c)->insert(ElementNumber(v));
                  return 0;
                },
                &stop, &seen),
            0);
  std::multiset<int> expected;
  for (const auto& [key, n] : model) expected.insert(n);
  EXPECT_EQ(seen, expected);
  hashtabDestroyTable(table);
  EXPECT_EQ(g_memory.live, 0);
}

TEST(Hashtab, AddThenRemoveGivesBackAllButANewBucketList) {
  Hashtab* table = hashtabCreateIntTable(nullptr, TestAlloc, TestFree, 13);
  const std::uint32_t empty = hashtabGetMemAllocated(table);
  EXPECT_EQ(empty, 40u + 4 * 13);
  ASSERT_EQ(hashtabAdd(table, Element(1), IntKey(5)), 0);
  EXPECT_EQ(hashtabGetMemAllocated(table), empty + 20 + 16 + 12);
  void* value = nullptr;
  ASSERT_EQ(hashtabRemove(table, IntKey(5), &value), 1);
  EXPECT_EQ(hashtabGetMemAllocated(table), empty + 20);
  ASSERT_EQ(hashtabAdd(table, Element(2), IntKey(5 + 13)), 0);  // same bucket, its list is there
  EXPECT_EQ(hashtabGetMemAllocated(table), empty + 20 + 16 + 12);
  ASSERT_EQ(hashtabRemove(table, IntKey(5 + 13), &value), 1);
  EXPECT_EQ(hashtabGetMemAllocated(table), empty + 20);
  EXPECT_EQ(hashtabRemove(table, IntKey(5), &value), 0);
  hashtabDestroyTable(table);
  EXPECT_EQ(g_memory.live, 0);
}

TEST(Hashtab, FailedAllocationLeavesTheTableAsItWas) {
  // An add into an empty bucket allocates its list, the entry and the node;
  // into a bucket with a list, the entry and the node.
  struct Case {
    const char* what;
    std::uint32_t key;
    int allocations;
  };
  const Case cases[] = {{"new bucket", 3, 3}, {"bucket with a list", 7 + 1, 2}};
  for (const Case& c : cases) {
    for (int fail = 0; fail < c.allocations; ++fail) {
      SCOPED_TRACE(std::string(c.what) + ", allocation " + std::to_string(fail));
      Hashtab* table = hashtabCreateIntTable(nullptr, TestAlloc, TestFree, 7);
      ASSERT_EQ(hashtabAdd(table, Element(1), IntKey(1)), 0);
      const std::uint32_t bytes = hashtabGetMemAllocated(table);
      const int live = g_memory.live;
      DcllList* const bucket = table->buckets[c.key % 7];
      FailAllocation(fail);
      EXPECT_EQ(hashtabAdd(table, Element(2), IntKey(c.key)), kHashtabFailed);
      FailNothing();
      EXPECT_EQ(hashtabGetMemAllocated(table), bytes);
      EXPECT_EQ(hashtabGetNumElems(table), 1);
      EXPECT_EQ(table->buckets[c.key % 7], bucket);
      EXPECT_EQ(g_memory.live, live);
      EXPECT_EQ(hashtabFind(table, IntKey(c.key), nullptr), 0);
      EXPECT_EQ(hashtabAdd(table, Element(2), IntKey(c.key)), 0);  // and then it works
      hashtabDestroyTable(table);
      EXPECT_EQ(g_memory.live, 0);
    }
  }
  for (int fail = 0; fail < 2; ++fail) {  // the table, its bucket array
    FailAllocation(fail);
    EXPECT_EQ(hashtabCreateIntTable(nullptr, TestAlloc, TestFree, 7), nullptr) << fail;
    FailNothing();
    EXPECT_EQ(g_memory.live, 0);
  }
  EXPECT_EQ(hashtabCreateIntTable(nullptr, TestAlloc, TestFree, 0), nullptr);
  EXPECT_EQ(hashtabCreateTable(hashtabIntCompare, nullptr, TestAlloc, TestFree, nullptr, 7), nullptr);
}

std::vector<int> g_freed;
void RecordFree(void* value) { g_freed.push_back(ElementNumber(value)); }

TEST(Hashtab, DestroyFreesEveryValueStillInTheTableOnce) {
  g_freed.clear();
  Hashtab* table = hashtabCreateIntTable(RecordFree, TestAlloc, TestFree, 7);
  for (std::uint32_t k = 0; k < 20; ++k) ASSERT_EQ(hashtabAdd(table, Element(static_cast<int>(k)), IntKey(k)), 0);
  void* value = nullptr;
  ASSERT_EQ(hashtabRemove(table, IntKey(4), &value), 1);  // handed back, not freed
  EXPECT_TRUE(g_freed.empty());
  hashtabDestroyTable(table);
  std::multiset<int> freed(g_freed.begin(), g_freed.end());
  std::multiset<int> expected;
  for (int k = 0; k < 20; ++k) {
    if (k != 4) expected.insert(k);
  }
  EXPECT_EQ(freed, expected);
  EXPECT_EQ(g_memory.live, 0);
}

TEST(Hashtab, ForEachClearsTheFlagFirstAndStopsAcrossBuckets) {
  Hashtab* table = hashtabCreateIntTable(nullptr, TestAlloc, TestFree, 7);
  for (std::uint32_t k = 0; k < 14; ++k) ASSERT_EQ(hashtabAdd(table, Element(static_cast<int>(k)), IntKey(k)), 0);
  struct Walk {
    int visits = 0;
    int stopAfter;
    int failAfter;
  };
  auto visit = [](void*, std::int32_t* stop, void* c) -> std::int32_t {
    auto* walk = static_cast<Walk*>(c);
    ++walk->visits;
    if (walk->visits == walk->failAfter) return kDcllFailed;
    if (walk->visits == walk->stopAfter && stop != nullptr) *stop = 1;
    return 0;
  };
  struct Case {
    int stopAfter, failAfter;
    std::int32_t result;
    int visits;
  };
  // Two entries per bucket: stopping after the third visit ends the walk in
  // the second bucket.
  const Case cases[] = {{-1, -1, 0, 14}, {3, -1, 0, 3}, {-1, 5, kDcllFailed, 5}, {14, -1, 0, 14}};
  for (const Case& c : cases) {
    Walk walk{0, c.stopAfter, c.failAfter};
    std::int32_t stop = 1;  // left set by an earlier walk
    EXPECT_EQ(hashtabForEach(table, visit, &stop, &walk), c.result);
    EXPECT_EQ(walk.visits, c.visits) << "stop after " << c.stopAfter << ", fail after " << c.failAfter;
  }
  hashtabDestroyTable(table);
}

// Keys equal when they are the same or one of them is 0, the wildcard; all
// keys in one bucket.
std::int32_t WildcardCompare(const void* a, const void* b) { return a == b || a == nullptr || b == nullptr ? 0 : 1; }
std::uint32_t OneBucket(const void*) { return 0; }

TEST(Hashtab, FindNextWalksTheBucketToItsTailOnly) {
  Hashtab* table = hashtabCreateTable(WildcardCompare, nullptr, TestAlloc, TestFree, OneBucket, 7);
  for (std::uint32_t k = 1; k <= 3; ++k) ASSERT_EQ(hashtabAdd(table, Element(static_cast<int>(k)), IntKey(k)), 0);
  std::vector<int> seen;
  void* value = nullptr;
  DcllNode* cursor = nullptr;
  for (std::int32_t more = hashtabFindFirst(table, IntKey(0), &value, &cursor); more == 1;
       more = hashtabFindNext(table, IntKey(0), &cursor, &value)) {
    seen.push_back(ElementNumber(value));
  }
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(value, nullptr);
  ASSERT_NE(cursor, nullptr);  // left on the last match
  EXPECT_EQ(static_cast<HashtabEntry*>(cursor->element)->value, Element(3));

  // A specific key matches once.
  ASSERT_EQ(hashtabFindFirst(table, IntKey(2), &value, &cursor), 1);
  EXPECT_EQ(value, Element(2));
  EXPECT_EQ(hashtabFindNext(table, IntKey(2), &cursor, &value), 0);
  EXPECT_EQ(hashtabFindFirst(table, IntKey(9), &value, &cursor), 0);
  EXPECT_EQ(cursor, nullptr);
  hashtabDestroyTable(table);
  EXPECT_EQ(g_memory.live, 0);
}

}  // namespace
