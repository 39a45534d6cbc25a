// Streets on a map built at test time and read through a memory reader: the
// fixture of the geometry and street-walk tests. Streets are class-7 lines of
// detail level 1 whose own triple is the route-class attribute (the street
// name as its name text), as the converter writes them, optionally with an
// address-range attribute ("12B-+", scheme "A", "from1\to1\from2\to2").
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/format/RmfTypes.h"
#include "tools/rmfbuild/RmfFeatures.h"
#include "tools/rmfbuild/RmfMemoryReader.h"

namespace street_fixtures {

// Map units near Neubrandenburg (53.55 N, 13.26 E), where one unit is about
// 0.49 feet northwards and 0.29 feet eastwards. The origin lies 1350 units
// inside the south-west corner of a tile of the finest level (whose cells
// are about 5000 units wide), so streets up to about 3000 units east and
// north of it stay whole.
inline constexpr std::int32_t kOriginX = 9885000;
inline constexpr std::int32_t kOriginY = 39929160;
inline TiPoint At(std::int32_t dx, std::int32_t dy) { return TiPoint{kOriginX + dx, kOriginY + dy}; }

inline rmfbuild::Feature Street(const std::string& name, std::vector<TiPoint> points, const std::string& range = {}) {
  rmfbuild::Feature f = rmfbuild::Feature::Line(rmfbuild::FeatureClass{1, 7, rmfbuild::FeatureCategory::kLine},
                                                rmfbuild::RoadValue('3', ' ', '5'), std::move(points), name);
  if (!range.empty()) f.Attribute(rmfbuild::TextTriple{"12B-+", "A", range});
  return f;
}

// A street of another road type (route-class value: road type, kind, speed
// class 'F', toll mark), one-way when told: '1' freeway and '9' ramp (kind
// '1'), '8' roundabout, '2' and '3' main and local roads.
inline rmfbuild::Feature Road(const std::string& name, std::vector<TiPoint> points, char roadType, char kind = ' ',
                              bool toll = false, rmfbuild::OneWay way = rmfbuild::OneWay::kBoth) {
  rmfbuild::Feature f = rmfbuild::Feature::Line(rmfbuild::FeatureClass{1, 7, rmfbuild::FeatureCategory::kLine},
                                                rmfbuild::RoadValue(roadType, kind, 'F', toll), std::move(points), name);
  f.SetOneWay(way);
  return f;
}

class StreetMap {
 public:
  StreetMap() : maps_(16u << 20) {}

  std::size_t Add(rmfbuild::Feature f) { return map_.Add(std::move(f)); }
  rmfbuild::FeatureMap& Map() { return map_; }

  // Builds the map and adds it to the reader; false (with a test failure)
  // when the builder or the reader refuses it.
  bool Build() {
    if (maps_.reader() == nullptr) {
      ADD_FAILURE() << "no reader";
      return false;
    }
    if (maps_.AddFeatures(map_, &built_) < 1) {
      ADD_FAILURE() << maps_.error();
      return false;
    }
    return true;
  }

  RmfReader* reader() const { return maps_.reader(); }

  // The whole part of a feature's piece (its first part unless told).
  RmfFeatureRef Whole(std::size_t feature, std::size_t piece = 0) const {
    const auto pieces = built_.PiecesOf(feature);
    if (piece >= pieces.size()) {
      ADD_FAILURE() << "feature " << feature << " has no piece " << piece;
      return RmfFeatureRef{};
    }
    const RmfFeatureRef part{pieces[piece]->tileId, 0, pieces[piece]->sequence, pieces[piece]->entry, 0, 0,
                             kRmfPositionWhole};
    RmfFeatureRef whole{};
    EXPECT_EQ(RmfFeatureRefWhole(reader(), part, &whole), 1);
    return whole;
  }
  std::size_t PieceCount(std::size_t feature) const { return built_.PiecesOf(feature).size(); }

 private:
  rmfbuild::FeatureMap map_;
  rmfbuild::FeatureBuild built_;
  rmfbuild::MemoryReader maps_;
};

}  // namespace street_fixtures
