// Tests of the map file decoders: header checks and fields, annotation texts,
// the index sample table, record framing and inflation, and randomised
// mutations of valid bytes that must never make a decoder read or write
// outside its buffers.
#include "mapengine/format/store/RmfFileFormat.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using rmf::RmfRecordStatus;

// ---- a tiny writer ----------------------------------------------------------------

class ByteWriter {
 public:
  explicit ByteWriter(std::size_t size = 0) : bytes_(size, 0) {}

  ByteWriter& U8(std::size_t at, std::uint8_t v) {
    Grow(at + 1);
    bytes_[at] = v;
    return *this;
  }
  ByteWriter& U16(std::size_t at, std::uint16_t v) {
    U8(at, static_cast<std::uint8_t>(v));
    return U8(at + 1, static_cast<std::uint8_t>(v >> 8));
  }
  ByteWriter& U32(std::size_t at, std::uint32_t v) {
    U16(at, static_cast<std::uint16_t>(v));
    return U16(at + 2, static_cast<std::uint16_t>(v >> 16));
  }
  ByteWriter& Rect(std::size_t at, const TiRect& r) {
    U32(at, static_cast<std::uint32_t>(r.x1));
    U32(at + 4, static_cast<std::uint32_t>(r.y1));
    U32(at + 8, static_cast<std::uint32_t>(r.x2));
    return U32(at + 12, static_cast<std::uint32_t>(r.y2));
  }
  ByteWriter& Append(const std::vector<std::uint8_t>& more) {
    bytes_.insert(bytes_.end(), more.begin(), more.end());
    return *this;
  }

  std::vector<std::uint8_t>& bytes() { return bytes_; }

 private:
  void Grow(std::size_t size) {
    if (bytes_.size() < size) bytes_.resize(size, 0);
  }
  std::vector<std::uint8_t> bytes_;
};

// A copy in a heap block of exactly `count` bytes, so that AddressSanitizer
// reports any read past the end.
class ExactBuffer {
 public:
  ExactBuffer(const std::uint8_t* bytes, std::size_t count)
      : data_(new std::uint8_t[count]()), count_(count) {
    if (bytes != nullptr && count != 0) std::memcpy(data_.get(), bytes, count);
  }
  explicit ExactBuffer(const std::vector<std::uint8_t>& bytes) : ExactBuffer(bytes.data(), bytes.size()) {}
  ExactBuffer(const std::vector<std::uint8_t>& bytes, std::size_t count)
      : ExactBuffer(bytes.data(), count < bytes.size() ? count : bytes.size()) {}

  const std::uint8_t* data() const { return data_.get(); }
  std::uint8_t* data() { return data_.get(); }
  std::size_t size() const { return count_; }

 private:
  std::unique_ptr<std::uint8_t[]> data_;
  std::size_t count_;
};

// ---- file headers -----------------------------------------------------------------

constexpr TiRect kBox{-1000, -2000, 3000, 4000};
constexpr TiRect kRegion{-10, -20, 30, 40};

// A 500-byte header that the decoder accepts: version 2.1, 3 index entries at
// 500, the offset table right behind them.
std::vector<std::uint8_t> ValidHeader(std::uint8_t version = 0x21) {
  ByteWriter w(rmf::kHeaderReadBytes);
  w.U8(0, version).U16(4, 0x1234).U8(6, 0x56).U8(7, 0x05).Rect(8, kBox);
  w.U16(24, 700).U16(26, 80);
  w.U32(28, 500).U32(32, 3).U32(36, 536).U32(40, 4).U16(44, 0xbeef);
  const std::uint16_t masks[8] = {0, 0x0001, 0x0006, 0, 0, 0x0100, 0, 0};
  for (int i = 0; i < 8; ++i) w.U16(46 + 2 * i, masks[i]);
  w.Rect(62, kRegion);
  for (int c = 0; c < 4; ++c) w.U32(78 + 4 * c, c == 2 ? 0 : 0x100 + c);
  for (int i = 0; i < 32; ++i) w.U8(94 + i, static_cast<std::uint8_t>(i + 1));
  return w.bytes();
}

int Decode(const std::vector<std::uint8_t>& bytes, rmf::RmfFileHeader* header, std::size_t count) {
  ExactBuffer exact(bytes, count);
  return rmf::DecodeFileHeader(exact.size() == 0 ? nullptr : exact.data(), exact.size(), header);
}

TEST(RmfFileHeaderTest, ChecksInOrderWithTheirResults) {
  struct Case {
    const char* name;
    std::function<void(ByteWriter&)> change;
    std::size_t count;
    int expected;
  };
  const Case cases[] = {
      {"nothing read", [](ByteWriter&) {}, 0, kRmfCannotOpen},
      {"one byte", [](ByteWriter&) {}, 1, rmf::kRmfFileTooShort},
      {"125 bytes", [](ByteWriter&) {}, 125, rmf::kRmfFileTooShort},
      {"short beats a bad index",
       [](ByteWriter& w) { w.U32(28, 0).U32(32, 0).U32(36, 0); }, 125, rmf::kRmfFileTooShort},
      {"126 bytes are enough", [](ByteWriter&) {}, 126, rmf::kRmfFileAccepted},
      {"all 500", [](ByteWriter&) {}, 500, rmf::kRmfFileAccepted},
      {"more than 500 read", [](ByteWriter& w) { w.U8(600, 1); }, 601, rmf::kRmfFileAccepted},
      {"index fields all 0", [](ByteWriter& w) { w.U32(28, 0).U32(32, 0).U32(36, 0); }, 500,
       kRmfHeaderRejected},
      {"10-byte stride, flags bit 0 clear",
       [](ByteWriter& w) { w.U8(7, 0x04).U32(36, 500 + 10 * 3); }, 500, kRmfHeaderRejected},
      {"10-byte stride, flags bit 0 set",
       [](ByteWriter& w) { w.U8(7, 0x05).U32(36, 500 + 10 * 3); }, 500, kRmfHeaderRejected},
      {"12-byte stride, flags bit 0 clear", [](ByteWriter& w) { w.U8(7, 0x00); }, 500,
       rmf::kRmfFileAccepted},
      {"table one byte late", [](ByteWriter& w) { w.U32(36, 537); }, 500, kRmfHeaderRejected},
      {"empty index right before its table", [](ByteWriter& w) { w.U32(32, 0).U32(36, 500); }, 500,
       rmf::kRmfFileAccepted},
      {"index at 0 with entries", [](ByteWriter& w) { w.U32(28, 0).U32(36, 36); }, 500,
       rmf::kRmfFileAccepted},
      {"only the table offset set", [](ByteWriter& w) { w.U32(28, 0).U32(32, 0).U32(36, 12); }, 500,
       kRmfHeaderRejected},
      // 0xfffffff4 + 12 wraps to 0 in 32 bits; the index cannot end past 4 GB.
      {"index end wraps to the table offset",
       [](ByteWriter& w) { w.U32(28, 0xfffffff4u).U32(32, 1).U32(36, 0); }, 500, kRmfHeaderRejected},
      {"count x 12 wraps", [](ByteWriter& w) { w.U32(28, 16).U32(32, 0x40000000u).U32(36, 16); }, 500,
       kRmfHeaderRejected},
  };
  for (const Case& c : cases) {
    ByteWriter w;
    w.Append(ValidHeader());
    c.change(w);
    rmf::RmfFileHeader header{};
    EXPECT_EQ(Decode(w.bytes(), &header, c.count), c.expected) << c.name;
  }
}

TEST(RmfFileHeaderTest, NullArguments) {
  std::vector<std::uint8_t> bytes = ValidHeader();
  EXPECT_EQ(rmf::DecodeFileHeader(bytes.data(), bytes.size(), nullptr), kRmfBadArgument);
  rmf::RmfFileHeader header{};
  EXPECT_EQ(rmf::DecodeFileHeader(nullptr, 500, &header), kRmfCannotOpen);
}

TEST(RmfFileHeaderTest, DecodesEveryField) {
  rmf::RmfFileHeader h{};
  ASSERT_EQ(Decode(ValidHeader(), &h, 500), rmf::kRmfFileAccepted);
  EXPECT_EQ(h.version, 0x21);
  EXPECT_EQ(h.versionMajor, 2);
  EXPECT_EQ(h.versionMinor, 1);
  EXPECT_EQ(h.headerWord4, 0x1234);
  EXPECT_EQ(h.headerByte6, 0x56);
  EXPECT_EQ(h.flags, 0x05);
  EXPECT_EQ(h.box.x1, kBox.x1);
  EXPECT_EQ(h.box.y1, kBox.y1);
  EXPECT_EQ(h.box.x2, kBox.x2);
  EXPECT_EQ(h.box.y2, kBox.y2);
  EXPECT_EQ(h.annotationOffset, 700);
  EXPECT_EQ(h.annotationLength, 80);
  EXPECT_EQ(h.indexOffset, 500u);
  EXPECT_EQ(h.indexCount, 3u);
  EXPECT_EQ(h.offsetTableOffset, 536u);
  EXPECT_EQ(h.offsetTableLast, 4u);
  EXPECT_EQ(h.headerWord44, 0xbeef);
  EXPECT_EQ(h.levelMasks[0], 0);
  EXPECT_EQ(h.levelMasks[1], 0x0001);
  EXPECT_EQ(h.levelMasks[2], 0x0006);
  EXPECT_EQ(h.levelMasks[5], 0x0100);
  EXPECT_EQ(h.hasRegionBlocks, 1u);
  EXPECT_EQ(h.regionBox.x1, kRegion.x1);
  EXPECT_EQ(h.regionBox.y2, kRegion.y2);
  EXPECT_EQ(h.classPresence[0], 0x100u);
  EXPECT_EQ(h.classPresence[1], 0x101u);
  EXPECT_EQ(h.classPresence[2], 0u);
  EXPECT_EQ(h.classPresence[3], 0x103u);
  EXPECT_EQ(h.classLevels[0][0], 1);
  EXPECT_EQ(h.classLevels[1][0], 9);
  EXPECT_EQ(h.classLevels[3][7], 32);
  // Masks are set for detail levels 2, 3 and 6 (words 1, 2 and 5).
  EXPECT_EQ(h.minLevel, 2);
  EXPECT_EQ(h.maxLevel, 6);
  EXPECT_EQ(h.featureEntrySize, 12);
  EXPECT_EQ(h.recordsCompressed, 1u);
}

TEST(RmfFileHeaderTest, FlagsGiveEntrySizeAndCompression) {
  struct Case {
    std::uint8_t flags;
    std::uint16_t entrySize;
    std::uint32_t compressed;
  };
  for (const Case& c : {Case{0x00, 10, 0}, Case{0x01, 12, 0}, Case{0x04, 10, 1}, Case{0xff, 12, 1}}) {
    ByteWriter w;
    w.Append(ValidHeader()).U8(7, c.flags);
    rmf::RmfFileHeader h{};
    ASSERT_EQ(Decode(w.bytes(), &h, 500), rmf::kRmfFileAccepted);
    EXPECT_EQ(h.featureEntrySize, c.entrySize) << int(c.flags);
    EXPECT_EQ(h.recordsCompressed, c.compressed) << int(c.flags);
  }
}

TEST(RmfFileHeaderTest, VersionZeroEndsAtOffset61) {
  // Bytes 62..125 hold junk that must not show up as region box or classes.
  ByteWriter w;
  w.Append(ValidHeader(0x00));
  for (std::size_t i = 62; i < 126; ++i) w.U8(i, 0xab);

  rmf::RmfFileHeader h{};
  ASSERT_EQ(Decode(w.bytes(), &h, 126), rmf::kRmfFileAccepted);
  EXPECT_EQ(h.hasRegionBlocks, 0u);
  EXPECT_EQ(h.regionBox.x1, 0);
  EXPECT_EQ(h.regionBox.y2, 0);
  EXPECT_EQ(h.classPresence[0], 0u);
  EXPECT_EQ(h.classLevels[3][7], 0);
  EXPECT_EQ(h.indexCount, 3u);
  EXPECT_EQ(h.minLevel, 2);

  // Still 126 bytes are needed.
  EXPECT_EQ(Decode(w.bytes(), &h, 125), rmf::kRmfFileTooShort);

  // Any non-zero nibble is a later version.
  for (std::uint8_t version : {std::uint8_t{0x01}, std::uint8_t{0x10}}) {
    w.U8(0, version);
    ASSERT_EQ(Decode(w.bytes(), &h, 126), rmf::kRmfFileAccepted);
    EXPECT_EQ(h.hasRegionBlocks, 1u) << int(version);
    EXPECT_EQ(static_cast<std::uint32_t>(h.regionBox.x1), 0xababababu) << int(version);
  }
}

TEST(RmfFileHeaderTest, LevelRangeFromMasks) {
  struct Case {
    std::uint16_t masks[8];
    int minLevel;
    int maxLevel;
  };
  const Case cases[] = {
      {{0, 0, 0, 0, 0, 0, 0, 0}, 8, 1},
      {{1, 0, 0, 0, 0, 0, 0, 0}, 1, 1},
      {{0, 0, 0, 0, 0, 0, 0, 0x8000}, 8, 8},
      {{0xffff, 0, 0, 0, 0, 0, 0, 1}, 1, 8},
      {{0, 0, 4, 0, 0, 2, 0, 0}, 3, 6},
      {{0, 0, 0, 0, 0x10, 0, 0, 0}, 5, 5},
  };
  for (const Case& c : cases) {
    ByteWriter w;
    w.Append(ValidHeader());
    for (int i = 0; i < 8; ++i) w.U16(46 + 2 * i, c.masks[i]);
    rmf::RmfFileHeader h{};
    ASSERT_EQ(Decode(w.bytes(), &h, 500), rmf::kRmfFileAccepted);
    EXPECT_EQ(h.minLevel, c.minLevel);
    EXPECT_EQ(h.maxLevel, c.maxLevel);

    std::int32_t low = 0;
    std::int32_t high = 0;
    rmf::LevelRangeOfMasks(c.masks, &low, &high);
    EXPECT_EQ(low, c.minLevel);
    EXPECT_EQ(high, c.maxLevel);
  }
}

TEST(RmfFileHeaderTest, FailureLeavesAnEmptyHeader) {
  rmf::RmfFileHeader h{};
  ASSERT_EQ(Decode(ValidHeader(), &h, 500), rmf::kRmfFileAccepted);
  for (std::size_t count : {std::size_t{0}, std::size_t{100}}) {
    Decode(ValidHeader(), &h, count);
    EXPECT_EQ(h.indexCount, 0u);
    EXPECT_EQ(h.flags, 0);
    EXPECT_EQ(h.minLevel, 8);
    EXPECT_EQ(h.maxLevel, 1);
  }
  ByteWriter w;
  w.Append(ValidHeader()).U32(36, 0);
  ASSERT_EQ(Decode(w.bytes(), &h, 500), kRmfHeaderRejected);
  EXPECT_EQ(h.indexCount, 0u);
  EXPECT_EQ(h.minLevel, 8);
}

// ---- annotations ------------------------------------------------------------------

// The texts one after another, each closed by a NUL.
std::vector<std::uint8_t> Block(const std::vector<std::string>& texts) {
  std::vector<std::uint8_t> bytes;
  for (const std::string& text : texts) {
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.push_back(0);
  }
  return bytes;
}

int DecodeBlock(const std::vector<std::uint8_t>& bytes, rmf::RmfAnnotations* out,
                const rmf::RmfHeapHooks* heap = nullptr) {
  ExactBuffer exact(bytes);
  return rmf::DecodeAnnotations(exact.data(), exact.size(), out, heap);
}

std::string Text(const char* value) { return value == nullptr ? std::string("<null>") : std::string(value); }

// Frees the record when a test ends, whatever it asserted.
struct AnnotationsGuard {
  rmf::RmfAnnotations a{};
  ~AnnotationsGuard() { rmf::FreeAnnotations(&a); }
};

TEST(RmfAnnotationsTest, TextValuesByFiveCharacterKeys) {
  struct Case {
    std::string text;
    std::string fileName, rmfCompile, encoding, language;
  };
  const Case cases[] = {
      {"FILENAME: europe.rmf", "europe.rmf", "<null>", "<null>", "<null>"},
      {"FILEN:short key", "short key", "<null>", "<null>", "<null>"},
      {"FILENxyz:any tail", "any tail", "<null>", "<null>", "<null>"},
      {"FILE:too short", "<null>", "<null>", "<null>", "<null>"},
      {"filename: lower case", "<null>", "<null>", "<null>", "<null>"},
      {"FILENAME:no space", "no space", "<null>", "<null>", "<null>"},
      {"FILENAME:  two spaces", " two spaces", "<null>", "<null>", "<null>"},
      {"FILENAME:", "", "<null>", "<null>", "<null>"},
      {"FILENAME: a:b", "a:b", "<null>", "<null>", "<null>"},
      {"FILENAME without colon", "<null>", "<null>", "<null>", "<null>"},
      {"RMF Compile: 2009-05-01 v3", "<null>", "2009-05-01 v3", "<null>", "<null>"},
      {"ENCODING: UTF-8", "<null>", "<null>", "UTF-8", "<null>"},
      {"Default Language: en-GB", "<null>", "<null>", "<null>", "en-GB"},
      {"Default: five characters are enough", "<null>", "<null>", "<null>", "five characters are enough"},
      {"Unknown Key: ignored", "<null>", "<null>", "<null>", "<null>"},
  };
  for (const Case& c : cases) {
    AnnotationsGuard g;
    ASSERT_EQ(DecodeBlock(Block({c.text}), &g.a), rmf::kRmfFileAccepted) << c.text;
    EXPECT_EQ(Text(g.a.fileName), c.fileName) << c.text;
    EXPECT_EQ(Text(g.a.rmfCompile), c.rmfCompile) << c.text;
    EXPECT_EQ(Text(g.a.encoding), c.encoding) << c.text;
    EXPECT_EQ(Text(g.a.defaultLanguage), c.language) << c.text;
    EXPECT_EQ(g.a.hasDataModelAnnotations, 0u) << c.text;
  }
}

TEST(RmfAnnotationsTest, SeveralTextsGapsAndRepeats) {
  AnnotationsGuard g;
  ASSERT_EQ(DecodeBlock(Block({"FILENAME: first", "", "no colon here", "ENCODING: CP1252", "",
                               "FILENAME: second"}),
                        &g.a),
            rmf::kRmfFileAccepted);
  EXPECT_EQ(Text(g.a.fileName), "second");
  EXPECT_EQ(Text(g.a.encoding), "CP1252");
  EXPECT_EQ(g.a.hasDataModelAnnotations, 0u);
}

TEST(RmfAnnotationsTest, BlockReadOnlyAsFarAsItGoes) {
  // Last text without its NUL.
  std::vector<std::uint8_t> bytes = Block({"FILENAME: map.rmf", "ENCODING: UTF-8"});
  bytes.pop_back();
  {
    AnnotationsGuard g;
    ASSERT_EQ(DecodeBlock(bytes, &g.a), rmf::kRmfFileAccepted);
    EXPECT_EQ(Text(g.a.fileName), "map.rmf");
    EXPECT_EQ(Text(g.a.encoding), "UTF-8");
  }
  // The file ended inside the second text: the caller passes what was read.
  for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
    AnnotationsGuard g;
    std::vector<std::uint8_t> part(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
    ASSERT_EQ(DecodeBlock(part, &g.a), rmf::kRmfFileAccepted) << cut;
    // 18 bytes of the first text, then "ENCODING:" (9), the space and the value.
    if (cut >= 18 + 9) {
      std::string value = cut >= 28 ? std::string("UTF-8").substr(0, cut - 28) : std::string();
      EXPECT_EQ(Text(g.a.encoding), value) << cut;
    } else {
      EXPECT_EQ(g.a.encoding, nullptr) << cut;
    }
  }
  // Nothing read at all.
  AnnotationsGuard g;
  EXPECT_EQ(rmf::DecodeAnnotations(nullptr, 0, &g.a), rmf::kRmfFileAccepted);
  EXPECT_EQ(g.a.block, nullptr);
  EXPECT_EQ(g.a.fileName, nullptr);
}

TEST(RmfAnnotationsTest, UdmVersion) {
  struct Case {
    std::string text;
    int major, minor;
  };
  const Case cases[] = {
      {"UDM Version: 3.12", 3, 12},
      {"UDM Version: 7", 7, 0},
      {"UDM Version:2.0", 2, 0},
      {"UDM Version: 4.", 4, 0},
      {"UDM Version: .5", 0, 5},
      {"UDM Version: beta", 0, 0},
      {"UDM Version:", 0, 0},
      {"UDM Version: 70000.99999", 65535, 65535},
      {"UDM V: 1.2", 1, 2},
  };
  for (const Case& c : cases) {
    AnnotationsGuard g;
    ASSERT_EQ(DecodeBlock(Block({c.text}), &g.a), rmf::kRmfFileAccepted) << c.text;
    EXPECT_EQ(g.a.hasDataModelAnnotations, 1u) << c.text;
    EXPECT_EQ(g.a.udmVersionMajor, c.major) << c.text;
    EXPECT_EQ(g.a.udmVersionMinor, c.minor) << c.text;
    EXPECT_EQ(g.a.vehicleTypeCount, 0u) << c.text;
  }
}

TEST(RmfAnnotationsTest, VehicleTypesList) {
  struct Case {
    std::string value;
    int result;
    std::vector<int> present;  // numbers set; the table has max + 1 entries
  };
  const Case cases[] = {
      {"3,7", rmf::kRmfFileAccepted, {3, 7}},
      {"7,3,3", rmf::kRmfFileAccepted, {3, 7}},
      {"0", rmf::kRmfFileAccepted, {0}},
      {"", rmf::kRmfFileAccepted, {}},
      {"2,,5,", rmf::kRmfFileAccepted, {2, 5}},
      {"4x,6", rmf::kRmfFileAccepted, {4, 6}},
      {"-0", rmf::kRmfFileAccepted, {0}},
      {"65535", rmf::kRmfFileAccepted, {65535}},
      {"-1", kRmfMalformed, {}},
      {"3,-2,7", kRmfMalformed, {}},
      {"-99999999999", kRmfMalformed, {}},
      {"65536", kRmfMalformed, {}},
      {"1,4294967297", kRmfMalformed, {}},
      {"99999999999999999999", kRmfMalformed, {}},
      {"65536,-1", kRmfMalformed, {}},
  };
  for (const Case& c : cases) {
    AnnotationsGuard g;
    std::string text = "Vehicle Types List: " + c.value;
    ASSERT_EQ(DecodeBlock(Block({"FILENAME: x.rmf", text}), &g.a), c.result) << text;
    if (c.result != rmf::kRmfFileAccepted) {
      // A rejected block leaves nothing behind.
      EXPECT_EQ(g.a.block, nullptr) << text;
      EXPECT_EQ(g.a.fileName, nullptr) << text;
      EXPECT_EQ(g.a.vehicleTypes, nullptr) << text;
      continue;
    }
    EXPECT_EQ(g.a.hasDataModelAnnotations, 1u) << text;
    std::uint32_t expectedCount = 0;
    for (int n : c.present) expectedCount = std::max(expectedCount, static_cast<std::uint32_t>(n) + 1);
    ASSERT_EQ(g.a.vehicleTypeCount, expectedCount) << text;
    std::vector<std::uint8_t> expected(expectedCount, 0);
    for (int n : c.present) expected[static_cast<std::size_t>(n)] = 1;
    EXPECT_EQ(std::vector<std::uint8_t>(g.a.vehicleTypes, g.a.vehicleTypes + g.a.vehicleTypeCount), expected)
        << text;
  }
}

// Counts allocations and fails the n-th (1-based; 0 = never).
struct CountingHeap {
  int allocations = 0;
  int releases = 0;
  int failAt = 0;

  static void* Allocate(void* context, std::size_t bytes) {
    auto* heap = static_cast<CountingHeap*>(context);
    if (++heap->allocations == heap->failAt) return nullptr;
    return std::malloc(bytes);
  }
  static void Release(void* context, void* block) {
    ++static_cast<CountingHeap*>(context)->releases;
    std::free(block);
  }
  rmf::RmfHeapHooks Hooks() { return rmf::RmfHeapHooks{&Allocate, &Release, this}; }
};

TEST(RmfAnnotationsTest, NoMemoryAndOwnership) {
  const std::vector<std::uint8_t> bytes = Block({"FILENAME: a", "Vehicle Types List: 1,2"});
  for (int failAt : {1, 2}) {
    CountingHeap heap;
    heap.failAt = failAt;
    rmf::RmfHeapHooks hooks = heap.Hooks();
    rmf::RmfAnnotations a{};
    EXPECT_EQ(DecodeBlock(bytes, &a, &hooks), kRmfNoMemory) << failAt;
    EXPECT_EQ(a.block, nullptr);
    EXPECT_EQ(a.vehicleTypes, nullptr);
    EXPECT_EQ(heap.releases, heap.allocations - 1) << "everything that was given is back";
  }

  CountingHeap heap;
  rmf::RmfHeapHooks hooks = heap.Hooks();
  rmf::RmfAnnotations a{};
  ASSERT_EQ(DecodeBlock(Block({"Vehicle Types List: 1", "Vehicle Types List: 4"}), &a, &hooks),
            rmf::kRmfFileAccepted);
  EXPECT_EQ(a.vehicleTypeCount, 5u) << "a later list replaces an earlier one";
  rmf::FreeAnnotations(&a);
  EXPECT_EQ(heap.allocations, 3);
  EXPECT_EQ(heap.releases, 3);
  EXPECT_EQ(a.block, nullptr);
  rmf::FreeAnnotations(&a);  // a second free gives nothing back twice
  EXPECT_EQ(heap.releases, 3);
  rmf::FreeAnnotations(nullptr);
}

// ---- sample table -----------------------------------------------------------------

std::vector<rmf::RmfIndexEntry> Entries(std::uint32_t n) {
  std::vector<rmf::RmfIndexEntry> entries(n);
  for (std::uint32_t i = 0; i < n; ++i) entries[i] = {10 * i, 10 * i + 5, 2 * i};
  return entries;
}

TEST(RmfSampleTableTest, StepCountAndStoredIds) {
  struct Case {
    std::uint32_t n;
    int step, count;
  };
  const Case cases[] = {
      {1, 100, 1},      {99, 100, 1},      {100, 100, 1},     {101, 100, 2},    {250, 100, 3},
      {450, 100, 5},    {19799, 100, 198}, {19800, 100, 198}, {19999, 100, 200}, {20000, 101, 199},
      {20199, 101, 200}, {20200, 102, 199}, {100000, 501, 200},
  };
  for (const Case& c : cases) {
    std::int32_t step = 0;
    std::int32_t count = 0;
    rmf::SampleTableShape(c.n, &step, &count);
    EXPECT_EQ(step, c.step) << c.n;
    EXPECT_EQ(count, c.count) << c.n;

    std::vector<rmf::RmfIndexEntry> entries = Entries(c.n);
    rmf::RmfSampleTable table{};
    ASSERT_EQ(rmf::BuildSampleTable(entries.data(), c.n, &table), 0) << c.n;
    ASSERT_EQ(table.step, c.step);
    ASSERT_EQ(table.count, c.count);
    for (int k = 0; k < c.count; ++k) {
      std::uint32_t first = static_cast<std::uint32_t>(k * c.step);
      std::uint32_t last = std::min(static_cast<std::uint32_t>((k + 1) * c.step), c.n) - 1;
      EXPECT_EQ(table.firsts[k], entries[first].firstId) << c.n << " group " << k;
      EXPECT_EQ(table.lasts[k], entries[last].lastId) << c.n << " group " << k;
    }
    for (int k = c.count; k < rmf::kMaxSampleGroups; ++k) {
      EXPECT_EQ(table.firsts[k], 0u);
      EXPECT_EQ(table.lasts[k], 0u);
    }
  }
}

TEST(RmfSampleTableTest, HugeIndexStaysWithin200Groups) {
  for (std::uint32_t n : {0xffffffffu, 0xfffffff0u, 0x80000000u, 39999u}) {
    std::int32_t step = 0;
    std::int32_t count = 0;
    rmf::SampleTableShape(n, &step, &count);
    EXPECT_GE(count, 1) << n;
    EXPECT_LE(count, rmf::kMaxSampleGroups) << n;
    EXPECT_GE(static_cast<std::uint64_t>(step) * static_cast<std::uint64_t>(count), n) << n;
    EXPECT_LT(static_cast<std::uint64_t>(step) * static_cast<std::uint64_t>(count - 1), n) << n;
  }
}

// A loader that serves positions below `n`, remembers what was asked for and
// fails at `failAt`.
struct RecordingLoader {
  explicit RecordingLoader(std::uint32_t entries, std::uint32_t failing = 0xffffffffu)
      : n(entries), failAt(failing) {}

  std::uint32_t n;
  std::uint32_t failAt;
  std::vector<std::uint32_t> asked;

  static bool Load(void* context, std::uint32_t position, rmf::RmfIndexEntry* entry) {
    auto* self = static_cast<RecordingLoader*>(context);
    self->asked.push_back(position);
    if (position >= self->n || position == self->failAt) return false;
    *entry = {position * 3, position * 3 + 1, position};
    return true;
  }
};

TEST(RmfSampleTableTest, LoadsOnlyTheEntriesItNeeds) {
  RecordingLoader loader{250};
  rmf::RmfSampleTable table{};
  ASSERT_EQ(rmf::BuildSampleTable(250, &RecordingLoader::Load, &loader, &table), 0);
  EXPECT_EQ(loader.asked, (std::vector<std::uint32_t>{0, 100, 99, 200, 199, 249}));
  EXPECT_EQ(table.lasts[2], 249u * 3 + 1);

  for (std::uint32_t failAt : {0u, 99u, 200u, 249u}) {
    RecordingLoader failing{250, failAt};
    table.count = 77;
    EXPECT_EQ(rmf::BuildSampleTable(250, &RecordingLoader::Load, &failing, &table), kRmfCannotOpen)
        << failAt;
    EXPECT_EQ(table.count, 0) << "a failed build leaves no table";
    EXPECT_EQ(table.firsts[0], 0u);
  }
}

TEST(RmfSampleTableTest, EmptyIndexAndBadArguments) {
  rmf::RmfSampleTable table{};
  EXPECT_EQ(rmf::BuildSampleTable(nullptr, 0, &table), kRmfCannotOpen);
  std::vector<rmf::RmfIndexEntry> entries = Entries(5);
  EXPECT_EQ(rmf::BuildSampleTable(entries.data(), 5, nullptr), kRmfBadArgument);
  EXPECT_EQ(rmf::BuildSampleTable(nullptr, 5, &table), kRmfBadArgument);
  EXPECT_EQ(rmf::BuildSampleTable(5, nullptr, nullptr, &table), kRmfBadArgument);
}

TEST(RmfIndexEntryTest, ReadsWholeEntriesOnly) {
  ByteWriter w;
  w.U32(0, 7).U32(4, 9).U32(8, 0).U32(12, 0x10000000).U32(16, 0xffffffff).U32(20, 3);
  ExactBuffer exact(w.bytes(), 23);  // the second entry is one byte short
  rmf::RmfIndexEntry e{};
  ASSERT_TRUE(rmf::ReadIndexEntry(exact.data(), exact.size(), 0, &e));
  EXPECT_EQ(e.firstId, 7u);
  EXPECT_EQ(e.lastId, 9u);
  EXPECT_EQ(e.position, 0u);
  EXPECT_FALSE(rmf::ReadIndexEntry(exact.data(), exact.size(), 1, &e));
  EXPECT_EQ(e.lastId, 0u);
  ExactBuffer whole(w.bytes());
  ASSERT_TRUE(rmf::ReadIndexEntry(whole.data(), whole.size(), 1, &e));
  EXPECT_EQ(e.lastId, 0xffffffffu);
  EXPECT_FALSE(rmf::ReadIndexEntry(whole.data(), whole.size(), ~std::size_t{0}, &e));
}

// ---- records ----------------------------------------------------------------------

// An uncompressed record of `length` bytes with a full header.
std::vector<std::uint8_t> PlainRecord(std::uint16_t length, std::uint8_t flags, std::uint8_t fill = 0) {
  ByteWriter w(length);
  for (std::size_t i = 58; i < length; ++i) w.U8(i, static_cast<std::uint8_t>(fill + i));
  w.U16(0, length).U8(2, 0x77).U8(3, flags);
  w.U32(4, 0x00112233).U32(8, 0xfedcba98u).Rect(12, TiRect{1, 2, 3, 0x01000004});
  for (int i = 0; i < 15; ++i) w.U16(28 + 2 * i, static_cast<std::uint16_t>(0x100 + i));
  return w.bytes();
}

std::vector<std::uint8_t> Deflate(const std::uint8_t* bytes, std::size_t count) {
  uLongf size = compressBound(count);
  std::vector<std::uint8_t> out(size);
  EXPECT_EQ(compress(out.data(), &size, bytes, count), Z_OK);
  out.resize(size);
  return out;
}

// The compressed form of an uncompressed record; `rawLength` may lie.
std::vector<std::uint8_t> CompressedRecord(const std::vector<std::uint8_t>& plain, int rawLength = -1) {
  std::vector<std::uint8_t> z = Deflate(plain.data() + 2, plain.size() - 2);
  ByteWriter w(4);
  w.U16(0, static_cast<std::uint16_t>(z.size() + 4));
  w.U16(2, static_cast<std::uint16_t>(rawLength < 0 ? plain.size() : static_cast<std::size_t>(rawLength)));
  return w.Append(z).bytes();
}

std::vector<std::uint8_t> Unpacked(const rmf::RmfRecordFrame& frame, RmfRecordStatus* status) {
  ExactBuffer dest(nullptr, frame.rawLength);
  *status = rmf::UnpackRecord(frame, dest.data(), dest.size());
  if (*status != RmfRecordStatus::kOk) return {};
  return std::vector<std::uint8_t>(dest.data(), dest.data() + dest.size());
}

TEST(RmfRecordFrameTest, PlainRecords) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> window;
    RmfRecordStatus status;
    std::uint32_t stored;
  };
  std::vector<std::uint8_t> record = PlainRecord(64, 0x02);
  std::vector<std::uint8_t> twoRecords = record;
  twoRecords.insert(twoRecords.end(), record.begin(), record.end());
  const Case cases[] = {
      {"whole record", record, RmfRecordStatus::kOk, 64},
      {"followed by another", twoRecords, RmfRecordStatus::kOk, 64},
      {"three bytes", {3, 0, 9}, RmfRecordStatus::kOk, 3},
      {"length 2 is empty", {2, 0, 9, 9}, RmfRecordStatus::kEmpty, 2},
      {"length 1 is empty", {1, 0, 9, 9}, RmfRecordStatus::kEmpty, 1},
      {"length 0", {0, 0, 9, 9}, RmfRecordStatus::kReadError, 0},
      {"longer than the window", {10, 0, 1, 2, 3, 4, 5, 6, 7}, RmfRecordStatus::kReadError, 0},
      {"one byte", {5}, RmfRecordStatus::kReadError, 0},
      {"no bytes", {}, RmfRecordStatus::kReadError, 0},
  };
  for (const Case& c : cases) {
    ExactBuffer window(c.window);
    rmf::RmfRecordFrame frame{};
    ASSERT_EQ(rmf::FrameRecord(window.data(), window.size(), false, &frame), c.status) << c.name;
    EXPECT_EQ(frame.storedLength, c.stored) << c.name;
    EXPECT_EQ(frame.compressed, 0u) << c.name;
    if (c.status == RmfRecordStatus::kOk) {
      EXPECT_EQ(frame.rawLength, c.stored) << c.name;
      EXPECT_EQ(frame.bytes, window.data()) << c.name;
      RmfRecordStatus status{};
      EXPECT_EQ(Unpacked(frame, &status),
                std::vector<std::uint8_t>(c.window.begin(), c.window.begin() + c.stored))
          << c.name;
    }
  }
}

TEST(RmfRecordFrameTest, CompressedRecords) {
  const std::vector<std::uint8_t> plain = PlainRecord(300, 0x03, 0x40);
  const std::vector<std::uint8_t> good = CompressedRecord(plain);
  std::vector<std::uint8_t> damaged = good;
  damaged[good.size() / 2] ^= 0x5a;
  std::vector<std::uint8_t> badChecksum = good;
  badChecksum.back() ^= 0x01;
  ByteWriter cut;  // the stored length covers only part of the stream
  cut.Append(good).U16(0, static_cast<std::uint16_t>(good.size() - 6));
  const std::vector<std::uint8_t> cutStream = cut.bytes();
  std::vector<std::uint8_t> longerWindow = good;
  longerWindow.insert(longerWindow.end(), {7, 7, 7});

  struct Case {
    const char* name;
    std::vector<std::uint8_t> window;
    RmfRecordStatus frameStatus;
    RmfRecordStatus unpackStatus;  // when framed as kOk
  };
  const Case cases[] = {
      {"good", good, RmfRecordStatus::kOk, RmfRecordStatus::kOk},
      {"followed by more bytes", longerWindow, RmfRecordStatus::kOk, RmfRecordStatus::kOk},
      {"raw length too large", CompressedRecord(plain, 301), RmfRecordStatus::kOk,
       RmfRecordStatus::kUnreadable},
      {"raw length too small", CompressedRecord(plain, 299), RmfRecordStatus::kOk,
       RmfRecordStatus::kUnreadable},
      {"raw length 3", CompressedRecord(plain, 3), RmfRecordStatus::kOk, RmfRecordStatus::kUnreadable},
      {"raw length 2", CompressedRecord(plain, 2), RmfRecordStatus::kEmpty, RmfRecordStatus::kOk},
      {"raw length 1", CompressedRecord(plain, 1), RmfRecordStatus::kUnreadable, RmfRecordStatus::kOk},
      {"raw length 0", CompressedRecord(plain, 0), RmfRecordStatus::kUnreadable, RmfRecordStatus::kOk},
      {"damaged data", damaged, RmfRecordStatus::kOk, RmfRecordStatus::kUnreadable},
      {"bad checksum", badChecksum, RmfRecordStatus::kOk, RmfRecordStatus::kUnreadable},
      {"stream cut short", cutStream, RmfRecordStatus::kOk, RmfRecordStatus::kUnreadable},
      {"stored length 3", {3, 0, 9, 9, 9}, RmfRecordStatus::kUnreadable, RmfRecordStatus::kOk},
      {"stored length 1", {1, 0, 9, 9, 9}, RmfRecordStatus::kUnreadable, RmfRecordStatus::kOk},
      {"stored length 4, no data", {4, 0, 20, 0}, RmfRecordStatus::kOk, RmfRecordStatus::kUnreadable},
      {"stored length 0", {0, 0, 20, 0, 1}, RmfRecordStatus::kReadError, RmfRecordStatus::kOk},
      {"stored length past the window",
       std::vector<std::uint8_t>(good.begin(), good.end() - 1), RmfRecordStatus::kReadError,
       RmfRecordStatus::kOk},
      {"one byte", {9}, RmfRecordStatus::kReadError, RmfRecordStatus::kOk},
  };
  for (const Case& c : cases) {
    ExactBuffer window(c.window);
    rmf::RmfRecordFrame frame{};
    ASSERT_EQ(rmf::FrameRecord(window.data(), window.size(), true, &frame), c.frameStatus) << c.name;
    if (c.frameStatus == RmfRecordStatus::kReadError) {
      EXPECT_EQ(frame.storedLength, 0u) << c.name;
      continue;
    }
    EXPECT_EQ(frame.compressed, 1u) << c.name;
    EXPECT_EQ(frame.storedLength, static_cast<std::uint32_t>(c.window[0] | (c.window[1] << 8))) << c.name;
    EXPECT_GE(frame.storedLength, 1u) << c.name;
    if (c.frameStatus != RmfRecordStatus::kOk) continue;
    EXPECT_EQ(frame.bytes, window.data() + 4) << c.name;
    EXPECT_EQ(frame.byteCount, frame.storedLength - 4) << c.name;
    RmfRecordStatus status{};
    std::vector<std::uint8_t> record = Unpacked(frame, &status);
    EXPECT_EQ(status, c.unpackStatus) << c.name;
    if (status == RmfRecordStatus::kOk) {
      EXPECT_EQ(record, plain) << c.name;
    }
  }
}

TEST(RmfRecordFrameTest, InflateGuardsItsBuffer) {
  const std::vector<std::uint8_t> plain = PlainRecord(120, 0x00);
  const std::vector<std::uint8_t> z = Deflate(plain.data() + 2, plain.size() - 2);

  // Too little room: nothing is written.
  std::vector<std::uint8_t> small(119, 0xcc);
  EXPECT_EQ(rmf::InflateRecord(z.data(), z.size(), 120, small.data(), small.size()),
            RmfRecordStatus::kBadArgument);
  EXPECT_EQ(small, std::vector<std::uint8_t>(119, 0xcc));
  EXPECT_EQ(rmf::InflateRecord(z.data(), z.size(), 120, nullptr, 500), RmfRecordStatus::kBadArgument);

  // More room than needed: bytes after rawLength stay untouched, also when
  // the stream is longer than the raw length says.
  for (std::uint32_t raw : {120u, 100u, 2u}) {
    std::vector<std::uint8_t> big(200, 0xcc);
    RmfRecordStatus status = rmf::InflateRecord(z.data(), z.size(), raw, big.data(), big.size());
    EXPECT_EQ(status, raw == 120 ? RmfRecordStatus::kOk : RmfRecordStatus::kUnreadable) << raw;
    for (std::size_t i = raw; i < big.size(); ++i) ASSERT_EQ(big[i], 0xcc) << raw << " at " << i;
  }

  // A stream of nothing inflates to an empty record of raw length 2.
  const std::vector<std::uint8_t> none = Deflate(nullptr, 0);
  std::uint8_t two[2] = {0, 0};
  EXPECT_EQ(rmf::InflateRecord(none.data(), none.size(), 2, two, 2), RmfRecordStatus::kOk);
  EXPECT_EQ(two[0], 2);
  EXPECT_EQ(two[1], 0);
  EXPECT_EQ(rmf::InflateRecord(none.data(), none.size(), 1, two, 2), RmfRecordStatus::kUnreadable);
  EXPECT_EQ(rmf::InflateRecord(nullptr, 0, 10, small.data(), small.size()), RmfRecordStatus::kUnreadable);
}

TEST(RmfRecordFrameTest, WalkOfATileStopsAtTheEnd) {
  // Three records of one tile, the first two saying that another follows,
  // then bytes of the next tile. Plain and compressed files give the same
  // records.
  const std::vector<std::vector<std::uint8_t>> records = {PlainRecord(70, 0x02, 1), PlainRecord(59, 0x03, 2),
                                                          PlainRecord(90, 0x00, 3)};
  for (bool compressed : {false, true}) {
    std::vector<std::uint8_t> tile;
    for (const auto& r : records) {
      std::vector<std::uint8_t> stored = compressed ? CompressedRecord(r) : r;
      tile.insert(tile.end(), stored.begin(), stored.end());
    }
    ExactBuffer window(tile);
    std::size_t at = 0;
    std::size_t seen = 0;
    bool more = true;
    while (more) {
      rmf::RmfRecordFrame frame{};
      ASSERT_EQ(rmf::FrameRecord(window.data() + at, window.size() - at, compressed, &frame),
                RmfRecordStatus::kOk);
      RmfRecordStatus status{};
      std::vector<std::uint8_t> record = Unpacked(frame, &status);
      ASSERT_EQ(status, RmfRecordStatus::kOk);
      ASSERT_LT(seen, records.size());
      EXPECT_EQ(record, records[seen]);
      more = (rmf::RecordFlags(record.data(), record.size()) & rmf::kRecordFlagMore) != 0;
      at += frame.storedLength;
      ++seen;
    }
    EXPECT_EQ(seen, records.size());
    EXPECT_EQ(at, tile.size());
    rmf::RmfRecordFrame frame{};
    EXPECT_EQ(rmf::FrameRecord(window.data() + at, window.size() - at, compressed, &frame),
              RmfRecordStatus::kReadError);
  }
}

TEST(RmfRecordHeaderTest, DecodesFieldsAndPointWidthFromByte3) {
  // Byte 27 (top byte of the box's maximum latitude) is 0x01 in every record
  // here; only byte 3 says how wide the points are.
  struct Case {
    std::uint8_t flags;
    std::uint32_t wide, more;
  };
  for (const Case& c : {Case{0x00, 0, 0}, Case{0x01, 1, 0}, Case{0x02, 0, 1}, Case{0x03, 1, 1},
                        Case{0xfc, 0, 0}}) {
    std::vector<std::uint8_t> bytes = PlainRecord(58, c.flags);
    ASSERT_EQ(bytes[27], 0x01);
    ExactBuffer record(bytes);
    rmf::RmfRecordHeader h{};
    ASSERT_TRUE(rmf::DecodeRecordHeader(record.data(), record.size(), &h));
    EXPECT_EQ(h.length, 58);
    EXPECT_EQ(h.byte2, 0x77);
    EXPECT_EQ(h.flags, c.flags);
    EXPECT_EQ(h.widePoints, c.wide) << int(c.flags);
    EXPECT_EQ(h.moreFollows, c.more) << int(c.flags);
    EXPECT_EQ(h.pointBase.x, 0x00112233);
    EXPECT_EQ(static_cast<std::uint32_t>(h.pointBase.y), 0xfedcba98u);
    EXPECT_EQ(h.box.x1, 1);
    EXPECT_EQ(h.box.y1, 2);
    EXPECT_EQ(h.box.x2, 3);
    EXPECT_EQ(h.box.y2, 0x01000004);
    for (int i = 0; i < 15; ++i) EXPECT_EQ(h.tableWords[i], 0x100 + i);
    EXPECT_EQ(rmf::RecordFlags(record.data(), record.size()), c.flags);
  }
}

TEST(RmfRecordHeaderTest, ShortRecords) {
  std::vector<std::uint8_t> bytes = PlainRecord(80, 0x03);
  rmf::RmfRecordHeader h{};
  {
    ExactBuffer cut(bytes, 57);  // fewer bytes at hand than the header
    EXPECT_FALSE(rmf::DecodeRecordHeader(cut.data(), cut.size(), &h));
    EXPECT_EQ(h.flags, 0);
    EXPECT_EQ(rmf::RecordFlags(cut.data(), cut.size()), 0x03);
  }
  {
    ByteWriter w;
    w.Append(bytes).U16(0, 57);  // the record itself ends before the header does
    ExactBuffer record(w.bytes());
    EXPECT_FALSE(rmf::DecodeRecordHeader(record.data(), record.size(), &h));
  }
  struct Case {
    std::vector<std::uint8_t> bytes;
    std::uint8_t flags;
  };
  for (const Case& c : {Case{{4, 0, 0, 3}, 3}, Case{{3, 0, 0, 3}, 0}, Case{{9, 0, 0}, 0}, Case{{9}, 0},
                        Case{{}, 0}}) {
    ExactBuffer record(c.bytes);
    EXPECT_EQ(rmf::RecordFlags(record.data(), record.size()), c.flags);
    EXPECT_FALSE(rmf::DecodeRecordHeader(record.data(), record.size(), &h));
  }
  EXPECT_EQ(rmf::RecordFlags(nullptr, 100), 0);
  EXPECT_FALSE(rmf::DecodeRecordHeader(nullptr, 100, &h));
}

// Every reader of records (the source's check before caching, the feature
// slots, the query, the dump) lays out the tables through this one function.
TEST(RmfRecordTablesTest, TablesInsideTheRecordAndWhatLiesInside) {
  constexpr std::uint32_t kLength = 100;
  struct Case {
    const char* what;
    std::uint16_t pointTable, pointCount;
    bool wide;
    std::uint16_t partTable, partCount;
    std::uint32_t entrySize;
    std::uint16_t textBase, wordBase;
    bool fits;
    std::uint32_t pointsInside, partsInside;
  };
  const Case cases[] = {
      {"every table ends at the record's end", 58, 5, false, 78, 2, 10, 98, 100, true, 5, 2},
      {"wide points, one beyond", 58, 6, true, 58, 0, 10, 98, 98, false, 5, 0},
      {"wide points, all inside", 58, 5, true, 98, 0, 12, 98, 98, true, 5, 0},
      {"a part entry beyond", 58, 5, false, 78, 3, 10, 98, 98, false, 5, 2},
      {"wide entries, the second one beyond", 58, 5, false, 78, 2, 12, 98, 98, false, 5, 1},
      {"text area beyond", 58, 5, false, 78, 2, 10, 101, 98, false, 5, 2},
      {"word area beyond", 58, 5, false, 78, 2, 10, 98, 101, false, 5, 2},
      {"entries too small to hold a part", 58, 5, false, 78, 2, 9, 98, 98, false, 5, 2},
      {"an empty point table beyond the record", 120, 0, false, 78, 2, 10, 98, 98, false, 0, 2},
      {"empty tables at the record's end", 100, 0, false, 100, 0, 10, 100, 100, true, 0, 0},
      {"a point table starting beyond the record", 101, 1, false, 78, 0, 10, 98, 98, false, 0, 0},
  };
  for (const Case& c : cases) {
    rmf::RmfRecordHeader h{};
    h.length = kLength;
    h.widePoints = c.wide ? 1 : 0;
    h.tableWords[0] = c.pointTable;
    h.tableWords[1] = c.pointCount;
    h.tableWords[2] = c.partTable;
    h.tableWords[3] = c.partCount;
    h.tableWords[4] = c.textBase;
    h.tableWords[7] = c.wordBase;
    rmf::RmfRecordTables t{};
    EXPECT_EQ(rmf::LocateRecordTables(h, kLength, c.entrySize, &t), c.fits) << c.what;
    EXPECT_EQ(t.pointsInside, c.pointsInside) << c.what;
    EXPECT_EQ(t.partsInside, c.partsInside) << c.what;
    EXPECT_EQ(t.pointSize, c.wide ? 8u : 4u) << c.what;
    EXPECT_EQ(t.pointTable, c.pointTable) << c.what;
    EXPECT_EQ(t.partTable, c.partTable) << c.what;
    EXPECT_EQ(t.entrySize, c.entrySize) << c.what;
    EXPECT_EQ(t.textBase, c.textBase) << c.what;
    EXPECT_EQ(t.wordBase, c.wordBase) << c.what;
  }
  // The largest tables the 16-bit words can name do not wrap.
  rmf::RmfRecordHeader h{};
  h.widePoints = 1;
  h.tableWords[0] = h.tableWords[1] = h.tableWords[2] = h.tableWords[3] = 0xffff;
  rmf::RmfRecordTables t{};
  EXPECT_FALSE(rmf::LocateRecordTables(h, 0xffff, 0xffffffffu, &t));
  EXPECT_EQ(t.pointsInside, 0u);
  EXPECT_EQ(t.partsInside, 0u);
}

// ---- randomised mutations ---------------------------------------------------------

constexpr std::uint32_t kSeed = 0x52a1f00d;

// Changes a few bytes, cuts or extends the buffer; the bytes put in favour
// the characters and values the decoders look at.
void Mutate(std::vector<std::uint8_t>& bytes, std::mt19937& rng) {
  static const std::uint8_t kInteresting[] = {0, 1, 2, 3, 4, 0x7f, 0x80, 0xff, ':', ',', '-', '+', ' ',
                                              '.', '0', '5', '9', 'F', 'V', 'U'};
  int edits = 1 + static_cast<int>(rng() % 8);
  for (int e = 0; e < edits; ++e) {
    switch (rng() % 6) {
      case 0:
      case 1:
        if (!bytes.empty()) bytes[rng() % bytes.size()] = static_cast<std::uint8_t>(rng());
        break;
      case 2:
        if (!bytes.empty()) bytes[rng() % bytes.size()] = kInteresting[rng() % sizeof(kInteresting)];
        break;
      case 3:
        if (!bytes.empty()) bytes.resize(rng() % (bytes.size() + 1));
        break;
      case 4:
        bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(rng() % (bytes.size() + 1)),
                     kInteresting[rng() % sizeof(kInteresting)]);
        break;
      default:
        if (bytes.size() >= 2) {
          std::size_t at = rng() % (bytes.size() - 1);
          std::uint16_t v = static_cast<std::uint16_t>(rng() % 4 == 0 ? rng() : rng() % 80);
          bytes[at] = static_cast<std::uint8_t>(v);
          bytes[at + 1] = static_cast<std::uint8_t>(v >> 8);
        }
        break;
    }
  }
}

TEST(RmfFileFormatFuzzTest, HeaderMutations) {
  std::mt19937 rng(kSeed);
  const std::vector<std::uint8_t> valid = ValidHeader();
  for (int round = 0; round < 20000; ++round) {
    std::vector<std::uint8_t> bytes = valid;
    Mutate(bytes, rng);
    ExactBuffer exact(bytes);
    rmf::RmfFileHeader h{};
    int result = rmf::DecodeFileHeader(exact.data(), exact.size(), &h);
    ASSERT_TRUE(result == rmf::kRmfFileAccepted || result == rmf::kRmfFileTooShort ||
                result == kRmfCannotOpen || result == kRmfHeaderRejected)
        << "seed " << kSeed << " round " << round;
    if (result == rmf::kRmfFileAccepted) {
      ASSERT_EQ(std::uint64_t{h.indexOffset} + 12ull * h.indexCount, h.offsetTableOffset) << round;
      ASSERT_TRUE((h.minLevel <= h.maxLevel && h.minLevel >= 1 && h.maxLevel <= 8) ||
                  (h.minLevel == 8 && h.maxLevel == 1))
          << round;
    }
  }
}

TEST(RmfFileFormatFuzzTest, AnnotationMutations) {
  std::mt19937 rng(kSeed + 1);
  const std::vector<std::uint8_t> valid =
      Block({"FILENAME: world.rmf", "RMF Compile: 12", "ENCODING: UTF-8", "Default Language: fr",
             "UDM Version: 2.3", "Vehicle Types List: 1,5,12"});
  CountingHeap heap;
  rmf::RmfHeapHooks hooks = heap.Hooks();
  for (int round = 0; round < 20000; ++round) {
    std::vector<std::uint8_t> bytes = valid;
    Mutate(bytes, rng);
    ExactBuffer exact(bytes);
    rmf::RmfAnnotations a{};
    int result = rmf::DecodeAnnotations(exact.data(), exact.size(), &a, &hooks);
    ASSERT_TRUE(result == rmf::kRmfFileAccepted || result == kRmfMalformed ||
                result == kRmfHeaderRejected)
        << "seed " << kSeed + 1 << " round " << round << " result " << result;
    if (result == rmf::kRmfFileAccepted) {
      // Every value ends inside the block copy.
      for (const char* value : {a.fileName, a.rmfCompile, a.encoding, a.defaultLanguage}) {
        if (value == nullptr) continue;
        ASSERT_GE(value, a.block);
        ASSERT_LE(value, a.block + a.blockLength);
        ASSERT_LE(value + std::strlen(value), a.block + a.blockLength) << round;
      }
      ASSERT_LE(a.vehicleTypeCount, 65536u);
      for (std::uint32_t i = 0; i < a.vehicleTypeCount; ++i) ASSERT_LE(a.vehicleTypes[i], 1);
    } else {
      ASSERT_EQ(a.block, nullptr);
    }
    rmf::FreeAnnotations(&a);
    ASSERT_EQ(heap.allocations, heap.releases) << round;
  }
}

TEST(RmfFileFormatFuzzTest, RecordMutations) {
  std::mt19937 rng(kSeed + 2);
  std::vector<std::uint8_t> plainTile;
  std::vector<std::uint8_t> compressedTile;
  for (std::uint16_t length : {61, 200, 58, 3}) {
    std::vector<std::uint8_t> r = PlainRecord(length, 0x02, static_cast<std::uint8_t>(length));
    if (length == 3) r.resize(3);
    std::vector<std::uint8_t> z = CompressedRecord(r);
    plainTile.insert(plainTile.end(), r.begin(), r.end());
    compressedTile.insert(compressedTile.end(), z.begin(), z.end());
  }
  int framed = 0;
  for (int round = 0; round < 20000; ++round) {
    bool compressed = (round & 1) != 0;
    std::vector<std::uint8_t> bytes = compressed ? compressedTile : plainTile;
    Mutate(bytes, rng);
    ExactBuffer window(bytes);
    std::size_t at = 0;
    // Step through the window the way a tile walk does; every step moves on,
    // so the walk ends within window.size() steps.
    for (std::size_t steps = 0;; ++steps) {
      ASSERT_LE(steps, window.size()) << "seed " << kSeed + 2 << " round " << round;
      rmf::RmfRecordFrame frame{};
      RmfRecordStatus status =
          rmf::FrameRecord(window.data() + at, window.size() - at, compressed, &frame);
      if (status == RmfRecordStatus::kReadError) break;
      ASSERT_NE(status, RmfRecordStatus::kBadArgument) << round;
      ASSERT_GE(frame.storedLength, 1u) << round;
      ASSERT_LE(frame.storedLength, window.size() - at) << round;
      if (status == RmfRecordStatus::kOk) {
        ++framed;
        ExactBuffer record(nullptr, frame.rawLength);
        if (rmf::UnpackRecord(frame, record.data(), record.size()) == RmfRecordStatus::kOk) {
          rmf::RmfRecordHeader h{};
          rmf::DecodeRecordHeader(record.data(), record.size(), &h);
          rmf::RecordFlags(record.data(), record.size());
        }
      }
      at += frame.storedLength;
    }
  }
  EXPECT_GT(framed, 10000) << "the mutations should leave most records readable";
}

}  // namespace
