// Synthetic maps for large reader tests: a block of neighbouring tiles of one
// level filled with random but valid records. The random numbers come from a
// generator written out here (not a standard distribution, whose output
// differs between libraries), so a seed means the same map everywhere.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "mapengine/format/store/RmfTile.h"
#include "tools/rmfbuild/RmfBuilder.h"

namespace rmfbuild {
namespace {

// splitmix64: small, fast and the same on every platform.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}

  std::uint32_t Next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return static_cast<std::uint32_t>((z ^ (z >> 31)) >> 32);
  }

  // Uniform enough in 0 .. n - 1 (n >= 1).
  std::uint32_t Below(std::uint32_t n) {
    return static_cast<std::uint32_t>((std::uint64_t{Next()} * n) >> 32);
  }

  // In lo .. hi inclusive.
  std::int32_t Between(std::int64_t lo, std::int64_t hi) {
    std::uint64_t span = static_cast<std::uint64_t>(hi - lo) + 1;
    std::uint64_t pick = span > 0xffffffffull ? Next() : Below(static_cast<std::uint32_t>(span));
    return static_cast<std::int32_t>(lo + static_cast<std::int64_t>(pick));
  }

 private:
  std::uint64_t state_;
};

std::string CodeOf(std::uint32_t detail, std::uint32_t cls, char category) {
  std::string code;
  code += static_cast<char>('0' + detail);
  code += static_cast<char>('0' + cls);
  code += category;
  if (category == '2') code += '+';
  return code;
}

Record RandomRecord(Random& rng, const TiRect& tileRect, std::uint32_t tileId, std::uint32_t serial) {
  Record rec;
  rec.widePoints = rng.Below(2) == 1;
  // 4-byte points reach 65,535 units from the base, less than the rectangle
  // of a tile above level 3.
  std::int64_t width = std::int64_t{tileRect.x2} - tileRect.x1;
  std::int64_t height = std::int64_t{tileRect.y2} - tileRect.y1;
  if (!rec.widePoints) {
    width = std::min<std::int64_t>(width, 0xffff);
    height = std::min<std::int64_t>(height, 0xffff);
  }
  auto newPoint = [&]() {
    rec.points.push_back(TiPoint{rng.Between(tileRect.x1, tileRect.x1 + width),
                                 rng.Between(tileRect.y1, tileRect.y1 + height)});
    return static_cast<std::uint16_t>(rec.points.size() - 1);
  };

  const std::uint32_t parts = 1 + rng.Below(3);
  for (std::uint32_t p = 0; p < parts; ++p) {
    Part part;
    const std::uint32_t detail = 1 + rng.Below(8);
    const std::uint32_t cls = 1 + rng.Below(7);
    char buf[64];
    std::snprintf(buf, sizeof buf, "Grid %u-%u", serial, p);
    part.text.name = buf;
    std::snprintf(buf, sizeof buf, "tile %08x", tileId);
    part.text.detail = buf;
    switch (rng.Below(4)) {
      case 0:  // a point of interest
        part.text.code = CodeOf(detail, cls, '0');
        part.words.push_back(VertexWord::Point(newPoint()));
        break;
      case 1: {  // a line, sometimes starting where an earlier part has a point
        part.text.code = CodeOf(detail, cls, '1');
        if (rng.Below(3) == 0) {
          part.words.push_back(VertexWord::Attribute({CodeOf(detail, cls, '1'), "alias", ""}));
        }
        if (!rec.points.empty() && rng.Below(3) == 0) {
          part.words.push_back(VertexWord::Point(static_cast<std::uint16_t>(rng.Below(
              static_cast<std::uint32_t>(rec.points.size())))));
        } else {
          part.words.push_back(VertexWord::Point(newPoint()));
        }
        const std::uint32_t more = 1 + rng.Below(5);
        for (std::uint32_t i = 0; i < more; ++i) {
          part.words.push_back(VertexWord::Point(newPoint()));
          if (rng.Below(4) == 0) {
            part.words.push_back(VertexWord::Attribute({"9", std::to_string(i), "vertex note"}));
          }
        }
        break;
      }
      case 2: {  // an area ring, closed on its first point
        part.text.code = CodeOf(detail, cls, '2');
        const std::uint16_t first = newPoint();
        part.words.push_back(VertexWord::Point(first));
        const std::uint32_t corners = 2 + rng.Below(4);
        for (std::uint32_t i = 0; i < corners; ++i) part.words.push_back(VertexWord::Point(newPoint()));
        part.words.push_back(VertexWord::Point(first));
        break;
      }
      default: {  // a boundary line
        part.text.code = CodeOf(detail, cls, 'B');
        const std::uint32_t count = 2 + rng.Below(3);
        for (std::uint32_t i = 0; i < count; ++i) part.words.push_back(VertexWord::Point(newPoint()));
        break;
      }
    }
    rec.parts.push_back(std::move(part));
  }
  return rec;
}

}  // namespace

MapDescription GenerateGrid(std::uint32_t level, std::uint32_t tileCount,
                            std::uint32_t recordsPerTile, std::uint32_t seed,
                            const GridOptions& options) {
  MapDescription desc;
  desc.compressed = options.compressed;
  desc.wideEntries = options.wideEntries;
  desc.runPerTile = options.runPerTile;
  char name[64];
  std::snprintf(name, sizeof name, "grid-%u-%u-%u.rmf", level, tileCount, seed);
  desc.Annotate("FILENAME", name);
  desc.Annotate("RMF Compile", "rmfbuild synthetic grid");

  Random rng(0x5eed000000000000ull ^ (std::uint64_t{seed} << 8) ^ level);
  if (level > 15) level = 15;
  if (level == 15) tileCount = std::min<std::uint32_t>(tileCount, 1);

  // The block of cells: as square as the grid (twice as wide as high) allows.
  const std::int64_t cell = std::int64_t{4096} << std::min<std::uint32_t>(level, 14);
  const std::uint64_t columnsInWorld = level == 15 ? 1 : std::uint64_t{1} << (16 - level);
  const std::uint64_t rowsInWorld = level == 15 ? 1 : std::uint64_t{1} << (15 - level);
  const std::uint64_t count = std::min<std::uint64_t>(tileCount, columnsInWorld * rowsInWorld);
  if (count == 0) return desc;
  std::uint64_t cols = static_cast<std::uint64_t>(std::ceil(std::sqrt(static_cast<double>(count))));
  cols = std::min(cols, columnsInWorld);
  std::uint64_t rows = (count + cols - 1) / cols;
  if (rows > rowsInWorld) {
    rows = rowsInWorld;
    cols = (count + rows - 1) / rows;
  }
  const std::uint64_t col0 = rng.Below(static_cast<std::uint32_t>(columnsInWorld - cols + 1));
  const std::uint64_t row0 = rng.Below(static_cast<std::uint32_t>(rowsInWorld - rows + 1));

  desc.tiles.reserve(count);
  std::uint32_t serial = 0;
  for (std::uint64_t k = 0; k < count; ++k) {
    TiPoint centre{0, 0};
    if (level < 15) {
      const std::int64_t cx = static_cast<std::int64_t>(col0 + k % cols);
      const std::int64_t cy = static_cast<std::int64_t>(row0 + k / cols);
      centre.x = static_cast<std::int32_t>(-(std::int64_t{1} << 27) + cx * cell + cell / 2);
      centre.y = static_cast<std::int32_t>(-(std::int64_t{1} << 26) + cy * cell + cell / 2);
    }
    Tile tile = Tile::At(level, centre);
    const std::uint32_t id = TileIdOf(tile);
    TiRect rect{};
    (void)RmfTileRect(id, &rect);  // the id of a tile of the grid always names a rectangle
    for (std::uint32_t r = 0; r < recordsPerTile; ++r) {
      tile.records.push_back(RandomRecord(rng, rect, id, serial++));
    }
    desc.tiles.push_back(std::move(tile));
  }
  return desc;
}

}  // namespace rmfbuild
