// Fuzz target of the router: routes on damaged street maps. A small street
// grid (two-way and one-way streets, lines across cell borders, turn
// restrictions of both kinds) is built once with the map-file builder; each
// input damages a copy of its bytes and says how to route on it:
//   byte 0     options: bit 0 driving (else walking), bit 1 tolerance 100
//              (else 125), bit 2 a node memory limit of a few hundred
//              nodes, bit 3 left turns forbidden, bit 4 the side table,
//              bit 5 the result left uncompacted, bit 6 estimated lengths,
//              bit 7 the origin's and destination's other direction too
//   byte 1, 2  the origin's and the destination's block (a piece of the map)
//   then       groups of 4 bytes: a 24-bit offset into the file (taken
//              modulo its size) and a byte XORed into it there
// The map is opened from the damaged bytes, the street filters of the map
// engine are installed and the route is found with RmfRouteFind, then
// retrieved and measured; a route object's failure must be a result code,
// never a crash, a hang, a leak or an exception.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/format/features/RmfProfile.h"
#include "mapengine/format/route/RmfRoute.h"
#include "mapengine/format/route/RmfRouteSearch.h"
#include "mapengine/format/store/RmfReader.h"
#include "mapengine/object/RouteFilters.h"
#include "tools/rmfbuild/RmfBuilder.h"
#include "tools/rmfbuild/RmfFeatures.h"
#include "tools/rmfbuild/RmfMemoryReader.h"

namespace {

constexpr int kColumns = 6;
constexpr int kRows = 5;
// About 120 m in map units; the grid spans level-0 cell borders.
constexpr std::int32_t kSpacing = 800;
constexpr std::int32_t kWest = 9943000;
constexpr std::int32_t kSouth = 39905000;

struct BaseMap {
  std::vector<std::uint8_t> bytes;
  std::vector<RmfFeatureRef> pieces;  // every part, whole, from its first vertex to its last
};

TiPoint At(int column, int row) { return TiPoint{kWest + column * kSpacing, kSouth + row * kSpacing}; }

// Rows run east in lines of two blocks, columns north in lines of one; every
// third line is one-way, alternately along and against its points. Two
// restrictions stand at inner crossings.
BaseMap Build() {
  rmfbuild::FeatureMap map;
  int line = 0;
  const auto add = [&](std::vector<TiPoint> points, std::vector<rmfbuild::TextTriple> vertexAttrs = {}) {
    const std::string name = "Street " + std::to_string(line);
    const std::string value = rmfbuild::RoadValue('3', ' ', "CDEF"[line % 4]);
    const rmfbuild::OneWay way = line % 3 != 2 ? rmfbuild::OneWay::kBoth
                                 : line % 2 == 0 ? rmfbuild::OneWay::kAlong
                                                 : rmfbuild::OneWay::kAgainst;
    rmfbuild::Feature f = rmfbuild::Feature::Line(
        rmfbuild::FeatureClass{1, 6, rmfbuild::FeatureCategory::kLine}, value, std::move(points), name);
    f.Attribute(rmfbuild::RouteClassAttribute(1, value, name, way));
    for (std::size_t i = 0; i < vertexAttrs.size(); ++i) f.VertexAttr(0, vertexAttrs[i]);
    map.features.push_back(std::move(f));
    ++line;
  };
  for (int row = 0; row < kRows; ++row) {
    for (int column = 0; column + 1 < kColumns; column += 2) {
      std::vector<TiPoint> points = {At(column, row), At(column + 1, row)};
      if (column + 2 < kColumns) points.push_back(At(column + 2, row));
      add(std::move(points));
    }
  }
  for (int column = 0; column < kColumns; ++column) {
    for (int row = 0; row + 1 < kRows; ++row) {
      // Restrictions: from the block north of (2, 1) onto the one north of
      // (2, 2) no straight on; from the block north of (3, 2) only on. Both
      // hold for travel along the blocks' points ('+'), which run north.
      std::vector<rmfbuild::TextTriple> attrs;
      if (column == 2 && row == 1) attrs.push_back({"17B+", "0PB", "11"});
      if (column == 2 && row == 2) attrs.push_back({"17B+", "0PE", "11"});
      if (column == 3 && row == 2) attrs.push_back({"17B+", "0RB", "12"});
      if (column == 3 && row == 3) attrs.push_back({"17B+", "0RE", "12"});
      add({At(column, row), At(column, row + 1)}, attrs);
    }
  }
  BaseMap base;
  const rmfbuild::FeatureBuild built = rmfbuild::BuildFeatureMap(map);
  if (!built) return base;
  const rmfbuild::BuildResult file = rmfbuild::Build(built.description);
  if (!file) return base;
  // The vertex positions of each part's ends, read from the undamaged map.
  rmfbuild::MemoryReader maps(1u << 20);
  if (maps.reader() == nullptr || maps.AddBytes(file.bytes) < 1) return base;
  for (const rmfbuild::FeaturePiece& piece : built.pieces) {
    RmfFeatureRef r{piece.tileId, 0, piece.sequence, piece.entry, 0, 0, kRmfPositionWhole};
    RmfFeature* slot = nullptr;
    if (RmfFeatureFetch(maps.reader(), r, &slot, nullptr) != 1) continue;
    std::int32_t first = -1;
    std::int32_t last = -1;
    const std::int32_t words = RmfFeatureWordCount(slot, piece.entry);
    if (RmfFeatureNextNode(slot, piece.entry, -1, 1, &first, nullptr) >= 0 &&
        RmfFeatureNextNode(slot, piece.entry, words, -1, &last, nullptr) >= 0 && first < last) {
      r.fromVertex = static_cast<std::uint16_t>(first);
      r.toVertex = static_cast<std::uint16_t>(last);
      base.pieces.push_back(r);
    }
    (void)RmfFeatureRelease(slot);
  }
  base.bytes = file.bytes;
  return base;
}

RmfFeatureRef Reversed(RmfFeatureRef r) {
  std::swap(r.fromVertex, r.toVertex);
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const BaseMap base = Build();
  if (base.bytes.empty() || base.pieces.empty()) return 0;
  const std::uint8_t options = size > 0 ? data[0] : 0;
  const std::size_t originPiece = (size > 1 ? data[1] : 0) % base.pieces.size();
  const std::size_t destinationPiece = (size > 2 ? data[2] : 7) % base.pieces.size();

  std::vector<std::uint8_t> bytes = base.bytes;
  for (std::size_t at = 3; at + 4 <= size; at += 4) {
    const std::uint32_t offset = data[at] | (data[at + 1] << 8) | (data[at + 2] << 16);
    bytes[offset % bytes.size()] ^= data[at + 3];
  }

  static rmfbuild::MemoryReader maps(1u << 20);
  RmfReader* reader = maps.Restart();
  if (reader == nullptr) return 0;
  if (maps.AddBorrowedBytes(bytes.data(), bytes.size()) < 1) {
    maps.Close();
    return 0;
  }
  const bool driving = (options & 0x1) != 0;
  if (RmfProfileSetCallbacks(reader, driving ? &DrivingFeatureFilter : &WalkingFeatureFilter,
                             driving ? &DrivingConnectionFilter : &WalkingConnectionFilter, nullptr,
                             kRmfProfileEngineLimit) != 1) {
    maps.Close();
    return 0;
  }
  RmfRoute* route = nullptr;
  if (RmfRouteCreate(&route, reader) == 1) {
    if ((options & 0x2) != 0) (void)RmfRouteSetTolerance(route, 100);
    if ((options & 0x4) != 0) (void)RmfRouteSetNodeMemoryLimit(route, 240000);
    if ((options & 0x8) != 0) {
      std::int32_t costs[kRmfTurnSectors];
      for (std::int32_t i = 0; i < kRmfTurnSectors; ++i) costs[i] = kRmfDefaultTurnCosts[i];
      costs[3] = costs[4] = costs[5] = -1;
      (void)RmfRouteSetTurnCosts(route, costs);
    }
    std::uint32_t mode = kRmfRouteModeDefault;
    if ((options & 0x10) != 0) mode |= kRmfRouteModeSideTable;
    if ((options & 0x40) != 0) mode &= ~kRmfRouteModeExactLengths;
    (void)RmfRouteSetModeFlags(route, mode);
    if ((options & 0x20) != 0) route->stateFlags &= ~kRmfRouteStateAutoCompact;

    const RmfFeatureRef origins[2] = {base.pieces[originPiece], Reversed(base.pieces[originPiece])};
    const RmfFeatureRef destinations[2] = {base.pieces[destinationPiece], Reversed(base.pieces[destinationPiece])};
    const std::int32_t both = (options & 0x80) != 0 ? 2 : 1;
    const std::int32_t found = RmfRouteFind(route, origins, both, destinations, both);
    std::int32_t count = 0;
    RmfFeatureRef* result = nullptr;
    if (found > 0 && RmfRouteRetrieve(route, &count, &result) == 1) {
      (void)RmfRouteRefsLength(reader, result, count);
    }
    (void)RmfRouteDestroy(route);
  }
  maps.Close();
  return 0;
}
