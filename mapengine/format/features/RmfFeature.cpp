// Feature records and feature references: fetching a tile record into one of
// the reader's four slots (pinned in the arena while used), reading its
// points, parts and vertex words, and the operations on feature references
// (identifier words, equality, reversal, whole part, classification, split
// into single segments).
//
// The record's byte 3 bit 1 says that the tile holds another record with the
// next sequence number. A fetch reports it as the "continues" flag, and it
// means no more than that: callers use it to step through a tile's records
// (second id 0, 1, ...). Every record's parts are complete in themselves, so
// nothing here or in the callers joins a part with anything in the next
// record, and unrelated records of one tile stay unrelated.
#include "mapengine/format/features/RmfFeature.h"

#include <algorithm>
#include <cstdlib>

#include "mapengine/format/features/RmfFeatureAttr.h"
#include "mapengine/format/features/RmfFeatureInternal.h"
#include "mapengine/format/store/RmfReader.h"

using rmf::detail::CurrentWord;
using rmf::detail::FailWith;
using rmf::detail::FeatureSlotUsed;
using rmf::detail::kAttributeWord;
using rmf::detail::LoadU16;
using rmf::detail::LoadU32;
using rmf::detail::PartView;
using rmf::detail::ReaderAlive;

namespace {

constexpr std::uint32_t kSplitTag = 0x46524546;  // "FREF"
constexpr std::int32_t kMinSplitEntries = 64;
constexpr std::int16_t kMaxUseCount = 0x7fff;

// The cached block that holds a record handed out by a source: the record
// follows its 32-byte key.
void* BlockOfRecord(std::uint8_t* record) { return record - sizeof(RmfRecordKey); }

bool SameRecord(const RmfFeature& slot, const RmfFeatureRef& ref) {
  return slot.featureId == ref.featureId && slot.source == ref.source && slot.secondId == ref.secondId;
}

// Decodes the record's header into the slot and checks its tables against
// the record (the sources check them before caching; a slot reads nothing
// it has not checked itself).
bool LayOut(RmfFeature* slot, std::uint8_t* record, std::uint16_t entrySize) {
  const std::uint32_t length = LoadU16(record);
  rmf::RmfRecordHeader h;
  rmf::RmfRecordTables t;
  if (length < rmf::kRecordHeaderBytes || !rmf::DecodeRecordHeader(record, length, &h) ||
      !rmf::LocateRecordTables(h, length, entrySize, &t)) {
    return false;
  }

  slot->record = record;
  slot->header = h;
  slot->recordStart = record;
  slot->recordLength = length;
  slot->pointSize = static_cast<std::uint16_t>(t.pointSize);
  slot->pointCount = static_cast<std::uint16_t>(t.pointCount);
  slot->baseX = h.pointBase.x;
  slot->baseY = h.pointBase.y;
  slot->points = record + t.pointTable;
  slot->partCount = static_cast<std::uint16_t>(t.partCount);
  slot->partTable = record + t.partTable;
  slot->textOffset = static_cast<std::uint16_t>(t.textBase);
  slot->wordOffset = static_cast<std::uint16_t>(t.wordBase);
  slot->entrySize = entrySize;
  slot->continues = h.moreFollows != 0 ? 1 : 0;
  slot->currentPart = -1;
  slot->currentClass = 0;
  slot->currentText = nullptr;
  slot->currentWords = nullptr;
  slot->wordCount = 0;
  slot->firstVertex = 0;
  slot->lastPosition = -1;
  return true;
}

TiPoint PointOf(const RmfFeature* slot, std::int32_t index) {
  const std::uint8_t* p = slot->points + static_cast<std::size_t>(index) * slot->pointSize;
  if (slot->pointSize == 8) {
    return TiPoint{static_cast<std::int32_t>(LoadU32(p)), static_cast<std::int32_t>(LoadU32(p + 4))};
  }
  // Offsets are added modulo 2^32, so that a base near the end of the range
  // in a damaged record wraps instead of overflowing.
  return TiPoint{static_cast<std::int32_t>(static_cast<std::uint32_t>(slot->baseX) + LoadU16(p)),
                 static_cast<std::int32_t>(static_cast<std::uint32_t>(slot->baseY) + LoadU16(p + 2))};
}

// Position of the next vertex word at position + step, + 2 step, ... of the
// current part; -1 when the list ends first.
std::int32_t NextVertexPosition(const RmfFeature* slot, std::int64_t position, std::int32_t step) {
  for (std::int64_t p = position + step; p >= 0 && p < slot->wordCount; p += step) {
    if ((CurrentWord(slot, static_cast<std::int32_t>(p)) & kAttributeWord) == 0) return static_cast<std::int32_t>(p);
  }
  return -1;
}

// A slot of the reader holding the reference's record with its part
// selected, released by the destructor.
class HeldFeature {
 public:
  HeldFeature(RmfReader* reader, const RmfFeatureRef& ref) {
    if (RmfFeatureFetch(reader, ref, &slot_, nullptr) != 1) {
      slot_ = nullptr;
      return;
    }
    if (rmf::detail::SelectPartFields(slot_, ref.part) < 0) part_ = false;
  }
  ~HeldFeature() {
    if (slot_ != nullptr) rmf::detail::ReleaseFetched(slot_);
  }
  HeldFeature(const HeldFeature&) = delete;
  HeldFeature& operator=(const HeldFeature&) = delete;

  // The slot when the record was fetched and its part is valid.
  RmfFeature* Part() const { return slot_ != nullptr && part_ ? slot_ : nullptr; }

 private:
  RmfFeature* slot_ = nullptr;
  bool part_ = true;
};

bool EnsureSplitCapacity(RmfReader* reader, std::int32_t entries) {
  if (reader->splitRefs != nullptr && reader->splitCapacity >= entries) return true;
  if (reader->arena == nullptr) return false;
  const std::int32_t capacity = std::max(entries, kMinSplitEntries);
  void* block = RmfTagT4(reader->arena, static_cast<std::uint32_t>(capacity) * sizeof(RmfFeatureRef), kSplitTag);
  if (block == nullptr) return false;
  if (reader->splitBlock != nullptr) {
    // The old array is this reader's own fixed block with its one pin: unpin
    // and free cannot fail, and nothing is left to undo if they did.
    (void)RmfTagT8(reader->arena, reader->splitBlock);
    (void)RmfTagT5(reader->arena, reader->splitBlock);
  }
  reader->splitBlock = block;
  reader->splitRefs = static_cast<RmfFeatureRef*>(block);
  reader->splitCapacity = capacity;
  return true;
}

}  // namespace

// ---- internal ------------------------------------------------------------------------

namespace rmf::detail {

bool FeatureSlotUsed(const RmfFeature* slot) {
  return slot != nullptr && slot->useCount > 0 && ReaderAlive(slot->reader) && slot->record != nullptr;
}

std::int32_t DecodePart(const RmfFeature* slot, std::int32_t part, PartView* view) {
  if (part < 0 || part >= slot->partCount) return kRmfBadArgument;
  if (part > kRmfMaxPartIndex) return kRmfBadReference;
  const std::uint8_t* e = slot->partTable + static_cast<std::size_t>(part) * slot->entrySize;
  const std::uint16_t textOffset = LoadU16(e + 4);
  const std::uint16_t wordOffset = LoadU16(e + 6);
  const std::uint16_t count = LoadU16(e + 8);
  if (count > kRmfMaxPartWords) return kRmfBadReference;
  const std::uint64_t wordsAt = std::uint64_t{slot->wordOffset} + 2u * std::uint64_t{wordOffset};
  const std::uint64_t textAt = std::uint64_t{slot->textOffset} + textOffset;
  if (wordsAt + 2u * count > slot->recordLength || textAt >= slot->recordLength) return kRmfMalformed;
  view->classBits = LoadU32(e);
  view->textOffset = textOffset;
  view->textAt = static_cast<std::uint32_t>(textAt);
  view->words = slot->recordStart + wordsAt;
  view->wordCount = count;
  std::int32_t first = 0;
  while (first < count && (LoadU16(view->words + 2 * first) & kAttributeWord) != 0) ++first;
  view->firstVertex = first;
  view->lastPosition = static_cast<std::int32_t>(count) - 1;
  return 0;
}

std::int32_t SelectPartFields(RmfFeature* slot, std::int32_t part) {
  if (!FeatureSlotUsed(slot)) return kRmfBadArgument;
  if (slot->currentPart == part && part >= 0) return 0;
  PartView v;
  const std::int32_t r = DecodePart(slot, part, &v);
  if (r < 0) return r;
  slot->currentPart = static_cast<std::int16_t>(part);
  slot->currentClass = v.classBits;
  slot->currentText = slot->recordStart + v.textAt;
  slot->currentWords = v.words;
  slot->wordCount = v.wordCount;
  slot->firstVertex = v.firstVertex;
  slot->lastPosition = v.lastPosition;
  return 0;
}

}  // namespace rmf::detail

// ---- slots ------------------------------------------------------------------------------

std::int32_t RmfFeatureFetch(RmfReader* reader, RmfFeatureRef reference, RmfFeature** slot,
                             std::int32_t* continues) {
  if (!ReaderAlive(reader)) return kRmfBadArgument;
  if (slot == nullptr || reference.source >= reader->sourceCount || reader->sources[reference.source] == nullptr) {
    return FailWith(reader, kRmfBadArgument);
  }
  reader->lastError = 0;
  *slot = nullptr;
  if (continues != nullptr) *continues = 0;
  if (reference.featureId == 0) return 0;

  RmfFeature* freeSlot = nullptr;
  const RmfFeature* previous = nullptr;
  for (RmfFeature& s : reader->featureSlots) {
    if (s.useCount > 0 && SameRecord(s, reference)) {
      if (s.useCount >= kMaxUseCount) return FailWith(reader, kRmfFeatureBusy);
      if (RmfTagT6(reader->arena, BlockOfRecord(s.record)) < 1) return 0;
      ++s.useCount;
      *slot = &s;
      if (continues != nullptr) *continues = s.continues;
      return 1;
    }
    if (s.useCount <= 0) freeSlot = &s;
    if (reference.secondId > 0 && s.featureId == reference.featureId && s.source == reference.source &&
        s.secondId == reference.secondId - 1) {
      previous = &s;
    }
  }
  if (freeSlot == nullptr) return FailWith(reader, kRmfFeatureBusy);

  RmfSource* source = reader->sources[reference.source];
  std::uint32_t next = 0;
  std::uint8_t* record = nullptr;
  if (previous != nullptr && previous->nextRecordOffset >= 2) {
    record = RmfSrcGetBlock(source, reference.featureId, reference.secondId, previous->nextRecordOffset, &next);
  }
  // Without a hint the source looks in its record cache first and otherwise
  // follows the tile's records from its start.
  if (record == nullptr) record = RmfSrcGetBlock(source, reference.featureId, reference.secondId, 0, &next);
  if (record == nullptr) return 0;
  if (RmfTagT6(reader->arena, BlockOfRecord(record)) < 1) return 0;

  RmfFeature& s = *freeSlot;
  if (!LayOut(&s, record, source->featureEntrySize)) {
    (void)RmfTagT8(reader->arena, BlockOfRecord(record));  // undoes the pin just taken
    s.record = nullptr;
    return 0;
  }
  s.reader = reader;
  s.featureId = reference.featureId;
  s.source = reference.source;
  s.secondId = reference.secondId;
  s.nextRecordOffset = next;
  s.useCount = 1;
  *slot = &s;
  if (continues != nullptr) *continues = s.continues;
  return 1;
}

std::int32_t RmfFeatureRelease(RmfFeature* slot) {
  if (slot == nullptr || slot->useCount <= 0) return -1;
  --slot->useCount;
  if (ReaderAlive(slot->reader) && slot->reader->arena != nullptr && slot->record != nullptr) {
    // Undoes the slot's own pin of its record; the slot is given back either way.
    (void)RmfTagT8(slot->reader->arena, BlockOfRecord(slot->record));
  }
  return 1;
}

std::int32_t RmfFeatureSlotUsage(RmfReader* reader, std::int32_t* slotCount, std::int32_t* totalUses) {
  if (!ReaderAlive(reader)) return 0;
  std::int32_t total = 0;
  for (const RmfFeature& s : reader->featureSlots) total += std::max<std::int32_t>(s.useCount, 0);
  if (slotCount != nullptr) *slotCount = kRmfFeatureSlots;
  if (totalUses != nullptr) *totalUses = total;
  return 1;
}

std::int32_t RmfFeaturePointCount(RmfFeature* slot) {
  return FeatureSlotUsed(slot) ? slot->pointCount : kRmfBadArgument;
}

std::int32_t RmfFeaturePartCount(RmfFeature* slot) {
  return FeatureSlotUsed(slot) ? slot->partCount : kRmfBadArgument;
}

std::int32_t RmfFeatureSelectPart(RmfFeature* slot, std::int32_t part, std::int32_t attributeFlag, RmfAttrSet* set) {
  const std::int32_t r = rmf::detail::SelectPartFields(slot, part);
  if (r < 0) {
    if (set != nullptr) rmf::detail::ClearAttrSet(set);
    return r;
  }
  if (set == nullptr) return 0;
  if (slot->lastPosition < slot->firstVertex) {  // no vertex: no stretch to describe
    rmf::detail::ClearAttrSet(set);
    return 0;
  }
  RmfFeatureRef whole{slot->featureId,
                      slot->source,
                      slot->secondId,
                      static_cast<std::uint16_t>(part),
                      static_cast<std::uint16_t>(slot->firstVertex),
                      static_cast<std::uint16_t>(slot->lastPosition),
                      kRmfPositionWhole};
  return rmf::detail::FillAttrSet(slot, whole, attributeFlag, set);
}

std::int32_t RmfFeatureWordCount(RmfFeature* slot, std::int32_t part) {
  const std::int32_t r = rmf::detail::SelectPartFields(slot, part);
  return r < 0 ? r : slot->wordCount;
}

std::int32_t RmfFeatureNodeAt(RmfFeature* slot, std::int32_t part, std::int32_t position) {
  const std::int32_t r = rmf::detail::SelectPartFields(slot, part);
  if (r < 0) return r;
  if (position == -1) {
    const auto offset = static_cast<std::uint32_t>(slot->currentText - (slot->recordStart + slot->textOffset));
    return static_cast<std::int32_t>((offset | kAttributeWord) & 0xffffu);
  }
  if (position < 0 || position >= slot->wordCount) return -1;
  return CurrentWord(slot, position);
}

std::int32_t RmfFeatureNextNode(RmfFeature* slot, std::int32_t part, std::int32_t position, std::int32_t step,
                                std::int32_t* foundPosition, RmfAttrSet* set) {
  const std::int32_t r = rmf::detail::SelectPartFields(slot, part);
  if (r < 0) {
    if (set != nullptr) rmf::detail::ClearAttrSet(set);
    return r;
  }
  const std::int32_t found = step == 0 ? -1 : NextVertexPosition(slot, position, step > 0 ? 1 : -1);
  if (found < 0) {
    if (set != nullptr) rmf::detail::ClearAttrSet(set);
    return -1;
  }
  if (foundPosition != nullptr) *foundPosition = found;
  if (set != nullptr) {
    if (position < slot->firstVertex || position > slot->lastPosition) {
      rmf::detail::ClearAttrSet(set);
    } else {
      // The stretch between the two positions, low to high, as a point
      // reference: the attributes stored after its lower vertex.
      RmfFeatureRef stretch{slot->featureId,
                            slot->source,
                            slot->secondId,
                            static_cast<std::uint16_t>(part),
                            static_cast<std::uint16_t>(std::min(position, found)),
                            static_cast<std::uint16_t>(std::max(position, found)),
                            kRmfPositionPoint};
      const std::int32_t a = rmf::detail::FillAttrSet(slot, stretch, 1, set);
      if (a < 0) return a;
    }
  }
  return CurrentWord(slot, found);
}

std::int32_t RmfFeaturePointAt(RmfFeature* slot, std::int32_t index, TiPoint* point) {
  if (!FeatureSlotUsed(slot) || point == nullptr) return kRmfBadArgument;
  if (index < 0 || index >= slot->pointCount) return -1;
  *point = PointOf(slot, index);
  return 1;
}

std::int32_t RmfFeatureFindPoint(RmfFeature* slot, TiPoint point) {
  if (!FeatureSlotUsed(slot)) return -1;
  for (std::int32_t i = 0; i < slot->pointCount; ++i) {
    const TiPoint p = PointOf(slot, i);
    if (TiSamePoint(p, point)) return i;
  }
  return -1;
}

std::int32_t RmfFeatureCopyPoints(RmfFeature* slot, TiPoint* points, std::int32_t capacity) {
  if (!FeatureSlotUsed(slot) || (points == nullptr && capacity > 0)) return kRmfBadArgument;
  const std::int32_t n = std::min<std::int32_t>(std::max(capacity, 0), slot->pointCount);
  for (std::int32_t i = 0; i < n; ++i) points[i] = PointOf(slot, i);
  return slot->pointCount;
}

std::int32_t RmfFeaturePartsAtPoint(RmfFeature* slot, std::int32_t pointIndex, std::int32_t* parts,
                                    std::int32_t capacity) {
  if (!FeatureSlotUsed(slot) || (parts == nullptr && capacity > 0)) return kRmfBadArgument;
  if (pointIndex < 0 || pointIndex >= slot->pointCount) return 0;
  std::int32_t total = 0;
  for (std::int32_t p = 0; p < slot->partCount; ++p) {
    PartView v;
    if (rmf::detail::DecodePart(slot, p, &v) < 0) continue;
    for (std::int32_t i = 0; i < v.wordCount; ++i) {
      if (LoadU16(v.words + 2 * i) != pointIndex) continue;
      if (total < capacity) parts[total] = p;
      ++total;
    }
  }
  return total;
}

std::int32_t RmfFeaturePositionsOfPoint(RmfFeature* slot, std::int32_t part, std::int32_t pointIndex,
                                        std::int32_t* positions, std::int32_t capacity) {
  const std::int32_t r = rmf::detail::SelectPartFields(slot, part);
  if (r < 0) return r;
  if (positions == nullptr && capacity > 0) return kRmfBadArgument;
  if (pointIndex < 0 || pointIndex >= slot->pointCount) return 0;
  std::int32_t total = 0;
  for (std::int32_t i = 0; i < slot->wordCount; ++i) {
    if (CurrentWord(slot, i) != pointIndex) continue;
    if (total < capacity) positions[total] = i;
    ++total;
  }
  return total;
}

std::int32_t RmfFeatureFindWord(RmfFeature* slot, std::int32_t part, std::int32_t word, std::int32_t start,
                                std::int32_t direction) {
  const std::int32_t r = rmf::detail::SelectPartFields(slot, part);
  if (r < 0) return r;
  if (word < 0 || word > 0xffff) return -1;
  const std::int32_t count = slot->wordCount;
  if (direction >= 0) {
    if (start >= count) return -1;
    for (std::int32_t p = std::max(start + 1, 0); p < count; ++p) {
      if (CurrentWord(slot, p) == word) return p;
    }
    return -1;
  }
  const std::int32_t from = std::min(start, count);
  if (from < 1) return -1;
  for (std::int32_t p = from - 1; p >= 0; --p) {
    if (CurrentWord(slot, p) == word) return p;
  }
  return -1;
}

// ---- references -------------------------------------------------------------------------

std::int32_t RmfFeatureRefFromIds(RmfReader* reader, std::int32_t mapNumber, std::uint32_t featureId,
                                  std::uint32_t wordA, std::uint32_t wordB, RmfFeatureRef* out) {
  if (!ReaderAlive(reader)) return kRmfBadArgument;
  if (out == nullptr || mapNumber < 1 || mapNumber > 0x10000) return FailWith(reader, kRmfBadArgument);
  reader->lastError = 0;
  out->featureId = featureId;
  out->source = static_cast<std::uint16_t>(mapNumber - 1);
  out->part = static_cast<std::uint16_t>(wordA & 0xffffu);
  out->fromVertex = static_cast<std::uint16_t>(wordA >> 16);
  out->toVertex = static_cast<std::uint16_t>(wordB & 0xffffu);
  out->secondId = static_cast<std::uint16_t>(wordB >> 16);
  out->position = kRmfPositionWhole;
  return 1;
}

std::int32_t RmfFeatureRefToIds(RmfReader* reader, RmfFeatureRef reference, std::int32_t* mapNumber,
                                std::uint32_t* featureId, std::int32_t* secondId, std::int32_t* part) {
  if (!ReaderAlive(reader)) return kRmfBadArgument;
  if (mapNumber == nullptr || featureId == nullptr || secondId == nullptr || part == nullptr) {
    return FailWith(reader, kRmfBadArgument);
  }
  reader->lastError = 0;
  if (reference.featureId == 0) return FailWith(reader, kRmfBadReference);
  *mapNumber = static_cast<std::int32_t>(reference.source) + 1;
  *featureId = reference.featureId;
  *secondId = reference.secondId;
  *part = reference.part;
  return 1;
}

std::int32_t RmfFeatureRefEqual(RmfReader* reader, RmfFeatureRef a, RmfFeatureRef b) {
  if (!ReaderAlive(reader)) return kRmfBadArgument;
  reader->lastError = 0;
  if (a.featureId == 0 || b.featureId == 0) return FailWith(reader, kRmfBadReference);
  return a.featureId == b.featureId && a.source == b.source && a.secondId == b.secondId && a.part == b.part &&
                 a.fromVertex == b.fromVertex && a.toVertex == b.toVertex && a.position == b.position
             ? 1
             : 0;
}

std::int32_t RmfFeatureRefReverse(RmfReader* reader, RmfFeatureRef reference, RmfFeatureRef* out) {
  if (!ReaderAlive(reader)) return kRmfBadArgument;
  if (out == nullptr) return FailWith(reader, kRmfBadArgument);
  reader->lastError = 0;
  if (reference.featureId == 0) return FailWith(reader, kRmfBadReference);
  std::uint16_t position = reference.position;
  if (position == kRmfPositionWhole) {
    // the whole stretch either way
  } else if ((position & kRmfPositionPoint) != 0) {
    // The point stays where it is: its fraction is counted from the other
    // end now. Every flag bit stays as it was (the heading mark included).
    const std::uint16_t fraction = position & kRmfPositionFraction;
    if (fraction > kRmfPositionWhole) return FailWith(reader, kRmfBadReference);
    position = static_cast<std::uint16_t>((position & ~kRmfPositionFraction) | (kRmfPositionWhole - fraction));
  } else {
    position ^= kRmfPositionReverse;
  }
  RmfFeatureRef r = reference;
  r.fromVertex = reference.toVertex;
  r.toVertex = reference.fromVertex;
  r.position = position;
  *out = r;
  return 1;
}

std::int32_t RmfFeatureRefWhole(RmfReader* reader, RmfFeatureRef reference, RmfFeatureRef* out) {
  if (!ReaderAlive(reader)) return kRmfBadArgument;
  if (out == nullptr) return FailWith(reader, kRmfBadArgument);
  reader->lastError = 0;
  if (reference.featureId == 0 || reference.source >= reader->sourceCount) {
    return FailWith(reader, kRmfBadReference);
  }
  const HeldFeature held(reader, reference);
  RmfFeature* slot = held.Part();
  // A part without a vertex has no stretch to name.
  if (slot == nullptr || slot->lastPosition < slot->firstVertex) return FailWith(reader, kRmfBadReference);
  RmfFeatureRef r = reference;
  const auto first = static_cast<std::uint16_t>(slot->firstVertex);
  const auto last = static_cast<std::uint16_t>(slot->lastPosition);
  if (reference.fromVertex <= reference.toVertex) {
    r.fromVertex = first;
    r.toVertex = last;
  } else {
    r.fromVertex = last;
    r.toVertex = first;
  }
  r.position = kRmfPositionWhole;
  *out = r;
  return 1;
}

std::int32_t RmfFeatureRefClassify(RmfReader* reader, RmfFeatureRef reference) {
  if (!ReaderAlive(reader)) return kRmfBadArgument;
  reader->lastError = 0;
  // The fraction as counted here takes in bit 13: a reference carrying the
  // heading mark is not classified until its user clears the mark.
  const std::uint16_t fraction = reference.position & 0x3FFF;
  const std::uint16_t bits = reference.position & (kRmfPositionPoint | kRmfPositionReverse);
  if (fraction > kRmfPositionWhole || reference.fromVertex == reference.toVertex || reference.featureId == 0 ||
      reference.source >= reader->sourceCount) {
    return FailWith(reader, kRmfBadReference);
  }
  std::int32_t kind = kRmfBadReference;
  {
    const HeldFeature held(reader, reference);
    const RmfFeature* slot = held.Part();
    if (slot == nullptr) return FailWith(reader, kRmfBadReference);
    const std::int32_t from = reference.fromVertex;
    const std::int32_t to = reference.toVertex;
    const std::int32_t low = std::min(from, to);
    const std::int32_t high = std::max(from, to);
    if (low < slot->firstVertex || high > slot->lastPosition || (CurrentWord(slot, from) & kAttributeWord) != 0 ||
        (CurrentWord(slot, to) & kAttributeWord) != 0) {
      return FailWith(reader, kRmfBadReference);
    }
    const bool oneSegment = NextVertexPosition(slot, from, to > from ? 1 : -1) == to;
    if (oneSegment) {
      if (bits == kRmfPositionPoint) {
        kind = kRmfRefPointOnSegment;
      } else if (bits == kRmfPositionReverse) {
        kind = kRmfRefBackFromFraction;
      } else if (fraction == kRmfPositionWhole) {
        kind = kRmfRefWholeSegment;
      } else if (bits == 0) {
        kind = kRmfRefToFraction;
      }
    } else if (fraction == kRmfPositionWhole && (bits == 0 || bits == kRmfPositionReverse)) {
      kind = kRmfRefWholeStretch;
    }
  }
  if (kind < 0) return FailWith(reader, kRmfBadReference);
  reader->lastError = 0;
  return kind;
}

std::int32_t RmfFeatureRefSplit(RmfReader* reader, RmfFeatureRef reference, RmfFeatureRef** out) {
  if (!ReaderAlive(reader)) return kRmfBadArgument;
  if (out == nullptr) return FailWith(reader, kRmfBadArgument);
  reader->lastError = 0;
  if (reference.featureId == 0 || reference.source >= reader->sourceCount) {
    return FailWith(reader, kRmfBadReference);
  }
  const std::int32_t from = reference.fromVertex;
  const std::int32_t to = reference.toVertex;
  // A split never has more segments than the positions it spans. The array
  // is made before the fetch: making it may evict cached records.
  if (!EnsureSplitCapacity(reader, std::max(std::abs(to - from), 1))) return FailWith(reader, kRmfNoMemory);

  const HeldFeature held(reader, reference);
  const RmfFeature* slot = held.Part();
  if (slot == nullptr || from > slot->lastPosition || to > slot->lastPosition) {
    return FailWith(reader, kRmfBadReference);
  }
  RmfFeatureRef* refs = reader->splitRefs;
  std::int32_t n = 0;
  if (from == to) {
    refs[n] = reference;
    refs[n].position = kRmfPositionMidPoint;
    ++n;
  } else {
    const std::int32_t step = to > from ? 1 : -1;
    // Segments run between vertices: a stretch that starts on an attribute
    // word (the whole part from its last position) starts at its first
    // vertex.
    std::int32_t current = from;
    if ((CurrentWord(slot, current) & kAttributeWord) != 0) current = NextVertexPosition(slot, current, step);
    while (current >= 0 && (step > 0 ? current < to : current > to)) {
      const std::int32_t next = NextVertexPosition(slot, current, step);
      if (next < 0) break;  // only attribute words up to `to`
      RmfFeatureRef r = reference;
      r.fromVertex = static_cast<std::uint16_t>(current);
      r.toVertex = static_cast<std::uint16_t>(next);
      r.position = kRmfPositionMidPoint;
      refs[n++] = r;
      current = next;
    }
  }
  *out = refs;
  return n;
}
