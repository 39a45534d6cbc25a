// A small town for the cross-street and intersection tests, built from the
// street fixtures: a grid of four east-west and four north-south streets
// (3 x 3 blocks of about 230 by 290 feet), every street written as one
// feature per block the way the converter writes a way between junctions,
// every feature a straight line of two points. The grid holds:
//  - plain crossings of two-way streets (Schulstraße with Eichenstraße), and
//    one whose western arm is a one-way block (Schulstraße with Buchenstraße);
//  - T-junctions: Kirchstraße ends at Eichenstraße, and the streets of the
//    grid's edge end at the edge streets;
//  - a dead end: Ahornstraße goes on north of Bahnhofstraße and stops;
//  - an unnamed roundabout ('8', one-way anticlockwise, a diamond of four
//    pieces about 60 feet from its centre) where Buchenstraße and
//    Kirchstraße meet;
//  - a toll road, Tunnelstraße, which goes on westwards where Gartenstraße
//    ends;
//  - a freeway, "A 20" ('1'), north of the grid, with an unnamed one-way exit
//    ramp ('9', kind '1') from it down to the north-east corner of the grid.
//    Both freeway features at the ramp's upper end carry the exit sign
//    (exit attribute "17B", value "0SB": key, exit number, road name and two
//    destinations), and the ramp carries the sign's key (value "0SE").
// Positions are map units (see street_fixtures.h: one unit is about 0.29
// feet eastwards and 0.49 feet northwards); everything lies between 800
// units west and 3300 units east of At(0, 0), and up to 2900 units north of
// it, inside one tile of the finest level (the fixture's test checks that
// no feature is cut).
//
// The data below is what the tests compare with: the named intersections
// with the streets that meet at each (raw name, road type and the bearing
// at which each leaves the intersection, in ascending order of bearing), and
// a position in the middle of a block of each street with a heading along
// it and the intersection reached next that way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "mapengine/format/base/TiTypes.h"
#include "tests/mapengine/object/street_fixtures.h"
#include "tools/rmfbuild/RmfFeatures.h"

namespace town {

constexpr TiPoint Pt(std::int32_t dx, std::int32_t dy) {
  return TiPoint{street_fixtures::kOriginX + dx, street_fixtures::kOriginY + dy};
}

// The grid lines: north-south streets at x, east-west streets at y.
inline constexpr std::int32_t kAhornX = 400;
inline constexpr std::int32_t kBuchenX = 1200;
inline constexpr std::int32_t kEichenX = 2000;
inline constexpr std::int32_t kLindenX = 2800;
inline constexpr std::int32_t kGartenY = 300;
inline constexpr std::int32_t kSchulY = 900;
inline constexpr std::int32_t kKirchY = 1500;
inline constexpr std::int32_t kBahnhofY = 2100;
inline constexpr std::int32_t kFreewayY = 2900;

// The roundabout around (kBuchenX, kKirchY): its four corners, where the
// streets meet it.
inline constexpr TiPoint kRoundaboutEast = Pt(kBuchenX + 200, kKirchY);
inline constexpr TiPoint kRoundaboutNorth = Pt(kBuchenX, kKirchY + 120);
inline constexpr TiPoint kRoundaboutWest = Pt(kBuchenX - 200, kKirchY);
inline constexpr TiPoint kRoundaboutSouth = Pt(kBuchenX, kKirchY - 120);

// Ends that are no intersection: the dead end of Ahornstraße, the far ends of
// Tunnelstraße and of the freeway.
inline constexpr TiPoint kDeadEnd = Pt(kAhornX, 2500);
inline constexpr TiPoint kTunnelEnd = Pt(-800, kGartenY);
inline constexpr TiPoint kFreewayWestEnd = Pt(-500, kFreewayY);
inline constexpr TiPoint kFreewayEastEnd = Pt(3300, kFreewayY);
// Where the exit ramp leaves the freeway, and where it ends.
inline constexpr TiPoint kExit = Pt(2200, kFreewayY);
inline constexpr TiPoint kRampFoot = Pt(kLindenX, kBahnhofY);

// The exit sign: the freeway's "0SB" attribute and the ramp's "0SE" one.
inline constexpr const char* kExitCode = "17B";
inline constexpr const char* kSignKey = "key";
inline constexpr const char* kSignText = "key\\:EX/12\\:CN/:RN/B 104\\:TO/Berlin\\:TO/Prenzlau";
inline constexpr const char* kSignExitNumber = "12";
inline constexpr const char* kSignRoad = "B 104";  // the road the exit leads to
inline constexpr const char* kSignDestinations[] = {"Berlin", "Prenzlau"};

inline constexpr const char* kFreewayName = "A 20";

// One street leaving an intersection. An empty name is an unnamed feature:
// a roundabout piece ('8') or the ramp ('9').
struct CrossStreetAt {
  std::string name;
  char roadType;        // '3' street, '2' main road (the toll road), '8', '9', '1'
  std::int32_t bearing;  // degrees from the intersection along the feature
};

struct Intersection {
  const char* what;
  TiPoint at;
  std::vector<CrossStreetAt> streets;  // ascending bearing
};

// Indexes into Intersections().
enum IntersectionId : int {
  kGartenAhorn,  // corner: Gartenstraße turns into the toll road, Ahornstraße starts
  kGartenBuchen,
  kGartenEichen,
  kGartenLinden,  // corner of two streets
  kSchulAhorn,
  kSchulBuchen,  // crossing, the western arm one-way eastwards
  kSchulEichen,  // plain crossing
  kSchulLinden,
  kKirchAhorn,
  kRoundaboutW,
  kRoundaboutS,
  kRoundaboutE,
  kRoundaboutN,
  kKirchEichen,  // T: Kirchstraße ends at Eichenstraße
  kBahnhofAhorn,  // Ahornstraße goes on to the dead end
  kBahnhofBuchen,
  kBahnhofEichen,
  kBahnhofLinden,  // corner with the foot of the ramp
  kFreewayExit,
  kIntersectionCount,
};

inline constexpr std::int32_t kNorth = 0;
inline constexpr std::int32_t kEast = 90;
inline constexpr std::int32_t kSouth = 180;
inline constexpr std::int32_t kWest = 270;
// Bearings of the slanting features: the ramp, and the roundabout's sides
// (north-east from the south and the west corner, south-east from the west
// and the north corner, and so on).
inline constexpr std::int32_t kRampDown = 156;  // from the exit towards the ramp's foot
inline constexpr std::int32_t kRampUp = 337;    // from the foot up to the exit
inline constexpr std::int32_t kRingNE = 44;
inline constexpr std::int32_t kRingSE = 136;
inline constexpr std::int32_t kRingSW = 223;
inline constexpr std::int32_t kRingNW = 317;

inline const std::vector<Intersection>& Intersections() {
  static const std::vector<Intersection> all = {
      {"Gartenstraße / Ahornstraße", Pt(kAhornX, kGartenY),
       {{"Ahornstraße", '3', kNorth}, {"Gartenstraße", '3', kEast}, {"Tunnelstraße", '2', kWest}}},
      {"Gartenstraße / Buchenstraße", Pt(kBuchenX, kGartenY),
       {{"Buchenstraße", '3', kNorth}, {"Gartenstraße", '3', kEast}, {"Gartenstraße", '3', kWest}}},
      {"Gartenstraße / Eichenstraße", Pt(kEichenX, kGartenY),
       {{"Eichenstraße", '3', kNorth}, {"Gartenstraße", '3', kEast}, {"Gartenstraße", '3', kWest}}},
      {"Gartenstraße / Lindenstraße", Pt(kLindenX, kGartenY),
       {{"Lindenstraße", '3', kNorth}, {"Gartenstraße", '3', kWest}}},
      {"Schulstraße / Ahornstraße", Pt(kAhornX, kSchulY),
       {{"Ahornstraße", '3', kNorth}, {"Schulstraße", '3', kEast}, {"Ahornstraße", '3', kSouth}}},
      {"Schulstraße / Buchenstraße", Pt(kBuchenX, kSchulY),
       {{"Buchenstraße", '3', kNorth},
        {"Schulstraße", '3', kEast},
        {"Buchenstraße", '3', kSouth},
        {"Schulstraße", '3', kWest}}},
      {"Schulstraße / Eichenstraße", Pt(kEichenX, kSchulY),
       {{"Eichenstraße", '3', kNorth},
        {"Schulstraße", '3', kEast},
        {"Eichenstraße", '3', kSouth},
        {"Schulstraße", '3', kWest}}},
      {"Schulstraße / Lindenstraße", Pt(kLindenX, kSchulY),
       {{"Lindenstraße", '3', kNorth}, {"Lindenstraße", '3', kSouth}, {"Schulstraße", '3', kWest}}},
      {"Kirchstraße / Ahornstraße", Pt(kAhornX, kKirchY),
       {{"Ahornstraße", '3', kNorth}, {"Kirchstraße", '3', kEast}, {"Ahornstraße", '3', kSouth}}},
      {"roundabout, west", kRoundaboutWest, {{"", '8', kRingNE}, {"", '8', kRingSE}, {"Kirchstraße", '3', kWest}}},
      {"roundabout, south", kRoundaboutSouth, {{"", '8', kRingNE}, {"Buchenstraße", '3', kSouth}, {"", '8', kRingNW}}},
      {"roundabout, east", kRoundaboutEast, {{"Kirchstraße", '3', kEast}, {"", '8', kRingSW}, {"", '8', kRingNW}}},
      {"roundabout, north", kRoundaboutNorth, {{"Buchenstraße", '3', kNorth}, {"", '8', kRingSE}, {"", '8', kRingSW}}},
      {"Kirchstraße / Eichenstraße", Pt(kEichenX, kKirchY),
       {{"Eichenstraße", '3', kNorth}, {"Eichenstraße", '3', kSouth}, {"Kirchstraße", '3', kWest}}},
      {"Bahnhofstraße / Ahornstraße", Pt(kAhornX, kBahnhofY),
       {{"Ahornstraße", '3', kNorth}, {"Bahnhofstraße", '3', kEast}, {"Ahornstraße", '3', kSouth}}},
      {"Bahnhofstraße / Buchenstraße", Pt(kBuchenX, kBahnhofY),
       {{"Bahnhofstraße", '3', kEast}, {"Buchenstraße", '3', kSouth}, {"Bahnhofstraße", '3', kWest}}},
      {"Bahnhofstraße / Eichenstraße", Pt(kEichenX, kBahnhofY),
       {{"Bahnhofstraße", '3', kEast}, {"Eichenstraße", '3', kSouth}, {"Bahnhofstraße", '3', kWest}}},
      {"Bahnhofstraße / Lindenstraße", kRampFoot,
       {{"Lindenstraße", '3', kSouth}, {"Bahnhofstraße", '3', kWest}, {"", '9', kRampUp}}},
      {"A 20 exit", kExit, {{kFreewayName, '1', kEast}, {"", '9', kRampDown}, {kFreewayName, '1', kWest}}},
  };
  return all;
}

// A position in the middle of a block, a heading along the street, and the
// intersection reached next that way (-1: none, the street ends first).
struct BlockPosition {
  const char* street;
  TiPoint at;
  std::int32_t heading;
  int ahead;
};

inline const std::vector<BlockPosition>& BlockPositions() {
  static const std::vector<BlockPosition> all = {
      {"Ahornstraße", Pt(kAhornX, 600), kNorth, kSchulAhorn},
      {"Ahornstraße", Pt(kAhornX, 2300), kNorth, -1},  // towards the dead end
      {"Ahornstraße", Pt(kAhornX, 2300), kSouth, kBahnhofAhorn},
      {"Buchenstraße", Pt(kBuchenX, 600), kNorth, kSchulBuchen},
      {"Buchenstraße", Pt(kBuchenX, 1100), kNorth, kRoundaboutS},
      {"Eichenstraße", Pt(kEichenX, 1200), kSouth, kSchulEichen},
      {"Eichenstraße", Pt(kEichenX, 1200), kNorth, kKirchEichen},
      {"Lindenstraße", Pt(kLindenX, 1500), kNorth, kBahnhofLinden},
      {"Gartenstraße", Pt(800, kGartenY), kEast, kGartenBuchen},
      {"Gartenstraße", Pt(800, kGartenY), kWest, kGartenAhorn},
      {"Schulstraße", Pt(800, kSchulY), kEast, kSchulBuchen},  // on the one-way block, with its direction
      {"Schulstraße", Pt(1600, kSchulY), kEast, kSchulEichen},
      {"Kirchstraße", Pt(700, kKirchY), kEast, kRoundaboutW},
      {"Kirchstraße", Pt(1700, kKirchY), kEast, kKirchEichen},
      {"Bahnhofstraße", Pt(2400, kBahnhofY), kEast, kBahnhofLinden},
      {"Tunnelstraße", Pt(-200, kGartenY), kEast, kGartenAhorn},
      {kFreewayName, Pt(1000, kFreewayY), kEast, kFreewayExit},
      {"", Pt(2500, 2500), kRampDown, kBahnhofLinden},  // on the ramp
  };
  return all;
}

// The town's features, in the order the fixture adds them.
inline rmfbuild::FeatureMap TownMap() {
  using street_fixtures::Road;
  rmfbuild::FeatureMap map;
  // A street of the grid: one two-way feature per block, between the given
  // cross positions along x (east-west street at y) or along y.
  const auto eastWest = [&map](const char* name, std::int32_t y, std::vector<std::int32_t> xs) {
    for (std::size_t i = 1; i < xs.size(); ++i) map.Add(Road(name, {Pt(xs[i - 1], y), Pt(xs[i], y)}, '3'));
  };
  const auto northSouth = [&map](const char* name, std::int32_t x, std::vector<std::int32_t> ys) {
    for (std::size_t i = 1; i < ys.size(); ++i) map.Add(Road(name, {Pt(x, ys[i - 1]), Pt(x, ys[i])}, '3'));
  };
  eastWest("Gartenstraße", kGartenY, {kAhornX, kBuchenX, kEichenX, kLindenX});
  map.Add(Road("Schulstraße", {Pt(kAhornX, kSchulY), Pt(kBuchenX, kSchulY)}, '3', ' ', false, rmfbuild::OneWay::kAlong));
  eastWest("Schulstraße", kSchulY, {kBuchenX, kEichenX, kLindenX});
  eastWest("Kirchstraße", kKirchY, {kAhornX, kRoundaboutWest.x - street_fixtures::kOriginX});
  eastWest("Kirchstraße", kKirchY, {kRoundaboutEast.x - street_fixtures::kOriginX, kEichenX});
  eastWest("Bahnhofstraße", kBahnhofY, {kAhornX, kBuchenX, kEichenX, kLindenX});
  northSouth("Ahornstraße", kAhornX, {kGartenY, kSchulY, kKirchY, kBahnhofY, kDeadEnd.y - street_fixtures::kOriginY});
  northSouth("Buchenstraße", kBuchenX, {kGartenY, kSchulY, kRoundaboutSouth.y - street_fixtures::kOriginY});
  northSouth("Buchenstraße", kBuchenX, {kRoundaboutNorth.y - street_fixtures::kOriginY, kBahnhofY});
  northSouth("Eichenstraße", kEichenX, {kGartenY, kSchulY, kKirchY, kBahnhofY});
  northSouth("Lindenstraße", kLindenX, {kGartenY, kSchulY, kBahnhofY});
  // The roundabout, anticlockwise.
  const TiPoint ring[] = {kRoundaboutEast, kRoundaboutNorth, kRoundaboutWest, kRoundaboutSouth, kRoundaboutEast};
  for (int i = 0; i < 4; ++i) map.Add(Road("", {ring[i], ring[i + 1]}, '8', ' ', false, rmfbuild::OneWay::kAlong));
  // The toll road.
  map.Add(Road("Tunnelstraße", {Pt(kAhornX, kGartenY), kTunnelEnd}, '2', ' ', true));
  // The freeway, in two features meeting at the exit, both with the sign.
  for (const auto& [from, to] : {std::pair{kFreewayWestEnd, kExit}, std::pair{kExit, kFreewayEastEnd}}) {
    rmfbuild::Feature freeway = Road(kFreewayName, {from, to}, '1', '1');
    freeway.Attribute(rmfbuild::TextTriple{kExitCode, "0SB", kSignText});
    map.Add(std::move(freeway));
  }
  rmfbuild::Feature ramp = Road("", {kExit, kRampFoot}, '9', '1', false, rmfbuild::OneWay::kAlong);
  ramp.Attribute(rmfbuild::TextTriple{kExitCode, "0SE", kSignKey});
  map.Add(std::move(ramp));
  return map;
}

// Fills a street map with the town.
inline void AddTown(street_fixtures::StreetMap& map) {
  for (rmfbuild::Feature& f : TownMap().features) map.Add(std::move(f));
}

}  // namespace town
