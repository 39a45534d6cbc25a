// Feature attributes and geometry by reference: enumerating the attribute
// triples of a reference (for the map engine's names and marks and for the
// routing profile's attribute sets), and the points of a reference in map
// units and in degrees, cut at the reference's fraction.
//
// Everything read from a record is bounded by the record: a text that does
// not end inside it, or is wider than an attribute entry holds, fails the
// enumeration instead of being cut; a stretch with more points than the
// reader's 510-point buffers is refused.
#include "mapengine/format/features/RmfFeatureAttr.h"

#include <algorithm>
#include <cstring>

#include "mapengine/format/base/TiUnits.h"
#include "mapengine/format/features/RmfFeatureInternal.h"
#include "mapengine/format/store/RmfReader.h"

using rmf::detail::CurrentWord;
using rmf::detail::FailWith;
using rmf::detail::FeatureSlotUsed;
using rmf::detail::kAttributeWord;
using rmf::detail::LoadU16;
using rmf::detail::ReaderAlive;

namespace {

constexpr std::uint32_t kBufferTag = 0x46505453;  // "FPTS"

// Copies the NUL-terminated text at record[at] into `out` (room for `width`
// characters and the NUL): the offset after its NUL, or 0 when the text does
// not end inside the record or is wider.
std::uint32_t CopyText(const std::uint8_t* record, std::uint32_t length, std::uint32_t at, char* out,
                       std::uint32_t width, std::uint32_t* textLength) {
  if (at >= length) return 0;
  const void* nul = std::memchr(record + at, 0, std::min(length - at, width + 1));
  if (nul == nullptr) return 0;
  const auto n = static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(nul) - (record + at));
  std::memcpy(out, record + at, n);
  out[n] = '\0';
  *textLength = n;
  return at + n + 1;
}

// The triple at record offset `at`: 1, or kRmfMalformed when it breaks the format.
std::int32_t ReadTriple(const std::uint8_t* record, std::uint32_t length, std::uint32_t at, RmfAttrEntry* e) {
  std::uint32_t next = CopyText(record, length, at, e->code, kRmfAttrCodeChars, &e->codeLength);
  if (next != 0) next = CopyText(record, length, next, e->value, kRmfAttrValueChars, &e->valueLength);
  if (next != 0) next = CopyText(record, length, next, e->name, kRmfAttrNameChars, &e->nameLength);
  return next != 0 ? 1 : kRmfMalformed;
}

// Direction marks read along the other way: from the 4th character on every
// "+" becomes "-" and every "-" becomes "+".
void TurnCode(RmfAttrEntry* e) {
  if (e->codeLength < 4) return;
  for (std::uint32_t i = 3; i < e->codeLength; ++i) {
    if (e->code[i] == '+') {
      e->code[i] = '-';
    } else if (e->code[i] == '-') {
      e->code[i] = '+';
    }
  }
}

// Every attribute of a reference in order, as RmfFeatureAttributeEx numbers
// them: the stretch's attributes (of the reference with from and to in
// ascending order), then for a point reference those stored after its from
// position. The sink gets each entry (codes already turned for a reference
// that runs toward lower positions) and may stop the walk by returning false.
// 0 when the walk ran (or was stopped), kRmfBadReference or kRmfMalformed on failure.
template <typename Sink>
std::int32_t EachAttribute(RmfReader* reader, const RmfFeatureRef& reference, std::int32_t attributeFlag,
                           Sink&& sink) {
  if (reference.featureId == 0 || reference.source >= reader->sourceCount) return kRmfBadReference;
  const bool reversed = reference.fromVertex > reference.toVertex;
  RmfFeatureRef stretch = reference;
  if (reversed) std::swap(stretch.fromVertex, stretch.toVertex);
  stretch.position = kRmfPositionWhole;

  RmfFeature* slot = nullptr;
  if (RmfFeatureFetch(reader, reference, &slot, nullptr) != 1) return kRmfBadReference;
  std::int32_t result = 0;
  const RmfFeatureRef* passes[2] = {&stretch, (reference.position & kRmfPositionPoint) != 0 ? &reference : nullptr};
  for (const RmfFeatureRef* pass : passes) {
    if (pass == nullptr) break;
    RmfAttrIter it;
    std::int32_t r = RmfFeatureAttrBegin(reader, attributeFlag, *pass, slot, &it);
    if (r == kRmfBadArgument) r = kRmfBadReference;  // the reference's part is not in the record
    if (r < 0) {
      result = r;
      break;
    }
    RmfAttrEntry e;
    bool more = true;
    while (more && (r = RmfFeatureAttrNext(&it, &e)) == 1) {
      if (reversed) TurnCode(&e);
      more = sink(e);
    }
    if (r < 0) {
      result = r;
      break;
    }
    if (!more) break;
  }
  rmf::detail::ReleaseFetched(slot);
  return result;
}

bool EnsureFeatureBuffers(RmfReader* reader) {
  if (reader->featureBufferBlock != nullptr) return true;
  if (reader->arena == nullptr) return false;
  // Arena blocks are 4-aligned; the doubles start at the block's first
  // 8-byte boundary, so the block is 4 bytes larger than the two buffers.
  constexpr std::uint32_t kDegreeBytes = kRmfFeaturePointBuffer * 2 * sizeof(double);
  constexpr std::uint32_t kPointBytes = kRmfFeaturePointBuffer * sizeof(TiPoint);
  void* block = RmfTagT4(reader->arena, kDegreeBytes + kPointBytes + 4, kBufferTag);
  if (block == nullptr) return false;
  const std::uintptr_t at = (reinterpret_cast<std::uintptr_t>(block) + 7) & ~static_cast<std::uintptr_t>(7);
  reader->featureBufferBlock = block;
  reader->featureDegrees = reinterpret_cast<double*>(at);
  reader->featurePoints = reinterpret_cast<TiPoint*>(at + kDegreeBytes);
  return true;
}

TiPoint PointOfIndex(RmfFeature* slot, std::int32_t index) {
  TiPoint p{0, 0};
  // Vertex words name existing points (the source checks them before it
  // caches a record), so this holds; a point that cannot be read stays 0, 0.
  if (RmfFeaturePointAt(slot, index, &p) != 1) return TiPoint{0, 0};
  return p;
}

// The vertices of the reference from its from position toward its to
// position, into out (capacity kRmfFeaturePointBuffer), without any cut.
// The count, or -1 (the to position lies outside the part), kRmfNoMemory, kRmfBadReference.
std::int32_t WalkPoints(RmfReader* reader, const RmfFeatureRef& reference, TiPoint* out, std::uint16_t* position) {
  if (reference.featureId == 0 || reference.source >= reader->sourceCount) return kRmfBadReference;
  RmfFeature* slot = nullptr;
  if (RmfFeatureFetch(reader, reference, &slot, nullptr) != 1) return kRmfBadReference;
  std::int32_t n = 0;
  std::int32_t result = 0;
  const std::int32_t from = reference.fromVertex;
  const std::int32_t to = reference.toVertex;
  if (rmf::detail::SelectPartFields(slot, reference.part) < 0) {
    result = kRmfBadReference;
  } else if (from > slot->lastPosition || to > slot->lastPosition) {
    result = -1;  // the walk cannot reach a position beyond the list
  } else {
    if ((CurrentWord(slot, from) & kAttributeWord) == 0) out[n++] = PointOfIndex(slot, CurrentWord(slot, from));
    if (to != from) {
      const std::int32_t step = to > from ? 1 : -1;
      std::int32_t at = from;
      for (;;) {
        std::int32_t found = -1;
        const std::int32_t index = RmfFeatureNextNode(slot, reference.part, at, step, &found, nullptr);
        // The list ends: only attribute words are left up to `to` (which
        // lies inside the list), so every vertex of the stretch is out.
        if (index < 0) break;
        if (n >= kRmfFeaturePointBuffer) {
          result = kRmfNoMemory;
          break;
        }
        out[n++] = PointOfIndex(slot, index);
        at = found;
        if (step > 0 ? at >= to : at <= to) break;
      }
    }
  }
  rmf::detail::ReleaseFetched(slot);
  if (position != nullptr) *position = reference.position;
  return result < 0 ? result : n;
}

// a + trunc(d x f / 1024) with d = b - a; when d x f would leave 32 bits the
// product is taken as trunc(d / 1024) x f, for either sign of d.
std::int32_t PointAtFraction(std::int32_t a, std::int32_t b, std::int32_t f) {
  const std::int64_t d = std::int64_t{b} - a;
  const std::int64_t magnitude = d < 0 ? -d : d;
  const std::int64_t step = magnitude > 0x7FFFFFFF / f ? (d / 1024) * f : (d * f) / 1024;
  return static_cast<std::int32_t>(a + step);
}

}  // namespace

// ---- internal ------------------------------------------------------------------------

namespace rmf::detail {

void ClearAttrSet(RmfAttrSet* set) {
  set->reference = RmfFeatureRef{};
  set->count = 0;
}

std::int32_t FillAttrSet(RmfFeature* slot, const RmfFeatureRef& reference, std::int32_t attributeFlag,
                         RmfAttrSet* set) {
  ClearAttrSet(set);
  RmfAttrIter it;
  std::int32_t r = RmfFeatureAttrBegin(slot->reader, attributeFlag, reference, slot, &it);
  std::int32_t count = 0;
  while (r >= 0 && count < kRmfAttrSetEntries && (r = RmfFeatureAttrNext(&it, &set->entries[count])) == 1) {
    ++count;
  }
  if (r >= 0 && count == kRmfAttrSetEntries) {
    // A full set: one more attribute is more than a set holds.
    RmfAttrEntry extra;
    r = RmfFeatureAttrNext(&it, &extra);
    if (r == 1) r = kRmfMalformed;
  }
  if (r < 0) {
    ClearAttrSet(set);
    return r;
  }
  set->reference = reference;
  set->count = count;
  return 0;
}

}  // namespace rmf::detail

// ---- enumeration ------------------------------------------------------------------------

std::int32_t RmfFeatureAttrBegin(RmfReader* reader, std::int32_t attributeFlag, RmfFeatureRef reference,
                                 RmfFeature* slot, RmfAttrIter* iterator) {
  static_cast<void>(attributeFlag);  // no source carries an attribute provider
  if (!ReaderAlive(reader) || iterator == nullptr) return kRmfBadArgument;
  if (!FeatureSlotUsed(slot) || slot->reader != reader || slot->featureId != reference.featureId ||
      slot->source != reference.source || slot->secondId != reference.secondId) {
    return kRmfBadArgument;
  }
  const std::int32_t r = rmf::detail::SelectPartFields(slot, reference.part);
  if (r < 0) return r;
  RmfAttrIter it{};
  it.reader = reader;
  it.record = slot->recordStart;
  it.recordLength = slot->recordLength;
  it.textBase = slot->textOffset;
  it.words = slot->currentWords;
  if ((reference.position & kRmfPositionPoint) == 0) {
    // The whole part's attributes: its own triple and the words before its
    // first vertex.
    it.ownTriple = static_cast<std::int32_t>(slot->currentText - slot->recordStart);
    it.position = 0;
    it.end = slot->firstVertex;
  } else {
    // A point's attributes: the words after its from position, up to the
    // next vertex.
    it.ownTriple = -1;
    it.position = static_cast<std::int32_t>(reference.fromVertex) + 1;
    it.end = slot->wordCount;
  }
  *iterator = it;
  return 0;
}

std::int32_t RmfFeatureAttrNext(RmfAttrIter* iterator, RmfAttrEntry* entry) {
  if (iterator == nullptr || entry == nullptr) return kRmfBadArgument;
  RmfAttrIter& it = *iterator;
  std::uint32_t at = 0;
  if (it.ownTriple >= 0) {
    at = static_cast<std::uint32_t>(it.ownTriple);
    it.ownTriple = -1;
  } else {
    if (it.position < 0 || it.position >= it.end) return 0;
    const std::uint16_t word = LoadU16(it.words + 2 * it.position);
    if ((word & kAttributeWord) == 0) {  // the next vertex ends the list
      it.position = it.end;
      return 0;
    }
    ++it.position;
    at = it.textBase + (word & 0x7fffu);
  }
  const std::int32_t r = ReadTriple(it.record, it.recordLength, at, entry);
  if (r < 0) return r;
  ++it.count;
  return 1;
}

std::int32_t RmfFeatureAttributeEx(RmfReader* reader, RmfFeatureRef reference, std::int32_t index, char* code,
                                   char* value, char* name, std::int32_t attributeFlag) {
  if (!ReaderAlive(reader)) return kRmfBadArgument;
  reader->lastError = 0;
  if (code == nullptr || value == nullptr || name == nullptr || index < 0) {
    return FailWith(reader, kRmfBadArgument);
  }
  RmfAttrEntry wanted{};
  std::int32_t total = 0;
  const std::int32_t r = EachAttribute(reader, reference, attributeFlag, [&](const RmfAttrEntry& e) {
    if (total == index) wanted = e;
    ++total;
    return true;
  });
  if (r < 0) return FailWith(reader, r);
  if (index >= total) return 0;
  std::memcpy(code, wanted.code, wanted.codeLength + 1);
  std::memcpy(value, wanted.value, wanted.valueLength + 1);
  std::memcpy(name, wanted.name, wanted.nameLength + 1);
  return total - index;
}

std::int32_t RmfFeatureAttribute(RmfReader* reader, RmfFeatureRef reference, std::int32_t index, char* code,
                                 char* value, char* name) {
  return RmfFeatureAttributeEx(reader, reference, index, code, value, name, 1);
}

std::int32_t RmfFeatureAttributesAllBounded(RmfReader* reader, RmfFeatureRef reference, char* codes,
                                            std::uint32_t codeBytes, char* values, std::uint32_t valueBytes,
                                            char* names, std::uint32_t nameBytes) {
  if (!ReaderAlive(reader)) return kRmfBadArgument;
  reader->lastError = 0;
  if (codes == nullptr || values == nullptr || names == nullptr || codeBytes == 0 || valueBytes == 0 ||
      nameBytes == 0) {
    return FailWith(reader, kRmfBadArgument);
  }
  struct List {
    char* bytes;
    std::uint32_t size;
    std::uint32_t used;
    bool Append(const char* text, std::uint32_t length) {
      if (length + 1 > size - used) return false;
      std::memcpy(bytes + used, text, length + 1);
      used += length + 1;
      return true;
    }
  };
  List lists[3] = {{codes, codeBytes, 0}, {values, valueBytes, 0}, {names, nameBytes, 0}};
  std::int32_t count = 0;
  bool fits = true;
  std::int32_t r = EachAttribute(reader, reference, 1, [&](const RmfAttrEntry& e) {
    fits = lists[0].Append(e.code, e.codeLength) && lists[1].Append(e.value, e.valueLength) &&
           lists[2].Append(e.name, e.nameLength);
    if (fits) ++count;
    return fits;
  });
  if (r == 0 && !fits) r = kRmfNoMemory;
  if (r < 0 || count == 0) {
    codes[0] = '\0';
    values[0] = '\0';
    names[0] = '\0';
    return r < 0 ? FailWith(reader, r) : 0;
  }
  return count;
}

std::int32_t RmfFeatureAttributesAll(RmfReader* reader, RmfFeatureRef reference, char* codes, char* values,
                                     char* names) {
  // The caller has sized the lists for the feature: no limit of our own.
  return RmfFeatureAttributesAllBounded(reader, reference, codes, 0xffffffffu, values, 0xffffffffu, names,
                                        0xffffffffu);
}

// ---- geometry ---------------------------------------------------------------------------

std::int32_t RmfInterpolate(std::int32_t a, std::int32_t b, std::int32_t fraction) {
  const std::int64_t f = std::clamp<std::int32_t>(fraction, 0, 1024);
  const std::int64_t d = b >= a ? std::int64_t{b} - a : std::int64_t{a} - b;
  const std::int64_t m = (d * f + 512) >> 10;
  return static_cast<std::int32_t>(b >= a ? a + m : a - m);
}

std::int32_t RmfFeatureRefPoints(RmfReader* reader, RmfFeatureRef reference, TiPoint** points) {
  if (!ReaderAlive(reader)) return kRmfBadArgument;
  if (points == nullptr) return FailWith(reader, kRmfBadArgument);
  reader->lastError = 0;
  if (reference.featureId == 0) return FailWith(reader, kRmfBadReference);
  if (!EnsureFeatureBuffers(reader)) return FailWith(reader, kRmfNoMemory);
  TiPoint* out = reader->featurePoints;
  const std::int32_t n = WalkPoints(reader, reference, out, nullptr);
  if (n == -1) return -1;  // the to position cannot be reached; last error untouched
  if (n < 0) return FailWith(reader, n);
  const std::uint16_t position = reference.position;
  if (n == 2 && (position & kRmfPositionPoint) == 0) {
    // A stretch of one segment ends (or, reversed, starts) at its fraction.
    // The fraction is bits 0-10; the heading mark of bit 13 is no part of it.
    const std::int32_t f = position & kRmfPositionFraction;
    if (f > kRmfPositionWhole) return FailWith(reader, kRmfBadReference);
    const bool reverse = (position & kRmfPositionReverse) != 0;
    if (f == 0) {
      if (reverse) {
        out[0] = out[1];
      } else {
        out[1] = out[0];
      }
    } else if (reverse) {
      out[0] = TiPoint{RmfInterpolate(out[1].x, out[0].x, f), RmfInterpolate(out[1].y, out[0].y, f)};
    } else {
      out[1] = TiPoint{RmfInterpolate(out[0].x, out[1].x, f), RmfInterpolate(out[0].y, out[1].y, f)};
    }
  }
  *points = out;
  return n;
}

std::int32_t RmfFeaturePoints(RmfReader* reader, RmfFeatureRef reference, double** degrees) {
  if (!ReaderAlive(reader)) return kRmfBadArgument;
  if (degrees == nullptr) return FailWith(reader, kRmfBadArgument);
  TiPoint* points = nullptr;
  const std::int32_t n = RmfFeatureRefPoints(reader, reference, &points);
  if (n < 0) return n;
  double* out = reader->featureDegrees;
  for (std::int32_t i = 0; i < n; ++i) {
    out[2 * i] = points[i].x * kTiDegreesPerUnit;
    out[2 * i + 1] = points[i].y * kTiDegreesPerUnit;
  }
  *degrees = out;
  return n;
}

std::int32_t RmfFeatureRefPoint(RmfReader* reader, const RmfFeatureRef* reference, TiPoint* point) {
  if (!ReaderAlive(reader)) return kRmfBadArgument;
  if (reference == nullptr) return FailWith(reader, kRmfBadArgument);
  reader->lastError = 0;
  const std::int32_t kind = RmfFeatureRefClassify(reader, *reference);
  if (kind < 0) return kind;
  if (kind == kRmfRefWholeStretch) return FailWith(reader, kRmfBadReference);
  // The fraction is measured on the segment itself, not on the stretch that
  // RmfFeatureRefPoints has already cut at it.
  if (!EnsureFeatureBuffers(reader)) return FailWith(reader, kRmfNoMemory);
  TiPoint* ends = reader->featurePoints;
  const std::int32_t n = WalkPoints(reader, *reference, ends, nullptr);
  if (n < 0) return n == -1 ? n : FailWith(reader, n);
  if (n != 2) return FailWith(reader, kRmfMalformed);
  std::int32_t f = reference->position & kRmfPositionFraction;
  if (f > kRmfPositionWhole) return FailWith(reader, kRmfBadReference);
  if ((reference->position & kRmfPositionReverse) != 0) f = kRmfPositionWhole - f;
  TiPoint p;
  if (f == 0) {
    p = ends[0];
  } else if (f == kRmfPositionWhole) {
    p = ends[1];
  } else {
    p = TiPoint{PointAtFraction(ends[0].x, ends[1].x, f), PointAtFraction(ends[0].y, ends[1].y, f)};
  }
  if (point != nullptr) *point = p;
  reader->lastError = 0;
  return 0;
}
