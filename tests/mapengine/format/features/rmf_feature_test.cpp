// Tests of feature records, feature references and attributes and geometry
// by reference, over small maps written by the builder and read through a
// reader source in memory: the four slots and their pins, points of both
// widths, parts, vertex words and node steps, the identifier words,
// equality, reversal, whole parts, classification and split, attribute
// enumeration and sets, the points of references with their fractional
// cuts, the limits of buffers and node words, and damaged records.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/format/features/RmfFeatureAttr.h"
#include "mapengine/format/store/RmfReader.h"
#include "mapengine/format/store/RmfTagArena.h"
#include "tests/mapengine/format/features/RmfFeatureRefPrint.h"
#include "tools/rmfbuild/RmfBuilder.h"
#include "tools/rmfbuild/RmfMemoryReader.h"

// The library's plain records compared and printed by the test (found by
// argument-dependent lookup, so at global scope).
static bool operator==(const TiPoint& a, const TiPoint& b) { return a.x == b.x && a.y == b.y; }
static std::ostream& operator<<(std::ostream& os, const TiPoint& p) { return os << "(" << p.x << "," << p.y << ")"; }

namespace {

using rmfbuild::BuildResult;
using rmfbuild::MapDescription;
using rmfbuild::Part;
using rmfbuild::Record;
using rmfbuild::TextTriple;
using rmfbuild::Tile;
using rmfbuild::VertexWord;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kArenaBytes = 4u << 20;
constexpr std::int32_t kMin27 = -(1 << 27);
constexpr std::int32_t kMax27 = 1 << 27;
constexpr std::int32_t kMin26 = -(1 << 26);
constexpr std::int32_t kMax26 = 1 << 26;

VertexWord P(std::uint16_t i) { return VertexWord::Point(i); }
VertexWord A(const std::string& code, const std::string& name, const std::string& detail) {
  return VertexWord::Attribute(TextTriple{code, name, detail});
}

Part MakePart(TextTriple text, std::vector<VertexWord> words) {
  Part p;
  p.text = std::move(text);
  p.words = std::move(words);
  return p;
}

RmfFeatureRef Ref(std::uint32_t tile, std::uint16_t second, std::uint16_t part, std::uint16_t from, std::uint16_t to,
                  std::uint16_t position = kRmfPositionWhole, std::uint16_t source = 0) {
  return RmfFeatureRef{tile, source, second, part, from, to, position};
}


// ---- the street map ----------------------------------------------------------------------
//
// Tile 100, record 0 (4-byte points):
//   p0 (1000,2000) p1 (1100,2000) p2 (1100,2100) p3 (1300,2100) p4 (1100,1900)
//   p5 (1200,2300) p6 (1000,2200)
//   part 0 "Main":  0 A  1 A  2 p0  3 p1  4 A  5 p2  6 p3  7 A
//   part 1 "Cross": p4 p2 p5            (meets Main at p2)
//   part 2 "Loop":  p2 p6 p2            (passes p2 twice)
// Tile 100, record 1 (8-byte points at the coordinate limits):
//   q0 (-2^27,-2^26) q1 (2^27,2^26) q2 (-134217000, 67108000); part 0: q0 q1 q2
// Tile 100, record 2: 4-byte points, but the top byte of its box (byte 27)
//   has bit 0 set: (50,60) (70,80); part 0: both
// Tile 200, record 0: 8-byte points, byte 27 bit 0 clear: (-5,-7) (9,11)
// Tile 300, record 0: a line of 1000 points, a part of 8193 words and one of
//   8192 words.
constexpr std::uint32_t kStreets = 100;
constexpr std::uint32_t kWide = 200;
constexpr std::uint32_t kLong = 300;

const TiPoint kP[] = {{1000, 2000}, {1100, 2000}, {1100, 2100}, {1300, 2100},
                      {1100, 1900}, {1200, 2300}, {1000, 2200}};
const TiPoint kQ[] = {{kMin27, kMin26}, {kMax27, kMax26}, {-134217000, 67108000}};

TiPoint LongPoint(int i) { return TiPoint{i * 50, (i % 7) * 10}; }

MapDescription StreetMap() {
  MapDescription d;
  Tile t = Tile::WithId(kStreets);
  Record r0;
  r0.points.assign(std::begin(kP), std::end(kP));
  r0.parts.push_back(MakePart({"151+", "Main St", "Main Street"},
                              {A("1+-+-", "oneway", "whole part"), A("9-", "speed", "30"), P(0), P(1),
                               A("1x", "seg1", "after p1"), P(2), P(3), A("1y", "tail", "after p3")}));
  r0.parts.push_back(MakePart({"141", "Cross Rd", "Cross Road"}, {P(4), P(2), P(5)}));
  r0.parts.push_back(MakePart({"161", "Loop", "Loop Lane"}, {P(2), P(6), P(2)}));
  t.records.push_back(r0);

  Record r1;
  r1.widePoints = true;
  r1.points.assign(std::begin(kQ), std::end(kQ));
  r1.parts.push_back(MakePart({"171", "Edge", "Edge Road"}, {P(0), P(1), P(2)}));
  t.records.push_back(r1);

  Record r2;
  r2.points = {{50, 60}, {70, 80}};
  r2.box = TiRect{50, 60, 70, 0x01000005};  // byte 27 = 0x01
  r2.parts.push_back(MakePart({"131", "Trap", "Trap"}, {P(0), P(1)}));
  t.records.push_back(r2);
  d.tiles.push_back(t);

  Tile w = Tile::WithId(kWide);
  Record rw;
  rw.widePoints = true;
  rw.points = {{-5, -7}, {9, 11}};
  rw.box = TiRect{-5, -7, 9, 0x00FFFFFF};  // byte 27 = 0x00
  rw.parts.push_back(MakePart({"151", "Wide", "Wide"}, {P(0), P(1)}));
  w.records.push_back(rw);
  d.tiles.push_back(w);

  Tile l = Tile::WithId(kLong);
  Record rl;
  std::vector<VertexWord> line;
  std::vector<VertexWord> tooLong;
  std::vector<VertexWord> longest;
  for (int i = 0; i < 1000; ++i) {
    rl.points.push_back(LongPoint(i));
    line.push_back(P(static_cast<std::uint16_t>(i)));
  }
  for (int i = 0; i < kRmfMaxPartWords + 1; ++i) tooLong.push_back(P(static_cast<std::uint16_t>(i % 1000)));
  for (int i = 0; i < kRmfMaxPartWords; ++i) longest.push_back(P(static_cast<std::uint16_t>(i % 1000)));
  rl.parts.push_back(MakePart({"151", "Long", "Long Road"}, line));
  rl.parts.push_back(MakePart({"151", "Too long", ""}, tooLong));
  rl.parts.push_back(MakePart({"151", "Longest", ""}, longest));
  l.records.push_back(rl);
  d.tiles.push_back(l);
  return d;
}

// Readers over maps in memory; each test may make several.
class FeatureTest : public ::testing::Test {
 protected:
  RmfReader* NewReader(std::uint32_t bytes = kArenaBytes) {
    maps_.push_back(std::make_unique<rmfbuild::MemoryReader>(bytes));
    return maps_.back()->reader();
  }

  // The owner of a reader made by NewReader; null for any other.
  rmfbuild::MemoryReader* MapsOf(RmfReader* r) {
    for (const auto& maps : maps_) {
      if (maps->reader() == r) return maps.get();
    }
    return nullptr;
  }

  // Builds the map and adds it to the reader as a new source.
  BuildResult Add(RmfReader* r, const MapDescription& d) {
    BuildResult b;
    rmfbuild::MemoryReader* maps = MapsOf(r);
    if (maps == nullptr) {
      ADD_FAILURE() << "not a reader of the fixture";
      return b;
    }
    EXPECT_GE(maps->AddMap(d, &b), 1) << maps->error();
    return b;
  }

  RmfReader* Streets() {
    RmfReader* r = NewReader();
    if (r != nullptr) streets_ = Add(r, StreetMap());
    return r;
  }

  BuildResult streets_;
  std::vector<std::unique_ptr<rmfbuild::MemoryReader>> maps_;
};

// A fetched slot, released at the end of the scope.
class Held {
 public:
  Held(RmfReader* r, const RmfFeatureRef& ref) { result_ = RmfFeatureFetch(r, ref, &slot_, &continues_); }
  ~Held() {
    if (result_ == 1) (void)RmfFeatureRelease(slot_);
  }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  RmfFeature* slot() const { return slot_; }
  std::int32_t result() const { return result_; }
  std::int32_t continues() const { return continues_; }

 private:
  RmfFeature* slot_ = nullptr;
  std::int32_t continues_ = -1;
  std::int32_t result_ = 0;
};

std::int32_t Pins(RmfReader* r, RmfFeature* slot) {
  rmf::detail::TagBlockInfo info;
  if (!rmf::detail::TagBlockState(r->arena, slot->record - sizeof(RmfRecordKey), &info)) return -1;
  return info.pins;
}

std::vector<TiPoint> PointsOf(RmfReader* r, const RmfFeatureRef& ref, std::int32_t* result = nullptr) {
  TiPoint* points = nullptr;
  const std::int32_t n = RmfFeatureRefPoints(r, ref, &points);
  if (result != nullptr) *result = n;
  if (n <= 0) return {};
  return std::vector<TiPoint>(points, points + n);
}

// ---- slots -----------------------------------------------------------------------------------

TEST_F(FeatureTest, FetchingTheSameRecordSharesTheSlotAndItsPin) {
  RmfReader* r = Streets();
  ASSERT_NE(r, nullptr);
  RmfFeature* a = nullptr;
  RmfFeature* b = nullptr;
  std::int32_t continues = -1;
  ASSERT_EQ(RmfFeatureFetch(r, Ref(kStreets, 0, 0, 0, 0), &a, &continues), 1);
  EXPECT_EQ(a, &r->featureSlots[3]) << "the highest free slot is taken";
  EXPECT_EQ(continues, 1);
  EXPECT_EQ(Pins(r, a), 1);
  ASSERT_EQ(RmfFeatureFetch(r, Ref(kStreets, 0, 2, 5, 1), &b, nullptr), 1) << "part and vertices do not matter";
  EXPECT_EQ(a, b);
  EXPECT_EQ(a->useCount, 2);
  EXPECT_EQ(Pins(r, a), 2);
  std::int32_t slots = 0;
  std::int32_t uses = 0;
  EXPECT_EQ(RmfFeatureSlotUsage(r, &slots, &uses), 1);
  EXPECT_EQ(slots, 4);
  EXPECT_EQ(uses, 2);
  EXPECT_EQ(RmfFeatureSlotUsage(r, nullptr, nullptr), 1);

  EXPECT_EQ(RmfFeatureRelease(a), 1);
  EXPECT_EQ(RmfFeatureRelease(a), 1);
  EXPECT_EQ(RmfFeatureRelease(a), -1);
  EXPECT_EQ(RmfFeatureRelease(nullptr), -1);
  EXPECT_EQ(a->useCount, 0);
  EXPECT_EQ(Pins(r, a), 0);

  // A free slot that still holds the record is not a hit: the record is
  // fetched again, with a use count of 1.
  ASSERT_EQ(RmfFeatureFetch(r, Ref(kStreets, 0, 0, 0, 0), &b, nullptr), 1);
  EXPECT_EQ(b->useCount, 1);
  EXPECT_EQ(b->currentPart, -1);
  (void)RmfFeatureRelease(b);
  EXPECT_EQ(RmfFeatureSlotUsage(r, nullptr, &uses), 1);
  EXPECT_EQ(uses, 0);
}

TEST_F(FeatureTest, FifthNestedFetchFindsNoSlot) {
  RmfReader* r = Streets();
  ASSERT_NE(r, nullptr);
  const RmfFeatureRef refs[] = {Ref(kStreets, 0, 0, 0, 0), Ref(kStreets, 1, 0, 0, 0), Ref(kStreets, 2, 0, 0, 0),
                                Ref(kWide, 0, 0, 0, 0)};
  RmfFeature* slots[4] = {};
  for (int i = 0; i < 4; ++i) ASSERT_EQ(RmfFeatureFetch(r, refs[i], &slots[i], nullptr), 1) << i;
  for (int i = 0; i < 4; ++i) EXPECT_EQ(slots[i], &r->featureSlots[3 - i]);
  RmfFeature* fifth = nullptr;
  EXPECT_EQ(RmfFeatureFetch(r, Ref(kLong, 0, 0, 0, 0), &fifth, nullptr), -1);
  EXPECT_EQ(r->lastError, -1);
  EXPECT_EQ(fifth, nullptr);
  // Functions that fetch by reference fail as invalid then.
  RmfFeatureRef whole;
  EXPECT_EQ(RmfFeatureRefWhole(r, Ref(kLong, 0, 0, 0, 5), &whole), kRmfBadReference);
  // A held record is still found.
  RmfFeature* again = nullptr;
  EXPECT_EQ(RmfFeatureFetch(r, refs[2], &again, nullptr), 1);
  EXPECT_EQ(again, slots[2]);
  (void)RmfFeatureRelease(again);
  for (RmfFeature* s : slots) (void)RmfFeatureRelease(s);
  ASSERT_EQ(RmfFeatureFetch(r, Ref(kLong, 0, 0, 0, 0), &fifth, nullptr), 1);
  (void)RmfFeatureRelease(fifth);
}

TEST_F(FeatureTest, FetchRefusesBadArgumentsAndMissingRecords) {
  RmfReader* r = Streets();
  ASSERT_NE(r, nullptr);
  RmfFeature* s = nullptr;
  std::int32_t continues = 7;
  EXPECT_EQ(RmfFeatureFetch(nullptr, Ref(kStreets, 0, 0, 0, 0), &s, nullptr), kRmfBadArgument);
  EXPECT_EQ(RmfFeatureFetch(r, Ref(kStreets, 0, 0, 0, 0, 1024, 1), &s, nullptr), kRmfBadArgument) << "one source only";
  EXPECT_EQ(r->lastError, kRmfBadArgument);
  EXPECT_EQ(RmfFeatureFetch(r, Ref(kStreets, 0, 0, 0, 0), nullptr, nullptr), kRmfBadArgument);
  EXPECT_EQ(RmfFeatureFetch(r, Ref(0, 0, 0, 0, 0), &s, &continues), 0) << "feature id 0 names nothing";
  EXPECT_EQ(continues, 0);
  EXPECT_EQ(RmfFeatureFetch(r, Ref(kStreets, 3, 0, 0, 0), &s, nullptr), 0) << "the tile has three records";
  EXPECT_EQ(RmfFeatureFetch(r, Ref(12345, 0, 0, 0, 0), &s, nullptr), 0) << "no such tile";
  EXPECT_EQ(s, nullptr);
  std::int32_t uses = -1;
  (void)RmfFeatureSlotUsage(r, nullptr, &uses);
  EXPECT_EQ(uses, 0);

  // Slot functions on a free slot.
  RmfFeature* freeSlot = &r->featureSlots[0];
  TiPoint p;
  EXPECT_EQ(RmfFeaturePointCount(freeSlot), kRmfBadArgument);
  EXPECT_EQ(RmfFeaturePartCount(nullptr), kRmfBadArgument);
  EXPECT_EQ(RmfFeatureSelectPart(freeSlot, 0, 0, nullptr), kRmfBadArgument);
  EXPECT_EQ(RmfFeaturePointAt(freeSlot, 0, &p), kRmfBadArgument);
  EXPECT_EQ(RmfFeatureFindPoint(freeSlot, TiPoint{0, 0}), -1);
  EXPECT_EQ(RmfFeatureNextNode(freeSlot, 0, -1, 1, nullptr, nullptr), kRmfBadArgument);

  ASSERT_NE(MapsOf(r), nullptr);
  MapsOf(r)->Close();
  EXPECT_EQ(RmfFeatureFetch(r, Ref(kStreets, 0, 0, 0, 0), &s, nullptr), kRmfBadArgument) << "closed reader";
  EXPECT_EQ(RmfFeatureSlotUsage(r, nullptr, nullptr), 0);
}

// Byte 3 bit 1 says that the tile holds a record with the next sequence
// number; stepping by it visits every record of a tile and no other.
TEST_F(FeatureTest, ContinuesFlagStepsThroughTheRecordsOfOneTile) {
  RmfReader* r = Streets();
  ASSERT_NE(r, nullptr);
  const std::pair<std::uint32_t, int> tiles[] = {{kStreets, 3}, {kWide, 1}, {kLong, 1}};
  for (const auto& [tile, records] : tiles) {
    int seen = 0;
    for (std::uint16_t second = 0;; ++second) {
      Held h(r, Ref(tile, second, 0, 0, 0));
      ASSERT_EQ(h.result(), 1) << tile << "/" << second;
      ++seen;
      EXPECT_EQ(h.slot()->continues, h.continues());
      if (h.continues() == 0) break;
      ASSERT_LT(second, 10);
    }
    EXPECT_EQ(seen, records) << tile;
  }
}

// Each record read into a slot is the one the builder wrote, also when it is
// found by the offset that the previous record's slot recorded.
TEST_F(FeatureTest, FetchedRecordsAreTheWrittenOnes) {
  for (int windowFactor : {0, 8}) {
    RmfReader* r = Streets();
    ASSERT_NE(r, nullptr);
    RmfReaderSetWindowFactor(r, windowFactor);
    Held first(r, Ref(kStreets, 0, 0, 0, 0));
    ASSERT_EQ(first.result(), 1);
    EXPECT_GE(first.slot()->nextRecordOffset, 2u) << "read from the file: the next record's offset is known";
    for (const rmfbuild::RecordPlacement& placed : streets_.layout.records) {
      Held h(r, Ref(placed.tileId, placed.sequence, 0, 0, 0));
      ASSERT_EQ(h.result(), 1);
      const RmfFeature* s = h.slot();
      ASSERT_EQ(s->recordLength, placed.record.size());
      EXPECT_EQ(Bytes(s->record, s->record + s->recordLength), placed.record);
      EXPECT_EQ(s->featureId, placed.tileId);
      EXPECT_EQ(s->secondId, placed.sequence);
    }
  }
}

TEST_F(FeatureTest, PointsOfBothWidthsFollowByteThreeOnly) {
  RmfReader* r = Streets();
  ASSERT_NE(r, nullptr);
  struct Case {
    std::uint32_t tile;
    std::uint16_t second;
    std::uint16_t size;
    std::vector<TiPoint> points;
  };
  const Case cases[] = {
      {kStreets, 0, 4, std::vector<TiPoint>(std::begin(kP), std::end(kP))},
      {kStreets, 1, 8, std::vector<TiPoint>(std::begin(kQ), std::end(kQ))},
      {kStreets, 2, 4, {{50, 60}, {70, 80}}},  // byte 27 has bit 0 set: still 4-byte points
      {kWide, 0, 8, {{-5, -7}, {9, 11}}},      // byte 27 has bit 0 clear: still 8-byte points
  };
  for (const Case& c : cases) {
    Held h(r, Ref(c.tile, c.second, 0, 0, 0));
    ASSERT_EQ(h.result(), 1);
    RmfFeature* s = h.slot();
    EXPECT_EQ(s->record[27] & 1, c.tile == kStreets && c.second == 2 ? 1 : 0);
    EXPECT_EQ(s->pointSize, c.size) << c.tile << "/" << c.second;
    const auto n = static_cast<std::int32_t>(c.points.size());
    ASSERT_EQ(RmfFeaturePointCount(s), n);
    for (std::int32_t i = 0; i < n; ++i) {
      TiPoint p{};
      EXPECT_EQ(RmfFeaturePointAt(s, i, &p), 1);
      EXPECT_EQ(p, c.points[i]) << i;
      EXPECT_EQ(RmfFeatureFindPoint(s, c.points[i]), i);
    }
    TiPoint p{};
    EXPECT_EQ(RmfFeaturePointAt(s, n, &p), -1);
    EXPECT_EQ(RmfFeaturePointAt(s, -1, &p), -1);
    EXPECT_EQ(RmfFeaturePointAt(s, 0, nullptr), kRmfBadArgument);
    EXPECT_EQ(RmfFeatureFindPoint(s, TiPoint{12345, 678}), -1);

    std::vector<TiPoint> copy(n + 2, TiPoint{-1, -1});
    EXPECT_EQ(RmfFeatureCopyPoints(s, copy.data(), 1), n);
    EXPECT_EQ(copy[0], c.points[0]);
    EXPECT_EQ(copy[1], (TiPoint{-1, -1})) << "capacity 1 writes one point";
    EXPECT_EQ(RmfFeatureCopyPoints(s, copy.data(), n + 2), n);
    EXPECT_TRUE(std::equal(c.points.begin(), c.points.end(), copy.begin()));
    EXPECT_EQ(copy[n], (TiPoint{-1, -1}));
    EXPECT_EQ(RmfFeatureCopyPoints(s, nullptr, 0), n);
    EXPECT_EQ(RmfFeatureCopyPoints(s, nullptr, 1), kRmfBadArgument);
  }
}

// ---- parts, words, nodes ---------------------------------------------------------------------

TEST_F(FeatureTest, PartsAndTheirVertexWords) {
  RmfReader* r = Streets();
  ASSERT_NE(r, nullptr);
  Held h(r, Ref(kStreets, 0, 0, 0, 0));
  ASSERT_EQ(h.result(), 1);
  RmfFeature* s = h.slot();
  EXPECT_EQ(RmfFeaturePartCount(s), 3);
  EXPECT_EQ(RmfFeatureSelectPart(s, 0, 0, nullptr), 0);
  EXPECT_EQ(s->currentPart, 0);
  EXPECT_EQ(s->wordCount, 8);
  EXPECT_EQ(s->firstVertex, 2);
  EXPECT_EQ(s->lastPosition, 7);
  EXPECT_EQ(s->currentClass, *rmfbuild::ClassBitsOfCode("151+"));
  EXPECT_STREQ(reinterpret_cast<const char*>(s->currentText), "151+");
  EXPECT_EQ(RmfFeatureSelectPart(s, 3, 0, nullptr), kRmfBadArgument);
  EXPECT_EQ(RmfFeatureSelectPart(s, -1, 0, nullptr), kRmfBadArgument);
  EXPECT_EQ(s->currentPart, 0) << "a refused selection keeps the current part";

  EXPECT_EQ(RmfFeatureWordCount(s, 0), 8);
  EXPECT_EQ(RmfFeatureWordCount(s, 1), 3);
  EXPECT_EQ(RmfFeatureWordCount(s, 3), kRmfBadArgument);

  // Node words: point indexes, attribute words, and the part's own triple.
  const std::int32_t expectedPoints[] = {-1, -1, 0, 1, -1, 2, 3, -1};
  for (std::int32_t i = 0; i < 8; ++i) {
    const std::int32_t w = RmfFeatureNodeAt(s, 0, i);
    ASSERT_GE(w, 0);
    if (expectedPoints[i] >= 0) {
      EXPECT_EQ(w, expectedPoints[i]) << i;
    } else {
      EXPECT_NE(w & 0x8000, 0) << i;
    }
  }
  EXPECT_EQ(RmfFeatureNodeAt(s, 0, 8), -1);
  EXPECT_EQ(RmfFeatureNodeAt(s, 0, -2), -1);
  const std::int32_t own = RmfFeatureNodeAt(s, 0, -1);
  ASSERT_GE(own, 0x8000);
  EXPECT_STREQ(reinterpret_cast<const char*>(s->record + s->textOffset + (own & 0x7fff)), "151+");
  const std::int32_t attr = RmfFeatureNodeAt(s, 0, 4);
  EXPECT_STREQ(reinterpret_cast<const char*>(s->record + s->textOffset + (attr & 0x7fff)), "1x");

  // Word search: after start forward, before start backward.
  struct Find {
    std::int32_t part, word, start, direction, expected;
  };
  const Find finds[] = {
      {2, 2, -1, 1, 0},  {2, 2, 0, 1, 2},   {2, 2, 2, 1, -1},  {2, 2, 3, 1, -1},  {2, 2, 99, 1, -1},
      {2, 2, 3, -1, 2},  {2, 2, 99, -1, 2}, {2, 2, 2, -1, 0},  {2, 2, 1, -1, 0},  {2, 2, 0, -1, -1},
      {2, 6, 0, 1, 1},   {2, 5, -5, 1, -1}, {0, 3, 0, 1, 6},   {2, 0x10002, 0, 1, -1},
      {1, 2, -100, 1, 1}, {5, 2, 0, 1, kRmfBadArgument},
  };
  for (const Find& f : finds) {
    EXPECT_EQ(RmfFeatureFindWord(s, f.part, f.word, f.start, f.direction), f.expected)
        << "part " << f.part << " word " << f.word << " start " << f.start << " dir " << f.direction;
  }
}

TEST_F(FeatureTest, NextNodeStepsOverAttributeWordsBothWays) {
  RmfReader* r = Streets();
  ASSERT_NE(r, nullptr);
  Held h(r, Ref(kStreets, 0, 0, 0, 0));
  ASSERT_EQ(h.result(), 1);
  RmfFeature* s = h.slot();
  struct Step {
    std::int32_t position, step, point, found;
  };
  const Step steps[] = {
      {-1, 1, 0, 2}, {0, 1, 0, 2}, {2, 1, 1, 3}, {3, 1, 2, 5}, {5, 1, 3, 6}, {6, 1, -1, -7}, {7, 1, -1, -7},
      {8, -1, 3, 6}, {7, -1, 3, 6}, {6, -1, 2, 5}, {5, -1, 1, 3}, {3, -1, 0, 2}, {2, -1, -1, -7},
      {3, 5, 2, 5},  {5, -9, 1, 3}, {3, 0, -1, -7}, {100, -1, -1, -7}, {-100, 1, -1, -7},
  };
  for (const Step& st : steps) {
    std::int32_t found = -7;
    EXPECT_EQ(RmfFeatureNextNode(s, 0, st.position, st.step, &found, nullptr), st.point)
        << st.position << " step " << st.step;
    EXPECT_EQ(found, st.found) << st.position << " step " << st.step;
  }
  EXPECT_EQ(RmfFeatureNextNode(s, 0, 2, 1, nullptr, nullptr), 1);
  EXPECT_EQ(RmfFeatureNextNode(s, 7, 0, 1, nullptr, nullptr), kRmfBadArgument);
}

TEST_F(FeatureTest, PartsAndPositionsAtASharedPoint) {
  RmfReader* r = Streets();
  ASSERT_NE(r, nullptr);
  Held h(r, Ref(kStreets, 0, 0, 0, 0));
  ASSERT_EQ(h.result(), 1);
  RmfFeature* s = h.slot();
  std::int32_t parts[8] = {-9, -9, -9, -9, -9, -9, -9, -9};
  ASSERT_EQ(RmfFeaturePartsAtPoint(s, 2, parts, 8), 4) << "Main, Cross and Loop twice";
  EXPECT_EQ(std::vector<std::int32_t>(parts, parts + 5), (std::vector<std::int32_t>{0, 1, 2, 2, -9}));
  std::fill(std::begin(parts), std::end(parts), -9);
  EXPECT_EQ(RmfFeaturePartsAtPoint(s, 2, parts, 2), 4) << "the total, with the first two written";
  EXPECT_EQ(parts[1], 1);
  EXPECT_EQ(parts[2], -9);
  EXPECT_EQ(RmfFeaturePartsAtPoint(s, 6, parts, 8), 1);
  EXPECT_EQ(parts[0], 2);
  EXPECT_EQ(RmfFeaturePartsAtPoint(s, 2, nullptr, 0), 4);
  EXPECT_EQ(RmfFeaturePartsAtPoint(s, 7, parts, 8), 0) << "no such point";
  EXPECT_EQ(RmfFeaturePartsAtPoint(s, -1, parts, 8), 0);

  std::int32_t positions[4] = {-9, -9, -9, -9};
  EXPECT_EQ(RmfFeaturePositionsOfPoint(s, 2, 2, positions, 4), 2);
  EXPECT_EQ(positions[0], 0);
  EXPECT_EQ(positions[1], 2);
  EXPECT_EQ(RmfFeaturePositionsOfPoint(s, 0, 2, positions, 1), 1);
  EXPECT_EQ(positions[0], 5);
  EXPECT_EQ(RmfFeaturePositionsOfPoint(s, 1, 6, positions, 4), 0);
  EXPECT_EQ(RmfFeaturePositionsOfPoint(s, 9, 2, positions, 4), kRmfBadArgument);
}

// ---- references ------------------------------------------------------------------------------

TEST_F(FeatureTest, IdentifierWordsRoundTrip) {
  RmfReader* r = Streets();
  ASSERT_NE(r, nullptr);
  RmfFeatureRef ref{};
  ASSERT_EQ(RmfFeatureRefFromIds(r, 1, 5, 0x00030002, 0x00010004, &ref), 1);
  EXPECT_EQ(ref, (RmfFeatureRef{5, 0, 1, 2, 3, 4, 1024}));
  std::int32_t map = 0;
  std::uint32_t id = 0;
  std::int32_t second = 0;
  std::int32_t part = 0;
  ASSERT_EQ(RmfFeatureRefToIds(r, ref, &map, &id, &second, &part), 1);
  EXPECT_EQ(map, 1);
  EXPECT_EQ(id, 5u);
  EXPECT_EQ(second, 1);
  EXPECT_EQ(part, 2);

  // The packing the map engine uses: A = part | from << 16, B = to | second << 16.
  const RmfFeatureRef big{0xfedcba98u, 65535, 65534, 65533, 65532, 65531, 1024};
  ASSERT_EQ(RmfFeatureRefFromIds(r, 65536, big.featureId, big.part | (std::uint32_t{big.fromVertex} << 16),
                                 big.toVertex | (std::uint32_t{big.secondId} << 16), &ref),
            1);
  EXPECT_EQ(ref, big);

  EXPECT_EQ(RmfFeatureRefFromIds(r, 0, 5, 0, 0, &ref), kRmfBadArgument);
  EXPECT_EQ(RmfFeatureRefFromIds(r, -3, 5, 0, 0, &ref), kRmfBadArgument);
  EXPECT_EQ(RmfFeatureRefFromIds(r, 65537, 5, 0, 0, &ref), kRmfBadArgument);
  EXPECT_EQ(RmfFeatureRefFromIds(r, 1, 5, 0, 0, nullptr), kRmfBadArgument);
  EXPECT_EQ(RmfFeatureRefFromIds(nullptr, 1, 5, 0, 0, &ref), kRmfBadArgument);
  EXPECT_EQ(RmfFeatureRefToIds(r, Ref(0, 0, 0, 0, 0), &map, &id, &second, &part), kRmfBadReference);
  EXPECT_EQ(r->lastError, kRmfBadReference);
  EXPECT_EQ(RmfFeatureRefToIds(r, big, &map, nullptr, &second, &part), kRmfBadArgument);
}

TEST_F(FeatureTest, EqualityComparesAllSevenFields) {
  RmfReader* r = Streets();
  ASSERT_NE(r, nullptr);
  const RmfFeatureRef a{7, 1, 2, 3, 4, 5, 0x4200};
  EXPECT_EQ(RmfFeatureRefEqual(r, a, a), 1);
  for (int field = 0; field < 7; ++field) {
    RmfFeatureRef b = a;
    switch (field) {
      case 0: b.featureId = 8; break;
      case 1: b.source = 0; break;
      case 2: b.secondId = 3; break;
      case 3: b.part = 4; break;
      case 4: b.fromVertex = 6; break;
      case 5: b.toVertex = 6; break;
      default: b.position = 0x4201; break;
    }
    EXPECT_EQ(RmfFeatureRefEqual(r, a, b), 0) << field;
  }
  EXPECT_EQ(RmfFeatureRefEqual(r, a, Ref(0, 0, 0, 0, 0)), kRmfBadReference);
  EXPECT_EQ(RmfFeatureRefEqual(r, Ref(0, 0, 0, 0, 0), Ref(0, 0, 0, 0, 0)), kRmfBadReference);
  EXPECT_EQ(RmfFeatureRefEqual(nullptr, a, a), kRmfBadArgument);
}

TEST_F(FeatureTest, ReversalTurnsFromToAndPosition) {
  RmfReader* r = Streets();
  ASSERT_NE(r, nullptr);
  struct Case {
    std::uint16_t position, reversed;
  };
  const Case cases[] = {
      {0x4100, 0x4300},  // a point at 256 is at 768 from the other end
      {1024, 1024},      // the whole stretch
      {0x0200, 0x8200},  // a stretch toward the fraction now runs back from it
      {0x8200, 0x0200},
      {0x8400, 0x0400},
      {0x4000, 0x4400},
      {0x4400, 0x4000},
      {0xC100, 0xC300},
      // The heading mark stays and the point stays a point (the near-point
      // search makes these).
      {0x6000, 0x6400},
      {0x6400, 0x6000},
      {0x6100, 0x6300},
  };
  for (const Case& c : cases) {
    RmfFeatureRef out{};
    ASSERT_EQ(RmfFeatureRefReverse(r, Ref(9, 1, 2, 3, 8, c.position), &out), 1);
    EXPECT_EQ(out, Ref(9, 1, 2, 8, 3, c.reversed)) << std::hex << c.position;
    // Reversing twice gives the reference back, except that a reversed whole
    // stretch (0x8400) comes back as the plain whole stretch (1024).
    RmfFeatureRef back{};
    ASSERT_EQ(RmfFeatureRefReverse(r, out, &back), 1);
    EXPECT_EQ(back, Ref(9, 1, 2, 3, 8, c.position == 0x8400 ? 1024 : c.position));
  }
  RmfFeatureRef out{};
  EXPECT_EQ(RmfFeatureRefReverse(r, Ref(9, 1, 2, 3, 8, 0x4401), &out), kRmfBadReference) << "a point beyond the end";
  EXPECT_EQ(RmfFeatureRefReverse(r, Ref(0, 1, 2, 3, 8), &out), kRmfBadReference);
  EXPECT_EQ(RmfFeatureRefReverse(r, Ref(9, 1, 2, 3, 8), nullptr), kRmfBadArgument);
}

TEST_F(FeatureTest, WholeSpansTheFirstVertexToTheLastPosition) {
  RmfReader* r = Streets();
  ASSERT_NE(r, nullptr);
  RmfFeatureRef out{};
  ASSERT_EQ(RmfFeatureRefWhole(r, Ref(kStreets, 0, 0, 3, 5, 0x4123), &out), 1);
  EXPECT_EQ(out, Ref(kStreets, 0, 0, 2, 7));
  ASSERT_EQ(RmfFeatureRefWhole(r, Ref(kStreets, 0, 0, 5, 3, 0x8000), &out), 1);
  EXPECT_EQ(out, Ref(kStreets, 0, 0, 7, 2));
  ASSERT_EQ(RmfFeatureRefWhole(r, Ref(kStreets, 0, 1, 0, 0), &out), 1);
  EXPECT_EQ(out, Ref(kStreets, 0, 1, 0, 2));
  EXPECT_EQ(RmfFeatureRefWhole(r, Ref(kStreets, 0, 3, 0, 1), &out), kRmfBadReference) << "no such part";
  EXPECT_EQ(RmfFeatureRefWhole(r, Ref(kStreets, 5, 0, 0, 1), &out), kRmfBadReference) << "no such record";
  EXPECT_EQ(RmfFeatureRefWhole(r, Ref(0, 0, 0, 0, 1), &out), kRmfBadReference);
  EXPECT_EQ(r->lastError, kRmfBadReference);
  EXPECT_EQ(RmfFeatureRefWhole(r, Ref(kStreets, 0, 0, 0, 1), nullptr), kRmfBadArgument);
  std::int32_t uses = -1;
  (void)RmfFeatureSlotUsage(r, nullptr, &uses);
  EXPECT_EQ(uses, 0) << "every fetch was released";
}

TEST_F(FeatureTest, ClassifyGivesTheKindOfEachReference) {
  RmfReader* r = Streets();
  ASSERT_NE(r, nullptr);
  struct Case {
    std::uint16_t part, from, to, position;
    std::int32_t kind;
    const char* why;
  };
  const Case cases[] = {
      {0, 2, 3, 0x8200, 0, "one segment, back from the fraction"},
      {0, 2, 3, 0x8400, 0, "bit 15 alone decides before the fraction"},
      {0, 2, 3, 0x0200, 1, "one segment, to the fraction"},
      {0, 2, 3, 0x0000, 1, "fraction 0"},
      {0, 2, 3, 0x4200, 2, "a point on the segment"},
      {0, 2, 3, 0x4000, 2, "a point at the start"},
      {0, 2, 3, 0x0400, 3, "the whole segment"},
      {0, 2, 3, 0xC400, 3, "both bits set, fraction 1024"},
      {0, 3, 5, 0x0400, 3, "one segment across an attribute word"},
      {0, 5, 3, 0x0400, 3, "one segment backward"},
      {0, 2, 5, 0x0400, 4, "two segments"},
      {0, 6, 2, 0x8400, 4, "three segments backward"},
      {1, 0, 2, 0x0400, 4, "another part"},
      {0, 2, 2, 0x4000, kRmfBadReference, "from = to"},
      {0, 2, 3, 0x2200, kRmfBadReference, "bit 13 counts into the fraction"},
      {0, 2, 3, 0x0401, kRmfBadReference, "fraction above 1024"},
      {0, 2, 3, 0xC200, kRmfBadReference, "both bits set below 1024"},
      {0, 2, 5, 0x4200, kRmfBadReference, "a point over two segments"},
      {0, 2, 5, 0x0200, kRmfBadReference, "a part of a stretch of two segments"},
      {0, 2, 4, 0x0400, kRmfBadReference, "to is an attribute word"},
      {0, 1, 3, 0x0400, kRmfBadReference, "from lies before the first vertex"},
      {0, 2, 8, 0x0400, kRmfBadReference, "to lies beyond the list"},
      {3, 0, 1, 0x0400, kRmfBadReference, "no such part"},
  };
  for (const Case& c : cases) {
    r->lastError = 77;
    EXPECT_EQ(RmfFeatureRefClassify(r, Ref(kStreets, 0, c.part, c.from, c.to, c.position)), c.kind) << c.why;
    EXPECT_EQ(r->lastError, c.kind < 0 ? kRmfBadReference : 0) << c.why;
  }
  EXPECT_EQ(RmfFeatureRefClassify(r, Ref(0, 0, 0, 2, 3)), kRmfBadReference);
  EXPECT_EQ(RmfFeatureRefClassify(r, Ref(kStreets, 9, 0, 2, 3)), kRmfBadReference) << "a record that cannot be fetched";
  EXPECT_EQ(RmfFeatureRefClassify(nullptr, Ref(kStreets, 0, 0, 2, 3)), kRmfBadArgument);
}

TEST_F(FeatureTest, SplitGivesOnePointReferencePerSegment) {
  RmfReader* r = Streets();
  ASSERT_NE(r, nullptr);
  struct Case {
    std::uint16_t from, to;
    std::vector<std::pair<std::uint16_t, std::uint16_t>> segments;
  };
  const Case cases[] = {
      {2, 6, {{2, 3}, {3, 5}, {5, 6}}},
      {6, 2, {{6, 5}, {5, 3}, {3, 2}}},
      {2, 7, {{2, 3}, {3, 5}, {5, 6}}},  // the whole part: its last position is an attribute word
      {7, 2, {{6, 5}, {5, 3}, {3, 2}}},
      {0, 3, {{2, 3}}},                  // from an attribute word: from the first vertex on
      {3, 5, {{3, 5}}},
      {3, 3, {{3, 3}}},                  // from = to: the reference itself as a point
  };
  for (const Case& c : cases) {
    RmfFeatureRef* out = nullptr;
    const std::int32_t n = RmfFeatureRefSplit(r, Ref(kStreets, 0, 0, c.from, c.to, 0x8400), &out);
    ASSERT_EQ(n, static_cast<std::int32_t>(c.segments.size())) << c.from << "->" << c.to;
    ASSERT_EQ(out, r->splitRefs);
    for (std::int32_t i = 0; i < n; ++i) {
      EXPECT_EQ(out[i], Ref(kStreets, 0, 0, c.segments[i].first, c.segments[i].second, 0x4200));
      if (c.from != c.to) {
        EXPECT_EQ(RmfFeatureRefClassify(r, out[i]), kRmfRefPointOnSegment);
      }
    }
  }
  // A long line: the array grows.
  RmfFeatureRef* out = nullptr;
  ASSERT_EQ(RmfFeatureRefSplit(r, Ref(kLong, 0, 0, 999, 0), &out), 999);
  for (int i = 0; i < 999; ++i) ASSERT_EQ(out[i], Ref(kLong, 0, 0, 999 - i, 998 - i, 0x4200)) << i;
  EXPECT_GE(r->splitCapacity, 999);

  EXPECT_EQ(RmfFeatureRefSplit(r, Ref(kStreets, 0, 0, 2, 9), &out), kRmfBadReference) << "beyond the list";
  EXPECT_EQ(RmfFeatureRefSplit(r, Ref(kStreets, 0, 4, 0, 1), &out), kRmfBadReference) << "no such part";
  EXPECT_EQ(RmfFeatureRefSplit(r, Ref(kStreets, 4, 0, 0, 1), &out), kRmfBadReference) << "no such record";
  EXPECT_EQ(RmfFeatureRefSplit(r, Ref(0, 0, 0, 0, 1), &out), kRmfBadReference);
  EXPECT_EQ(RmfFeatureRefSplit(r, Ref(kStreets, 0, 0, 0, 1), nullptr), kRmfBadArgument);
}

// ---- attributes ------------------------------------------------------------------------------

struct Texts {
  std::string code, value, name;
  bool operator==(const Texts&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Texts& t) {
  return os << "[" << t.code << "|" << t.value << "|" << t.name << "]";
}

// All attributes one at a time, checking the count - index results.
std::vector<Texts> AttributesOf(RmfReader* r, const RmfFeatureRef& ref, std::int32_t* result = nullptr) {
  std::vector<Texts> out;
  char code[6];
  char value[51];
  char name[251];
  const std::int32_t first = RmfFeatureAttribute(r, ref, 0, code, value, name);
  if (result != nullptr) *result = first;
  if (first <= 0) return out;
  out.push_back({code, value, name});
  for (std::int32_t i = 1; i < first; ++i) {
    EXPECT_EQ(RmfFeatureAttribute(r, ref, i, code, value, name), first - i);
    out.push_back({code, value, name});
  }
  return out;
}

TEST_F(FeatureTest, AttributesOfStretchesAndPoints) {
  RmfReader* r = Streets();
  ASSERT_NE(r, nullptr);
  const Texts own{"151+", "Main St", "Main Street"};
  const Texts whole{"1+-+-", "oneway", "whole part"};
  const Texts speed{"9-", "speed", "30"};
  const Texts seg1{"1x", "seg1", "after p1"};
  const Texts tail{"1y", "tail", "after p3"};
  const Texts ownTurned{"151-", "Main St", "Main Street"};
  const Texts wholeTurned{"1+--+", "oneway", "whole part"};  // from the 4th character on

  struct Case {
    RmfFeatureRef ref;
    std::vector<Texts> expected;
  };
  const Case cases[] = {
      {Ref(kStreets, 0, 0, 2, 6), {own, whole, speed}},
      {Ref(kStreets, 0, 0, 2, 7, 0x8200), {own, whole, speed}},
      {Ref(kStreets, 0, 0, 6, 2), {ownTurned, wholeTurned, speed}},
      {Ref(kStreets, 0, 0, 3, 5, 0x4100), {own, whole, speed, seg1}},
      {Ref(kStreets, 0, 0, 6, 5, 0x4000), {ownTurned, wholeTurned, speed, tail}},
      {Ref(kStreets, 0, 0, 2, 3, 0x4000), {own, whole, speed}},  // nothing stored after p0
      {Ref(kStreets, 0, 1, 0, 2), {{"141", "Cross Rd", "Cross Road"}}},
  };
  for (const Case& c : cases) EXPECT_EQ(AttributesOf(r, c.ref), c.expected) << c.ref;

  // Index at the count leaves the outputs as they were.
  char code[6] = "abc";
  char value[51] = "def";
  char name[251] = "ghi";
  EXPECT_EQ(RmfFeatureAttribute(r, Ref(kStreets, 0, 0, 2, 6), 3, code, value, name), 0);
  EXPECT_EQ(RmfFeatureAttribute(r, Ref(kStreets, 0, 0, 2, 6), 999, code, value, name), 0);
  EXPECT_STREQ(code, "abc");
  EXPECT_STREQ(value, "def");
  EXPECT_STREQ(name, "ghi");
  EXPECT_EQ(RmfFeatureAttribute(r, Ref(kStreets, 0, 0, 2, 6), 2, code, value, name), 1);
  EXPECT_STREQ(value, "speed");

  EXPECT_EQ(RmfFeatureAttributeEx(r, Ref(kStreets, 0, 0, 2, 6), -1, code, value, name, 1), kRmfBadArgument);
  EXPECT_EQ(RmfFeatureAttributeEx(r, Ref(kStreets, 0, 0, 2, 6), 0, code, nullptr, name, 1), kRmfBadArgument);
  EXPECT_EQ(RmfFeatureAttributeEx(r, Ref(0, 0, 0, 2, 6), 0, code, value, name, 1), kRmfBadReference);
  EXPECT_EQ(r->lastError, kRmfBadReference);
  EXPECT_EQ(RmfFeatureAttributeEx(r, Ref(kStreets, 7, 0, 2, 6), 0, code, value, name, 1), kRmfBadReference);
  EXPECT_EQ(RmfFeatureAttributeEx(r, Ref(kStreets, 0, 5, 2, 6), 0, code, value, name, 1), kRmfBadReference);
  EXPECT_EQ(RmfFeatureAttributeEx(nullptr, Ref(kStreets, 0, 0, 2, 6), 0, code, value, name, 1), kRmfBadArgument);
  std::int32_t uses = -1;
  (void)RmfFeatureSlotUsage(r, nullptr, &uses);
  EXPECT_EQ(uses, 0);
}

TEST_F(FeatureTest, AllAttributesInPackedLists) {
  RmfReader* r = Streets();
  ASSERT_NE(r, nullptr);
  char codes[128];
  char values[1024];
  char names[1024];
  ASSERT_EQ(RmfFeatureAttributesAll(r, Ref(kStreets, 0, 0, 6, 5, 0x4000), codes, values, names), 4);
  EXPECT_EQ(std::string(codes, 17), std::string("151-\0" "1+--+\0" "9-\0" "1y\0", 17));
  EXPECT_EQ(std::string(values, 24), std::string("Main St\0oneway\0speed\0tail\0", 24));
  EXPECT_STREQ(names + std::strlen(names) + 1, "whole part");

  // The same into lists of exactly the room needed, and one byte short.
  const std::uint32_t codeBytes = 17;
  const std::uint32_t valueBytes = 26;
  const std::uint32_t nameBytes = 12 + 11 + 3 + 9;
  EXPECT_EQ(RmfFeatureAttributesAllBounded(r, Ref(kStreets, 0, 0, 6, 5, 0x4000), codes, codeBytes, values,
                                           valueBytes, names, nameBytes),
            4);
  for (int shortList = 0; shortList < 3; ++shortList) {
    std::memset(codes, 'x', sizeof codes);
    std::memset(values, 'x', sizeof values);
    std::memset(names, 'x', sizeof names);
    EXPECT_EQ(RmfFeatureAttributesAllBounded(r, Ref(kStreets, 0, 0, 6, 5, 0x4000), codes,
                                             codeBytes - (shortList == 0), values, valueBytes - (shortList == 1),
                                             names, nameBytes - (shortList == 2)),
              kRmfNoMemory);
    EXPECT_EQ(r->lastError, kRmfNoMemory);
    EXPECT_EQ(codes[0], '\0');
    EXPECT_EQ(values[0], '\0');
    EXPECT_EQ(names[0], '\0');
    EXPECT_EQ(codes[codeBytes], 'x') << "nothing beyond the list";
    EXPECT_EQ(names[nameBytes], 'x');
  }
  std::memset(codes, 'x', sizeof codes);
  EXPECT_EQ(RmfFeatureAttributesAll(r, Ref(kStreets, 3, 0, 2, 6), codes, values, names), kRmfBadReference);
  EXPECT_EQ(codes[0], '\0') << "a failure leaves empty lists";
  EXPECT_EQ(RmfFeatureAttributesAll(r, Ref(kStreets, 0, 0, 2, 6), nullptr, values, names), kRmfBadArgument);
  EXPECT_EQ(RmfFeatureAttributesAllBounded(r, Ref(kStreets, 0, 0, 2, 6), codes, 0, values, 10, names, 10),
            kRmfBadArgument);
}

TEST_F(FeatureTest, AttributeSetsOfPartsAndSegments) {
  RmfReader* r = Streets();
  ASSERT_NE(r, nullptr);
  Held h(r, Ref(kStreets, 0, 0, 0, 0));
  ASSERT_EQ(h.result(), 1);
  RmfFeature* s = h.slot();
  auto set = std::make_unique<RmfAttrSet>();

  ASSERT_EQ(RmfFeatureSelectPart(s, 0, 1, set.get()), 0);
  EXPECT_EQ(set->reference, Ref(kStreets, 0, 0, 2, 7));
  ASSERT_EQ(set->count, 3);
  EXPECT_STREQ(set->entries[0].code, "151+");
  EXPECT_EQ(set->entries[0].codeLength, 4u);
  EXPECT_STREQ(set->entries[1].name, "whole part");
  EXPECT_EQ(set->entries[1].nameLength, 10u);
  EXPECT_STREQ(set->entries[2].value, "speed");
  EXPECT_EQ(set->entries[2].valueLength, 5u);

  // A node step describes the segment between its start and the vertex it
  // found by what is stored after the segment's lower vertex.
  std::int32_t found = -1;
  EXPECT_EQ(RmfFeatureNextNode(s, 0, 3, 1, &found, set.get()), 2);
  EXPECT_EQ(found, 5);
  EXPECT_EQ(set->reference, Ref(kStreets, 0, 0, 3, 5, 0x4000));
  ASSERT_EQ(set->count, 1);
  EXPECT_STREQ(set->entries[0].code, "1x");
  EXPECT_EQ(RmfFeatureNextNode(s, 0, 5, -1, &found, set.get()), 1);
  EXPECT_EQ(set->reference, Ref(kStreets, 0, 0, 3, 5, 0x4000));
  EXPECT_EQ(set->count, 1);
  EXPECT_EQ(RmfFeatureNextNode(s, 0, 2, 1, &found, set.get()), 1);
  EXPECT_EQ(set->reference, Ref(kStreets, 0, 0, 2, 3, 0x4000));
  EXPECT_EQ(set->count, 0) << "nothing stored after p0";
  // Starts outside the vertex range, and ends of the list, give empty sets.
  set->count = 5;
  EXPECT_EQ(RmfFeatureNextNode(s, 0, -1, 1, &found, set.get()), 0);
  EXPECT_EQ(set->count, 0);
  EXPECT_EQ(set->reference, RmfFeatureRef{});
  set->count = 5;
  EXPECT_EQ(RmfFeatureNextNode(s, 0, 6, 1, &found, set.get()), -1);
  EXPECT_EQ(set->count, 0);

  // Begin and next directly, on a slot that holds another record: refused.
  RmfAttrIter it;
  EXPECT_EQ(RmfFeatureAttrBegin(r, 1, Ref(kWide, 0, 0, 0, 1), s, &it), kRmfBadArgument);
  EXPECT_EQ(RmfFeatureAttrBegin(r, 1, Ref(kStreets, 0, 0, 2, 6), nullptr, &it), kRmfBadArgument);
  ASSERT_EQ(RmfFeatureAttrBegin(r, 1, Ref(kStreets, 0, 2, 0, 2), s, &it), 0);
  RmfAttrEntry e;
  EXPECT_EQ(RmfFeatureAttrNext(&it, &e), 1);
  EXPECT_STREQ(e.name, "Loop Lane");
  EXPECT_EQ(RmfFeatureAttrNext(&it, &e), 0);
  EXPECT_EQ(RmfFeatureAttrNext(&it, &e), 0);
  EXPECT_EQ(it.count, 1);
  EXPECT_EQ(RmfFeatureAttrNext(&it, nullptr), kRmfBadArgument);
}

// Eighty attributes fill a set; one more is refused, never written.
TEST_F(FeatureTest, AttributeSetsHoldEightyEntries) {
  RmfReader* r = NewReader();
  ASSERT_NE(r, nullptr);
  MapDescription d;
  Tile t = Tile::WithId(500);
  Record rec;
  rec.points = {{0, 0}, {10, 10}};
  for (int extra : {79, 80}) {
    std::vector<VertexWord> words;
    for (int i = 0; i < extra; ++i) words.push_back(A("9" + std::to_string(i % 10), "v" + std::to_string(i), ""));
    words.push_back(P(0));
    words.push_back(P(1));
    rec.parts.push_back(MakePart({"151", "many", ""}, words));
  }
  t.records.push_back(rec);
  d.tiles.push_back(t);
  Add(r, d);
  Held h(r, Ref(500, 0, 0, 0, 0));
  ASSERT_EQ(h.result(), 1);
  auto set = std::make_unique<RmfAttrSet>();
  ASSERT_EQ(RmfFeatureSelectPart(h.slot(), 0, 1, set.get()), 0);
  EXPECT_EQ(set->count, 80);
  EXPECT_STREQ(set->entries[79].value, "v78");
  EXPECT_EQ(RmfFeatureSelectPart(h.slot(), 1, 1, set.get()), kRmfMalformed);
  EXPECT_EQ(set->count, 0);
  EXPECT_EQ(set->reference, RmfFeatureRef{});
  // Enumerating one at a time has no such limit.
  std::int32_t count = 0;
  AttributesOf(r, Ref(500, 0, 1, 80, 81), &count);
  EXPECT_EQ(count, 81);
}

// Texts wider than an entry holds are refused, never cut or written beyond
// the entry.
TEST_F(FeatureTest, OversizedTextsAreRefused) {
  RmfReader* r = NewReader();
  ASSERT_NE(r, nullptr);
  MapDescription d;
  d.checkTexts = false;
  Tile t = Tile::WithId(600);
  Record rec;
  rec.points = {{0, 0}, {10, 10}};
  const std::string name250(250, 'n');
  const std::string value50(50, 'v');
  rec.parts.push_back(MakePart({"15111", value50, name250}, {P(0), P(1)}));      // widest that fits
  rec.parts.push_back(MakePart({"151111", "x", "y"}, {P(0), P(1)}));              // code of 6
  rec.parts.push_back(MakePart({"151", value50 + "v", "y"}, {P(0), P(1)}));       // value of 51
  rec.parts.push_back(MakePart({"151", "x", name250 + "n"}, {P(0), P(1)}));       // name of 251
  rec.parts.push_back(MakePart({"151", "x", "y"}, {A("1", "x", name250 + "nn"), P(0), P(1)}));
  t.records.push_back(rec);
  d.tiles.push_back(t);
  Add(r, d);

  char code[6];
  char value[51];
  char name[251];
  ASSERT_EQ(RmfFeatureAttribute(r, Ref(600, 0, 0, 0, 1), 0, code, value, name), 1);
  EXPECT_EQ(std::string(name), name250);
  EXPECT_EQ(std::string(value), value50);
  for (std::uint16_t part = 1; part <= 4; ++part) {
    EXPECT_EQ(RmfFeatureAttribute(r, Ref(600, 0, part, part == 4 ? 1 : 0, part == 4 ? 2 : 1), 0, code, value, name),
              kRmfMalformed)
        << part;
    EXPECT_EQ(r->lastError, kRmfMalformed);
  }
}

// ---- geometry --------------------------------------------------------------------------------

TEST(FeatureGeometry, InterpolateRoundsHalfAwayFromTheStart) {
  EXPECT_EQ(RmfInterpolate(0, 2048, 512), 1024);
  EXPECT_EQ(RmfInterpolate(100, 0, 1), 100);
  EXPECT_EQ(RmfInterpolate(0, 1, 512), 1) << "a half rounds away from a";
  EXPECT_EQ(RmfInterpolate(1, 0, 512), 0);
  EXPECT_EQ(RmfInterpolate(-7, 9, 0), -7);
  EXPECT_EQ(RmfInterpolate(-7, 9, 1024), 9);
  EXPECT_EQ(RmfInterpolate(INT32_MIN, INT32_MAX, 1024), INT32_MAX);
  EXPECT_EQ(RmfInterpolate(INT32_MAX, INT32_MIN, 1024), INT32_MIN);
  EXPECT_EQ(RmfInterpolate(INT32_MIN, INT32_MAX, 512), 0);
  EXPECT_EQ(RmfInterpolate(5, 500, -3), 5) << "fractions are held to 0..1024";
  EXPECT_EQ(RmfInterpolate(5, 500, 5000), 500);

  std::mt19937 rng(20240611);
  std::uniform_int_distribution<std::int32_t> coordinate(INT32_MIN, INT32_MAX);
  std::uniform_int_distribution<std::int32_t> fraction(0, 1024);
  for (int i = 0; i < 20000; ++i) {
    const std::int32_t a = coordinate(rng);
    const std::int64_t near = std::int64_t{a} + static_cast<std::int64_t>(rng() % 0x400000) - 0x200000;
    const std::int32_t b = i % 2 == 0 ? coordinate(rng)
                                      : static_cast<std::int32_t>(std::clamp<std::int64_t>(near, INT32_MIN, INT32_MAX));
    const std::int32_t f = fraction(rng);
    const long double exact = static_cast<long double>(std::abs(static_cast<long double>(b) - a)) * f / 1024.0L;
    const auto m = static_cast<std::int64_t>(std::floor(exact + 0.5L));
    const std::int64_t expected = b >= a ? std::int64_t{a} + m : std::int64_t{a} - m;
    ASSERT_EQ(RmfInterpolate(a, b, f), expected) << a << " " << b << " " << f;
  }
}

TEST_F(FeatureTest, PointsOfReferencesAreCutAtTheirFraction) {
  RmfReader* r = Streets();
  ASSERT_NE(r, nullptr);
  const TiPoint mid01{1050, 2000};
  struct Case {
    RmfFeatureRef ref;
    std::vector<TiPoint> expected;
  };
  const Case cases[] = {
      {Ref(kStreets, 0, 0, 2, 3, 512), {kP[0], mid01}},
      {Ref(kStreets, 0, 0, 2, 3, 0x8200), {mid01, kP[1]}},
      {Ref(kStreets, 0, 0, 3, 2, 512), {kP[1], mid01}},
      {Ref(kStreets, 0, 0, 3, 2, 0x8200), {mid01, kP[0]}},
      {Ref(kStreets, 0, 0, 2, 3, 256), {kP[0], {1025, 2000}}},
      {Ref(kStreets, 0, 0, 2, 3, 0), {kP[0], kP[0]}},          // collapsed to its start
      {Ref(kStreets, 0, 0, 2, 3, 0x8000), {kP[1], kP[1]}},     // reversed: to the second point
      {Ref(kStreets, 0, 0, 2, 3, 1024), {kP[0], kP[1]}},
      {Ref(kStreets, 0, 0, 2, 3, 0x2400), {kP[0], kP[1]}},     // the heading mark is no fraction
      {Ref(kStreets, 0, 0, 2, 3, 0x4200), {kP[0], kP[1]}},     // points are not cut
      {Ref(kStreets, 0, 0, 2, 6, 512), {kP[0], kP[1], kP[2], kP[3]}},
      {Ref(kStreets, 0, 0, 2, 7), {kP[0], kP[1], kP[2], kP[3]}},  // the whole part
      {Ref(kStreets, 0, 0, 7, 2), {kP[3], kP[2], kP[1], kP[0]}},
      {Ref(kStreets, 0, 0, 0, 3), {kP[0], kP[1]}},                // from an attribute word
      {Ref(kStreets, 0, 0, 3, 4), {kP[1], kP[2]}},                // to an attribute word: the next vertex
      {Ref(kStreets, 0, 0, 5, 5), {kP[2]}},
      {Ref(kStreets, 0, 0, 4, 4), {}},
      {Ref(kStreets, 0, 2, 0, 2), {kP[2], kP[6], kP[2]}},
      {Ref(kStreets, 1, 0, 2, 0), {kQ[2], kQ[1], kQ[0]}},
  };
  for (const Case& c : cases) {
    std::int32_t n = -99;
    const std::vector<TiPoint> got = PointsOf(r, c.ref, &n);
    EXPECT_EQ(n, static_cast<std::int32_t>(c.expected.size())) << c.ref;
    EXPECT_EQ(got, c.expected) << c.ref;
  }
  TiPoint* points = nullptr;
  r->lastError = 0;
  EXPECT_EQ(RmfFeatureRefPoints(r, Ref(kStreets, 0, 0, 2, 8), &points), -1) << "to beyond the list";
  EXPECT_EQ(r->lastError, 0) << "the last error is not touched";
  EXPECT_EQ(RmfFeatureRefPoints(r, Ref(kStreets, 0, 0, 2, 3, 0x0401), &points), kRmfBadReference);
  EXPECT_EQ(RmfFeatureRefPoints(r, Ref(kStreets, 0, 3, 0, 1), &points), kRmfBadReference);
  EXPECT_EQ(RmfFeatureRefPoints(r, Ref(kStreets, 6, 0, 0, 1), &points), kRmfBadReference);
  EXPECT_EQ(RmfFeatureRefPoints(r, Ref(0, 0, 0, 0, 1), &points), kRmfBadReference);
  EXPECT_EQ(r->lastError, kRmfBadReference);
  EXPECT_EQ(RmfFeatureRefPoints(r, Ref(kStreets, 0, 0, 2, 3), nullptr), kRmfBadArgument);
  EXPECT_EQ(RmfFeatureRefPoints(nullptr, Ref(kStreets, 0, 0, 2, 3), &points), kRmfBadArgument);
}

// The query hands out lines in runs of at most 501 points; their references
// fit the 510-point buffers, longer stretches are refused.
TEST_F(FeatureTest, LongStretchesAndThePointBuffers) {
  RmfReader* r = Streets();
  ASSERT_NE(r, nullptr);
  struct Case {
    std::uint16_t from, to;
    std::int32_t count;
  };
  const Case cases[] = {{0, 500, 501}, {500, 999, 500}, {0, 509, 510}, {509, 0, 510},
                        {0, 510, kRmfNoMemory},  {999, 0, kRmfNoMemory},    {0, 999, kRmfNoMemory}};
  for (const Case& c : cases) {
    std::int32_t n = 0;
    const std::vector<TiPoint> got = PointsOf(r, Ref(kLong, 0, 0, c.from, c.to), &n);
    ASSERT_EQ(n, c.count) << c.from << "->" << c.to;
    if (n < 0) {
      EXPECT_EQ(r->lastError, kRmfNoMemory);
      continue;
    }
    const int step = c.to > c.from ? 1 : -1;
    for (int i = 0; i < n; ++i) ASSERT_EQ(got[i], LongPoint(c.from + step * i)) << i;
    double* degrees = nullptr;
    ASSERT_EQ(RmfFeaturePoints(r, Ref(kLong, 0, 0, c.from, c.to), &degrees), n);
    EXPECT_EQ(degrees, r->featureDegrees);
    EXPECT_DOUBLE_EQ(degrees[2 * (n - 1)], LongPoint(c.to).x * 1.341104507446289e-6);
  }
}

TEST_F(FeatureTest, DegreesOfPoints) {
  RmfReader* r = Streets();
  ASSERT_NE(r, nullptr);
  double* degrees = nullptr;
  ASSERT_EQ(RmfFeaturePoints(r, Ref(kStreets, 1, 0, 0, 2), &degrees), 3);
  EXPECT_DOUBLE_EQ(degrees[0], -180.0);
  EXPECT_DOUBLE_EQ(degrees[1], -90.0);
  EXPECT_DOUBLE_EQ(degrees[2], 180.0);
  EXPECT_DOUBLE_EQ(degrees[3], 90.0);
  EXPECT_DOUBLE_EQ(degrees[4], -134217000 * 1.341104507446289e-6);
  ASSERT_EQ(RmfFeaturePoints(r, Ref(kStreets, 0, 0, 2, 3, 512), &degrees), 2);
  EXPECT_DOUBLE_EQ(degrees[2], 1050 * 360.0 / 268435456.0);
  EXPECT_EQ(RmfFeaturePoints(r, Ref(kStreets, 0, 0, 2, 3), nullptr), kRmfBadArgument);
  EXPECT_EQ(RmfFeaturePoints(r, Ref(kLong, 0, 0, 0, 999), &degrees), kRmfNoMemory);
}

TEST_F(FeatureTest, RefPointGivesThePointAtTheFraction) {
  RmfReader* r = Streets();
  ASSERT_NE(r, nullptr);
  struct Case {
    RmfFeatureRef ref;
    std::int32_t result;
    TiPoint point;
  };
  const Case cases[] = {
      {Ref(kStreets, 0, 0, 2, 3, 0x4000), 0, kP[0]},        // fraction 0: the first vertex exactly
      {Ref(kStreets, 0, 0, 2, 3, 0x4200), 0, {1050, 2000}},
      {Ref(kStreets, 0, 0, 2, 3, 0x4400), 0, kP[1]},
      {Ref(kStreets, 0, 0, 3, 2, 0x4100), 0, {1075, 2000}},
      {Ref(kStreets, 0, 0, 3, 5, 0x4300), 0, {1100, 2075}},  // across an attribute word
      {Ref(kStreets, 0, 0, 2, 3, 0x0400), 0, kP[1]},         // whole segment: its end
      {Ref(kStreets, 0, 0, 2, 3, 0xC400), 0, kP[0]},
      // A stretch to the fraction and its reverse designate the same point,
      // the fraction of the segment.
      {Ref(kStreets, 0, 0, 2, 3, 0x0100), 0, {1025, 2000}},
      {Ref(kStreets, 0, 0, 3, 2, 0x8100), 0, {1025, 2000}},
      {Ref(kStreets, 0, 0, 2, 5, 0x0400), kRmfBadReference, {}},          // several segments
      {Ref(kStreets, 0, 0, 2, 5, 0x4200), kRmfBadReference, {}},
      {Ref(kStreets, 0, 0, 2, 3, 0x6200), kRmfBadReference, {}},          // the heading mark is not cleared
      {Ref(kStreets, 0, 0, 2, 2, 0x4000), kRmfBadReference, {}},
      {Ref(kStreets, 0, 9, 0, 1, 0x4000), kRmfBadReference, {}},
  };
  for (const Case& c : cases) {
    TiPoint p{-1, -1};
    EXPECT_EQ(RmfFeatureRefPoint(r, &c.ref, &p), c.result) << c.ref;
    if (c.result == 0) {
      EXPECT_EQ(p, c.point) << c.ref;
    }
  }
  const RmfFeatureRef ok = Ref(kStreets, 0, 0, 2, 3, 0x4200);
  EXPECT_EQ(RmfFeatureRefPoint(r, &ok, nullptr), 0);
  EXPECT_EQ(RmfFeatureRefPoint(r, nullptr, nullptr), kRmfBadArgument);
  EXPECT_EQ(RmfFeatureRefPoint(nullptr, &ok, nullptr), kRmfBadArgument);
  // Reversing a point reference keeps the point where it is.
  RmfFeatureRef turned{};
  ASSERT_EQ(RmfFeatureRefReverse(r, Ref(kStreets, 0, 0, 2, 3, 0x4100), &turned), 1);
  TiPoint a{};
  TiPoint b{};
  const RmfFeatureRef forward = Ref(kStreets, 0, 0, 2, 3, 0x4100);
  ASSERT_EQ(RmfFeatureRefPoint(r, &forward, &a), 0);
  ASSERT_EQ(RmfFeatureRefPoint(r, &turned, &b), 0);
  EXPECT_EQ(a, b);
}

// Segments across the whole coordinate range, in both directions: the large
// differences are scaled without overflow, negative ones included, and the
// two directions give mirrored points.
TEST_F(FeatureTest, RefPointNearTheCoordinateLimits) {
  RmfReader* r = Streets();
  ASSERT_NE(r, nullptr);
  for (std::uint16_t f : {1, 7, 8, 255, 256, 511, 512, 513, 1000, 1023}) {
    const RmfFeatureRef up = Ref(kStreets, 1, 0, 0, 1, static_cast<std::uint16_t>(0x4000 | f));
    const RmfFeatureRef down = Ref(kStreets, 1, 0, 1, 0, static_cast<std::uint16_t>(0x4000 | f));
    TiPoint a{};
    TiPoint b{};
    ASSERT_EQ(RmfFeatureRefPoint(r, &up, &a), 0) << f;
    ASSERT_EQ(RmfFeatureRefPoint(r, &down, &b), 0) << f;
    EXPECT_EQ(a.x, -b.x) << f;
    EXPECT_EQ(a.y, -b.y) << f;
    // Within f units of the exact point (the large difference is divided
    // before it is multiplied).
    const double exactX = kMin27 + (2.0 * kMax27) * f / 1024.0;
    const double exactY = kMin26 + (2.0 * kMax26) * f / 1024.0;
    EXPECT_LE(std::abs(a.x - exactX), f) << f;
    EXPECT_LE(std::abs(a.y - exactY), f) << f;
    EXPECT_GE(a.x, kMin27);
    EXPECT_LE(a.x, kMax27);
  }
  TiPoint mid{};
  const RmfFeatureRef half = Ref(kStreets, 1, 0, 1, 0, 0x4200);
  ASSERT_EQ(RmfFeatureRefPoint(r, &half, &mid), 0);
  EXPECT_EQ(mid, (TiPoint{0, 0}));
  // A small difference with a large one: y of q2 -> q1 differs by 864.
  const RmfFeatureRef small = Ref(kStreets, 1, 0, 2, 1, 0x4000 | 300);
  ASSERT_EQ(RmfFeatureRefPoint(r, &small, &mid), 0);
  EXPECT_EQ(mid.y, 67108000 + 864 * 300 / 1024);
  const RmfFeatureRef smallBack = Ref(kStreets, 1, 0, 1, 2, 0x4000 | 300);
  ASSERT_EQ(RmfFeatureRefPoint(r, &smallBack, &mid), 0);
  EXPECT_EQ(mid.y, kMax26 - 864 * 300 / 1024);
}

// ---- limits and damage ----------------------------------------------------------------------

TEST_F(FeatureTest, PartsBeyondTheNodeWordLimitsAreRefused) {
  RmfReader* r = Streets();
  ASSERT_NE(r, nullptr);
  {
    Held h(r, Ref(kLong, 0, 0, 0, 0));
    ASSERT_EQ(h.result(), 1);
    RmfFeature* s = h.slot();
    EXPECT_EQ(RmfFeatureWordCount(s, 0), 1000);
    EXPECT_EQ(RmfFeatureWordCount(s, 1), kRmfBadReference) << "8193 words: a position needs 14 bits";
    EXPECT_EQ(RmfFeatureSelectPart(s, 1, 0, nullptr), kRmfBadReference);
    EXPECT_EQ(RmfFeatureNextNode(s, 1, -1, 1, nullptr, nullptr), kRmfBadReference);
    EXPECT_EQ(RmfFeatureWordCount(s, 2), 8192);
    EXPECT_EQ(s->lastPosition, 0x1FFF);
    std::int32_t parts[8];
    EXPECT_EQ(RmfFeaturePartsAtPoint(s, 5, parts, 8), 1 + 9) << "part 0 once, part 2 nine times, part 1 left out";
  }
  RmfFeatureRef out{};
  EXPECT_EQ(RmfFeatureRefWhole(r, Ref(kLong, 0, 1, 0, 5), &out), kRmfBadReference);
  EXPECT_EQ(RmfFeatureRefClassify(r, Ref(kLong, 0, 1, 0, 1)), kRmfBadReference);
  TiPoint* points = nullptr;
  EXPECT_EQ(RmfFeatureRefPoints(r, Ref(kLong, 0, 1, 0, 1), &points), kRmfBadReference);
  ASSERT_EQ(RmfFeatureRefWhole(r, Ref(kLong, 0, 2, 0, 5), &out), 1);
  EXPECT_EQ(out.toVertex, 0x1FFF);
  // A part index that a node word cannot hold never names a part.
  ASSERT_EQ(RmfFeatureRefFromIds(r, 1, kLong, 0x4000, 0x00000001, &out), 1);
  EXPECT_EQ(RmfFeatureRefWhole(r, out, &out), kRmfBadReference);
}

// A record stays pinned while a slot holds it: the cache may evict every
// other record around it, the held bytes stay.
TEST_F(FeatureTest, HeldRecordsSurviveCachePressure) {
  RmfReader* r = NewReader(kRmfReadBufferBytes + 96 * 1024);
  ASSERT_NE(r, nullptr);
  RmfReaderSetWindowFactor(r, 0);
  const BuildResult grid = Add(r, rmfbuild::GenerateGrid(8, 60, 3, 17));
  ASSERT_GE(grid.layout.records.size(), 100u);
  const rmfbuild::RecordPlacement& kept = grid.layout.records[grid.layout.records.size() / 2];
  Held h(r, Ref(kept.tileId, kept.sequence, 0, 0, 0));
  ASSERT_EQ(h.result(), 1);
  const std::uint8_t* bytes = h.slot()->record;
  for (int round = 0; round < 3; ++round) {
    for (const rmfbuild::RecordPlacement& placed : grid.layout.records) {
      Held other(r, Ref(placed.tileId, placed.sequence, 0, 0, 0));
      if (other.result() == 1) {
        ASSERT_EQ(Bytes(other.slot()->record, other.slot()->record + other.slot()->recordLength), placed.record);
      }
    }
  }
  EXPECT_LT(TiBtiNNodes(&r->sources[0]->recordCache.tree), static_cast<std::int32_t>(grid.layout.records.size()))
      << "the arena is too large to evict anything";
  EXPECT_EQ(h.slot()->record, bytes);
  EXPECT_EQ(Bytes(bytes, bytes + h.slot()->recordLength), kept.record);
  EXPECT_EQ(Pins(r, h.slot()), 1);
  std::string fault;
  EXPECT_TRUE(rmf::detail::TagArenaCheck(r->arena, nullptr, nullptr, &fault)) << fault;
}

// The slots check what they read themselves, not only what the source
// checked before caching: a cached record damaged behind the source's back
// is refused, never read outside.
TEST_F(FeatureTest, SlotsCheckTablesAgainstTheRecord) {
  RmfReader* r = Streets();
  ASSERT_NE(r, nullptr);
  RmfFeature* s = nullptr;
  ASSERT_EQ(RmfFeatureFetch(r, Ref(kStreets, 0, 0, 0, 0), &s, nullptr), 1);
  std::uint8_t* record = s->record;
  std::uint8_t* entry = record + rmfbuild::GetU16(Bytes(record, record + 58), rmfbuild::kRecEntryTable) + 10;
  const Bytes saved(record, record + s->recordLength);
  struct Damage {
    std::size_t at;
    std::uint16_t value;
    std::int32_t result;
  };
  const Damage damages[] = {
      {6, 0x7fff, kRmfMalformed},     // part 1's words start far beyond the record
      {8, 0x1000, kRmfMalformed},     // 4096 words do not fit
      {4, 0xfff0, kRmfMalformed},     // its text lies beyond the record
      {8, 0x2001, kRmfBadReference},  // beyond the node-word limit
  };
  for (const Damage& d : damages) {
    const std::uint16_t old = static_cast<std::uint16_t>(entry[d.at] | (entry[d.at + 1] << 8));
    entry[d.at] = static_cast<std::uint8_t>(d.value);
    entry[d.at + 1] = static_cast<std::uint8_t>(d.value >> 8);
    s->currentPart = -1;
    EXPECT_EQ(RmfFeatureSelectPart(s, 1, 1, nullptr), d.result) << d.at;
    EXPECT_EQ(RmfFeatureWordCount(s, 1), d.result);
    std::int32_t list[4];
    EXPECT_EQ(RmfFeaturePartsAtPoint(s, 2, list, 4), 3) << "part 1 is left out";
    entry[d.at] = static_cast<std::uint8_t>(old);
    entry[d.at + 1] = static_cast<std::uint8_t>(old >> 8);
  }
  (void)RmfFeatureRelease(s);

  // A header whose tables leave the record is refused at the fetch.
  for (const std::size_t at : {rmfbuild::kRecPointCount, rmfbuild::kRecEntryCount, rmfbuild::kRecTextBase}) {
    record[at] = 0xff;
    record[at + 1] = 0xff;
    EXPECT_EQ(RmfFeatureFetch(r, Ref(kStreets, 0, 0, 0, 0), &s, nullptr), 0) << at;
    std::copy(saved.begin(), saved.end(), record);
  }
  ASSERT_EQ(RmfFeatureFetch(r, Ref(kStreets, 0, 0, 0, 0), &s, nullptr), 1);
  EXPECT_EQ(RmfFeatureWordCount(s, 1), 3);
  (void)RmfFeatureRelease(s);
}

// Every function over damaged records: bytes changed at random in valid
// records, cut records and stored garbage. Nothing may crash or read outside
// a record (the sanitizer build checks); every fetch is released.
TEST_F(FeatureTest, DamagedRecordsNeverCrash) {
  const std::uint32_t seed = 4711;
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  const MapDescription base = StreetMap();
  std::vector<Bytes> originals;
  for (const Record& rec : base.tiles[0].records) {
    auto encoded = rmfbuild::EncodeRecord(rec, false, false, kStreets);
    ASSERT_TRUE(encoded.has_value());
    originals.push_back(*encoded);
  }
  auto set = std::make_unique<RmfAttrSet>();
  int fetched = 0;
  int refused = 0;
  constexpr std::uint32_t kTiles = 5;
  for (int round = 0; round < 400; ++round) {
    // One record per tile, so that a record the source refuses does not
    // hide the ones behind it.
    MapDescription d;
    for (std::uint32_t k = 0; k < kTiles; ++k) {
      Tile t = Tile::WithId(kStreets + k);
      Bytes b = originals[rng() % originals.size()];
      const int mode = static_cast<int>(rng() % 6);
      if (mode == 5) {
        Bytes garbage(2 + rng() % 120);
        for (auto& x : garbage) x = static_cast<std::uint8_t>(rng());
        rmfbuild::PutU16(garbage, 0, static_cast<std::uint16_t>(garbage.size()));
        t.records.push_back(Record::Stored(garbage));
      } else {
        const int changes = 1 + static_cast<int>(rng() % 3);
        for (int c = 0; c < changes; ++c) {
          // Often the header and tables, where offsets and counts live.
          const std::size_t where = mode == 0 ? 3 + rng() % 55 : 2 + rng() % (b.size() - 2);
          b[where] = static_cast<std::uint8_t>(rng());
        }
        t.records.push_back(Record::Raw(b, true));
      }
      d.tiles.push_back(t);
    }
    rmfbuild::MemoryReader maps(1u << 20);
    RmfReader* r = maps.reader();
    ASSERT_NE(r, nullptr);
    BuildResult built;
    const std::int32_t sources = maps.AddMap(d, &built);
    ASSERT_TRUE(built.ok) << built.error;
    if (sources < 1) continue;

    for (std::uint32_t tile = kStreets; tile < kStreets + kTiles; ++tile) {
      const std::uint16_t second = 0;
      RmfFeature* s = nullptr;
      if (RmfFeatureFetch(r, Ref(tile, second, 0, 0, 0), &s, nullptr) != 1) {
        ++refused;
        continue;
      }
      ++fetched;
      const std::int32_t parts = RmfFeaturePartCount(s);
      const std::int32_t points = RmfFeaturePointCount(s);
      ASSERT_GE(parts, 0);
      ASSERT_GE(points, 0);
      for (int call = 0; call < 40; ++call) {
        const auto part = static_cast<std::int32_t>(rng() % (parts + 3)) - 1;
        const std::int32_t words = std::max(RmfFeatureWordCount(s, part), 0);
        const auto position = static_cast<std::int32_t>(rng() % (words + 4)) - 2;
        std::int32_t found = 0;
        std::int32_t list[4];
        TiPoint p;
        // What the calls answer does not matter here, only that they answer
        // without reading outside the record.
        (void)RmfFeatureSelectPart(s, part, 1, rng() % 2 == 0 ? set.get() : nullptr);
        (void)RmfFeatureNodeAt(s, part, position);
        (void)RmfFeatureNextNode(s, part, position, rng() % 2 == 0 ? 1 : -1, &found, set.get());
        (void)RmfFeatureFindWord(s, part, static_cast<std::int32_t>(rng() % 8), position, rng() % 2 == 0 ? 1 : -1);
        (void)RmfFeaturePointAt(s, static_cast<std::int32_t>(rng() % (points + 2)) - 1, &p);
        (void)RmfFeaturePartsAtPoint(s, static_cast<std::int32_t>(rng() % (points + 1)), list, 4);
        (void)RmfFeaturePositionsOfPoint(s, part, static_cast<std::int32_t>(rng() % (points + 1)), list, 4);

        const auto from = static_cast<std::uint16_t>(rng() % (words + 3));
        const auto to = static_cast<std::uint16_t>(rng() % (words + 3));
        const std::uint16_t positions[] = {1024, 0x4200, 0x8100, 0x0200, 0x4000, 0xC400};
        const RmfFeatureRef ref =
            Ref(tile, second, static_cast<std::uint16_t>(std::max(part, 0)), from, to, positions[rng() % 6]);
        RmfFeatureRef out;
        RmfFeatureRef* split = nullptr;
        TiPoint* pts = nullptr;
        double* degrees = nullptr;
        char codes[256];
        char values[256];
        char names[1024];
        (void)RmfFeatureRefWhole(r, ref, &out);
        (void)RmfFeatureRefClassify(r, ref);
        (void)RmfFeatureRefSplit(r, ref, &split);
        (void)RmfFeatureRefPoints(r, ref, &pts);
        (void)RmfFeaturePoints(r, ref, &degrees);
        (void)RmfFeatureRefPoint(r, &ref, &p);
        (void)RmfFeatureAttribute(r, ref, static_cast<std::int32_t>(rng() % 4), codes, values, names);
        (void)RmfFeatureAttributesAllBounded(r, ref, codes, sizeof codes, values, sizeof values, names,
                                             sizeof names);
      }
      EXPECT_EQ(RmfFeatureRelease(s), 1);
    }
    std::int32_t uses = -1;
    (void)RmfFeatureSlotUsage(r, nullptr, &uses);
    ASSERT_EQ(uses, 0) << "round " << round;
  }
  // Damage must leave some records readable and make others unreadable,
  // or the test proves nothing.
  EXPECT_GT(fetched, 100);
  EXPECT_GT(refused, 100);
}

}  // namespace
