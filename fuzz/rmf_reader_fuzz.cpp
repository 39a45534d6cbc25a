// Fuzz target of the map reader: the input is a whole map file. It is opened
// into a reader straight from the input's bytes (no file system in the loop),
// then every tile record is walked — by the query walk over the file's own box
// at every detail level (plain and with read windows), over the cached records
// only, and tile by tile through the index with record lookups by sequence —
// in an arena small enough that records are evicted while the walk goes on.
// Then the feature query runs over the file's box for every category and
// class, and each hit is fetched again by its reference with its attributes
// and points, as the map engine reads streets and places.
#include <cstddef>
#include <cstdint>

#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/format/features/RmfFeatureAttr.h"
#include "mapengine/format/features/RmfQuery.h"
#include "mapengine/format/store/RmfReader.h"
#include "mapengine/format/store/RmfSource.h"
#include "tools/rmfbuild/RmfMemoryReader.h"

namespace {

// The area walked and queried: the file's own box, but at most 2^20 units
// (about 1.4 degrees) a side from its lower-left corner. Covering a box the
// size of a continent at level 0 costs seconds per input (the cost grows with
// the box's outline) and reaches nothing more of the parsing code.
TiRect WalkArea(const RmfSource* source) {
  TiRect box = source->header.box;
  constexpr std::int64_t kSide = std::int64_t{1} << 20;
  if (std::int64_t{box.x2} - box.x1 > kSide) box.x2 = static_cast<std::int32_t>(box.x1 + kSide);
  if (std::int64_t{box.y2} - box.y1 > kSide) box.y2 = static_cast<std::int32_t>(box.y1 + kSide);
  return box;
}

// Walks hit a bound in case a fault makes one loop.
constexpr int kMaxRecords = 200000;

void WalkEverything(RmfReader* reader, RmfSource* source, std::int32_t windowFactor) {
  RmfReaderSetWindowFactor(reader, windowFactor);
  RmfSrcF5(source, 1, 8);
  const TiRect box = WalkArea(source);
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

constexpr int kMaxHits = 2000;

void QueryAndFetch(RmfReader* reader, RmfSource* source) {
  RmfQuerySetLevels(reader, 1, 8);
  for (const char* category : {"0", "1", "2", "B"}) RmfQuerySetClassFilter(reader, category[0], "1234567");
  const TiRect box = WalkArea(source);
  RmfQuerySetRect(reader, box.x1, box.y1, box.x2, box.y2);
  RmfQueryStart(reader);
  char code[6], name[51], detail[251];
  for (int hit = 0; hit < kMaxHits; ++hit) {
    std::int32_t count = 0;
    RmfFeatureRef reference{};
    TiPoint* points = nullptr;
    std::int32_t n = RmfQueryNext(reader, code, name, detail, &count, &reference, &points);
    if (n == 0 || n == kRmfBadArgument || n == kRmfCancelled) break;
    if (n < 0 || reference.featureId == 0) continue;
    RmfFeature* slot = nullptr;
    std::int32_t continues = 0;
    // Only that the calls return matters here, not what they answer.
    if (RmfFeatureFetch(reader, reference, &slot, &continues) == 1) {
      for (std::int32_t part = 0; part < RmfFeaturePartCount(slot) && part < 8; ++part) {
        (void)RmfFeatureSelectPart(slot, part, 1, nullptr);
      }
      (void)RmfFeatureRelease(slot);
    }
    char attrCode[6], attrValue[51], attrName[251];
    for (std::int32_t index = 0; index < 4; ++index)
      if (RmfFeatureAttribute(reader, reference, index, attrCode, attrValue, attrName) <= 0) break;
    TiPoint* refPoints = nullptr;
    (void)RmfFeatureRefPoints(reader, reference, &refPoints);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The reader record (with the query's tables) and its 64 KB read buffer
  // take the first part; the rest is room for caches, small enough to force
  // evictions on larger inputs.
  // Every input gets a fresh reader in the same memory, closed before the
  // input goes.
  static rmfbuild::MemoryReader maps(sizeof(RmfReader) + 192 * 1024);
  RmfReader* reader = maps.Restart();
  if (reader == nullptr) return 0;
  if (maps.AddBorrowedBytes(data, size) > 0 && reader->sourceCount > 0) {
    RmfSource* source = reader->sources[0];
    WalkEverything(reader, source, 0);
    WalkEverything(reader, source, 8);
    LookUpTiles(source);
    QueryAndFetch(reader, source);
  }
  maps.Close();
  return 0;
}
