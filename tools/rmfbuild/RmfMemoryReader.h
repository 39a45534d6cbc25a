// A map reader in an arena of its own over map files held in memory: the
// fixture the tests, benchmarks and fuzz targets of the map-format library
// share. It owns the arena memory, the reader placed in it and the bytes of
// every source it adds, and closes the reader before any of them goes, so a
// test cannot leave the reader reading freed bytes.
//
// Sources read their bytes through a plain read function over the buffer (a
// short read at the end, 0 past it), as a file of the same bytes would give
// them. Tests that need something else of a source (a read that fails, a
// file on the device) keep that part local and add it to reader().
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "mapengine/format/store/RmfReader.h"
#include "tools/rmfbuild/RmfBuilder.h"
#include "tools/rmfbuild/RmfFeatures.h"

namespace rmfbuild {

class MemoryReader {
 public:
  // Room for the reader record, its read buffer and the caches of a few
  // small maps.
  static constexpr std::uint32_t kDefaultArenaBytes = 8u << 20;

  // Creates the reader in an arena of `arenaBytes`; reader() is null when
  // that is too small to hold the reader and its read buffer.
  explicit MemoryReader(std::uint32_t arenaBytes = kDefaultArenaBytes);
  ~MemoryReader();
  MemoryReader(const MemoryReader&) = delete;
  MemoryReader& operator=(const MemoryReader&) = delete;

  // The reader, for every call of the library; null when it could not be
  // created. After Close() it is the closed record, still in the arena.
  RmfReader* reader() const { return reader_; }

  // Adds the bytes as the reader's next source; they are kept until the
  // reader is closed. Returns what RmfReaderAddSource returns: the number of
  // sources, or 0 or a negative code (also in the reader's lastError).
  // kRmfBadArgument when there is no open reader.
  std::int32_t AddBytes(std::vector<std::uint8_t> bytes);
  // The same over bytes the caller keeps, unchanged, until the reader is
  // closed or restarted (a fuzz input, a file a benchmark holds).
  std::int32_t AddBorrowedBytes(const std::uint8_t* data, std::size_t size);
  // Reads the whole file at `path` and adds its bytes as AddBytes does: the
  // reader reads the copy, not the file. 0 when the file cannot be opened
  // (error() names it).
  std::int32_t AddFile(const std::string& path);
  // Builds the description and adds the file. `built`, when given, receives
  // the build (bytes and layout). 0 when the builder refuses the description.
  std::int32_t AddMap(const MapDescription& description, BuildResult* built = nullptr);
  // Cuts and places the features, builds the file and adds it. `built`,
  // when given, receives the pieces and where they went. 0 when the builder
  // refuses the features.
  std::int32_t AddFeatures(const FeatureMap& map, FeatureBuild* built = nullptr);
  // Why the last Add call failed: the builder's reason or the reader's
  // result code; empty after one that succeeded.
  const std::string& error() const { return error_; }

  // Closes the reader ahead of the destructor. The closed record stays in
  // the arena, so a test can show what calls on a closed reader answer; the
  // sources' bytes stay too. A second Close does nothing.
  void Close();
  // Closes the reader, drops the sources and creates a fresh reader in the
  // same memory: a cold start without a new allocation. The new reader, or
  // null as for the constructor.
  RmfReader* Restart();

 private:
  struct Source {
    std::vector<std::uint8_t> owned;
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
  };

  static std::int32_t Read(void* context, std::uint32_t offset, std::uint32_t count, void* destination,
                           std::int32_t flags);
  std::int32_t Add(std::unique_ptr<Source> source);
  void Create();

  std::unique_ptr<std::uint8_t[]> memory_;
  std::uint32_t arenaBytes_ = 0;
  RmfReader* reader_ = nullptr;
  bool open_ = false;
  // Each source is the read context the reader keeps: its address must not
  // move while the reader is open.
  std::vector<std::unique_ptr<Source>> sources_;
  std::string error_;
};

}  // namespace rmfbuild
