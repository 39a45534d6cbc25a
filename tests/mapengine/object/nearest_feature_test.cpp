// The street and the area feature near a point, and the location text pieces:
// on a small map of a few streets (the heading decides between a near street
// across it and a farther one along it; at a junction the closer orientation
// wins), and on the demo map against the address nodes of the extract.
#include <gtest/gtest.h>

#include <osmium/handler.hpp>
#include <osmium/io/any_input.hpp>
#include <osmium/osm/node.hpp>
#include <osmium/visitor.hpp>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "mapengine/object/CMap.h"
#include "mapengine/object/Geometry.h"
#include "mapengine/object/NearestFeature.h"
#include "mapengine/object/StreetNames.h"
#include "platform/os/text.h"
#include "tests/mapengine/object/map_engine_fixture.h"
#include "tests/mapengine/object/street_fixtures.h"
#include "tools/rmfbuild/RmfBuilder.h"
#include "tools/rmfbuild/RmfFeatures.h"

namespace {

using street_fixtures::At;
using street_fixtures::Street;

std::string Name(CMap& map, const RmfFeatureRef& f) {
  return IsNullFeatureRef(f) ? std::string() : platform::Utf16ToUtf8(GetStreetName(map, f, false, false, false));
}

// Near the point P (one unit is about 0.29 feet eastwards and 0.49 feet
// northwards): Birch Road runs north 60 feet east of it, Alder Road east 200
// feet north of it and ends short of Birch Road. Far to the east Cedar Road
// (bearing about 74) and Dogwood Road (about 106) leave the junction J.
class NearestFeatureTest : public MapEngineTest {
 protected:
  static constexpr TiPoint P = {street_fixtures::kOriginX + 1000, street_fixtures::kOriginY + 1000};
  static TiPoint J() { return At(2800, 300); }

  void SetUp() override {
    MapEngineTest::SetUp();
    LoadEnglish();
    rmfbuild::FeatureMap map;
    rmfbuild::Feature birch = Street("Birch Road", {At(1207, 0), At(1207, 2500)}, "1\\29\\2\\30");
    // Locality: locality\city\borough\county\state, value country\postcode.
    birch.Attribute(rmfbuild::TextTriple{"121", "DEU\\17033", "Neustadt\\\\\\Seenplatte\\MV"});
    map.Add(std::move(birch));
    rmfbuild::Feature alder = rmfbuild::Feature::Line(rmfbuild::FeatureClass{1, 7, rmfbuild::FeatureCategory::kLine},
                                                      "3 5    2", {At(0, 1408), At(1150, 1408)}, "Alder Road");
    map.Add(std::move(alder));
    map.Add(Street("Cedar Road", {J(), At(3800, 470)}));
    map.Add(Street("Dogwood Road", {J(), At(3800, 130)}));
    const rmfbuild::FeatureBuild built = rmfbuild::BuildFeatureMap(map);
    ASSERT_TRUE(built.ok) << built.error;
    const std::string file = root_ + "/near.rmf";
    std::string error;
    ASSERT_TRUE(rmfbuild::WriteFile(built.description, file, &error)) << error;
    OpenMapFile(file);
    ASSERT_NE(map_->m_Rdr.get(), nullptr);
  }
};

TEST_F(NearestFeatureTest, NothingWithinThreeMilesGivesTheZeroReferenceAndEmptyTexts) {
  // About 10 miles north of every street.
  const TiPoint far{P.x, P.y + 110000};
  for (const int heading : {-1, 0, 90}) {
    SCOPED_TRACE(heading);
    EXPECT_TRUE(IsNullFeatureRef(map_->GetNearestFeature(far, heading, "4567")));
    EXPECT_TRUE(IsNullFeatureRef(map_->GetNearestFeatureInHeading(far, heading, "4567")));
    EXPECT_TRUE(IsNullFeatureRef(GetNearestFeatureInOurOrientationNavigable(*map_, far, heading, "4567")));
    EXPECT_EQ(map_->GetNumberOfLanesText(far, heading), u"");
  }
  std::vector<RmfFeatureRef> list;
  EXPECT_EQ(GetNearbyCrossStreetFeatures(map_->m_Rdr.get(), far, 2, kNearSearchLargestFeet, 15, &list, "567"), 0);
  const RmfFeatureRef none{};
  EXPECT_EQ(map_->GetStreetAddressText(none, far, -1), u"");
  EXPECT_EQ(map_->GetLocalityName(none, true), u"");
  EXPECT_EQ(map_->GetCityNearPoint(far), u"");
  EXPECT_EQ(map_->GetCityText(none, far, true, false), u"");
  EXPECT_EQ(map_->GetAreaText(far), u"");
  EXPECT_EQ(map_->GetStateText(none, far, true), u"");
  EXPECT_EQ(map_->GetCountryText(none, far), u"");
  EXPECT_EQ(map_->GetZipcodeText(none, far), u"");
  EXPECT_EQ(map_->GetRouteLocationText(far), u"");
  // The same searches a few feet from a street do find it.
  EXPECT_EQ(Name(*map_, map_->GetNearestFeature(P, -1, "4567")), "Birch Road");
}

TEST_F(NearestFeatureTest, TheHeadingChoosesTheStreetAlongIt) {
  struct Case {
    int heading;
    const char* nearest;     // GetNearestFeature
    const char* inHeading;   // GetNearestFeatureInHeading
    const char* navigable;   // GetNearestFeatureInOurOrientationNavigable
  };
  // Alder Road runs with an east or west heading, ahead or behind, but it is
  // more than twice as far as Birch Road and over 100 feet away, so the
  // street the user is on stays Birch Road.
  const Case cases[] = {
      {-1, "Birch Road", "Birch Road", "Birch Road"},
      {0, "Birch Road", "Birch Road", "Birch Road"},
      {180, "Birch Road", "Birch Road", "Birch Road"},
      {90, "Birch Road", "Alder Road", "Birch Road"},
      {270, "Birch Road", "Alder Road", "Birch Road"},
      {260, "Birch Road", "Alder Road", "Birch Road"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.heading);
    EXPECT_EQ(Name(*map_, map_->GetNearestFeature(P, c.heading, "567")), c.nearest);
    EXPECT_EQ(Name(*map_, map_->GetNearestFeatureInHeading(P, c.heading, "567")), c.inHeading);
    EXPECT_EQ(Name(*map_, GetNearestFeatureInOurOrientationNavigable(*map_, P, c.heading, "567")), c.navigable);
  }
  // Ahead and behind: both ways along Alder Road are found with an east
  // heading, the features ahead first.
  std::vector<RmfFeatureRef> list;
  ASSERT_GE(map_->GetFeaturesInHeading(P, 2, 90, 15, &list, "567"), 1);
  for (const RmfFeatureRef& f : list) EXPECT_EQ(Name(*map_, f), "Alder Road");
}

TEST_F(NearestFeatureTest, AtAJunctionTheCloserOrientationWins) {
  TiPoint cedar[2], dogwood[2];
  {
    // Orientations of the two streets as the engine computes them.
    cedar[0] = J();
    cedar[1] = At(3800, 470);
    dogwood[0] = J();
    dogwood[1] = At(3800, 130);
  }
  const int cedarBearing = BearingBetweenMapPoints(cedar[0].x, cedar[0].y, cedar[1].x, cedar[1].y);
  const int dogwoodBearing = BearingBetweenMapPoints(dogwood[0].x, dogwood[0].y, dogwood[1].x, dogwood[1].y);
  ASSERT_LT(cedarBearing, 85);
  ASSERT_GT(dogwoodBearing, 95);
  struct Case {
    int heading;
    const char* street;
  };
  // Every candidate lies at distance 0 from the junction.
  const Case cases[] = {
      {cedarBearing, "Cedar Road"},          // exactly along it: taken at once
      {dogwoodBearing, "Dogwood Road"},
      {cedarBearing + 5, "Cedar Road"},
      {dogwoodBearing - 5, "Dogwood Road"},
      {(cedarBearing + 180) % 360, "Cedar Road"},  // against the street's direction
      {(dogwoodBearing + 183) % 360, "Dogwood Road"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.heading);
    EXPECT_EQ(Name(*map_, map_->GetNearestFeature(J(), c.heading, "567")), c.street);
    EXPECT_EQ(Name(*map_, map_->GetNearestFeatureInHeading(J(), c.heading, "567")), c.street);
  }
}

}  // namespace
