// The junctions and sampled street positions of the demo extract, read with
// libosmium (extract_junctions.h), against the demo map converted from it:
// a sampled position lies on a street of its way's name, and at the junction
// ahead of it the map has two or more street features, among them one of the
// way's name. The cross-street checks on the demo map build on this reading.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "mapengine/object/CMap.h"
#include "mapengine/object/NearestFeature.h"
#include "mapengine/object/StreetNames.h"
#include "platform/os/text.h"
#include "tests/mapengine/object/extract_junctions.h"
#include "tests/mapengine/object/map_engine_fixture.h"

namespace {

constexpr int kSampled = 300;
constexpr std::uint32_t kSeed = 1214;

TEST_F(MapEngineTest, DemoMapSampledPositionsLieOnTheirStreetWithTheirJunctionAhead) {
  const ExtractJunctions extract = ReadExtractJunctions(DEMO_OSM_PATH);
  ASSERT_EQ(extract.error, "");
  ASSERT_GT(extract.runs.size(), 3000u) << "the extract holds several thousand highway ways";
  ASSERT_GT(extract.junctions.size(), 1000u);
  const std::vector<SampledStreetPosition> positions = SampleStreetPositions(extract, kSampled, kSeed);
  ASSERT_EQ(positions.size(), static_cast<std::size_t>(kSampled));
  // The same seed draws the same positions.
  const std::vector<SampledStreetPosition> again = SampleStreetPositions(extract, kSampled, kSeed);
  for (std::size_t i = 0; i < positions.size(); ++i) {
    ASSERT_EQ(again[i].point.x, positions[i].point.x);
    ASSERT_EQ(again[i].point.y, positions[i].point.y);
    ASSERT_EQ(again[i].junction, positions[i].junction);
  }

  LoadEnglish();
  OpenMapFile(DEMO_MAP_PATH);
  ASSERT_NE(map_->m_Rdr.get(), nullptr);
  const auto nameOf = [this](const RmfFeatureRef& f) {
    return platform::Utf16ToUtf8(GetStreetName(*map_, f, false, false, false));
  };

  std::size_t onStreet = 0, withJunction = 0, met = 0, wayThere = 0, otherThere = 0;
  for (const SampledStreetPosition& p : positions) {
    const RmfFeatureRef street = map_->GetNearestFeature(p.point, p.heading, "567");
    onStreet += !IsNullFeatureRef(street) && nameOf(street) == p.name ? 1 : 0;
    if (p.junction == 0) continue;
    ++withJunction;
    const OsmJunction* junction = extract.JunctionAt(p.junction);
    ASSERT_NE(junction, nullptr);
    EXPECT_EQ(junction->point.x, p.junctionPoint.x);
    EXPECT_EQ(junction->point.y, p.junctionPoint.y);
    EXPECT_GE(junction->uses, 2);
    EXPECT_EQ(junction->names.count(p.name), 1u) << "the way's own name meets at its junction";
    std::vector<RmfFeatureRef> here;
    GetNearbyCrossStreetFeatures(map_->m_Rdr.get(), p.junctionPoint, 1, 2, kNearFeaturesLimit, &here, "4567");
    met += here.size() >= 2 ? 1 : 0;
    std::set<std::string> names;
    for (const RmfFeatureRef& f : here) names.insert(nameOf(f));
    wayThere += names.count(p.name) > 0 ? 1 : 0;
    // A junction of two names: the map has a street of the other name there.
    bool other = junction->names.size() < 2;
    for (const std::string& n : junction->names) other = other || (n != p.name && names.count(n) > 0);
    otherThere += other ? 1 : 0;
  }
  const auto share = [](std::size_t k, std::size_t of) { return of == 0 ? 0.0 : 100.0 * static_cast<double>(k) / of; };
  std::printf("%zu positions: on a street of the way's name %.1f%%; %zu with a junction ahead: two or more features "
              "there %.1f%%, the way's name there %.1f%%, another name of the junction there %.1f%%\n",
              positions.size(), share(onStreet, positions.size()), withJunction, share(met, withJunction),
              share(wayThere, withJunction), share(otherThere, withJunction));
  // Measured: all 300 on a street of their way's name, 280 with a junction
  // ahead, at every one of them two or more features, the way's name and
  // another name of the junction. The limits leave room for a change of the
  // converter that moves a few streets.
  EXPECT_GE(share(onStreet, positions.size()), 97.0);
  EXPECT_GE(withJunction, positions.size() * 3 / 4);
  EXPECT_GE(share(met, withJunction), 97.0);
  EXPECT_GE(share(wayThere, withJunction), 97.0);
  EXPECT_GE(share(otherThere, withJunction), 95.0);
}

}  // namespace
