// The town of the cross-street tests, read back from the built map: what the
// fixture's data says meets at each intersection is what the map holds there,
// and its block positions lie on their street with the intersection they
// name straight ahead.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "mapengine/format/features/RmfFeatureAttr.h"
#include "mapengine/object/Geometry.h"
#include "mapengine/object/NearestFeature.h"
#include "tests/mapengine/object/street_fixtures.h"
#include "tests/mapengine/object/town_fixture.h"

namespace {

class TownTest : public ::testing::Test {
 protected:
  void SetUp() override {
    town::AddTown(map_);
    ASSERT_TRUE(map_.Build());
  }

  // The features within 2 feet of a point.
  std::vector<RmfFeatureRef> FeaturesAt(TiPoint p) const {
    std::vector<RmfFeatureRef> list;
    GetNearbyCrossStreetFeatures(map_.reader(), p, 1, 2, kNearFeaturesLimit, &list, "4567");
    return list;
  }

  // A feature as it leaves `at`: its raw name and road type (its route-class
  // attribute's name and first value character), and the bearing to
  // its point next to `at`; the bearing is -1 when neither end lies at `at`.
  town::CrossStreetAt Leaving(const RmfFeatureRef& f, TiPoint at) const {
    town::CrossStreetAt leaving{"", 0, -1};
    char code[kRmfAttrCodeChars + 1];
    char value[kRmfAttrValueChars + 1];
    char name[kRmfAttrNameChars + 1];
    for (std::int32_t i = 0; RmfFeatureAttribute(map_.reader(), f, i, code, value, name) >= 1; ++i) {
      if (!HasAttributeCodePair(code, '7', '1')) continue;
      leaving.name = name;
      leaving.roadType = value[0];
      break;
    }
    std::vector<TiPoint> points(kMaxFeaturePoints);
    const std::int32_t n = GetFeaturePointsCapped(map_.reader(), f, points.data());
    if (n >= 2 && points[0].x == at.x && points[0].y == at.y) {
      leaving.bearing = BearingBetweenMapPoints(at.x, at.y, points[1].x, points[1].y);
    } else if (n >= 2 && points[n - 1].x == at.x && points[n - 1].y == at.y) {
      leaving.bearing = BearingBetweenMapPoints(at.x, at.y, points[n - 2].x, points[n - 2].y);
    }
    return leaving;
  }

  street_fixtures::StreetMap map_;
};

std::string Describe(const std::vector<town::CrossStreetAt>& streets) {
  std::string s;
  for (const town::CrossStreetAt& c : streets) {
    s += "[" + c.name + " '" + std::string(1, c.roadType) + "' " + std::to_string(c.bearing) + "] ";
  }
  return s;
}

TEST_F(TownTest, EveryFeatureIsWholeInOneTile) {
  const std::size_t count = town::TownMap().features.size();
  ASSERT_GT(count, 30u);
  for (std::size_t i = 0; i < count; ++i) EXPECT_EQ(map_.PieceCount(i), 1u) << "feature " << i;
}

TEST_F(TownTest, TheStreetsOfEachIntersectionMeetThere) {
  ASSERT_EQ(town::Intersections().size(), static_cast<std::size_t>(town::kIntersectionCount));
  for (const town::Intersection& x : town::Intersections()) {
    SCOPED_TRACE(x.what);
    std::vector<town::CrossStreetAt> found;
    for (const RmfFeatureRef& f : FeaturesAt(x.at)) found.push_back(Leaving(f, x.at));
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.bearing < b.bearing; });
    ASSERT_EQ(found.size(), x.streets.size()) << Describe(found);
    for (std::size_t i = 0; i < found.size(); ++i) {
      EXPECT_EQ(found[i].name, x.streets[i].name) << Describe(found);
      EXPECT_EQ(found[i].roadType, x.streets[i].roadType) << Describe(found);
      EXPECT_EQ(found[i].bearing, x.streets[i].bearing) << Describe(found);
    }
  }
}

TEST_F(TownTest, TheExitSignIsOnTheFreewayAndItsKeyOnTheRamp) {
  std::vector<std::string> signs;
  for (const RmfFeatureRef& f : FeaturesAt(town::kExit)) {
    const town::CrossStreetAt leaving = Leaving(f, town::kExit);
    char code[kRmfAttrCodeChars + 1];
    char value[kRmfAttrValueChars + 1];
    char name[kRmfAttrNameChars + 1];
    for (std::int32_t i = 0; RmfFeatureAttribute(map_.reader(), f, i, code, value, name) >= 1; ++i) {
      if (HasAttributeCodePair(code, '7', 'B')) signs.push_back(std::string(1, leaving.roadType) + " " + value + " " + name);
    }
  }
  std::sort(signs.begin(), signs.end());
  const std::string sign = std::string("1 0SB ") + town::kSignText;
  EXPECT_EQ(signs, (std::vector<std::string>{sign, sign, std::string("9 0SE ") + town::kSignKey}));
}

TEST_F(TownTest, EndsOfStreetsMeetNothing) {
  for (const TiPoint end : {town::kDeadEnd, town::kTunnelEnd, town::kFreewayWestEnd, town::kFreewayEastEnd}) {
    EXPECT_EQ(FeaturesAt(end).size(), 1u) << end.x << " " << end.y;
  }
}

TEST_F(TownTest, BlockPositionsLieOnTheirStreetFacingTheIntersectionAhead) {
  for (const town::BlockPosition& p : town::BlockPositions()) {
    SCOPED_TRACE(std::string(p.street) + " heading " + std::to_string(p.heading));
    // Within a segment the search gives the feature once each way along it.
    const std::vector<RmfFeatureRef> here = FeaturesAt(p.at);
    ASSERT_FALSE(here.empty());
    for (const RmfFeatureRef& f : here) {
      EXPECT_TRUE(f.featureId == here[0].featureId && f.secondId == here[0].secondId && f.part == here[0].part)
          << "another feature near the position";
    }
    EXPECT_EQ(Leaving(here[0], p.at).name, p.street);
    if (p.ahead < 0) continue;
    const TiPoint ahead = town::Intersections()[static_cast<std::size_t>(p.ahead)].at;
    EXPECT_EQ(BearingBetweenMapPoints(p.at.x, p.at.y, ahead.x, ahead.y), p.heading);
    // Nothing meets the street between the position and the intersection:
    // the position's feature reaches it.
    EXPECT_NE(Leaving(here[0], ahead).bearing, -1);
  }
}

}  // namespace
