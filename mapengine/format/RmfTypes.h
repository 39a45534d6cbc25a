// Types of the map-format library that the map engine object holds before it
// calls into the library: the reader handle and the 16-byte feature reference.
#pragma once

#include <cstdint>

// The library's context record; opaque outside the library.
struct RmfReader;

// Names one stretch of one feature across the library, the router and the map
// engine. Passed to library calls as four 32-bit words and stored in arrays as
// is, little-endian:
//   w0        feature id: id of the tile holding the record (0 never names a feature)
//   w1 low    source: index of the map source in the reader (map number - 1)
//   w1 high   second id: sequence number of the record within its tile
//   w2 low    part: index of the node list within the record
//   w2 high   from vertex
//   w3 low    to vertex (to < from runs toward lower positions)
//   w3 high   position: bits 0-10 fraction 0..1024, bit 13 heading agreed,
//             bit 14 point reference, bit 15 reverse
struct RmfFeatureRef {
  std::uint32_t featureId;
  std::uint16_t source;
  std::uint16_t secondId;
  std::uint16_t part;
  std::uint16_t fromVertex;
  std::uint16_t toVertex;
  std::uint16_t position;
};
static_assert(sizeof(RmfFeatureRef) == 16, "feature references are stored in arrays as 16 bytes");
