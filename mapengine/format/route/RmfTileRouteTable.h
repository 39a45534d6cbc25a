// Per-tile routing tables: for every tile block (one record of a tile, named
// by the feature key tile id, source, record sequence) the router touches, a
// compact table built once per route object and kept in the route's feature
// cache. It holds, for every part of the record (the router's "feature"), its
// traversal records for both directions of travel as the routing profile
// answers them, and for every point of the record (a "node") its position,
// how many passages of open parts meet there, their two highest classes and
// the list of those passages. Tables of neighbouring blocks of the same and
// other tile levels are joined by node position on demand, so that a node on
// a cell border, or where a street of a coarser tile meets a finer one, knows
// every passage through it.
//
// Nodes are the record's point indexes. A builder that does not share equal
// points leaves several points at one position: the table takes the lowest
// such point as the node of that position and marks the others as aliases
// (kRmfNodeAlias) that name it, so a position has one node however the
// record was written.
//
// Byte counts and offsets are 32-bit and count as on the phone; every offset
// is from the start of the table, which is the start of its cache block.
//
// Layout of a table (little-endian, in this order):
//   RmfTileRouteTable       the header below
//   sorted node index       u16 x node count (the first sortedNodeCount used)
//   traversal records       RmfTraversal x 2 per part: toward lower, then
//                           toward higher vertex positions
//   node positions          TiPoint per node
//   node words              2 x u32 per node (kRmfNode* below)
//   incidence lists         incidenceBytes used of incidenceCapacity
//   neighbour list          RmfFeatKey x neighbourCapacity (neighbourCount used)
//
// Node words: the first word is, for a node with exactly one passage, that
// passage's incidence word (stored inline); for a node with more, the offset
// of its incidence list; for an alias, the node it names; else 0. The second
// word holds the count, the restriction mark and the two class nibbles.
// An incidence list is a u32 length n followed by n incidence words. Lists
// are appended to by moving them to the end of the incidence area.
#pragma once

#include <cstdint>

#include "mapengine/format/RmfExport.h"
#include "mapengine/format/RmfResult.h"
#include "mapengine/format/base/TiTypes.h"
#include "mapengine/format/features/RmfProfile.h"
#include "mapengine/format/route/RmfFeatCache.h"

struct RmfRoute;

// ---- traversal records ----------------------------------------------------------------------

// What a part costs in one direction of travel, from the profile's feature
// answer.
struct RmfTraversal {
  std::uint32_t flags;       // kRmfTraversal*
  std::uint32_t costFactor;  // generalised cost per map unit, scaled by 2^8
  std::uint32_t timeFactor;  // travel time per map unit, scaled by 2^8
};
static_assert(sizeof(RmfTraversal) == 12, "a traversal record is 3 words");

inline constexpr std::uint32_t kRmfTraversalTimed = 0x1;        // time-dependent (time-dependent mode only)
inline constexpr std::uint32_t kRmfTraversalTimeFlag = 0x2;     // second time flag
inline constexpr std::uint32_t kRmfTraversalClassShift = 2;     // bits 2-6: class, 5-bit signed
inline constexpr std::uint32_t kRmfTraversalClassMask = 0x7C;
inline constexpr std::uint32_t kRmfTraversalGroupShift = 7;     // bits 7-8: group code 0..3
inline constexpr std::uint32_t kRmfTraversalGroupMask = 0x180;
inline constexpr std::uint32_t kRmfTraversalTimeShift = 9;      // bits 9-20: time value
inline constexpr std::uint32_t kRmfTraversalTimeMask = 0x1FFE00;
inline constexpr std::uint32_t kRmfTraversalRestricted = 0x200000;  // bit 21: restricted entry
// Traversal record index of a direction of travel.
inline constexpr std::int32_t kRmfTravelLower = 0;
inline constexpr std::int32_t kRmfTravelHigher = 1;

// The class of a traversal record: -16..15, negative = closed.
inline std::int32_t RmfTraversalClass(std::uint32_t flags) {
  const std::int32_t c = static_cast<std::int32_t>((flags & kRmfTraversalClassMask) >> kRmfTraversalClassShift);
  return c >= 16 ? c - 32 : c;
}
inline std::int32_t RmfTraversalGroup(std::uint32_t flags) {
  return static_cast<std::int32_t>((flags & kRmfTraversalGroupMask) >> kRmfTraversalGroupShift);
}

// How the router reads the profile's feature answer beyond the class and
// cost: the group code is the answer's groupCode of the direction (0..3; the
// street filters' kind: 1 ramp, 2 freeway, 3 a connector inside a junction;
// anything above 3 reads as 0), the restricted-entry mark is
// bit 8 of that word, and the time words hold, per direction (index
// kRmfTravelLower / kRmfTravelHigher), the time factor at [direction] and the
// time flags at [2 + direction] (bit 0 time-dependent, bit 1 the second time
// flag, bits 9-20 the time value; read in time-dependent mode only).
inline constexpr std::uint32_t kRmfTravelControlRestricted = 0x100;
inline constexpr std::int32_t kRmfAnswerTimeFactor = 0;
inline constexpr std::int32_t kRmfAnswerTimeFlags = 2;

// ---- the table -------------------------------------------------------------------------------

inline constexpr std::uint8_t kRmfTableBuilt = 1;
inline constexpr std::uint8_t kRmfTableJoined = 2;
// The joined level of a table not joined yet: above every tile level.
inline constexpr std::uint8_t kRmfTableNotJoined = 16;
inline constexpr std::int32_t kRmfTopTileLevel = 15;

inline constexpr std::int32_t kRmfTableMaxFeatures = 32767;
inline constexpr std::int32_t kRmfTableMaxNeighbours = 32767;  // the joined incidence holds 15 bits
inline constexpr std::uint32_t kRmfIncidenceGrowth = 1024;     // bytes
inline constexpr std::uint32_t kRmfNeighbourGrowth = 32;       // entries
// Tile-id ranges a join looks at per level.
inline constexpr std::int32_t kRmfJoinMaxRanges = 100;

struct RmfTileRouteTable {
  std::uint16_t featureCount;     // parts of the record
  std::uint16_t sortedNodeCount;  // entries of the sorted node index
  std::uint16_t nodeCount;        // points of the record
  std::uint16_t neighbourCount;   // neighbour blocks joined so far
  std::uint32_t traversalOffset;
  std::uint32_t positionOffset;
  std::uint32_t sortedOffset;
  std::uint32_t nodeWordOffset;
  std::uint32_t neighbourOffset;
  std::uint8_t state;        // kRmfTableBuilt or kRmfTableJoined
  std::uint8_t joinedLevel;  // finest tile level joined; kRmfTableNotJoined before
  std::uint16_t blockNumber;  // the record's sequence within its tile
  std::uint32_t tileId;
  std::uint16_t source;
  std::uint8_t tileLevel;
  std::uint8_t moreBlocks;  // 1 when the tile holds a record with the next sequence
  std::uint32_t incidenceOffset;
  std::uint32_t incidenceBytes;     // used
  std::uint32_t incidenceCapacity;  // bytes
  std::uint32_t neighbourCapacity;  // entries
  std::uint32_t totalBytes;         // the whole table
  TiRect nodeBox;  // bounding box of the nodes with passages (empty: x1 > x2)
};

// Node words.
inline constexpr std::uint32_t kRmfNodeAlias = 0x1;  // second word: the first word names the node of this position
inline constexpr std::uint32_t kRmfNodeCountShift = 16;  // bits 16-22: passages meeting, saturating
inline constexpr std::uint32_t kRmfNodeCountMask = 0x7F0000;
inline constexpr std::uint32_t kRmfNodeCountMax = 127;
inline constexpr std::uint32_t kRmfNodeRestricted = 0x800000;  // bit 23: the inline passage's stretch has restriction items
inline constexpr std::uint32_t kRmfNodeClassShift = 24;        // bits 24-27: highest class
inline constexpr std::uint32_t kRmfNodeSecondShift = 28;       // bits 28-31: second-highest class

// Incidence words.
inline constexpr std::uint32_t kRmfIncidenceJoined = 0x1;       // bit 0: a passage of a neighbour's node
inline constexpr std::uint32_t kRmfIncidencePartShift = 1;      // own: bits 1-14 part
inline constexpr std::uint32_t kRmfIncidencePartMask = 0x7FFE;
inline constexpr std::uint32_t kRmfIncidenceRestricted = 0x8000;  // own: a stretch at this passage has restriction items
inline constexpr std::uint32_t kRmfIncidenceVertexShift = 16;   // own: bits 16-29 vertex position
inline constexpr std::uint32_t kRmfIncidenceVertexMask = 0x3FFF0000;
inline constexpr std::uint32_t kRmfIncidenceStarts = 0x40000000;  // own: the part starts here
inline constexpr std::uint32_t kRmfIncidenceEnds = 0x80000000;    // own: the part ends here
inline constexpr std::uint32_t kRmfIncidenceNeighbourShift = 1;   // joined: bits 1-15 neighbour index
inline constexpr std::uint32_t kRmfIncidenceNeighbourMask = 0xFFFE;
inline constexpr std::uint32_t kRmfIncidenceNodeShift = 16;       // joined: bits 16-31 neighbour's node

// ---- reading a table (inline helpers over the layout) ----------------------------------------

inline const std::uint8_t* RmfTableBytes(const RmfTileRouteTable* t) {
  return reinterpret_cast<const std::uint8_t*>(t);
}
inline const RmfTraversal* RmfTableTraversals(const RmfTileRouteTable* t, std::int32_t part) {
  return reinterpret_cast<const RmfTraversal*>(RmfTableBytes(t) + t->traversalOffset) + 2 * part;
}
inline const TiPoint* RmfTablePositions(const RmfTileRouteTable* t) {
  return reinterpret_cast<const TiPoint*>(RmfTableBytes(t) + t->positionOffset);
}
inline const std::uint16_t* RmfTableSorted(const RmfTileRouteTable* t) {
  return reinterpret_cast<const std::uint16_t*>(RmfTableBytes(t) + t->sortedOffset);
}
inline const std::uint32_t* RmfTableNodeWords(const RmfTileRouteTable* t, std::int32_t node) {
  return reinterpret_cast<const std::uint32_t*>(RmfTableBytes(t) + t->nodeWordOffset) + 2 * node;
}
inline const RmfFeatKey* RmfTableNeighbours(const RmfTileRouteTable* t) {
  return reinterpret_cast<const RmfFeatKey*>(RmfTableBytes(t) + t->neighbourOffset);
}
inline std::uint32_t RmfNodeCount(std::uint32_t second) { return (second & kRmfNodeCountMask) >> kRmfNodeCountShift; }
inline std::int32_t RmfNodeClass(std::uint32_t second) { return static_cast<std::int32_t>((second >> 24) & 0xF); }
inline std::int32_t RmfNodeSecondClass(std::uint32_t second) { return static_cast<std::int32_t>(second >> 28); }
inline std::int32_t RmfIncidencePart(std::uint32_t w) {
  return static_cast<std::int32_t>((w & kRmfIncidencePartMask) >> kRmfIncidencePartShift);
}
inline std::int32_t RmfIncidenceVertex(std::uint32_t w) {
  return static_cast<std::int32_t>((w & kRmfIncidenceVertexMask) >> kRmfIncidenceVertexShift);
}
inline std::int32_t RmfIncidenceNeighbour(std::uint32_t w) {
  return static_cast<std::int32_t>((w & kRmfIncidenceNeighbourMask) >> kRmfIncidenceNeighbourShift);
}
inline std::int32_t RmfIncidenceNode(std::uint32_t w) { return static_cast<std::int32_t>(w >> kRmfIncidenceNodeShift); }

// The node's passages: their number, and *words pointing at them (the inline
// word of a single passage, else the list after its length word). 0 for a
// node without passages, an alias or a node number out of range. The words
// stay valid while the table is held and not joined further.
RMF_API_NODISCARD std::int32_t RmfTileRouteNodeIncidences(const RmfTileRouteTable* table, std::int32_t node,
                                                          const std::uint32_t** words);

// ---- building, joining, finding --------------------------------------------------------------

// The block's table, from the route's feature cache or built and stored
// there: 1 with *table held once for the caller, who gives it back with
// RmfTileRouteTableRelease; *pin (optional) gets the cache block, which is
// the table itself. kRmfBadArgument (-2) for a bad route or output;
// kRmfNoMemory (-3) when the working buffers cannot be had; kRmfProfileMissing
// (-31) without a feature profile; 0 when the record does not exist;
// kRmfMalformed (-128) for an inconsistency (more than 32767 parts, a vertex
// naming a point outside the record, a cache that cannot take the table),
// counted as an internal error. Parts beyond the 14-bit part and 13-bit
// vertex fields are left out of the table (closed), never truncated.
RMF_API_NODISCARD std::int32_t RmfTileRouteTableBuild(RmfRoute* route, RmfFeatKey key, RmfTileRouteTable** table,
                                                      void** pin);
// The block's table joined with the blocks of every tile level from `level`
// (0..15) to the top that the route's level mask holds, in enabled sources,
// whose nodes share positions with it: 1 with *table held once (give it back
// with RmfTileRouteTableRelease). A table joined down to `level` or further is
// returned as it is. Joining needs the table held by nobody else
// (kRmfMalformed otherwise, the table left as it was). Codes as
// RmfTileRouteTableBuild; kRmfMalformed also for more than 100 tile ranges at
// a level, more than 32767 neighbours or a node without passages met in a
// join.
RMF_API_NODISCARD std::int32_t RmfTileRouteTableGet(RmfRoute* route, RmfFeatKey key, std::int32_t level,
                                                    RmfTileRouteTable** table);
// Gives back one hold of a table: 1, or the cache's failure.
RMF_API_NODISCARD std::int32_t RmfTileRouteTableRelease(RmfRoute* route, RmfTileRouteTable* table);
// The node at exactly the position among the nodes with passages, or -1.
RMF_API_NODISCARD std::int32_t RmfTileRouteNodeFind(const RmfTileRouteTable* table, TiPoint position);
// Looks for a node with passages at the position in the blocks of the tiles
// of the levels level..topLevel of the route's level mask (finest first) in
// enabled sources: 1 with the tile level, the block's key and the node; 0
// when there is none; a negative code when a table cannot be built.
RMF_API_NODISCARD std::int32_t RmfTileRouteNodeCoarser(RmfRoute* route, TiPoint position, std::int32_t level,
                                                       std::int32_t topLevel, std::int32_t* levelOut,
                                                       RmfFeatKey* key, std::int32_t* node);

// Sets each source's enable byte to 1 when its box contains the point (mode
// kRmfEnableAtPoint, box->x1/y1 the point) or overlaps the box (mode
// kRmfEnableInBox, edges inclusive), else 0: 1; kRmfBadArgument (-2) for a
// bad route, a null box or another mode.
inline constexpr std::int32_t kRmfEnableAtPoint = 1;
inline constexpr std::int32_t kRmfEnableInBox = 2;
RMF_API_NODISCARD std::int32_t RmfRouteEnableSourcesAt(RmfRoute* route, const TiRect* box, std::int32_t mode);

// Sorts count node numbers by the positions they index (x, then y, signed):
// 1; kRmfBadArgument (-2) for a null index or positions or a negative count.
RMF_API_NODISCARD std::int32_t RmfSortNodesByPosition(std::uint16_t* index, std::int32_t count,
                                                      const TiPoint* positions);
