// The map engine's street filters: the routing-profile callbacks through which
// the map-format library learns, for every street it routes over, whether and
// at what cost each direction may be travelled (feature filters) and which
// turn and access restrictions the street carries (connection filters). The
// route thread installs one set per request with RmfProfileSetCallbacks, the
// request's RouteRequestOptions as context and the limit
// kRmfProfileEngineLimit (1373, the cost factor of 100 km/h):
//
//   driving      DrivingFeatureFilter  + DrivingConnectionFilter   options
//   walking      WalkingFeatureFilter  + WalkingConnectionFilter   options
//   exploration  ExploreFeatureFilter  + WalkingConnectionFilter   no context
//
// What the filters read of an attribute entry, by character position: the
// code is positions 0..5, the value 6..56, the name 57 on (RmfAttrEntry's
// three texts, each up to its stored length; a position past the end of a
// text reads as '\0'). Position 0 is the detail level digit, 1-2 the code
// pair ("71" route class, "41" access, "4B" and "7B" restrictions), and the
// direction mark ('+' travel along the vertex order only, '-' against it
// only) sits at position 3, or 4 when the code is longer than 4 characters.
// The route-class value: 6 road type, 7 road kind, 8 speed class, 10 toll
// mark.
//
// Feature answers. Index 0 of RmfFeatureAnswer::travel is travel toward lower
// vertex positions, index 1 toward higher, so an entry marked '+' opens only
// travel[1] and one marked '-' only travel[0]. Per direction the filter
// writes the kind into groupCode (0 ordinary, 1 a ramp, 2 a freeway, 3 a
// connection travelled at no cost; the router reads it as the stretch's
// group code: non-zero forbids U-turns at its end and joins junction
// groups, 3 is a connector inside a junction), the detail level into
// roadClass (negative: closed) and the cost factor (cost per unit of length,
// 137329.101562 / km/h) into costFactor; the control word and the time
// words are left alone. Both classes start at -1, and the
// filter stops at the first entry after which both directions are set.
//
// Connection answers. Each entry that is a restriction adds an item (kind,
// key = the name read as a number, condition flags 0) to items[0] when it has
// no direction mark or is marked '-', and to items[1] when it has none or is
// marked '+': like the one-way marks of the route class, '+' names travel
// along the vertex order. The router reads items[1] for travel toward higher
// vertex positions and items[0] for travel toward lower ones. Both counts
// start at 0; a list holds at most kRmfConnectionItems (80) items and takes
// no more. The request word is left alone.
//
// The filters allocate nothing and throw nothing. They read at most 80
// entries whatever the set's count says; a null set leaves the answer as
// described for an empty one, and a null answer is ignored. Each returns 0
// (the library does not use the result).
#pragma once

#include <cstdint>

#include "mapengine/format/features/RmfFeatureAttr.h"
#include "mapengine/format/features/RmfProfile.h"
#include "mapengine/format/route/RmfRouteRecord.h"

// The preferences of one route request, in this order; the driving and
// walking filters get a pointer to it as their context. A null context reads
// as all zero (Normal preferences, vehicle mode Fastest).
struct RouteRequestOptions {
  std::int32_t freewayPreference;     // CARTOVELRouteFreewayPreference
  std::int32_t turnPreference;        // CARTOVELRouteTurnPreference (chooses the turn-cost table, not read here)
  std::int32_t roundaboutPreference;  // CARTOVELRouteRoundaboutPreference
  std::int32_t tollRoadPreference;    // CARTOVELRouteTollRoadPreference
  std::int32_t vehicleMode;           // CARTOVELRouteVehicleMode
};
static_assert(sizeof(RouteRequestOptions) == 20);

// The map engine's turn-cost tables (RmfRouteSetTurnCosts), by sector of 22.5
// degrees: 0 straight on, 1-7 left turns, 8 the U-turn, 9-15 right turns.
// Driving by default favours right turns over left ones; the mirrored table
// (sector k holds the default's sector 16 - k) favours left turns. The
// walking table barely tells turns apart (also used for the shortest
// driving route); the fewest-turns table makes every real turn dear.
inline constexpr std::int32_t kDrivingTurnCosts[kRmfTurnSectors] = {
    0, 2000, 6000, 12000, 20000, 30000, 80000, 120000, 240000, 100000, 40000, 15000, 10000, 6000, 3000, 1000};
inline constexpr std::int32_t kDrivingTurnCostsMirrored[kRmfTurnSectors] = {
    0, 1000, 3000, 6000, 10000, 15000, 40000, 100000, 240000, 120000, 80000, 30000, 20000, 12000, 6000, 2000};
inline constexpr std::int32_t kWalkingTurnCosts[kRmfTurnSectors] = {0,    2000, 3000, 3000, 3000, 3000, 3000, 4000,
                                                                    4000, 4000, 3000, 3000, 3000, 3000, 3000, 2000};
inline constexpr std::int32_t kFewestTurnsCosts[kRmfTurnSectors] = {
    0, 0, 5000, 50000, 50000, 50000, 50000, 50000, 100000, 50000, 50000, 50000, 50000, 50000, 5000, 0};

// Fixed cost factors (137329.101562 / km/h).
inline constexpr std::uint32_t kRouteCostFreewayNormal = 1422;   // about 60 mph
inline constexpr std::uint32_t kRouteCostFreewayAvoid = 1896;    // about 45 mph
inline constexpr std::uint32_t kRouteCostWalking = 2497;         // 55 km/h: walking and shortest routes
inline constexpr std::uint32_t kRouteCostTollAvoid = 27466;      // 5 km/h
inline constexpr std::uint32_t kRouteCostSlow = 137329;          // 1 km/h

// Driving over the route-class entries ("71"), with the request's options:
//  - road type (position 6): '1' freeway (kind 2 when position 7 is '1',
//    else 0); '2', '3' ordinary; '4' a slow road when position 7 is ' ', 'A',
//    'E', 'F', 'K', 'N' or 'S' (other slow roads are skipped); '8'
//    roundabout (skipped with roundabout preference None); '9' ramp (kind 1
//    when position 7 is '1', else 0); 'V' kind 3; anything else skipped;
//  - level = position 0 - '0';
//  - cost, the first rule that applies: kind 3: 0; slow road: 137329;
//    roundabout under AvoidIfPossible: 137329; a toll street (a value of 5
//    characters or more with '1' or '0' at position 10) under a toll
//    preference other than Normal: 27466 with AvoidIfPossible, skipped
//    otherwise; else the speed class at position 8, a digit d giving
//    85332.3475665 / (10 d + 5) (mph) and a capital letter c giving
//    137329.101562 / (10 (c - 'A') + 5) (km/h), rounded to nearest, any
//    other character skipped; for a freeway priced by its speed class,
//    Preferred keeps that factor, AvoidIfPossible gives 1896 and Normal 1422.
//    Freeway preference None skips every freeway, a toll freeway under toll
//    preference AvoidIfPossible included: the request asked for no freeway;
//  - vehicle mode Shortest: every entry that got this far costs 2497 at
//    level 3;
//  - the entry sets travel[0] unless marked '+', travel[1] unless marked '-'.
std::int32_t DrivingFeatureFilter(const RmfAttrSet* set, void* argument, RmfFeatureAnswer* answer,
                                  void* context) noexcept;

// Walking over the route-class entries: road types '2', '3', '4' with
// position 7 ' ', 'A', 'E', 'F', 'K', 'N', 'P', 'S' or 'W', '8' (skipped with
// roundabout preference None) and 'V' (kind 3); freeways, ramps and anything
// else are skipped. Both directions, whatever the one-way mark, get level 3
// and cost 2497 (kind 3: 0; a roundabout under AvoidIfPossible: 137329).
std::int32_t WalkingFeatureFilter(const RmfAttrSet* set, void* argument, RmfFeatureAnswer* answer,
                                  void* context) noexcept;

// Exploration (no options): an access entry ("41") whose value starts with
// 'R', or a route-class entry of road type '1', '2', '3', '4' (position 7 as
// for walking), '8', '9' or 'V', opens both directions at level 3 with kind 0
// and cost 2497, or kind 3 and cost 0 for 'V'.
std::int32_t ExploreFeatureFilter(const RmfAttrSet* set, void* argument, RmfFeatureAnswer* answer,
                                  void* context) noexcept;

// Driving restrictions: a "4B" entry whose value starts with '0' adds kind 1;
// a "7B" entry whose value starts with '0' and is longer than 2 characters
// adds, by positions 7 and 8, 'P' with 'B', 'C', 'E' kinds 2, 3, 4 and 'R'
// with 'B', 'C', 'E' kinds 5, 6, 7; a value longer than 4 characters with 'E'
// at position 10, and every other pair, adds nothing. The key is the name
// read as atol reads it, held to the 32-bit range as on a platform whose long
// has 32 bits.
std::int32_t DrivingConnectionFilter(const RmfAttrSet* set, void* argument, RmfConnectionAnswer* answer,
                                     void* context) noexcept;

// Walking restrictions: a "4B" entry whose value is shorter than 2 characters
// or has no 'B' at position 7 adds kind 1 with its key.
std::int32_t WalkingConnectionFilter(const RmfAttrSet* set, void* argument, RmfConnectionAnswer* answer,
                                     void* context) noexcept;
