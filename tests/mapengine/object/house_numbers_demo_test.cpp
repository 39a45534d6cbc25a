// The house number told at a position on the demo map, whichever way the
// user faces, checked against the OpenStreetMap extract the map is converted
// from (read here with libosmium, independently of the converter).
//
// At sampled address nodes of the extract the location description is asked
// for the street address with no heading, and facing along, against and
// across the nearest segment of a street way of the address's name. The
// number told must have the parity of the address's own number (the two
// sides of a street hold the two parities), and where the four answers name
// the same street the four numbers must be the same.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "mapengine/object/CMap.h"
#include "mapengine/object/Geometry.h"
#include "platform/os/text.h"
#include "tests/mapengine/object/extract_addresses.h"
#include "tests/mapengine/object/extract_junctions.h"
#include "tests/mapengine/object/map_engine_fixture.h"

namespace {

// The description of one request, through the IMap method.
std::string Describe(CMap& map, TiPoint point, int heading, const char16_t* request) {
  const DegreePoint p = MapUnitsToDegrees(point.x, point.y);
  BSTR in = SysAllocString(request);
  BSTR description = nullptr;
  BSTR result = nullptr;
  EXPECT_EQ(map.GetLocationDescription(p.latitude, p.longitude, heading, &in, &description, &result), S_OK);
  std::string text = platform::Utf16ToUtf8(BstrView(description));
  SysFreeString(in);
  SysFreeString(description);
  SysFreeString(result);
  return text;
}

// The bearing of the segment of a street way named `street` nearest to the
// point (within 300 metres, as far as the converter places addresses), or
// -1. Ways of driveways and paths (class 4) are left out: they carry no
// numbers.
int BearingOfNearestSegment(const std::vector<const OsmStreetRun*>& runs, TiPoint point) {
  std::int32_t best = 985;
  int bearing = -1;
  for (const OsmStreetRun* run : runs) {
    for (std::size_t i = 1; i < run->points.size(); ++i) {
      const TiPoint a = run->points[i - 1], b = run->points[i];
      const std::int32_t d = DistanceFeetToSegment(point, a, b);
      if (d < best && (a.x != b.x || a.y != b.y)) {
        best = d;
        bearing = BearingBetweenMapPoints(a.x, a.y, b.x, b.y);
      }
    }
  }
  return bearing;
}

TEST_F(MapEngineTest, DemoMapHouseNumberAtAnAddressIsTheSameWhicheverWayTheUserFaces) {
  const std::vector<OsmAddress> addresses = ReadExtractAddresses(DEMO_OSM_PATH);
  ASSERT_GT(addresses.size(), 1000u);
  const ExtractJunctions extract = ReadExtractJunctions(DEMO_OSM_PATH);
  ASSERT_EQ(extract.error, "");
  std::map<std::string, std::vector<const OsmStreetRun*>> ways;
  for (const OsmStreetRun& run : extract.runs) {
    if (run.classDigit >= 5 && !run.name.empty()) ways[run.name].push_back(&run);
  }
  LoadEnglish();
  OpenMapFile(DEMO_MAP_PATH);
  ASSERT_NE(map_->m_Rdr.get(), nullptr);

  constexpr const char* kFacing[] = {"none", "along", "against", "across"};
  constexpr std::size_t kEvery = 20;  // four headings, two requests each
  std::size_t asked = 0;
  // Per heading: answers with a number, those of the address's parity, and
  // the same among the answers that name the address's own street.
  std::array<std::size_t, 4> numbered{}, parity{}, ownNumbered{}, ownParity{};
  std::size_t sameStreet = 0, sameNumber = 0;
  for (std::size_t k = 0; k < addresses.size(); k += kEvery) {
    const OsmAddress& a = addresses[k];
    const auto it = ways.find(a.street);
    if (it == ways.end()) continue;
    const int along = BearingOfNearestSegment(it->second, a.point);
    if (along < 0) continue;
    ++asked;
    const std::array<int, 4> headings = {-1, along, (along + 180) % 360, (along + 90) % 360};
    std::array<std::string, 4> streets, numbers;
    for (std::size_t h = 0; h < 4; ++h) {
      streets[h] = Describe(*map_, a.point, headings[h], u"STREET NAME RAW");
      numbers[h] = Describe(*map_, a.point, headings[h], u"STREET ADDRESS");
      if (numbers[h].empty() || numbers[h] == "UNKNOWN ADDRESS") continue;
      ++numbered[h];
      const long n = std::strtol(numbers[h].c_str(), nullptr, 10);
      const bool agrees = n % 2 == a.number % 2;
      parity[h] += agrees ? 1 : 0;
      if (streets[h] != a.street) continue;
      ++ownNumbered[h];
      ownParity[h] += agrees ? 1 : 0;
    }
    if (streets[0] == streets[1] && streets[0] == streets[2] && streets[0] == streets[3]) {
      ++sameStreet;
      const bool same = numbers[0] == numbers[1] && numbers[0] == numbers[2] && numbers[0] == numbers[3];
      sameNumber += same ? 1 : 0;
      if (!same) {
        std::printf("  %s %d: %s / %s / %s / %s\n", a.street.c_str(), a.number, numbers[0].c_str(),
                    numbers[1].c_str(), numbers[2].c_str(), numbers[3].c_str());
      }
    }
  }
  const auto share = [](std::size_t part, std::size_t whole) {
    return whole == 0 ? 0.0 : 100.0 * static_cast<double>(part) / static_cast<double>(whole);
  };
  std::printf("address nodes asked %zu (every %zu of %zu)\n", asked, kEvery, addresses.size());
  for (std::size_t h = 0; h < 4; ++h) {
    std::printf("  facing %-7s numbered %zu, parity of the address's own %zu (%.1f%%); on the address's street "
                "%zu, parity %zu (%.1f%%)\n",
                kFacing[h], numbered[h], parity[h], share(parity[h], numbered[h]), ownNumbered[h], ownParity[h],
                share(ownParity[h], ownNumbered[h]));
  }
  std::printf("the four answers name one street %zu, and tell one number %zu (%.1f%%)\n", sameStreet, sameNumber,
              share(sameNumber, sameStreet));
  // Measured on this extract at every 10th node (752 asked), the share of
  // numbered answers with the address's parity facing none, along, against
  // and across the street: 84.8%, 85.7%, 85.7%, 75.4% (86.5%, 86.4%, 86.4%,
  // 84.5% of those that name the address's street; facing across, the
  // search finds a crossing street more often). Where the four answers name
  // one street (423), they tell one number in 96.5%: the others are answered
  // on a neighbouring piece of the street. With the pairs taken along the
  // heading but the side along the street's own way the shares were 84.2%,
  // 84.9%, 31.8% and 41.9%, and one number in 44.4%. The limits stay a few
  // points under the measured shares.
  EXPECT_GT(asked, addresses.size() / kEvery / 2);
  for (std::size_t h = 0; h < 4; ++h) {
    SCOPED_TRACE(kFacing[h]);
    EXPECT_GE(share(parity[h], numbered[h]), 72.0);
    EXPECT_GE(share(ownParity[h], ownNumbered[h]), 82.0);
    EXPECT_GT(ownNumbered[h], asked / 3);
  }
  EXPECT_GT(sameStreet, asked / 2);
  EXPECT_GE(share(sameNumber, sameStreet), 95.0);
}

}  // namespace
