// Street grids: the layout, its features and map, and the description the
// reference router searches (see RouteGrid.h).
#include "tests/mapengine/format/route/RouteGrid.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>
#include <random>
#include <tuple>
#include <utility>

#include "mapengine/format/features/RmfFeature.h"

namespace routetest {
namespace {

using rmfbuild::Feature;
using rmfbuild::FeatureCategory;
using rmfbuild::FeatureClass;
using rmfbuild::OneWay;
using rmfbuild::TextTriple;

constexpr double kUnitsPerDegree = 268435456.0 / 360.0;
constexpr std::uint32_t kFirstKey = 1001;

// Seeded draws, the same with every standard library: mt19937's words are
// fixed by the standard, its distributions are not.
class Draw {
 public:
  explicit Draw(std::uint32_t seed) : rng_(seed) {}
  double Uniform() { return static_cast<double>(rng_()) / 4294967296.0; }  // [0, 1)
  std::uint32_t Below(std::uint32_t n) { return n == 0 ? 0 : rng_() % n; }
  bool Chance(double share) { return Uniform() < share; }

 private:
  std::mt19937 rng_;
};

std::string LineName(const GridLayout& layout, const GridLine& line) {
  const int a = line.crossings[0];
  const int b = line.crossings[1];
  return a / layout.columns == b / layout.columns ? "Row " + std::to_string(a / layout.columns)
                                                  : "Column " + std::to_string(a % layout.columns);
}

GraphSegment Travel(TravelMode mode, const GridLine& line, GraphSegment s) {
  if (mode == TravelMode::kWalking) {
    s.open = {true, true};
    s.costFactor = kWalkingFactor;
    return s;
  }
  s.open = {line.way != OneWay::kAgainst, line.way != OneWay::kAlong};
  s.costFactor = DrivingFactor(line.speedClass);
  return s;
}

}  // namespace

std::uint32_t DrivingFactor(char speedClass) {
  if (speedClass >= '0' && speedClass <= '9') {
    return static_cast<std::uint32_t>(std::lround(85332.3475665 / (10 * (speedClass - '0') + 5)));
  }
  if (speedClass >= 'A' && speedClass <= 'Z') {
    return static_cast<std::uint32_t>(std::lround(137329.101562 / (10 * (speedClass - 'A') + 5)));
  }
  return 0;
}

int GridLayout::LineAt(int a, int b) const {
  for (std::size_t l = 0; l < lines.size(); ++l) {
    const std::vector<int>& c = lines[l].crossings;
    for (std::size_t i = 1; i < c.size(); ++i) {
      if ((c[i - 1] == a && c[i] == b) || (c[i - 1] == b && c[i] == a)) return static_cast<int>(l);
    }
  }
  return -1;
}

namespace {

// Crossings on a regular grid, each moved by the given offsets (in shares
// of the spacing).
std::vector<TiPoint> Crossings(int columns, int rows, double spacingMetres, double latitude, double longitude,
                               const std::vector<std::pair<double, double>>& offsets) {
  const double dy = spacingMetres * kUnitsPerMetre;
  const double dx = dy / std::cos(latitude * std::numbers::pi / 180);
  const double x0 = std::round(longitude * kUnitsPerDegree);
  const double y0 = std::round(latitude * kUnitsPerDegree);
  std::vector<TiPoint> out;
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < columns; ++c) {
      const auto& [ox, oy] = offsets[static_cast<std::size_t>(r * columns + c)];
      out.push_back(TiPoint{static_cast<std::int32_t>(std::lround(x0 + (c + ox) * dx)),
                            static_cast<std::int32_t>(std::lround(y0 + (r + oy) * dy))});
    }
  }
  return out;
}

}  // namespace

GridLayout PlainGrid(int columns, int rows, double spacingMetres, double latitude, double longitude) {
  GridLayout g;
  g.columns = columns;
  g.rows = rows;
  g.crossings = Crossings(columns, rows, spacingMetres, latitude, longitude,
                          std::vector<std::pair<double, double>>(static_cast<std::size_t>(columns * rows)));
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c + 1 < columns; ++c) g.lines.push_back(GridLine{{g.Crossing(c, r), g.Crossing(c + 1, r)}});
  }
  for (int c = 0; c < columns; ++c) {
    for (int r = 0; r + 1 < rows; ++r) g.lines.push_back(GridLine{{g.Crossing(c, r), g.Crossing(c, r + 1)}});
  }
  return g;
}

RouteGrid::RouteGrid(GridLayout layout) : layout_(std::move(layout)) { Make(); }

void RouteGrid::Make() {
  for (const GridLine& line : layout_.lines) {
    if (line.crossings.size() < 2) {
      error_ = "a line needs two crossings or more";
      return;
    }
    for (const int c : line.crossings) {
      if (c < 0 || static_cast<std::size_t>(c) >= layout_.crossings.size()) {
        error_ = "a line names crossing " + std::to_string(c) + ", which the grid does not have";
        return;
      }
    }
  }

  // Segments: the blocks of every line, in line and vertex order.
  std::vector<int> firstSegment;
  for (std::size_t l = 0; l < layout_.lines.size(); ++l) {
    firstSegment.push_back(static_cast<int>(lineOfSegment_.size()));
    for (std::size_t i = 1; i < layout_.lines[l].crossings.size(); ++i) lineOfSegment_.push_back(static_cast<int>(l));
  }
  const std::size_t segments = lineOfSegment_.size();
  auto blockOf = [&](int a, int b) -> std::optional<std::pair<int, std::size_t>> {
    const int l = layout_.LineAt(a, b);
    if (l < 0) return std::nullopt;
    const std::vector<int>& c = layout_.lines[static_cast<std::size_t>(l)].crossings;
    for (std::size_t i = 1; i < c.size(); ++i) {
      if ((c[i - 1] == a && c[i] == b) || (c[i - 1] == b && c[i] == a)) return std::make_pair(l, i - 1);
    }
    return std::nullopt;
  };

  // The features.
  map_ = rmfbuild::FeatureMap{};
  map_.tileLevels[0] = layout_.cutAtCells ? rmfbuild::TileLevelRange{0, 0} : rmfbuild::TileLevelRange{0, 15};
  for (const GridLine& line : layout_.lines) {
    std::vector<TiPoint> points;
    for (const int c : line.crossings) points.push_back(layout_.crossings[static_cast<std::size_t>(c)]);
    const std::string value = rmfbuild::RoadValue('3', ' ', line.speedClass);
    const std::string name = LineName(layout_, line);
    Feature f = Feature::Line(FeatureClass{1, 6, FeatureCategory::kLine}, value, std::move(points), name);
    f.Attribute(rmfbuild::RouteClassAttribute(1, value, name, line.way));
    map_.Add(std::move(f));
  }
  for (const GridRestriction& r : layout_.restrictions) {
    const auto from = blockOf(r.from, r.via);
    const auto to = blockOf(r.via, r.to);
    if (!from || !to) {
      error_ = "restriction " + std::to_string(r.key) + " names crossings that no block joins";
      return;
    }
    const std::string key = std::to_string(r.key);
    // The mark names the direction of travel the item holds for: toward the
    // via crossing on the from block, away from it on the to block; '+' when
    // that runs along the line's vertex order.
    auto along = [&](const std::pair<int, std::size_t>& block, int crossing) {
      return layout_.lines[static_cast<std::size_t>(block.first)].crossings[block.second + 1] == crossing;
    };
    const std::string fromCode = std::string("17B") + (along(*from, r.via) ? '+' : '-');
    const std::string toCode = std::string("17B") + (along(*to, r.to) ? '+' : '-');
    map_.features[static_cast<std::size_t>(from->first)].VertexAttr(from->second,
                                                                    TextTriple{fromCode, r.only ? "0RB" : "0PB", key});
    map_.features[static_cast<std::size_t>(to->first)].VertexAttr(to->second,
                                                                  TextTriple{toCode, r.only ? "0RE" : "0PE", key});
  }
  for (const GridWayRestriction& r : layout_.wayRestrictions) {
    const std::string key = std::to_string(r.key);
    // Each item holds for travel from the crossing named first to the one
    // named second.
    const std::tuple<int, int, const char*> items[] = {{r.from, r.viaStart, r.only ? "0RB" : "0PB"},
                                                       {r.viaStart, r.viaEnd, r.only ? "0RC" : "0PC"},
                                                       {r.viaEnd, r.to, r.only ? "0RE" : "0PE"}};
    for (const auto& [a, b, value] : items) {
      const auto block = blockOf(a, b);
      if (!block) {
        error_ = "restriction " + key + " names crossings that no block joins";
        return;
      }
      const bool along = layout_.lines[static_cast<std::size_t>(block->first)].crossings[block->second + 1] == b;
      map_.features[static_cast<std::size_t>(block->first)].VertexAttr(
          block->second, TextTriple{std::string("17B") + (along ? '+' : '-'), value, key});
    }
  }
  build_ = rmfbuild::BuildFeatureMap(map_);
  if (!build_.ok) {
    error_ = "the builder refuses the grid: " + build_.error;
    return;
  }

  // Every piece's points: the word position of each, and the block of each
  // edge. Pieces of a line come in order along it, so a block's edges are
  // numbered in vertex order.
  std::vector<std::vector<TiPoint>> blockPoints(segments);
  spans_.assign(segments, {});
  edgeCount_.assign(segments, 0);
  positions_.assign(build_.pieces.size(), {});
  edges_.assign(build_.pieces.size(), {});
  for (std::size_t l = 0; l < layout_.lines.size(); ++l) {
    const Feature& f = map_.features[l];
    for (const rmfbuild::FeaturePiece* piece : build_.PiecesOf(l)) {
      const auto p = static_cast<std::size_t>(piece - build_.pieces.data());
      std::size_t word = f.attributes.size();
      auto block = static_cast<std::size_t>(std::floor(piece->from));
      for (std::size_t k = 0; k < piece->points.size(); ++k) {
        positions_[p].push_back(static_cast<std::uint16_t>(word));
        ++word;
        const int vertex = k < piece->vertices.size() ? piece->vertices[k] : -1;
        if (vertex >= 0) {
          word += static_cast<std::size_t>(
              std::count_if(f.vertexAttributes.begin(), f.vertexAttributes.end(),
                            [&](const auto& a) { return a.vertex == static_cast<std::size_t>(vertex); }));
          block = static_cast<std::size_t>(vertex);
        }
        if (k + 1 == piece->points.size()) break;
        if (block + 1 >= layout_.lines[l].crossings.size()) {
          error_ = "a piece of line " + std::to_string(l) + " runs past its last crossing";
          return;
        }
        const auto s = static_cast<std::size_t>(firstSegment[l]) + block;
        std::vector<TiPoint>& pts = blockPoints[s];
        if (pts.empty()) pts.push_back(piece->points[k]);
        pts.push_back(piece->points[k + 1]);
        edges_[p].emplace_back(static_cast<int>(s), edgeCount_[s]++);
        std::vector<GridPieceSpan>& spans = spans_[s];
        if (spans.empty() || spans.back().piece != p) spans.push_back(GridPieceSpan{p, positions_[p][k], 0});
      }
    }
  }
  // The span of a piece ends at the last point it holds of the block.
  for (std::size_t p = 0; p < build_.pieces.size(); ++p) {
    for (std::size_t k = 0; k < edges_[p].size(); ++k) {
      for (GridPieceSpan& span : spans_[static_cast<std::size_t>(edges_[p][k].first)]) {
        if (span.piece == p) span.toPosition = positions_[p][k + 1];
      }
    }
  }

  walking_ = RouteGraph{};
  walking_.nodes = layout_.crossings;
  for (std::size_t s = 0; s < segments; ++s) {
    const std::size_t l = static_cast<std::size_t>(lineOfSegment_[s]);
    const std::size_t i = s - static_cast<std::size_t>(firstSegment[l]);
    if (blockPoints[s].size() < 2) {
      error_ = "block " + std::to_string(s) + " was not written";
      return;
    }
    GraphSegment g;
    g.from = layout_.lines[l].crossings[i];
    g.to = layout_.lines[l].crossings[i + 1];
    g.points = blockPoints[s];
    g.feature = static_cast<int>(l);
    walking_.segments.push_back(Travel(TravelMode::kWalking, layout_.lines[l], g));
  }
  driving_ = walking_;
  for (std::size_t s = 0; s < segments; ++s) {
    driving_.segments[s] =
        Travel(TravelMode::kDriving, layout_.lines[static_cast<std::size_t>(lineOfSegment_[s])], driving_.segments[s]);
  }
  for (const GridRestriction& r : layout_.restrictions) {
    driving_.restrictions.push_back(
        GraphRestriction{Block(r.from, r.via)->segment, r.via, Block(r.via, r.to)->segment, r.only});
  }
  error_ = CheckRestrictions();
}

std::string RouteGrid::CheckRestrictions() const {
  std::vector<int> blocksAt(layout_.crossings.size(), 0);
  for (const GraphSegment& s : walking_.segments) {
    ++blocksAt[static_cast<std::size_t>(s.from)];
    ++blocksAt[static_cast<std::size_t>(s.to)];
  }
  for (const GridRestriction& r : layout_.restrictions) {
    const std::string name = "restriction " + std::to_string(r.key);
    const int from = Block(r.from, r.via)->segment;
    const int to = Block(r.via, r.to)->segment;
    if (from == to) return name + " leads back onto its from block";
    if (IsCut(from) || IsCut(to)) return name + " lies on a block that a cell border cuts";
    for (const int c : {r.from, r.via, r.to}) {
      if (blocksAt[static_cast<std::size_t>(c)] < 3) {
        return name + ": crossing " + std::to_string(c) + " is met by fewer than three blocks";
      }
    }
  }
  for (const GridWayRestriction& r : layout_.wayRestrictions) {
    const std::string name = "restriction " + std::to_string(r.key);
    for (const auto& [a, b] : {std::pair{r.from, r.viaStart}, std::pair{r.viaStart, r.viaEnd}, std::pair{r.viaEnd, r.to}}) {
      if (IsCut(Block(a, b)->segment)) return name + " lies on a block that a cell border cuts";
    }
    for (const int c : {r.viaStart, r.viaEnd}) {
      if (blocksAt[static_cast<std::size_t>(c)] < 3) {
        return name + ": crossing " + std::to_string(c) + " is met by fewer than three blocks";
      }
    }
  }
  return {};
}

std::optional<DirectedSegment> RouteGrid::Block(int a, int b) const {
  for (std::size_t s = 0; s < walking_.segments.size(); ++s) {
    const GraphSegment& g = walking_.segments[s];
    if (g.from == a && g.to == b) return DirectedSegment{static_cast<int>(s), true};
    if (g.from == b && g.to == a) return DirectedSegment{static_cast<int>(s), false};
  }
  return std::nullopt;
}

std::vector<RmfFeatureRef> RouteGrid::Refs(DirectedSegment block, std::uint16_t source) const {
  std::vector<RmfFeatureRef> out;
  for (const GridPieceSpan& span : spans_[static_cast<std::size_t>(block.segment)]) {
    const rmfbuild::FeaturePiece& piece = build_.pieces[span.piece];
    RmfFeatureRef r{piece.tileId,      source,          piece.sequence,   piece.entry,
                    span.fromPosition, span.toPosition, kRmfPositionWhole};
    if (!block.forward) std::swap(r.fromVertex, r.toVertex);
    out.push_back(r);
  }
  if (!block.forward) std::reverse(out.begin(), out.end());
  return out;
}

std::optional<std::vector<DirectedSegment>> RouteGrid::Blocks(const RmfFeatureRef* refs, std::size_t count,
                                                              std::string* why) const {
  auto fail = [&](std::string text) {
    if (why) *why = std::move(text);
    return std::nullopt;
  };
  struct Edge {
    int segment;
    int index;
    bool forward;
  };
  std::vector<Edge> edges;
  for (std::size_t e = 0; e < count; ++e) {
    const RmfFeatureRef& r = refs[e];
    const std::string entry = "entry " + std::to_string(e);
    std::size_t piece = build_.pieces.size();
    for (std::size_t p = 0; p < build_.pieces.size(); ++p) {
      const rmfbuild::FeaturePiece& fp = build_.pieces[p];
      if (fp.tileId == r.featureId && fp.sequence == r.secondId && fp.entry == r.part) piece = p;
    }
    if (piece == build_.pieces.size()) return fail(entry + " names no part of the grid");
    const std::vector<std::uint16_t>& pos = positions_[piece];
    const auto i = std::find(pos.begin(), pos.end(), r.fromVertex) - pos.begin();
    const auto j = std::find(pos.begin(), pos.end(), r.toVertex) - pos.begin();
    if (i == static_cast<std::ptrdiff_t>(pos.size()) || j == static_cast<std::ptrdiff_t>(pos.size()) || i == j) {
      return fail(entry + " does not run from point to point of its part");
    }
    for (std::ptrdiff_t k = i; k != j; k += (j > i ? 1 : -1)) {
      const auto& [segment, index] = edges_[piece][static_cast<std::size_t>(j > i ? k : k - 1)];
      edges.push_back(Edge{segment, index, j > i});
    }
  }
  std::vector<DirectedSegment> out;
  int expected = -1;  // next edge of the block under way, -1 between blocks
  for (std::size_t k = 0; k < edges.size(); ++k) {
    const Edge& e = edges[k];
    const int last = edgeCount_[static_cast<std::size_t>(e.segment)] - 1;
    if (expected < 0) {
      if (e.index != (e.forward ? 0 : last)) return fail("the route starts or resumes inside a block");
    } else if (e.segment != out.back().segment || e.forward != out.back().forward || e.index != expected) {
      return fail("the route leaves block " + std::to_string(out.back().segment) + " unfinished");
    }
    if (expected < 0) out.push_back(DirectedSegment{e.segment, e.forward});
    const bool done = e.index == (e.forward ? last : 0);
    expected = done ? -1 : e.index + (e.forward ? 1 : -1);
  }
  if (expected >= 0) return fail("the route ends inside a block");
  return out;
}

RouteGrid RouteGrid::Generate(const GridOptions& o) {
  Draw draw(o.seed);
  GridLayout g;
  g.columns = o.columns;
  g.rows = o.rows;
  g.cutAtCells = o.cutAtCells;
  std::vector<std::pair<double, double>> offsets;
  for (int i = 0; i < o.columns * o.rows; ++i) {
    const double ox = (2 * draw.Uniform() - 1) * o.jitter;
    const double oy = (2 * draw.Uniform() - 1) * o.jitter;
    offsets.emplace_back(ox, oy);
  }
  g.crossings = Crossings(o.columns, o.rows, o.spacingMetres, o.latitude, o.longitude, offsets);

  // Rows, then columns: each run of blocks that are there, cut into lines.
  auto addRuns = [&](int count, int length, auto crossingAt) {
    for (int k = 0; k < count; ++k) {
      std::vector<bool> there;
      for (int i = 0; i + 1 < length; ++i) there.push_back(!draw.Chance(o.missingBlockShare));
      int i = 0;
      while (i + 1 < length) {
        if (!there[static_cast<std::size_t>(i)]) {
          ++i;
          continue;
        }
        int end = i;
        while (end + 1 < length && there[static_cast<std::size_t>(end)]) ++end;
        while (i < end) {
          const int blocks = std::min(
              end - i, 1 + static_cast<int>(draw.Below(static_cast<std::uint32_t>(std::max(o.maxLineBlocks, 1)))));
          GridLine line;
          for (int j = i; j <= i + blocks; ++j) line.crossings.push_back(crossingAt(k, j));
          g.lines.push_back(std::move(line));
          i += blocks;
        }
      }
    }
  };
  addRuns(o.rows, o.columns, [&](int row, int column) { return g.Crossing(column, row); });
  addRuns(o.columns, o.rows, [&](int column, int row) { return g.Crossing(column, row); });
  for (GridLine& line : g.lines) {
    if (!o.speedClasses.empty()) {
      line.speedClass = o.speedClasses[draw.Below(static_cast<std::uint32_t>(o.speedClasses.size()))];
    }
    if (draw.Chance(o.reversedShare)) std::reverse(line.crossings.begin(), line.crossings.end());
    if (draw.Chance(o.oneWayShare)) line.way = draw.Below(2) == 0 ? OneWay::kAlong : OneWay::kAgainst;
  }
  if (o.restrictions <= 0) return RouteGrid(std::move(g));

  // Places for restrictions, found on the grid without them.
  const RouteGrid plain(g);
  if (!plain.ok()) return plain;
  const RouteGraph& drive = plain.Graph(TravelMode::kDriving);
  std::vector<std::vector<int>> at(g.crossings.size());
  for (std::size_t s = 0; s < drive.segments.size(); ++s) {
    at[static_cast<std::size_t>(drive.segments[s].from)].push_back(static_cast<int>(s));
    at[static_cast<std::size_t>(drive.segments[s].to)].push_back(static_cast<int>(s));
  }
  std::vector<std::tuple<int, int, int>> places;
  for (std::size_t v = 0; v < at.size(); ++v) {
    if (at[v].size() < 3) continue;
    const int via = static_cast<int>(v);
    for (const int a : at[v]) {
      const GraphSegment& sa = drive.segments[static_cast<std::size_t>(a)];
      const int from = sa.from == via ? sa.to : sa.from;
      if (plain.IsCut(a) || at[static_cast<std::size_t>(from)].size() < 3 || !sa.open[sa.to == via ? 0 : 1]) continue;
      for (const int b : at[v]) {
        const GraphSegment& sb = drive.segments[static_cast<std::size_t>(b)];
        const int to = sb.from == via ? sb.to : sb.from;
        if (b == a || plain.IsCut(b) || at[static_cast<std::size_t>(to)].size() < 3 ||
            !sb.open[sb.from == via ? 0 : 1]) {
          continue;
        }
        places.emplace_back(from, via, to);
      }
    }
  }
  for (int k = 0; k < o.restrictions && !places.empty(); ++k) {
    const std::size_t pick = draw.Below(static_cast<std::uint32_t>(places.size()));
    const auto [from, via, to] = places[pick];
    places.erase(places.begin() + static_cast<std::ptrdiff_t>(pick));
    g.restrictions.push_back(
        GridRestriction{from, via, to, draw.Chance(o.onlyShare), kFirstKey + static_cast<std::uint32_t>(k)});
  }
  return RouteGrid(std::move(g));
}

}  // namespace routetest
