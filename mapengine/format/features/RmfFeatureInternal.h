// Library-internal pieces shared by the feature-record and attribute code:
// word access into a held record, part decoding without side effects and the
// attribute-set filler. The reader check, the error setting and the word
// loads come from mapengine/format/RmfInternal.h.
#pragma once

#include <cstdint>

#include "mapengine/format/RmfInternal.h"
#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/format/features/RmfFeatureAttr.h"
#include "mapengine/format/store/RmfReader.h"

namespace rmf::detail {

inline constexpr std::uint16_t kAttributeWord = 0x8000;

// A slot that holds a record: in use, with a live reader.
bool FeatureSlotUsed(const RmfFeature* slot);

// One part of a held record as its table entry describes it, checked against
// the record. Decoding does not touch the slot's current part.
struct PartView {
  std::uint32_t classBits = 0;
  std::uint16_t textOffset = 0;       // of the own triple, within the text area
  std::uint32_t textAt = 0;           // the own triple, from the record start
  const std::uint8_t* words = nullptr;
  std::uint16_t wordCount = 0;
  std::int32_t firstVertex = 0;
  std::int32_t lastPosition = -1;
};

// 0 with the view; kRmfBadArgument (-2) for a part outside the record,
// kRmfBadReference (-13) for a part beyond the node-word limits,
// kRmfMalformed (-128) for an entry that points outside the record.
std::int32_t DecodePart(const RmfFeature* slot, std::int32_t part, PartView* view);

// Selects the part into the slot's current-part fields; codes as DecodePart
// (kRmfBadArgument (-2) also for a null or free slot).
std::int32_t SelectPartFields(RmfFeature* slot, std::int32_t part);

// The current part's word at a position inside its list.
inline std::uint16_t CurrentWord(const RmfFeature* slot, std::int32_t position) {
  return LoadU16(slot->currentWords + 2 * position);
}

// Fills the set with the attributes of `reference` (which names the slot's
// record and current part): 0, or the negative code of the enumeration with
// the set emptied (kRmfMalformed (-128) for more entries than a set holds).
std::int32_t FillAttrSet(RmfFeature* slot, const RmfFeatureRef& reference, std::int32_t attributeFlag,
                         RmfAttrSet* set);
// An empty set: reference all zero, count 0.
void ClearAttrSet(RmfAttrSet* set);

// Gives back a slot the caller fetched itself (RmfFeatureFetch returned 1):
// its use count is at least 1, so the release cannot fail and its result
// says nothing.
inline void ReleaseFetched(RmfFeature* slot) { (void)RmfFeatureRelease(slot); }

}  // namespace rmf::detail
