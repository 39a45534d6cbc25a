// What a route remembers of answers it would otherwise ask for again and
// again within the sources it has seen: the next tile a source's index
// covers from a tile id on, asked by every join of the routing tables
// around a tile. Direct-mapped: a newer answer takes the cell of an older
// one with the same hash.
//
// The memo is one std::malloc block of the route (RmfRoute::memo), made on
// first use and freed whenever the route's feature cache is emptied because
// the profile or the sources changed, and with the route. A route without
// memory for it asks every time.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "mapengine/format/route/RmfRouteRecord.h"

struct RmfRouteMemo {
  // An index answer: tile id -> the least covered tile id at or after it.
  struct TileCell {
    std::uint32_t tile;
    std::uint32_t next;
    std::int32_t source;  // -1: empty
  };
  static constexpr std::uint32_t kTileCells = 1024;
  TileCell tiles[kTileCells];
};

namespace rmf::detail {

// The route's memo, made empty on first use; null without memory.
inline RmfRouteMemo* RouteMemo(RmfRoute* route) {
  if (route->memo == nullptr) {
    auto* memo = static_cast<RmfRouteMemo*>(std::malloc(sizeof(RmfRouteMemo)));
    if (memo == nullptr) return nullptr;
    for (RmfRouteMemo::TileCell& c : memo->tiles) c = RmfRouteMemo::TileCell{0, 0, -1};
    route->memo = memo;
  }
  return route->memo;
}

inline void FreeRouteMemo(RmfRoute* route) {
  std::free(route->memo);
  route->memo = nullptr;
}

inline std::uint32_t MemoHash(std::uint32_t a, std::uint32_t b) {
  std::uint32_t h = a * 2654435761u;
  h ^= (b + 0x9e3779b9u + (h << 6) + (h >> 2)) * 40503u;
  return h ^ (h >> 15);
}

}  // namespace rmf::detail
