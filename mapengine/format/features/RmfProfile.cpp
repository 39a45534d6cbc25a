// The routing profile's installation, its two guarded calls, the one-way
// test of a part and the directed references of a point on a feature. The
// callbacks are the map engine's; everything here makes sure they are only
// reached with a set the library could have made and an answer whose
// library-owned bits are in a known state.
#include "mapengine/format/features/RmfProfile.h"

#include "mapengine/format/features/RmfFeatureInternal.h"

namespace {

using rmf::detail::FailWith;

using rmf::detail::ReaderAlive;

bool SetCountValid(const RmfAttrSet* set) {
  return set != nullptr && set->count >= 0 && set->count <= kRmfAttrSetEntries;
}

bool ItemCountValid(std::int32_t count) { return count >= 0 && count <= kRmfConnectionItems; }

std::uint32_t WithBit(std::uint32_t word, std::uint32_t bit, bool on) { return on ? (word | bit) : (word & ~bit); }

// The one-way answer of the part selected in the slot, with the whole part's
// attributes in `set`: 1 only toward higher positions, -1 only toward lower,
// 0 both ways, 2 closed both ways; a negative code when the part cannot be
// selected or the profile cannot be asked.
std::int32_t PartDirections(RmfFeature* slot, std::int32_t part, RmfAttrSet* set) {
  const std::int32_t selected = RmfFeatureSelectPart(slot, part, 1, set);
  if (selected < 0) return selected;
  RmfFeatureAnswer answer{};
  // Callers here want the class only; a callback that leaves a direction
  // untouched leaves it closed.
  answer.request &= ~kRmfFeatureRequestMode;
  for (RmfTravelAnswer& t : answer.travel) {
    t.control = (t.control & ~kRmfTravelControlKind) | kRmfTravelControlClassOnly;
    t.roadClass = -1;
  }
  const std::int32_t asked = RmfProfileFeatureCost(slot->reader, set, nullptr, &answer);
  if (asked < 0) return asked;
  const bool lower = answer.travel[0].roadClass >= 0;
  const bool higher = answer.travel[1].roadClass >= 0;
  if (lower && higher) return 0;
  if (higher) return 1;
  if (lower) return -1;
  return 2;
}

}  // namespace

std::int32_t RmfProfileSetCallbacks(RmfReader* reader, RmfProfileFeatureFn featureCallback,
                                    RmfProfileConnectionFn connectionCallback, void* context, std::int32_t limit) {
  if (!ReaderAlive(reader)) return kRmfBadArgument;
  reader->lastError = 0;
  if (limit < 1) return FailWith(reader, kRmfBadArgument);
  RmfRoutingProfile& p = reader->profile;
  p.modeFlags &= ~0x3u;
  p.featureCallback = featureCallback;
  p.connectionCallback = connectionCallback;
  p.context = context;
  p.limit = limit;
  ++p.changeCounter;
  return 1;
}

std::int32_t RmfProfileGetLimit(RmfReader* reader) {
  if (!ReaderAlive(reader)) return -1;
  reader->lastError = 0;
  return reader->profile.limit;
}

std::uint32_t RmfProfileGetCounter(RmfReader* reader) {
  if (!ReaderAlive(reader)) return 0xFFFFFFFFu;
  reader->lastError = 0;
  return reader->profile.changeCounter;
}

std::int32_t RmfProfileFeatureCost(RmfReader* reader, const RmfAttrSet* set, void* argument,
                                   RmfFeatureAnswer* answer) {
  if (!ReaderAlive(reader)) return kRmfBadArgument;
  reader->lastError = 0;
  if (!SetCountValid(set) || answer == nullptr) return FailWith(reader, kRmfBadArgument);
  const RmfRoutingProfile& p = reader->profile;
  if (p.featureCallback == nullptr) return FailWith(reader, kRmfProfileMissing);
  answer->request = WithBit(answer->request, kRmfFeatureRequestFlag0, (p.modeFlags & 1u) != 0);
  answer->request = WithBit(answer->request, kRmfFeatureRequestFlag1, (p.modeFlags & 2u) != 0);
  for (RmfTravelAnswer& t : answer->travel) t.control &= ~kRmfTravelControlBit7;
  // The callback reports through the answer alone; a closed direction is a
  // negative class, not a failure.
  p.featureCallback(set, argument, answer, p.context);
  return 0;
}

std::int32_t RmfProfileTurnCost(RmfReader* reader, const RmfAttrSet* set, void* argument,
                                RmfConnectionAnswer* answer) {
  if (!ReaderAlive(reader)) return kRmfBadArgument;
  reader->lastError = 0;
  if (!SetCountValid(set) || answer == nullptr) return FailWith(reader, kRmfBadArgument);
  const RmfRoutingProfile& p = reader->profile;
  if (p.connectionCallback == nullptr) return FailWith(reader, kRmfProfileMissing);
  answer->request = WithBit(answer->request, kRmfConnectionRequestFlag0, (p.modeFlags & 1u) != 0);
  answer->request = WithBit(answer->request, kRmfConnectionRequestFlag1, (p.modeFlags & 2u) != 0);
  answer->request &= ~kRmfConnectionFlag;
  p.connectionCallback(set, argument, answer, p.context);
  // The router walks the restriction items by these counts: a count the
  // answer cannot hold would send it past the item arrays.
  if ((answer->request & kRmfConnectionFirstItems) != 0 && !ItemCountValid(answer->itemCounts[0])) {
    return FailWith(reader, kRmfProfileMissing);
  }
  if ((answer->request & kRmfConnectionSecondItems) != 0 && !ItemCountValid(answer->itemCounts[1])) {
    return FailWith(reader, kRmfProfileMissing);
  }
  return 0;
}

std::int32_t RmfProfileOneWay(RmfFeature* slot, std::int32_t part) {
  if (!rmf::detail::FeatureSlotUsed(slot)) return 0;
  // An attribute set is about 26 KB; it lives on the stack for the call only.
  RmfAttrSet set;
  const std::int32_t d = PartDirections(slot, part, &set);
  return d == 1 || d == -1 ? d : 0;
}

std::int32_t RmfFeatureTravelRefs(RmfReader* reader, std::int32_t turnFlag, std::int32_t request,
                                  RmfFeatureRef reference, RmfFeatureRef* out) {
  if (!ReaderAlive(reader)) return kRmfBadArgument;
  reader->lastError = 0;
  if (out == nullptr) return FailWith(reader, kRmfBadArgument);

  // The heading mark only says that the caller wants no reverse reference;
  // the reference is classified without it.
  const bool wantReverse = (reference.position & kRmfPositionHeading) == 0;
  reference.position = static_cast<std::uint16_t>(reference.position & ~kRmfPositionHeading);
  std::int32_t f = reference.position & kRmfPositionFraction;
  if (f > kRmfPositionWhole) return FailWith(reader, kRmfBadReference);

  const std::int32_t kind = RmfFeatureRefClassify(reader, reference);
  if (kind < 0) return FailWith(reader, kind);
  if (kind == kRmfRefWholeStretch) return FailWith(reader, kRmfBadReference);
  // A fraction counted back from the from vertex becomes one counted from it.
  if (kind == kRmfRefBackFromFraction) f = kRmfPositionWhole - f;

  RmfFeature* slot = nullptr;
  if (RmfFeatureFetch(reader, reference, &slot, nullptr) != 1) return FailWith(reader, kRmfBadReference);
  RmfAttrSet set;  // about 26 KB, for this call only
  std::int32_t d = PartDirections(slot, reference.part, &set);
  rmf::detail::ReleaseFetched(slot);
  if (d < -1 || d > 1) return FailWith(reader, kRmfBadReference);  // failed, or closed both ways
  if (reference.toVertex < reference.fromVertex) d = -d;

  std::int32_t written = 0;
  if (d > 0 || (d == 0 && request >= 0)) {
    RmfFeatureRef along = reference;
    along.position = static_cast<std::uint16_t>(turnFlag != 0 ? (kRmfPositionWhole - f) | kRmfPositionReverse : f);
    out[written++] = along;
  }
  if (wantReverse && (d < 0 || (d == 0 && request <= 0))) {
    RmfFeatureRef reverse = reference;
    reverse.fromVertex = reference.toVertex;
    reverse.toVertex = reference.fromVertex;
    reverse.position = static_cast<std::uint16_t>(turnFlag != 0 ? f | kRmfPositionReverse : kRmfPositionWhole - f);
    out[written++] = reverse;
  }
  return written;
}
