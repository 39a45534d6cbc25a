// Street grids for the routing tests: columns x rows crossings a chosen
// spacing apart near a chosen latitude, joined by blocks along the rows
// (west to east) and columns (south to north), drawn as street lines that
// the map-file builder packs into a map, together with the grid's own
// description of the same streets: a RouteGraph per way of travel for the
// reference router (nodes = crossings, segments = blocks), and the way back
// and forth between blocks and the feature references of the map.
//
// Streets are written as the converter writes them: lines at detail level
// 1, class 6, whose own triple and route-class attribute carry the route
// value (road type '3', kind ' ', the line's speed class) and the street's
// name, and the one-way mark. A line runs through one or more blocks of
// one row or column, so that streets both pass through crossings and end
// at them. Lines go to level-0 tiles (cells of 4096 units, about 600 m
// north to south): one that no such tile holds is cut at the cell borders,
// and every block keeps the points as written (cut points included), since
// both the lengths and the headings at a crossing are taken from them.
//
// Travel on a block, as the test profiles and the street filters read the
// route value: walking both ways at 2497 a unit whatever the marks;
// driving in the directions the one-way mark opens, at
// 137329.101562 / (10 k + 5) for speed class 'A' + k (85332.3475665 /
// (10 d + 5) for a digit d), rounded.
//
// Turn restrictions are written the way the converter writes a relation's:
// attribute "17B" on the from block and on the to block, stored after the
// block's lower vertex, marked for the direction of travel it holds for
// (toward the via crossing on the from block, away from it on the to block:
// '+' when that runs along the vertex order, '-' against it), with value
// "0PB" / "0PE" (no_*) or "0RB" / "0RE" (only_*) and the relation id as name
// text. Only
// driving reads them. A block that carries one must not be cut by a cell
// border (the attribute would stay on one piece only), and all three
// crossings of a restriction must be met by three or more blocks: the
// router stops a walk where a block with restrictions ends, and a crossing
// of three blocks is a stop anyway, so the stops stay those of the
// reference router.
//
// Every random choice comes from one std::mt19937 of the seed, read as
// plain 32-bit words, so a seed gives the same grid with every compiler.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "mapengine/format/RmfTypes.h"
#include "mapengine/format/base/TiTypes.h"
#include "tests/mapengine/format/route/ReferenceRouter.h"
#include "tools/rmfbuild/RmfFeatures.h"

namespace routetest {

// One street line of the grid: a feature.
struct GridLine {
  std::vector<int> crossings;  // vertex order: neighbouring crossings of one row or column
  char speedClass = 'F';       // 'F' = 55 km/h
  rmfbuild::OneWay way = rmfbuild::OneWay::kBoth;
};

// A turn restriction: from block `from`-`via` onto block `via`-`to`
// (crossing indexes).
struct GridRestriction {
  int from = 0;
  int via = 0;
  int to = 0;
  bool only = false;      // only_* (else no_*)
  std::uint32_t key = 0;  // the relation id
};

// A turn restriction over a block in between (a via way): from block
// `from`-`viaStart`, along block `viaStart`-`viaEnd`, onto block
// `viaEnd`-`to`. Written like a via-crossing restriction, with a third item
// "0PC" / "0RC" on the via block, marked for travel from viaStart to
// viaEnd. The reference router knows none of them: they stay out of
// Graph().
struct GridWayRestriction {
  int from = 0;
  int viaStart = 0;
  int viaEnd = 0;
  int to = 0;
  bool only = false;
  std::uint32_t key = 0;
};

struct GridLayout {
  int columns = 0;
  int rows = 0;
  std::vector<TiPoint> crossings;  // index row x columns + column
  std::vector<GridLine> lines;
  std::vector<GridRestriction> restrictions;
  std::vector<GridWayRestriction> wayRestrictions;
  bool cutAtCells = true;  // false: lines may go to coarser tiles, so that none is cut

  int Crossing(int column, int row) const { return row * columns + column; }
  // The line with a block between the two crossings; -1 when none.
  int LineAt(int a, int b) const;
};

// A plain grid: crossings exactly `spacingMetres` apart (x scaled by the
// cosine of the latitude), the south-west one at the given degrees, every
// block a line of its own at speed class 'F', two-way, vertices running
// east or north.
GridLayout PlainGrid(int columns, int rows, double spacingMetres = 100, double latitude = 53.55,
                     double longitude = 13.26);

struct GridOptions {
  std::uint32_t seed = 1;
  int columns = 4;
  int rows = 4;
  double spacingMetres = 100;
  double latitude = 53.55;  // of the south-west crossing, degrees
  double longitude = 13.26;
  double jitter = 0;                  // every crossing moved by up to this share of the spacing in x and y
  int maxLineBlocks = 3;              // lines run through 1..maxLineBlocks blocks (1: a line per block)
  std::string speedClasses = "CDEF";  // each line draws one
  double oneWayShare = 0;             // lines open one way only (either way, drawn)
  double reversedShare = 0.5;         // lines whose vertices run west or south
  double missingBlockShare = 0;       // blocks left out
  int restrictions = 0;               // turn restrictions to place; fewer where the grid has too few places
  double onlyShare = 0.5;             // of them only_* (else no_*)
  bool cutAtCells = true;
};

// Where a block's piece lies in the map: the part and the word positions of
// its two ends, in the line's vertex order.
struct GridPieceSpan {
  std::size_t piece = 0;  // index into the build's pieces
  std::uint16_t fromPosition = 0;
  std::uint16_t toPosition = 0;
};

class RouteGrid {
 public:
  // Builds the map of the layout and its description. ok() is false, with
  // error(), when the builder refuses the features or a restriction breaks
  // the placement rules above.
  explicit RouteGrid(GridLayout layout);
  // A grid drawn from the options' seed; restrictions are placed on blocks
  // that no cell border cuts, between crossings of three or more blocks,
  // where a car may come along the from block and leave along the to block.
  static RouteGrid Generate(const GridOptions& options);

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  const GridLayout& layout() const { return layout_; }
  const rmfbuild::FeatureMap& map() const { return map_; }
  // The pieces and the map description (MemoryReader::AddMap takes it).
  const rmfbuild::FeatureBuild& build() const { return build_; }
  const RouteGraph& Graph(TravelMode mode) const { return mode == TravelMode::kWalking ? walking_ : driving_; }

  // The block from crossing a to crossing b; empty when they are not joined.
  std::optional<DirectedSegment> Block(int a, int b) const;
  // Whether a cell border cuts the block (segment index).
  bool IsCut(int segment) const { return spans_[static_cast<std::size_t>(segment)].size() > 1; }
  // The block as whole references of the map (source index `source`), in
  // travel order: one per part it lies in (two or more where it is cut).
  std::vector<RmfFeatureRef> Refs(DirectedSegment block, std::uint16_t source = 0) const;
  // The blocks that a route result runs along, in order: every entry must
  // name a part of the grid and run along its points, and together they
  // must cover every block they touch whole. Empty, with the reason in
  // *why, otherwise. The position words are not looked at.
  std::optional<std::vector<DirectedSegment>> Blocks(const RmfFeatureRef* refs, std::size_t count,
                                                     std::string* why = nullptr) const;

 private:
  void Make();
  std::string CheckRestrictions() const;

  GridLayout layout_;
  std::string error_;
  rmfbuild::FeatureMap map_;
  rmfbuild::FeatureBuild build_;
  RouteGraph walking_;
  RouteGraph driving_;
  std::vector<int> lineOfSegment_;
  std::vector<std::vector<GridPieceSpan>> spans_;      // per segment, in vertex order
  std::vector<std::vector<std::uint16_t>> positions_;  // per piece: word position of each point
  // Per piece, per edge (point k to k + 1): the segment and which of its
  // edges it is.
  std::vector<std::vector<std::pair<int, int>>> edges_;
  std::vector<int> edgeCount_;  // per segment
};

// The cost factor of a speed class for driving: 137329.101562 / (10 k + 5)
// for 'A' + k, 85332.3475665 / (10 d + 5) for a digit d, rounded; 0 for
// any other character.
std::uint32_t DrivingFactor(char speedClass);
inline constexpr std::uint32_t kWalkingFactor = 2497;

}  // namespace routetest
