// Tests of the OpenStreetMap converter: the West Oakland extract is counted
// here with a plain text scan of its XML, independently of the converter,
// and the converter's streets, names, one-way marks, junctions, addresses
// and points of interest are checked against that count; the written files
// are opened with the reader, queried, and the street attributes read back.
// Small XML fixtures pin the route-class value, the house-number ranges, the
// locality attribute and the points of interest made of ways.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <vector>

#include <osmium/io/any_input.hpp>
#include <osmium/io/any_output.hpp>

#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/format/features/RmfFeatureAttr.h"
#include "mapengine/format/features/RmfProfile.h"
#include "mapengine/format/features/RmfQuery.h"
#include "mapengine/format/store/RmfReader.h"
#include "tools/osm2rmf/Osm2Rmf.h"
#include "tests/mapengine/format/features/TestProfiles.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"
#include "tools/osm2rmf/PoiCategories.h"
#include "tools/rmfbuild/RmfMemoryReader.h"

namespace rmfbuild {
// Triples print as their texts in failure messages.
void PrintTo(const TextTriple& t, std::ostream* os) { *os << '(' << t.code << ", " << t.name << ", " << t.detail << ')'; }
}  // namespace rmfbuild

namespace {

using rmfbuild::Feature;

// ---- an independent count of the extract --------------------------------------------

// The value of attribute `name` in the XML tag text `tag` ("" when absent).
std::string AttrOf(const std::string& tag, const std::string& name) {
  const std::string key = " " + name + "=\"";
  const std::size_t at = tag.find(key);
  if (at == std::string::npos) return {};
  const std::size_t begin = at + key.size();
  return tag.substr(begin, tag.find('"', begin) - begin);
}

// The v of <tag k="key" .../> inside an element's text.
std::string TagOf(const std::string& element, const std::string& key) {
  const std::string needle = "k=\"" + key + "\" v=\"";
  const std::size_t at = element.find(needle);
  if (at == std::string::npos) return {};
  const std::size_t begin = at + needle.size();
  return element.substr(begin, element.find('"', begin) - begin);
}

// Every <tag k="..." v="..."/> of an element's text, in order.
osm2rmf::Tags TagsOf(const std::string& element) {
  osm2rmf::Tags tags;
  for (std::size_t at = element.find("<tag "); at != std::string::npos; at = element.find("<tag ", at + 1)) {
    const std::string tag = element.substr(at, element.find('>', at) - at);
    tags.emplace_back(AttrOf(tag, "k"), AttrOf(tag, "v"));
  }
  return tags;
}

bool IsAddress(const osm2rmf::Tags& tags) {
  return !osm2rmf::TagValue(tags, "addr:housenumber").empty() && !osm2rmf::TagValue(tags, "addr:street").empty();
}

struct ScannedWay {
  std::string name;
  std::string oneway;
  std::vector<std::string> refs;
};

struct Scan {
  std::map<std::string, std::pair<double, double>> nodes;  // id -> lon, lat
  std::size_t pois = 0;  // nodes and ways that ClassifyPoi takes
  std::size_t addressNodes = 0;
  std::size_t addressWays = 0;
  std::set<std::string> cities;     // every addr:city value
  std::set<std::string> postcodes;  // every addr:postcode value
  std::vector<ScannedWay> streets;
};

// The travelled highway classes this extract uses (stop and traffic_signals
// are node tags; footways and cycleways are kept as not-travelled lines).
const std::set<std::string> kTravelled = {"residential", "secondary", "service", "unclassified",
                                          "footway", "cycleway", "primary", "tertiary"};

Scan ScanFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream all;
  all << in.rdbuf();
  const std::string xml = all.str();
  Scan scan;
  for (std::size_t at = xml.find("<node "); at != std::string::npos; at = xml.find("<node ", at + 1)) {
    const std::size_t close = xml.find('>', at);
    const std::string head = xml.substr(at, close - at);
    scan.nodes[AttrOf(head, "id")] = {std::stod(AttrOf(head, "lon")), std::stod(AttrOf(head, "lat"))};
    if (head.back() == '/') continue;
    const osm2rmf::Tags tags = TagsOf(xml.substr(at, xml.find("</node>", at) - at));
    if (osm2rmf::ClassifyPoi(tags)) ++scan.pois;
    if (IsAddress(tags)) ++scan.addressNodes;
  }
  for (std::size_t at = xml.find("<way "); at != std::string::npos; at = xml.find("<way ", at + 1)) {
    const std::string body = xml.substr(at, xml.find("</way>", at) - at);
    const osm2rmf::Tags tags = TagsOf(body);
    // Every node of this extract's ways is present, so every way has a position.
    if (osm2rmf::ClassifyPoi(tags)) ++scan.pois;
    if (IsAddress(tags)) ++scan.addressWays;
    if (kTravelled.count(TagOf(body, "highway")) == 0) continue;
    ScannedWay w;
    w.name = TagOf(body, "name");
    w.oneway = TagOf(body, "oneway");
    for (std::size_t nd = body.find("<nd "); nd != std::string::npos; nd = body.find("<nd ", nd + 1)) {
      w.refs.push_back(AttrOf(body.substr(nd, body.find('>', nd) - nd), "ref"));
    }
    scan.streets.push_back(w);
  }
  for (std::size_t at = xml.find("k=\"addr:"); at != std::string::npos; at = xml.find("k=\"addr:", at + 1)) {
    const std::string tag = xml.substr(at - 1, xml.find('>', at) - at + 1);
    if (AttrOf(tag, "k") == "addr:city") scan.cities.insert(AttrOf(tag, "v"));
    if (AttrOf(tag, "k") == "addr:postcode") scan.postcodes.insert(AttrOf(tag, "v"));
  }
  return scan;
}

TiPoint Units(const std::pair<double, double>& lonLat) {
  const double k = 268435456.0 / 360.0;
  return {static_cast<std::int32_t>(std::round(lonLat.first * k)),
          static_cast<std::int32_t>(std::round(lonLat.second * k))};
}

bool Same(TiPoint a, TiPoint b) { return a.x == b.x && a.y == b.y; }

bool Has(const std::vector<TiPoint>& points, TiPoint p) {
  for (const TiPoint& q : points) {
    if (q.x == p.x && q.y == p.y) return true;
  }
  return false;
}

// The route-class attribute as readers find it: the first triple with code
// pair 7-1, the part's own triple (class code, name, detail) first.
std::optional<rmfbuild::TextTriple> RouteClass(const Feature& f) {
  const rmfbuild::TextTriple own{f.featureClass.Code(f.mark), f.name, f.detail};
  if (own.code.compare(1, 2, "71") == 0) return own;
  for (const rmfbuild::TextTriple& t : f.attributes) {
    if (t.code.size() >= 3 && t.code.compare(1, 2, "71") == 0) return t;
  }
  return std::nullopt;
}

class WestOakland : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    scan_ = new Scan(ScanFile(OSM2RMF_WEST_OAKLAND));
    conversion_ = new osm2rmf::Conversion(osm2rmf::ConvertOsmFile(OSM2RMF_WEST_OAKLAND, "WestOakland"));
  }
  static void TearDownTestSuite() {
    delete scan_;
    delete conversion_;
  }
  static Scan* scan_;
  static osm2rmf::Conversion* conversion_;
};
Scan* WestOakland::scan_ = nullptr;
osm2rmf::Conversion* WestOakland::conversion_ = nullptr;

TEST_F(WestOakland, StreetsFollowTheWaysInOrderWithNamesAndOneWayMarks) {
  ASSERT_TRUE(conversion_->ok) << conversion_->error;
  const osm2rmf::ConvertStats& s = conversion_->stats;
  ASSERT_FALSE(scan_->streets.empty());
  EXPECT_EQ(s.nodes, scan_->nodes.size());
  EXPECT_EQ(s.highwayWays, scan_->streets.size());
  // Every node of the extract's ways is present, so each way is one street.
  ASSERT_EQ(s.streets, scan_->streets.size());
  ASSERT_EQ(conversion_->streets.features.size(), scan_->streets.size());
  EXPECT_EQ(s.droppedWays, 0u);

  std::size_t named = 0, oneWay = 0;
  for (std::size_t i = 0; i < scan_->streets.size(); ++i) {
    const ScannedWay& w = scan_->streets[i];
    const Feature& f = conversion_->streets.features[i];
    SCOPED_TRACE("street " + std::to_string(i) + " \"" + w.name + "\"");
    EXPECT_EQ(f.featureClass.category, rmfbuild::FeatureCategory::kLine);
    EXPECT_EQ(f.detail, w.name);
    const std::optional<rmfbuild::TextTriple> route = RouteClass(f);
    ASSERT_TRUE(route);
    EXPECT_EQ(route->detail, w.name);
    EXPECT_EQ(route->code, w.oneway == "yes" ? "171+" : "171");
    ASSERT_FALSE(f.points.empty());
    EXPECT_TRUE(Same(f.points.front(), Units(scan_->nodes.at(w.refs.front()))));
    EXPECT_TRUE(Same(f.points.back(), Units(scan_->nodes.at(w.refs.back()))));
    named += w.name.empty() ? 0 : 1;
    oneWay += w.oneway == "yes" ? 1 : 0;
  }
  EXPECT_EQ(s.namedStreets, named);
  EXPECT_EQ(s.oneWayStreets, oneWay);
  EXPECT_GT(named, 0u);
  EXPECT_GT(oneWay, 0u);
}

TEST_F(WestOakland, NodesSharedByWaysStaySharedPointsOfTheirStreets) {
  ASSERT_TRUE(conversion_->ok) << conversion_->error;
  std::map<std::string, std::set<std::size_t>> waysOfNode;
  for (std::size_t i = 0; i < scan_->streets.size(); ++i) {
    for (const std::string& ref : scan_->streets[i].refs) waysOfNode[ref].insert(i);
  }
  std::size_t junctions = 0;
  for (const auto& [ref, ways] : waysOfNode) {
    if (ways.size() < 2) continue;
    ++junctions;
    const TiPoint p = Units(scan_->nodes.at(ref));
    for (std::size_t way : ways) {
      EXPECT_TRUE(Has(conversion_->streets.features.at(way).points, p)) << "node " << ref << " way " << way;
    }
  }
  EXPECT_GT(junctions, 5u);

  // The built map keeps them: every part that passes a junction has it as a point.
  const rmfbuild::FeatureBuild built = rmfbuild::BuildFeatureMap(conversion_->streets);
  ASSERT_TRUE(built.ok) << built.error;
  for (const auto& [ref, ways] : waysOfNode) {
    if (ways.size() < 2) continue;
    const TiPoint p = Units(scan_->nodes.at(ref));
    for (std::size_t way : ways) {
      bool found = false;
      for (const rmfbuild::FeaturePiece* piece : built.PiecesOf(way)) found = found || Has(piece->points, p);
      EXPECT_TRUE(found) << "node " << ref << " way " << way;
    }
  }
}

TEST_F(WestOakland, PointsOfInterestNameTheirFileAndSubcategory) {
  ASSERT_TRUE(conversion_->ok) << conversion_->error;
  EXPECT_EQ(conversion_->stats.pois, scan_->pois);
  ASSERT_EQ(conversion_->pois.features.size(), scan_->pois);
  std::size_t byCategory = 0;
  for (std::size_t n : conversion_->stats.poisByCategory) byCategory += n;
  EXPECT_EQ(byCategory, scan_->pois);
  EXPECT_EQ(conversion_->stats.poisByCategory[0], 0u);
  std::set<std::string> keys;
  for (const Feature& f : conversion_->pois.features) {
    EXPECT_EQ(f.featureClass.category, rmfbuild::FeatureCategory::kPoint);
    EXPECT_EQ(f.name.rfind("westoakland_poi_01,", 0), 0u) << f.name;
    keys.insert(f.detail);
  }
  EXPECT_EQ(keys.size(), scan_->pois) << "keys must differ";
}

// The pieces of a backslash-separated text.
std::vector<std::string> Pieces(const std::string& text) {
  std::vector<std::string> pieces(1);
  for (char ch : text) {
    if (ch == '\\') {
      pieces.emplace_back();
    } else {
      pieces.back() += ch;
    }
  }
  return pieces;
}

const rmfbuild::TextTriple* AttributeOf(const Feature& f, const std::string& code) {
  for (const rmfbuild::TextTriple& t : f.attributes) {
    if (t.code == code) return &t;
  }
  return nullptr;
}

TEST_F(WestOakland, AddressesGiveTheStreetsTheirCityAndPostalCode) {
  ASSERT_TRUE(conversion_->ok) << conversion_->error;
  const osm2rmf::ConvertStats& s = conversion_->stats;
  EXPECT_EQ(s.addressNodes, scan_->addressNodes);
  EXPECT_EQ(s.addressWays, scan_->addressWays);
  ASSERT_EQ(conversion_->addresses.size(), scan_->addressNodes + scan_->addressWays);
  if (conversion_->addresses.empty()) GTEST_SKIP() << "the extract has no addresses";
  // Both addresses of the extract lie on 7th Street, beside it.
  EXPECT_EQ(s.addressesMatched, conversion_->addresses.size());
  EXPECT_GE(s.houseNumberRanges, 1u);

  // The extract is a few blocks wide, so nearly every street lies within
  // reach of an address and takes its city and postal code.
  std::size_t named = 0, withCity = 0, withPostcode = 0, locality = 0;
  for (const Feature& f : conversion_->streets.features) {
    const rmfbuild::TextTriple* l = AttributeOf(f, "121");
    if (l != nullptr) {
      ++locality;
      const std::vector<std::string> value = Pieces(l->name), name = Pieces(l->detail);
      ASSERT_EQ(value.size(), 2u) << l->name;
      ASSERT_EQ(name.size(), 5u) << l->detail;
      EXPECT_TRUE(name[1].empty() || scan_->cities.count(name[1]) == 1) << name[1];
      EXPECT_TRUE(value[1].empty() || scan_->postcodes.count(value[1]) == 1) << value[1];
      if (!f.detail.empty()) {
        withCity += name[1].empty() ? 0 : 1;
        withPostcode += value[1].empty() ? 0 : 1;
      }
    }
    named += f.detail.empty() ? 0 : 1;
  }
  ASSERT_FALSE(scan_->cities.empty());
  ASSERT_FALSE(scan_->postcodes.empty());
  EXPECT_GE(4 * withCity, 3 * named);
  EXPECT_GE(4 * withPostcode, 3 * named);
  EXPECT_GE(s.streetsWithCity, withCity);
  EXPECT_EQ(s.streetsWithCity, locality);  // the city is what is known everywhere here
}

// Reads the written files back with the map-format reader.
class Query {
 public:
  rmfbuild::MemoryReader& maps() { return maps_; }
  RmfReader* reader() { return maps_.reader(); }

  // Name (or, with `details`, detail) texts of the hits of a small box
  // around `at`, in `classes` of category `category`.
  std::vector<std::string> NamesNear(TiPoint at, std::int32_t category, const char* classes, bool details = false) {
    RmfQuerySetLevels(reader(), 1, 8);
    for (std::int32_t c = 0; c < 4; ++c) RmfQuerySetClassFilter(reader(), c, c == category ? classes : "");
    RmfQuerySetRect(reader(), at.x - 20, at.y - 20, at.x + 20, at.y + 20);
    RmfQueryStart(reader());
    std::vector<std::string> names;
    for (int guard = 0; guard < 10000; ++guard) {
      char code[6] = {};
      char name[51] = {};
      char detail[251] = {};
      std::int32_t count = 0;
      TiPoint* points = nullptr;
      const std::int32_t n = RmfQueryNext(reader(), code, name, detail, &count, nullptr, &points);
      if (n == 0) break;
      if (n > 0) names.push_back(details ? detail : name);
    }
    return names;
  }

  // The triples (code, value, name) of the street hits near `at` whose
  // detail text is `name`, read through the feature reference of each hit:
  // the part's own triple, then the feature's attributes.
  std::vector<std::vector<rmfbuild::TextTriple>> AttributesNear(TiPoint at, const std::string& name) {
    RmfQuerySetLevels(reader(), 1, 8);
    for (std::int32_t c = 0; c < 4; ++c) RmfQuerySetClassFilter(reader(), c, c == 1 ? "567" : "");
    RmfQuerySetRect(reader(), at.x - 20, at.y - 20, at.x + 20, at.y + 20);
    RmfQueryStart(reader());
    std::vector<RmfFeatureRef> refs;
    for (int guard = 0; guard < 10000; ++guard) {
      char code[6] = {};
      char hitDetail[251] = {};
      std::int32_t count = 0;
      RmfFeatureRef ref{};
      TiPoint* points = nullptr;
      const std::int32_t n = RmfQueryNext(reader(), code, nullptr, hitDetail, &count, &ref, &points);
      if (n == 0) break;
      if (n > 0 && name == hitDetail) refs.push_back(ref);
    }
    std::vector<std::vector<rmfbuild::TextTriple>> all;
    for (const RmfFeatureRef& ref : refs) {
      std::vector<rmfbuild::TextTriple> attributes;
      for (std::int32_t index = 0; index < 64; ++index) {
        char code[6] = {};
        char value[51] = {};
        char text[251] = {};
        if (RmfFeatureAttribute(reader(), ref, index, code, value, text) < 1) break;
        attributes.push_back(rmfbuild::TextTriple{code, value, text});
      }
      all.push_back(attributes);
    }
    return all;
  }

 private:
  rmfbuild::MemoryReader maps_{24u << 20};
};

TEST_F(WestOakland, WrittenFilesOpenAndTheQueryFindsStreetsAndPoints) {
  ASSERT_TRUE(conversion_->ok) << conversion_->error;
  const testing_support::TempFolder temp("osm2rmf");
  const std::filesystem::path top = temp.path();
  // The output folder is made when it does not exist yet.
  const std::filesystem::path dir = top / "maps";
  const osm2rmf::WriteReport report = osm2rmf::WriteMaps(*conversion_, dir.string(), "WestOakland");
  ASSERT_TRUE(report.ok) << report.error;
  // A file standing where the folder should be is an error, not a crash.
  const osm2rmf::WriteReport blocked = osm2rmf::WriteMaps(*conversion_, (dir / "WestOakland.rmf" / "x").string(), "W");
  EXPECT_FALSE(blocked.ok);
  EXPECT_NE(blocked.error.find("cannot make the folder"), std::string::npos) << blocked.error;
  EXPECT_EQ(report.streetFile, (dir / "WestOakland.rmf").string());
  EXPECT_EQ(report.poiFile, (dir / "WestOakland_POI_01.rmf").string());
  EXPECT_EQ(report.poiCompanion, (dir / "WestOakland_POI_01.pdb").string());
  {
    // The database beside the map holds a record for each of its points.
    std::unique_ptr<dorvanta::PoiStore> store;
    ASSERT_EQ(dorvanta::PoiStore::Open(report.poiCompanion, dorvanta::PoiStore::Access::kReadOnly, store),
              dorvanta::DorvantaResult::kOk);
    std::uint64_t records = 0;
    ASSERT_EQ(store->Count(records), dorvanta::DorvantaResult::kOk);
    EXPECT_EQ(records, conversion_->pois.features.size());
  }

  {
    Query q;
    ASSERT_NE(q.reader(), nullptr);
    ASSERT_EQ(q.maps().AddFile(report.streetFile), 1) << q.maps().error();
    // Each named street is found at a node of its own, in the street classes
    // (named footways are class 4), with its name as the detail text.
    std::size_t checked = 0;
    for (const Feature& f : conversion_->streets.features) {
      if (f.detail.empty() || f.featureClass.classDigit < 5) continue;
      const TiPoint at = f.points[f.points.size() / 2];
      const std::vector<std::string> names = q.NamesNear(at, 1, "567", true);
      EXPECT_NE(std::find(names.begin(), names.end(), f.detail), names.end()) << f.detail;
      ++checked;
    }
    EXPECT_GT(checked, 0u);

    // The range and locality attributes come back from the file as written.
    std::size_t ranges = 0;
    for (const Feature& f : conversion_->streets.features) {
      const rmfbuild::TextTriple* range = AttributeOf(f, "12B-+");
      if (range == nullptr) continue;
      ++ranges;
      const TiPoint at = f.points[f.points.size() / 2];
      bool found = false;
      for (const std::vector<rmfbuild::TextTriple>& attributes : q.AttributesNear(at, f.detail)) {
        // The part's own triple comes first, then the feature's attributes.
        if (attributes.empty() || attributes[0].code != f.featureClass.Code(f.mark)) continue;
        if (!std::equal(attributes.begin() + 1, attributes.end(), f.attributes.begin(), f.attributes.end())) continue;
        found = true;
      }
      EXPECT_TRUE(found) << f.detail << ": no hit with the attributes " << range->detail;
    }
    EXPECT_EQ(ranges, conversion_->stats.houseNumberRanges);
  }
  {
    Query q;
    ASSERT_NE(q.reader(), nullptr);
    ASSERT_EQ(q.maps().AddFile(report.poiFile), 1) << q.maps().error();
    const Feature& poi = conversion_->pois.features.front();
    const std::vector<std::string> names = q.NamesNear(poi.points.front(), 0, "1234567");
    EXPECT_NE(std::find(names.begin(), names.end(), poi.name), names.end()) << poi.name;
  }
}

// The extract written by libosmium as PBF, bzip2- and gzip-compressed XML,
// and as PBF under a name that tells nothing, converts to the same files as
// the XML it came from.
TEST_F(WestOakland, EveryInputFormatGivesTheSameMaps) {
  ASSERT_TRUE(conversion_->ok) << conversion_->error;
  const testing_support::TempFolder temp("osm2rmf-formats");
  const std::filesystem::path top = temp.path();
  const osm2rmf::WriteReport xml = osm2rmf::WriteMaps(*conversion_, (top / "xml").string(), "WestOakland");
  ASSERT_TRUE(xml.ok) << xml.error;
  auto bytes = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  };
  for (const char* name : {"west-oakland.osm.pbf", "west-oakland.osm.bz2", "west-oakland.osm.gz"}) {
    SCOPED_TRACE(name);
    const std::string copy = (top / name).string();
    {
      osmium::io::Reader in{OSM2RMF_WEST_OAKLAND};
      osmium::io::Writer out{copy, in.header()};
      while (osmium::memory::Buffer buffer = in.read()) out(std::move(buffer));
      out.close();
      in.close();
    }
    std::vector<std::string> paths = {copy};
    if (std::string_view(name).ends_with(".pbf")) {
      // Told by its first bytes alone.
      paths.push_back((top / "extract").string());
      std::filesystem::copy_file(copy, paths.back());
    }
    for (const std::string& path : paths) {
      const osm2rmf::Conversion converted = osm2rmf::ConvertOsmFile(path, "WestOakland");
      ASSERT_TRUE(converted.ok) << converted.error;
      const std::filesystem::path dir = top / (std::filesystem::path(path).filename().string() + "-maps");
      const osm2rmf::WriteReport report = osm2rmf::WriteMaps(converted, dir.string(), "WestOakland");
      ASSERT_TRUE(report.ok) << report.error;
      EXPECT_EQ(bytes(report.streetFile), bytes(xml.streetFile)) << path;
      EXPECT_EQ(bytes(report.poiFile), bytes(xml.poiFile)) << path;
      EXPECT_FALSE(bytes(report.streetFile).empty());
    }
  }
}

// An extract without a street converts, but writes nothing: the map engine
// refuses a street map without streets. The command says what was missing
// and fails.
TEST(Osm2RmfWrite, WithoutStreetsNothingIsWrittenAndTheCommandFails) {
  const std::string poi = "<node id='9' lat='53.5' lon='13.3'><tag k='amenity' v='pharmacy'/></node>";
  struct Case {
    const char* what;
    std::string xml;
    const char* error;  // a part of the message
  };
  const Case cases[] = {
      {"nothing at all", "<osm version='0.6'/>", "none of the 0 ways has a travelled highway class"},
      {"no highway", "<osm version='0.6'><node id='1' lat='53.5' lon='13.3'/><node id='2' lat='53.6' lon='13.3'/>"
                     "<way id='5'><nd ref='1'/><nd ref='2'/><tag k='waterway' v='river'/></way></osm>",
       "none of the 1 ways"},
      {"nodes missing", "<osm version='0.6'>" + poi + "<way id='5'><nd ref='1'/><nd ref='2'/>"
                        "<tag k='highway' v='residential'/></way></osm>",
       "none of the 1 highway ways has two nodes with a position in the extract (1 nodes with a position); "
       "its 1 points of interest are not written"},
      {"nodes out of range", "<osm version='0.6'><node id='1' lat='95' lon='13.3'/><node id='2' lat='53.6' lon='13.3'/>"
                             "<way id='5'><nd ref='1'/><nd ref='2'/><tag k='highway' v='path'/></way></osm>",
       "none of the 1 highway ways"},
  };
  const testing_support::TempFolder temp("osm2rmf-no-streets");
  const std::filesystem::path top = temp / "run";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const osm2rmf::Conversion conv = osm2rmf::ConvertOsmText(c.xml, "T");
    ASSERT_TRUE(conv.ok) << conv.error;
    EXPECT_TRUE(conv.streets.features.empty());
    const std::filesystem::path dir = top / "library";
    const osm2rmf::WriteReport report = osm2rmf::WriteMaps(conv, dir.string(), "T");
    EXPECT_FALSE(report.ok);
    EXPECT_EQ(report.error.rfind("no streets: ", 0), 0u) << report.error;
    EXPECT_NE(report.error.find(c.error), std::string::npos) << report.error;
    EXPECT_FALSE(std::filesystem::exists(dir));

    std::filesystem::create_directories(top);
    const std::filesystem::path input = top / "in.osm";
    std::ofstream(input) << c.xml;
    const std::filesystem::path out = top / "command";
    const testing_support::CommandResult said =
        testing_support::RunCommand({OSM2RMF_COMMAND, input.string(), out.string(), "T"}, true);
    EXPECT_EQ(said.exitStatus, 1);
    EXPECT_NE(said.output.find("osm2rmf: no streets: "), std::string::npos) << said.output;
    EXPECT_FALSE(std::filesystem::exists(out / "T.rmf"));
    EXPECT_FALSE(std::filesystem::exists(out / "T_POI_01.rmf"));
    std::filesystem::remove_all(top);
  }
}

// A run that fails leaves the maps of the last good run as they were and no
// temporary file beside them; a map name that is no plain file name writes
// nothing anywhere.
TEST(Osm2RmfWrite, AFailedRunLeavesTheEarlierFilesWholeAndNoTemporary) {
  auto extract = [](const char* street) {
    return std::string("<osm version='0.6'><node id='1' lat='53.5' lon='13.25'/><node id='2' lat='53.5' lon='13.252'/>"
                       "<node id='9' lat='53.5005' lon='13.251'><tag k='amenity' v='pharmacy'/>"
                       "<tag k='name' v='Apotheke'/></node><way id='5'><nd ref='1'/><nd ref='2'/>"
                       "<tag k='highway' v='residential'/><tag k='name' v='") + street + "'/></way></osm>";
  };
  const osm2rmf::Conversion first = osm2rmf::ConvertOsmText(extract("Alter Weg"), "T");
  const osm2rmf::Conversion second = osm2rmf::ConvertOsmText(extract("Neuer Weg"), "T");
  ASSERT_TRUE(first.ok && second.ok) << first.error << second.error;
  const testing_support::TempFolder temp("osm2rmf-staged");
  const std::filesystem::path dir = temp / "maps";
  const osm2rmf::WriteReport good = osm2rmf::WriteMaps(first, dir.string(), "T");
  ASSERT_TRUE(good.ok) << good.error;
  auto bytes = [](const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  };
  auto listing = [&] {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) names.insert(entry.path().filename().string());
    return names;
  };
  const std::string streets = bytes(dir / "T.rmf");
  const std::string pois = bytes(dir / "T_POI_01.rmf");
  ASSERT_FALSE(streets.empty());

  // The database cannot be put in place: a folder with a file in it stands
  // at its name. Neither map of the pair may be replaced.
  std::filesystem::remove(dir / "T_POI_01.pdb");
  std::filesystem::create_directories(dir / "T_POI_01.pdb");
  std::ofstream(dir / "T_POI_01.pdb" / "keep") << "x";
  const std::set<std::string> before = listing();
  const osm2rmf::WriteReport failed = osm2rmf::WriteMaps(second, dir.string(), "T");
  EXPECT_FALSE(failed.ok);
  EXPECT_NE(failed.error.find("T_POI_01.pdb"), std::string::npos) << failed.error;
  EXPECT_EQ(bytes(dir / "T.rmf"), streets);
  EXPECT_EQ(bytes(dir / "T_POI_01.rmf"), pois);
  EXPECT_EQ(listing(), before);

  // Once the way is clear the new run replaces all three.
  std::filesystem::remove_all(dir / "T_POI_01.pdb");
  const osm2rmf::WriteReport replaced = osm2rmf::WriteMaps(second, dir.string(), "T");
  ASSERT_TRUE(replaced.ok) << replaced.error;
  EXPECT_NE(bytes(dir / "T.rmf"), streets);
  EXPECT_EQ(listing(), (std::set<std::string>{"T.rmf", "T_POI_01.rmf", "T_POI_01.pdb"}));
  EXPECT_EQ((std::filesystem::status(dir / "T.rmf").permissions() & std::filesystem::perms::owner_read),
            std::filesystem::perms::owner_read);

  for (const char* name : {"", ".", "..", "../T", "sub/T", "..\\T"}) {
    SCOPED_TRACE(name);
    const std::filesystem::path inner = temp / "inner" / "deeper";
    const osm2rmf::WriteReport refused = osm2rmf::WriteMaps(second, inner.string(), name);
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.error.find("map name"), std::string::npos) << refused.error;
    EXPECT_FALSE(std::filesystem::exists(temp / "inner"));
    const testing_support::CommandResult said = testing_support::RunCommand(
        {OSM2RMF_COMMAND, OSM2RMF_WEST_OAKLAND, inner.string(), name}, true);
    EXPECT_EQ(said.exitStatus, 1) << said.output;
    EXPECT_NE(said.output.find("map name"), std::string::npos) << said.output;
    EXPECT_FALSE(std::filesystem::exists(temp / "inner"));
  }
  EXPECT_EQ(listing(), (std::set<std::string>{"T.rmf", "T_POI_01.rmf", "T_POI_01.pdb"}));
}

// ---- small fixtures ----------------------------------------------------------------

std::string Way(const std::string& tags, const std::string& refs = "<nd ref=\"1\"/><nd ref=\"2\"/><nd ref=\"3\"/>") {
  return "<osm version=\"0.6\"><node id=\"1\" lat=\"37.80\" lon=\"-122.30\"/><node id=\"2\" lat=\"37.801\" lon=\"-122.30\"/>"
         "<node id=\"3\" lat=\"37.802\" lon=\"-122.301\"/><way id=\"9\">" + refs + tags + "</way></osm>";
}

TEST(Osm2RmfTags, RouteClassValueAndOneWayMark) {
  struct Case {
    const char* tags;
    const char* code;
    const char* value;
    int classDigit;
  };
  const Case cases[] = {
      {R"(<tag k="highway" v="residential"/>)", "171", "3 E", 7},
      {R"(<tag k="highway" v="residential"/><tag k="maxspeed" v="25 mph"/>)", "171", "3 2", 7},
      {R"(<tag k="highway" v="primary"/><tag k="maxspeed" v="50"/><tag k="lanes" v="3"/>)", "171", "2 F    3", 5},
      {R"(<tag k="highway" v="motorway"/><tag k="toll" v="yes"/>)", "171+", "11L 1", 5},
      {R"(<tag k="highway" v="motorway"/><tag k="oneway" v="no"/>)", "171", "11L", 5},
      {R"(<tag k="highway" v="motorway_link"/><tag k="oneway" v="yes"/>)", "171+", "91G", 5},
      {R"(<tag k="highway" v="tertiary"/><tag k="oneway" v="-1"/>)", "171-", "3 F", 6},
      {R"(<tag k="highway" v="tertiary"/><tag k="junction" v="roundabout"/>)", "171+", "8 F", 6},
      // Unnamed service roads are access ways (class 4); named ones streets.
      {R"(<tag k="highway" v="service"/><tag k="maxspeed" v="signals"/>)", "171", "4 C", 4},
      {R"(<tag k="highway" v="service"/><tag k="name" v="Hofweg"/>)", "171", "4 C", 7},
      // Walkways and pedestrian zones: slow roads only walked.
      {R"(<tag k="highway" v="footway"/><tag k="name" v="Wallweg"/>)", "171", "4WA", 4},
      {R"(<tag k="highway" v="steps"/>)", "171", "4WA", 4},
      {R"(<tag k="highway" v="pedestrian"/><tag k="name" v="Turmstr."/>)", "171", "4PA", 7},
      {R"(<tag k="highway" v="pedestrian"/><tag k="junction" v="roundabout"/>)", "171+", "4PA", 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tags);
    const osm2rmf::Conversion conv = osm2rmf::ConvertOsmText(Way(c.tags), "T");
    ASSERT_TRUE(conv.ok) << conv.error;
    ASSERT_EQ(conv.streets.features.size(), 1u);
    const std::optional<rmfbuild::TextTriple> route = RouteClass(conv.streets.features[0]);
    ASSERT_TRUE(route);
    EXPECT_EQ(route->code, c.code);
    EXPECT_EQ(route->name, c.value);
    EXPECT_EQ(conv.streets.features[0].featureClass.classDigit, c.classDigit);
  }
}

// Read back from the written file as the map engine reads a street: road
// type, one-way mark and name from the first attribute with code pair 7-1,
// trail ('R') or walkway ('W') from the first access value (pair 4-1), and
// the directions a car may take under the driving profile. Names that start
// with a road-type letter ('V' is a connection open both ways) or with 'R'
// or 'W' must not leak into what is read.
TEST(Osm2RmfTags, StreetsReadTheirRouteClassAndNameFromTheFirstRouteClassAttribute) {
  struct Case {
    const char* highway;
    const char* name;
    const char* oneway;
    const char* code;   // of the first 7-1 attribute
    const char* value;  // its road type, kind and speed class
    std::int32_t driving;  // 1 only along the way's nodes, -1 only against them, 0 both or none
  };
  const Case cases[] = {
      {"residential", "Stargarder Straße", "yes", "171+", "3 E", 1},
      {"residential", "Verdiring", "yes", "171+", "3 E", 1},
      {"residential", "Verdiring", "-1", "171-", "3 E", -1},
      {"residential", "Verdiring", "", "171", "3 E", 0},
      {"secondary", "Stargarder Straße", "yes", "171+", "2 G", 1},
      {"pedestrian", "Wallstraße", "", "171", "4PA", 0},
      {"footway", "Rosenweg", "", "171", "4WA", 0},
      {"footway", "Weg am Teich", "", "171", "4WA", 0},
  };
  std::string xml = "<osm version='0.6'>";
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const std::string lat = std::to_string(53.5 + 0.002 * static_cast<double>(i));
    xml += "<node id='" + std::to_string(2 * i + 1) + "' lat='" + lat + "' lon='13.25'/>";
    xml += "<node id='" + std::to_string(2 * i + 2) + "' lat='" + lat + "' lon='13.252'/>";
  }
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    xml += "<way id='" + std::to_string(100 + i) + "'><nd ref='" + std::to_string(2 * i + 1) + "'/><nd ref='" +
           std::to_string(2 * i + 2) + "'/><tag k='highway' v='" + c.highway + "'/><tag k='name' v='" + c.name + "'/>";
    if (*c.oneway != 0) xml += std::string("<tag k='oneway' v='") + c.oneway + "'/>";
    xml += "</way>";
  }
  xml += "</osm>";
  const osm2rmf::Conversion conv = osm2rmf::ConvertOsmText(xml, "T");
  ASSERT_TRUE(conv.ok) << conv.error;
  ASSERT_EQ(conv.streets.features.size(), std::size(cases));

  const testing_support::TempFolder temp("osm2rmf-route-class");
  const std::filesystem::path dir = temp / "maps";
  const osm2rmf::WriteReport report = osm2rmf::WriteMaps(conv, dir.string(), "T");
  ASSERT_TRUE(report.ok) << report.error;
  const rmfbuild::FeatureBuild built = rmfbuild::BuildFeatureMap(conv.streets);
  ASSERT_TRUE(built.ok) << built.error;
  ASSERT_EQ(built.pieces.size(), std::size(cases));

  rmfbuild::MemoryReader maps(4u << 20);
  ASSERT_NE(maps.reader(), nullptr);
  ASSERT_EQ(maps.AddFile(report.streetFile), 1) << maps.error();
  RmfReader* reader = maps.reader();
  ASSERT_EQ(RmfProfileSetCallbacks(reader, testprofiles::Driving, nullptr, nullptr, kRmfProfileEngineLimit), 1);
  for (const rmfbuild::FeaturePiece& piece : built.pieces) {
    const Case& c = cases[piece.feature];
    SCOPED_TRACE(std::string(c.highway) + " \"" + c.name + "\" oneway=" + c.oneway);
    const RmfFeatureRef ref{piece.tileId, 0, piece.sequence, piece.entry, 0, 0, kRmfPositionWhole};
    std::string code, value, name, access;
    bool routeClass = false;
    char t0[16], t1[64], t2[256];
    for (std::int32_t a = 0; RmfFeatureAttribute(reader, ref, a, t0, t1, t2) > 0; ++a) {
      const std::string pair = std::string(t0).substr(1, 2);
      if (pair == "71" && !routeClass) {
        routeClass = true;
        code = t0;
        value = t1;
        name = t2;
      }
      if (pair == "41" && access.empty()) access = t1;
    }
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(value.substr(0, 3), c.value);
    EXPECT_EQ(name, c.name);
    EXPECT_TRUE(access.empty() || (access[0] != 'R' && access[0] != 'W')) << access;

    RmfFeature* slot = nullptr;
    ASSERT_EQ(RmfFeatureFetch(reader, ref, &slot, nullptr), 1);
    EXPECT_EQ(RmfProfileOneWay(slot, ref.part), c.driving);
    EXPECT_EQ(RmfFeatureRelease(slot), 1);
  }
}

// The name text: the name tag, then a ":RN/" piece for each route number of
// the ref tag; route numbers alone when there is no name. The text keeps to
// the builder's limit by leaving out whole route numbers.
TEST(Osm2RmfTags, NameTextIsTheNameThenARouteNumberPiecePerRef) {
  const std::string name240(240, 'n');
  const std::string name300(300, 'n');
  struct Case {
    std::string highway, name, ref;
    std::string text;  // the name text written
    std::size_t routeNumbers;
    int classDigit;
  };
  const Case cases[] = {
      {"residential", "Ring", "", "Ring", 0, 7},
      {"primary", "Ring", "B 104", "Ring\\:RN/B 104", 1, 5},
      {"primary", "Ring", " B 96; B 104 ;", "Ring\\:RN/B 96\\:RN/B 104", 2, 5},
      {"motorway", "", "A 20", ":RN/A 20", 1, 5},
      {"tertiary", "", "K 35;;L 33", ":RN/K 35\\:RN/L 33", 2, 6},
      {"tertiary", "", "A\\B", ":RN/A/B", 1, 6},  // a backslash would start another piece
      // Blanks and separators are no route number: an unnamed service road
      // with nothing else is an access way.
      {"residential", "Ring", " ; ", "Ring", 0, 7},
      {"service", "", "; ", "", 0, 4},
      {"service", "", "7", ":RN/7", 1, 7},
      // At the limit of 250 bytes: "\:RN/B 104" takes 10; a piece that does
      // not fit is left out whole and a shorter one after it may still fit.
      {"primary", name240, "B 104", name240 + "\\:RN/B 104", 1, 5},
      {"primary", name240 + "n", "B 104;K 1", name240 + "n\\:RN/K 1", 1, 5},
      {"primary", name300, "B 104", std::string(250, 'n'), 0, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.highway + " \"" + c.name + "\" ref \"" + c.ref + "\"");
    std::string tags = "<tag k='highway' v='" + c.highway + "'/>";
    if (!c.name.empty()) tags += "<tag k='name' v='" + c.name + "'/>";
    if (!c.ref.empty()) tags += "<tag k='ref' v='" + c.ref + "'/>";
    const osm2rmf::Conversion conv = osm2rmf::ConvertOsmText(Way(tags), "T");
    ASSERT_TRUE(conv.ok) << conv.error;
    ASSERT_EQ(conv.streets.features.size(), 1u);
    const Feature& f = conv.streets.features[0];
    EXPECT_EQ(f.featureClass.classDigit, c.classDigit);
    EXPECT_EQ(f.detail, c.text);
    const std::optional<rmfbuild::TextTriple> route = RouteClass(f);
    ASSERT_TRUE(route);
    EXPECT_EQ(route->detail, c.text);
    EXPECT_EQ(conv.stats.routeNumbers, c.routeNumbers);
    EXPECT_EQ(conv.stats.namedStreets, c.text.empty() ? 0u : 1u);
    EXPECT_TRUE(rmfbuild::BuildFeatureMap(conv.streets).ok);
  }
}

TEST(Osm2RmfTags, WaysThatAreNoStreetsAreLeftOut) {
  for (const char* tags : {R"(<tag k="highway" v="proposed"/>)", R"(<tag k="building" v="yes"/>)",
                           R"(<tag k="highway" v="pedestrian"/><tag k="area" v="yes"/>)"}) {
    const osm2rmf::Conversion conv = osm2rmf::ConvertOsmText(Way(tags), "T");
    ASSERT_TRUE(conv.ok) << conv.error;
    EXPECT_TRUE(conv.streets.features.empty()) << tags;
  }
}

TEST(Osm2RmfTags, GapsSplitAWayAndRepeatsAndShortRunsDrop) {
  const std::string tags = R"(<tag k="highway" v="residential"/><tag k="name" v="A\B Street"/>)";
  struct Case {
    const char* refs;
    std::size_t streets;
  };
  const Case cases[] = {
      {R"(<nd ref="1"/><nd ref="2"/><nd ref="77"/><nd ref="2"/><nd ref="3"/>)", 2},  // gap in the middle
      {R"(<nd ref="1"/><nd ref="1"/><nd ref="2"/>)", 1},                             // repeated node
      {R"(<nd ref="1"/><nd ref="77"/><nd ref="3"/>)", 0},                            // no run of two
      {R"(<nd/><nd ref="2"/><nd ref="3"/>)", 1},                                     // a reference without a node
  };
  for (const Case& c : cases) {
    const osm2rmf::Conversion conv = osm2rmf::ConvertOsmText(Way(tags, c.refs), "T");
    ASSERT_TRUE(conv.ok) << conv.error;
    ASSERT_EQ(conv.streets.features.size(), c.streets) << c.refs;
    EXPECT_EQ(conv.stats.droppedWays, c.streets == 0 ? 1u : 0u);
    for (const Feature& f : conv.streets.features) {
      EXPECT_EQ(f.detail, "A/B Street");  // a backslash would split the name into pieces
      for (std::size_t i = 1; i < f.points.size(); ++i) EXPECT_FALSE(Same(f.points[i], f.points[i - 1]));
    }
    EXPECT_TRUE(rmfbuild::BuildFeatureMap(conv.streets).ok);
  }
}

TEST(Osm2RmfTags, BadInputIsRefusedOrSkipped) {
  // Input that is no OpenStreetMap data, or whose numbers do not read, is
  // refused with what was wrong.
  struct Refused {
    std::string xml;
    const char* error;  // a part of the message
  };
  const Refused refused[] = {
      {"<osm version='0.6'><node", "XML"},
      {"<osm><node id='1' lat='1' lon='2'/></osm>", "version"},
      {"<osm version='0.6'><node id='1' lat='nan' lon='0'/></osm>", "coordinate"},
      // Exponents the reader would wrap to another place instead of refusing.
      {"<osm version='0.6'><node id='1' lat='1e300' lon='0'/></osm>", "coordinate"},
      {"<osm version='0.6'><node id='1' lat='53.5' lon='-1e300'/></osm>", "coordinate"},
      {"<osm version='0.6'><node id='1' lat='53.5'\n lon=\"1.3e21\"/></osm>", "coordinate"},
      {Way(R"(<tag k="highway" v="residential"/>)", R"(<nd ref="x"/><nd ref="2"/>)"), "id"},
      // A node after the ways: they would have been read without its position.
      {"<osm version='0.6'><node id='1' lat='1' lon='2'/><way id='5'><nd ref='1'/><nd ref='2'/></way>"
       "<node id='2' lat='1' lon='3'/></osm>", "sort"},
  };
  for (const Refused& r : refused) {
    const osm2rmf::Conversion conv = osm2rmf::ConvertOsmText(r.xml, "T");
    EXPECT_FALSE(conv.ok) << r.xml;
    EXPECT_NE(conv.error.find(r.error), std::string::npos) << conv.error;
  }
  const osm2rmf::Conversion missing = osm2rmf::ConvertOsmFile("no/such/file.osm", "T");
  EXPECT_FALSE(missing.ok);
  EXPECT_NE(missing.error.find("cannot open no/such/file.osm"), std::string::npos) << missing.error;
  // Nodes with positions outside the world or without one are skipped.
  const osm2rmf::Conversion conv = osm2rmf::ConvertOsmText(
      R"(<osm version="0.6"><node id="1" lat="91" lon="0"/><node id="2" lat="0" lon="-180.5"/><node id="3" lat="1"/>)"
      R"(<node id="4" lat="1" lon="2"/></osm>)", "T");
  ASSERT_TRUE(conv.ok) << conv.error;
  EXPECT_EQ(conv.stats.nodes, 1u);
}

// Objects an editor has not uploaded yet have negative ids; their nodes are
// nodes like any other, and a way may mix both kinds.
TEST(Osm2RmfTags, NodesWithNegativeIdsHavePositions) {
  const osm2rmf::Conversion conv = osm2rmf::ConvertOsmText(
      "<osm version='0.6'><node id='-7' lat='53.5' lon='13.25'/><node id='-3' lat='53.5' lon='13.252'/>"
      "<node id='4' lat='53.501' lon='13.252'/><way id='-1'><nd ref='-7'/><nd ref='-3'/><nd ref='4'/>"
      "<tag k='highway' v='residential'/><tag k='name' v='Neuer Weg'/></way></osm>",
      "T");
  ASSERT_TRUE(conv.ok) << conv.error;
  EXPECT_EQ(conv.stats.nodes, 3u);
  ASSERT_EQ(conv.streets.features.size(), 1u);
  const Feature& f = conv.streets.features[0];
  ASSERT_EQ(f.points.size(), 3u);
  EXPECT_TRUE(Same(f.points[0], TiPoint{osm2rmf::LongitudeToUnits(13.25), osm2rmf::LatitudeToUnits(53.5)}));
  EXPECT_TRUE(Same(f.points[2], TiPoint{osm2rmf::LongitudeToUnits(13.252), osm2rmf::LatitudeToUnits(53.501)}));
}

TEST(Osm2RmfUnits, DegreesRoundHalfAwayFromZeroAndStayInTheWorld) {
  EXPECT_EQ(osm2rmf::LongitudeToUnits(1.0), 745654);
  EXPECT_EQ(osm2rmf::LongitudeToUnits(-1.0), -745654);
  EXPECT_EQ(osm2rmf::LatitudeToUnits(37.8), 28185723);      // 28185722.88
  EXPECT_EQ(osm2rmf::LongitudeToUnits(-122.3), -91193490);  // -91193489.64
  EXPECT_EQ(osm2rmf::LongitudeToUnits(180.0), 134217727);
  EXPECT_EQ(osm2rmf::LongitudeToUnits(-180.0), -134217728);
  EXPECT_EQ(osm2rmf::LatitudeToUnits(90.0), 67108863);
  EXPECT_EQ(osm2rmf::LatitudeToUnits(-90.0), -67108864);
  EXPECT_EQ(osm2rmf::PoiFileId("WestOakland"), "westoakland_poi_01");
}

// ---- addresses, house-number ranges and localities ------------------------------------

// An OSM document put together in a test, with positions in metres east and
// north of 53.5 N and a longitude (13 E unless told), written with single quotes as many extracts are.
class Osm {
 public:
  static constexpr double kLat = 53.5;

  explicit Osm(double originLon = 13.0) : lon_(originLon) {}

  static double Lat(double north) { return kLat + north / kMetresPerDegree; }
  double Lon(double east) const { return lon_ + east / (kMetresPerDegree * std::cos(kLat * 3.14159265358979323846 / 180)); }
  TiPoint Units(double east, double north) const {
    return {osm2rmf::LongitudeToUnits(Lon(east)), osm2rmf::LatitudeToUnits(Lat(north))};
  }

  Osm& Node(int id, double east, double north, const std::string& tags = "") {
    char head[128];
    std::snprintf(head, sizeof head, "<node id='%d' lat='%.8f' lon='%.8f'", id, Lat(north), Lon(east));
    xml_ += head;
    xml_ += tags.empty() ? "/>" : ">" + tags + "</node>";
    return *this;
  }
  Osm& Way(int id, const std::vector<int>& refs, const std::string& tags) {
    xml_ += "<way id='" + std::to_string(id) + "'>";
    for (int ref : refs) xml_ += "<nd ref='" + std::to_string(ref) + "'/>";
    xml_ += tags + "</way>";
    return *this;
  }
  // Members are ways: (way id, role).
  Osm& Relation(int id, const std::vector<std::pair<int, std::string>>& members, const std::string& tags) {
    xml_ += "<relation id='" + std::to_string(id) + "'>";
    for (const auto& [ref, role] : members) {
      xml_ += "<member type='way' ref='" + std::to_string(ref) + "' role='" + role + "'/>";
    }
    xml_ += tags + "</relation>";
    return *this;
  }
  // Members of any type: (type, ref, role).
  struct Member {
    const char* type;
    int ref;
    const char* role;
  };
  Osm& RelationWith(int id, const std::vector<Member>& members, const std::string& tags) {
    xml_ += "<relation id='" + std::to_string(id) + "'>";
    for (const Member& m : members) {
      xml_ += std::string("<member type='") + m.type + "' ref='" + std::to_string(m.ref) + "' role='" + m.role + "'/>";
    }
    xml_ += tags + "</relation>";
    return *this;
  }
  osm2rmf::Conversion Convert() const { return osm2rmf::ConvertOsmText("<osm version='0.6'>" + xml_ + "</osm>", "T"); }

 private:
  static constexpr double kMetresPerDegree = 2 * 3.14159265358979323846 * 6371008.8 / 360;
  double lon_;
  std::string xml_;
};

std::string T(std::initializer_list<std::pair<const char*, const char*>> tags) {
  std::string xml;
  for (const auto& [k, v] : tags) xml += std::string("<tag k='") + k + "' v='" + v + "'/>";
  return xml;
}

std::string Street(const char* name) { return T({{"highway", "residential"}, {"name", name}}); }

std::string AddressTags(const char* street, const char* number) {
  return T({{"addr:street", street}, {"addr:housenumber", number}});
}

// The features' attribute with this code, one per feature (null: none).
std::vector<const rmfbuild::TextTriple*> AttributesOf(const osm2rmf::Conversion& c, const std::string& code) {
  std::vector<const rmfbuild::TextTriple*> found;
  for (const Feature& f : c.streets.features) {
    std::size_t n = 0;
    found.push_back(nullptr);
    for (const rmfbuild::TextTriple& t : f.attributes) {
      if (t.code != code) continue;
      found.back() = &t;
      ++n;
    }
    EXPECT_LE(n, 1u) << code << " on " << f.detail;
  }
  return found;
}

struct Housed {
  double east;
  double north;
  const char* number;
};

TEST(Osm2RmfAddresses, RangesListTheRightSideFirstAndRunAlongTheVertexOrder) {
  // The street runs 300 m east from node 1 to node 3; looking east, south is
  // on the right.
  const std::vector<Housed> south = {{30, -20, "1"}, {120, -20, "3"}, {260, -20, "5a"}};
  const std::vector<Housed> north = {{30, 20, "2"}, {150, 20, "4-6"}, {280, 20, "8"}};
  struct Case {
    const char* what;
    std::vector<int> refs;
    std::vector<Housed> houses;
    const char* range;
  };
  const std::vector<Case> cases = {
      {"both sides", {1, 2, 3}, {south[0], south[1], south[2], north[0], north[1], north[2]}, "1\\5\\2\\8"},
      {"drawn westwards: sides and ends swap", {3, 2, 1}, {south[0], south[1], south[2], north[0], north[1], north[2]},
       "8\\2\\5\\1"},
      {"right side only", {1, 2, 3}, south, "1\\5\\0\\0"},
      {"left side only, drawn westwards", {3, 2, 1}, south, "0\\0\\5\\1"},
      {"numbers falling along the street", {1, 2, 3}, {{30, 20, "20"}, {150, 20, "18"}, {280, 20, "16"}},
       "0\\0\\20\\16"},
      // 3 stands a little nearer the first vertex than 1: the range still
      // holds 1.
      {"a house out of order near an end", {1, 2, 3}, {{10, -20, "3"}, {40, -20, "1"}, {260, -20, "5"}},
       "1\\5\\0\\0"},
      {"one house with two numbers", {1, 2, 3}, {{150, -20, "12;14"}}, "12\\14\\0\\0"},
      {"a house exactly on the street counts as right", {1, 2, 3}, {{150, 0, "7"}}, "7\\7\\0\\0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Osm osm;
    osm.Node(1, 0, 0).Node(2, 150, 0).Node(3, 300, 0);
    int id = 100;
    for (const Housed& h : c.houses) osm.Node(++id, h.east, h.north, AddressTags("Lindenstraße", h.number));
    osm.Way(10, c.refs, Street("Lindenstraße"));
    const osm2rmf::Conversion conv = osm.Convert();
    ASSERT_TRUE(conv.ok) << conv.error;
    EXPECT_EQ(conv.stats.addressNodes, c.houses.size());
    EXPECT_EQ(conv.stats.addressesMatched, c.houses.size());
    EXPECT_EQ(conv.stats.houseNumberRanges, 1u);
    const std::vector<const rmfbuild::TextTriple*> ranges = AttributesOf(conv, "12B-+");
    ASSERT_EQ(ranges.size(), 1u);
    ASSERT_NE(ranges[0], nullptr);
    EXPECT_EQ(ranges[0]->name, "A");
    EXPECT_EQ(ranges[0]->detail, c.range);
    EXPECT_TRUE(rmfbuild::BuildFeatureMap(conv.streets).ok);
  }
}

TEST(Osm2RmfAddresses, AnAddressGoesToTheNearestStreetOfItsNameWithin300Metres) {
  // Streets (in feature order): 0 Lindenstraße along y = 0 from x = 0 to
  // 300, 1 Birkenweg along y = 100, 2 another Lindenstraße along y = 200.
  struct Case {
    double east;
    double north;
    const char* street;
    int feature;  // the street that gets the range; -1: none
    const char* range;
  };
  const Case cases[] = {
      {150, -30, "Lindenstraße", 0, "9\\9\\0\\0"},
      // Birkenweg is nearer to these two, but another street.
      {150, 90, "Lindenstraße", 0, "0\\0\\9\\9"},
      {150, 110, "Lindenstraße", 2, "9\\9\\0\\0"},
      {150, -290, "Lindenstraße", 0, "9\\9\\0\\0"},
      {150, -310, "Lindenstraße", -1, ""},
      // Beyond the east end, along the street: east-west metres are shorter
      // than north-south ones at this latitude.
      {550, 0, "Lindenstraße", 0, "9\\9\\0\\0"},
      {620, 0, "Lindenstraße", -1, ""},
      {150, -30, "Eichenallee", -1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.street) + " at " + std::to_string(c.east) + ", " + std::to_string(c.north));
    Osm osm;
    osm.Node(1, 0, 0).Node(2, 300, 0).Node(3, 0, 100).Node(4, 300, 100).Node(5, 0, 200).Node(6, 300, 200);
    osm.Node(100, c.east, c.north, AddressTags(c.street, "9"));
    osm.Way(10, {1, 2}, Street("Lindenstraße")).Way(11, {3, 4}, Street("Birkenweg"));
    osm.Way(12, {5, 6}, Street("Lindenstraße"));
    const osm2rmf::Conversion conv = osm.Convert();
    ASSERT_TRUE(conv.ok) << conv.error;
    ASSERT_EQ(conv.addresses.size(), 1u);
    const osm2rmf::Address& a = conv.addresses[0];
    EXPECT_EQ(a.street, c.street);
    EXPECT_EQ(a.houseNumber, "9");
    EXPECT_FALSE(a.fromWay);
    EXPECT_TRUE(Same(a.point, osm.Units(c.east, c.north)));
    EXPECT_EQ(conv.stats.addressesMatched, c.feature < 0 ? 0u : 1u);
    const std::vector<const rmfbuild::TextTriple*> ranges = AttributesOf(conv, "12B-+");
    ASSERT_EQ(ranges.size(), 3u);
    for (int k = 0; k < 3; ++k) {
      if (k != c.feature) {
        EXPECT_EQ(ranges[k], nullptr) << "street " << k;
      } else if (ranges[k] == nullptr) {
        ADD_FAILURE() << "no range on street " << k;
      } else {
        EXPECT_EQ(ranges[k]->detail, c.range);
      }
    }
  }
}

// An address whose street has no street of its name within reach goes to
// the nearest whose name is the same written differently, else to the
// nearest whose name is a letter apart; a street of its very name within
// reach always comes first.
TEST(Osm2RmfAddresses, ANameWrittenOrSpelledALittleDifferentlyStillFindsItsStreet) {
  // Streets (in feature order) along y = 0, 100 and 200 from x = 0 to 300.
  struct Case {
    const char* street;  // the address's addr:street
    double north;
    std::vector<const char*> names;  // of the three streets
    int feature;  // the street that gets the range; -1: none
    int kind;     // 0 its very name, 1 written differently, 2 a letter apart
  };
  const Case cases[] = {
      {"Wiesengasse", 10, {"Wiesengass", "Birkenweg", "Lindenstraße"}, 0, 2},
      {"Zollstr.", 90, {"Birkenweg", "Zollstrasse", "Lindenstraße"}, 1, 1},
      {"Zollstraße", 90, {"Birkenweg", "Zollstr", "Lindenstraße"}, 1, 1},
      {"Dorf-Str. ", 190, {"Birkenweg", "Lindenstraße", "Dorfstraße"}, 2, 1},
      {"Market St", 10, {"Market Street", "Birkenweg", "Lindenstraße"}, 0, 1},
      // Written differently comes before a letter apart, even when farther.
      {"Lindenstr.", 110, {"Birkenweg", "Lindenstrasse", "Lindenstraße"}, 1, 1},
      {"Lindenstr.", 110, {"Birkenweg", "Lindenstrasze", "Lindenstraße"}, 2, 1},
      // Its very name comes first, however near the others are.
      {"Wiesengass", 10, {"Wiesengasse", "Birkenweg", "Wiesengass"}, 2, 0},
      // Not the same street: a number apart, too short, two letters apart,
      // beyond reach.
      {"Ausbau 2", 10, {"Ausbau 1", "Birkenweg", "Lindenstraße"}, -1, 0},
      {"Ring", 10, {"Rind", "Birkenweg", "Lindenstraße"}, -1, 0},
      {"Wiesengasse", 10, {"Wiesengas", "Birkenweg", "Lindenstraße"}, -1, 0},
      {"Wiesengasse", -320, {"Wiesengass", "Birkenweg", "Lindenstraße"}, -1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.street) + " beside " + c.names[static_cast<std::size_t>(std::max(c.feature, 0))]);
    Osm osm;
    osm.Node(1, 0, 0).Node(2, 300, 0).Node(3, 0, 100).Node(4, 300, 100).Node(5, 0, 200).Node(6, 300, 200);
    osm.Node(100, 150, c.north, AddressTags(c.street, "9"));
    osm.Way(10, {1, 2}, Street(c.names[0])).Way(11, {3, 4}, Street(c.names[1])).Way(12, {5, 6}, Street(c.names[2]));
    const osm2rmf::Conversion conv = osm.Convert();
    ASSERT_TRUE(conv.ok) << conv.error;
    const osm2rmf::ConvertStats& s = conv.stats;
    EXPECT_EQ(s.addressesMatched, c.feature < 0 ? 0u : 1u);
    EXPECT_EQ(s.addressesMatchedWrittenDifferently, c.feature >= 0 && c.kind == 1 ? 1u : 0u);
    EXPECT_EQ(s.addressesMatchedSpelledDifferently, c.feature >= 0 && c.kind == 2 ? 1u : 0u);
    const std::vector<const rmfbuild::TextTriple*> ranges = AttributesOf(conv, "12B-+");
    ASSERT_EQ(ranges.size(), 3u);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(ranges[k] != nullptr, k == c.feature) << "street " << k;
  }
}

// Random streets and one address, against a plain search over every segment
// in the metres the fixture was drawn in: the grid the converter files
// segments under must neither lose a street nor pick the wrong side. Long
// segments cross many cells; half the trials straddle longitude 0, where
// map units change sign.
TEST(Osm2RmfAddresses, PlacementMatchesAPlainSearchOverAllSegments) {
  constexpr std::uint32_t kSeed = 20240611;
  std::mt19937 random(kSeed);
  std::uniform_real_distribution<double> coordinate(-1500, 1500);
  std::uniform_int_distribution<int> vertices(2, 4);
  std::uniform_int_distribution<int> coin(0, 1);
  int checked = 0, matched = 0;
  for (int trial = 0; trial < 300; ++trial) {
    SCOPED_TRACE("seed " + std::to_string(kSeed) + ", trial " + std::to_string(trial));
    struct Drawn {
      bool named;  // "Ring" (the address's street) or "Gasse"
      std::vector<std::pair<double, double>> points;
    };
    std::vector<Drawn> streets(3);
    for (Drawn& s : streets) {
      s.named = coin(random) == 1;
      const int n = vertices(random);
      for (int i = 0; i < n; ++i) s.points.emplace_back(coordinate(random), coordinate(random));
    }
    const double ax = coordinate(random) / 3, ay = coordinate(random) / 3;

    // The model: nearest segment of a street named "Ring" within 300 m.
    struct Candidate {
      double distance;
      int street;
      bool right;
      double cross;  // distance of the address from the segment's line
    };
    std::vector<Candidate> candidates;
    for (int k = 0; k < 3; ++k) {
      if (!streets[k].named) continue;
      const auto& p = streets[k].points;
      for (std::size_t i = 0; i + 1 < p.size(); ++i) {
        const double bx = p[i + 1].first - p[i].first, by = p[i + 1].second - p[i].second;
        const double px = ax - p[i].first, py = ay - p[i].second;
        const double len2 = bx * bx + by * by;
        const double t = std::clamp((px * bx + py * by) / len2, 0.0, 1.0);
        const double cross = bx * py - by * px;
        candidates.push_back({std::hypot(px - t * bx, py - t * by), k, cross <= 0, std::fabs(cross) / std::sqrt(len2)});
      }
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.distance < b.distance; });
    // Leave out the trials that rounding could decide either way.
    if (!candidates.empty()) {
      const Candidate& best = candidates[0];
      if (std::fabs(best.distance - 300) < 1 || best.cross < 1) continue;
      if (candidates.size() > 1 && candidates[1].distance - best.distance < 1 &&
          (candidates[1].street != best.street || candidates[1].right != best.right)) {
        continue;
      }
    }
    const int expected = !candidates.empty() && candidates[0].distance < 300 ? candidates[0].street : -1;

    Osm osm(trial % 2 == 0 ? 13.0 : 0.0);
    int id = 0;
    std::vector<std::vector<int>> refs(3);
    for (int k = 0; k < 3; ++k) {
      for (const auto& [x, y] : streets[k].points) {
        osm.Node(++id, x, y);
        refs[k].push_back(id);
      }
    }
    osm.Node(++id, ax, ay, AddressTags("Ring", "7"));
    for (int k = 0; k < 3; ++k) osm.Way(100 + k, refs[k], Street(streets[k].named ? "Ring" : "Gasse"));
    const osm2rmf::Conversion conv = osm.Convert();
    ASSERT_TRUE(conv.ok) << conv.error;
    ASSERT_EQ(conv.streets.features.size(), 3u);
    const std::vector<const rmfbuild::TextTriple*> ranges = AttributesOf(conv, "12B-+");
    for (int k = 0; k < 3; ++k) {
      if (k != expected) {
        EXPECT_EQ(ranges[k], nullptr) << "street " << k;
      } else if (ranges[k] == nullptr) {
        ADD_FAILURE() << "no range on street " << k << " (" << candidates[0].distance << " m away)";
      } else {
        EXPECT_EQ(ranges[k]->detail, candidates[0].right ? "7\\7\\0\\0" : "0\\0\\7\\7");
      }
    }
    ++checked;
    matched += expected >= 0 ? 1 : 0;
  }
  // Enough trials of both outcomes to mean something.
  EXPECT_GT(checked, 250);
  EXPECT_GT(matched, 60);
  EXPECT_GT(checked - matched, 60);
}

TEST(Osm2RmfAddresses, InterpolationEndsWithoutAStreetTakeTheLinesOrTheOtherEnds) {
  struct Case {
    const char* what;
    std::string line;  // the interpolation line's tags
    std::string from;  // the end nodes' tags
    std::string to;
    std::size_t addresses;
    const char* range;  // "": none
  };
  const std::string two = T({{"addr:housenumber", "2"}});
  const std::string ten = T({{"addr:housenumber", "10"}});
  const std::string interpolation = T({{"addr:interpolation", "even"}});
  const std::string ofLine = T({{"addr:interpolation", "even"}, {"addr:street", "Kurze Straße"}});
  const Case cases[] = {
      {"the line names the street", ofLine, two, ten, 2, "0\\0\\2\\10"},
      {"one end names it", interpolation, AddressTags("Kurze Straße", "2"), ten, 2, "0\\0\\2\\10"},
      {"nobody names it", interpolation, two, ten, 0, ""},
      {"an end without a number is no address", ofLine, "", ten, 1, "0\\0\\10\\10"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Osm osm;
    osm.Node(1, 0, 0).Node(2, 300, 0);
    osm.Node(100, 50, 25, c.from).Node(101, 150, 25).Node(102, 250, 25, c.to);
    osm.Way(10, {1, 2}, Street("Kurze Straße")).Way(11, {100, 101, 102}, c.line);
    const osm2rmf::Conversion conv = osm.Convert();
    ASSERT_TRUE(conv.ok) << conv.error;
    EXPECT_EQ(conv.stats.interpolationLines, 1u);
    EXPECT_EQ(conv.stats.addressNodes, c.addresses);
    ASSERT_EQ(conv.addresses.size(), c.addresses);
    for (const osm2rmf::Address& a : conv.addresses) EXPECT_EQ(a.street, "Kurze Straße");
    const std::vector<const rmfbuild::TextTriple*> ranges = AttributesOf(conv, "12B-+");
    ASSERT_EQ(ranges.size(), 1u);
    if (*c.range == 0) {
      EXPECT_EQ(ranges[0], nullptr);
    } else {
      ASSERT_NE(ranges[0], nullptr);
      EXPECT_EQ(ranges[0]->detail, c.range);
    }
  }
}

TEST(Osm2RmfAddresses, HouseNumbersAndCountryCodes) {
  struct Numbers {
    const char* text;
    std::vector<std::int32_t> numbers;
  };
  const Numbers numbers[] = {
      {"12", {12}},          {"12a", {12}},       {"12 a", {12}},          {"12-14", {12, 14}},
      {"12;14", {12, 14}},   {"12, 14", {12, 14}}, {" 7", {7}},            {"12/1", {12}},
      {"a", {}},             {"", {}},            {"0", {}},               {"b-3", {3}},
      {"999999999", {999999999}}, {"1234567890", {}}, {"12;;", {12}},
  };
  for (const Numbers& n : numbers) EXPECT_EQ(osm2rmf::HouseNumbers(n.text), n.numbers) << '"' << n.text << '"';

  const std::pair<const char*, const char*> countries[] = {
      {"DE", "DEU"}, {"de", "DEU"}, {"US", "USA"}, {"GB", "GBR"}, {"DEU", "DEU"}, {"XX", "XX"}, {"D", "D"}, {"", ""},
  };
  for (const auto& [code, three] : countries) EXPECT_EQ(osm2rmf::CountryCode3(code), three) << code;
}

TEST(Osm2RmfLocality, FromTheStreetsAddressesElseTheNearestAddressAndTheNearestPlace) {
  Osm osm;
  // Lindenstraße along y = 0 with three addresses south of it; Birkenweg
  // 300 m north without any; Feldweg 3 km east, out of reach of both.
  osm.Node(1, 0, 0).Node(2, 300, 0).Node(3, 0, 300).Node(4, 300, 300).Node(5, 3000, 0).Node(6, 3300, 0);
  osm.Node(100, 140, -20,
           AddressTags("Lindenstraße", "1") +
               T({{"addr:city", "Burg Stargard"}, {"addr:postcode", "17033"}, {"addr:country", "de"}}));
  osm.Node(101, 40, -20,
           AddressTags("Lindenstraße", "3") + T({{"addr:city", "Neubrandenburg"}, {"addr:postcode", "17033"}}));
  osm.Node(102, 260, -20,
           AddressTags("Lindenstraße", "5") + T({{"addr:city", "Neubrandenburg"}, {"addr:suburb", "Ost\\stadt"}}));
  osm.Node(200, 150, 100, T({{"place", "village"}, {"name", "Broda"}}));
  osm.Node(201, 3150, 50, T({{"place", "isolated_dwelling"}, {"name", "Einzelhof"}}));  // not a locality
  osm.Node(202, 3150, 2200, T({{"place", "hamlet"}, {"name", "Fern"}}));                 // 2.2 km away
  osm.Node(203, 3100, 20, T({{"place", "hamlet"}}));                                     // no name
  osm.Way(10, {1, 2}, Street("Lindenstraße")).Way(11, {3, 4}, Street("Birkenweg")).Way(12, {5, 6}, Street("Feldweg"));
  const osm2rmf::Conversion conv = osm.Convert();
  ASSERT_TRUE(conv.ok) << conv.error;

  const std::vector<const rmfbuild::TextTriple*> localities = AttributesOf(conv, "121");
  ASSERT_EQ(localities.size(), 3u);
  // Most common city of its own addresses; the suburb is its borough.
  ASSERT_NE(localities[0], nullptr);
  EXPECT_EQ(localities[0]->name, "DEU\\17033");
  EXPECT_EQ(localities[0]->detail, "Broda\\Neubrandenburg\\Ost/stadt\\\\");
  // Each field from the nearest address that has it (house 1, 320 m away).
  ASSERT_NE(localities[1], nullptr);
  EXPECT_EQ(localities[1]->name, "DEU\\17033");
  EXPECT_EQ(localities[1]->detail, "Broda\\Burg Stargard\\\\\\");
  EXPECT_EQ(localities[2], nullptr);
  EXPECT_EQ(conv.stats.streetsWithCity, 2u);
  EXPECT_EQ(conv.stats.streetsWithPostcode, 2u);
  EXPECT_EQ(conv.stats.boundariesUsed, 0u);
  EXPECT_TRUE(rmfbuild::BuildFeatureMap(conv.streets).ok);
}

TEST(Osm2RmfLocality, BoundariesThatCloseGiveCityBoroughCountyStateAndPostalCode) {
  Osm osm;
  // Lindenstraße in the middle of a 1 km square (the city and its postal
  // area); Inselweg in a hole of the city; Feldweg 2 km east, where only
  // the 10 km square of county and state reaches, with an address of its own.
  osm.Node(1, 0, 0).Node(2, 300, 0).Node(3, -400, 350).Node(4, -300, 350).Node(5, 2000, 0).Node(6, 2300, 0);
  osm.Node(100, 2150, -20, AddressTags("Feldweg", "1") + T({{"addr:city", "Dorf"}}));
  osm.Node(201, -500, -500).Node(202, -500, 500).Node(203, 500, 500).Node(204, 500, -500);
  osm.Node(205, -5000, -5000).Node(206, -5000, 5000).Node(207, 5000, 5000).Node(208, 5000, -5000);
  osm.Node(209, -450, 250).Node(210, -450, 450).Node(211, -250, 450).Node(212, -250, 250);
  osm.Way(10, {1, 2}, Street("Lindenstraße")).Way(11, {3, 4}, Street("Inselweg")).Way(12, {5, 6}, Street("Feldweg"));
  // The square's two halves both start at its south-west corner: joining
  // them turns one around.
  osm.Way(20, {201, 202, 203}, T({{"boundary", "administrative"}}));
  osm.Way(21, {201, 204, 203}, T({{"boundary", "administrative"}}));
  osm.Way(22, {205, 206, 207, 208, 205}, "");
  osm.Way(23, {209, 210, 211, 212, 209}, "");
  osm.Way(24, {201, 999, 203}, "");  // node 999 is not in the extract
  auto admin = [](const char* level, const char* name) {
    return T({{"type", "boundary"}, {"boundary", "administrative"}, {"admin_level", level}, {"name", name}});
  };
  osm.Relation(30, {{22, "outer"}}, admin("4", "Mecklenburg-Vorpommern"));
  osm.Relation(31, {{22, ""}}, admin("6", "Seenplatte"));
  osm.Relation(32, {{21, "outer"}, {20, "outer"}, {23, "inner"}}, admin("8", "Neustadt"));
  osm.Relation(33, {{20, "outer"}, {21, "outer"}}, T({{"boundary", "postal_code"}, {"postal_code", "17033"}}));
  osm.Relation(34, {{20, "outer"}, {21, "outer"}}, admin("10", "Teil"));
  osm.Relation(35, {{20, "outer"}, {99, "outer"}}, admin("9", "Unvollständig"));  // way 99 is missing
  osm.Relation(36, {{20, "outer"}, {24, "outer"}}, admin("9", "Lücke"));          // node 999 is missing
  osm.Relation(37, {{20, "outer"}, {21, "outer"}}, admin("7", "Amt"));            // no level we use
  const osm2rmf::Conversion conv = osm.Convert();
  ASSERT_TRUE(conv.ok) << conv.error;
  EXPECT_EQ(conv.stats.boundariesUsed, 5u);

  const std::vector<const rmfbuild::TextTriple*> localities = AttributesOf(conv, "121");
  ASSERT_EQ(localities.size(), 3u);
  for (const rmfbuild::TextTriple* l : localities) ASSERT_NE(l, nullptr);
  EXPECT_EQ(localities[0]->name, "\\17033");
  EXPECT_EQ(localities[0]->detail, "\\Neustadt\\Teil\\Seenplatte\\Mecklenburg-Vorpommern");
  EXPECT_EQ(localities[1]->name, "\\17033");
  EXPECT_EQ(localities[1]->detail, "\\\\Teil\\Seenplatte\\Mecklenburg-Vorpommern");
  EXPECT_EQ(localities[2]->name, "\\");
  EXPECT_EQ(localities[2]->detail, "\\Dorf\\\\Seenplatte\\Mecklenburg-Vorpommern");
  EXPECT_EQ(conv.stats.streetsWithCity, 2u);
  EXPECT_EQ(conv.stats.streetsWithPostcode, 2u);
}

TEST(Osm2RmfPois, BuildingsAndAreasBecomePointsAtTheMeanOfTheirNodes) {
  Osm osm;
  osm.Node(1, 0, 0).Node(2, 100, 0).Node(3, 100, 60).Node(4, 0, 60);
  osm.Node(5, 200, 0, T({{"shop", "bakery"}}));
  osm.Node(6, 210, 0, T({{"amenity", "bench"}}));  // no category takes benches
  const std::string school = T({{"amenity", "school"}, {"building", "yes"}});
  osm.Way(10, {1, 2, 3, 4, 1}, school + AddressTags("Schulstraße", "4"));
  osm.Way(11, {1, 2, 3, 4, 1}, T({{"building", "yes"}}));
  osm.Way(12, {1, 77, 3}, T({{"leisure", "playground"}}));  // node 77 is not in the extract
  osm.Way(13, {77, 78}, T({{"leisure", "playground"}}));    // none of its nodes is
  const osm2rmf::Conversion conv = osm.Convert();
  ASSERT_TRUE(conv.ok) << conv.error;

  auto mean = [](std::initializer_list<TiPoint> points) {
    double x = 0, y = 0;
    for (const TiPoint& p : points) {
      x += p.x;
      y += p.y;
    }
    const double n = static_cast<double>(points.size());
    return TiPoint{static_cast<std::int32_t>(std::lround(x / n)), static_cast<std::int32_t>(std::lround(y / n))};
  };
  const TiPoint schoolAt =
      mean({osm.Units(0, 0), osm.Units(100, 0), osm.Units(100, 60), osm.Units(0, 60)});  // the closing node once
  struct Expected {
    const char* name;
    int level;
    int classDigit;
    TiPoint at;
  };
  const Expected expected[] = {
      {"t_poi_01,2", 2, 5, osm.Units(200, 0)},                            // nodes first
      {"t_poi_01,1", 2, 3, schoolAt},                                      // school
      {"t_poi_01,2", 3, 4, mean({osm.Units(0, 0), osm.Units(100, 60)})},  // playground
  };
  ASSERT_EQ(conv.pois.features.size(), std::size(expected));
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    const Feature& f = conv.pois.features[i];
    SCOPED_TRACE(f.name);
    EXPECT_EQ(f.name, expected[i].name);
    EXPECT_EQ(f.featureClass, (rmfbuild::FeatureClass{expected[i].level, expected[i].classDigit,
                                                     rmfbuild::FeatureCategory::kPoint}));
    ASSERT_EQ(f.points.size(), 1u);
    EXPECT_TRUE(Same(f.points[0], expected[i].at)) << f.points[0].x << "," << f.points[0].y;
    EXPECT_EQ(f.detail, std::to_string(i + 1));
  }
  EXPECT_EQ(conv.stats.pois, 3u);
  EXPECT_EQ(conv.stats.poisByCategory[8], 1u);   // education
  EXPECT_EQ(conv.stats.poisByCategory[10], 1u);  // shopping
  EXPECT_EQ(conv.stats.poisByCategory[13], 1u);  // leisure
  // The school building is an address too, at the same point.
  ASSERT_EQ(conv.addresses.size(), 1u);
  EXPECT_TRUE(conv.addresses[0].fromWay);
  EXPECT_TRUE(Same(conv.addresses[0].point, schoolAt));
  EXPECT_EQ(conv.stats.addressWays, 1u);
  EXPECT_TRUE(rmfbuild::BuildFeatureMap(conv.pois).ok);
}

TEST(Osm2RmfPois, MultipolygonsBecomePointsAtTheMeanOfTheirOuterRings) {
  Osm osm;
  // A school drawn as a multipolygon of two half rings, with a courtyard;
  // a park whose relation names a way the extract does not hold, and whose
  // ways there still close; a multipolygon of a kind no category takes.
  osm.Node(1, 0, 0).Node(2, 0, 100).Node(3, 100, 100).Node(4, 100, 0);
  osm.Node(5, 40, 40).Node(6, 40, 60).Node(7, 60, 60).Node(8, 60, 40);
  osm.Node(11, 500, 0).Node(12, 500, 90).Node(13, 590, 90);
  osm.Way(20, {1, 2, 3}, "").Way(21, {3, 4, 1}, "").Way(22, {5, 6, 7, 8, 5}, "");
  osm.Way(23, {11, 12, 13, 11}, "");
  osm.Relation(30, {{20, "outer"}, {22, "inner"}, {21, "outer"}}, T({{"type", "multipolygon"}, {"amenity", "school"}}));
  osm.Relation(31, {{23, "outer"}, {99, "outer"}}, T({{"type", "multipolygon"}, {"leisure", "park"}}));
  osm.Relation(32, {{23, "outer"}}, T({{"type", "multipolygon"}, {"natural", "water"}}));
  const osm2rmf::Conversion conv = osm.Convert();
  ASSERT_TRUE(conv.ok) << conv.error;
  ASSERT_EQ(conv.pois.features.size(), 2u);
  EXPECT_EQ(conv.pois.features[0].name, "t_poi_01,1");  // school
  EXPECT_EQ(conv.pois.features[1].name, "t_poi_01,1");  // park
  auto mean = [&](std::initializer_list<std::pair<double, double>> corners) {
    double x = 0, y = 0;
    for (const auto& [east, north] : corners) {
      x += osm.Units(east, north).x;
      y += osm.Units(east, north).y;
    }
    const double n = static_cast<double>(corners.size());
    return TiPoint{static_cast<std::int32_t>(std::lround(x / n)), static_cast<std::int32_t>(std::lround(y / n))};
  };
  EXPECT_TRUE(Same(conv.pois.features[0].points[0], mean({{0, 0}, {0, 100}, {100, 100}, {100, 0}})));
  EXPECT_TRUE(Same(conv.pois.features[1].points[0], mean({{500, 0}, {500, 90}, {590, 90}})));
  EXPECT_EQ(conv.stats.poisByCategory[8], 1u);   // education
  EXPECT_EQ(conv.stats.poisByCategory[13], 1u);  // leisure
}

// Each point of the map has a database record under the key its map point
// names: its name, class, position (the point of the map, in degrees), the
// address of its addr:* tags, the extract's country when it names none, and
// its phone. Writing the maps replaces the database of an older run.
TEST(Osm2RmfPois, EachPointHasARecordUnderItsKeyAndTheDatabaseReplacesAnOldOne) {
  Osm osm;
  osm.Node(1, 0, 0).Node(2, 300, 0);
  // The extract's addresses name Germany twice and Poland once.
  osm.Node(3, 10, 20, AddressTags("Turmstraße", "1") + T({{"addr:country", "DE"}}));
  osm.Node(4, 30, 20, AddressTags("Turmstraße", "3") + T({{"addr:country", "PL"}}));
  osm.Node(5, 50, 20, AddressTags("Turmstraße", "5") + T({{"addr:country", "DE"}}));
  osm.Node(6, 100, 30,
           T({{"shop", "bakery"}, {"name", "B&#228;ckerei &quot;K&#252;hn&quot;; Filiale"}, {"addr:housenumber", "7a"},
              {"addr:street", "Turmstraße"}, {"addr:city", "Neubrandenburg"}, {"addr:postcode", "17033"},
              {"addr:country", "AT"}, {"phone", "+49 395 1"}, {"contact:phone", "+49 395 2"}}));
  osm.Node(7, 120, -30, T({{"amenity", "pharmacy"}, {"contact:phone", "+49 395 3"}}));
  osm.Node(10, 200, 40).Node(11, 240, 40).Node(12, 240, 80).Node(13, 200, 80);
  osm.Node(14, 400, 0).Node(15, 400, 90).Node(16, 490, 90);
  osm.Way(2, {1, 2}, Street("Turmstraße"));
  osm.Way(20, {10, 11, 12, 13, 10}, T({{"amenity", "school"}, {"name", "Schule"}, {"building", "yes"}}) +
                                        AddressTags("Schulstraße", "4"));
  osm.Way(21, {14, 15, 16, 14}, "");
  osm.Relation(30, {{21, "outer"}}, T({{"type", "multipolygon"}, {"leisure", "park"}, {"name", "Kulturpark"}}));
  const osm2rmf::Conversion conv = osm.Convert();
  ASSERT_TRUE(conv.ok) << conv.error;

  struct Expected {
    const char* name;
    int category, subcategory;
    double east, north;  // where the point lies, before rounding to map units
    const char* houseNumber;
    const char* street;
    const char* city;
    const char* postcode;
    const char* country;
    const char* phone;
  };
  const Expected expected[] = {
      {"Bäckerei \"Kühn\"; Filiale", 10, 2, 100, 30, "7a", "Turmstraße", "Neubrandenburg", "17033", "AT",
       "+49 395 1"},
      {"", 5, 2, 120, -30, "", "", "", "", "DE", "+49 395 3"},
      {"Schule", 8, 1, 220, 60, "4", "Schulstraße", "", "", "DE", ""},
      {"Kulturpark", 13, 1, 430, 60, "", "", "", "", "DE", ""},
  };
  ASSERT_EQ(conv.pois.features.size(), std::size(expected));
  ASSERT_EQ(conv.poiRecords.size(), std::size(expected));
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    const Expected& e = expected[i];
    const dorvanta::PoiRecord& r = conv.poiRecords[i];
    const Feature& f = conv.pois.features[i];
    SCOPED_TRACE(e.name);
    EXPECT_EQ(std::to_string(r.key), f.detail);
    EXPECT_EQ(r.name, e.name);
    EXPECT_EQ(r.category, e.category);
    EXPECT_EQ(r.subcategory, e.subcategory);
    EXPECT_EQ(f.name, "t_poi_01," + std::to_string(e.subcategory));
    // The record's position is the map's point, and lies where the object is.
    EXPECT_EQ(osm2rmf::LatitudeToUnits(r.latitude), f.points[0].y);
    EXPECT_EQ(osm2rmf::LongitudeToUnits(r.longitude), f.points[0].x);
    EXPECT_NEAR(r.latitude, Osm::Lat(e.north), 2e-6);
    EXPECT_NEAR(r.longitude, osm.Lon(e.east), 2e-6);
    EXPECT_EQ(r.houseNumber, e.houseNumber);
    EXPECT_EQ(r.street, e.street);
    EXPECT_EQ(r.city, e.city);
    EXPECT_EQ(r.postalCode, e.postcode);
    EXPECT_EQ(r.country, e.country);
    EXPECT_EQ(r.phone, e.phone);
  }

  // An older run's database, and a journal left beside it, are replaced.
  const testing_support::TempFolder temp("osm2rmf-pdb");
  const std::filesystem::path dir = temp.path();
  std::ofstream(dir / "T_POI_01.pdb") << "an older database";
  std::ofstream(dir / "T_POI_01.pdb-journal") << "a journal left behind";
  const osm2rmf::WriteReport report = osm2rmf::WriteMaps(conv, dir.string(), "T");
  ASSERT_TRUE(report.ok) << report.error;
  EXPECT_EQ(report.poiCompanion, (dir / "T_POI_01.pdb").string());
  {
    std::unique_ptr<dorvanta::PoiStore> store;
    ASSERT_EQ(dorvanta::PoiStore::Open(report.poiCompanion, dorvanta::PoiStore::Access::kReadOnly, store),
              dorvanta::DorvantaResult::kOk);
    std::vector<dorvanta::PoiRecord> stored;
    ASSERT_EQ(store->ForEach([&](const dorvanta::PoiRecord& r) {
      stored.push_back(r);
      return true;
    }),
              dorvanta::DorvantaResult::kOk);
    EXPECT_EQ(stored, conv.poiRecords);
  }
}

// ---- turn restrictions ---------------------------------------------------------------

// One stretch between two vertices of a street part in a map file: the
// street's name, its end points, and the route-restriction triples (code
// pair 7-B) stored for it, as the library hands them to the routing
// profile.
struct MapStretch {
  std::string street;
  TiPoint a{};
  TiPoint b{};
  std::vector<rmfbuild::TextTriple> restrictions;

  bool Touches(TiPoint p) const { return Same(a, p) || Same(b, p); }
};

std::vector<MapStretch> StretchesOf(RmfReader* reader) {
  RmfQuerySetLevels(reader, 1, 8);
  for (std::int32_t c = 0; c < 4; ++c) RmfQuerySetClassFilter(reader, c, c == 1 ? "1234567" : "");
  RmfQuerySetRect(reader, -(1 << 27), -(1 << 26), (1 << 27) - 1, (1 << 26) - 1);
  RmfQueryStart(reader);
  std::vector<std::pair<RmfFeatureRef, std::string>> parts;
  std::set<std::tuple<std::uint32_t, std::uint16_t, std::uint16_t, std::uint16_t>> seen;
  for (int guard = 0; guard < 1000000; ++guard) {
    char code[6] = {};
    char detail[251] = {};
    std::int32_t count = 0;
    RmfFeatureRef ref{};
    TiPoint* points = nullptr;
    const std::int32_t n = RmfQueryNext(reader, code, nullptr, detail, &count, &ref, &points);
    if (n == 0) break;
    if (n < 0) continue;
    if (seen.insert({ref.featureId, ref.source, ref.secondId, ref.part}).second) parts.emplace_back(ref, detail);
  }
  std::vector<MapStretch> stretches;
  auto set = std::make_unique<RmfAttrSet>();
  for (const auto& [ref, street] : parts) {
    RmfFeature* slot = nullptr;
    EXPECT_EQ(RmfFeatureFetch(reader, ref, &slot, nullptr), 1);
    if (slot == nullptr) continue;
    EXPECT_EQ(RmfFeatureSelectPart(slot, ref.part, 0, nullptr), 0);
    for (std::int32_t position = slot->firstVertex;;) {
      std::int32_t found = -1;
      const std::int32_t next = RmfFeatureNextNode(slot, ref.part, position, 1, &found, set.get());
      if (next < 0) break;
      MapStretch s;
      s.street = street;
      EXPECT_EQ(RmfFeaturePointAt(slot, RmfFeatureNodeAt(slot, ref.part, position), &s.a), 1);
      EXPECT_EQ(RmfFeaturePointAt(slot, next, &s.b), 1);
      for (std::int32_t i = 0; i < set->count; ++i) {
        const RmfAttrEntry& e = set->entries[i];
        if (std::string_view(e.code).substr(1, 2) == "7B") s.restrictions.push_back({e.code, e.value, e.name});
      }
      stretches.push_back(std::move(s));
      position = found;
    }
    (void)RmfFeatureRelease(slot);
  }
  return stretches;
}

// Writes the conversion's street map and reads its stretches back.
std::vector<MapStretch> WrittenStretches(const osm2rmf::Conversion& conv, const std::string& what) {
  const testing_support::TempFolder temp("osm2rmf-" + what);
  const std::filesystem::path dir = temp / "maps";
  const osm2rmf::WriteReport report = osm2rmf::WriteMaps(conv, dir.string(), "T");
  EXPECT_TRUE(report.ok) << report.error;
  std::vector<MapStretch> stretches;
  if (report.ok) {
    rmfbuild::MemoryReader maps{24u << 20};
    EXPECT_EQ(maps.AddFile(report.streetFile), 1) << maps.error();
    stretches = StretchesOf(maps.reader());
  }
  return stretches;
}

// A crossing with a no_left_turn and an only_straight_on at its middle
// node, a street that passes through another junction, and restrictions
// that cannot be placed or are not for cars. Tile borders cut the two
// streets that end at the crossing just before it, so the attributes must
// follow the cut to stay on the segment at the node.
//
// A from (or to) way that passes through the via node is not placed: its
// segment at the node is not one but two, one on either side, and the
// relation does not say which way the restricted traffic arrives. Marking
// both would restrict the traffic from the other side too (for only_*,
// every turn there but one), and splitting the way would change the
// street the map engine names.
TEST(Osm2RmfRestrictions, WrittenOnTheSegmentsAtTheViaNode) {
  // A level-0 cell border in x 120 m west of the crossing; one in y lies
  // about 82 m south of 53.5 N, 182 m south of the crossing.
  const double border = std::floor(13.0 * osm2rmf::kUnitsPerDegree / 4096) * 4096 / osm2rmf::kUnitsPerDegree;
  Osm osm(border + Osm(0).Lon(120));
  osm.Node(1, 0, 100);                                          // the crossing
  osm.Node(11, -300, 100).Node(12, -150, 100);                  // West, ends at the crossing
  osm.Node(21, 0, 250).Node(22, 0, 400);                        // North, starts there
  osm.Node(31, 150, 100).Node(32, 300, 100);                    // East, starts there
  osm.Node(41, 0, -250).Node(42, 0, -150);                      // South, ends there
  osm.Node(50, 500, 100).Node(51, 500, -50).Node(53, 500, 250);  // Through passes node 50
  osm.Node(61, 650, 100);                                       // Spur starts at node 50
  osm.Node(71, -300, 300).Node(72, -150, 300);                  // a stream
  osm.Way(1, {11, 12, 1}, Street("West")).Way(2, {1, 21, 22}, Street("North")).Way(3, {1, 31, 32}, Street("East"));
  osm.Way(4, {41, 42, 1}, Street("South")).Way(5, {51, 50, 53}, Street("Through")).Way(6, {50, 61}, Street("Spur"));
  osm.Way(7, {71, 72}, T({{"waterway", "stream"}}));
  auto restriction = [](const char* key, const char* value, const std::string& more = "") {
    return T({{"type", "restriction"}, {key, value}}) + more;
  };
  using M = Osm::Member;
  // Written.
  osm.RelationWith(100, {M{"way", 1, "from"}, M{"node", 1, "via"}, M{"way", 2, "to"}},
                   restriction("restriction", "no_left_turn"));
  osm.RelationWith(101, {M{"way", 2, "to"}, M{"node", 1, "via"}, M{"way", 4, "from"}},
                   restriction("restriction", "only_straight_on"));
  osm.RelationWith(107, {M{"way", 6, "from"}, M{"node", 50, "via"}, M{"way", 6, "to"}},
                   restriction("restriction:motorcar", "no_u_turn"));
  // Not placed.
  osm.RelationWith(102, {M{"way", 1, "from"}, M{"way", 3, "via"}, M{"way", 1, "to"}},
                   restriction("restriction", "no_u_turn"));
  osm.RelationWith(103, {M{"way", 5, "from"}, M{"node", 50, "via"}, M{"way", 6, "to"}},
                   restriction("restriction", "no_right_turn"));
  osm.RelationWith(104, {M{"way", 6, "from"}, M{"node", 50, "via"}, M{"way", 5, "to"}},
                   restriction("restriction", "only_left_turn"));
  osm.RelationWith(105, {M{"way", 1, "from"}, M{"node", 50, "via"}, M{"way", 6, "to"}},
                   restriction("restriction", "no_left_turn"));
  osm.RelationWith(108, {M{"way", 1, "from"}, M{"node", 1, "via"}}, restriction("restriction", "no_left_turn"));
  osm.RelationWith(109, {M{"way", 7, "from"}, M{"node", 1, "via"}, M{"way", 2, "to"}},
                   restriction("restriction", "no_right_turn"));
  osm.RelationWith(112, {M{"way", 1, "from"}, M{"way", 4, "from"}, M{"node", 1, "via"}, M{"way", 3, "to"}},
                   restriction("restriction", "no_entry"));
  osm.RelationWith(113, {M{"way", 1, "from"}, M{"node", 1, "via"}, M{"way", 99, "to"}},
                   restriction("restriction", "no_left_turn"));
  // Not for cars, or no restriction this converter knows.
  osm.RelationWith(106, {M{"way", 2, "from"}, M{"node", 1, "via"}, M{"way", 3, "to"}},
                   restriction("restriction", "no_left_turn", T({{"except", "psv; motorcar"}})));
  osm.RelationWith(110, {M{"way", 1, "from"}, M{"node", 1, "via"}, M{"way", 3, "to"}},
                   restriction("restriction:hgv", "no_left_turn"));
  osm.RelationWith(111, {M{"way", 3, "from"}, M{"node", 1, "via"}, M{"way", 2, "to"}},
                   restriction("restriction", "give_way"));
  const osm2rmf::Conversion conv = osm.Convert();
  ASSERT_TRUE(conv.ok) << conv.error;
  EXPECT_EQ(conv.stats.restrictions, 3u);
  EXPECT_EQ(conv.stats.restrictionsNotPlaced, 8u);

  // The fixture cuts West and South on their last segment.
  const rmfbuild::FeatureBuild built = rmfbuild::BuildFeatureMap(conv.streets);
  ASSERT_TRUE(built.ok) << built.error;
  ASSERT_EQ(conv.streets.features.size(), 6u);
  for (std::size_t street : {0u, 3u}) {
    const auto pieces = built.PiecesOf(street);
    ASSERT_GE(pieces.size(), 2u) << conv.streets.features[street].detail;
    EXPECT_EQ(pieces.back()->vertices.front(), -1) << "the piece at the crossing starts at a cut";
  }

  using Triples = std::vector<rmfbuild::TextTriple>;
  const TiPoint crossing = osm.Units(0, 100), junction = osm.Units(500, 100);
  struct Expected {
    const char* street;
    TiPoint at;
    Triples triples;
  };
  const Expected expected[] = {
      // Marked for travel toward the crossing on West and South (both end
      // there), away from it on North; on Spur, which starts at the
      // junction, the U-turn ban's from item holds toward it, against
      // Spur's vertex order.
      {"West", crossing, {{"17B+", "0PB", "100"}}},
      {"North", crossing, {{"17B+", "0PE", "100"}, {"17B+", "0RE", "101"}}},
      {"South", crossing, {{"17B+", "0RB", "101"}}},
      {"Spur", junction, {{"17B-", "0PB", "107"}, {"17B+", "0PE", "107"}}},
  };
  const std::vector<MapStretch> stretches = WrittenStretches(conv, "restrictions");
  std::map<std::string, int> carriers;
  for (const MapStretch& s : stretches) {
    Triples want;
    for (const Expected& e : expected) {
      if (s.street == e.street && s.Touches(e.at)) want = e.triples;
    }
    if (!want.empty()) ++carriers[s.street];
    auto byText = [](const rmfbuild::TextTriple& x, const rmfbuild::TextTriple& y) {
      return std::tie(x.code, x.name, x.detail) < std::tie(y.code, y.name, y.detail);
    };
    std::sort(want.begin(), want.end(), byText);
    Triples got = s.restrictions;
    std::sort(got.begin(), got.end(), byText);
    EXPECT_EQ(got, want) << s.street << " (" << s.a.x << "," << s.a.y << ")-(" << s.b.x << "," << s.b.y << ")";
  }
  for (const Expected& e : expected) EXPECT_EQ(carriers[e.street], 1) << e.street;
  EXPECT_GT(stretches.size(), 12u);
}

// The demo extract: every restriction of it for cars is either written or
// counted as not placed, and each written one is found in the map at its
// via node, its from and to halves on segments that touch the node.
TEST(Osm2RmfRestrictions, DemoExtractEveryRestrictionWrittenAtItsViaNodeOrCounted) {
  struct Counted {
    std::int64_t id = 0;
    bool only = false;
    std::vector<std::int64_t> viaNodes;
  };
  std::vector<Counted> counted;
  std::unordered_map<std::int64_t, TiPoint> nodes;
  {
    osmium::io::Reader in{OSM2RMF_DEMO_EXTRACT, osmium::osm_entity_bits::node | osmium::osm_entity_bits::relation};
    while (osmium::memory::Buffer buffer = in.read()) {
      for (const osmium::OSMObject& object : buffer.select<osmium::OSMObject>()) {
        if (object.type() == osmium::item_type::node) {
          const auto& node = static_cast<const osmium::Node&>(object);
          if (node.location().valid()) {
            nodes[node.id()] = TiPoint{osm2rmf::LongitudeToUnits(node.location().lon()),
                                       osm2rmf::LatitudeToUnits(node.location().lat())};
          }
          continue;
        }
        const auto& relation = static_cast<const osmium::Relation&>(object);
        const osmium::TagList& tags = relation.tags();
        if (std::string_view(tags.get_value_by_key("type", "")) != "restriction") continue;
        std::string_view value = tags.get_value_by_key("restriction:motorcar", "");
        if (value.empty()) value = tags.get_value_by_key("restriction", "");
        if (std::string_view(tags.get_value_by_key("except", "")).find("motorcar") != std::string_view::npos) continue;
        Counted c;
        c.id = relation.id();
        if (value.rfind("only_", 0) == 0) {
          c.only = true;
        } else if (value.rfind("no_", 0) != 0) {
          continue;
        }
        for (const osmium::RelationMember& m : relation.members()) {
          if (m.type() == osmium::item_type::node && std::string_view(m.role()) == "via") c.viaNodes.push_back(m.ref());
        }
        counted.push_back(std::move(c));
      }
    }
    in.close();
  }
  EXPECT_EQ(counted.size(), 19u);

  const osm2rmf::Conversion conv = osm2rmf::ConvertOsmFile(OSM2RMF_DEMO_EXTRACT, "Neubrandenburg");
  ASSERT_TRUE(conv.ok) << conv.error;
  EXPECT_EQ(conv.stats.restrictions + conv.stats.restrictionsNotPlaced, counted.size());
  EXPECT_GT(conv.stats.restrictions, 0u);

  const std::vector<MapStretch> stretches = WrittenStretches(conv, "demo_restrictions");
  std::map<std::string, std::vector<std::pair<const MapStretch*, std::string>>> byKey;  // key -> (stretch, value)
  std::map<const MapStretch*, std::map<std::string, char>> marks;  // stretch -> value -> mark
  for (const MapStretch& s : stretches) {
    for (const rmfbuild::TextTriple& t : s.restrictions) {
      ASSERT_EQ(t.code.size(), 4u) << t.code;
      EXPECT_EQ(t.code.substr(0, 3), "17B");
      EXPECT_TRUE(t.code[3] == '+' || t.code[3] == '-') << t.code;
      byKey[t.detail].emplace_back(&s, t.name);
      marks[&s][t.name] = t.code[3];
    }
  }
  std::size_t found = 0;
  for (const Counted& c : counted) {
    const auto it = byKey.find(std::to_string(c.id));
    if (it == byKey.end()) continue;
    ++found;
    SCOPED_TRACE("relation " + std::to_string(c.id));
    ASSERT_EQ(c.viaNodes.size(), 1u) << "written without a single via node";
    ASSERT_EQ(nodes.count(c.viaNodes[0]), 1u);
    const TiPoint via = nodes.at(c.viaNodes[0]);
    std::vector<std::string> values;
    for (const auto& [stretch, value] : it->second) {
      EXPECT_TRUE(stretch->Touches(via)) << value << " on " << stretch->street << " away from the via node";
      // Travel from the stretch's lower point to its higher one is '+':
      // toward the via node for the from item, away from it for the to item.
      const bool fromItem = value.back() == 'B';
      const bool viaAtHigher = Same(stretch->b, via);
      EXPECT_EQ(marks[stretch][value], fromItem == viaAtHigher ? '+' : '-') << value << " on " << stretch->street;
      values.push_back(value);
    }
    std::sort(values.begin(), values.end());
    EXPECT_EQ(values, (c.only ? std::vector<std::string>{"0RB", "0RE"} : std::vector<std::string>{"0PB", "0PE"}));
    byKey.erase(it);
  }
  EXPECT_EQ(found, conv.stats.restrictions);
  EXPECT_TRUE(byKey.empty()) << "restrictions in the map that the extract does not have: " << byKey.size();
}

}  // namespace
