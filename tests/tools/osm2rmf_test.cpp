// Tests of the OpenStreetMap converter: the West Oakland extract is counted
// here with a plain text scan of its XML, independently of the converter,
// and the converter's streets, names, one-way marks, junctions and points of
// interest are checked against that count; the written files are opened with
// the reader and queried. Small XML fixtures pin the route-class value.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "mapengine/format/features/RmfQuery.h"
#include "mapengine/format/store/RmfReader.h"
#include "tools/osm2rmf/Osm2Rmf.h"

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

struct ScannedWay {
  std::string name;
  std::string oneway;
  std::vector<std::string> refs;
};

struct Scan {
  std::map<std::string, std::pair<double, double>> nodes;  // id -> lon, lat
  std::size_t pois = 0;
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
    const std::string body = xml.substr(at, xml.find("</node>", at) - at);
    if (!TagOf(body, "amenity").empty() || !TagOf(body, "shop").empty() || !TagOf(body, "tourism").empty()) {
      ++scan.pois;
    }
  }
  for (std::size_t at = xml.find("<way "); at != std::string::npos; at = xml.find("<way ", at + 1)) {
    const std::string body = xml.substr(at, xml.find("</way>", at) - at);
    if (kTravelled.count(TagOf(body, "highway")) == 0) continue;
    ScannedWay w;
    w.name = TagOf(body, "name");
    w.oneway = TagOf(body, "oneway");
    for (std::size_t nd = body.find("<nd "); nd != std::string::npos; nd = body.find("<nd ", nd + 1)) {
      w.refs.push_back(AttrOf(body.substr(nd, body.find('>', nd) - nd), "ref"));
    }
    scan.streets.push_back(w);
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

const rmfbuild::TextTriple* RouteClass(const Feature& f) {
  for (const rmfbuild::TextTriple& t : f.attributes) {
    if (t.code.size() >= 3 && t.code.compare(1, 2, "71") == 0) return &t;
  }
  return nullptr;
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
    EXPECT_EQ(f.name, w.name);
    const rmfbuild::TextTriple* route = RouteClass(f);
    ASSERT_NE(route, nullptr);
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
  std::set<std::string> keys;
  for (const Feature& f : conversion_->pois.features) {
    EXPECT_EQ(f.featureClass.category, rmfbuild::FeatureCategory::kPoint);
    EXPECT_EQ(f.name.rfind("westoakland_poi_01,", 0), 0u) << f.name;
    keys.insert(f.detail);
  }
  EXPECT_EQ(keys.size(), scan_->pois) << "keys must differ";
}

// Reads the written files back with the map-format reader.
class Query {
 public:
  Query() : memory_(24u << 20) {
    reader_ = RmfReaderCreateInArena(memory_.data(), static_cast<std::uint32_t>(memory_.size()));
  }
  ~Query() {
    if (reader_ != nullptr) RmfReaderClose(reader_);
  }
  RmfReader* reader() { return reader_; }

  // Name texts of the hits of a small box around `at`, in `classes` of category `category`.
  std::vector<std::string> NamesNear(TiPoint at, std::int32_t category, const char* classes) {
    RmfQuerySetLevels(reader_, 1, 8);
    for (std::int32_t c = 0; c < 4; ++c) RmfQuerySetClassFilter(reader_, c, c == category ? classes : "");
    RmfQuerySetRect(reader_, at.x - 20, at.y - 20, at.x + 20, at.y + 20);
    RmfQueryStart(reader_);
    std::vector<std::string> names;
    for (int guard = 0; guard < 10000; ++guard) {
      char code[6] = {};
      char name[51] = {};
      char detail[251] = {};
      std::int32_t count = 0;
      TiPoint* points = nullptr;
      const std::int32_t n = RmfQueryNext(reader_, code, name, detail, &count, nullptr, &points);
      if (n == 0) break;
      if (n > 0) names.push_back(name);
    }
    return names;
  }

 private:
  std::vector<std::uint8_t> memory_;
  RmfReader* reader_ = nullptr;
};

TEST_F(WestOakland, WrittenFilesOpenAndTheQueryFindsStreetsAndPoints) {
  ASSERT_TRUE(conversion_->ok) << conversion_->error;
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("osm2rmf_test_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const osm2rmf::WriteReport report = osm2rmf::WriteMaps(*conversion_, dir.string(), "WestOakland");
  ASSERT_TRUE(report.ok) << report.error;
  EXPECT_EQ(report.streetFile, (dir / "WestOakland.rmf").string());
  EXPECT_EQ(report.poiFile, (dir / "WestOakland_POI_01.rmf").string());
  ASSERT_TRUE(std::filesystem::exists(dir / "WestOakland_POI_01.pdb"));
  EXPECT_EQ(std::filesystem::file_size(dir / "WestOakland_POI_01.pdb"), 0u);

  {
    Query q;
    ASSERT_NE(q.reader(), nullptr);
    ASSERT_EQ(RmfReaderOpen(q.reader(), report.streetFile.c_str(), 0), 1) << q.reader()->lastError;
    // Each named street is found at a node of its own, in the street classes.
    std::size_t checked = 0;
    for (const Feature& f : conversion_->streets.features) {
      if (f.name.empty()) continue;
      const TiPoint at = f.points[f.points.size() / 2];
      const std::vector<std::string> names = q.NamesNear(at, 1, "567");
      EXPECT_NE(std::find(names.begin(), names.end(), f.name), names.end()) << f.name;
      ++checked;
    }
    EXPECT_GT(checked, 0u);
  }
  {
    Query q;
    ASSERT_NE(q.reader(), nullptr);
    ASSERT_EQ(RmfReaderOpen(q.reader(), report.poiFile.c_str(), 0), 1) << q.reader()->lastError;
    const Feature& poi = conversion_->pois.features.front();
    const std::vector<std::string> names = q.NamesNear(poi.points.front(), 0, "1234567");
    EXPECT_NE(std::find(names.begin(), names.end(), poi.name), names.end()) << poi.name;
  }
  std::filesystem::remove_all(dir);
}

// ---- small fixtures ----------------------------------------------------------------

std::string Way(const std::string& tags, const std::string& refs = "<nd ref=\"1\"/><nd ref=\"2\"/><nd ref=\"3\"/>") {
  return "<osm><node id=\"1\" lat=\"37.80\" lon=\"-122.30\"/><node id=\"2\" lat=\"37.801\" lon=\"-122.30\"/>"
         "<node id=\"3\" lat=\"37.802\" lon=\"-122.301\"/><way id=\"9\">" + refs + tags + "</way></osm>";
}

TEST(Osm2RmfTags, RouteClassValueAndOneWayMark) {
  struct Case {
    const char* tags;
    const char* code;
    const char* value;
  };
  const Case cases[] = {
      {R"(<tag k="highway" v="residential"/>)", "171", "3 E"},
      {R"(<tag k="highway" v="residential"/><tag k="maxspeed" v="25 mph"/>)", "171", "3 2"},
      {R"(<tag k="highway" v="primary"/><tag k="maxspeed" v="50"/><tag k="lanes" v="3"/>)", "171", "2 F    3"},
      {R"(<tag k="highway" v="motorway"/><tag k="toll" v="yes"/>)", "171+", "11L 1"},
      {R"(<tag k="highway" v="motorway"/><tag k="oneway" v="no"/>)", "171", "11L"},
      {R"(<tag k="highway" v="motorway_link"/><tag k="oneway" v="yes"/>)", "171+", "91G"},
      {R"(<tag k="highway" v="tertiary"/><tag k="oneway" v="-1"/>)", "171-", "3 F"},
      {R"(<tag k="highway" v="tertiary"/><tag k="junction" v="roundabout"/>)", "171+", "8 F"},
      {R"(<tag k="highway" v="service"/><tag k="maxspeed" v="signals"/>)", "171", "4 C"},
      {R"(<tag k="highway" v="footway"/>)", "171", "V A"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tags);
    const osm2rmf::Conversion conv = osm2rmf::ConvertOsmText(Way(c.tags), "T");
    ASSERT_TRUE(conv.ok) << conv.error;
    ASSERT_EQ(conv.streets.features.size(), 1u);
    const rmfbuild::TextTriple* route = RouteClass(conv.streets.features[0]);
    ASSERT_NE(route, nullptr);
    EXPECT_EQ(route->code, c.code);
    EXPECT_EQ(route->name, c.value);
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
      {R"(<nd ref="x"/><nd ref="2"/><nd ref="3"/>)", 1},                             // a ref that is no number
  };
  for (const Case& c : cases) {
    const osm2rmf::Conversion conv = osm2rmf::ConvertOsmText(Way(tags, c.refs), "T");
    ASSERT_TRUE(conv.ok) << conv.error;
    ASSERT_EQ(conv.streets.features.size(), c.streets) << c.refs;
    EXPECT_EQ(conv.stats.droppedWays, c.streets == 0 ? 1u : 0u);
    for (const Feature& f : conv.streets.features) {
      EXPECT_EQ(f.name, "A/B Street");  // a backslash would split the name into pieces
      for (std::size_t i = 1; i < f.points.size(); ++i) EXPECT_FALSE(Same(f.points[i], f.points[i - 1]));
    }
    EXPECT_TRUE(rmfbuild::BuildFeatureMap(conv.streets).ok);
  }
}

TEST(Osm2RmfTags, BadInputIsRefusedOrSkipped) {
  EXPECT_FALSE(osm2rmf::ConvertOsmText("<osm><node", "T").ok);
  EXPECT_FALSE(osm2rmf::ConvertOsmFile("no/such/file.osm", "T").ok);
  // Nodes with positions outside the world or unreadable are skipped.
  const osm2rmf::Conversion conv = osm2rmf::ConvertOsmText(
      R"(<osm><node id="1" lat="91" lon="0"/><node id="2" lat="nan" lon="0"/><node id="3" lat="1"/>)"
      R"(<node id="4" lat="1" lon="2"/></osm>)", "T");
  ASSERT_TRUE(conv.ok);
  EXPECT_EQ(conv.stats.nodes, 1u);
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

}  // namespace
