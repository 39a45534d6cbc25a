// Tests of the route-data lookups on a small hand-built data set, held in
// memory and read from a file through a block cache of small blocks (so that
// records cross blocks): nodes found through the index by the bucket formula,
// not found, and each inconsistency (with its counters); connection entries
// and their bit fields; node records with their connections; name lists and
// their bounds; reads that stop at the data size; and the -7 answer when the
// data cannot supply an offset.
#include "mapengine/format/route/RmfRouteData.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/os/text.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kDataSize = 2048;
constexpr std::uint32_t kBucketCount = 1000;

// Where the fixture puts things.
constexpr std::uint32_t kBucket = 16;        // the bucket of the key below
constexpr std::uint32_t kOtherRecord = 64;   // feature 9
constexpr std::uint32_t kSiblingRecord = 128;  // feature 5, vertex 2
constexpr std::uint32_t kRecord = 192;       // feature 5, vertex 1, part 2, side 3
constexpr std::uint32_t kConnectionA = 300;
constexpr std::uint32_t kConnectionB = 310;
constexpr std::uint32_t kNames = 1024;

constexpr RmfRouteNodeKey kKey{5, 1, 2};
constexpr std::int32_t kSide = 3;
// (5 + ((3 + (1 + 2 x 4) x 4) << 20)) mod 1000 = 40894469 mod 1000, worked
// out by hand.
constexpr std::uint32_t kKeyBucket = 469;

// The connection entry numbered 4: every field holds a different value.
constexpr std::uint32_t kEntry4 = 0x15u | (4u << 5) | (1u << 19) | (5u << 20) | (2u << 23) | (7u << 26);

struct Image {
  std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(kDataSize, 0xEE);
  std::vector<std::uint32_t> buckets = std::vector<std::uint32_t>(kBucketCount, 0);

  void Put8(std::uint32_t at, std::uint8_t v) { bytes[at] = v; }
  void Put16(std::uint32_t at, std::uint16_t v) {
    bytes[at] = static_cast<std::uint8_t>(v);
    bytes[at + 1] = static_cast<std::uint8_t>(v >> 8);
  }
  void Put32(std::uint32_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
  // A node record head: feature id, vertex, part, side word, c2, n.
  void Record(std::uint32_t at, std::uint32_t feature, std::uint16_t vertex, std::uint16_t part, std::uint16_t side,
              std::uint8_t entries, std::uint8_t connections) {
    Put32(at, feature);
    Put16(at + 4, vertex);
    Put16(at + 6, part);
    Put16(at + 8, side);
    Put8(at + 10, entries);
    Put8(at + 11, connections);
  }
  // One name entry at *at: lengths as stored, then the texts with their NULs.
  void Name(std::uint32_t* at, const std::string& code, const std::string& value, const std::string& name) {
    for (const std::string* text : {&code, &value, &name}) Put8((*at)++, static_cast<std::uint8_t>(text->size()));
    for (const std::string* text : {&code, &value, &name}) {
      for (char ch : *text) Put8((*at)++, static_cast<std::uint8_t>(ch));
      Put8((*at)++, 0);
    }
  }
};

Image Fixture() {
  Image im;
  im.buckets[kKeyBucket] = kBucket;
  im.Put32(kBucket, 3);
  const std::uint32_t pairs[3][2] = {{9, kOtherRecord}, {5, kSiblingRecord}, {5, kRecord}};
  for (int i = 0; i < 3; ++i) {
    im.Put32(kBucket + 4 + 8 * i, pairs[i][0]);
    im.Put32(kBucket + 8 + 8 * i, pairs[i][1]);
  }
  im.Record(kOtherRecord, 9, 1, 2, 3, 0, 0);
  im.Record(kSiblingRecord, 5, 2, 2, 3, 0, 0);
  // Side 3 in bytes 8..9: flags 3, byte 9 zero. Two connections, three
  // entries numbered 1, 4 and 9.
  im.Record(kRecord, 5, 1, 2, kSide, 3, 2);
  im.Put32(kRecord + 12, kConnectionA);
  im.Put32(kRecord + 16, kConnectionB);
  const std::uint32_t entries = kRecord + 20;
  im.Put32(entries, 1u << 5);
  im.Put32(entries + 4, 0x01010101);
  im.Put32(entries + 8, kEntry4);
  im.Put32(entries + 12, 0xCAFEBABE);
  im.Put32(entries + 16, 9u << 5);
  im.Put32(entries + 20, 0x09090909);
  im.Put32(kConnectionA, 0x11223344);
  im.Put32(kConnectionB, 0x55667788);  // connection records need not be aligned

  im.Put32(kNames, 2);
  std::uint32_t at = kNames + 4;
  im.Name(&at, "L7B", "0PB", "12345");
  im.Name(&at, std::string(5, 'c'), std::string(50, 'v'), std::string(250, 'n'));
  return im;
}

enum class Storage { kMemory, kFile };

std::string StorageName(const ::testing::TestParamInfo<Storage>& info) {
  return info.param == Storage::kMemory ? "Memory" : "File";
}

class RouteDataTest : public ::testing::TestWithParam<Storage> {
 public:
  void SetUp() override {
    folder_ = temp_.string();
  }
  void TearDown() override { RmfBlockCacheDestroy(cache_); }

  // Route data over the image, in memory or through a cache of 16-byte
  // blocks over a file of the image's first fileBytes bytes.
  RmfRouteData& Attach(const Image& image, std::uint32_t fileBytes = kDataSize,
                       std::vector<RmfBlockRegion> regions = {{0, kDataSize}}) {
    image_ = image;
    RmfBlockCacheDestroy(cache_);
    cache_ = nullptr;
    data_ = RmfRouteData{};
    data_.buckets = image_.buckets.data();
    data_.bucketCount = kBucketCount;
    data_.dataSize = kDataSize;
    if (GetParam() == Storage::kMemory) {
      data_.bytes = image_.bytes.data();
      return data_;
    }
    const std::string path = folder_ + "/route.dat";
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(image_.bytes.data()), fileBytes);
    const std::u16string wide = platform::Utf8ToUtf16(path);
    HANDLE file =
        CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(RmfBlockCacheCreate(&cache_, file, 16, regions.data(), static_cast<std::int32_t>(regions.size()),
                                  nullptr, 0, 4096, 8),
              1);
    data_.inFile = 1;
    data_.cache = cache_;
    return data_;
  }

  // Runs a lookup and checks that an inconsistency, and only that, counts.
  std::int32_t Counted(const std::function<std::int32_t()>& lookup) {
    const std::uint32_t global = RmfRouteDataInconsistencies();
    const std::uint32_t mine = data_.counters.inconsistencies;
    const std::int32_t result = lookup();
    const std::uint32_t expected = result == kRmfMalformed ? 1 : 0;
    EXPECT_EQ(RmfRouteDataInconsistencies() - global, expected);
    EXPECT_EQ(data_.counters.inconsistencies - mine, expected);
    return result;
  }

  testing_support::TempFolder temp_{"route-data"};
  std::string folder_;
  Image image_;
  RmfRouteData data_{};
  RmfBlockCache* cache_ = nullptr;
};

TEST_P(RouteDataTest, FindNode) {
  struct Case {
    const char* what;
    std::function<void(Image&)> change;
    RmfRouteNodeKey key;
    std::int32_t side;
    std::int32_t result;
    std::uint32_t record;  // 0 = not found
  };
  const auto none = [](Image&) {};
  const Case cases[] = {
      {"found past another feature and a sibling", none, kKey, kSide, 0, kRecord},
      {"another vertex: empty bucket", none, {5, 3, 2}, kSide, 0, 0},
      {"another side: empty bucket", none, kKey, kSide + 1, 0, 0},
      {"the record holds another side", [](Image& im) { im.Put16(kRecord + 8, 4); }, kKey, kSide, 0, 0},
      {"negative bucket offset", [](Image& im) { im.buckets[kKeyBucket] = 0x80000000u; }, kKey, kSide, 0, 0},
      {"negative count", [](Image& im) { im.Put32(kBucket, 0xFFFFFFFFu); }, kKey, kSide, 0, 0},
      {"no pair of the feature", [](Image& im) { im.Put32(kBucket, 1); }, kKey, kSide, 0, 0},
      {"count 0", [](Image& im) { im.Put32(kBucket, 0); }, kKey, kSide, kRmfMalformed, 0},
      {"pairs past the data", [](Image& im) { im.Put32(kBucket, 254); }, kKey, kSide, kRmfMalformed, 0},
      {"bucket past the data", [](Image& im) { im.buckets[kKeyBucket] = kDataSize - 2; }, kKey, kSide,
       kRmfMalformed, 0},
      {"record offset 0", [](Image& im) { im.Put32(kBucket + 24, 0); }, kKey, kSide, kRmfMalformed, 0},
      {"record offset at the data size", [](Image& im) { im.Put32(kBucket + 24, kDataSize); }, kKey, kSide,
       kRmfMalformed, 0},
      {"record offset not a multiple of 4", [](Image& im) { im.Put32(kBucket + 24, kRecord + 2); }, kKey, kSide,
       kRmfMalformed, 0},
      {"record runs past the data", [](Image& im) { im.Put32(kBucket + 24, kDataSize - 4); }, kKey, kSide,
       kRmfMalformed, 0},
      {"record of another feature", [](Image& im) { im.Put32(kRecord, 6); }, kKey, kSide, kRmfMalformed, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Image im = Fixture();
    c.change(im);
    RmfRouteData& data = Attach(im);
    std::int32_t found = -1;
    std::uint32_t record = 0xDEAD;
    EXPECT_EQ(Counted([&] { return RmfRouteDataFindNode(&data, c.key, c.side, &found, &record); }), c.result);
    EXPECT_EQ(found, c.record != 0 ? 1 : 0);
    EXPECT_EQ(record, c.record);
  }

  RmfRouteData& data = Attach(Fixture());
  std::int32_t found = 0;
  EXPECT_EQ(RmfRouteDataFindNode(nullptr, kKey, kSide, &found, nullptr), kRmfBadArgument);
  EXPECT_EQ(RmfRouteDataFindNode(&data, kKey, kSide, nullptr, nullptr), kRmfBadArgument);
  data.buckets = nullptr;  // no index: nothing to find
  EXPECT_EQ(RmfRouteDataFindNode(&data, kKey, kSide, &found, nullptr), 0);
  EXPECT_EQ(found, 0);
}

TEST_P(RouteDataTest, FindConnectionDecodesTheEntryOfItsNumber) {
  RmfRouteData& data = Attach(Fixture());
  std::int32_t found = 0;
  RmfRouteConnectionEntry entry{};
  ASSERT_EQ(RmfRouteDataFindConnection(&data, kRecord, 4, &found, &entry), 0);
  EXPECT_EQ(found, 1);
  EXPECT_EQ(entry.number, 4u);
  EXPECT_EQ(entry.lowBits, 0x15);
  EXPECT_EQ(entry.bit19, 1);
  EXPECT_EQ(entry.fields[0], 5);
  EXPECT_EQ(entry.fields[1], 2);
  EXPECT_EQ(entry.fields[2], 7);
  EXPECT_EQ(entry.secondWord, 0xCAFEBABEu);

  struct Case {
    std::uint32_t number;
    std::int32_t found;
    std::uint32_t second;
  };
  // 0 is below the first, 5 between two, 10 past the last; 0x4009 only
  // matches when the number is not cut to its 14 bits.
  const Case cases[] = {{1, 1, 0x01010101}, {9, 1, 0x09090909}, {0, 0, 0}, {5, 0, 0}, {10, 0, 0}, {0x4009, 0, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(RmfRouteDataFindConnection(&data, kRecord, c.number, &found, &entry), 0);
    EXPECT_EQ(found, c.found) << c.number;
    EXPECT_EQ(entry.secondWord, c.second) << c.number;
  }
}

// Changes to the node record that make it inconsistent for every lookup that
// reads it.
struct BadRecord {
  const char* what;
  std::function<void(Image&)> change;
  std::uint32_t record;
};

const BadRecord kBadRecords[] = {
    {"33 connections", [](Image& im) { im.Put8(kRecord + 11, 33); }, kRecord},
    {"more entries than twice the connections", [](Image& im) { im.Put8(kRecord + 10, 5); }, kRecord},
    {"record offset 0", [](Image&) {}, 0},
    {"record offset not a multiple of 4", [](Image&) {}, kRecord + 1},
    {"record offset at the data size", [](Image&) {}, kDataSize},
    {"record head past the data", [](Image&) {}, kDataSize - 8},
};

TEST_P(RouteDataTest, EveryLookupOfARecordRefusesAnInconsistentOne) {
  for (const BadRecord& bad : kBadRecords) {
    SCOPED_TRACE(bad.what);
    Image im = Fixture();
    bad.change(im);
    RmfRouteData& data = Attach(im);
    std::int32_t found = -1;
    RmfRouteNode node{};
    EXPECT_EQ(Counted([&] { return RmfRouteDataFindConnection(&data, bad.record, 4, &found, nullptr); }),
              kRmfMalformed);
    EXPECT_EQ(found, 0);
    EXPECT_EQ(Counted([&] { return RmfRouteDataReadNode(&data, bad.record, kSide, &node); }), kRmfMalformed);
    EXPECT_EQ(node.connectionCount, 0);
    EXPECT_EQ(Counted([&] { return RmfRouteDataNodeInfo(&data, bad.record, &found); }), kRmfMalformed);
    EXPECT_EQ(Counted([&] { return RmfRouteDataWalk(&data, bad.record, 4, &found); }), kRmfMalformed);
  }
}

TEST_P(RouteDataTest, ReadNodeReadsTheRecordAndItsConnections) {
  RmfRouteData& data = Attach(Fixture());
  RmfRouteNode node{};
  ASSERT_EQ(RmfRouteDataReadNode(&data, kRecord, kSide, &node), 0);
  EXPECT_EQ(node.featureId, 5u);
  EXPECT_EQ(node.vertex, 1);
  EXPECT_EQ(node.part, 2);
  EXPECT_EQ(node.side, kSide);
  EXPECT_EQ(node.flags, 3);
  EXPECT_EQ(node.byte9, 0);
  EXPECT_EQ(node.entryCount, 3);
  ASSERT_EQ(node.connectionCount, 2);
  EXPECT_EQ(node.connections[0].offset, kConnectionA);
  EXPECT_EQ(node.connections[0].flagWord, 0x11223344u);
  EXPECT_EQ(node.connections[1].offset, kConnectionB);
  EXPECT_EQ(node.connections[1].flagWord, 0x55667788u);

  // The layout says no more about a node or a walk from it.
  std::int32_t answer = -1;
  EXPECT_EQ(RmfRouteDataNodeInfo(&data, kRecord, &answer), 0);
  EXPECT_EQ(answer, 0);
  answer = -1;
  EXPECT_EQ(RmfRouteDataWalk(&data, kRecord, 4, &answer), 0);
  EXPECT_EQ(answer, 0);

  struct Case {
    const char* what;
    std::uint32_t connection;
  };
  const Case cases[] = {{"connection offset 0", 0}, {"connection at the data size", kDataSize},
                        {"connection runs past the data", kDataSize - 3}};
  for (const Case& c : cases) {
    Image im = Fixture();
    im.Put32(kRecord + 16, c.connection);
    RmfRouteData& bad = Attach(im);
    EXPECT_EQ(Counted([&] { return RmfRouteDataReadNode(&bad, kRecord, kSide, &node); }), kRmfMalformed) << c.what;
    EXPECT_EQ(node.connectionCount, 0) << c.what;
  }
}

TEST_P(RouteDataTest, NamesReadTheListWithinItsBounds) {
  RmfRouteData& data = Attach(Fixture());
  RmfRouteNames names{};
  ASSERT_EQ(RmfRouteDataNames(&data, kNames, &names), 0);
  ASSERT_EQ(names.count, 2);
  EXPECT_STREQ(names.entries[0].code, "L7B");
  EXPECT_STREQ(names.entries[0].value, "0PB");
  EXPECT_STREQ(names.entries[0].name, "12345");
  EXPECT_EQ(std::string(names.entries[1].code), std::string(5, 'c'));
  EXPECT_EQ(std::string(names.entries[1].value), std::string(50, 'v'));
  EXPECT_EQ(std::string(names.entries[1].name), std::string(250, 'n'));

  constexpr std::uint32_t first = kNames + 4;  // the first entry's length bytes
  struct Case {
    const char* what;
    std::function<void(Image&)> change;
    std::uint32_t offset;
  };
  const Case cases[] = {
      {"81 entries", [](Image& im) { im.Put32(kNames, 81); }, kNames},
      {"a negative count", [](Image& im) { im.Put32(kNames, 0xFFFFFFFFu); }, kNames},
      {"code of 6", [](Image& im) { im.Put8(first, 6); }, kNames},
      {"value of 51", [](Image& im) { im.Put8(first + 1, 51); }, kNames},
      {"name of 251", [](Image& im) { im.Put8(first + 2, 251); }, kNames},
      {"text shorter than stored", [](Image& im) { im.Put8(first + 4, 0); }, kNames},
      {"text longer than stored", [](Image& im) { im.Put8(first, 2); }, kNames},
      {"list past the data", [](Image&) {}, kDataSize - 2},
      {"entries past the data",
       [](Image& im) {
         im.Put32(kDataSize - 8, 2);
         im.Put32(kDataSize - 4, 0);  // three empty texts would end at 2050
       },
       kDataSize - 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Image im = Fixture();
    c.change(im);
    RmfRouteData& bad = Attach(im);
    EXPECT_EQ(Counted([&] { return RmfRouteDataNames(&bad, c.offset, &names); }), kRmfMalformed);
    EXPECT_EQ(names.count, 0);
  }
}

TEST_P(RouteDataTest, ReadsStopAtTheDataSize) {
  RmfRouteData& data = Attach(Fixture());
  data.dataSize = 100;  // the bytes beyond are there, but not route data
  std::uint8_t out[8];
  struct Case {
    std::uint32_t offset, length;
    std::int32_t result;
  };
  const Case cases[] = {{96, 4, 0}, {97, 4, kRmfMalformed}, {100, 0, 0}, {100, 1, kRmfMalformed},
                        {0xFFFFFFFFu, 2, kRmfMalformed}};  // no wrap to the start
  for (const Case& c : cases) {
    EXPECT_EQ(Counted([&] { return RmfRouteDataRead(&data, c.offset, c.length, out); }), c.result)
        << c.offset << " + " << c.length;
  }
  EXPECT_EQ(RmfRouteDataRead(&data, 0, 4, nullptr), kRmfBadArgument);
  EXPECT_EQ(RmfRouteDataRead(nullptr, 0, 4, out), kRmfBadArgument);

  // Across blocks: the entries of the record span two 16-byte blocks.
  std::uint8_t entries[24];
  data.dataSize = kDataSize;
  ASSERT_EQ(RmfRouteDataRead(&data, kRecord + 20, sizeof entries, entries), 0);
  EXPECT_EQ(std::memcmp(entries, image_.bytes.data() + kRecord + 20, sizeof entries), 0);
}

INSTANTIATE_TEST_SUITE_P(Storage, RouteDataTest, ::testing::Values(Storage::kMemory, Storage::kFile), StorageName);

// The data cannot supply an offset: the answer is -7, not an inconsistency.
class RouteDataUnavailableTest : public RouteDataTest {};

TEST_P(RouteDataUnavailableTest, EveryLookupAnswersUnavailable) {
  struct Case {
    const char* what;
    std::function<RmfRouteData&(RouteDataUnavailableTest&)> attach;
  };
  const Case cases[] = {
      {"the file ends early", [](RouteDataUnavailableTest& t) -> RmfRouteData& { return t.Attach(Fixture(), 100); }},
      {"no region holds the record",
       [](RouteDataUnavailableTest& t) -> RmfRouteData& {
         return t.Attach(Fixture(), kDataSize, {{0, 100}, {kNames, 8}});
       }},
      {"no cache",
       [](RouteDataUnavailableTest& t) -> RmfRouteData& {
         RmfRouteData& data = t.Attach(Fixture());
         data.cache = nullptr;
         return data;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RmfRouteData& data = c.attach(*this);
    std::int32_t found = -1;
    RmfRouteNode node{};
    RmfRouteNames names{};
    EXPECT_EQ(Counted([&] { return RmfRouteDataFindNode(&data, kKey, kSide, &found, nullptr); }),
              kRmfRouteDataUnavailable);
    EXPECT_EQ(Counted([&] { return RmfRouteDataFindConnection(&data, kRecord, 4, &found, nullptr); }),
              kRmfRouteDataUnavailable);
    EXPECT_EQ(Counted([&] { return RmfRouteDataReadNode(&data, kRecord, kSide, &node); }),
              kRmfRouteDataUnavailable);
    EXPECT_EQ(Counted([&] { return RmfRouteDataNames(&data, kNames, &names); }), kRmfRouteDataUnavailable);
  }
}

INSTANTIATE_TEST_SUITE_P(Storage, RouteDataUnavailableTest, ::testing::Values(Storage::kFile), StorageName);

TEST(RouteDataMemory, NoByteArrayIsUnavailable) {
  RmfRouteData data{};
  data.dataSize = 64;
  std::uint8_t out[4];
  EXPECT_EQ(RmfRouteDataRead(&data, 0, 4, out), kRmfRouteDataUnavailable);
  RmfRouteNames names{};
  EXPECT_EQ(RmfRouteDataNames(&data, 0, &names), kRmfRouteDataUnavailable);
}

}  // namespace
