// Feature references compared and printed by the tests. They are the
// library's plain records, so the operators stand at global scope, where
// argument-dependent lookup finds them for GoogleTest's assertions.
#pragma once

#include <cstring>
#include <ostream>

#include "mapengine/format/RmfTypes.h"

inline bool operator==(const RmfFeatureRef& a, const RmfFeatureRef& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

inline std::ostream& operator<<(std::ostream& os, const RmfFeatureRef& r) {
  return os << "{" << r.featureId << " s" << r.source << " #" << r.secondId << " p" << r.part << " " << r.fromVertex
            << "->" << r.toVertex << " 0x" << std::hex << r.position << std::dec << "}";
}
