// Fuzz target of the map reader: the input is a whole map file. It is opened
// into a reader through a memory read function (no file system in the loop),
// then every tile record is walked — by the query walk over the file's own box
// at every detail level (plain and with read windows), over the cached records
// only, and tile by tile through the index with record lookups by sequence —
// in an arena small enough that records are evicted while the walk goes on.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

#include "mapengine/format/store/RmfReader.h"
#include "mapengine/format/store/RmfSource.h"

namespace {

struct Input {
  const std::uint8_t* data;
  std::size_t size;
};

std::int32_t ReadInput(void* context, std::uint32_t offset, std::uint32_t count, void* destination, std::int32_t) {
  const Input* input = static_cast<const Input*>(context);
  if (offset >= input->size) return 0;
  std::size_t n = std::min<std::size_t>(count, input->size - offset);
  std::memcpy(destination, input->data + offset, n);
  return static_cast<std::int32_t>(n);
}

// Walks hit a bound in case a fault makes one loop.
constexpr int kMaxRecords = 200000;

void WalkEverything(RmfReader* reader, RmfSource* source, std::int32_t windowFactor) {
  RmfReaderSetWindowFactor(reader, windowFactor);
  RmfSrcF5(source, 1, 8);
  // The header's box: covering the whole world at every level costs far more
  // and reaches nothing more of a well-formed file.
  const TiRect& box = source->header.box;
  RmfSrcSetRect(source, box.x1, box.y1, box.x2, box.y2);
  RmfSrcStartQuery(source);
  for (int i = 0; i < kMaxRecords; ++i) {
    std::uint8_t* record = RmfSrcLoadBlock(source);
    if (record == nullptr) break;
  }
  RmfSrcStartQuery(source);
  for (int i = 0; i < kMaxRecords; ++i) {
    if (RmfSrcF4(source) == nullptr) break;
  }
}

void LookUpTiles(RmfSource* source) {
  // Every covered tile id reachable from the start of the id space, and the
  // records of each by sequence, as feature access fetches them.
  std::uint32_t tile = RmfSrcF6(source, 0, 1);
  for (int i = 0; i < 2000 && tile != 0xFFFFFFFFu; ++i) {
    std::uint32_t next = 0;
    for (std::uint16_t sequence = 0; sequence < 64; ++sequence) {
      // 1 says "another record follows" without its offset: look it up.
      std::uint32_t offset = next > 1 ? next : 0;
      if (RmfSrcGetBlock(source, tile, sequence, offset, &next) == nullptr || next == 0) break;
    }
    if (tile == 0xFFFFFFFFu - 1) break;
    std::uint32_t following = RmfSrcF6(source, tile + 1, 1);
    if (following <= tile) break;
    tile = following;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The reader record and its 64 KB read buffer take about 70 KB; the rest is
  // room for caches, small enough to force evictions on larger inputs.
  static std::vector<std::uint8_t> memory(192 * 1024);
  Input input{data, size};
  RmfReader* reader = RmfReaderCreateInArena(memory.data(), static_cast<std::uint32_t>(memory.size()));
  if (reader == nullptr) return 0;
  if (RmfReaderAddSource(reader, &input, ReadInput, nullptr, nullptr) > 0 && reader->sourceCount > 0) {
    RmfSource* source = reader->sources[0];
    WalkEverything(reader, source, 0);
    WalkEverything(reader, source, 8);
    LookUpTiles(source);
  }
  RmfReaderClose(reader);
  return 0;
}
