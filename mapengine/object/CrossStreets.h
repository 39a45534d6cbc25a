// Cross streets and intersections: which streets meet at the next
// intersection ahead along the street the user is on, ordered round the
// intersection starting with the street ahead, each marked with the side of
// the street it leaves on and whether the user must cross it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mapengine/format/RmfTypes.h"
#include "mapengine/format/base/TiTypes.h"
#include "typelib/CartovelLib.h"
#include "mapengine/object/ResultObjects.h"
#include "platform/com/owners.h"

class CMap;

// Entries a cross-street list holds in every caller.
inline constexpr int kCrossStreetCapacity = 150;

// Connect types of a cross street.
inline constexpr INT kConnectNormal = 0;
inline constexpr INT kConnectTurnRestriction = 2;  // a trail or walkway meets here

// The intersection search gives up after this many milliseconds of ticks and
// answers the best point found so far.
inline constexpr DWORD kIntersectionSearchMs = 3000;

// The working list of cross streets; one reference held per entry. Appending
// beyond the capacity drops the new entry.
class CrossStreetVector {
 public:
  using Entry = std::unique_ptr<CCrossStreet, com::Releaser>;

  explicit CrossStreetVector(int capacity = kCrossStreetCapacity) : capacity_(capacity) {}

  int capacity() const { return capacity_; }
  int count() const { return static_cast<int>(entries_.size()); }
  CCrossStreet* at(int i) const { return entries_[static_cast<std::size_t>(i)].get(); }
  // Takes the reference; false (the entry released) when the list is full.
  bool Append(Entry entry);
  // Entries by position, for reordering.
  std::vector<Entry>& entries() { return entries_; }
  void Clear() { entries_.clear(); }

 private:
  int capacity_;
  std::vector<Entry> entries_;
};

// The intersection ahead along `street` from `point`: a best-first walk over
// the street's ends, bounded by kIntersectionSearchMs of ticks, 100 visited
// and 100 open points. The heading is updated to the one at the point found.
// (0x7FFFFFFF, 0x7FFFFFFF) when there is none.
TiPoint FindBestIntersection(CMap& map, TiPoint point, std::u16string_view streetName, const RmfFeatureRef& street,
                             std::int32_t* heading, bool nameFlag, bool expanded);

// The cross streets at the intersection found from `point` along the street
// in the heading's orientation (mode 1), or at the intersection the user
// stands on (mode 0, searched without a heading). Returns the new heading.
std::int32_t BuildNextIntersectionCrossStreetsInternal(CMap& map, TiPoint point, std::int32_t heading,
                                                       std::u16string_view streetName, CrossStreetVector& list,
                                                       int mode, bool expanded, bool includeConnectors);

// Orders the list round the intersection starting with the street ahead and
// sets sides and must-cross flags. Returns the new heading (the orientation
// of the street that continues ahead, else the heading unchanged).
std::int32_t NormalizeCrossStreets(CMap& map, bool nearSide, std::int32_t heading, std::u16string_view streetName,
                                   CrossStreetVector& list);

// Sides and must-cross flags of an ordered list (nothing set when the first
// entry's side is unknown).
void AssignSidesAndCrossings(CrossStreetVector& list, bool nearSide, std::int32_t heading,
                             std::u16string_view streetName);

// Hands the list out as a VARIANT holding a SAFEARRAY (VT_ARRAY | VT_VARIANT,
// lower bound 0) of VT_DISPATCH cross streets, the array holding a reference
// to each. `out` must be empty (VT_EMPTY); E_OUTOFMEMORY leaves it so.
HRESULT CrossStreetListToVariant(const CrossStreetVector& list, VARIANT* out);
