// Tests of the reader over map files in memory that the library's tests,
// benchmarks and fuzz target share: the reader's own answers reach the
// caller unchanged, refusals say why, bytes (a file's too) are read as a
// file of the same bytes would give them, and closing and restarting leave
// the reader as they promise.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "mapengine/format/RmfResult.h"
#include "mapengine/format/store/RmfReader.h"
#include "mapengine/format/store/RmfSource.h"
#include "tests/support/temp_folder.h"
#include "tools/rmfbuild/RmfBuilder.h"
#include "tools/rmfbuild/RmfFeatures.h"
#include "tools/rmfbuild/RmfMemoryReader.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using rmfbuild::MemoryReader;

TEST(MemoryReader, AddsMapsAndPassesTheReadersAnswersOn) {
  MemoryReader maps(2u << 20);
  RmfReader* reader = maps.reader();
  ASSERT_NE(reader, nullptr);

  rmfbuild::BuildResult built;
  ASSERT_EQ(maps.AddMap(rmfbuild::GenerateGrid(0, 400, 3, 1), &built), 1) << maps.error();
  EXPECT_TRUE(maps.error().empty());
  // The source reads the very bytes the builder wrote, the last record too,
  // read by itself at its own offset beyond the first read buffer.
  ASSERT_GT(built.bytes.size(), 2 * kRmfReadBufferBytes);
  RmfReaderSetWindowFactor(reader, 0);
  const rmfbuild::RecordPlacement& last = built.layout.records.back();
  std::uint32_t next = 7;
  const std::uint8_t* record = RmfSrcGetBlock(reader->sources[0], last.tileId, last.sequence, 0, &next);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(Bytes(record, record + last.record.size()), last.record);

  rmfbuild::FeatureMap features;
  features.Add(rmfbuild::Feature::Point(rmfbuild::FeatureClass{1, 1, rmfbuild::FeatureCategory::kPoint}, "p",
                                        TiPoint{1000, 1000}));
  rmfbuild::FeatureBuild pieces;
  EXPECT_EQ(maps.AddFeatures(features, &pieces), 2) << maps.error();
  EXPECT_EQ(pieces.pieces.size(), 1u);

  // A header the reader rejects: its own code, here and in lastError.
  EXPECT_EQ(maps.AddBytes(Bytes(60, 0x11)), kRmfHeaderRejected);
  EXPECT_EQ(reader->lastError, kRmfHeaderRejected);
  EXPECT_NE(maps.error().find("-5"), std::string::npos) << maps.error();
  // No bytes at all, as an empty file.
  EXPECT_EQ(maps.AddBorrowedBytes(nullptr, 100), kRmfCannotOpen);
  EXPECT_EQ(reader->lastError, kRmfCannotOpen);

  // A description the builder refuses: nothing added, and why.
  rmfbuild::MapDescription twice;
  twice.tiles = {rmfbuild::Tile::WithId(9), rmfbuild::Tile::WithId(9)};
  EXPECT_EQ(maps.AddMap(twice), 0);
  EXPECT_NE(maps.error().find("builder refused"), std::string::npos) << maps.error();
  EXPECT_EQ(reader->sourceCount, 2);
}

// A map file is read whole and then read from memory: the file may go.
TEST(MemoryReader, AddsTheBytesOfAFile) {
  const rmfbuild::BuildResult built = rmfbuild::Build(rmfbuild::GenerateGrid(0, 40, 2, 1));
  ASSERT_TRUE(built.ok) << built.error;
  const testing_support::TempFolder temp("memory-reader");
  const std::filesystem::path path = temp / "grid.rmf";
  {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(built.bytes.data()), static_cast<std::streamsize>(built.bytes.size()));
  }
  MemoryReader maps;
  ASSERT_NE(maps.reader(), nullptr);
  EXPECT_EQ(maps.AddFile(path.string()), 1) << maps.error();
  std::filesystem::remove(path);
  const rmfbuild::RecordPlacement& last = built.layout.records.back();
  std::uint32_t next = 0;
  const std::uint8_t* record = RmfSrcGetBlock(maps.reader()->sources[0], last.tileId, last.sequence, 0, &next);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(Bytes(record, record + last.record.size()), last.record);

  // A file that is not there adds nothing, and says which.
  EXPECT_EQ(maps.AddFile(path.string()), 0);
  EXPECT_NE(maps.error().find(path.string()), std::string::npos) << maps.error();
  EXPECT_EQ(maps.reader()->sourceCount, 1);
}

TEST(MemoryReader, CloseKeepsTheRecordAndRestartStartsAfresh) {
  MemoryReader maps;
  RmfReader* reader = maps.reader();
  ASSERT_NE(reader, nullptr);
  ASSERT_EQ(maps.AddMap(rmfbuild::GenerateGrid(0, 4, 1, 1)), 1) << maps.error();

  maps.Close();
  EXPECT_EQ(maps.reader(), reader);
  EXPECT_EQ(reader->magic, 0u) << "closed, and still readable";
  maps.Close();  // a second close does nothing
  EXPECT_EQ(maps.AddMap(rmfbuild::GenerateGrid(0, 4, 1, 1)), kRmfBadArgument);

  RmfReader* fresh = maps.Restart();
  ASSERT_NE(fresh, nullptr);
  EXPECT_NE(fresh->magic, 0u);
  EXPECT_EQ(fresh->sourceCount, 0);
  EXPECT_EQ(maps.AddMap(rmfbuild::GenerateGrid(0, 4, 1, 2)), 1) << maps.error();

  // An arena too small for the reader and its read buffer: no reader, and
  // every add refused.
  MemoryReader tiny(1024);
  EXPECT_EQ(tiny.reader(), nullptr);
  EXPECT_EQ(tiny.AddBytes(Bytes(200, 0)), kRmfBadArgument);
  EXPECT_EQ(tiny.Restart(), nullptr);
}

}  // namespace
