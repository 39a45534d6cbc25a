// The street walk and house numbers along a street, on streets built at test
// time: the spreading of a range over the walked pieces, the merging of a
// feature's ranges, the side choice, the interpolated number, the limits of
// the walk (long streets, rings) and streets of no length.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "mapengine/object/Geometry.h"
#include "mapengine/object/StreetWalk.h"
#include "tests/mapengine/object/street_fixtures.h"

namespace {

using street_fixtures::At;
using street_fixtures::Street;

MapContext ContextOf(const street_fixtures::StreetMap& map) {
  MapContext context{};
  context.rdr = map.reader();
  return context;
}

// Map units northwards from the origin that make exactly `feet` feet.
std::int32_t UnitsNorth(std::int32_t feet) {
  const TiPoint o = At(0, 0);
  std::int32_t dy = 1;
  while (DistanceFeetBetweenMapPoints(o.x, o.y, o.x, o.y + dy) < feet) ++dy;
  return dy;
}

struct Numbers {
  std::int32_t rightFrom, rightTo, leftFrom, leftTo;
  bool operator==(const Numbers&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Numbers& n) {
  return out << "right " << n.rightFrom << "-" << n.rightTo << ", left " << n.leftFrom << "-" << n.leftTo;
}
Numbers NumbersOf(const StreetSegmentNumbers& s) { return {s.rightFrom, s.rightTo, s.leftFrom, s.leftTo}; }

// A street running north in three pieces of 100, 200 and 100 feet whose only
// range is 100 to 198 on its right (east) side: once as one feature of three
// segments, once as three features of one segment each that all carry the
// range.
class ThreePieceStreet : public ::testing::Test {
 protected:
  void SetUp() override {
    y_ = {0, UnitsNorth(100), UnitsNorth(300), UnitsNorth(400)};
    ASSERT_EQ(Feet(0, 1), 100);
    ASSERT_EQ(Feet(1, 2), 200);
    ASSERT_EQ(Feet(2, 3), 100);
    one_ = map_.Add(Street("Friedrichstraße", {At(0, y_[0]), At(0, y_[1]), At(0, y_[2]), At(0, y_[3])}, kRange));
    for (int k = 0; k < 3; ++k) {
      three_[k] = map_.Add(Street("Turmstraße", {At(kApart, y_[k]), At(kApart, y_[k + 1])}, kRange));
    }
    ASSERT_TRUE(map_.Build());
  }

  std::int32_t Feet(int a, int b) const {
    return DistanceFeetBetweenMapPoints(At(0, y_[a]).x, At(0, y_[a]).y, At(0, y_[b]).x, At(0, y_[b]).y);
  }
  // A point 60 units (about 17 feet) east of the middle of piece k.
  TiPoint EastOfPiece(std::int32_t x, int k) const { return At(x + 60, (y_[k] + y_[k + 1]) / 2); }

  static constexpr const char* kRange = "100\\198\\0\\0";
  static constexpr std::int32_t kApart = 2000;
  street_fixtures::StreetMap map_;
  std::vector<std::int32_t> y_;
  std::size_t one_ = 0;
  std::size_t three_[3] = {};
};

TEST_F(ThreePieceStreet, RangeIsSpreadByLengthKeepingParity) {
  const MapContext context = ContextOf(map_);
  RmfFeatureRef reversed{};
  ASSERT_EQ(RmfFeatureRefReverse(map_.reader(), map_.Whole(one_), &reversed), 1);
  struct Case {
    const char* what;
    RmfFeatureRef feature;
    std::int32_t x;
    int piece;
    std::int32_t heading;
    Numbers expected;
  };
  const Case cases[] = {
      // Steps of 24.5 and 49 made even: 24 and 50.
      {"one feature, first piece", map_.Whole(one_), 0, 0, -1, {100, 124, 0, 0}},
      {"one feature, middle piece", map_.Whole(one_), 0, 1, -1, {124, 174, 0, 0}},
      {"one feature, last piece", map_.Whole(one_), 0, 2, -1, {174, 198, 0, 0}},
      {"heading along", map_.Whole(one_), 0, 1, 10, {124, 174, 0, 0}},
      // Walked from the last feature backwards over the other two: the pieces
      // still come in street order.
      {"three features, first piece", map_.Whole(three_[2]), kApart, 0, -1, {100, 124, 0, 0}},
      {"three features, middle piece", map_.Whole(three_[2]), kApart, 1, -1, {124, 174, 0, 0}},
      {"three features, last piece", map_.Whole(three_[2]), kApart, 2, -1, {174, 198, 0, 0}},
      {"three features from the first", map_.Whole(three_[0]), kApart, 1, -1, {124, 174, 0, 0}},
      // Read southwards, the range is the second one of the reversed feature,
      // 198 down to 100, and lies on the left: steps of -24.5 and -49 made
      // even toward zero, -24 and -48.
      {"reversed, heading south", reversed, 0, 2, 180, {0, 0, 198, 174}},
      {"reversed, heading south, middle", reversed, 0, 1, 180, {0, 0, 174, 126}},
      {"reversed, heading south, first piece", reversed, 0, 0, 180, {0, 0, 126, 100}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const StreetSegmentNumbers n =
        GetHouseNumbersAlongStreet(context, c.feature, EastOfPiece(c.x, c.piece), c.heading);
    EXPECT_EQ(NumbersOf(n), c.expected);
    EXPECT_EQ(n.mixed, 0);
    // The piece's own ends, in the direction the feature is read.
    const TiPoint low = At(c.x, y_[c.piece]), high = At(c.x, y_[c.piece + 1]);
    const bool south = c.heading == 180;
    EXPECT_EQ(n.first.y, (south ? high : low).y);
    EXPECT_EQ(n.last.y, (south ? low : high).y);
  }
}

TEST_F(ThreePieceStreet, WalkFindsEveryPieceOnceInStreetOrder) {
  const MapContext context = ContextOf(map_);
  for (int start = 0; start < 3; ++start) {
    SCOPED_TRACE(start);
    StreetSegment segments[kStreetWalkMaxSegments];
    std::int32_t total = 7;  // added to
    std::uint8_t direction = 9;
    std::int32_t startIndex = 5;
    ASSERT_EQ(CollectStreetSegments(context, map_.Whole(three_[start]), -1, segments, &total, &direction, &startIndex),
              3);
    EXPECT_EQ(total, 7 + 400);
    EXPECT_EQ(startIndex, -1) << "a whole feature is never one of the single-segment pieces";
    EXPECT_EQ(direction, 9);
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(segments[k].first.y, At(0, y_[k]).y) << k;
      EXPECT_EQ(segments[k].last.y, At(0, y_[k + 1]).y) << k;
      EXPECT_EQ(segments[k].lengthFeet, k == 1 ? 200 : 100);
      EXPECT_EQ(segments[k].firstFrom, -1);
    }
  }
  // The start piece is met when it is one of the pieces: its index and
  // whether the heading runs along it.
  RmfFeatureRef* pieces = nullptr;
  ASSERT_EQ(RmfFeatureRefSplit(map_.reader(), map_.Whole(one_), &pieces), 3);
  const RmfFeatureRef middle = pieces[1];
  for (const auto& [heading, along] : {std::pair{0, 1}, std::pair{-1, 1}, std::pair{180, 0}}) {
    StreetSegment segments[kStreetWalkMaxSegments];
    std::int32_t total = 0;
    std::uint8_t direction = 9;
    std::int32_t startIndex = -1;
    EXPECT_EQ(CollectStreetSegments(context, middle, heading, segments, &total, &direction, &startIndex), 3);
    EXPECT_EQ(startIndex, 1);
    EXPECT_EQ(direction, along) << heading;
  }
}

TEST(StreetWalkNumbers, InterpolatedNumberText) {
  // A north-south segment of 800 units (about 392 feet): the middle and the
  // quarters lie on whole feet only roughly, so cases keep clear of the
  // rounding edges.
  const TiPoint a = At(0, 0), b = At(0, 800);
  struct Case {
    const char* what;
    TiPoint p;
    std::int32_t from, to, mixed;
    const char16_t* text;
  };
  const Case cases[] = {
      {"middle of 1..99: 50 made odd", At(30, 400), 1, 99, 0, u"51"},
      {"start", a, 1, 99, 0, u"1"},
      {"before the start", At(0, -300), 1, 99, 0, u"1"},
      {"beyond the end", At(0, 1200), 1, 99, 0, u"99"},
      {"middle of 2..98", At(-30, 400), 2, 98, 0, u"50"},
      {"middle of 2..100: 51 made even", At(0, 400), 2, 100, 0, u"50"},
      {"middle of 1..100, mixed: not adjusted", At(0, 400), 1, 100, 1, u"50"},
      {"middle of 1..100, not mixed", At(0, 400), 1, 100, 0, u"51"},
      {"descending 99..1 at a quarter: 74 made odd", At(0, 200), 99, 1, 0, u"75"},
      {"unknown numbers", At(0, 400), -1, -1, 0, u""},
      {"unknown numbers, mixed", At(0, 400), -1, -1, 1, u""},
      {"no numbers", At(0, 400), 0, 0, 0, u"0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(InterpolateHouseNumberText(c.p, a, b, c.from, c.to, c.mixed), c.text);
  }
  // A segment of no length: the from number.
  EXPECT_EQ(InterpolateHouseNumberText(At(0, 400), a, a, 11, 99, 0), u"11");
}

TEST(StreetWalkNumbers, RangesOfAFeatureMerge) {
  struct Case {
    const char* what;
    std::vector<std::string> ranges;
    HouseNumberRanges expected;
  };
  const Case cases[] = {
      {"none", {}, {0, 0, 0, 0, 0}},
      {"one", {"1\\9\\2\\10"}, {1, 9, 2, 10, 0}},
      {"one side of both parities", {"1\\10\\0\\0"}, {1, 10, 0, 0, 1}},
      {"two equal ones", {"1\\9\\2\\10", "1\\9\\2\\10"}, {1, 9, 2, 10, 0}},
      {"ascending, merged", {"2\\50\\0\\0", "52\\98\\0\\0"}, {2, 98, 0, 0, 1}},
      {"descending, merged", {"50\\2\\0\\0", "98\\52\\0\\0"}, {98, 2, 0, 0, 1}},
      {"an empty side takes the other's", {"0\\0\\2\\10", "1\\9\\0\\0"}, {1, 9, 2, 10, 0}},
      {"the last of further ones", {"2\\50\\0\\0", "60\\70\\0\\0", "52\\98\\0\\0"}, {2, 98, 0, 0, 1}},
  };
  street_fixtures::StreetMap map;
  std::vector<std::size_t> features;
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto x = static_cast<std::int32_t>(200 * i);
    rmfbuild::Feature f = Street("Street " + std::to_string(i), {At(x, 0), At(x, 500)});
    for (const std::string& range : cases[i].ranges) f.Attribute(rmfbuild::TextTriple{"12B-+", "A", range});
    features.push_back(map.Add(f));
  }
  ASSERT_TRUE(map.Build());
  const MapContext context = ContextOf(map);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].what);
    const HouseNumberRanges r = GetHouseNumberRanges(context, map.Whole(features[i]));
    const HouseNumberRanges& e = cases[i].expected;
    EXPECT_EQ(r.firstFrom, e.firstFrom);
    EXPECT_EQ(r.firstTo, e.firstTo);
    EXPECT_EQ(r.secondFrom, e.secondFrom);
    EXPECT_EQ(r.secondTo, e.secondTo);
    EXPECT_EQ(r.mixed, e.mixed);
  }
}

TEST(StreetWalkNumbers, SideOfTheSegmentChoosesTheRange) {
  street_fixtures::StreetMap map;
  const std::size_t north = map.Add(Street("Nordweg", {At(0, 0), At(0, 1000)}));
  ASSERT_TRUE(map.Build());
  const MapContext context = ContextOf(map);
  const RmfFeatureRef s = map.Whole(north);
  const RmfFeatureRef r{1, 2, 3, 4, 5, 6, 7};
  struct Case {
    const char* what;
    TiPoint p;
    std::int32_t aFrom, aTo, bFrom, bTo;
    std::int32_t from, to;
  };
  const Case cases[] = {
      {"east: on the right", At(50, 500), 2, 98, 1, 99, 2, 98},
      {"west: on the left", At(-50, 500), 2, 98, 1, 99, 1, 99},
      {"on the segment", At(0, 500), 2, 98, 1, 99, 2, 98},
      {"on the line beyond it", At(0, 5000), 2, 98, 1, 99, 2, 98},
      {"left, but B is empty", At(-50, 500), 2, 98, 0, 0, 2, 98},
      {"right, but A is empty", At(50, 500), 0, 0, 1, 99, 1, 99},
      {"both empty", At(50, 500), 0, 0, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const SelectedRange chosen = SelectRangeForSide(context, r, c.aFrom, c.aTo, c.bFrom, c.bTo, 1, s, c.p);
    EXPECT_EQ(chosen.from, c.from);
    EXPECT_EQ(chosen.to, c.to);
    EXPECT_EQ(chosen.mixed, 1);
    EXPECT_TRUE(AreFeatureRefsEqual(chosen.reference, r));
  }
  // Far corners of the world: the side test does not overflow.
  EXPECT_EQ(SelectRangeForSide(context, r, 2, 98, 1, 99, 0, s, TiPoint{134217727, -67108864}).from, 2);
  EXPECT_EQ(SelectRangeForSide(context, r, 2, 98, 1, 99, 0, s, TiPoint{-134217728, 67108863}).from, 1);
  // A segment that cannot be read.
  const SelectedRange none = SelectRangeForSide(context, r, 2, 98, 1, 99, 1, RmfFeatureRef{}, At(50, 500));
  EXPECT_EQ(none.from, -1);
  EXPECT_EQ(none.to, -1);
  EXPECT_EQ(none.mixed, 0);
}

TEST(StreetWalkLimits, MoreThan250PiecesGiveNoneAndTheFeaturesOwnRanges) {
  street_fixtures::StreetMap map;
  std::vector<TiPoint> points;
  for (std::int32_t i = 0; i <= 260; ++i) points.push_back(At((i % 2) * 4, 10 * i));
  const std::size_t longStreet = map.Add(Street("Lange Straße", points, "1\\99\\2\\100"));
  std::vector<TiPoint> shorter(points.begin(), points.begin() + 251);
  for (TiPoint& p : shorter) p.x += 1500;
  const std::size_t fits = map.Add(Street("Kurze Straße", shorter, "1\\99\\2\\100"));
  ASSERT_TRUE(map.Build());
  ASSERT_EQ(map.PieceCount(longStreet), 1u);
  const MapContext context = ContextOf(map);

  StreetSegment segments[kStreetWalkMaxSegments];
  std::int32_t total = 0;
  std::uint8_t direction = 0;
  std::int32_t startIndex = -1;
  EXPECT_EQ(CollectStreetSegments(context, map.Whole(longStreet), -1, segments, &total, &direction, &startIndex), 0);
  total = 0;
  EXPECT_EQ(CollectStreetSegments(context, map.Whole(fits), -1, segments, &total, &direction, &startIndex), 250);

  const StreetSegmentNumbers n = GetHouseNumbersAlongStreet(context, map.Whole(longStreet), At(40, 1300), -1);
  EXPECT_EQ(NumbersOf(n), (Numbers{1, 99, 2, 100}));
  EXPECT_EQ(n.first.y, points.front().y);
  EXPECT_EQ(n.last.y, points.back().y);
}

TEST(StreetWalkLimits, RingStreetsEnd) {
  street_fixtures::StreetMap map;
  // A square of four features of one name, without crossing streets.
  const TiPoint corners[4] = {At(0, 0), At(0, 1000), At(1000, 1000), At(1000, 0)};
  std::size_t sides[4];
  for (int k = 0; k < 4; ++k) sides[k] = map.Add(Street("Ring", {corners[k], corners[(k + 1) % 4]}));
  // A large ring: four sides of 300 segments each, more pieces than a walk
  // may visit.
  const TiPoint far[4] = {At(1200, 1200), At(1200, 3600), At(3600, 3600), At(3600, 1200)};
  std::size_t large[4];
  for (int k = 0; k < 4; ++k) {
    const TiPoint from = far[k], to = far[(k + 1) % 4];
    std::vector<TiPoint> side;
    for (std::int32_t i = 0; i <= 300; ++i) {
      side.push_back(TiPoint{from.x + (to.x - from.x) * i / 300, from.y + (to.y - from.y) * i / 300});
    }
    large[k] = map.Add(Street("Großer Ring", side));
  }
  ASSERT_TRUE(map.Build());
  const MapContext context = ContextOf(map);

  StreetSegment segments[kStreetWalkMaxSegments];
  std::int32_t total = 0;
  std::uint8_t direction = 0;
  std::int32_t startIndex = -1;
  ASSERT_EQ(CollectStreetSegments(context, map.Whole(sides[1]), -1, segments, &total, &direction, &startIndex), 4);
  // Once round, from the start feature on.
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(segments[k].first.x, corners[(k + 1) % 4].x) << k;
    EXPECT_EQ(segments[k].first.y, corners[(k + 1) % 4].y) << k;
  }

  for (int k = 0; k < 4; ++k) {
    ASSERT_EQ(map.PieceCount(large[k]), 1u) << k;
  }
  total = 0;
  EXPECT_EQ(CollectStreetSegments(context, map.Whole(large[0]), -1, segments, &total, &direction, &startIndex), 0);
}

TEST(StreetWalkLimits, StreetsOfNoLengthDivideNothing) {
  street_fixtures::StreetMap map;
  // Points one unit apart eastwards: a third of a foot, which rounds to a
  // length of 0.
  const TiPoint points[3] = {At(0, 0), At(1, 0), At(2, 0)};
  const std::size_t tiny = map.Add(Street("Kurz", {points[0], points[1], points[2]}, "2\\10\\0\\0"));
  ASSERT_TRUE(map.Build());
  ASSERT_EQ(DistanceFeetBetweenMapPoints(points[0].x, points[0].y, points[1].x, points[1].y), 0);
  ASSERT_EQ(DistanceFeetBetweenMapPoints(points[1].x, points[1].y, points[2].x, points[2].y), 0);
  const MapContext context = ContextOf(map);
  StreetSegment segments[kStreetWalkMaxSegments];
  std::int32_t total = 0;
  std::uint8_t direction = 0;
  std::int32_t startIndex = -1;
  ASSERT_EQ(CollectStreetSegments(context, map.Whole(tiny), -1, segments, &total, &direction, &startIndex), 2);
  EXPECT_EQ(total, 0);
  EXPECT_EQ(NumbersOf(GetHouseNumbersAlongStreet(context, map.Whole(tiny), At(0, 0), -1)), (Numbers{2, 2, 0, 0}));
  EXPECT_EQ(NumbersOf(GetHouseNumbersAlongStreet(context, map.Whole(tiny), At(2, 0), -1)), (Numbers{2, 10, 0, 0}));
}

TEST(StreetWalkLimits, FeatureWithoutPointsGivesThePointAndUnknownNumbers) {
  street_fixtures::StreetMap map;
  map.Add(Street("Irgendwo", {At(0, 0), At(0, 100)}));
  ASSERT_TRUE(map.Build());
  const StreetSegmentNumbers n = GetHouseNumbersAlongStreet(ContextOf(map), RmfFeatureRef{}, At(5, 6), -1);
  EXPECT_EQ(NumbersOf(n), (Numbers{-1, -1, -1, -1}));
  EXPECT_EQ(n.first.x, At(5, 6).x);
  EXPECT_EQ(n.last.y, At(5, 6).y);
}

}  // namespace
