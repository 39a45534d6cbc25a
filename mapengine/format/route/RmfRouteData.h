// Precompiled route data: a table of road-graph nodes with their connections
// that the router may consult instead of decoding map features, held in
// memory as one byte array or read from a file through a block cache
// (RmfBlockCache.h). This file holds the access record a route object points
// to (a null pointer means no route data; nothing in this system attaches any
// yet) and the lookups in it.
//
// All words are little-endian. Every offset in the data is below the data
// size; every read goes through RmfRouteDataRead, which never reads at or past
// it. What the lookups rely on:
//   - The node index: bucketCount u32 offsets in memory. A node key (feature
//     id, vertex, part) and a side go to bucket
//       (featureId + ((side + (vertex + part x 4) x 4) << 20)) mod bucketCount
//     in 32-bit unsigned arithmetic. A bucket offset of 0 or less (as i32)
//     is an empty bucket. At a bucket offset: an i32 entry count (negative =
//     empty, 0 is inconsistent), then that many (feature id u32, record
//     offset u32) pairs.
//   - A node record, at a non-zero offset that is a multiple of 4:
//       0  u32 feature id     4  u16 vertex     6  u16 part
//       8  u8 flags (bits 7 and 6 are used)     9  u8 (not decoded)
//       10 u8 c2, the number of connection entries, at most 2 x n
//       11 u8 n, the number of connections, at most 32
//       12 n u32 offsets of connection records
//       then c2 connection entries of two u32 words each, sorted by the
//       connection number in bits 5..18 of the first word.
//     The node index reads bytes 8..9 as the record's u16 side, while a node
//     read takes them as the flags and a further byte: the route-data file
//     layout is not settled, and these two readings are all that is known of
//     those bytes.
//   - A connection record starts with a packed flag word; what follows (its
//     lengths in 4,096ths and class bytes) and the meaning of the flag bits
//     are not settled, so nothing more is decoded.
//   - A name list: an i32 count of at most 80 entries, then the entries, each
//     three length bytes (below 6, 51 and 251) followed by the three texts,
//     each NUL-terminated, whose real lengths equal the stored ones.
//
// Every lookup returns 0 on success, kRmfBadArgument (-2) for a null record
// or output, kRmfRouteDataUnavailable (-7) when the data cannot supply a
// needed offset (the block cache failed, or there is no byte array), and
// kRmfMalformed (-128) on inconsistent data. Each kRmfMalformed also counts in
// the record's inconsistencies and in a process-wide counter.
#pragma once

#include <cstdint>

#include "mapengine/format/RmfExport.h"
#include "mapengine/format/RmfResult.h"
#include "mapengine/format/route/RmfBlockCache.h"

// The route data could not supply an offset: its block cache failed to read
// it (no region, no memory, a short read) or it has no byte array.
inline constexpr std::int32_t kRmfRouteDataUnavailable = -7;

inline constexpr std::int32_t kRmfRouteConnectionLimit = 32;
inline constexpr std::int32_t kRmfRouteNameLimit = 80;

struct RmfRouteDataCounters {
  std::uint32_t nodeLookups;      // RmfRouteDataFindNode calls that reached a bucket
  std::uint32_t nodesFound;
  std::uint32_t inconsistencies;  // kRmfMalformed answers
};

// The route-data access record. It owns nothing: whoever fills it keeps the
// block cache, the byte array and the node index alive while it is used and
// frees them.
struct RmfRouteData {
  std::int32_t inFile;   // 1: read through the block cache, else from the byte array
  RmfBlockCache* cache;
  const std::uint8_t* bytes;
  const std::uint32_t* buckets;  // the node index
  std::uint32_t bucketCount;
  std::uint32_t dataSize;
  std::int32_t level;  // route-data level
  RmfRouteDataCounters counters;
};

struct RmfRouteNodeKey {
  std::uint32_t featureId;
  std::uint16_t vertex;
  std::uint16_t part;
};

// A connection entry of a node record, its fields by bit position.
struct RmfRouteConnectionEntry {
  std::uint32_t number;     // bits 5..18 of the first word
  std::uint8_t lowBits;     // bits 0..4
  std::uint8_t bit19;
  std::uint8_t fields[3];   // bits 20..22, 23..25, 26..28
  std::uint32_t secondWord;
};

struct RmfRouteConnection {
  std::uint32_t offset;
  std::uint32_t flagWord;  // the packed flag word, not decoded
};

struct RmfRouteNode {
  std::uint32_t featureId;
  std::uint16_t vertex;
  std::uint16_t part;
  std::int32_t side;  // as asked
  std::uint8_t flags;
  std::uint8_t byte9;
  std::uint8_t entryCount;       // c2
  std::uint8_t connectionCount;  // n
  RmfRouteConnection connections[kRmfRouteConnectionLimit];
};

struct RmfRouteName {
  char code[6];
  char value[51];
  char name[251];
};

struct RmfRouteNames {
  std::int32_t count;
  RmfRouteName entries[kRmfRouteNameLimit];
};

// Looks the node up in the node index: *found 1 and *recordOffset (which may
// be null) the node's record when a record of the index matches the whole key
// and the side; else *found 0. For each pair of the bucket with the key's
// feature id the record offset must be non-zero, below the data size and a
// multiple of 4, and the record must hold that feature id. No index (null
// table or no buckets) finds nothing.
RMF_API_NODISCARD std::int32_t RmfRouteDataFindNode(RmfRouteData* data, RmfRouteNodeKey key, std::int32_t side,
                                                    std::int32_t* found, std::uint32_t* recordOffset);
// Finds connection number (0 .. 0x3FFF) among the node record's connection
// entries and decodes it into *entry (which may be null): *found 1, else 0.
RMF_API_NODISCARD std::int32_t RmfRouteDataFindConnection(RmfRouteData* data, std::uint32_t recordOffset,
                                                          std::uint32_t number, std::int32_t* found,
                                                          RmfRouteConnectionEntry* entry);
// Reads the node record and each of its connections (RmfRouteDataReadConnection)
// into *node. n above 32 or c2 above 2n is inconsistent.
RMF_API_NODISCARD std::int32_t RmfRouteDataReadNode(RmfRouteData* data, std::uint32_t recordOffset,
                                                    std::int32_t side, RmfRouteNode* node);
// Reads the connection record at the offset (non-zero): its flag word.
RMF_API_NODISCARD std::int32_t RmfRouteDataReadConnection(RmfRouteData* data, std::uint32_t offset,
                                                          RmfRouteConnection* connection);
// What a node record says beyond its connections. The route-data layout does
// not settle it, so after the record's checks the answer is *found 0.
RMF_API_NODISCARD std::int32_t RmfRouteDataNodeInfo(RmfRouteData* data, std::uint32_t recordOffset,
                                                    std::int32_t* found);
// The records of a walk from the node along its connection. The route-data
// layout does not settle them, so after the record's checks the answer is
// *count 0.
RMF_API_NODISCARD std::int32_t RmfRouteDataWalk(RmfRouteData* data, std::uint32_t recordOffset,
                                                std::uint32_t number, std::int32_t* count);
// Reads the name list at the offset into *names.
RMF_API_NODISCARD std::int32_t RmfRouteDataNames(RmfRouteData* data, std::uint32_t offset, RmfRouteNames* names);

// Library-internal additions (not exported from the shared library).

// Copies length bytes of the route data at offset into out, from the byte
// array or through the block cache (across blocks as needed). 0, or
// kRmfMalformed (counted) when a byte lies at or past the data size,
// kRmfRouteDataUnavailable, kRmfBadArgument for a null record, or a null out
// with a length.
RMF_EXTERN_C [[nodiscard]] std::int32_t RmfRouteDataRead(RmfRouteData* data, std::uint32_t offset,
                                                         std::uint32_t length, void* out);
// Inconsistent route data met so far in this process.
RMF_EXTERN_C [[nodiscard]] std::uint32_t RmfRouteDataInconsistencies();
