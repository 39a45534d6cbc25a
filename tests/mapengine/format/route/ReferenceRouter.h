// The routing tests' yardstick: a plain, edge-based Dijkstra over a small
// street graph (RouteGraph), under the cost model the router is built to,
// written here again from the model and not from the router's code:
//
//  - A stretch runs from a stop to the next stop. A node is a stop unless
//    exactly two segments meet there and either both belong to one feature
//    (it passes through) or their features meet end to end with the same
//    travel both ways: open in the same real directions (into and out of
//    the node) and the same cost factor. A walk carries on across such a
//    node without a turn; everywhere else it stops (dead ends included).
//    Travel is compared by the real direction and not by the lines' vertex
//    order: two lines that meet end to end may run either way, and one-way
//    lines whose vertices run against each other meet with opposite marks.
//  - A stretch costs (length x cost factor) >> (8 + shift), the length being
//    the sum of TiDistance between its consecutive points; the first
//    stretch starts at the origin segment's first point, the last ends at
//    the destination segment's last point.
//  - At every stop the turn costs table[sector] >> shift, the sector being
//    that of the turn angle: the heading of travel after the turn minus the
//    heading before it, headings taken from the stop to the neighbouring
//    point of each segment with x scaled by the cosine of the stop's
//    latitude (counter-clockwise positive, 2^28 units a turn; sector k
//    covers k x 2^24 - 2^23 inclusive to k x 2^24 + 2^23 exclusive). A
//    negative entry forbids the turn. Turning back along the arriving
//    segment is the U-turn, sector 8 exactly.
//  - A segment is travelled only in a direction it is open in.
//  - A U-turn is allowed at any stop the table allows it at, except where
//    the road merely continues: at a stop of exactly two segments, both
//    open both ways, whose other way out is allowed.
//  - Turn restrictions at their via node: "no" forbids from -> to; "only"
//    lets the from segment be left there only to the to segment of an
//    "only" restriction with that from segment (the U-turn included).
//
// Headings are worked out in doubles. The router works them out in
// integers (a cosine from its sine table, the scaled x truncated, its own
// arc tangent), so a turn whose angle lies within a hair of a sector
// boundary may fall into the neighbouring sector there: such turns are
// flagged (ReferenceRoute::ambiguousTurns, ReferenceRouter::
// AmbiguousTurnCount) so that tests can leave them out. The hair is the
// heading error that one unit of truncation causes on each of the two
// segments (plus a little for the arc tangent and the cosine).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "mapengine/format/base/TiTypes.h"

namespace routetest {

// Map units per metre of the map's lengths (TiDistance): 2^28 units to the
// 40,000 km of a great circle.
inline constexpr double kUnitsPerMetre = 268435456.0 / 40000000.0;

enum class TravelMode { kWalking, kDriving };

// The router's default turn costs, by sector (0 straight on, 4 a right
// angle to the left, 8 the U-turn, 12 a right angle to the right).
using TurnCosts = std::array<std::int32_t, 16>;
inline constexpr TurnCosts kDefaultTurnCosts = {0,      2000,   6000,  12000, 20000, 30000, 60000, 120000,
                                                240000, 120000, 60000, 20000, 10000, 6000,  3000,  1000};

// A street segment between two nodes of the graph.
struct GraphSegment {
  int from = 0;                  // node at its first point
  int to = 0;                    // node at its last point
  std::vector<TiPoint> points;   // from `from` to `to`, at least two, no two consecutive equal
  int feature = 0;               // the line it is part of
  std::array<bool, 2> open{};    // travel from -> to, to -> from
  std::uint32_t costFactor = 0;  // per unit of length, scaled by 2^8
};

// A turn restriction: segments `from` and `to` meet at node `via`.
struct GraphRestriction {
  int from = 0;
  int via = 0;
  int to = 0;
  bool only = false;  // only_*: from -> to is the one way on; else no_*: from -> to is forbidden
};

struct RouteGraph {
  std::vector<TiPoint> nodes;
  std::vector<GraphSegment> segments;
  std::vector<GraphRestriction> restrictions;
};

// A segment in one direction of travel: forward = from -> to.
struct DirectedSegment {
  int segment = 0;
  bool forward = true;
  DirectedSegment Reversed() const { return {segment, !forward}; }
  bool operator==(const DirectedSegment&) const = default;
};

// For test failures: "5+" (segment 5 forward), "5-" (backward).
inline void PrintTo(const DirectedSegment& d, std::ostream* os) { *os << d.segment << (d.forward ? '+' : '-'); }

// A stretch of a route: its segments, its length, what it costs and the
// turn at the stop it starts at.
struct RouteStretch {
  std::size_t first = 0;  // index of its first segment in ReferenceRoute::segments
  std::size_t count = 0;
  std::uint64_t lengthUnits = 0;  // sum of TiDistance between its points
  std::int64_t traversalCost = 0;
  std::int64_t turnCost = 0;   // 0 for the first stretch
  int sector = -1;             // of the turn into it; -1 for the first stretch
  bool ambiguousTurn = false;  // that turn's angle lies within a hair of a sector boundary
};

struct ReferenceRoute {
  bool found = false;
  std::string error;  // why not (Evaluate): which step breaks which rule
  std::int64_t cost = 0;
  std::vector<DirectedSegment> segments;
  std::vector<RouteStretch> stretches;
  std::uint64_t lengthUnits = 0;
  double lengthMetres = 0;
  int ambiguousTurns = 0;  // turns of the route within a hair of a sector boundary
};

// A turn at a stop: arriving along `from`, leaving along `to`.
struct TurnAngle {
  double angle = 0;  // heading units, in [-2^27, 2^27)
  int sector = 0;
  bool ambiguous = false;  // within a hair of a sector boundary
};

class ReferenceRouter {
 public:
  // The graph must outlive the router.
  explicit ReferenceRouter(const RouteGraph& graph);

  // The cheapest route from the start of `origin` to the end of
  // `destination` (the same segment when both are equal: then that segment
  // alone). found is false when there is none.
  ReferenceRoute Route(DirectedSegment origin, DirectedSegment destination, const TurnCosts& table,
                       unsigned shift) const;

  // The cost of the given route under the model, or found false and the
  // reason when it breaks a rule: segments that do not join, a segment
  // travelled against its direction, a forbidden turn or restriction, a
  // U-turn where the road continues, a turn at a node that is no stop.
  ReferenceRoute Evaluate(const std::vector<DirectedSegment>& route, const TurnCosts& table, unsigned shift) const;

  bool IsStop(int node) const { return stop_[static_cast<std::size_t>(node)]; }
  // The segments that meet at the node.
  const std::vector<int>& SegmentsAt(int node) const { return at_[static_cast<std::size_t>(node)]; }
  // Start and end node of a directed segment.
  int StartOf(DirectedSegment d) const;
  int EndOf(DirectedSegment d) const;
  // The angle of the turn from `from` (ending at a node) onto `to` (starting there).
  TurnAngle Turn(DirectedSegment from, DirectedSegment to) const;
  // Turns at stops (every segment into a stop onto every other one out of
  // it, whatever their directions) whose angle lies within a hair of a
  // sector boundary.
  int AmbiguousTurnCount() const;

 private:
  struct Stretch;
  Stretch WalkFrom(DirectedSegment first) const;
  // Cost of the turn, or empty when it is forbidden; `why` says why.
  std::optional<std::int64_t> TurnCost(DirectedSegment from, DirectedSegment to, const TurnCosts& table, unsigned shift,
                                       std::string* why) const;
  bool Restricted(DirectedSegment from, DirectedSegment to) const;
  bool SameTravel(DirectedSegment in, DirectedSegment out) const;
  double HeadingAt(int node, const TiPoint& toward) const;
  std::uint64_t Length(DirectedSegment d) const;

  const RouteGraph& graph_;
  std::vector<std::vector<int>> at_;
  std::vector<bool> stop_;
  std::vector<std::uint64_t> length_;  // per segment
};

// (length x factor) >> (8 + shift), in 64 bits.
std::int64_t ScaledCost(std::uint64_t lengthUnits, std::uint32_t factor, unsigned shift);

}  // namespace routetest
