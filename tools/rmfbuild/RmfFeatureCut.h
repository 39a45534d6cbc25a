// Internal to the feature builder: checking a feature's geometry and cutting
// it into the pieces that go to single tiles. BuildFeatureMap writes the
// pieces; ExpectedFeatures looks at them to tell whether an area's written
// rings (the cut seams included) meet a query polygon.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "mapengine/format/base/TiTypes.h"
#include "tools/rmfbuild/RmfFeatures.h"

namespace rmfbuild::detail {

inline constexpr std::int32_t kWorldMinX = -(1 << 27);
inline constexpr std::int32_t kWorldMaxX = (1 << 27) - 1;
inline constexpr std::int32_t kWorldMinY = -(1 << 26);
inline constexpr std::int32_t kWorldMaxY = (1 << 26) - 1;

// One piece of a feature, bound for one tile.
struct CutPiece {
  std::uint32_t tileId = 0;
  std::int32_t tileLevel = 0;
  bool whole = false;           // the feature was not cut
  bool ring = false;            // an area ring: `points` without the closing point
  std::vector<TiPoint> points;  // as written (a ring in its written turn)
  std::vector<int> vertices;    // points and lines: source vertex per point, -1 for cut points
  std::vector<double> positions;  // lines: each point's place along the source line
                                  // (vertex index plus fraction of the next segment)
  double from = 0;                // lines: span along the source line
  double to = 0;
  char mark = 0;                // the own code's mark: a ring's, or the feature's for points and lines
};

struct CutResult {
  bool ok = false;
  std::string error;
  std::vector<CutPiece> pieces;  // lines in order along the line; areas cell by cell
};

// Empty when every detail level's tile levels are an ascending range in
// 0..15, else why not.
std::string CheckTileLevels(const std::array<TileLevelRange, 8>& levels);

// Empty when the feature can be written, else why not.
std::string CheckFeature(const Feature& feature);

// The feature's pieces for the tile levels its detail level may use. The
// feature must have passed CheckFeature.
CutResult CutFeature(const Feature& feature, const TileLevelRange& levels);

// Twice the signed area of a ring (positive counter-clockwise), exact for
// rings inside the world.
std::int64_t RingArea2(const std::vector<TiPoint>& ring);

}  // namespace rmfbuild::detail
