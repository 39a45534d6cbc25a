// The query area: a rectangle or convex polygon in map units, handed to every
// source whose box it touches, cut to that box, with the cumulative edge
// lengths that place crossings along the boundary; the degree wrappers of
// the map engine; and read-only accessors of the reader's sources.
//
// A source's polygon is one heap block: the corners (8 bytes each) followed
// by the cumulative edge lengths (4 bytes each). The source keeps it as its
// query area (which its tile walk covers) and frees it when it goes.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "mapengine/format/base/TiGeometry.h"
#include "mapengine/format/base/TiUnits.h"
#include "mapengine/format/features/RmfClip.h"
#include "mapengine/format/features/RmfQuery.h"
#include "mapengine/format/features/RmfQueryInternal.h"

namespace {

using rmf::detail::FailWith;
using rmf::detail::ReaderAlive;

constexpr std::int32_t kNorthPole = kTiQuarterTurn;
constexpr std::int32_t kDateLine = kTiHalfTurn;
constexpr std::uint32_t kCornerGap = 100;  // between the edges' stretches of boundary positions
// Records and points of a query polygon (at most 16 corners) cut to a box.
constexpr std::int32_t kCutRecords = 4 * kRmfMaxQueryCorners + 8;
constexpr std::int32_t kCutPoints = kRmfMaxQueryCorners + 8;

bool InBox(const TiPoint& p, const TiRect& b) { return p.x >= b.x1 && p.x <= b.x2 && p.y >= b.y1 && p.y <= b.y2; }

std::uint32_t EdgeLength(const TiPoint& a, const TiPoint& b) {
  const std::int64_t dx = std::int64_t{b.x} - a.x;
  const std::int64_t dy = std::int64_t{b.y} - a.y;
  if (dx >= INT32_MIN && dx <= INT32_MAX && dy >= INT32_MIN && dy <= INT32_MAX) {
    const TiVector v{static_cast<std::int32_t>(dx), static_cast<std::int32_t>(dy)};
    return TiLength(&v);
  }
  return static_cast<std::uint32_t>(
      std::min(std::round(std::hypot(static_cast<double>(dx), static_cast<double>(dy))), 4294967295.0));
}

bool HasArea(const TiPoint* points, std::int32_t n) {
  __int128 twice = 0;
  for (std::int32_t i = 0, j = n - 1; i < n; j = i++) {
    twice += static_cast<__int128>(points[j].x) * points[i].y - static_cast<__int128>(points[i].x) * points[j].y;
  }
  return twice != 0;
}

TiRect WidenedByOne(const TiRect& box) {
  const auto held = [](std::int64_t v) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, INT32_MIN, INT32_MAX));
  };
  return TiRect{held(std::int64_t{box.x1} - 1), held(std::int64_t{box.y1} - 1), held(std::int64_t{box.x2} + 1),
                held(std::int64_t{box.y2} + 1)};
}

// Gives the source its polygon: 0, or kRmfBadArgument (a polygon that cannot
// be used) or kRmfNoMemory. Nothing of the polygon in the source's box leaves the
// source's polygon empty.
std::int32_t SetSourcePolygon(RmfSource* source, const TiPoint* points, std::int32_t count) {
  const TiRect& box = source->header.box;
  bool inside = true;
  for (std::int32_t i = 0; i < count && inside; ++i) inside = InBox(points[i], box);
  TiPoint cut[kCutPoints];
  const TiPoint* use = points;
  std::int32_t n = count;
  if (!inside) {
    RmfCrossing records[kCutRecords];
    n = rmf::detail::ClipPolygon(points, count, box, records, kCutRecords, nullptr, nullptr, cut, kCutPoints, nullptr);
    // A cut without area (the box of a map on one parallel or one meridian
    // has no height or width; a polygon may only touch a box) is a stretch
    // of a line or nothing, and a polygon on a line takes in the whole line.
    // Cut to the box widened by one unit on every side, the polygon keeps an
    // area and meets the box exactly where it did; the source holds nothing
    // beyond its box.
    if (n >= 0 && (n < 3 || !HasArea(cut, n))) {
      n = rmf::detail::ClipPolygon(points, count, WidenedByOne(box), records, kCutRecords, nullptr, nullptr, cut,
                                   kCutPoints, nullptr);
    }
    if (n < 0) {
      source->queryAreaCount = 0;
      return kRmfBadArgument;
    }
    use = cut;
  }
  if (n > 1 && TiSamePoint(use[n - 1], use[0])) --n;
  if (n < 1) {
    source->queryAreaCount = 0;
    return 0;
  }
  // Edges are named by the bits of a 16-bit word.
  if (n > kRmfMaxQueryCorners) {
    source->queryAreaCount = 0;
    return kRmfBadArgument;
  }
  if (source->queryArea == nullptr || source->queryAreaCount != n) {
    std::free(source->queryArea);
    source->queryArea = nullptr;
    source->queryAreaCount = 0;
    void* block = std::calloc(static_cast<std::size_t>(n), sizeof(TiPoint) + sizeof(std::uint32_t));
    if (block == nullptr) return kRmfNoMemory;
    source->queryArea = static_cast<TiPoint*>(block);
  }
  auto* lengths = reinterpret_cast<std::uint32_t*>(source->queryArea + n);
  std::uint64_t total = 0;
  for (std::int32_t i = 0; i < n; ++i) {
    source->queryArea[i] = use[i];
    total += EdgeLength(use[i == 0 ? n - 1 : i - 1], use[i]) + std::uint64_t{kCornerGap};
    lengths[i] = static_cast<std::uint32_t>(std::min<std::uint64_t>(total, 0xFFFFFFFFu));
  }
  source->queryAreaCount = n;
  return 0;
}

void DisableSources(RmfReader* reader) {
  for (std::int32_t i = 0; i < reader->sourceCount; ++i) {
    if (reader->sources[i] != nullptr) reader->sources[i]->queryAreaCount = 0;
    reader->sourceSide[i] = 0;
  }
}

// A corner of a degree rectangle in map units. An infinite degree value gives
// 0 here, where the shared conversion would saturate it.
std::int32_t ToUnits(double degrees) {
  if (!std::isfinite(degrees)) return 0;
  return TiDegreesToUnits(degrees);
}

}  // namespace

void RmfSourceSetQueryPolygon(RmfReader* reader, std::int32_t source, const TiPoint* points, std::int32_t count) {
  if (!ReaderAlive(reader)) return;
  if (source < 0 || source >= reader->sourceCount || reader->sources[source] == nullptr || points == nullptr ||
      count < 1) {
    reader->lastError = kRmfBadArgument;
    return;
  }
  reader->lastError = SetSourcePolygon(reader->sources[source], points, count);
}

void RmfQuerySetPolygon(RmfReader* reader, std::int32_t count, const TiPoint* points) {
  if (!ReaderAlive(reader)) return;
  TiPoint* reversed = nullptr;
  const auto fail = [&](std::int32_t code) {
    reader->lastError = code;
    DisableSources(reader);
    std::free(reversed);
  };
  if (points == nullptr || count < 1) return fail(kRmfBadArgument);
  reader->lastError = 0;
  std::int32_t n = count;
  if (n > 1 && TiSamePoint(points[n - 1], points[0])) --n;

  // Counter-clockwise as given, or reversed.
  const TiPoint* polygon = points;
  if (RmfPolygonIsConvex(points, n) != 1) {
    reversed = static_cast<TiPoint*>(std::malloc(sizeof(TiPoint) * static_cast<std::size_t>(n)));
    if (reversed == nullptr) return fail(kRmfNoMemory);
    for (std::int32_t i = 0; i < n; ++i) reversed[i] = points[n - 1 - i];
    if (RmfPolygonIsConvex(reversed, n) != 1) return fail(kRmfBadArgument);
    polygon = reversed;
  }
  if (n < 3 || n > kRmfMaxQueryCorners) return fail(kRmfBadArgument);
  for (std::int32_t i = 0; i < n; ++i) {
    if (TiSamePoint(polygon[i], polygon[(i + 1) % n])) return fail(kRmfBadArgument);
  }

  TiRect box{polygon[0].x, polygon[0].y, polygon[0].x, polygon[0].y};
  for (std::int32_t i = 1; i < n; ++i) {
    box.x1 = std::min(box.x1, polygon[i].x);
    box.y1 = std::min(box.y1, polygon[i].y);
    box.x2 = std::max(box.x2, polygon[i].x);
    box.y2 = std::max(box.y2, polygon[i].y);
  }
  reader->query.box = box;

  for (std::int32_t i = 0; i < reader->sourceCount; ++i) {
    RmfSource* source = reader->sources[i];
    reader->sourceSide[i] = 0;
    if (source == nullptr) continue;
    const TiRect& b = source->header.box;
    if (box.x1 > b.x2 || box.x2 < b.x1 || box.y1 > b.y2 || box.y2 < b.y1) {
      source->queryAreaCount = 0;
      continue;
    }
    RmfSrcSetRect(source, box.x1, box.y1, box.x2, box.y2);
    const std::int32_t result = SetSourcePolygon(source, polygon, n);
    if (result < 0) return fail(result);
    reader->sourceSide[i] = source->queryAreaCount > 0 ? 1 : 0;
  }
  std::free(reversed);
}

void RmfQuerySetRect(RmfReader* reader, std::int32_t x1, std::int32_t y1, std::int32_t x2, std::int32_t y2) {
  if (!ReaderAlive(reader)) return;
  if (y1 == y2) y2 = y2 == kNorthPole || y2 == INT32_MAX ? y2 - 1 : y2 + 1;
  if (x1 == x2) x2 = x2 == kDateLine || x2 == INT32_MAX ? x2 - 1 : x2 + 1;
  const TiPoint polygon[4] = {{x1, y1}, {x1, y2}, {x2, y2}, {x2, y1}};
  RmfQuerySetPolygon(reader, 4, polygon);
}

void RmfQuerySetRectDegrees(RmfReader* reader, double longitude1, double latitude1, double longitude2,
                            double latitude2) {
  if (!ReaderAlive(reader)) return;
  RmfQuerySetRect(reader, ToUnits(longitude1), ToUnits(latitude1), ToUnits(longitude2), ToUnits(latitude2));
}

std::int32_t RmfQueryNextDegrees(RmfReader* reader, char* code, char* name, char* detail, std::int32_t* count,
                                 RmfFeatureRef* reference, double** points) {
  if (!ReaderAlive(reader)) {
    if (points != nullptr) *points = nullptr;
    if (code != nullptr) code[0] = '\0';
    if (count != nullptr) *count = 0;
    if (reference != nullptr) *reference = RmfFeatureRef{};
    return 0;
  }
  TiPoint* units = nullptr;
  const std::int32_t n =
      RmfQueryNext(reader, code, name, detail, count, reference, points != nullptr ? &units : nullptr);
  if (points == nullptr) return n;
  double(*degrees)[2] = reader->queryWork.degrees;
  for (std::int32_t i = 0; i < n && i < kRmfPointBufferPoints; ++i) {
    degrees[i][0] = units[i].x * kTiDegreesPerUnit;
    degrees[i][1] = units[i].y * kTiDegreesPerUnit;
  }
  *points = &degrees[0][0];
  return n;
}

// ---- the reader's sources ----

void RmfReaderGetBounds(RmfReader* reader, TiPoint* min, TiPoint* max) {
  if (!ReaderAlive(reader)) {
    if (min != nullptr) *min = TiPoint{};
    if (max != nullptr) *max = TiPoint{};
    return;
  }
  if (min == nullptr || max == nullptr) {
    reader->lastError = kRmfBadArgument;
    return;
  }
  reader->lastError = 0;
  *min = TiPoint{reader->box.x1, reader->box.y1};
  *max = TiPoint{reader->box.x2, reader->box.y2};
}

void RmfReaderGetBoundsDegrees(RmfReader* reader, double* min, double* max) {
  TiPoint low{};
  TiPoint high{};
  if (min == nullptr || max == nullptr) {
    if (ReaderAlive(reader)) reader->lastError = kRmfBadArgument;
    return;
  }
  RmfReaderGetBounds(reader, &low, &high);
  min[0] = low.x * kTiDegreesPerUnit;
  min[1] = low.y * kTiDegreesPerUnit;
  max[0] = high.x * kTiDegreesPerUnit;
  max[1] = high.y * kTiDegreesPerUnit;
}

std::int32_t RmfReaderSourceCount(RmfReader* reader) { return ReaderAlive(reader) ? reader->sourceCount : -1; }

std::int32_t RmfSourceTileLevels(RmfReader* reader, std::int32_t source) {
  if (!ReaderAlive(reader) || source < 0 || source >= reader->sourceCount || reader->sources[source] == nullptr) {
    return -1;
  }
  std::uint32_t levels = 0;
  for (std::uint16_t m : reader->sources[source]->header.levelMasks) levels |= m;
  return static_cast<std::int32_t>(levels);
}

std::int32_t RmfSourceGetBox(RmfReader* reader, std::int32_t source, TiRect* box) {
  if (!ReaderAlive(reader)) return kRmfBadArgument;
  if (source < 0 || source >= reader->sourceCount || reader->sources[source] == nullptr || box == nullptr) {
    return FailWith(reader, kRmfBadArgument);
  }
  const rmf::RmfFileHeader& h = reader->sources[source]->header;
  *box = h.hasRegionBlocks != 0 ? h.regionBox : h.box;
  return 1;
}
