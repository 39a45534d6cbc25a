// Ramp labels and the intersection test on small maps: a freeway (A 20) with
// an exit ramp down to Main Street, the junction signs read into the table
// and the ramp named from them, ramps without signs named by the street a
// walk reaches, walks that never reach a street, the label without a walk,
// a language library whose templates do not fit, and the intersection tests.
#include <gtest/gtest.h>

#include <filesystem>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/format/features/RmfProfile.h"
#include "mapengine/object/CMap.h"
#include "mapengine/object/Geometry.h"
#include "mapengine/object/NearestFeature.h"
#include "mapengine/object/RampLabels.h"
#include "mapengine/object/StreetNames.h"
#include "platform/os/text.h"
#include "tests/mapengine/object/map_engine_fixture.h"
#include "tests/mapengine/object/street_fixtures.h"
#include "tools/rmfbuild/RmfBuilder.h"
#include "tools/rmfbuild/RmfFeatures.h"

namespace {

using street_fixtures::At;
using street_fixtures::Road;
using street_fixtures::Street;

constexpr char kFreeway = '1';
constexpr char kRamp = '9';

// The freeway runs east through J; the ramp leaves it at J and meets Main
// Street at K, some 150 feet south-east.
TiPoint J() { return At(1000, 0); }
TiPoint K() { return At(1500, -600); }

rmfbuild::TextTriple Sign(const std::string& value, const std::string& name) {
  return rmfbuild::TextTriple{"17B", value, name};
}

std::string U8(const std::u16string& text) { return platform::Utf16ToUtf8(text); }

class RampLabelsTest : public MapEngineTest {
 protected:
  // Writes the features to a map file and opens it in place of the last one.
  void Open(rmfbuild::FeatureMap& map) {
    ASSERT_EQ(map_->CleanUp(), S_OK);
    std::filesystem::remove_all(root_ + "/Storage Card/Maps");
    ASSERT_NO_FATAL_FAILURE(OpenBuiltMap(map, "ramps.rmf"));
    LoadEnglish();  // the library goes with the maps
  }

  // The freeway in two pieces meeting at J, Main Street in two pieces
  // meeting at K, and the ramp between them, one-way as told; `freewaySigns`
  // and `rampSigns` go on the features at J and on the ramp.
  void OpenExitMap(rmfbuild::OneWay rampWay, const std::vector<rmfbuild::TextTriple>& freewaySigns = {},
                   const std::vector<rmfbuild::TextTriple>& rampSigns = {}) {
    rmfbuild::FeatureMap map;
    for (auto points : {std::vector<TiPoint>{At(0, 0), J()}, std::vector<TiPoint>{J(), At(2000, 0)}}) {
      rmfbuild::Feature freeway = Road("A 20", points, kFreeway, '1');
      for (const auto& sign : freewaySigns) freeway.Attribute(sign);
      map.Add(std::move(freeway));
    }
    map.Add(Street("Main Street", {At(1000, -600), K()}));
    map.Add(Street("Main Street", {K(), At(2000, -600)}));
    rmfbuild::Feature ramp = Road("", {J(), K()}, kRamp, '1', false, rampWay);
    for (const auto& sign : rampSigns) ramp.Attribute(sign);
    map.Add(std::move(ramp));
    Open(map);
  }

  // The whole feature near `point` that the test picks.
  RmfFeatureRef FeatureNear(TiPoint point, const std::function<bool(const RmfFeatureRef&)>& pick) {
    std::vector<RmfFeatureRef> list;
    GetNearbyCrossStreetFeatures(map_->m_Rdr.get(), point, 2, 64, 15, &list, "4567");
    for (const RmfFeatureRef& f : list) {
      if (!pick(f)) continue;
      RmfFeatureRef whole{};
      EXPECT_EQ(RmfFeatureRefWhole(map_->m_Rdr.get(), f, &whole), 1);
      return whole;
    }
    ADD_FAILURE() << "no such feature near (" << point.x << ", " << point.y << ")";
    return RmfFeatureRef{};
  }
  RmfFeatureRef RampNear(TiPoint point) {
    return FeatureNear(point, [&](const RmfFeatureRef& f) { return IsFeatureARamp(map_->m_Rdr.get(), f); });
  }
  std::vector<RmfFeatureRef> FeaturesAt(TiPoint point) {
    std::vector<RmfFeatureRef> list;
    GetNearbyCrossStreetFeatures(map_->m_Rdr.get(), point, 1, 2, 15, &list, "567");
    return list;
  }
  bool Logged(const std::u16string& part) const {
    for (const auto& line : debugOutput_) {
      if (line.find(part) != std::u16string::npos) return true;
    }
    return false;
  }
};

// ---- the junction's signs ----------------------------------------------------------------

TEST_F(RampLabelsTest, JunctionSignsAreReadIntoTheTableOnlyWhenARampIsThere) {
  struct Case {
    const char* name;         // the sign's name text
    const char* exitNumber;   // what the table holds under "E12"
    const char* roadName;
    const char* toward;
  };
  const Case cases[] = {
      {"E12\\:EX/12\\:CN/B 104\\:TO/Berlin", "12", "B 104", "Berlin"},
      {"E12\\:TO/Berlin\\:TO/Hamburg\\:TO/Rostock", "", "", "Berlin, Hamburg, Rostock"},
      {"E12\\:CN:RN/B 96\\:EX/3a", "3a", "B 96", ""},
      {"E12\\:CN/B 96//Stralsund", "", "B 96 Stralsund", ""},
      {"E12\\:CN/Ring Road West//Ring Road", "", "Ring Road West", ""},
      // Malformed sign text is skipped: a bare ":CN" carries no name.
      {"E12\\:CN\\:EX/4", "4", "", ""},
      {"E12\\:CN", "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OpenExitMap(rmfbuild::OneWay::kBoth, {Sign("0SB", c.name)});
    RampExitInfoMap exits;
    ASSERT_EQ(UpdateRampExitInfo(*map_, exits, FeaturesAt(J())), 1);
    ASSERT_EQ(exits.size(), 1u);
    const RampExitInfo& info = exits.at(u"E12");
    EXPECT_EQ(U8(info.exitNumber), c.exitNumber);
    EXPECT_EQ(U8(info.roadName), c.roadName);
    EXPECT_EQ(U8(info.toward), c.toward);
  }

  // The same signs where no ramp meets: nothing is read.
  std::vector<RmfFeatureRef> freewayOnly;
  for (const RmfFeatureRef& f : FeaturesAt(J())) {
    if (!IsFeatureARamp(map_->m_Rdr.get(), f)) freewayOnly.push_back(f);
  }
  ASSERT_EQ(freewayOnly.size(), 2u);
  RampExitInfoMap exits;
  EXPECT_EQ(UpdateRampExitInfo(*map_, exits, freewayOnly), 0);
  EXPECT_TRUE(exits.empty());
}

// ---- labels ----------------------------------------------------------------------------------

TEST_F(RampLabelsTest, AnExitRampWithSignsIsNamedFromThem) {
  OpenExitMap(rmfbuild::OneWay::kAlong, {Sign("0SB", "E12\\:EX/12\\:CN/B 104\\:TO/Berlin\\:TO/Hamburg")},
              {Sign("0SE", "E12")});
  RampExitInfoMap exits;
  ASSERT_EQ(UpdateRampExitInfo(*map_, exits, FeaturesAt(J())), 1);
  EXPECT_EQ(U8(map_->GetRampConnections(exits, J(), RampNear(J()), true)),
            "Ramp to B 104. Exit 12, toward Berlin, Hamburg");

  // A ramp whose sign is not in the table is named by where it leads.
  RampExitInfoMap other;
  other.emplace(u"E13", RampExitInfo{u"13", u"B 96", u"Stralsund"});
  EXPECT_EQ(U8(map_->GetRampConnections(other, J(), RampNear(J()), true)), "Ramp to Main Street");
}

TEST_F(RampLabelsTest, ARampWithoutSignsIsNamedByTheStreetItsWalkReaches) {
  struct Case {
    const char* what;
    rmfbuild::OneWay way;
    bool fromFreeway;  // the intersection is J (else K)
    const char* label;
  };
  const Case cases[] = {
      // Travelled away from the intersection: the ramp leads to the street.
      {"exit ramp seen from the freeway", rmfbuild::OneWay::kAlong, true, "Ramp to Main Street"},
      {"entrance ramp seen from the street", rmfbuild::OneWay::kAgainst, false, "Ramp onto A 20"},
      // Travelled toward the intersection: the ramp comes from the street.
      {"entrance ramp seen from the freeway", rmfbuild::OneWay::kAgainst, true, "Ramp from Main Street"},
      {"exit ramp seen from the street", rmfbuild::OneWay::kAlong, false, "Ramp from A 20"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    OpenExitMap(c.way);
    const TiPoint at = c.fromFreeway ? J() : K();
    EXPECT_EQ(U8(map_->GetRampConnections({}, at, RampNear(at), true)), c.label);
    EXPECT_TRUE(Logged(u"SetVirtualExplore"));
  }
}

TEST_F(RampLabelsTest, AnUnnamedConnectorIsNamedByTheNamedStreetItLeadsTo) {
  rmfbuild::FeatureMap map;
  map.Add(Street("Main Street", {At(0, 0), At(1000, 0)}));
  map.Add(Street("Main Street", {At(1000, 0), At(2000, 0)}));
  // Two unnamed pieces from Main Street north to Oak Street.
  map.Add(Road("", {At(1000, 0), At(1000, 400)}, '3'));
  map.Add(Road("", {At(1000, 400), At(1000, 800)}, '3'));
  map.Add(Street("Oak Street", {At(0, 800), At(1000, 800)}));
  map.Add(Street("Oak Street", {At(1000, 800), At(2000, 800)}));
  Open(map);
  const RmfFeatureRef connector = FeatureNear(At(1000, 100), [&](const RmfFeatureRef& f) {
    return map_->IsFallbackStreetName(GetStreetName(*map_, f, false, false, false));
  });
  EXPECT_EQ(U8(map_->GetRampConnections({}, At(1000, 0), connector, false)), "Connector to Oak Street");

  // Between the two unnamed pieces the name lies at the far end of the piece
  // other than the one come along; past the depth limit nothing is looked at.
  EXPECT_EQ(U8(FindConnectedStreetName(*map_, At(1000, 400), connector, 0)), "Oak Street");
  EXPECT_EQ(U8(FindConnectedStreetName(*map_, At(1000, 400), connector, kConnectedNameMaxDepth)), "Ramp");
  EXPECT_EQ(U8(FindConnectedStreetName(*map_, At(1000, 3000), connector, 0)), "Ramp");
}

TEST_F(RampLabelsTest, RampNetworksThatNeverReachAStreetEndAsRamp) {
  struct Case {
    const char* what;
    int pieces;  // ramps after the one at J
    bool ring;   // the last piece returns to the first one's end
  };
  const Case cases[] = {
      {"a ring of ramps", 4, true},
      {"a chain of ramps longer than the walk may go", 140, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    debugOutput_.clear();
    rmfbuild::FeatureMap map;
    map.Add(Road("A 20", {At(0, 0), J()}, kFreeway, '1'));
    map.Add(Road("A 20", {J(), At(2000, 0)}, kFreeway, '1'));
    std::vector<TiPoint> points;
    const TiPoint corners[] = {At(1000, -200), At(1300, -200), At(1300, -500), At(1000, -500)};
    for (int i = 0; i <= c.pieces; ++i) {
      // Round a square back to its first corner, or on along a zigzag.
      points.push_back(c.ring ? corners[i % 4] : At(1000 + 20 * i, -200 - 60 * (i % 2)));
    }
    map.Add(Road("", {J(), points.front()}, kRamp, '1'));
    for (std::size_t i = 0; i + 1 < points.size(); ++i) {
      map.Add(Road("", {points[i], points[i + 1]}, kRamp, '1'));
    }
    Open(map);
    EXPECT_EQ(U8(map_->GetRampConnections({}, J(), RampNear(J()), true)), "Ramp");
    // The ring ends where it comes round again; the chain only at the step
    // cap, which logs an endless loop.
    EXPECT_EQ(Logged(u"**** ERROR infinite Loop ***"), !c.ring);
  }
}

TEST_F(RampLabelsTest, WithoutARouteWalkTheRampIsNamedByTheStreetsAtItsEnds) {
  OpenExitMap(rmfbuild::OneWay::kAlong);
  map_->m_bUsingWinCE42 = 1;
  const std::int32_t limit = RmfProfileGetLimit(map_->m_Rdr.get());
  EXPECT_EQ(U8(map_->GetRampConnections({}, J(), RampNear(J()), true)), "Ramp from A 20 to Main Street");
  EXPECT_EQ(U8(map_->GetRampConnections({}, J(), RampNear(J()), false)), "Connector to Main Street");
  // No route was made: the routing profile was never installed.
  EXPECT_EQ(RmfProfileGetLimit(map_->m_Rdr.get()), limit);
  EXPECT_FALSE(Logged(u"SetVirtualExplore"));

  // The road name of the signs wins, with the exit texts after it.
  RampExitInfoMap exits;
  exits.emplace(u"E12", RampExitInfo{u"12", u"B 104", u"Berlin"});
  OpenExitMap(rmfbuild::OneWay::kAlong, {}, {Sign("0SE", "E12")});
  EXPECT_EQ(U8(map_->GetRampConnections(exits, J(), RampNear(J()), true)), "Ramp for B 104. Exit 12, toward Berlin");
  EXPECT_EQ(RmfProfileGetLimit(map_->m_Rdr.get()), limit);
}

TEST_F(RampLabelsTest, TemplatesThatDoNotFitStillGiveTexts) {
  OpenExitMap(rmfbuild::OneWay::kAlong, {Sign("0SB", "E12\\:EX/12\\:CN/B 104\\:TO/Berlin\\:TO/Hamburg")},
              {Sign("0SE", "E12")});
  BSTR path = SysAllocString(platform::Utf8ToUtf16(LEXIFORN_MISMATCHED_PATH).c_str());
  VARIANT_BOOL loaded = VARIANT_FALSE;
  ASSERT_EQ(map_->SetResources(path, &loaded), S_OK);
  SysFreeString(path);
  ASSERT_EQ(loaded, VARIANT_TRUE);

  RampExitInfoMap exits;
  ASSERT_EQ(UpdateRampExitInfo(*map_, exits, FeaturesAt(J())), 1);
  for (const bool winCE42 : {false, true}) {
    map_->m_bUsingWinCE42 = winCE42 ? 1 : 0;
    for (const TiPoint at : {J(), K()}) {
      for (const bool rampFlag : {true, false}) {
        const RampExitInfoMap none;
        for (const RampExitInfoMap* table : {static_cast<const RampExitInfoMap*>(&exits), &none}) {
          EXPECT_FALSE(map_->GetRampConnections(*table, at, RampNear(at), rampFlag).empty());
        }
      }
    }
  }
}

// ---- intersection tests ------------------------------------------------------------------

TEST_F(RampLabelsTest, IsAtIntersectionTellsJunctionsFromRoadsThatContinue) {
  struct Case {
    const char* what;
    std::function<void(rmfbuild::FeatureMap&)> build;
    TiPoint test;
    bool sameRoad;
    TiPoint reference;
    bool intersection;
  };
  const auto twoPieces = [](const char* first, const char* second) {
    return [=](rmfbuild::FeatureMap& map) {
      map.Add(Street(first, {At(0, 0), At(1000, 0)}));
      map.Add(Street(second, {At(1000, 0), At(2000, 0)}));
    };
  };
  const auto freewayExit = [](const std::string& freewayValue, const std::string& rampValue) {
    return [=](rmfbuild::FeatureMap& map) {
      for (auto points : {std::vector<TiPoint>{At(0, 0), J()}, std::vector<TiPoint>{J(), At(2000, 0)}}) {
        rmfbuild::Feature freeway = Road("A 20", points, kFreeway, '1');
        if (!freewayValue.empty()) freeway.Attribute(Sign(freewayValue, "E12"));
        map.Add(std::move(freeway));
      }
      rmfbuild::Feature ramp = Road("", {J(), K()}, kRamp, '1');
      if (!rampValue.empty()) ramp.Attribute(Sign(rampValue, "E12"));
      map.Add(std::move(ramp));
    };
  };
  const Case cases[] = {
      {"a street broken into two features", twoPieces("Elm Street", "Elm Street"), At(1000, 0), false, At(0, 0),
       false},
      {"two streets of different names", twoPieces("Elm Street", "Oak Street"), At(1000, 0), false, At(0, 0), true},
      {"no street near", twoPieces("Elm Street", "Oak Street"), At(1000, 2000), false, At(0, 0), false},
      {"a freeway and its own exit ramp", freewayExit("0PB", "0PE"), J(), true, At(0, 0), false},
      {"a freeway and a ramp of no sign of its own", freewayExit("", ""), J(), true, At(0, 0), true},
      {"the ramp's sign names another exit", freewayExit("0RB", "0PE"), J(), true, At(0, 0), false},
      {"a freeway and its ramp, counting every road", freewayExit("0PB", "0PE"), J(), false, At(0, 0), true},
      {"no feature ends at the reference point", freewayExit("0PB", "0PE"), J(), true, At(500, 3000), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    rmfbuild::FeatureMap map;
    c.build(map);
    Open(map);
    EXPECT_EQ(map_->IsAtIntersection(c.test, c.sameRoad, c.reference, false), c.intersection);
  }
}

TEST_F(RampLabelsTest, ExploreIntersectionCountsStreetsOfTheSameGuideSign) {
  rmfbuild::FeatureMap map;
  map.Add(Street("Elm Street", {At(0, 0), At(1000, 0)}));
  map.Add(Street("Oak Street", {At(1000, 0), At(2000, 0)}));
  map.Add(Street("Ash Street", {At(1000, 0), At(1000, 1000)}));
  map.Add(Street("Elm St", {At(0, 2000), At(1000, 2000)}));
  map.Add(Street("Elm Street", {At(1000, 2000), At(2000, 2000)}));
  rmfbuild::Feature signed1 = Street("Birch Road", {At(0, 4000), At(1000, 4000)});
  signed1.Attribute(rmfbuild::TextTriple{"14B", "0G", "Berlin"});
  map.Add(std::move(signed1));
  rmfbuild::Feature signed2 = Street("Birch Road", {At(1000, 4000), At(2000, 4000)});
  signed2.Attribute(rmfbuild::TextTriple{"14B", "0G", "Berlin"});
  map.Add(std::move(signed2));
  map.Add(Street("Pine Road", {At(1000, 4000), At(1000, 5000)}));
  Open(map);

  struct Case {
    const char* what;
    TiPoint point;
    std::size_t features;
    bool intersection;
  };
  const Case cases[] = {
      {"three streets", At(1000, 0), 3, true},
      {"one name written two ways", At(1000, 2000), 2, false},
      {"only one other street carries the guide sign", At(1000, 4000), 3, false},
      {"a dead end", At(2000, 0), 1, true},
      {"nothing", At(3000, 3000), 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<RmfFeatureRef> at = FeaturesAt(c.point);
    ASSERT_EQ(at.size(), c.features);
    EXPECT_EQ(IsExploreIntersection(*map_, at, At(0, c.point.y - street_fixtures::kOriginY), c.point),
              c.intersection);
  }

  struct Names {
    const char16_t* a;
    const char16_t* b;
    bool different;
  };
  const Names names[] = {
      {u"Elm Street", u"Elm Street", false}, {u"Elm St", u"Elm Street", false}, {u"Elm Street", u"Elm", false},
      {u"Elm Street", u"Oak Street", true},  {u"", u"Oak Street", false},
  };
  for (const Names& n : names) {
    EXPECT_EQ(AreNamesDifferent(n.a, n.b), n.different) << U8(n.a) << " / " << U8(n.b);
  }
}

}  // namespace
