// Tests of the map-file builder: what it writes must decode, with the map
// library's own decoders, into exactly what was described (header, annotations,
// index runs, offsets, every record byte for byte, plain and compressed); it
// must refuse what the format cannot hold; the same description must give the
// same bytes; the text form and the command must round-trip; and large
// synthetic grids must build and decode (bench/ times their build).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "mapengine/format/store/RmfFileFormat.h"
#include "mapengine/format/store/RmfTile.h"
#include "tests/support/temp_folder.h"
#include "tools/rmfbuild/RmfBuilder.h"
#include "tools/rmfbuild/RmfCommand.h"
#include "tools/rmfbuild/RmfDescriptionText.h"

namespace {

using rmfbuild::Build;
using rmfbuild::BuildResult;
using rmfbuild::MapDescription;
using rmfbuild::Part;
using rmfbuild::Record;
using rmfbuild::TextTriple;
using rmfbuild::Tile;
using rmfbuild::VertexWord;

using Bytes = std::vector<std::uint8_t>;

std::uint16_t U16(const Bytes& b, std::size_t at) {
  return static_cast<std::uint16_t>(b.at(at) | (b.at(at + 1) << 8));
}
std::uint32_t U32(const Bytes& b, std::size_t at) { return U16(b, at) | (std::uint32_t{U16(b, at + 2)} << 16); }
std::int32_t I32(const Bytes& b, std::size_t at) { return static_cast<std::int32_t>(U32(b, at)); }

bool SameRect(const TiRect& a, const TiRect& b) {
  return a.x1 == b.x1 && a.y1 == b.y1 && a.x2 == b.x2 && a.y2 == b.y2;
}

std::string RectText(const TiRect& r) {
  return std::to_string(r.x1) + "," + std::to_string(r.y1) + "," + std::to_string(r.x2) + "," +
         std::to_string(r.y2);
}

// ---- reading files back with the library's decoders -----------------------------

struct TileData {
  std::uint32_t id = 0;
  std::uint32_t begin = 0;
  std::uint32_t end = 0;
  std::vector<Bytes> records;  // uncompressed
};

struct FileView {
  rmf::RmfFileHeader header{};
  std::vector<rmf::RmfIndexEntry> runs;
  std::vector<std::uint32_t> table;
  std::vector<TileData> tiles;  // in index order
};

// Decodes a whole file and checks the consistency the reader relies on:
// header accepted, runs sorted and apart, positions handing out the offset
// table in order, offsets ascending from the data start to the end of the
// file, and every tile's data framing exactly into records.
testing::AssertionResult ReadBack(const Bytes& file, FileView* view) {
  *view = FileView{};
  rmf::RmfFileHeader& h = view->header;
  int decoded = rmf::DecodeFileHeader(file.data(), file.size(), &h);
  if (decoded != rmf::kRmfFileAccepted) return testing::AssertionFailure() << "header result " << decoded;
  if (h.offsetTableOffset != h.indexOffset + 12 * h.indexCount) {
    return testing::AssertionFailure() << "offset table does not follow the index";
  }
  const std::uint64_t tableEnd = std::uint64_t{h.offsetTableOffset} + 4 * (std::uint64_t{h.offsetTableLast} + 1);
  if (tableEnd > file.size()) return testing::AssertionFailure() << "offset table beyond the file";
  for (std::uint32_t i = 0; i <= h.offsetTableLast; ++i) view->table.push_back(U32(file, h.offsetTableOffset + 4 * i));
  if (view->table.front() != tableEnd) return testing::AssertionFailure() << "data does not start after the table";
  if (view->table.back() != file.size()) return testing::AssertionFailure() << "data does not end the file";

  std::uint32_t nextPosition = 0;
  for (std::uint32_t r = 0; r < h.indexCount; ++r) {
    rmf::RmfIndexEntry e{};
    if (!rmf::ReadIndexEntry(file.data() + h.indexOffset, file.size() - h.indexOffset, r, &e)) {
      return testing::AssertionFailure() << "index entry " << r << " unreadable";
    }
    if (e.lastId < e.firstId) return testing::AssertionFailure() << "run " << r << " reversed";
    if (r > 0 && e.firstId <= view->runs.back().lastId) {
      return testing::AssertionFailure() << "run " << r << " not after its predecessor";
    }
    if (e.position != nextPosition) return testing::AssertionFailure() << "run " << r << " position " << e.position;
    view->runs.push_back(e);
    for (std::uint64_t id = e.firstId; id <= e.lastId; ++id) {
      const std::uint32_t p = e.position + static_cast<std::uint32_t>(id - e.firstId);
      if (p + 1 >= view->table.size()) return testing::AssertionFailure() << "position beyond the table";
      TileData tile;
      tile.id = static_cast<std::uint32_t>(id);
      tile.begin = view->table[p];
      tile.end = view->table[p + 1];
      if (tile.end < tile.begin) return testing::AssertionFailure() << "tile offsets descend";
      std::size_t at = tile.begin;
      while (at < tile.end) {
        rmf::RmfRecordFrame frame{};
        auto status = rmf::FrameRecord(file.data() + at, tile.end - at, h.recordsCompressed != 0, &frame);
        if (status == rmf::RmfRecordStatus::kReadError || status == rmf::RmfRecordStatus::kUnreadable) {
          return testing::AssertionFailure() << "record at " << at << " does not frame";
        }
        Bytes rec(frame.rawLength);
        if (status == rmf::RmfRecordStatus::kOk &&
            rmf::UnpackRecord(frame, rec.data(), rec.size()) != rmf::RmfRecordStatus::kOk) {
          return testing::AssertionFailure() << "record at " << at << " does not unpack";
        }
        if (status == rmf::RmfRecordStatus::kEmpty && !frame.compressed) {
          rec.assign(file.begin() + static_cast<std::ptrdiff_t>(at),
                     file.begin() + static_cast<std::ptrdiff_t>(at + frame.storedLength));
        }
        tile.records.push_back(std::move(rec));
        at += frame.storedLength;
      }
      if (at != tile.end) return testing::AssertionFailure() << "records overrun tile " << id;
      view->tiles.push_back(std::move(tile));
    }
    nextPosition += e.lastId - e.firstId + 1;
  }
  if (nextPosition != h.offsetTableLast) {
    return testing::AssertionFailure() << "table holds " << h.offsetTableLast << " tiles, runs " << nextPosition;
  }
  return testing::AssertionSuccess();
}

// A structured record seen through its header's table words alone.
struct PartView {
  std::uint32_t classBits = 0;
  TextTriple text;
  std::vector<std::uint16_t> words;
  std::uint16_t spare = 0;
};

struct RecordView {
  rmf::RmfRecordHeader header{};
  std::vector<TiPoint> points;
  std::vector<PartView> parts;
};

TextTriple TripleAt(const Bytes& rec, std::size_t at) {
  std::string s[3];
  for (auto& text : s) {
    while (rec.at(at) != 0) text.push_back(static_cast<char>(rec.at(at++)));
    ++at;
  }
  return TextTriple{s[0], s[1], s[2]};
}

// Offsets by the file format: point table at 28, count 30, feature table 32,
// count 34, text base 36, word base 42; vector::at() fails the test on any
// offset outside the record.
RecordView ViewRecord(const Bytes& rec, std::size_t entrySize) {
  RecordView v;
  EXPECT_TRUE(rmf::DecodeRecordHeader(rec.data(), rec.size(), &v.header));
  const std::size_t pointTable = U16(rec, 28);
  const std::size_t pointSize = (rec.at(3) & 1) != 0 ? 8 : 4;
  for (std::size_t i = 0; i < U16(rec, 30); ++i) {
    std::size_t at = pointTable + i * pointSize;
    if (pointSize == 8) {
      v.points.push_back(TiPoint{I32(rec, at), I32(rec, at + 4)});
    } else {
      v.points.push_back(TiPoint{I32(rec, 4) + U16(rec, at), I32(rec, 8) + U16(rec, at + 2)});
    }
  }
  const std::size_t textBase = U16(rec, 36);
  const std::size_t wordBase = U16(rec, 42);
  for (std::size_t e = 0; e < U16(rec, 34); ++e) {
    std::size_t at = U16(rec, 32) + e * entrySize;
    PartView p;
    p.classBits = U32(rec, at);
    p.text = TripleAt(rec, textBase + U16(rec, at + 4));
    for (std::size_t w = 0; w < U16(rec, at + 8); ++w) p.words.push_back(U16(rec, wordBase + 2 * (U16(rec, at + 6) + w)));
    if (entrySize == 12) p.spare = U16(rec, at + 10);
    v.parts.push_back(std::move(p));
  }
  return v;
}

// ---- fixtures --------------------------------------------------------------------

Record SampleRecord(bool wide) {
  Record r;
  r.widePoints = wide;
  r.byte2 = 0x5a;
  r.extraFlags = 0x80;
  r.spareWords[5] = 0x1234;   // offset 38
  r.spareWords[6] = 0x5678;   // offset 40
  r.spareWords[14] = 0x9abc;  // offset 56
  r.points = {{100000, 200000}, {100500, 200300}, {101000, 199000}};
  Part line;
  line.text = {"431", "Main Street", "north part"};
  line.words = {VertexWord::Attribute({"9", "one-way", ""}), VertexWord::Point(0), VertexWord::Point(1),
                VertexWord::Attribute({"9", "bridge", "over the river"}), VertexWord::Point(2)};
  Part poi;
  poi.text = {"250", "Cafe", ""};
  poi.classBits = 0x00401002;
  poi.spare = 0xbeef;
  poi.words = {VertexWord::Point(1)};
  r.parts = {line, poi};
  return r;
}

// Tiles of level 2 with consecutive ids, given out of order, with an empty
// tile, raw records among structured ones and a tile of another level.
MapDescription SampleMap(bool compressed, bool wideEntries) {
  MapDescription d;
  d.compressed = compressed;
  d.wideEntries = wideEntries;
  d.Annotate("FILENAME", "sample.rmf");
  d.Annotate("UDM Version", "2.5");
  const TiPoint at{100000, 200000};
  const std::uint32_t base = RmfTileIdOfPoint(&at, 2);
  TiRect rect{};
  (void)RmfTileRect(base + 1, &rect);

  Tile second = Tile::WithId(base + 1);
  Record inSecond;
  inSecond.points = {{rect.x1 + 10, rect.y1 + 20}, {rect.x1 + 3000, rect.y1 + 40}};
  inSecond.parts.push_back(Part{{"121", "Side Road", ""}, std::nullopt, {VertexWord::Point(0), VertexWord::Point(1)}, 0});
  second.records = {inSecond, Record::Raw({0x06, 0x00, 0x07, 0x00, 0x01, 0x02}, true), SampleRecord(true)};

  Tile first = Tile::At(2, at);
  first.records = {SampleRecord(false)};
  d.tiles.push_back(second);
  d.tiles.push_back(Tile::WithId(base + 2));  // in the index, no data
  d.tiles.push_back(first);
  Tile apart = Tile::WithId(base + 9);
  apart.records = {SampleRecord(true), SampleRecord(false)};
  d.tiles.push_back(apart);
  Tile higher = Tile::At(4, at);
  higher.records = {SampleRecord(false)};
  d.tiles.push_back(higher);
  return d;
}

// A file of the running test in the program's temporary folder.
std::filesystem::path TempPath(const std::string& name) {
  static const testing_support::TempFolder folder("rmfbuild");
  const auto* info = testing::UnitTest::GetInstance()->current_test_info();
  return folder / (std::string(info->name()) + "_" + name);
}

Bytes ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// ---- records ----------------------------------------------------------------------

TEST(RmfBuildRecord, StructuredRecordDecodesToWhatWasDescribed) {
  for (bool widePoints : {false, true}) {
    for (bool wideEntries : {false, true}) {
      SCOPED_TRACE(testing::Message() << "wide points " << widePoints << ", wide entries " << wideEntries);
      const Record r = SampleRecord(widePoints);
      auto bytes = rmfbuild::EncodeRecord(r, wideEntries, /*more=*/false, /*tileId=*/0);
      ASSERT_TRUE(bytes);
      const RecordView v = ViewRecord(*bytes, wideEntries ? 12 : 10);

      EXPECT_EQ(v.header.length, bytes->size());
      EXPECT_EQ(v.header.byte2, 0x5a);
      EXPECT_EQ(v.header.flags, (widePoints ? 0x81 : 0x80));
      EXPECT_EQ(v.header.moreFollows, 0u);
      EXPECT_EQ(v.header.pointBase.x, 100000);
      EXPECT_EQ(v.header.pointBase.y, 199000);
      EXPECT_TRUE(SameRect(v.header.box, TiRect{100000, 199000, 101000, 200300})) << RectText(v.header.box);
      EXPECT_EQ(U16(*bytes, 38), 0x1234);
      EXPECT_EQ(U16(*bytes, 40), 0x5678);
      EXPECT_EQ(U16(*bytes, 56), 0x9abc);

      ASSERT_EQ(v.points.size(), r.points.size());
      for (std::size_t i = 0; i < r.points.size(); ++i) {
        EXPECT_EQ(v.points[i].x, r.points[i].x);
        EXPECT_EQ(v.points[i].y, r.points[i].y);
      }
      ASSERT_EQ(v.parts.size(), 2u);
      EXPECT_EQ(v.parts[0].classBits, 0x408u);  // level 4, line class 3
      EXPECT_EQ(v.parts[0].text, (TextTriple{"431", "Main Street", "north part"}));
      ASSERT_EQ(v.parts[0].words.size(), 5u);
      const std::size_t textBase = U16(*bytes, 36);
      EXPECT_NE(v.parts[0].words[0] & 0x8000, 0);
      EXPECT_EQ(TripleAt(*bytes, textBase + (v.parts[0].words[0] & 0x7fff)), (TextTriple{"9", "one-way", ""}));
      EXPECT_EQ(v.parts[0].words[1], 0);
      EXPECT_EQ(v.parts[0].words[2], 1);
      EXPECT_EQ(TripleAt(*bytes, textBase + (v.parts[0].words[3] & 0x7fff)),
                (TextTriple{"9", "bridge", "over the river"}));
      EXPECT_EQ(v.parts[0].words[4], 2);
      EXPECT_EQ(v.parts[1].classBits, 0x00401002u);
      EXPECT_EQ(v.parts[1].text, (TextTriple{"250", "Cafe", ""}));
      EXPECT_EQ(v.parts[1].words, (std::vector<std::uint16_t>{1}));
      EXPECT_EQ(v.parts[1].spare, wideEntries ? 0xbeef : 0);
    }
  }
}

TEST(RmfBuildRecord, ClassBitsFollowTheCode) {
  struct Case {
    const char* code;
    std::optional<std::uint32_t> bits;
  };
  const Case cases[] = {
      {"431", 0x408u},          {"250", 0x1002u},  {"122+", 0x2020001u}, {"81B", 0x180u},
      {"77b", 0x40u | 0x4000u}, {"", std::nullopt}, {"43", std::nullopt}, {"031", std::nullopt},
      {"931", std::nullopt},    {"481", std::nullopt}, {"40 1", std::nullopt}, {"43x", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(rmfbuild::ClassBitsOfCode(c.code), c.bits) << c.code;
  }
}

TEST(RmfBuildRecord, RecordSizeLimitIsExact) {
  // No points, one part without words: 60 (header) + 10 (entry) + the
  // triple "431", "", detail: 76 + detail length bytes.
  Record r;
  r.parts.push_back(Part{{"431", "", std::string(65535 - 76, 'x')}, std::nullopt, {}, 0});
  auto atLimit = rmfbuild::EncodeRecord(r, false, false, 0, /*checkTexts=*/false);
  ASSERT_TRUE(atLimit);
  EXPECT_EQ(atLimit->size(), 65535u);
  EXPECT_EQ(U16(*atLimit, 0), 65535);
  r.parts[0].text.detail.push_back('x');
  std::string error;
  EXPECT_FALSE(rmfbuild::EncodeRecord(r, false, false, 0, false, &error));
  EXPECT_NE(error.find("65535"), std::string::npos) << error;
}

// ---- whole files -------------------------------------------------------------------

TEST(RmfBuildFile, IndexOffsetsAndRecordsComeBackByteEqual) {
  std::vector<std::vector<Bytes>> plainRecords;
  for (bool compressed : {false, true}) {
    for (bool wideEntries : {false, true}) {
      SCOPED_TRACE(testing::Message() << "compressed " << compressed << ", wide entries " << wideEntries);
      const MapDescription d = SampleMap(compressed, wideEntries);
      const BuildResult built = Build(d);
      ASSERT_TRUE(built) << built.error;
      FileView view;
      ASSERT_TRUE(ReadBack(built.bytes, &view));

      EXPECT_EQ(view.header.recordsCompressed, compressed ? 1u : 0u);
      EXPECT_EQ(view.header.featureEntrySize, wideEntries ? 12 : 10);
      // Level-2 tiles base, base + 1, base + 2 form one run; base + 9 and the
      // level-4 tile stand alone.
      const TiPoint at{100000, 200000};
      const std::uint32_t base = RmfTileIdOfPoint(&at, 2);
      ASSERT_EQ(view.runs.size(), 3u);
      EXPECT_EQ(view.runs[0].firstId, base);
      EXPECT_EQ(view.runs[0].lastId, base + 2);
      EXPECT_EQ(view.runs[1].firstId, base + 9);
      EXPECT_EQ(view.runs[2].firstId, RmfTileIdOfPoint(&at, 4));
      ASSERT_EQ(view.tiles.size(), 5u);
      EXPECT_EQ(view.tiles[2].begin, view.tiles[2].end);  // base + 2 has no data

      // Every record as described, the more bit on all but a tile's last.
      std::vector<Bytes> seen;
      std::size_t placed = 0;
      for (const TileData& tile : view.tiles) {
        const Tile* described = nullptr;
        for (const Tile& t : d.tiles) {
          if (rmfbuild::TileIdOf(t) == tile.id) described = &t;
        }
        ASSERT_NE(described, nullptr);
        ASSERT_EQ(tile.records.size(), described->records.size());
        for (std::size_t s = 0; s < tile.records.size(); ++s) {
          const bool more = s + 1 < tile.records.size();
          auto expected = rmfbuild::EncodeRecord(described->records[s], wideEntries, more, tile.id);
          ASSERT_TRUE(expected);
          EXPECT_EQ(tile.records[s], *expected) << "tile " << tile.id << " record " << s;
          if (tile.records[s].size() > 3) {
            EXPECT_EQ((tile.records[s][3] & 2) != 0, more);
          }
          ASSERT_LT(placed, built.layout.records.size());
          EXPECT_EQ(built.layout.records[placed].record, tile.records[s]);
          EXPECT_EQ(built.layout.records[placed].tileId, tile.id);
          EXPECT_EQ(built.layout.records[placed].sequence, s);
          ++placed;
          seen.push_back(tile.records[s]);
        }
      }
      EXPECT_EQ(placed, built.layout.records.size());
      if (!wideEntries) {
        if (plainRecords.empty()) {
          plainRecords.push_back(seen);
        } else {
          EXPECT_EQ(seen, plainRecords[0]) << "compressed records inflate to the plain ones";
        }
      }
    }
  }
}

TEST(RmfBuildFile, ExplicitHeaderFieldsComeBackExactly) {
  MapDescription d;
  d.version = 0x23;
  d.word4 = 0xa1b2;
  d.byte6 = 0xc3;
  d.word44 = 0xd4e5;
  d.wideEntries = true;
  d.compressed = true;
  d.extraFlags = 0x10;
  d.box = TiRect{-100, -200, 300, 400};
  d.regionBox = TiRect{-10, -20, 30, 40};
  d.levelMasks = std::array<std::uint16_t, 8>{0, 0x8, 0, 0x30, 0, 0, 0, 0x8000};
  rmfbuild::ClassSummary classes;
  classes.presence = {1, 0, 7, 0};
  classes.levels[0] = {1, 2, 3, 4, 5, 6, 7, 8};
  classes.levels[2] = {0x80, 0, 0, 0, 0, 0, 0x40, 0};
  d.classes = classes;
  d.tiles.push_back(Tile::WithId(0x10));

  const BuildResult built = Build(d);
  ASSERT_TRUE(built) << built.error;
  FileView view;
  ASSERT_TRUE(ReadBack(built.bytes, &view));
  const rmf::RmfFileHeader& h = view.header;
  EXPECT_EQ(h.versionMajor, 2);
  EXPECT_EQ(h.versionMinor, 3);
  EXPECT_EQ(h.headerWord4, 0xa1b2);
  EXPECT_EQ(h.headerByte6, 0xc3);
  EXPECT_EQ(h.headerWord44, 0xd4e5);
  EXPECT_EQ(h.flags, 0x15);
  EXPECT_TRUE(SameRect(h.box, *d.box));
  EXPECT_TRUE(SameRect(h.regionBox, *d.regionBox));
  for (int i = 0; i < 8; ++i) EXPECT_EQ(h.levelMasks[i], (*d.levelMasks)[i]) << i;
  EXPECT_EQ(h.minLevel, 2);
  EXPECT_EQ(h.maxLevel, 8);
  for (int c = 0; c < 4; ++c) {
    EXPECT_EQ(h.classPresence[c], classes.presence[c]);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(h.classLevels[c][i], classes.levels[c][i]);
  }
  EXPECT_EQ(h.annotationLength, 0);
  EXPECT_EQ(h.indexCount, 1u);
  EXPECT_EQ(h.offsetTableLast, 1u);
}

TEST(RmfBuildFile, DerivedHeaderFieldsFollowTheRecords) {
  // Two tiles: level 3 holding a level-4 line and a level-2 area, level 5
  // holding a level-2 point whose class bits also name level 7.
  MapDescription d;
  Record a;
  a.points = {{1000, 2000}, {1500, 2600}, {900, 2500}};
  a.parts.push_back(Part{{"431", "Road", ""}, std::nullopt, {VertexWord::Point(0), VertexWord::Point(1)}, 0});
  a.parts.push_back(Part{{"262+", "Park", ""}, std::nullopt,
                         {VertexWord::Point(0), VertexWord::Point(1), VertexWord::Point(2), VertexWord::Point(0)}, 0});
  Tile t3 = Tile::At(3, TiPoint{1000, 2000});
  t3.records = {a};
  Record b;
  b.widePoints = true;
  b.points = {{-70000, 90000}};
  b.parts.push_back(Part{{"210", "Stop", ""}, 0x42u | 0x100u, {VertexWord::Point(0)}, 0});
  Tile t5 = Tile::At(5, TiPoint{-70000, 90000});
  t5.records = {b};
  d.tiles = {t5, t3};

  const BuildResult built = Build(d);
  ASSERT_TRUE(built) << built.error;
  FileView view;
  ASSERT_TRUE(ReadBack(built.bytes, &view));
  const rmf::RmfFileHeader& h = view.header;
  EXPECT_TRUE(SameRect(h.box, TiRect{-70000, 2000, 1500, 90000})) << RectText(h.box);
  EXPECT_TRUE(SameRect(h.regionBox, h.box));
  const std::uint16_t expectedMasks[8] = {0, 1 << 3 | 1 << 5, 0, 1 << 3, 0, 0, 1 << 5, 0};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(h.levelMasks[i], expectedMasks[i]) << "detail level " << i + 1;
  EXPECT_EQ(h.minLevel, 2);
  EXPECT_EQ(h.maxLevel, 7);
  EXPECT_EQ(h.classPresence[0], 1u);
  EXPECT_EQ(h.classPresence[1], 1u);
  EXPECT_EQ(h.classPresence[2], 1u);
  EXPECT_EQ(h.classPresence[3], 0u);
  EXPECT_EQ(h.classLevels[0][0], 0x2);  // class 1 point at level 2
  EXPECT_EQ(h.classLevels[1][2], 0x8);  // class 3 line at level 4
  EXPECT_EQ(h.classLevels[2][5], 0x2);  // class 6 area at level 2

  // Version 0: the header ends at 61 and nothing is written after it.
  d.version = 0;
  const BuildResult v0 = Build(d);
  ASSERT_TRUE(v0) << v0.error;
  for (std::size_t i = 62; i < 126; ++i) EXPECT_EQ(v0.bytes[i], 0) << i;
  ASSERT_TRUE(ReadBack(v0.bytes, &view));
  EXPECT_EQ(view.header.hasRegionBlocks, 0u);
}

TEST(RmfBuildFile, AnnotationsDecode) {
  MapDescription d;
  d.Annotate("FILENAME", "north.rmf");
  d.Annotate("RMF Compile", "2024-01-02");
  d.Annotate("UDM Version", "3.14");
  d.annotations.push_back("Vehicle Types List: 3,7");
  d.annotations.push_back("no colon here");
  d.tiles.push_back(Tile::WithId(0x20));
  const BuildResult built = Build(d);
  ASSERT_TRUE(built) << built.error;
  FileView view;
  ASSERT_TRUE(ReadBack(built.bytes, &view));
  const rmf::RmfFileHeader& h = view.header;
  ASSERT_GT(h.annotationLength, 0);
  ASSERT_LE(std::size_t{h.annotationOffset} + h.annotationLength, built.bytes.size());
  EXPECT_EQ(built.bytes[h.annotationOffset + h.annotationLength - 1], 0) << "last text NUL-terminated";

  rmf::RmfAnnotations a{};
  ASSERT_EQ(rmf::DecodeAnnotations(built.bytes.data() + h.annotationOffset, h.annotationLength, &a),
            rmf::kRmfFileAccepted);
  EXPECT_STREQ(a.fileName, "north.rmf");
  EXPECT_STREQ(a.rmfCompile, "2024-01-02");
  EXPECT_EQ(a.udmVersionMajor, 3);
  EXPECT_EQ(a.udmVersionMinor, 14);
  EXPECT_EQ(a.hasDataModelAnnotations, 1u);
  ASSERT_EQ(a.vehicleTypeCount, 8u);
  EXPECT_EQ(a.vehicleTypes[3], 1);
  EXPECT_EQ(a.vehicleTypes[7], 1);
  EXPECT_EQ(a.vehicleTypes[4], 0);
  rmf::FreeAnnotations(&a);
}

TEST(RmfBuildFile, RunsBreakAtLevelChangesAndOnRequest) {
  MapDescription d;
  // 0x7fffffff is the last level-0 id, 0x80000000 the first level-1 id.
  for (std::uint32_t id : {0x7ffffffeu, 0x7fffffffu, 0x80000000u, 0x80000001u}) d.tiles.push_back(Tile::WithId(id));
  FileView view;
  BuildResult built = Build(d);
  ASSERT_TRUE(built) << built.error;
  ASSERT_TRUE(ReadBack(built.bytes, &view));
  ASSERT_EQ(view.runs.size(), 2u);
  EXPECT_EQ(view.runs[0].lastId, 0x7fffffffu);
  EXPECT_EQ(view.runs[1].firstId, 0x80000000u);

  d.runPerTile = true;
  built = Build(d);
  ASSERT_TRUE(built) << built.error;
  ASSERT_TRUE(ReadBack(built.bytes, &view));
  EXPECT_EQ(view.runs.size(), 4u);

  // No tiles at all: an empty index and a one-entry offset table.
  built = Build(MapDescription{});
  ASSERT_TRUE(built) << built.error;
  ASSERT_TRUE(ReadBack(built.bytes, &view));
  EXPECT_EQ(view.header.indexCount, 0u);
  EXPECT_EQ(view.header.offsetTableLast, 0u);
  EXPECT_GE(built.bytes.size(), 126u);
}

TEST(RmfBuildFile, RawAndStoredRecordsAreWrittenAsGiven) {
  const Bytes raw = {0x40, 0x00, 0xaa, 0x02, 0x11, 0x22};  // length word lies on purpose
  const Bytes stored = {0xde, 0xad, 0xbe, 0xef};
  for (bool compressed : {false, true}) {
    MapDescription d;
    d.compressed = compressed;
    Tile t = Tile::WithId(0x100);
    t.records = {Record::Raw(raw), Record::Stored(stored)};
    d.tiles = {t};
    const BuildResult built = Build(d);
    ASSERT_TRUE(built) << built.error;
    ASSERT_EQ(built.layout.records.size(), 2u);
    const auto& r0 = built.layout.records[0];
    const auto& r1 = built.layout.records[1];
    EXPECT_EQ(r0.record, raw);
    if (!compressed) {
      EXPECT_EQ(Bytes(built.bytes.begin() + r0.offset, built.bytes.begin() + r0.offset + r0.storedLength), raw);
    } else {
      EXPECT_EQ(U16(built.bytes, r0.offset), r0.storedLength);
      EXPECT_EQ(U16(built.bytes, r0.offset + 2), raw.size());
      rmf::RmfRecordFrame frame{};
      ASSERT_EQ(rmf::FrameRecord(built.bytes.data() + r0.offset, r0.storedLength, true, &frame),
                rmf::RmfRecordStatus::kOk);
      Bytes back(frame.rawLength);
      ASSERT_EQ(rmf::UnpackRecord(frame, back.data(), back.size()), rmf::RmfRecordStatus::kOk);
      Bytes expected = raw;
      expected[0] = static_cast<std::uint8_t>(raw.size());  // the raw-length word stands in
      EXPECT_EQ(back, expected);
    }
    EXPECT_EQ(r1.offset, r0.offset + r0.storedLength);
    EXPECT_EQ(Bytes(built.bytes.begin() + r1.offset, built.bytes.end()), stored);
    EXPECT_TRUE(r1.record.empty());
  }

  // The more bit of a raw record is the builder's only when asked.
  Tile t = Tile::WithId(0x100);
  t.records = {Record::Raw({0x06, 0x00, 0x00, 0x00, 0x00, 0x00}, true), Record::Raw({0x06, 0x00, 0x00, 0x02, 0, 0}, true)};
  MapDescription d;
  d.tiles = {t};
  const BuildResult built = Build(d);
  ASSERT_TRUE(built) << built.error;
  EXPECT_EQ(built.layout.records[0].record[3], 0x02);
  EXPECT_EQ(built.layout.records[1].record[3], 0x00);
}

TEST(RmfBuildFile, RefusesWhatTheFormatCannotHold) {
  auto withRecord = [](Record r, bool compressed = false) {
    MapDescription d;
    d.compressed = compressed;
    Tile t = Tile::WithId(0x1000);
    t.records.push_back(std::move(r));
    d.tiles.push_back(std::move(t));
    return d;
  };
  auto line = [](std::vector<TiPoint> points, std::vector<VertexWord> words, TextTriple text = {"431", "", ""}) {
    Record r;
    r.points = std::move(points);
    r.parts.push_back(Part{std::move(text), std::nullopt, std::move(words), 0});
    return r;
  };
  // Pseudo-random bytes do not compress: a 65,535-byte record grows past the limit.
  Bytes noise(65535);
  std::uint32_t x = 12345;
  for (auto& b : noise) {
    x = x * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(x >> 23);
  }

  struct Case {
    const char* what;
    MapDescription description;
  };
  std::vector<Case> cases;
  cases.push_back({"record over 65535 bytes", withRecord(line(std::vector<TiPoint>(17000, TiPoint{5, 5}), {VertexWord::Point(0)}))});
  cases.push_back({"more than 32768 points", withRecord(line(std::vector<TiPoint>(32769, TiPoint{5, 5}), {}))});
  {
    Record r = line({{0, 0}, {70000, 0}}, {VertexWord::Point(0), VertexWord::Point(1)});
    cases.push_back({"4-byte point out of reach", withRecord(r)});
  }
  cases.push_back({"point index beyond the points", withRecord(line({{0, 0}}, {VertexWord::Point(1)}))});
  cases.push_back({"code without class bits", withRecord(line({{0, 0}}, {VertexWord::Point(0)}, {"xyz", "", ""}))});
  cases.push_back({"text with NUL", withRecord(line({{0, 0}}, {VertexWord::Point(0)}, {"431", std::string("a\0b", 3), ""}))});
  cases.push_back({"name too wide", withRecord(line({{0, 0}}, {VertexWord::Point(0)}, {"431", std::string(51, 'n'), ""}))});
  cases.push_back({"code too wide", withRecord(line({{0, 0}}, {VertexWord::Point(0)}, {"431+++", "", ""}))});
  {
    // Attribute triples past 32 KB of text cannot be named by a vertex word.
    std::vector<VertexWord> words;
    for (int i = 0; i < 40; ++i) words.push_back(VertexWord::Attribute({"9", "", std::string(1000, 'd')}));
    MapDescription d = withRecord(line({{0, 0}}, words));
    d.checkTexts = false;
    cases.push_back({"attribute beyond 15-bit offset", d});
  }
  cases.push_back({"compressed record over 65535 bytes", withRecord(Record::Raw(noise), true)});
  cases.push_back({"compressed raw record without length word", withRecord(Record::Raw({0x01}), true)});
  {
    MapDescription d;
    const TiPoint p{5000, 5000};
    d.tiles = {Tile::At(3, p), Tile::WithId(RmfTileIdOfPoint(&p, 3))};
    cases.push_back({"duplicate tile id", d});
  }
  {
    MapDescription d;
    d.tiles = {Tile::At(16, TiPoint{0, 0})};
    cases.push_back({"tile level above 15", d});
  }
  {
    MapDescription d;
    d.annotations = {std::string(40000, 'a'), std::string(30000, 'b')};
    cases.push_back({"annotation block over 65535 bytes", d});
  }
  {
    MapDescription d;
    d.annotations = {std::string("FILENAME: a\0b", 13)};
    cases.push_back({"annotation with NUL", d});
  }

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const BuildResult built = Build(c.description);
    EXPECT_FALSE(built.ok);
    EXPECT_FALSE(built.error.empty());
    EXPECT_TRUE(built.bytes.empty());
    const auto path = TempPath("refused.rmf");
    std::string error;
    EXPECT_FALSE(rmfbuild::WriteFile(c.description, path.string(), &error));
    EXPECT_EQ(error, built.error);
    EXPECT_FALSE(std::filesystem::exists(path));
  }

  // The plain form of the same noise record fits exactly.
  EXPECT_TRUE(Build(withRecord(Record::Raw(noise), false)).ok);
}

TEST(RmfBuildFile, SameDescriptionGivesSameBytes) {
  rmfbuild::GridOptions options;
  options.compressed = true;
  const MapDescription d = rmfbuild::GenerateGrid(6, 200, 3, 99, options);
  const BuildResult a = Build(d);
  const BuildResult b = Build(d);
  ASSERT_TRUE(a) << a.error;
  EXPECT_EQ(a.bytes, b.bytes);
  const BuildResult again = Build(rmfbuild::GenerateGrid(6, 200, 3, 99, options));
  EXPECT_EQ(a.bytes, again.bytes) << "a seed gives the same grid";
  const BuildResult other = Build(rmfbuild::GenerateGrid(6, 200, 3, 100, options));
  EXPECT_NE(a.bytes, other.bytes);

  // Written files hold exactly the built bytes.
  const auto path = TempPath("grid.rmf");
  ASSERT_TRUE(rmfbuild::WriteFile(d, path.string()));
  EXPECT_EQ(ReadFileBytes(path), a.bytes);
  std::filesystem::remove(path);
}

// ---- text form and command -----------------------------------------------------------

constexpr const char* kSmallText = R"(# a small map
header version=0x12 flags=compressed,wide-entries word4=7 byte6=0x09 word44=0x1001
annotation FILENAME: small.rmf
annotation   spaced: kept as written  
annotation "Quoted: \"yes\"\tand\\ tab"
levelmasks 0,0x8,0,0x8,0,0,0,0
tile level=3 point=1000,2000
record byte2=0x11 flags=0x40 word38=0x2222
points 1000,2000 1100,2050
points 1200,2100
part "431" "Main Street" "" spare=0x33
attr "9" "one-way" ""
vertices 0 1
word 0x8000 2
part "250" "Cafe" "open late" class=0x1002
vertices 1
record wide-points base=-5,-6 box=-5000,-6000,-4000,-5000
points -5000,-6000
part "12B" "Border" ""
vertices 0 0
tile id=0x12345
raw more 3c00 0000 00
stored deadbeef
tile id=0x12346
)";

MapDescription SmallByHand() {
  MapDescription d;
  d.version = 0x12;
  d.compressed = true;
  d.wideEntries = true;
  d.word4 = 7;
  d.byte6 = 9;
  d.word44 = 0x1001;
  d.annotations = {"FILENAME: small.rmf", "  spaced: kept as written  ", "Quoted: \"yes\"\tand\\ tab"};
  d.levelMasks = std::array<std::uint16_t, 8>{0, 8, 0, 8, 0, 0, 0, 0};
  Tile t = Tile::At(3, TiPoint{1000, 2000});
  Record r;
  r.byte2 = 0x11;
  r.extraFlags = 0x40;
  r.spareWords[5] = 0x2222;
  r.points = {{1000, 2000}, {1100, 2050}, {1200, 2100}};
  r.parts.push_back(Part{{"431", "Main Street", ""}, std::nullopt,
                         {VertexWord::Attribute({"9", "one-way", ""}), VertexWord::Point(0), VertexWord::Point(1),
                          VertexWord::Raw(0x8000), VertexWord::Raw(2)},
                         0x33});
  r.parts.push_back(Part{{"250", "Cafe", "open late"}, 0x1002u, {VertexWord::Point(1)}, 0});
  Record w;
  w.widePoints = true;
  w.base = TiPoint{-5, -6};
  w.box = TiRect{-5000, -6000, -4000, -5000};
  w.points = {{-5000, -6000}};
  w.parts.push_back(Part{{"12B", "Border", ""}, std::nullopt, {VertexWord::Point(0), VertexWord::Point(0)}, 0});
  t.records = {r, w};
  Tile raw = Tile::WithId(0x12345);
  raw.records = {Record::Raw({0x3c, 0, 0, 0, 0}, true), Record::Stored({0xde, 0xad, 0xbe, 0xef})};
  d.tiles = {t, raw, Tile::WithId(0x12346)};
  return d;
}

TEST(RmfBuildText, TextDescriptionBuildsLikeTheSameDescriptionByHand) {
  const rmfbuild::ParseResult parsed = rmfbuild::ParseDescription(kSmallText);
  ASSERT_TRUE(parsed) << parsed.error;
  const BuildResult fromText = Build(parsed.description);
  const BuildResult byHand = Build(SmallByHand());
  ASSERT_TRUE(fromText) << fromText.error;
  ASSERT_TRUE(byHand) << byHand.error;
  EXPECT_EQ(fromText.bytes, byHand.bytes);

  // Writing the description out and reading it back changes nothing, also
  // for a generated grid with every kind of part.
  for (const MapDescription& d : {parsed.description, rmfbuild::GenerateGrid(4, 30, 2, 5)}) {
    const std::string text = rmfbuild::FormatDescription(d);
    const rmfbuild::ParseResult again = rmfbuild::ParseDescription(text);
    ASSERT_TRUE(again) << again.error << "\n" << text;
    EXPECT_EQ(Build(again.description).bytes, Build(d).bytes) << text;
    EXPECT_EQ(rmfbuild::FormatDescription(again.description), text);
  }
}

TEST(RmfBuildText, FaultsAreReportedWithTheirLine) {
  struct Case {
    const char* text;
    const char* error;  // start of the message
  };
  const Case cases[] = {
      {"header version=0x100\n", "line 1: bad value"},
      {"header colour=red\n", "line 1: unknown header field"},
      {"\n# fine\nbox 1,2,3\n", "line 3: expected X1,Y1,X2,Y2"},
      {"levelmasks 1,2,3\n", "line 1: expected 8"},
      {"record\n", "line 1: no tile yet"},
      {"tile id=1 level=2\n", "line 1: a tile needs"},
      {"tile level=2\n", "line 1: a tile needs"},
      {"tile id=1\npoints 1,2\n", "line 2: no structured record yet"},
      {"tile id=1\nrecord\nvertices 1\n", "line 3: no part yet"},
      {"tile id=1\nrecord\npart \"431\" \"x\"\n", "line 3: expected three quoted texts"},
      {"tile id=1\nrecord\npart \"431\" \"x\n", "line 3: unterminated quoted text"},
      {"tile id=1\nraw 3c0\n", "line 2: expected hexadecimal bytes"},
      {"tile id=1\nrecord word42=1\n", "line 2: bad value"},
      {"classes shapes presence=1\n", "line 1: expected a category"},
      {"frobnicate\n", "line 1: unknown statement"},
  };
  for (const Case& c : cases) {
    const rmfbuild::ParseResult parsed = rmfbuild::ParseDescription(c.text);
    EXPECT_FALSE(parsed.ok) << c.text;
    EXPECT_EQ(parsed.error.rfind(c.error, 0), 0u) << c.text << " gave: " << parsed.error;
  }
}

TEST(RmfBuildText, CommandBuildsAndDumps) {
  const auto text = TempPath("small.txt");
  const auto rmf = TempPath("small.rmf");
  {
    std::ofstream f(text, std::ios::binary);
    f << kSmallText;
  }
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(rmfbuild::RunCommand({text.string(), rmf.string()}, out, err), 0) << err.str();
  EXPECT_EQ(ReadFileBytes(rmf), Build(SmallByHand()).bytes);

  // The dump of the file names its parts; the raw record is too short to be a
  // record and the stored bytes do not frame, so the dump says the file is off.
  out.str("");
  EXPECT_EQ(rmfbuild::RunCommand({"--dump", "--all", rmf.string()}, out, err), 1);
  const std::string dump = out.str();
  for (const char* expected :
       {"version 0x12 (1.2)", "wide-entries compressed", "\"FILENAME: small.rmf\"", "run 0: 0x00012345 .. 0x00012346",
        "no data", "record 1 at", "wide-points", "box -5000,-6000,-4000,-5000", "\"Main Street\"",
        "@[\"9\" \"one-way\" \"\"]", "shorter than a record header", "cannot be framed"}) {
    EXPECT_NE(dump.find(expected), std::string::npos) << expected << "\n" << dump;
  }

  // A good file dumps with status 0; a refused description writes nothing.
  const auto grid = TempPath("grid.rmf");
  EXPECT_EQ(rmfbuild::RunCommand({"--grid", "5", "40", "2", "3", grid.string(), "--compressed"}, out, err), 0);
  EXPECT_EQ(ReadFileBytes(grid), Build(rmfbuild::GenerateGrid(5, 40, 2, 3, {true, false})).bytes);
  out.str("");
  EXPECT_EQ(rmfbuild::RunCommand({"--dump", grid.string()}, out, err), 0) << out.str();
  {
    std::ofstream f(text, std::ios::binary);
    f << "tile id=1\nrecord\npoints 0,0\npart \"431\" \"\" \"\"\nvertices 3\n";
  }
  std::filesystem::remove(rmf);
  err.str("");
  EXPECT_EQ(rmfbuild::RunCommand({text.string(), rmf.string()}, out, err), 1);
  EXPECT_NE(err.str().find("point index 3"), std::string::npos) << err.str();
  EXPECT_FALSE(std::filesystem::exists(rmf));
  EXPECT_EQ(rmfbuild::RunCommand({}, out, err), 2);
  EXPECT_EQ(rmfbuild::RunCommand({"--dump"}, out, err), 2);

  // Any bytes can be dumped: every cut of a good file.
  const Bytes good = ReadFileBytes(grid);
  for (std::size_t n = 0; n < good.size(); n += 97) {
    std::ostringstream sink;
    rmfbuild::DumpFile(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n)), sink, true);
  }
  for (const auto& p : {text, rmf, grid}) std::filesystem::remove(p);
}

// A record whose point or part count claims more than the record holds is
// dumped as far as its table lies inside it, and the dump says where it stops.
TEST(RmfBuildText, DumpShowsTheTablesOfADamagedRecordAsFarAsTheyGo) {
  const rmfbuild::ParseResult parsed = rmfbuild::ParseDescription(
      "tile level=3 point=1000,2000\n"
      "record\n"
      "points 1000,2000 1100,2050 1200,2100\n"
      "part \"431\" \"Main Street\" \"\"\n"
      "vertices 0 1 2\n"
      "part \"250\" \"Cafe\" \"\"\n"
      "vertices 1\n");
  ASSERT_TRUE(parsed) << parsed.error;
  const BuildResult built = Build(parsed.description);
  ASSERT_TRUE(built) << built.error;
  FileView view;
  ASSERT_TRUE(ReadBack(built.bytes, &view));
  ASSERT_EQ(view.tiles.size(), 1u);
  const std::uint32_t record = view.tiles[0].begin;  // plain records: the record itself

  struct Case {
    const char* what;
    std::uint32_t word;  // offset of the count word patched, 0 for none
    const char* stop;    // the dump's note, null when none is expected
  };
  const Case cases[] = {
      {"a sound record", 0, nullptr},
      {"a point count beyond the record", 30, "points run past the record"},
      {"a part count beyond the record", 34, "feature entries run past the record"},
  };
  for (const Case& c : cases) {
    Bytes file = built.bytes;
    if (c.word != 0) {
      file[record + c.word] = 0xff;
      file[record + c.word + 1] = 0xff;
    }
    std::ostringstream out;
    rmfbuild::DumpFile(file, out, true);
    const std::string dump = out.str();
    for (const char* expected : {"point 0: 1000,2000", "point 2: 1200,2100", "\"Main Street\"", "\"Cafe\""}) {
      EXPECT_NE(dump.find(expected), std::string::npos) << c.what << ": " << expected << "\n" << dump;
    }
    for (const char* note : {"points run past the record", "feature entries run past the record"}) {
      const bool expected = c.stop != nullptr && std::string(c.stop) == note;
      EXPECT_EQ(dump.find(note) != std::string::npos, expected) << c.what << ": " << note << "\n" << dump;
    }
  }
}

// ---- synthetic grids -------------------------------------------------------------------

// The time the build takes is measured by bench/rmfbuild_grid_bench.cpp.
TEST(RmfBuildGrid, ThousandsOfTilesBuildAndDecode) {
  const MapDescription d = rmfbuild::GenerateGrid(5, 3000, 2, 2024, {true, true});
  const BuildResult built = Build(d);
  ASSERT_TRUE(built) << built.error;

  FileView view;
  ASSERT_TRUE(ReadBack(built.bytes, &view));
  ASSERT_EQ(view.tiles.size(), 3000u);
  EXPECT_GT(view.runs.size(), 10u) << "a square block of cells breaks into several runs";
  std::vector<std::uint32_t> ids;
  for (const Tile& t : d.tiles) ids.push_back(rmfbuild::TileIdOf(t));
  std::sort(ids.begin(), ids.end());
  std::vector<rmf::RmfIndexEntry> entries;
  for (std::size_t k = 0; k < view.tiles.size(); ++k) {
    const TileData& tile = view.tiles[k];
    ASSERT_EQ(tile.id, ids[k]);
    EXPECT_EQ(RmfTileLevel(tile.id), 5);
    ASSERT_EQ(tile.records.size(), 2u);
    TiRect rect{};
    ASSERT_EQ(RmfTileRect(tile.id, &rect), 1);
    for (std::size_t s = 0; s < tile.records.size(); ++s) {
      const RecordView v = ViewRecord(tile.records[s], 12);
      EXPECT_EQ(v.header.moreFollows, s == 0 ? 1u : 0u);
      const TiRect& box = v.header.box;
      EXPECT_TRUE(box.x1 >= rect.x1 && box.y1 >= rect.y1 && box.x2 <= rect.x2 && box.y2 <= rect.y2)
          << RectText(box) << " outside " << RectText(rect);
      for (const PartView& p : v.parts) {
        for (std::uint16_t w : p.words) {
          if ((w & 0x8000) == 0) {
            EXPECT_LT(w, v.points.size());
          }
        }
      }
    }
  }
  for (const auto& run : view.runs) entries.push_back(run);
  rmf::RmfSampleTable samples{};
  EXPECT_EQ(rmf::BuildSampleTable(entries.data(), static_cast<std::uint32_t>(entries.size()), &samples), 0);
  // Every detail level's data lies in level-5 tiles, or nowhere.
  std::uint16_t any = 0;
  for (std::uint16_t mask : view.header.levelMasks) {
    EXPECT_TRUE(mask == 0 || mask == 1 << 5) << mask;
    any |= mask;
  }
  EXPECT_NE(any, 0);

  // The same tiles with an index entry each.
  rmfbuild::GridOptions perTile{true, true, true};
  const BuildResult many = Build(rmfbuild::GenerateGrid(5, 3000, 2, 2024, perTile));
  ASSERT_TRUE(many) << many.error;
  FileView manyView;
  ASSERT_TRUE(ReadBack(many.bytes, &manyView));
  EXPECT_EQ(manyView.runs.size(), 3000u);
  ASSERT_EQ(manyView.tiles.size(), view.tiles.size());
  for (std::size_t k = 0; k < view.tiles.size(); ++k) {
    ASSERT_EQ(manyView.tiles[k].records, view.tiles[k].records) << "tile " << k;
  }
}

}  // namespace
