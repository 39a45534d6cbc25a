// Stretch walks: how the router turns the stretch from one junction to the
// next into one search step. A walk steps node by node along a part of a
// record (RmfFeatureNextNode), reading the per-tile routing table's node
// words to tell where a junction of the search level stands, and, where two
// parts that cost the same merely continue each other (two halves of a
// street cut at a cell border or a record boundary), crosses onto the next
// part. On the same reading rest the next-junction walk of the map engine,
// the junction-between test of the search and the part ends at a node.
//
// Levels: a node is a junction at level L when at least two passages meet
// there and its second-highest class is L or more. Tile levels and class
// levels share the numbers 0..15: where a walk needs passages of tiles the
// table was not joined with, it looks at the tiles of levels L and up.
#pragma once

#include <cstdint>

#include "mapengine/format/RmfExport.h"
#include "mapengine/format/RmfResult.h"
#include "mapengine/format/RmfTypes.h"
#include "mapengine/format/base/TiTypes.h"
#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/format/route/RmfTileRouteTable.h"

struct RmfRoute;

inline constexpr std::uint32_t kRmfWalkLengthMax = (1u << 27) - 1;  // lengths are 27 bits
inline constexpr std::uint32_t kRmfWalkLevelMax = 7;                // levels reached are 3 bits
inline constexpr std::uint32_t kRmfWalkRanToEnd = 0x1;       // the walk ran to the end of its part
inline constexpr std::uint32_t kRmfWalkRestrictionStop = 0x2;  // it stopped at a restriction mark
// Steps a walk may take before it counts as lost.
inline constexpr std::int32_t kRmfWalkMaxSteps = 1 << 20;

// What a walk found.
struct RmfWalk {
  std::uint32_t farVertex;     // vertex position where the walk ended, on the part followed last
  std::uint32_t length;        // map units (27 bits)
  std::uint32_t levelReached;  // second-highest class of the far node (3 bits); 0 at a part's end
  std::uint32_t flags;         // kRmfWalkRanToEnd, kRmfWalkRestrictionStop
  // The junction when it was found in another block's table (coarserFound 1):
  // that block and its node.
  std::uint32_t coarserFound;
  RmfFeatKey coarserKey;
  std::int32_t coarserNode;
  TiPoint farPoint;
  // The part followed last when the walk crossed onto another part
  // (lastFeature.featureId 0 when it stayed on its own): from the vertex where
  // it entered to farVertex; lastDirection its step on that part.
  RmfFeatureRef lastFeature;
  std::int32_t lastDirection;
};

// Passages through the point `node` (an index of the slot's record; points at
// the same position count too) of parts open in either direction with a class
// of `level` or more, each passage counted, capped at `limit`. A negative
// code when the profile cannot be asked (kRmfProfileMissing) or for bad
// arguments (kRmfBadArgument).
RMF_API_NODISCARD std::int32_t RmfRouteJunctionDegree(RmfRoute* route, RmfFeature* feature, std::int32_t node,
                                                      std::int32_t level, std::int32_t limit);

// Walks from the node at `vertex` of `part` (held in `feature`, whose block's
// table is `table`) in `direction` (+1 toward higher vertex positions, -1
// toward lower) to the next junction of level `level`. `traversals` are the
// part's two records (null: the table's). `passDirection` is the direction of
// travel whose class the stretch must reach at a part's end (+1, -1, or 0 for
// either). With `follow` set, the walk crosses onto a part that merely
// continues this one (exactly two parts meeting at their ends, the same
// traversal records in class, group code, restricted entry and cost factor,
// none time-dependent when `timeDependent` is set, not one of the route's
// origin or destination parts while they share a feature, and not back onto
// the part it started on). `coefficients` are the four distance coefficients
// of the start latitude (TiDistCoeff; null: worked out here), used when the
// route's mode asks for estimated lengths. *pending (optional) gets 1 when
// the passage at the far node carries restriction items.
// 1 with *walk; 0 when the stretch cannot be walked at this level (its class
// is below it at the part's end, or the part ends at the start vertex);
// kRmfBadArgument (-2) for bad arguments; kRmfMalformed (-128), counted as an
// internal error, for an inconsistency (a direction other than +-1, a node
// word that breaks its rules, a walk that loses its way).
RMF_API_NODISCARD std::int32_t RmfRouteWalk(RmfRoute* route, RmfFeature* feature, const RmfTileRouteTable* table,
                                            std::int32_t part, std::int32_t vertex, const RmfTraversal* traversals,
                                            std::int32_t direction, std::int32_t passDirection, std::int32_t level,
                                            std::int32_t follow, const std::uint32_t* coefficients,
                                            std::int32_t timeDependent, RmfWalk* walk, std::int32_t* pending);

// The vertex position of the next junction of `level` along `part` of the
// slot's record from `vertex` in `direction`, judged by `table` (the block's
// table; null: by the passages of the record itself, RmfRouteJunctionDegree)
// and, where that finds none, by the blocks of the other tiles holding the
// node's position. With a box, the walk ends instead at the first node
// outside it. The part's last node in that direction when no junction comes;
// a negative code on failure.
RMF_API_NODISCARD std::int32_t RmfRouteNextJunction(RmfRoute* route, RmfFeature* feature,
                                                    const RmfTileRouteTable* table, std::int32_t part,
                                                    std::int32_t vertex, std::int32_t direction, std::int32_t level,
                                                    const TiRect* box);

// 1 when `node` and `target` name the same part in the same direction, the
// target lies ahead of the node's stretch and a junction (any level) lies
// between the node's end and the target's start, both included; else 0 (also
// when the feature or its table cannot be had, which counts as an internal
// error).
RMF_API_NODISCARD std::int32_t RmfRouteJunctionBetween(RmfRoute* route, const RmfFeatureRef* node,
                                                       const RmfFeatureRef* target);

// 1 when the stretch walk (level 0, crossing where parts merely continue each
// other, onto the route's end parts too) from `origin`'s from vertex in its
// direction of travel comes to `target`'s from vertex on the target's part,
// travelling as the target does, before any junction: two route ends on
// streets that meet end to end, or on one part, with no junction between.
// *length (optional) gets the length walked, map units (27 bits). 0 when it
// does not (also for a feature or table that cannot be had).
RMF_API_NODISCARD std::int32_t RmfRouteWalkReaches(RmfRoute* route, const RmfFeatureRef* origin,
                                                   const RmfFeatureRef* target, std::uint32_t* length);

// The ends of the parts of the slot's record, open in at least one direction,
// that lie at the position of point `node`: one entry per match, bit 0 clear,
// bits 1-14 the part, bits 16-29 the vertex position of that end, bit 30 for
// a part's first node, bit 31 for its last (a part that starts and ends there
// gives both). Writes at most `capacity` and returns the count, which may
// exceed it; kRmfBadArgument (-2) for bad arguments or a node that is no
// point of the record; the code of a table that cannot be built.
RMF_API_NODISCARD std::int32_t RmfFeaturePartEnds(RmfRoute* route, RmfFeature* feature, std::int32_t node,
                                                  std::uint32_t* ends, std::int32_t capacity);
