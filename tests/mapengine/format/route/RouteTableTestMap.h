// A street map built at test time, read through a memory reader with a test
// profile installed and a route object on it: the fixture of the per-tile
// routing table and stretch walk tests. Streets are lines with a route-class
// attribute; the map keeps the builder's record of where every piece went,
// so a test names a street and gets its block key and part.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/format/features/RmfProfile.h"
#include "mapengine/format/route/RmfRoute.h"
#include "mapengine/format/route/RmfTileRouteTable.h"
#include "tests/mapengine/format/features/TestProfiles.h"
#include "tools/rmfbuild/RmfFeatures.h"
#include "tools/rmfbuild/RmfMemoryReader.h"

namespace routetest {

// A corner of level-0 cells near 53.5 degrees north (both multiples of 4096
// map units), so that tests place streets against cell borders exactly.
inline constexpr std::int32_t kX0 = 4096 * 2414;
inline constexpr std::int32_t kY0 = 4096 * 9740;
inline constexpr std::int32_t kCell = 4096;

inline TiPoint At(std::int32_t dx, std::int32_t dy) { return TiPoint{kX0 + dx, kY0 + dy}; }

// A street of detail level `detail` (tile level detail - 1) whose route class
// (the driving profile's class) is `roadClass`, with speed class `speed`.
inline rmfbuild::Feature Street(const std::string& name, std::vector<TiPoint> points, int roadClass = 3,
                                char speed = '5', int detail = 1, char roadType = '3', char kind = ' ') {
  rmfbuild::Feature f = rmfbuild::Feature::Line(rmfbuild::FeatureClass{detail, 5, rmfbuild::FeatureCategory::kLine},
                                                name, std::move(points));
  f.Attribute(rmfbuild::RouteClassAttribute(roadClass, rmfbuild::RoadValue(roadType, kind, speed), name));
  return f;
}

struct PartName {
  RmfFeatKey key{};
  std::int32_t part = -1;
};

class TestMap {
 public:
  // Builds the map and makes a route on it with the profile installed; ok()
  // says whether all of it worked (failures are reported to gtest).
  // `change`, when given, edits the built description before it is read:
  // the way to a map the builder itself refuses to write.
  explicit TestMap(const rmfbuild::FeatureMap& map, RmfProfileFeatureFn profile = testprofiles::Driving,
                   RmfProfileConnectionFn connection = nullptr,
                   const std::function<void(rmfbuild::MapDescription&)>& change = {})
      : map_(map) {
    if (change) {
      build_ = rmfbuild::BuildFeatureMap(map);
      if (!build_) {
        ADD_FAILURE() << "map not built: " << build_.error;
        return;
      }
      change(build_.description);
      if (memory_.AddMap(build_.description) != 1) {
        ADD_FAILURE() << "map not read: " << memory_.error();
        return;
      }
    } else if (memory_.AddFeatures(map, &build_) != 1) {
      ADD_FAILURE() << "map not built: " << memory_.error();
      return;
    }
    if (RmfProfileSetCallbacks(memory_.reader(), profile, connection, nullptr, kRmfProfileEngineLimit) != 1) {
      ADD_FAILURE() << "profile not installed";
      return;
    }
    if (RmfRouteCreate(&route_, memory_.reader()) != 1) {
      ADD_FAILURE() << "route not created";
      route_ = nullptr;
    }
  }
  ~TestMap() {
    if (route_ != nullptr) {
      EXPECT_EQ(RmfRouteDestroy(route_), 1);
    }
  }
  TestMap(const TestMap&) = delete;
  TestMap& operator=(const TestMap&) = delete;

  bool ok() const { return route_ != nullptr; }
  RmfRoute* route() const { return route_; }
  RmfReader* reader() const { return memory_.reader(); }
  const rmfbuild::FeatureBuild& build() const { return build_; }
  const rmfbuild::FeatureMap& map() const { return map_; }

  // The piece'th piece of feature `feature` (in cutting order).
  PartName Part(std::size_t feature, std::size_t piece = 0) const {
    const std::vector<const rmfbuild::FeaturePiece*> pieces = build_.PiecesOf(feature);
    if (piece >= pieces.size()) {
      ADD_FAILURE() << "feature " << feature << " has no piece " << piece;
      return {};
    }
    const rmfbuild::FeaturePiece& p = *pieces[piece];
    return PartName{RmfFeatKey{p.tileId, 0, p.sequence}, p.entry};
  }
  std::size_t PieceCount(std::size_t feature) const { return build_.PiecesOf(feature).size(); }
  // The feature a part of a block came from; -1 when none.
  int FeatureOf(const RmfFeatKey& key, std::int32_t part) const {
    const rmfbuild::FeaturePiece* p = build_.Find(key.a, key.c, static_cast<std::uint16_t>(part));
    return p == nullptr ? -1 : static_cast<int>(p->feature);
  }

 private:
  rmfbuild::FeatureMap map_;
  rmfbuild::MemoryReader memory_;
  rmfbuild::FeatureBuild build_;
  RmfRoute* route_ = nullptr;
};

// A table held for the length of a scope.
class Table {
 public:
  Table(RmfRoute* route, RmfFeatKey key, int level = -1) : route_(route) {
    result_ = level < 0 ? RmfTileRouteTableBuild(route, key, &table_, nullptr)
                        : RmfTileRouteTableGet(route, key, level, &table_);
  }
  ~Table() {
    if (table_ != nullptr) {
      EXPECT_EQ(RmfTileRouteTableRelease(route_, table_), 1);
    }
  }
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;
  std::int32_t result() const { return result_; }
  const RmfTileRouteTable* operator->() const { return table_; }
  const RmfTileRouteTable* get() const { return table_; }

 private:
  RmfRoute* route_;
  RmfTileRouteTable* table_ = nullptr;
  std::int32_t result_ = 0;
};

// A record held in a feature slot for the length of a scope.
class Record {
 public:
  Record(RmfReader* reader, RmfFeatKey key) {
    const RmfFeatureRef ref{key.a, key.b, key.c, 0, 0, 0, 0};
    if (RmfFeatureFetch(reader, ref, &slot_, nullptr) != 1) slot_ = nullptr;
  }
  ~Record() {
    if (slot_ != nullptr) {
      EXPECT_EQ(RmfFeatureRelease(slot_), 1);
    }
  }
  Record(const Record&) = delete;
  Record& operator=(const Record&) = delete;
  RmfFeature* get() const { return slot_; }

  // The vertex positions of a part, first to last.
  std::vector<std::int32_t> Vertices(std::int32_t part) const {
    std::vector<std::int32_t> out;
    for (std::int32_t position = -1;;) {
      std::int32_t found = -1;
      if (RmfFeatureNextNode(slot_, part, position, 1, &found, nullptr) < 0) break;
      out.push_back(found);
      position = found;
    }
    return out;
  }

 private:
  RmfFeature* slot_ = nullptr;
};

// The node word pair of the node at a position; null when there is none.
inline const std::uint32_t* NodeAt(const RmfTileRouteTable* t, TiPoint at) {
  const std::int32_t node = RmfTileRouteNodeFind(t, at);
  return node < 0 ? nullptr : RmfTableNodeWords(t, node);
}

// The incidences of the node at a position (empty when none).
inline std::vector<std::uint32_t> IncidencesAt(const RmfTileRouteTable* t, TiPoint at) {
  const std::int32_t node = RmfTileRouteNodeFind(t, at);
  const std::uint32_t* words = nullptr;
  const std::int32_t n = node < 0 ? 0 : RmfTileRouteNodeIncidences(t, node, &words);
  return std::vector<std::uint32_t>(words, words + n);
}

}  // namespace routetest
