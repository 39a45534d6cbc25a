// The reference router: stops, stretches, turns and a Dijkstra over the
// stretches that start at stops (see ReferenceRouter.h).
#include "tests/mapengine/format/route/ReferenceRouter.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <numbers>
#include <queue>
#include <utility>

#include "mapengine/format/base/TiGeometry.h"

namespace routetest {
namespace {

constexpr double kTurn = 268435456.0;  // heading units of a full turn
constexpr double kHalfTurn = kTurn / 2;
constexpr double kSector = kTurn / 16;
constexpr double kUnitsPerRadian = kTurn / (2 * std::numbers::pi);
// The router's arc tangent lies within about 140 units of the true angle
// and its cosine within 4e-6 of the true one (measured over the whole
// range); this covers both on both headings of a turn.
constexpr double kHeadingSlack = 1024;

std::size_t Index(DirectedSegment d) { return static_cast<std::size_t>(d.segment) * 2 + (d.forward ? 0 : 1); }

std::string NodeText(int node) { return "node " + std::to_string(node); }

std::string SegmentText(DirectedSegment d) {
  return "segment " + std::to_string(d.segment) + (d.forward ? " forward" : " backward");
}

}  // namespace

std::int64_t ScaledCost(std::uint64_t lengthUnits, std::uint32_t factor, unsigned shift) {
  return static_cast<std::int64_t>((lengthUnits * factor) >> (8 + shift));
}

// A walk from a segment to the next stop: its segments, the length after
// each, the node it ends at, and whether every segment is open for it.
struct ReferenceRouter::Stretch {
  std::vector<DirectedSegment> segments;
  std::vector<std::uint64_t> lengths;  // cumulative, one per segment
  int end = 0;
  bool open = true;
};

ReferenceRouter::ReferenceRouter(const RouteGraph& graph)
    : graph_(graph), at_(graph.nodes.size()), stop_(graph.nodes.size(), true), length_(graph.segments.size()) {
  for (std::size_t s = 0; s < graph.segments.size(); ++s) {
    const GraphSegment& seg = graph.segments[s];
    at_[static_cast<std::size_t>(seg.from)].push_back(static_cast<int>(s));
    if (seg.to != seg.from) at_[static_cast<std::size_t>(seg.to)].push_back(static_cast<int>(s));
    std::uint64_t length = 0;
    for (std::size_t i = 1; i < seg.points.size(); ++i) {
      length += static_cast<std::uint64_t>(TiDistance(&seg.points[i - 1], &seg.points[i]));
    }
    length_[s] = length;
  }
  for (std::size_t n = 0; n < at_.size(); ++n) {
    if (at_[n].size() != 2) continue;
    const int a = at_[n][0];
    const int b = at_[n][1];
    if (graph.segments[static_cast<std::size_t>(a)].feature == graph.segments[static_cast<std::size_t>(b)].feature) {
      stop_[n] = false;
      continue;
    }
    const DirectedSegment in{a, graph.segments[static_cast<std::size_t>(a)].to == static_cast<int>(n)};
    const DirectedSegment out{b, graph.segments[static_cast<std::size_t>(b)].from == static_cast<int>(n)};
    stop_[n] = !SameTravel(in, out);
  }
}

int ReferenceRouter::StartOf(DirectedSegment d) const {
  const GraphSegment& s = graph_.segments[static_cast<std::size_t>(d.segment)];
  return d.forward ? s.from : s.to;
}

int ReferenceRouter::EndOf(DirectedSegment d) const {
  const GraphSegment& s = graph_.segments[static_cast<std::size_t>(d.segment)];
  return d.forward ? s.to : s.from;
}

std::uint64_t ReferenceRouter::Length(DirectedSegment d) const { return length_[static_cast<std::size_t>(d.segment)]; }

// Both ways of travel agree: into the node along `in` as out of it along
// `out`, and back the other way; and the cost factor.
bool ReferenceRouter::SameTravel(DirectedSegment in, DirectedSegment out) const {
  const GraphSegment& a = graph_.segments[static_cast<std::size_t>(in.segment)];
  const GraphSegment& b = graph_.segments[static_cast<std::size_t>(out.segment)];
  const bool aOn = a.open[in.forward ? 0 : 1];
  const bool aBack = a.open[in.forward ? 1 : 0];
  const bool bOn = b.open[out.forward ? 0 : 1];
  const bool bBack = b.open[out.forward ? 1 : 0];
  return aOn == bOn && aBack == bBack && a.costFactor == b.costFactor;
}

double ReferenceRouter::HeadingAt(int node, const TiPoint& toward) const {
  const TiPoint& at = graph_.nodes[static_cast<std::size_t>(node)];
  const double latitude = at.y / kUnitsPerRadian;
  const double dx = (static_cast<double>(toward.x) - at.x) * std::cos(latitude);
  const double dy = static_cast<double>(toward.y) - at.y;
  return std::atan2(dy, dx) * kUnitsPerRadian;
}

TurnAngle ReferenceRouter::Turn(DirectedSegment from, DirectedSegment to) const {
  TurnAngle t;
  if (to == from.Reversed()) {
    t.angle = -kHalfTurn;
    t.sector = 8;
    return t;
  }
  const int node = EndOf(from);
  const GraphSegment& a = graph_.segments[static_cast<std::size_t>(from.segment)];
  const GraphSegment& b = graph_.segments[static_cast<std::size_t>(to.segment)];
  // The neighbouring point of each segment at the node.
  const TiPoint& before = from.forward ? a.points[a.points.size() - 2] : a.points[1];
  const TiPoint& after = to.forward ? b.points[1] : b.points[b.points.size() - 2];
  const double arrival = HeadingAt(node, before) + kHalfTurn;
  const double leaving = HeadingAt(node, after);
  double angle = leaving - arrival;
  while (angle >= kHalfTurn) angle -= kTurn;
  while (angle < -kHalfTurn) angle += kTurn;
  t.angle = angle;
  t.sector = static_cast<int>(std::floor((angle + kSector / 2) / kSector)) & 15;

  const TiPoint& at = graph_.nodes[static_cast<std::size_t>(node)];
  const double scale = std::cos(at.y / kUnitsPerRadian);
  auto reach = [&](const TiPoint& p) {
    return std::hypot((static_cast<double>(p.x) - at.x) * scale, static_cast<double>(p.y) - at.y);
  };
  const double hair = kUnitsPerRadian * (2 / reach(before) + 2 / reach(after)) + kHeadingSlack;
  const double into = std::fmod(angle + kSector / 2 + kTurn, kSector);
  const double toBoundary = std::min(into, kSector - into);
  const double toHalfTurn = std::min(std::fabs(angle + kHalfTurn), std::fabs(angle - kHalfTurn));
  t.ambiguous = toBoundary < hair || toHalfTurn < hair;
  return t;
}

bool ReferenceRouter::Restricted(DirectedSegment from, DirectedSegment to) const {
  const int via = EndOf(from);
  bool onlyFrom = false;
  bool onlyTo = false;
  for (const GraphRestriction& r : graph_.restrictions) {
    if (r.via != via || r.from != from.segment) continue;
    if (!r.only) {
      if (r.to == to.segment) return true;
      continue;
    }
    onlyFrom = true;
    if (r.to == to.segment) onlyTo = true;
  }
  return onlyFrom && !onlyTo;
}

std::optional<std::int64_t> ReferenceRouter::TurnCost(DirectedSegment from, DirectedSegment to, const TurnCosts& table,
                                                      unsigned shift, std::string* why) const {
  const int node = EndOf(from);
  const GraphSegment& b = graph_.segments[static_cast<std::size_t>(to.segment)];
  if (!b.open[to.forward ? 0 : 1]) {
    if (why) *why = SegmentText(to) + " is travelled against its direction";
    return std::nullopt;
  }
  const TurnAngle turn = Turn(from, to);
  if (table[static_cast<std::size_t>(turn.sector)] < 0) {
    if (why) *why = "the turn at " + NodeText(node) + " into sector " + std::to_string(turn.sector) + " is forbidden";
    return std::nullopt;
  }
  if (Restricted(from, to)) {
    if (why)
      *why = "a turn restriction at " + NodeText(node) + " forbids " + SegmentText(from) + " -> " + SegmentText(to);
    return std::nullopt;
  }
  const std::vector<int>& here = at_[static_cast<std::size_t>(node)];
  if (to == from.Reversed() && here.size() == 2) {
    const int other = here[0] == from.segment ? here[1] : here[0];
    const GraphSegment& a = graph_.segments[static_cast<std::size_t>(from.segment)];
    const GraphSegment& o = graph_.segments[static_cast<std::size_t>(other)];
    const DirectedSegment on{other, o.from == node};
    const bool twoWay = a.open[0] && a.open[1] && o.open[0] && o.open[1];
    if (twoWay && table[static_cast<std::size_t>(Turn(from, on).sector)] >= 0 && !Restricted(from, on)) {
      if (why) *why = "U-turn at " + NodeText(node) + " where the road continues";
      return std::nullopt;
    }
  }
  return static_cast<std::int64_t>(table[static_cast<std::size_t>(turn.sector)] >> shift);
}

ReferenceRouter::Stretch ReferenceRouter::WalkFrom(DirectedSegment first) const {
  Stretch s;
  DirectedSegment d = first;
  std::uint64_t length = 0;
  for (;;) {
    const GraphSegment& seg = graph_.segments[static_cast<std::size_t>(d.segment)];
    if (!seg.open[d.forward ? 0 : 1]) s.open = false;
    length += Length(d);
    s.segments.push_back(d);
    s.lengths.push_back(length);
    s.end = EndOf(d);
    if (IsStop(s.end)) break;
    const std::vector<int>& here = at_[static_cast<std::size_t>(s.end)];
    const int other = here[0] == d.segment ? here[1] : here[0];
    const DirectedSegment next{other, graph_.segments[static_cast<std::size_t>(other)].from == s.end};
    // A ring without any stop: the walk ends where it began.
    if (next == first) break;
    d = next;
  }
  return s;
}

ReferenceRoute ReferenceRouter::Route(DirectedSegment origin, DirectedSegment destination, const TurnCosts& table,
                                      unsigned shift) const {
  constexpr std::int64_t kNone = std::numeric_limits<std::int64_t>::max();
  const std::size_t states = graph_.segments.size() * 2;
  std::vector<std::int64_t> best(states, kNone);
  std::vector<std::size_t> parent(states, states);
  std::int64_t arrival = kNone;
  std::size_t arrivalFrom = states;
  std::size_t arrivalCount = 0;  // segments of the last stretch up to the destination

  using Entry = std::pair<std::int64_t, std::size_t>;  // cost, state (states = arrived)
  std::priority_queue<Entry, std::vector<Entry>, std::greater<>> open;
  best[Index(origin)] = 0;
  open.emplace(0, Index(origin));
  while (!open.empty()) {
    const auto [cost, state] = open.top();
    open.pop();
    if (state == states) break;
    if (cost > best[state]) continue;
    const DirectedSegment d{static_cast<int>(state / 2), state % 2 == 0};
    const Stretch s = WalkFrom(d);
    if (!s.open) continue;
    const std::uint32_t factor = graph_.segments[static_cast<std::size_t>(d.segment)].costFactor;
    for (std::size_t i = 0; i < s.segments.size(); ++i) {
      if (s.segments[i] != destination) continue;
      const std::int64_t total = cost + ScaledCost(s.lengths[i], factor, shift);
      if (total < arrival) {
        arrival = total;
        arrivalFrom = state;
        arrivalCount = i + 1;
        open.emplace(total, states);
      }
      break;
    }
    const std::int64_t through = cost + ScaledCost(s.lengths.back(), factor, shift);
    const DirectedSegment last = s.segments.back();
    for (const int out : at_[static_cast<std::size_t>(s.end)]) {
      const GraphSegment& o = graph_.segments[static_cast<std::size_t>(out)];
      for (const bool forward : {true, false}) {
        const DirectedSegment next{out, forward};
        if ((forward ? o.from : o.to) != s.end) continue;
        const std::optional<std::int64_t> turn = TurnCost(last, next, table, shift, nullptr);
        if (!turn) continue;
        const std::int64_t c = through + *turn;
        if (c < best[Index(next)]) {
          best[Index(next)] = c;
          parent[Index(next)] = state;
          open.emplace(c, Index(next));
        }
      }
    }
  }

  ReferenceRoute none;
  if (arrival == kNone) {
    none.error = "no route";
    return none;
  }
  std::vector<std::size_t> chain;
  for (std::size_t st = arrivalFrom; st != states; st = parent[st]) chain.push_back(st);
  std::reverse(chain.begin(), chain.end());
  std::vector<DirectedSegment> route;
  for (std::size_t k = 0; k < chain.size(); ++k) {
    const Stretch s = WalkFrom({static_cast<int>(chain[k] / 2), chain[k] % 2 == 0});
    const std::size_t take = k + 1 == chain.size() ? arrivalCount : s.segments.size();
    route.insert(route.end(), s.segments.begin(), s.segments.begin() + static_cast<std::ptrdiff_t>(take));
  }
  ReferenceRoute r = Evaluate(route, table, shift);
  if (r.found && r.cost != arrival) {
    r.found = false;
    r.error = "the search's cost " + std::to_string(arrival) + " differs from its route's " + std::to_string(r.cost);
  }
  return r;
}

ReferenceRoute ReferenceRouter::Evaluate(const std::vector<DirectedSegment>& route, const TurnCosts& table,
                                         unsigned shift) const {
  ReferenceRoute r;
  if (route.empty()) {
    r.error = "an empty route";
    return r;
  }
  for (const DirectedSegment& d : route) {
    if (d.segment < 0 || static_cast<std::size_t>(d.segment) >= graph_.segments.size()) {
      r.error = "no " + SegmentText(d);
      return r;
    }
  }
  const GraphSegment& first = graph_.segments[static_cast<std::size_t>(route[0].segment)];
  if (!first.open[route[0].forward ? 0 : 1]) {
    r.error = SegmentText(route[0]) + " is travelled against its direction";
    return r;
  }
  r.segments = route;
  RouteStretch current;
  current.first = 0;
  auto close = [&](std::size_t end) {
    current.count = end - current.first;
    const std::uint32_t factor = graph_.segments[static_cast<std::size_t>(route[current.first].segment)].costFactor;
    current.traversalCost = ScaledCost(current.lengthUnits, factor, shift);
    r.cost += current.traversalCost + current.turnCost;
    r.lengthUnits += current.lengthUnits;
    r.stretches.push_back(current);
  };
  for (std::size_t i = 0; i < route.size(); ++i) {
    if (i > 0) {
      const DirectedSegment from = route[i - 1];
      const DirectedSegment to = route[i];
      const int node = EndOf(from);
      if (StartOf(to) != node) {
        r.error = SegmentText(from) + " does not join " + SegmentText(to);
        return r;
      }
      if (!IsStop(node)) {
        if (to == from.Reversed()) {
          r.error = "U-turn at " + NodeText(node) + " where the road continues";
          return r;
        }
        if (!graph_.segments[static_cast<std::size_t>(to.segment)].open[to.forward ? 0 : 1]) {
          r.error = SegmentText(to) + " is travelled against its direction";
          return r;
        }
      } else {
        std::string why;
        const std::optional<std::int64_t> turn = TurnCost(from, to, table, shift, &why);
        if (!turn) {
          r.error = why;
          return r;
        }
        close(i);
        const TurnAngle angle = Turn(from, to);
        current = RouteStretch{};
        current.first = i;
        current.turnCost = *turn;
        current.sector = angle.sector;
        current.ambiguousTurn = angle.ambiguous;
        if (angle.ambiguous) ++r.ambiguousTurns;
      }
    }
    current.lengthUnits += Length(route[i]);
  }
  close(route.size());
  r.lengthMetres = static_cast<double>(r.lengthUnits) / kUnitsPerMetre;
  r.found = true;
  return r;
}

int ReferenceRouter::AmbiguousTurnCount() const {
  int count = 0;
  for (std::size_t n = 0; n < at_.size(); ++n) {
    if (!stop_[n]) continue;
    const int node = static_cast<int>(n);
    for (const int a : at_[n]) {
      const DirectedSegment in{a, graph_.segments[static_cast<std::size_t>(a)].to == node};
      for (const int b : at_[n]) {
        if (b == a) continue;
        const DirectedSegment out{b, graph_.segments[static_cast<std::size_t>(b)].from == node};
        if (Turn(in, out).ambiguous) ++count;
      }
    }
  }
  return count;
}

}  // namespace routetest
