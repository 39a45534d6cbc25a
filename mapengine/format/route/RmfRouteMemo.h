// What a route remembers of answers it would otherwise ask for again and
// again within the profile and the sources it has seen: the next tile a
// source's index covers (asked by every join of the routing tables around
// a tile) and the profile's connection answers without restriction items
// (asked for every way through every junction). Both are direct-mapped: a
// newer answer takes the cell of an older one with the same hash.
//
// The memo is one std::malloc block of the route (RmfRoute::memo), made on
// first use and freed whenever the route's feature cache is emptied because
// the profile or the sources changed, and with the route. A route without
// memory for it asks every time.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "mapengine/format/RmfReaderRecord.h"
#include "mapengine/format/route/RmfRouteRecord.h"

struct RmfRouteMemo {
  // An index answer: tile id -> the least covered tile id at or after it.
  struct TileCell {
    std::uint32_t tile;
    std::uint32_t next;
    std::int32_t source;  // -1: empty
  };
  // A connection answer without items, asked without a time request: the
  // question and the request word the profile left.
  struct AnswerCell {
    std::uint32_t featureId;
    std::uint32_t secondId;
    std::uint32_t question;  // part, vertex and side of the stretch
    std::uint32_t asked;     // the request word handed to the profile
    std::uint32_t modes;     // kAnswerUsed | the reader's profile mode flags (they go into the request)
    std::uint32_t request;   // the request word of the answer
  };
  static constexpr std::uint32_t kAnswerUsed = 0x100;
  static constexpr std::uint32_t kTileCells = 1024;
  static constexpr std::uint32_t kAnswerCells = 4096;
  TileCell tiles[kTileCells];
  // The reader's profile change counter the answers were given under: a
  // profile installed since (even the same one again) empties them.
  std::uint32_t profileGeneration;
  AnswerCell answers[kAnswerCells];
};

namespace rmf::detail {

// The route's memo, made empty on first use; null without memory.
inline RmfRouteMemo* RouteMemo(RmfRoute* route) {
  if (route->memo == nullptr) {
    auto* memo = static_cast<RmfRouteMemo*>(std::malloc(sizeof(RmfRouteMemo)));
    if (memo == nullptr) return nullptr;
    for (RmfRouteMemo::TileCell& c : memo->tiles) c = RmfRouteMemo::TileCell{0, 0, -1};
    for (RmfRouteMemo::AnswerCell& c : memo->answers) c = RmfRouteMemo::AnswerCell{};
    memo->profileGeneration = route->reader->profile.changeCounter;
    route->memo = memo;
  }
  return route->memo;
}

// The memo's connection answers, emptied first when the reader's profile
// was installed since they were given; null without a memo.
inline RmfRouteMemo::AnswerCell* RouteAnswerCells(RmfRoute* route) {
  RmfRouteMemo* memo = RouteMemo(route);
  if (memo == nullptr) return nullptr;
  if (memo->profileGeneration != route->reader->profile.changeCounter) {
    for (RmfRouteMemo::AnswerCell& c : memo->answers) c = RmfRouteMemo::AnswerCell{};
    memo->profileGeneration = route->reader->profile.changeCounter;
  }
  return memo->answers;
}

inline void FreeRouteMemo(RmfRoute* route) {
  std::free(route->memo);
  route->memo = nullptr;
}

inline std::uint32_t MemoHash(std::uint32_t a, std::uint32_t b, std::uint32_t c) {
  std::uint32_t h = a * 2654435761u;
  h ^= (b + 0x9e3779b9u + (h << 6) + (h >> 2)) * 40503u;
  h ^= (c + 0x7f4a7c15u + (h << 6) + (h >> 2)) * 2246822519u;
  return h ^ (h >> 15);
}

}  // namespace rmf::detail
