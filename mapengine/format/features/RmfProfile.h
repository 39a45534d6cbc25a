// The routing profile: the pair of callbacks through which the library learns
// what may be travelled. The map engine installs them in the reader before a
// route search; the router, the near-point search and the travel-reference
// builder here reach them only through the two guarded calls below, which
// check the attribute set, copy the profile's mode flags into the request
// and refuse to run without an installed callback (kRmfProfileMissing, -31).
// On top of them sit the one-way test of a part and the building of the
// directed references that travel from a point on a feature may use.
//
// The record itself (RmfRoutingProfile) lives in the reader record
// (RmfReaderRecord.h); RmfProfileReset is defined with the reader.
#pragma once

#include <cstdint>

#include "mapengine/format/RmfExport.h"
#include "mapengine/format/RmfResult.h"
#include "mapengine/format/RmfTypes.h"
#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/format/features/RmfFeatureAttr.h"
#include "mapengine/format/store/RmfReader.h"

// The limit the map engine installs.
inline constexpr std::int32_t kRmfProfileEngineLimit = 1373;
inline constexpr std::int32_t kRmfProfileResetLimit = 0x7fffffff;

// Request bits of the feature answer.
inline constexpr std::uint32_t kRmfFeatureRequestMode = 0x1;   // the caller's first profile mode word
inline constexpr std::uint32_t kRmfFeatureRequestFlag0 = 0x2;  // := mode flag 0
inline constexpr std::uint32_t kRmfFeatureRequestFlag1 = 0x4;  // := mode flag 1
// Control word bits of a direction: bits 0-2 hold 4 when only the class is
// wanted; bit 7 is cleared by the library before every call.
inline constexpr std::uint32_t kRmfTravelControlKind = 0x7;
inline constexpr std::uint32_t kRmfTravelControlClassOnly = 0x4;
inline constexpr std::uint32_t kRmfTravelControlBit7 = 0x80;

// Request bits of the connection answer.
inline constexpr std::uint32_t kRmfConnectionRequestFlag0 = 0x4;       // := mode flag 0
inline constexpr std::uint32_t kRmfConnectionRequestFlag1 = 0x8;       // := mode flag 1
inline constexpr std::uint32_t kRmfConnectionFirstItems = 0x10;        // first item count is meant
inline constexpr std::uint32_t kRmfConnectionSecondItems = 0x20;       // second item count is meant
inline constexpr std::uint32_t kRmfConnectionFlag = 0x1000;            // the profile's connection flag

// Restriction items of a connection answer, per side.
inline constexpr std::int32_t kRmfConnectionItems = 80;

// The answer for one direction of travel.
struct RmfTravelAnswer {
  std::uint32_t control;  // see kRmfTravelControl*
  std::uint8_t groupCode;  // 0..3
  std::int8_t roadClass;   // negative: travel in this direction not allowed
  std::uint32_t costFactor;  // cost per unit of length
};

// What the feature callback fills.
struct RmfFeatureAnswer {
  std::uint32_t request;  // see kRmfFeatureRequest*
  // [0] toward lower vertex positions, [1] toward higher.
  RmfTravelAnswer travel[2];
  // Time-dependent values; their meaning belongs to the router.
  std::uint32_t timeWords[8];
};

// One restriction item of a connection answer.
struct RmfRestriction {
  std::uint32_t conditionFlags;  // bit 0 time-conditional, bit 1 its condition holds
  std::uint8_t kind;             // 0..7
  std::uint32_t key;
};

// What the connection callback fills. The library reads only the request
// word and the two item counts at the end; the items are the router's.
struct RmfConnectionAnswer {
  std::uint32_t request;  // see kRmfConnectionRequest*; bits 4-5 the caller's travel-direction bits
  RmfRestriction items[2][kRmfConnectionItems];
  std::int32_t itemCounts[2];  // checked against 0..80 when request bit 4 / bit 5 is set
};

// Installs a profile: 1; kRmfBadArgument (-2) for a bad reader or a limit below
// 1 (the profile is left as it was). Clears the mode flags and counts the
// change. A null feature callback installs "no profile".
RMF_API_NODISCARD std::int32_t RmfProfileSetCallbacks(RmfReader* reader, RmfProfileFeatureFn featureCallback,
                                                      RmfProfileConnectionFn connectionCallback, void* context,
                                                      std::int32_t limit);
// The installed limit; -1 for a bad reader.
RMF_API_NODISCARD std::int32_t RmfProfileGetLimit(RmfReader* reader);
// The change counter; 0xFFFFFFFF for a bad reader.
RMF_API_NODISCARD std::uint32_t RmfProfileGetCounter(RmfReader* reader);

// Asks the feature callback: 0 once it ran (its own result is not used);
// kRmfBadArgument (-2) for a bad reader, a null set or answer, or a set count
// outside 0..80; kRmfProfileMissing (-31) when no feature callback is
// installed.
RMF_API_NODISCARD std::int32_t RmfProfileFeatureCost(RmfReader* reader, const RmfAttrSet* set, void* argument,
                                                     RmfFeatureAnswer* answer);
// Asks the connection callback: 0; kRmfBadArgument (-2) as
// RmfProfileFeatureCost; kRmfProfileMissing (-31) when no connection callback
// is installed, or when request bit 4 (bit 5) is set and the first (second)
// item count lies outside 0..80 after the call.
RMF_API_NODISCARD std::int32_t RmfProfileTurnCost(RmfReader* reader, const RmfAttrSet* set, void* argument,
                                                  RmfConnectionAnswer* answer);

// One-way test of a part of the slot's record: 1 when only travel toward
// higher vertex positions is allowed, -1 when only toward lower, 0 when both,
// neither, or the profile cannot be asked (no profile, a bad slot or part).
RMF_API_NODISCARD std::int32_t RmfProfileOneWay(RmfFeature* slot, std::int32_t part);

// The directed references that travel from the reference's point may use,
// written to out (room for 2): the along reference first (same stretch), then
// the reverse one (from and to exchanged). Bit 13 of the position asks for no
// reverse reference. A one-way feature gives only its open direction; on a
// two-way feature request > 0 asks for the along reference only, < 0 for the
// reverse one only, 0 for both. With the turn flag set both positions carry bit
// 15 and count from the other end. The count written (0..2);
// kRmfBadReference (-13) for an invalid reference, a profile that cannot be
// asked or a feature closed both ways (also the last error);
// kRmfBadArgument (-2) for a bad reader or a null output.
RMF_API_NODISCARD std::int32_t RmfFeatureTravelRefs(RmfReader* reader, std::int32_t turnFlag, std::int32_t request,
                                                    RmfFeatureRef reference, RmfFeatureRef* out);
