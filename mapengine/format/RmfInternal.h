// Library-internal helpers that every layer of the map-format library uses:
// the check that a reader is alive, the setting of its last error, and the
// little-endian loads of map-file words. Not exported: the names live in
// rmf::detail and carry no export mark.
#pragma once

#include <cstdint>

#include "mapengine/format/RmfReaderRecord.h"

namespace rmf::detail {

// A reader that may be used: not null, and created and not yet closed.
inline bool ReaderAlive(const RmfReader* reader) { return reader != nullptr && reader->magic == kRmfReaderMagic; }

// Stores the code as the reader's last error and returns it.
inline std::int32_t FailWith(RmfReader* reader, std::int32_t code) {
  reader->lastError = code;
  return code;
}

// Little-endian words at p, which need not be aligned.
inline std::uint16_t LoadU16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint32_t LoadU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::int32_t LoadI32(const std::uint8_t* p) { return static_cast<std::int32_t>(LoadU32(p)); }

}  // namespace rmf::detail
