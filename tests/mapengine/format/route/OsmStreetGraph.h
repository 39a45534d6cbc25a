// The streets of an OpenStreetMap extract as the routing tests read them
// for themselves (with libosmium, not through the converter): a graph of
// the nodes of every walkable or drivable way, joined where consecutive
// nodes of a way are, with connected components for walking, one-way
// arcs for driving, shortest paths by great-circle length and seeded
// random pairs of nodes. It is the yardstick of the routes on the demo
// map: wherever it says two nodes are connected, the router must find a
// route between them.
//
// So it reads no more into the data than the map has: every way it takes
// is one the converter writes as a street that the walking or driving
// filters travel, and its one-way rules are at least as strict as the
// converter's marks. Where in doubt a way is left out, which can only cost
// tested pairs, never claim a connection the map does not have.
//
//   highway                                  walking  driving
//   motorway, motorway_link                  -        one-way
//   trunk_link                               -        yes
//   trunk, primary, primary_link, secondary,
//   secondary_link, tertiary, tertiary_link,
//   unclassified, residential, road,
//   living_street, service, track            yes      yes
//   pedestrian, footway, path, cycleway,
//   steps, bridleway                         yes      -
//   anything else                            -        -
//   any of them tagged area=yes              -        -
//
// Driving one way: oneway=yes, true or 1 opens the way in the order of its
// nodes, oneway=-1 or reverse against it, oneway=no, false or 0 both ways;
// without a oneway tag motorways, motorway links and roundabouts
// (junction=roundabout or circular) are one-way along their nodes and
// everything else is two-way; any other oneway value (reversible,
// alternating, ...) leaves the way out of driving.
// Access: access=no or private leaves a way out of both, unless foot (for
// walking) or motor_vehicle, motorcar or vehicle (for driving) says yes,
// designated or permissive; foot=no or private leaves it out of walking,
// motor_vehicle, motorcar or vehicle = no or private out of driving.
// Turn restrictions are not read: in a town a forbidden turn practically
// always has a way around it.
//
// Nodes are joined by the ways alone: two nodes at one position stay two
// nodes (the map joins them; again only tested pairs are lost). A node
// missing from the extract splits its way there, as in the converter.
// Lengths are great-circle distances on the map's sphere (2^28 units to
// 40,000 km, the scale of TiDistance), so that route lengths and these
// compare without a factor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "mapengine/format/base/TiTypes.h"
#include "tests/mapengine/format/route/ReferenceRouter.h"

namespace routetest {

class OsmStreetGraph {
 public:
  struct Node {
    std::int64_t id = 0;  // OpenStreetMap node id
    double lat = 0;       // degrees
    double lon = 0;
    TiPoint at{};  // map units, rounded as the converter rounds them
  };
  struct Arc {
    int to = 0;
    double metres = 0;
  };

  // Reads the extract (XML, compressed XML or PBF). ok() is false, with
  // error(), when libosmium cannot read it.
  explicit OsmStreetGraph(const std::string& path);

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }

  // Every node of a walkable or drivable way.
  const std::vector<Node>& nodes() const { return nodes_; }
  // The index of an OpenStreetMap node; -1 when no way of either kind has it.
  int Find(std::int64_t id) const;
  // Whether the node lies on a way of that kind, and how many do.
  bool On(TravelMode mode, int node) const { return on_[Slot(mode)][static_cast<std::size_t>(node)]; }
  std::size_t NodeCount(TravelMode mode) const;
  // The ways on from a node: walking both ways along every walkable way,
  // driving only where the way is open.
  const std::vector<Arc>& Arcs(TravelMode mode, int node) const {
    return arcs_[Slot(mode)][static_cast<std::size_t>(node)];
  }

  // Walking: the connected component of a node (-1 for one on no walkable
  // way) and the number of components.
  int Component(int node) const { return component_[static_cast<std::size_t>(node)]; }
  int ComponentCount() const { return components_; }

  // The length of the shortest path from a to b (plain Dijkstra over the
  // arcs); empty when b cannot be reached from a.
  std::optional<double> ShortestMetres(TravelMode mode, int a, int b) const;

  // `count` pairs of two different nodes on ways of that kind, drawn with
  // the seed (the same pairs with every standard library).
  std::vector<std::pair<int, int>> RandomPairs(TravelMode mode, std::size_t count, std::uint32_t seed) const;

  // Great-circle distance on the map's sphere.
  static double Metres(const Node& a, const Node& b);

 private:
  friend class OsmStreetReading;
  static std::size_t Slot(TravelMode mode) { return mode == TravelMode::kWalking ? 0 : 1; }
  int Add(std::int64_t id, double lat, double lon);
  void Join(int a, int b, bool walk, int drive);  // drive: 0 no, 1 along, -1 against, 2 both
  void FindComponents();

  std::string error_;
  std::vector<Node> nodes_;
  std::unordered_map<std::int64_t, int> index_;
  std::vector<bool> on_[2];
  std::vector<std::vector<Arc>> arcs_[2];
  std::vector<int> component_;
  int components_ = 0;
};

// One way of the extract tagged highway (and not area=yes), as the converter
// reads it: its runs of nodes that have a location, split where nodes are
// missing, in map units rounded as the converter rounds them, a position
// repeated at once dropped; runs of fewer than two points left out. The
// demo-map tests that compare the map's nodes with the extract's take their
// streets from here, each with its own table of highway classes.
struct ExtractStreetRun {
  std::int64_t way = 0;
  std::string highway;
  std::vector<std::pair<std::int32_t, std::int32_t>> points;  // (x, y)
};

// Every such run of the extract in file order; empty with *error set when
// libosmium cannot read it.
std::vector<ExtractStreetRun> ReadStreetRuns(const std::string& path, std::string* error);

// The pairs of nodes beside a way joint: a position where exactly two runs
// meet, each with an end, and no other run passes; the two nodes next to it,
// one on each run, both on streets (ways a car may use) and joined through
// the joint by arcs of the mode, from the first to the second. With
// `highways`, only joints of two runs of those highway values. In the order
// of the joints' positions, at most `count`.
std::vector<std::pair<int, int>> WayJointPairs(const OsmStreetGraph& graph, const std::vector<ExtractStreetRun>& runs,
                                               TravelMode mode, std::size_t count,
                                               const std::set<std::string>* highways = nullptr);

}  // namespace routetest
