// Tests of the map reader and its sources over map files written by the
// builder: the file pool and its eviction order, opening files and the
// result codes of everything that can be wrong with them, tile records read
// back through walks and lookups (plain and compressed, small and large
// arenas, every window size), the index edge cases, and files damaged on
// purpose, which must give absent records and a read error, never a crash or
// a hang.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "mapengine/format/store/RmfReader.h"
#include "mapengine/format/store/RmfSourceInternal.h"
#include "mapengine/format/store/RmfTagArena.h"
#include "platform/os/device.h"
#include "tests/support/temp_folder.h"
#include "tools/rmfbuild/RmfBuilder.h"
#include "tools/rmfbuild/RmfMemoryReader.h"

namespace {

namespace fs = std::filesystem;
using rmfbuild::BuildResult;
using rmfbuild::MapDescription;
using Bytes = std::vector<std::uint8_t>;
using RecordId = std::pair<std::uint32_t, std::uint16_t>;  // tile id, sequence

constexpr std::uint32_t kLargeArena = 16u << 20;
constexpr std::uint32_t kSmallArena = 2u << 20;
constexpr std::uint32_t kNoTile = 0xFFFFFFFFu;

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

Bytes RecordBytes(const std::uint8_t* record) { return Bytes(record, record + U16(record)); }

std::map<RecordId, Bytes> ExpectedRecords(const BuildResult& built) {
  std::map<RecordId, Bytes> out;
  for (const auto& r : built.layout.records) out[{r.tileId, r.sequence}] = r.record;
  return out;
}

BuildResult MustBuild(const MapDescription& d) {
  BuildResult b = rmfbuild::Build(d);
  EXPECT_TRUE(b.ok) << b.error;
  return b;
}

// A record without points or parts: the builder gives it the tile's rectangle.
rmfbuild::Tile EmptyRecordTile(std::uint32_t id, int records = 1) {
  rmfbuild::Tile t = rmfbuild::Tile::WithId(id);
  for (int i = 0; i < records; ++i) t.records.push_back(rmfbuild::Record{});
  return t;
}

struct Walked {
  std::vector<RecordId> order;
  std::map<RecordId, Bytes> records;
  bool ended = false;
  int duplicates = 0;
};

// Walks every record of the source over `rect` and the levels 1..8, for at
// most `maxCalls` calls (a walk that needs more has hung).
Walked Walk(RmfSource* source, const TiRect& rect, int maxCalls) {
  Walked w;
  RmfSrcSetRect(source, rect.x1, rect.y1, rect.x2, rect.y2);
  RmfSrcF5(source, 1, 8);
  RmfSrcStartQuery(source);
  for (int i = 0; i < maxCalls; ++i) {
    std::uint8_t* record = RmfSrcLoadBlock(source);
    if (record == nullptr) {
      w.ended = true;
      break;
    }
    const RecordId id{source->recordTile, source->recordSequence};
    w.order.push_back(id);
    if (!w.records.emplace(id, RecordBytes(record)).second) ++w.duplicates;
  }
  return w;
}

// The walks cover a file's own box: covering the whole world would cost the
// tile addressing a refinement along the world's edge at every level.
TiRect BoxOf(const Bytes& file) {
  return TiRect{static_cast<std::int32_t>(rmfbuild::GetU32(file, rmfbuild::kHdrBox)),
                static_cast<std::int32_t>(rmfbuild::GetU32(file, rmfbuild::kHdrBox + 4)),
                static_cast<std::int32_t>(rmfbuild::GetU32(file, rmfbuild::kHdrBox + 8)),
                static_cast<std::int32_t>(rmfbuild::GetU32(file, rmfbuild::kHdrBox + 12))};
}

Walked Walk(RmfSource* source, int maxCalls) { return Walk(source, source->header.box, maxCalls); }

std::int32_t CachedRecords(RmfSource* source) { return TiBtiNNodes(&source->recordCache.tree); }

// Each test gets its own device root and readers in arenas of their own
// (their files come from the device, not from memory).
class ReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = folder_.string();
    fs::create_directories(root_ + "/Maps");
    platform::SetDeviceRoot(root_);
  }
  void TearDown() override {
    readers_.clear();
    platform::SetDeviceRoot("");
  }

  // Writes bytes as \Maps\<name> and returns the phone path.
  std::string Put(const std::string& name, const Bytes& bytes) {
    std::ofstream(root_ + "/Maps/" + name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return "\\Maps\\" + name;
  }

  RmfReader* NewReader(std::uint32_t bytes = kSmallArena) {
    readers_.push_back(std::make_unique<rmfbuild::MemoryReader>(bytes));
    return readers_.back()->reader();
  }

  // Closes a reader made by NewReader ahead of the fixture; its record stays
  // readable until the fixture ends.
  void Close(RmfReader* r) {
    for (const auto& owner : readers_) {
      if (owner->reader() == r) owner->Close();
    }
  }

  testing_support::TempFolder folder_{"reader"};
  std::string root_;
  std::vector<std::unique_ptr<rmfbuild::MemoryReader>> readers_;
};

std::vector<RmfOpenFile*> Pool(RmfReader* r) {
  std::vector<RmfOpenFile*> out;
  for (RmfOpenFile* e = r->openFiles; e != nullptr; e = e->next) out.push_back(e);
  return out;
}

std::string OpenState(RmfReader* r) {
  std::string s;
  for (RmfOpenFile* e : Pool(r)) s += e->handleCell != nullptr ? 'O' : '-';
  return s;
}

// ---- the reader and its file pool --------------------------------------------------------

TEST_F(ReaderTest, UnionOfBoxesAndLevelsOverThreeFiles) {
  struct Part {
    TiRect box;
    std::array<std::uint16_t, 8> masks;
  };
  const Part parts[] = {
      {{1000, 2000, 5000, 6000}, {0, 1, 1, 0, 0, 0, 0, 0}},          // detail levels 2..3
      {{-7000, 3000, 4000, 9000}, {0, 0, 0, 0, 1, 0, 1, 0}},         // 5..7
      {{-100, -800, 300, 100}, {0, 0, 0, 1, 0, 0, 0, 0}},            // 4
  };
  RmfReader* r = NewReader();
  ASSERT_NE(r, nullptr);
  for (int i = 0; i < 3; ++i) {
    MapDescription d = rmfbuild::GenerateGrid(0, 4, 1, 10 + i);
    d.box = parts[i].box;
    d.levelMasks = parts[i].masks;
    const std::string name = Put("map" + std::to_string(i) + ".rmf", MustBuild(d).bytes);
    ASSERT_EQ(RmfReaderOpen(r, name.c_str(), 0), i + 1) << r->lastError;
    EXPECT_EQ(r->lastError, 0);
  }
  EXPECT_EQ(r->sourceCount, 3);
  EXPECT_EQ(r->box.x1, -7000);
  EXPECT_EQ(r->box.y1, -800);
  EXPECT_EQ(r->box.x2, 5000);
  EXPECT_EQ(r->box.y2, 9000);
  EXPECT_EQ(r->minLevel, 2);
  EXPECT_EQ(r->maxLevel, 7);
  EXPECT_EQ(r->rangeState, 2);
  EXPECT_EQ(r->blockLoader, &RmfSrcLoadBlock);
  // Permanent ids follow the index; the pool knows each file by its source.
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(SrcNum2PermID(r, i), static_cast<std::uint32_t>(i + 1));
    EXPECT_EQ(SrcPermID2Num(r, static_cast<std::uint32_t>(i + 1)), i);
    RmfOpenFile* e = SrcFindSourceByFeatSource(r, static_cast<std::uint32_t>(i));
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(std::string(e->name), "\\Maps\\map" + std::to_string(i) + ".rmf");
    EXPECT_EQ(r->sources[i]->fileBacked, 1u);
    EXPECT_EQ(r->sources[i]->rawContext, e);
  }
  EXPECT_EQ(SrcPermID2Num(r, 4), -1);
  EXPECT_EQ(SrcNum2PermID(r, 3), 0u);
  EXPECT_EQ(SrcFindSourceByFeatSource(r, 3), nullptr);
}

TEST_F(ReaderTest, PoolClosesTheFileUsedLongestAgo) {
  RmfReader* r = NewReader();
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(RmfReaderSetMaxOpenFiles(r, 2), 2);
  std::vector<std::string> names;
  for (int i = 0; i < 3; ++i) {
    names.push_back(Put("f" + std::to_string(i) + ".rmf", MustBuild(rmfbuild::GenerateGrid(0, 9, 1, i)).bytes));
    ASSERT_EQ(RmfReaderOpen(r, names.back().c_str(), 0), i + 1);
    EXPECT_LE(r->openCount, 2);
  }
  // Opening the third closed the first (oldest).
  EXPECT_EQ(OpenState(r), "-OO");
  EXPECT_EQ(r->openCount, 2);
  std::vector<RmfOpenFile*> pool = Pool(r);
  ASSERT_EQ(pool.size(), 3u);

  char bytes[4];
  // Reading the first file closes the second (used longer ago than the
  // third), never the first itself.
  EXPECT_EQ(RmfFileRead(pool[0], 0, 4, bytes), 4);
  EXPECT_EQ(OpenState(r), "O-O");
  EXPECT_EQ(pool[0]->age, 0);
  // Reading the third makes it the newest; the second then evicts the first.
  EXPECT_EQ(RmfFileRead(pool[2], 0, 4, bytes), 4);
  EXPECT_EQ(RmfFileRead(pool[1], 0, 4, bytes), 4);
  EXPECT_EQ(OpenState(r), "-OO");
  EXPECT_EQ(r->openCount, 2);

  // Among equal ages the entry nearest the head goes.
  pool[1]->age = 5;
  pool[2]->age = 5;
  EXPECT_EQ(RmfFileRead(pool[0], 0, 4, bytes), 4);
  EXPECT_EQ(OpenState(r), "O-O");

  // Reads through the sources use the pool the same way.
  EXPECT_NE(RmfSrcGetBlock(r->sources[1], r->sources[1]->samples.firsts[0], 0, 0, nullptr), nullptr);
  EXPECT_EQ(r->openCount, 2);
  EXPECT_NE(pool[1]->handleCell, nullptr);

  // A lowered limit shrinks the pool by one with each later reopen.
  EXPECT_EQ(RmfReaderSetMaxOpenFiles(r, 0), 1);
  EXPECT_EQ(RmfReaderSetMaxOpenFiles(r, -5), 1);
  EXPECT_EQ(r->openCount, 2);
  const std::string before = OpenState(r);
  const int closed = static_cast<int>(before.find('-'));
  EXPECT_EQ(RmfFileRead(pool[static_cast<std::size_t>(closed)], 0, 4, bytes), 4);
  EXPECT_EQ(r->openCount, 2);
  RmfOpenFile* stillOpen = nullptr;
  for (RmfOpenFile* e : pool)
    if (e->handleCell != nullptr && e != pool[static_cast<std::size_t>(closed)]) stillOpen = e;
  ASSERT_NE(stillOpen, nullptr);
  EXPECT_EQ(RmfFileRead(stillOpen, 0, 4, bytes), 4);
  EXPECT_EQ(r->openCount, 2);  // already open: nothing closes
}

TEST_F(ReaderTest, ClosedReaderIsRefusedEverywhere) {
  RmfReader* r = NewReader();
  ASSERT_NE(r, nullptr);
  const std::string name = Put("a.rmf", MustBuild(rmfbuild::GenerateGrid(0, 4, 1, 3)).bytes);
  ASSERT_EQ(RmfReaderOpen(r, name.c_str(), 0), 1);
  Close(r);
  EXPECT_EQ(r->magic, 0u);
  r->lastError = 77;  // nothing below may touch it
  EXPECT_EQ(RmfReaderSetMaxOpenFiles(r, 3), kRmfBadArgument);
  EXPECT_EQ(RmfReaderSetWindowFactor(r, 3), kRmfBadArgument);
  EXPECT_EQ(RmfReaderOpen(r, name.c_str(), 0), 0);
  EXPECT_EQ(RmfReaderOpen(r, name.c_str(), 100000), 0);
  EXPECT_EQ(RmfReaderOpenFile(r, name.c_str(), nullptr, nullptr), 0);
  EXPECT_EQ(RmfReaderAddSource(r, nullptr, [](void*, std::uint32_t, std::uint32_t, void*, std::int32_t) { return 0; },
                               nullptr, nullptr),
            kRmfBadArgument);
  EXPECT_EQ(SrcPermID2Num(r, 1), kRmfBadArgument);
  EXPECT_EQ(SrcNum2PermID(r, 0), 0u);
  EXPECT_EQ(SrcFindSourceByFeatSource(r, 0), nullptr);
  EXPECT_EQ(RmfProfileReset(r), -1);
  RmfReaderClose(r);  // a second close does nothing
  EXPECT_EQ(r->lastError, 77);
  EXPECT_EQ(r->magic, 0u);
  EXPECT_EQ(RmfReaderSetMaxOpenFiles(nullptr, 3), kRmfBadArgument);
  EXPECT_EQ(RmfReaderOpen(nullptr, name.c_str(), 0), 0);
  EXPECT_EQ(RmfReaderInit(nullptr), kRmfMalformed);
}

TEST_F(ReaderTest, CreationAndInitialState) {
  RmfReader* r = NewReader();
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->magic, kRmfReaderMagic);
  EXPECT_EQ(r->inArena, 1u);
  EXPECT_NE(r->arena, nullptr);
  EXPECT_NE(r->readBuffer, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(r) % 8, 0u);
  EXPECT_EQ(r->sourceCapacity, 30);
  EXPECT_EQ(r->openLimit, 10);
  EXPECT_EQ(r->results[0].capacity, 60u);
  EXPECT_EQ(r->results[1].capacity, 510u);
  EXPECT_EQ(r->results[2].capacity, 2510u);
  EXPECT_EQ(r->querySource, -1);
  const std::uint32_t defaults[6] = {256, 256, 256, 256, 256, 0};
  const std::int32_t settings[6] = {7, 1, 19, 16384, 6144, 30720};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(r->query.filterDefaults[i], defaults[i]);
    EXPECT_EQ(r->featureSettings[i], settings[i]);
    EXPECT_EQ(r->query.classMasks[i], 0u);
    EXPECT_EQ(r->query.filterTexts[i][0], '\0');
  }
  EXPECT_EQ(r->profile.limit, 0x7fffffff);
  EXPECT_EQ(r->profile.changeCounter, 1u);
  EXPECT_EQ(r->profile.featureCallback, nullptr);
  r->profile.modeFlags = 3;
  r->lastError = -9;
  EXPECT_EQ(RmfProfileReset(r), 0);
  EXPECT_EQ(r->profile.modeFlags, 0u);
  EXPECT_EQ(r->profile.changeCounter, 2u);
  EXPECT_EQ(r->lastError, 0);
  EXPECT_EQ(SrcPermID2Num(r, 1), -1);  // no sources
  EXPECT_EQ(RmfReaderSetWindowFactor(r, 200), 64);
  EXPECT_EQ(RmfReaderSetWindowFactor(r, -1), 0);

  // The arena must hold the record and the read buffer.
  std::vector<std::uint8_t> small(kRmfReadBufferBytes);
  EXPECT_EQ(RmfReaderCreateInArena(small.data(), static_cast<std::uint32_t>(small.size())), nullptr);
  EXPECT_EQ(RmfReaderCreateInArena(small.data(), 100), nullptr);
}

TEST_F(ReaderTest, HeapReaderGrowsItsArenaByRegions) {
  const std::string a = Put("a.rmf", MustBuild(rmfbuild::GenerateGrid(0, 30, 2, 1)).bytes);
  const std::string b = Put("b.rmf", MustBuild(rmfbuild::GenerateGrid(0, 30, 2, 2)).bytes);
  const std::string bad = Put("bad.rmf", Bytes(60, 0x11));
  RmfReader* r = RmfReaderCreate();
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->inArena, 0u);
  // Without an arena nothing can be opened with arena size 0.
  EXPECT_EQ(RmfReaderOpen(r, a.c_str(), 0), kRmfNoMemory);
  EXPECT_EQ(r->lastError, kRmfNoMemory);
  EXPECT_EQ(r->sourceCount, 0);
  EXPECT_EQ(RmfReaderOpen(r, a.c_str(), -10), kRmfNoMemory);

  // The first open with arena bytes builds the arena, the second adds a region.
  ASSERT_EQ(RmfReaderOpen(r, a.c_str(), 300000), 1);
  ASSERT_NE(r->arena, nullptr);
  std::vector<rmf::detail::TagRegionReport> regions;
  std::string fault;
  ASSERT_TRUE(rmf::detail::TagArenaCheck(r->arena, &regions, nullptr, &fault)) << fault;
  EXPECT_EQ(regions.size(), 1u);
  ASSERT_EQ(RmfReaderOpen(r, b.c_str(), 200000), 2);
  ASSERT_TRUE(rmf::detail::TagArenaCheck(r->arena, &regions, nullptr, &fault)) << fault;
  EXPECT_EQ(regions.size(), 2u);

  // A failed open with arena bytes leaves its region in the arena, which
  // stays sound and usable.
  EXPECT_EQ(RmfReaderOpen(r, bad.c_str(), 100000), kRmfHeaderRejected);
  ASSERT_TRUE(rmf::detail::TagArenaCheck(r->arena, &regions, nullptr, &fault)) << fault;
  EXPECT_EQ(regions.size(), 3u);
  EXPECT_EQ(RmfReaderOpen(r, "\\Maps\\missing.rmf", 100000), 0);
  EXPECT_EQ(r->lastError, kRmfCannotOpen);
  const Walked w = Walk(r->sources[1], 1000);
  EXPECT_TRUE(w.ended);
  EXPECT_EQ(w.records.size(), 60u);
  ASSERT_TRUE(rmf::detail::TagArenaCheck(r->arena, &regions, nullptr, &fault)) << fault;
  RmfReaderClose(r);  // frees the record, the sources and every region
}

// ---- opening: result codes --------------------------------------------------------------

TEST_F(ReaderTest, OpenResultCodes) {
  MapDescription base = rmfbuild::GenerateGrid(0, 20, 1, 5);
  const BuildResult good = MustBuild(base);
  const std::string goodName = Put("good.rmf", good.bytes);
  using rmfbuild::PutU32;

  struct Case {
    const char* name;
    Bytes bytes;
    std::int32_t result;
    std::int32_t lastError;
  };
  std::vector<Case> cases;
  auto mutated = [&](auto change) {
    Bytes b = good.bytes;
    change(b);
    return b;
  };
  cases.push_back({"empty", Bytes{}, kRmfCannotOpen, kRmfCannotOpen});
  cases.push_back({"short", Bytes(good.bytes.begin(), good.bytes.begin() + 100), kRmfHeaderRejected,
                   kRmfHeaderRejected});
  cases.push_back({"one byte short of a header", Bytes(good.bytes.begin(), good.bytes.begin() + 125),
                   kRmfHeaderRejected, kRmfHeaderRejected});
  cases.push_back({"no index", mutated([](Bytes& b) {
                     PutU32(b, rmfbuild::kHdrIndexOffset, 0);
                     PutU32(b, rmfbuild::kHdrIndexCount, 0);
                     PutU32(b, rmfbuild::kHdrOffsetTableOffset, 0);
                   }),
                   kRmfHeaderRejected, kRmfHeaderRejected});
  cases.push_back({"table offset off by one", mutated([](Bytes& b) {
                     PutU32(b, rmfbuild::kHdrOffsetTableOffset, rmfbuild::GetU32(b, rmfbuild::kHdrOffsetTableOffset) + 1);
                   }),
                   kRmfHeaderRejected, kRmfHeaderRejected});
  cases.push_back({"10-byte index entries", mutated([](Bytes& b) {
                     const std::uint32_t at = rmfbuild::GetU32(b, rmfbuild::kHdrIndexOffset);
                     const std::uint32_t n = rmfbuild::GetU32(b, rmfbuild::kHdrIndexCount);
                     b[rmfbuild::kHdrFlags] &= static_cast<std::uint8_t>(~rmfbuild::kFlagWideEntries);
                     PutU32(b, rmfbuild::kHdrOffsetTableOffset, at + 10 * n);
                   }),
                   kRmfHeaderRejected, kRmfHeaderRejected});
  cases.push_back({"empty index", mutated([](Bytes& b) {
                     PutU32(b, rmfbuild::kHdrIndexCount, 0);
                     PutU32(b, rmfbuild::kHdrOffsetTableOffset, rmfbuild::GetU32(b, rmfbuild::kHdrIndexOffset));
                   }),
                   kRmfHeaderRejected, kRmfHeaderRejected});
  {
    MapDescription d = base;
    d.annotations.push_back("Vehicle Types List: 3,-7");
    cases.push_back({"negative vehicle", MustBuild(d).bytes, kRmfMalformed, kRmfMalformed});
    d.annotations.back() = "Vehicle Types List: 3,70000";
    cases.push_back({"vehicle beyond the table", MustBuild(d).bytes, kRmfMalformed, kRmfMalformed});
  }

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RmfReader* r = NewReader(1u << 20);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(RmfReaderOpen(r, goodName.c_str(), 0), 1);
    RmfOpenFile* goodEntry = r->openFiles;
    const std::string name = Put("case.rmf", c.bytes);
    EXPECT_EQ(RmfReaderOpen(r, name.c_str(), 0), c.result);
    EXPECT_EQ(r->lastError, c.lastError);
    // The failed file is neither a source nor in the pool; the good one is
    // untouched and still reads.
    EXPECT_EQ(r->sourceCount, 1);
    ASSERT_EQ(Pool(r).size(), 1u);
    EXPECT_EQ(r->openFiles, goodEntry);
    EXPECT_NE(goodEntry->handleCell, nullptr);
    EXPECT_EQ(r->openCount, 1);
    const Walked w = Walk(r->sources[0], 100);
    EXPECT_EQ(w.records, ExpectedRecords(good));
    // The index a failed source had is free again.
    ASSERT_EQ(RmfReaderOpen(r, goodName.c_str(), 0), 2);
    EXPECT_EQ(Walk(r->sources[1], 100).records, ExpectedRecords(good));
    Close(r);
  }

  RmfReader* r = NewReader(1u << 20);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(RmfReaderOpen(r, "\\Maps\\missing.rmf", 0), 0);
  EXPECT_EQ(r->lastError, kRmfCannotOpen);
  EXPECT_EQ(r->openFiles, nullptr);
  EXPECT_EQ(RmfReaderOpen(r, nullptr, 0), 0);
  EXPECT_EQ(r->lastError, kRmfBadArgument);
  const std::string longName(300, 'a');
  EXPECT_EQ(RmfReaderOpen(r, longName.c_str(), 0), 0);
  EXPECT_EQ(r->lastError, kRmfBadArgument);
  EXPECT_EQ(RmfReaderOpen(r, "\\Maps", 0), 0);  // a folder
  EXPECT_EQ(r->lastError, kRmfCannotOpen);
  EXPECT_EQ(r->sourceCount, 0);
  EXPECT_EQ(r->openCount, 0);
}

TEST_F(ReaderTest, AnnotationsAndHeaderReachTheSource) {
  MapDescription d = rmfbuild::GenerateGrid(0, 6, 1, 8, {.compressed = true, .wideEntries = true});
  d.annotations.clear();
  d.Annotate("FILENAME", "town.rmf");
  d.Annotate("ENCODING", "1252");
  d.annotations.push_back("Vehicle Types List:3,7");
  d.annotations.push_back("UDM Version: 2.5");
  const std::string name = Put("town.rmf", MustBuild(d).bytes);
  RmfReader* r = NewReader();
  ASSERT_EQ(RmfReaderOpen(r, name.c_str(), 0), 1);
  const RmfSource* s = r->sources[0];
  EXPECT_STREQ(s->annotations.fileName, "town.rmf");
  EXPECT_STREQ(s->annotations.encoding, "1252");
  EXPECT_EQ(s->annotations.hasDataModelAnnotations, 1u);
  EXPECT_EQ(s->annotations.udmVersionMajor, 2);
  EXPECT_EQ(s->annotations.udmVersionMinor, 5);
  ASSERT_EQ(s->annotations.vehicleTypeCount, 8u);
  EXPECT_EQ(s->annotations.vehicleTypes[3], 1);
  EXPECT_EQ(s->annotations.vehicleTypes[7], 1);
  EXPECT_EQ(s->featureEntrySize, 12);
  EXPECT_EQ(s->header.recordsCompressed, 1u);
  EXPECT_EQ(s->queryLevelsSet, 1u);
  EXPECT_EQ(s->queryMinLevel, s->minLevel);
  EXPECT_EQ(s->queryMaxLevel, s->maxLevel);
}

// ---- records read back -----------------------------------------------------------------------

struct GridCase {
  bool compressed;
  std::uint32_t arena;  // 0: the least that works, found below
};

class RecordsTest : public ReaderTest {
 protected:
  static void SetUpTestSuite() {
    // About 10,000 tiles of level 0, several records each.
    MapDescription d = rmfbuild::GenerateGrid(0, 10000, 2, 2024);
    built_[0] = rmfbuild::Build(d);
    d.compressed = true;
    built_[1] = rmfbuild::Build(d);
  }
  static void TearDownTestSuite() {
    built_[0] = BuildResult{};
    built_[1] = BuildResult{};
  }
  static BuildResult built_[2];
};
BuildResult RecordsTest::built_[2];

// A tight arena: the reader record and the read buffer, plus room for a few
// chunks and records (the smallest one that works) or for about one full
// window (a few percent of the file, so evictions are certain).
constexpr std::uint32_t kTightArena = kRmfReadBufferBytes + sizeof(RmfReader) + 24 * 1024;
constexpr std::uint32_t kWindowArena = kRmfReadBufferBytes + sizeof(RmfReader) + 160 * 1024;

TEST_F(RecordsTest, EveryRecordReadsBackThroughWalksAndLookups) {
  for (int c = 0; c < 2; ++c) {
    ASSERT_TRUE(built_[c].ok) << built_[c].error;
    const std::map<RecordId, Bytes> expected = ExpectedRecords(built_[c]);
    ASSERT_EQ(expected.size(), 20000u);
    const std::string name = Put(c == 0 ? "plain.rmf" : "zipped.rmf", built_[c].bytes);
    // Window sizes in a large arena and in tight ones (in the smallest arena
    // a large window evicts its own records before they are used; that works,
    // but slowly, so the largest window runs in one that holds it). Every
    // record is looked up once per arena; the other runs take a sample.
    struct Run {
      std::uint32_t arena;
      std::int32_t factor;
      bool everyLookup;
    };
    const Run runs[] = {
        {kLargeArena, 0, false}, {kLargeArena, 8, true},  {kLargeArena, 64, false},
        {kTightArena, 1, true},  {kTightArena, 2, false}, {kWindowArena, 64, true},
    };
    for (const Run& run : runs) {
      const std::uint32_t arena = run.arena;
      const std::int32_t factor = run.factor;
      SCOPED_TRACE(testing::Message() << (c ? "compressed" : "plain") << " arena " << arena << " factor " << factor);
      RmfReader* r = NewReader(arena);
      ASSERT_NE(r, nullptr);
      ASSERT_EQ(RmfReaderOpen(r, name.c_str(), 0), 1);
      RmfReaderSetWindowFactor(r, factor);
      RmfSource* s = r->sources[0];
      const Walked w = Walk(s, s->header.box, 200000);
      EXPECT_TRUE(w.ended);
      EXPECT_EQ(s->readError, 0u);
      EXPECT_EQ(w.duplicates, 0);
      EXPECT_TRUE(w.records == expected);
      EXPECT_TRUE(std::is_sorted(w.order.begin(), w.order.end()));
      if (arena != kLargeArena) {
        EXPECT_LT(CachedRecords(s), static_cast<std::int32_t>(expected.size()) / 4);  // evictions happened
      } else {
        EXPECT_EQ(CachedRecords(s), static_cast<std::int32_t>(expected.size()));
      }

      // Lookups by tile id and sequence, and by the offsets they hand out;
      // a fresh reader, so that the lookups read the file themselves.
      Close(r);
      r = NewReader(arena);
      ASSERT_EQ(RmfReaderOpen(r, name.c_str(), 0), 1);
      RmfReaderSetWindowFactor(r, factor);
      s = r->sources[0];
      std::size_t checked = 0;
      std::size_t k = 0;
      const std::size_t stride = run.everyLookup ? 1 : 8;
      for (const auto& placed : built_[c].layout.records) {
        if (k++ % stride != 0) continue;
        const bool more = (placed.record[rmfbuild::kRecFlags] & rmfbuild::kRecFlagMore) != 0;
        std::uint32_t next = 7;
        std::uint8_t* rec = nullptr;
        if (k % 80 == 1) {  // by offset, before anything of the tile is cached
          rec = RmfSrcGetBlock(s, placed.tileId, placed.sequence, placed.offset, &next);
          ASSERT_NE(rec, nullptr);
          ASSERT_EQ(RecordBytes(rec), placed.record);
          EXPECT_EQ(next, more ? placed.offset + placed.storedLength : 0u);
          ++checked;
        }
        rec = RmfSrcGetBlock(s, placed.tileId, placed.sequence, 0, &next);
        ASSERT_NE(rec, nullptr) << std::hex << placed.tileId << " " << placed.sequence;
        ASSERT_EQ(RecordBytes(rec), placed.record);
        if (!more) {
          EXPECT_EQ(next, 0u);
        } else if (next >= 2) {
          EXPECT_EQ(next, placed.offset + placed.storedLength);
        } else {
          EXPECT_EQ(next, 1u);  // a cache hit: continued, position unknown
        }
      }
      EXPECT_EQ(checked, expected.size() / 80);
      EXPECT_EQ(s->readError, 0u);
      EXPECT_EQ(RmfSrcGetBlock(s, 0x12345678, 0, 0, nullptr), nullptr);  // not in the index
      Close(r);
    }
  }
}

TEST_F(RecordsTest, CompressedAndPlainFilesCacheTheSameRecords) {
  const std::string plain = Put("plain.rmf", built_[0].bytes);
  const std::string zipped = Put("zipped.rmf", built_[1].bytes);
  RmfReader* r = NewReader();
  ASSERT_EQ(RmfReaderOpen(r, plain.c_str(), 0), 1);
  ASSERT_EQ(RmfReaderOpen(r, zipped.c_str(), 0), 2);
  std::size_t compared = 0;
  for (std::size_t k = 0; k < built_[0].layout.records.size(); k += 97) {
    const auto& placed = built_[0].layout.records[k];
    std::uint8_t* a = RmfSrcGetBlock(r->sources[0], placed.tileId, placed.sequence, 0, nullptr);
    ASSERT_NE(a, nullptr);
    const Bytes fromPlain = RecordBytes(a);
    std::uint8_t* b = RmfSrcGetBlock(r->sources[1], placed.tileId, placed.sequence, 0, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(RecordBytes(b), fromPlain);
    ++compared;
  }
  EXPECT_GT(compared, 100u);
}

// ---- windows ---------------------------------------------------------------------------

TEST_F(ReaderTest, WindowFactorBelowTwoReadsEveryRecordByItself) {
  const BuildResult b = MustBuild(rmfbuild::GenerateGrid(0, 200, 1, 77));
  const std::string name = Put("w.rmf", b.bytes);
  for (std::int32_t factor : {0, 1, 2, 8}) {
    SCOPED_TRACE(factor);
    RmfReader* r = NewReader();
    ASSERT_EQ(RmfReaderOpen(r, name.c_str(), 0), 1);
    RmfReaderSetWindowFactor(r, factor);
    RmfSource* s = r->sources[0];
    r->bufferLength = 0;  // forget what the open left in the buffer
    RmfSrcSetRect(s, s->header.box.x1, s->header.box.y1, s->header.box.x2, s->header.box.y2);
    RmfSrcF5(s, 1, 8);
    RmfSrcStartQuery(s);
    const std::uint32_t readsBefore = r->blockReads;
    int records = 0;
    bool grewByOne = true;
    while (RmfSrcLoadBlock(s) != nullptr) {
      ++records;
      grewByOne = grewByOne && CachedRecords(s) == records;
    }
    EXPECT_EQ(records, 200);
    const std::uint32_t reads = r->blockReads - readsBefore;
    if (factor == 0) {
      EXPECT_TRUE(grewByOne);
      EXPECT_EQ(reads, 200u);  // exactly each record's bytes, one read each
    } else if (factor == 1) {
      EXPECT_TRUE(grewByOne);  // 64 KB reads, but the records enter one by one
      EXPECT_LT(reads, 200u);
    } else {
      EXPECT_FALSE(grewByOne);  // neighbours come with the window
      EXPECT_LT(reads, factor == 2 ? 200u : 40u);
    }
    EXPECT_EQ(r->recordLookups, 200u);
    Close(r);
  }
}

TEST_F(ReaderTest, WindowNeverMixesLevels) {
  // The last two ids of level 0 and the first two of level 1 are neighbours
  // in id order and in the file.
  MapDescription d;
  for (std::uint32_t id : {0x7ffffffeu, 0x7fffffffu, 0x80000000u, 0x80000001u}) d.tiles.push_back(EmptyRecordTile(id));
  d.levelMasks = std::array<std::uint16_t, 8>{3, 0, 0, 0, 0, 0, 0, 0};
  const std::string name = Put("levels.rmf", MustBuild(d).bytes);
  auto cached = [](RmfSource* s) {
    std::vector<std::uint32_t> ids;
    std::uint32_t pairs[16];
    const std::int32_t n = listCacheRecords(&s->recordCache, nullptr, pairs, 8, nullptr, nullptr);
    for (std::int32_t i = 0; i < n; ++i) ids.push_back(pairs[2 * i]);
    return ids;
  };
  for (std::uint32_t wanted : {0x7fffffffu, 0x80000000u}) {
    RmfReader* r = NewReader();
    ASSERT_EQ(RmfReaderOpen(r, name.c_str(), 0), 1);
    RmfReaderSetWindowFactor(r, 64);
    RmfSource* s = r->sources[0];
    r->bufferLength = 0;
    ASSERT_NE(RmfSrcGetBlock(s, wanted, 0, 0, nullptr), nullptr);
    if (wanted == 0x7fffffffu) {
      EXPECT_EQ(cached(s), (std::vector<std::uint32_t>{0x7ffffffeu, 0x7fffffffu}));
    } else {
      EXPECT_EQ(cached(s), (std::vector<std::uint32_t>{0x80000000u, 0x80000001u}));
    }
    EXPECT_EQ(r->blockReads, 1u);
    Close(r);
  }
}

// ---- the index ----------------------------------------------------------------------------

TEST_F(ReaderTest, SampleTableOf450Entries) {
  rmfbuild::GridOptions o;
  o.runPerTile = true;
  const BuildResult b = MustBuild(rmfbuild::GenerateGrid(0, 450, 1, 9, o));
  ASSERT_EQ(b.layout.runs.size(), 450u);
  RmfReader* r = NewReader();
  ASSERT_EQ(RmfReaderOpen(r, Put("s.rmf", b.bytes).c_str(), 0), 1);
  const RmfSource* s = r->sources[0];
  ASSERT_EQ(s->sampleLoaded, 1u);
  EXPECT_EQ(s->samples.step, 100);
  EXPECT_EQ(s->samples.count, 5);
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(s->samples.firsts[k], b.layout.runs[static_cast<std::size_t>(k) * 100].firstId);
    const std::size_t last = std::min<std::size_t>(static_cast<std::size_t>(k) * 100 + 99, 449);
    EXPECT_EQ(s->samples.lasts[k], b.layout.runs[last].lastId);
  }
  const Walked w = Walk(r->sources[0], 1000);
  EXPECT_EQ(w.records, ExpectedRecords(b));
}

// An index of 450 entries spans several cached chunks and sample groups: the
// nearest covered ids either side of every entry's ends are those of the
// builder's runs, whichever chunk the lookup reads them from.
TEST_F(ReaderTest, NearestCoveredTileIdsAcrossIndexChunks) {
  rmfbuild::GridOptions o;
  o.runPerTile = true;
  const BuildResult b = MustBuild(rmfbuild::GenerateGrid(0, 450, 1, 9, o));
  const std::vector<rmfbuild::IndexRun>& runs = b.layout.runs;
  ASSERT_EQ(runs.size(), 450u);
  RmfReader* r = NewReader();
  ASSERT_EQ(RmfReaderOpen(r, Put("c.rmf", b.bytes).c_str(), 0), 1);
  RmfSource* s = r->sources[0];
  const auto atOrAfter = [&](std::uint32_t t) {
    for (const rmfbuild::IndexRun& run : runs) {
      if (run.lastId >= t) return std::max(run.firstId, t);
    }
    return kNoTile;
  };
  const auto atOrBefore = [&](std::uint32_t t) {
    std::uint32_t best = kNoTile;
    for (const rmfbuild::IndexRun& run : runs) {
      if (run.firstId > t) break;
      best = std::min(run.lastId, t);
    }
    return best;
  };
  for (const rmfbuild::IndexRun& run : runs) {
    for (std::uint32_t t : {run.firstId - 1, run.firstId, run.lastId, run.lastId + 1}) {
      EXPECT_EQ(RmfSrcF6(s, t, 1), atOrAfter(t)) << t;
      EXPECT_EQ(RmfSrcF6(s, t, 0), atOrBefore(t)) << t;
    }
  }
  EXPECT_EQ(s->readError, 0u);
  Close(r);
}

TEST_F(ReaderTest, NearestCoveredTileIds) {
  MapDescription d;
  for (std::uint32_t id : {100u, 101u, 102u, 200u, 201u, 300u}) d.tiles.push_back(EmptyRecordTile(id));
  d.levelMasks = std::array<std::uint16_t, 8>{1, 0, 0, 0, 0, 0, 0, 0};
  const BuildResult b = MustBuild(d);
  ASSERT_EQ(b.layout.runs.size(), 3u);
  RmfReader* r = NewReader();
  ASSERT_EQ(RmfReaderOpen(r, Put("n.rmf", b.bytes).c_str(), 0), 1);
  RmfSource* s = r->sources[0];
  struct Row {
    std::uint32_t tile;
    std::int32_t direction;
    std::uint32_t expected;
  };
  const Row rows[] = {
      {150, 1, 200},     {150, 0, 102},       {150, -3, 102},   {101, 1, 101},      {101, 0, 101},
      {102, 1, 102},     {103, 1, 200},       {199, 0, 102},    {202, 5, 300},      {50, 1, 100},
      {50, 0, kNoTile},  {400, 1, kNoTile},   {400, 0, 300},    {300, 0, 300},      {0, 0, kNoTile},
      {0xfffe0000u, 1, kNoTile}, {0xfffe0000u, 0, 300},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(RmfSrcF6(s, row.tile, row.direction), row.expected) << row.tile << " " << row.direction;
  }
  // Between runs nothing is found by id.
  EXPECT_EQ(RmfSrcGetBlock(s, 150, 0, 0, nullptr), nullptr);
  EXPECT_NE(RmfSrcGetBlock(s, 201, 0, 0, nullptr), nullptr);
  EXPECT_EQ(s->readError, 0u);
  EXPECT_EQ(RmfSrcF6(nullptr, 100, 1), kNoTile);
}

TEST_F(ReaderTest, RecordsOfOneTileAndTheCachedWalk) {
  MapDescription d;
  d.tiles.push_back(EmptyRecordTile(100, 3));
  d.tiles.push_back(EmptyRecordTile(101, 1));
  d.tiles.push_back(EmptyRecordTile(105, 2));
  d.levelMasks = std::array<std::uint16_t, 8>{1, 0, 0, 0, 0, 0, 0, 0};
  const BuildResult b = MustBuild(d);
  RmfReader* r = NewReader();
  ASSERT_EQ(RmfReaderOpen(r, Put("t.rmf", b.bytes).c_str(), 0), 1);
  RmfReaderSetWindowFactor(r, 0);
  RmfSource* s = r->sources[0];
  // A later record of a tile by id alone follows the tile's records.
  std::uint32_t next = 0;
  ASSERT_NE(RmfSrcGetBlock(s, 100, 2, 0, &next), nullptr);
  EXPECT_EQ(next, 0u);
  EXPECT_EQ(RmfSrcGetBlock(s, 100, 3, 0, nullptr), nullptr);  // there is none
  EXPECT_EQ(CachedRecords(s), 3);

  // The cached walk returns what is cached, in order, and reads nothing.
  const std::uint32_t reads = r->blockReads;
  RmfSrcSetRect(s, s->header.box.x1, s->header.box.y1, s->header.box.x2, s->header.box.y2);
  RmfSrcF5(s, 1, 1);
  ASSERT_EQ(RmfSrcStartQuery(s), kRmfWalkStart);
  std::vector<RecordId> seen;
  while (RmfSrcF4(s) != nullptr) seen.push_back({s->recordTile, s->recordSequence});
  EXPECT_EQ(seen, (std::vector<RecordId>{{100, 0}, {100, 1}, {100, 2}}));
  EXPECT_EQ(r->blockReads, reads);

  // The listing and its rest.
  std::uint32_t pairs[4];
  std::int32_t rest = -1;
  void* restFirst = nullptr;
  EXPECT_EQ(listCacheRecords(&s->recordCache, nullptr, pairs, 2, &rest, &restFirst), 2);
  EXPECT_EQ(pairs[0], 100u);
  EXPECT_EQ(pairs[1], 0u);
  EXPECT_EQ(pairs[3], 1u << 16);
  EXPECT_EQ(rest, 1);
  ASSERT_NE(restFirst, nullptr);
  EXPECT_EQ(static_cast<RmfRecordKey*>(restFirst)->sequence, 2);
  RmfRecordKey start{};
  start.tileId = 100;
  start.sequence = 1;
  EXPECT_EQ(listCacheRecords(&s->recordCache, &start, pairs, 2, &rest, &restFirst), 2);
  EXPECT_EQ(rest, 0);
  EXPECT_EQ(restFirst, nullptr);
  start.tileId = 101;
  EXPECT_EQ(listCacheRecords(&s->recordCache, &start, pairs, 2, nullptr, nullptr), kRmfBadArgument);
  EXPECT_EQ(listCacheRecords(&s->recordCache, nullptr, pairs, 0, nullptr, nullptr), kRmfBadArgument);
  EXPECT_EQ(listCacheRecords(nullptr, nullptr, pairs, 1, nullptr, nullptr), kRmfBadArgument);
  EXPECT_EQ(listCacheRecords(&s->recordCache, nullptr, nullptr, 1, nullptr, nullptr), kRmfBadArgument);

  // A walk with levels outside the file's or a rectangle beside its box
  // does not start.
  RmfSrcSetRect(s, s->header.box.x2 + 10, s->header.box.y1, s->header.box.x2 + 20, s->header.box.y2);
  EXPECT_EQ(RmfSrcStartQuery(s), kRmfWalkIdle);
  RmfSrcSetRect(s, s->header.box.x1, s->header.box.y1, s->header.box.x2, s->header.box.y2);
  RmfSrcF5(s, 9, 12);
  EXPECT_EQ(RmfSrcStartQuery(s), kRmfWalkIdle);
  EXPECT_EQ(RmfSrcLoadBlock(s), nullptr);
  RmfSrcF5(s, 0, -4);
  EXPECT_EQ(RmfSrcStartQuery(s), kRmfWalkIdle);
  RmfSrcF5(s, 3, 0);  // 0..3 meets 1..8
  EXPECT_EQ(RmfSrcStartQuery(s), kRmfWalkStart);
}

TEST_F(ReaderTest, RecordReferencesAreReleasedThroughTheirOwner) {
  MapDescription d;
  d.tiles.push_back(EmptyRecordTile(100));
  d.levelMasks = std::array<std::uint16_t, 8>{1, 0, 0, 0, 0, 0, 0, 0};
  RmfReader* r = NewReader();
  ASSERT_EQ(RmfReaderOpen(r, Put("ref.rmf", MustBuild(d).bytes).c_str(), 0), 1);
  RmfSource* s = r->sources[0];
  std::uint8_t* record = RmfSrcGetBlock(s, 100, 0, 0, nullptr);
  ASSERT_NE(record, nullptr);
  void* block = record - sizeof(RmfRecordKey);
  void* holder = RmfTagT4(r->arena, 32, 0x484f4c44);
  ASSERT_NE(holder, nullptr);
  ASSERT_EQ(rmf::detail::TcAttachReference(&s->recordCache, block, holder), 1);
  RmfRecordOwner owner{kRmfRecordOwnerMagic, r};
  RmfRecordOwner stranger{0x12345678, r};
  EXPECT_EQ(RmfRecordRelease(&stranger, holder), kRmfBadArgument);
  EXPECT_EQ(RmfRecordRelease(&owner, holder), 1);
  EXPECT_EQ(static_cast<RmfRecordReference*>(holder)->guard, kRmfReferenceReleased);
  EXPECT_EQ(RmfRecordRelease(&owner, holder), kRmfBadArgument);  // only once
  EXPECT_EQ(static_cast<RmfRecordKey*>(block)->references, 0u);
  // A reference whose source is gone is released without a record.
  ASSERT_EQ(rmf::detail::TcAttachReference(&s->recordCache, block, holder), 1);
  static_cast<RmfRecordReference*>(holder)->source = 9;
  EXPECT_EQ(RmfRecordRelease(&owner, holder), 0);
  EXPECT_EQ(RmfRecordRelease(nullptr, holder), kRmfBadArgument);
}

TEST_F(ReaderTest, SourcesFromDescriptionsAndWithoutFiles) {
  const BuildResult b = MustBuild(rmfbuild::GenerateGrid(0, 40, 2, 31));
  const std::string name = Put("d.rmf", b.bytes);
  RmfReader* r = NewReader();
  RmfSourceDescription desc{};
  desc.permanentId = 4711;
  desc.headerLength = kRmfHeaderReadBytes;
  std::copy(b.bytes.begin(), b.bytes.begin() + kRmfHeaderReadBytes, desc.header);
  const std::string notes = std::string("FILENAME: described.rmf") + '\0';
  desc.annotations = reinterpret_cast<const std::uint8_t*>(notes.data());
  desc.annotationLength = static_cast<std::uint32_t>(notes.size());
  ASSERT_EQ(RmfReaderOpenFile(r, name.c_str(), nullptr, &desc), 1);
  RmfSource* s = r->sources[0];
  EXPECT_EQ(s->permanentId, 4711u);
  EXPECT_EQ(SrcPermID2Num(r, 4711), 0);
  EXPECT_STREQ(s->annotations.fileName, "described.rmf");
  EXPECT_EQ(r->openCount, 0);  // opened when first read
  EXPECT_EQ(r->boxSet, 0u);    // a described source gives no box
  EXPECT_EQ(Walk(s, 1000).records, ExpectedRecords(b));
  EXPECT_EQ(r->openCount, 1);

  // A source without a file finds nothing, quietly.
  RmfSource* empty = RmfSrcF1();
  ASSERT_NE(empty, nullptr);
  empty->reader = r;
  empty->index = 7;
  const std::uint16_t masks[8] = {1, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(RmfSrcF3(empty, 100, 100, -100, -100, 0x0201, 3, masks), 1);
  EXPECT_EQ(empty->header.box.x1, -100);
  EXPECT_EQ(empty->header.flags, 1);
  EXPECT_EQ(empty->header.headerByte6, 2);
  EXPECT_EQ(empty->maxLevel, 3);
  EXPECT_EQ(empty->samples.lasts[0], 0x7fffffffu);
  const Walked w = Walk(empty, TiRect{-5000, -5000, 5000, 5000}, 10);
  EXPECT_TRUE(w.ended);
  EXPECT_TRUE(w.records.empty());
  EXPECT_EQ(RmfSrcF6(empty, 5, 1), kNoTile);
  EXPECT_EQ(RmfSrcGetBlock(empty, 5, 0, 0, nullptr), nullptr);
  RmfSrcF2(empty);
}

// ---- damaged files -------------------------------------------------------------------------

class DamageTest : public ReaderTest {
 protected:
  // Walks the source and looks up every tile; every record that comes back
  // must be the builder's.
  void Exercise(RmfSource* s, const std::map<RecordId, Bytes>& expected, bool* readError, std::size_t* delivered) {
    const Walked w = Walk(s, 100000);
    EXPECT_TRUE(w.ended) << "the walk did not end";
    *readError = s->readError != 0;
    *delivered = w.records.size();
    for (const auto& [id, bytes] : w.records) {
      auto it = expected.find(id);
      ASSERT_NE(it, expected.end()) << std::hex << id.first;
      EXPECT_EQ(bytes, it->second) << std::hex << id.first << " " << id.second;
    }
    for (const auto& [id, bytes] : expected) {
      std::uint8_t* rec = RmfSrcGetBlock(s, id.first, id.second, 0, nullptr);
      if (rec != nullptr) {
        EXPECT_EQ(RecordBytes(rec), bytes) << std::hex << id.first << " " << id.second;
      }
      if (s->readError != 0) *readError = true;
    }
  }
};

TEST_F(DamageTest, DamagedContentGivesAbsentRecordsAndAReadError) {
  rmfbuild::GridOptions plain;
  plain.runPerTile = true;
  rmfbuild::GridOptions zipped = plain;
  zipped.compressed = true;
  const BuildResult p = MustBuild(rmfbuild::GenerateGrid(0, 300, 2, 61, plain));
  const BuildResult z = MustBuild(rmfbuild::GenerateGrid(0, 300, 2, 61, zipped));
  const std::map<RecordId, Bytes> expected = ExpectedRecords(p);
  ASSERT_EQ(expected, ExpectedRecords(z));
  using rmfbuild::GetU16;
  using rmfbuild::GetU32;
  using rmfbuild::PutU16;
  using rmfbuild::PutU32;

  const rmfbuild::FileLayout& L = p.layout;
  const std::uint32_t index = L.indexOffset;
  const std::uint32_t table = L.offsetTableOffset;
  const auto& mid = L.tiles[150];
  // The first record of the middle tile, in each file.
  const auto firstRecordOf = [](const BuildResult& b, std::uint32_t tile) {
    for (const auto& r : b.layout.records)
      if (r.tileId == tile && r.sequence == 0) return r;
    return rmfbuild::RecordPlacement{};
  };
  const rmfbuild::RecordPlacement pr = firstRecordOf(p, mid.id);
  const rmfbuild::RecordPlacement zr = firstRecordOf(z, mid.id);

  struct Case {
    const char* name;
    bool compressed;
    std::function<void(Bytes&)> damage;
    bool readError = true;  // false: the damage only empties records
    std::function<void(std::map<RecordId, Bytes>&)> changes = nullptr;  // records that stay readable but change
  };
  const auto& tile0Last = p.layout.records[1];  // tile 0 has records 0 and 1
  const std::vector<Case> cases = {
      {"tile end offset past the end of the file", false,
       [&](Bytes& b) { PutU32(b, table + 4 * (mid.position + 1), static_cast<std::uint32_t>(b.size()) + 5000); }},
      {"tile start past the end of the file", false,
       [&](Bytes& b) {
         PutU32(b, table + 4 * mid.position, 0xfffffff0u);
         PutU32(b, table + 4 * (mid.position + 1), 0xfffffff8u);
       }},
      {"offsets running backwards", false,
       [&](Bytes& b) {
         PutU32(b, table + 4 * mid.position, mid.end);
         PutU32(b, table + 4 * (mid.position + 1), mid.begin);
       }},
      {"overlapping index runs", false,
       [&](Bytes& b) { PutU32(b, index + 12 * 150, GetU32(b, index + 12 * 149)); PutU32(b, index + 12 * 150 + 4, GetU32(b, index + 12 * 149 + 4)); }},
      {"index runs out of order", false,
       [&](Bytes& b) {
         for (int k = 0; k < 12; ++k) std::swap(b[index + 12 * 120 + k], b[index + 12 * 121 + k]);
       }},
      {"invalid tile id", false, [&](Bytes& b) { PutU32(b, index + 12 * 150, 0xA0000001u); }},
      {"run across two levels", false, [&](Bytes& b) { PutU32(b, index + 12 * 150 + 4, 0x80000003u); }},
      {"run longer than the offset table", false, [&](Bytes& b) { PutU32(b, index + 12 * 150 + 8, 0x7ffffff0u); }},
      {"sample entry damaged", false, [&](Bytes& b) { PutU32(b, index + 12 * 100, 0xA0000001u); }},
      {"record length 0", false, [&](Bytes& b) { PutU16(b, pr.offset, 0); }},
      {"record length past its tile", false, [&](Bytes& b) { PutU16(b, pr.offset, 0xffff); }},
      {"record length 2", false, [&](Bytes& b) { PutU16(b, pr.offset, 2); }, false},
      {"record shorter than its header", false, [&](Bytes& b) { PutU16(b, pr.offset, 40); }},
      {"point table beyond the record", false, [&](Bytes& b) { PutU16(b, pr.offset + 30, 0xfff0); }},
      {"feature table beyond the record", false, [&](Bytes& b) { PutU16(b, pr.offset + 32, 0xfff0); }},
      {"texts without a NUL", false,
       [&](Bytes& b) {
         const std::uint32_t end = pr.offset + pr.storedLength;
         for (std::uint32_t k = end - 12; k < end; ++k) b[k] = 'x';
       }},
      {"more bit on a tile's last record", false,
       [&](Bytes& b) { b[tile0Last.offset + 3] |= rmfbuild::kRecFlagMore; }, true,
       [&](std::map<RecordId, Bytes>& e) { e[{tile0Last.tileId, 1}][3] |= rmfbuild::kRecFlagMore; }},
      {"damaged zlib", true,
       [&](Bytes& b) {
         for (std::uint32_t k = zr.offset + 6; k < zr.offset + zr.storedLength; k += 3) b[k] ^= 0x5a;
       }},
      {"raw length 0", true, [&](Bytes& b) { PutU16(b, zr.offset + 2, 0); }},
      {"raw length too large", true, [&](Bytes& b) { PutU16(b, zr.offset + 2, 0xfff0); }},
      {"stored length 3", true, [&](Bytes& b) { PutU16(b, zr.offset, 3); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes bytes = c.compressed ? z.bytes : p.bytes;
    c.damage(bytes);
    std::map<RecordId, Bytes> wanted = expected;
    if (c.changes) c.changes(wanted);
    for (std::int32_t factor : {0, 8}) {
      SCOPED_TRACE(factor);
      RmfReader* r = NewReader(2u << 20);
      ASSERT_GE(RmfReaderOpen(r, Put("damaged.rmf", bytes).c_str(), 0), 1) << r->lastError;
      RmfReaderSetWindowFactor(r, factor);
      bool readError = false;
      std::size_t delivered = 0;
      Exercise(r->sources[0], wanted, &readError, &delivered);
      EXPECT_EQ(readError, c.readError);
      EXPECT_LT(delivered, expected.size());
      Close(r);
    }
  }
}

TEST_F(DamageTest, FilesCutShortOrWithIndexOutsideThem) {
  const BuildResult b = MustBuild(rmfbuild::GenerateGrid(0, 50, 2, 62));
  const std::map<RecordId, Bytes> expected = ExpectedRecords(b);
  struct Case {
    const char* name;
    Bytes bytes;
  };
  Bytes indexAway = b.bytes;
  rmfbuild::PutU32(indexAway, rmfbuild::kHdrIndexOffset, 0x10000000u);
  rmfbuild::PutU32(indexAway, rmfbuild::kHdrOffsetTableOffset,
                   0x10000000u + 12 * rmfbuild::GetU32(indexAway, rmfbuild::kHdrIndexCount));
  Bytes indexAtEnd = b.bytes;  // the index's end would pass 4 GB
  rmfbuild::PutU32(indexAtEnd, rmfbuild::kHdrIndexCount, 0x15555555u);
  rmfbuild::PutU32(indexAtEnd, rmfbuild::kHdrOffsetTableOffset,
                   rmfbuild::GetU32(indexAtEnd, rmfbuild::kHdrIndexOffset) + 12u * 0x15555555u);
  Bytes tableHuge = b.bytes;  // the offset table said to run far past the file
  rmfbuild::PutU32(tableHuge, rmfbuild::kHdrOffsetTableLast, 0xfffffff0u);
  Bytes annotationsAway = b.bytes;
  rmfbuild::PutU16(annotationsAway, rmfbuild::kHdrAnnotationOffset, 0xfff0);
  const Case cases[] = {
      {"just the header", Bytes(b.bytes.begin(), b.bytes.begin() + 126)},
      {"cut in the tile data", Bytes(b.bytes.begin(), b.bytes.begin() + static_cast<std::ptrdiff_t>(b.layout.dataOffset + 500))},
      {"cut in the offset table", Bytes(b.bytes.begin(), b.bytes.begin() + static_cast<std::ptrdiff_t>(b.layout.offsetTableOffset + 10))},
      {"index far away", indexAway},
      {"index said to be huge", indexAtEnd},
      {"offset table said to be huge", tableHuge},
  };
  // A file shorter than its header and offset table say is refused at
  // load, however little is missing: one that loaded would answer from the
  // tiles it still has as if they were all there.
  std::vector<Case> refused(std::begin(cases), std::end(cases));
  for (const std::size_t missing : {std::size_t{1}, std::size_t{100}}) {
    refused.push_back({"a few bytes missing at the end", Bytes(b.bytes.begin(), b.bytes.end() - static_cast<std::ptrdiff_t>(missing))});
  }
  for (const Case& c : refused) {
    SCOPED_TRACE(c.name);
    RmfReader* r = NewReader(2u << 20);
    EXPECT_EQ(RmfReaderOpen(r, Put("cut.rmf", c.bytes).c_str(), 0), kRmfHeaderRejected);
    EXPECT_EQ(r->sourceCount, 0);
    Close(r);
  }
  {
    // Bytes after the data are no harm.
    Bytes longer = b.bytes;
    longer.resize(longer.size() + 64, 0);
    RmfReader* r = NewReader(2u << 20);
    ASSERT_EQ(RmfReaderOpen(r, Put("longer.rmf", longer).c_str(), 0), 1);
    EXPECT_EQ(Walk(r->sources[0], 1000).records, expected);
    Close(r);
  }
  // Annotations that are not there are simply absent.
  RmfReader* r = NewReader(2u << 20);
  ASSERT_EQ(RmfReaderOpen(r, Put("notes.rmf", annotationsAway).c_str(), 0), 1);
  EXPECT_EQ(r->sources[0]->annotations.fileName, nullptr);
  EXPECT_EQ(Walk(r->sources[0], 1000).records, expected);
}

TEST_F(DamageTest, RandomDamageNeverCrashesOrHangs) {
  const unsigned seed = 20240611;
  std::mt19937 rng(seed);
  rmfbuild::GridOptions o;
  o.runPerTile = true;
  const BuildResult plain = MustBuild(rmfbuild::GenerateGrid(0, 120, 2, 63, o));
  o.compressed = true;
  const BuildResult zipped = MustBuild(rmfbuild::GenerateGrid(0, 120, 2, 63, o));
  const std::map<RecordId, Bytes> expected = ExpectedRecords(plain);
  for (int round = 0; round < 160; ++round) {
    SCOPED_TRACE(testing::Message() << "seed " << seed << " round " << round);
    Bytes bytes = (round % 2 == 0 ? plain : zipped).bytes;
    const int flips = 1 + static_cast<int>(rng() % 12);
    for (int k = 0; k < flips; ++k) {
      // Mostly the index, offset table and data; now and then the header.
      const std::size_t from = rng() % 8 == 0 ? 0 : plain.layout.indexOffset;
      const std::size_t at = from + rng() % (bytes.size() - from);
      bytes[at] = static_cast<std::uint8_t>(rng());
    }
    RmfReader* r = NewReader(rng() % 2 == 0 ? kTightArena : (2u << 20));
    ASSERT_NE(r, nullptr);
    RmfReaderSetWindowFactor(r, static_cast<std::int32_t>(rng() % 70));
    if (RmfReaderOpen(r, Put("random.rmf", bytes).c_str(), 0) >= 1) {
      RmfSource* s = r->sources[0];
      const Walked w = Walk(s, BoxOf(plain.bytes), 100000);
      EXPECT_TRUE(w.ended);
      for (const auto& [id, e] : expected) (void)RmfSrcGetBlock(s, id.first, id.second, 0, nullptr);
      for (std::uint32_t t : {0u, 0x40000000u, 0x7fffffffu, 0xfffe0000u}) {
        (void)RmfSrcF6(s, t, 1);
        (void)RmfSrcF6(s, t, 0);
      }
    }
    Close(r);
  }
}

}  // namespace
