// Ground truth for feature-query tests: which features of a FeatureMap meet
// a convex query polygon, worked out in doubles from the description.
//
// The polygon is turned counter-clockwise and held as the half-planes of its
// edges (inward unit normals), so the distance of a point from each edge is
// one dot product. A point meets when it lies on the inner side of every
// edge (on an edge counts); a segment meets when the part of it on the
// inner side of all edges is not empty (each edge clips the segment's
// parameter interval); an area meets when one of its ring segments meets,
// or when no ring meets and a point of the polygon lies inside the area
// (even-odd over all rings). Each decision is made again with every edge
// moved outward and inward by the tolerance; when the two disagree the
// feature is marginal: rounding (cut points, the query polygon clipped to a
// source's box) may tip it either way.
#include <algorithm>
#include <cmath>

#include "tools/rmfbuild/RmfFeatureCut.h"
#include "tools/rmfbuild/RmfFeatures.h"

namespace rmfbuild {
namespace {

struct Edge {
  double ax, ay;  // start corner
  double nx, ny;  // inward unit normal
};

struct Region {
  std::vector<Edge> edges;
  double cx = 0, cy = 0;  // mean of the corners: a point inside
};

double Distance(const Edge& e, double x, double y) { return e.nx * (x - e.ax) + e.ny * (y - e.ay); }

bool PointMeets(const Region& r, double x, double y, double grow) {
  for (const Edge& e : r.edges) {
    if (Distance(e, x, y) + grow < 0) return false;
  }
  return true;
}

bool SegmentMeets(const Region& r, const TiPoint& a, const TiPoint& b, double grow) {
  double t0 = 0, t1 = 1;
  for (const Edge& e : r.edges) {
    const double f0 = Distance(e, a.x, a.y) + grow;
    const double f1 = Distance(e, b.x, b.y) + grow;
    if (f0 < 0 && f1 < 0) return false;
    if (f0 < 0) t0 = std::max(t0, f0 / (f0 - f1));
    if (f1 < 0) t1 = std::min(t1, f0 / (f0 - f1));
    if (t0 > t1) return false;
  }
  return true;
}

bool RunMeets(const Region& r, const std::vector<TiPoint>& points, bool closed, double grow) {
  if (points.size() == 1) return PointMeets(r, points[0].x, points[0].y, grow);
  for (std::size_t i = 0; i + 1 < points.size(); ++i) {
    if (SegmentMeets(r, points[i], points[i + 1], grow)) return true;
  }
  return closed && points.size() > 2 && SegmentMeets(r, points.back(), points.front(), grow);
}

// Even-odd over all rings.
bool InsideArea(const Feature& f, double x, double y) {
  bool inside = false;
  for (const FeatureRing& ring : f.rings) {
    const std::vector<TiPoint>& p = ring.points;
    for (std::size_t i = 0, j = p.size() - 1; i < p.size(); j = i++) {
      const double xi = p[i].x, yi = p[i].y, xj = p[j].x, yj = p[j].y;
      if ((yi > y) != (yj > y) && x < (xj - xi) * (y - yi) / (yj - yi) + xi) inside = !inside;
    }
  }
  return inside;
}

bool Meets(const Feature& f, const Region& r, double grow) {
  switch (f.featureClass.category) {
    case FeatureCategory::kPoint:
      return PointMeets(r, f.points[0].x, f.points[0].y, grow);
    case FeatureCategory::kLine:
    case FeatureCategory::kBoundary:
      return RunMeets(r, f.points, false, grow);
    case FeatureCategory::kArea:
      for (const FeatureRing& ring : f.rings) {
        if (RunMeets(r, ring.points, true, grow)) return true;
      }
      // No ring reaches the polygon: it lies wholly inside the area or outside.
      return PointMeets(r, r.cx, r.cy, grow) && InsideArea(f, r.cx, r.cy);
  }
  return false;
}

// Class digits among the first 9 characters of a filter text.
unsigned ClassMask(const std::string& text) {
  unsigned mask = 0;
  for (std::size_t i = 0; i < text.size() && i < 9; ++i) {
    if (text[i] >= '1' && text[i] <= '7') mask |= 1u << (text[i] - '1');
  }
  return mask;
}

bool PrepareRegion(const std::vector<TiPoint>& polygon, Region* out, std::string* error) {
  std::vector<TiPoint> p = polygon;
  if (p.size() > 1 && p.front().x == p.back().x && p.front().y == p.back().y) p.pop_back();
  if (p.size() < 3) {
    *error = "a query polygon needs at least 3 corners";
    return false;
  }
  const std::size_t n = p.size();
  double area = 0;
  bool left = false, right = false;
  for (std::size_t i = 0; i < n; ++i) {
    const TiPoint& a = p[i];
    const TiPoint& b = p[(i + 1) % n];
    const TiPoint& c = p[(i + 2) % n];
    if (a.x == b.x && a.y == b.y) {
      *error = "the query polygon repeats a corner";
      return false;
    }
    const double turn = (static_cast<double>(b.x) - a.x) * (static_cast<double>(c.y) - b.y) -
                        (static_cast<double>(b.y) - a.y) * (static_cast<double>(c.x) - b.x);
    left = left || turn > 0;
    right = right || turn < 0;
    area += static_cast<double>(a.x) * b.y - static_cast<double>(b.x) * a.y;
  }
  if (left && right) {
    *error = "the query polygon is not convex";
    return false;
  }
  if (area == 0) {
    *error = "the query polygon has no area";
    return false;
  }
  if (area < 0) std::reverse(p.begin(), p.end());
  for (std::size_t i = 0; i < n; ++i) {
    const TiPoint& a = p[i];
    const TiPoint& b = p[(i + 1) % n];
    const double dx = static_cast<double>(b.x) - a.x, dy = static_cast<double>(b.y) - a.y;
    const double length = std::hypot(dx, dy);
    out->edges.push_back(Edge{static_cast<double>(a.x), static_cast<double>(a.y), -dy / length, dx / length});
    out->cx += a.x / static_cast<double>(n);
    out->cy += a.y / static_cast<double>(n);
  }
  return true;
}

}  // namespace

std::vector<std::size_t> ExpectedResult::Certain() const {
  std::vector<std::size_t> out;
  for (const ExpectedFeature& f : features) {
    if (f.meets && !f.marginal) out.push_back(f.feature);
  }
  return out;
}

std::vector<std::size_t> ExpectedResult::Possible() const {
  std::vector<std::size_t> out;
  for (const ExpectedFeature& f : features) out.push_back(f.feature);
  return out;
}

const ExpectedFeature* ExpectedResult::Find(std::size_t feature) const {
  for (const ExpectedFeature& f : features) {
    if (f.feature == feature) return &f;
  }
  return nullptr;
}

std::vector<TiPoint> QueryRectPolygon(const TiRect& rect) {
  std::int32_t x1 = rect.x1, y1 = rect.y1, x2 = rect.x2, y2 = rect.y2;
  if (y1 == y2) y2 = y2 == 0x4000000 ? 0x3FFFFFF : y2 + 1;
  if (x1 == x2) x2 = x2 == 0x8000000 ? 0x7FFFFFF : x2 + 1;
  return {TiPoint{x1, y1}, TiPoint{x1, y2}, TiPoint{x2, y2}, TiPoint{x2, y1}};
}

ExpectedResult ExpectedFeatures(const FeatureMap& map, const TiRect& rect, int levelLow, int levelHigh,
                                const ClassFilters& filters, double tolerance) {
  return ExpectedFeatures(map, QueryRectPolygon(rect), levelLow, levelHigh, filters, tolerance);
}

ExpectedResult ExpectedFeatures(const FeatureMap& map, const std::vector<TiPoint>& polygon, int levelLow,
                                int levelHigh, const ClassFilters& filters, double tolerance) {
  ExpectedResult out;
  Region region;
  if (!PrepareRegion(polygon, &region, &out.error)) return out;
  if (out.error = detail::CheckTileLevels(map.tileLevels); !out.error.empty()) return out;
  const int low = std::min(levelLow, levelHigh);
  const int high = std::max(levelLow, levelHigh);
  const unsigned masks[4] = {ClassMask(filters.points), ClassMask(filters.lines), ClassMask(filters.areas),
                             ClassMask(filters.boundaries)};
  const double margin = std::max(0.0, tolerance);

  for (std::size_t i = 0; i < map.features.size(); ++i) {
    const Feature& f = map.features[i];
    const std::string why = detail::CheckFeature(f);
    if (!why.empty()) {
      out.error = "feature " + std::to_string(i) + ": " + why;
      out.features.clear();
      return out;
    }
    const FeatureClass& c = f.featureClass;
    if (c.level < low || c.level > high) continue;
    int category = 0;
    switch (c.category) {
      case FeatureCategory::kPoint: category = 0; break;
      case FeatureCategory::kLine: category = 1; break;
      case FeatureCategory::kArea: category = 2; break;
      case FeatureCategory::kBoundary: category = 3; break;
    }
    if ((masks[category] & (1u << (c.classDigit - 1))) == 0) continue;

    ExpectedFeature e;
    e.feature = i;
    e.category = c.category;
    e.meets = Meets(f, region, 0);
    e.marginal = Meets(f, region, margin) != Meets(f, region, -margin);
    if (!e.meets && !e.marginal) continue;
    switch (c.category) {
      case FeatureCategory::kPoint: e.relation = QueryRelation::kInside; break;
      case FeatureCategory::kLine:
      case FeatureCategory::kBoundary: e.relation = QueryRelation::kMeets; break;
      case FeatureCategory::kArea: {
        // The query walks the rings as written, the seams of a cut area included.
        e.relation = QueryRelation::kEncloses;
        const std::size_t level = static_cast<std::size_t>(c.level - 1);
        detail::CutResult cut = detail::CutFeature(f, map.tileLevels[level]);
        if (!cut.ok) {
          out.error = "feature " + std::to_string(i) + ": " + cut.error;
          out.features.clear();
          return out;
        }
        for (const detail::CutPiece& piece : cut.pieces) {
          if (RunMeets(region, piece.points, true, 0)) e.relation = QueryRelation::kRingsMeet;
        }
        break;
      }
    }
    out.features.push_back(e);
  }
  out.ok = true;
  return out;
}

}  // namespace rmfbuild
