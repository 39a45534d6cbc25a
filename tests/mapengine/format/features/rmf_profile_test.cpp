// Tests of the routing profile over small street maps written by the
// builder: installing and resetting a profile, the guarded feature and
// connection calls, the one-way test of streets under a walking and a
// driving profile, and the directed references of a point on a street.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/format/features/RmfFeatureAttr.h"
#include "mapengine/format/features/RmfProfile.h"
#include "mapengine/format/store/RmfReader.h"
#include "tests/mapengine/format/features/RmfFeatureRefPrint.h"
#include "tests/mapengine/format/features/TestProfiles.h"
#include "tools/rmfbuild/RmfBuilder.h"
#include "tools/rmfbuild/RmfFeatures.h"
#include "tools/rmfbuild/RmfMemoryReader.h"

namespace {

using rmfbuild::Feature;
using rmfbuild::FeatureCategory;
using rmfbuild::FeatureClass;
using rmfbuild::OneWay;

// ---- test profiles ----------------------------------------------------------------

using testprofiles::Driving;
using testprofiles::Walking;

// What a callback saw, for the tests of the guarded calls.
struct Seen {
  int calls = 0;
  const RmfAttrSet* set = nullptr;
  void* argument = nullptr;
  void* context = nullptr;
  std::uint32_t request = 0;
  std::uint32_t control[2] = {0, 0};
  std::int32_t counts[2] = {0, 0};  // item counts the connection callback answers
};

std::int32_t RecordFeature(const RmfAttrSet* set, void* argument, RmfFeatureAnswer* answer, void* context) {
  auto* seen = static_cast<Seen*>(context);
  ++seen->calls;
  seen->set = set;
  seen->argument = argument;
  seen->context = context;
  seen->request = answer->request;
  seen->control[0] = answer->travel[0].control;
  seen->control[1] = answer->travel[1].control;
  return -7;  // not the library's business
}

std::int32_t RecordConnection(const RmfAttrSet* set, void* argument, RmfConnectionAnswer* answer, void* context) {
  auto* seen = static_cast<Seen*>(context);
  ++seen->calls;
  seen->set = set;
  seen->argument = argument;
  seen->request = answer->request;
  answer->itemCounts[0] = seen->counts[0];
  answer->itemCounts[1] = seen->counts[1];
  return -7;
}

// ---- the street map -----------------------------------------------------------------
//
// Each street is a straight line of three vertices, 1024 units a segment, so
// a fraction f of a segment lies f units from its start.
enum Street { kTwoWay, kAlong, kAgainst, kClosed, kStreets };

constexpr std::int32_t kX0 = 100000;
constexpr std::int32_t kY0 = 200000;

TiPoint StreetPoint(int street, int vertex) { return TiPoint{kX0 + 1024 * vertex, kY0 + 4096 * street}; }

class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(reader_, nullptr);

    rmfbuild::FeatureMap map;
    const struct {
      const char* name;
      char roadType;
      char kind;
      OneWay way;
    } streets[kStreets] = {{"Two Way", '3', ' ', OneWay::kBoth},
                           {"Along", '2', ' ', OneWay::kAlong},
                           {"Against", '2', ' ', OneWay::kAgainst},
                           {"Walkway", '4', 'W', OneWay::kBoth}};
    for (int s = 0; s < kStreets; ++s) {
      Feature f = Feature::Line(FeatureClass{1, 5, FeatureCategory::kLine}, streets[s].name,
                                {StreetPoint(s, 0), StreetPoint(s, 1), StreetPoint(s, 2)});
      f.Attribute(rmfbuild::RouteClassAttribute(1, rmfbuild::RoadValue(streets[s].roadType, streets[s].kind, '3'),
                                                streets[s].name, streets[s].way));
      map.Add(f);
    }
    rmfbuild::FeatureBuild built;
    ASSERT_GE(maps_.AddFeatures(map, &built), 1) << maps_.error();

    for (int s = 0; s < kStreets; ++s) {
      const auto pieces = built.PiecesOf(static_cast<std::size_t>(s));
      ASSERT_EQ(pieces.size(), 1u);
      RmfFeatureRef whole{pieces[0]->tileId, 0, pieces[0]->sequence, pieces[0]->entry, 0, 0, kRmfPositionWhole};
      RmfFeature* slot = nullptr;
      ASSERT_EQ(RmfFeatureFetch(reader_, whole, &slot, nullptr), 1);
      ASSERT_EQ(RmfFeatureSelectPart(slot, whole.part, 0, nullptr), 0);
      first_[s] = whole;
      first_[s].fromVertex = static_cast<std::uint16_t>(slot->firstVertex);  // after the attribute word
      ASSERT_EQ(slot->lastPosition, slot->firstVertex + 2);
      (void)RmfFeatureRelease(slot);
    }
  }
  // Segment `segment` (0 or 1) of the street, from vertex to vertex in the
  // given direction, with the position word.
  RmfFeatureRef Segment(int street, int segment, bool upward, std::uint16_t position) const {
    RmfFeatureRef r = first_[street];
    const auto low = static_cast<std::uint16_t>(r.fromVertex + segment);
    r.fromVertex = upward ? low : static_cast<std::uint16_t>(low + 1);
    r.toVertex = upward ? static_cast<std::uint16_t>(low + 1) : low;
    r.position = position;
    return r;
  }

  std::int32_t OneWayOf(int street) {
    RmfFeature* slot = nullptr;
    EXPECT_EQ(RmfFeatureFetch(reader_, first_[street], &slot, nullptr), 1);
    const std::int32_t d = RmfProfileOneWay(slot, first_[street].part);
    (void)RmfFeatureRelease(slot);
    return d;
  }

  std::int32_t Uses() {
    std::int32_t uses = -1;
    (void)RmfFeatureSlotUsage(reader_, nullptr, &uses);
    return uses;
  }

  rmfbuild::MemoryReader maps_;
  RmfReader* const reader_ = maps_.reader();
  RmfFeatureRef first_[kStreets]{};  // part and first vertex position of each street
};

// ---- installation -------------------------------------------------------------------

TEST_F(ProfileTest, InstallResetAndCounter) {
  RmfAttrSet set{};
  RmfFeatureAnswer answer{};
  RmfConnectionAnswer connection{};
  EXPECT_EQ(RmfProfileGetLimit(reader_), kRmfProfileResetLimit);
  EXPECT_EQ(RmfProfileFeatureCost(reader_, &set, nullptr, &answer), kRmfProfileMissing);
  EXPECT_EQ(reader_->lastError, kRmfProfileMissing);
  EXPECT_EQ(RmfProfileTurnCost(reader_, &set, nullptr, &connection), kRmfProfileMissing);

  const std::uint32_t counter = RmfProfileGetCounter(reader_);
  EXPECT_EQ(RmfProfileSetCallbacks(reader_, Driving, nullptr, nullptr, 0), kRmfBadArgument);
  EXPECT_EQ(RmfProfileSetCallbacks(reader_, Driving, nullptr, nullptr, -5), kRmfBadArgument);
  EXPECT_EQ(RmfProfileGetCounter(reader_), counter);
  EXPECT_EQ(RmfProfileGetLimit(reader_), kRmfProfileResetLimit);
  EXPECT_EQ(RmfProfileFeatureCost(reader_, &set, nullptr, &answer), kRmfProfileMissing);

  reader_->profile.modeFlags = 3;
  EXPECT_EQ(RmfProfileSetCallbacks(reader_, Driving, nullptr, nullptr, kRmfProfileEngineLimit), 1);
  EXPECT_EQ(RmfProfileGetCounter(reader_), counter + 1);
  EXPECT_EQ(RmfProfileGetLimit(reader_), kRmfProfileEngineLimit);
  EXPECT_EQ(reader_->profile.modeFlags, 0u);
  EXPECT_EQ(RmfProfileFeatureCost(reader_, &set, nullptr, &answer), 0);
  // Connection callback missing while the feature callback is there.
  EXPECT_EQ(RmfProfileTurnCost(reader_, &set, nullptr, &connection), kRmfProfileMissing);
  EXPECT_EQ(OneWayOf(kAlong), 1);

  EXPECT_EQ(RmfProfileReset(reader_), 0);
  EXPECT_EQ(RmfProfileGetCounter(reader_), counter + 2);
  EXPECT_EQ(RmfProfileGetLimit(reader_), kRmfProfileResetLimit);
  EXPECT_EQ(reader_->profile.featureCallback, nullptr);
  EXPECT_EQ(reader_->profile.context, nullptr);
  EXPECT_EQ(RmfProfileFeatureCost(reader_, &set, nullptr, &answer), kRmfProfileMissing);
  EXPECT_EQ(OneWayOf(kAlong), 0);
  EXPECT_EQ(RmfFeatureTravelRefs(reader_, 0, 0, Segment(kTwoWay, 0, true, kRmfPositionPoint | 300), nullptr),
            kRmfBadArgument);
  RmfFeatureRef out[2];
  EXPECT_EQ(RmfFeatureTravelRefs(reader_, 0, 0, Segment(kTwoWay, 0, true, kRmfPositionPoint | 300), out),
            kRmfBadReference);
}

TEST_F(ProfileTest, BadReaders) {
  RmfAttrSet set{};
  RmfFeatureAnswer answer{};
  RmfConnectionAnswer connection{};
  RmfFeatureRef out[2];
  const RmfFeatureRef ref = Segment(kTwoWay, 0, true, 300);
  RmfReader closed{};
  for (RmfReader* r : {static_cast<RmfReader*>(nullptr), &closed}) {
    EXPECT_EQ(RmfProfileReset(r), -1);
    EXPECT_EQ(RmfProfileSetCallbacks(r, Walking, nullptr, nullptr, 5), kRmfBadArgument);
    EXPECT_EQ(RmfProfileGetLimit(r), -1);
    EXPECT_EQ(RmfProfileGetCounter(r), 0xFFFFFFFFu);
    EXPECT_EQ(RmfProfileFeatureCost(r, &set, nullptr, &answer), kRmfBadArgument);
    EXPECT_EQ(RmfProfileTurnCost(r, &set, nullptr, &connection), kRmfBadArgument);
    EXPECT_EQ(RmfFeatureTravelRefs(r, 0, 0, ref, out), kRmfBadArgument);
  }
  EXPECT_EQ(RmfProfileOneWay(nullptr, 0), 0);
}

// ---- the guarded calls ---------------------------------------------------------------

TEST_F(ProfileTest, FeatureCallPreparesTheAnswer) {
  Seen seen;
  ASSERT_EQ(RmfProfileSetCallbacks(reader_, RecordFeature, RecordConnection, &seen, 10), 1);
  RmfAttrSet set{};
  int argument = 0;
  struct {
    std::uint32_t modeFlags;
    std::uint32_t requestIn;
    std::uint32_t requestOut;
  } cases[] = {{0, 0xFFFFFFFFu, 0xFFFFFFF9u}, {1, 0, 0x2}, {2, 0x1, 0x5}, {3, 0, 0x6}};
  for (const auto& c : cases) {
    reader_->profile.modeFlags = c.modeFlags;
    RmfFeatureAnswer answer{};
    answer.request = c.requestIn;
    answer.travel[0].control = 0xFF;
    answer.travel[1].control = 0x84;
    seen.calls = 0;
    EXPECT_EQ(RmfProfileFeatureCost(reader_, &set, &argument, &answer), 0) << c.modeFlags;
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.set, &set);
    EXPECT_EQ(seen.argument, &argument);
    EXPECT_EQ(seen.context, &seen);
    EXPECT_EQ(seen.request, c.requestOut) << c.modeFlags;
    EXPECT_EQ(seen.control[0], 0x7Fu);
    EXPECT_EQ(seen.control[1], 0x04u);
  }
  // Sets that cannot have come from the library never reach the callback.
  for (std::int32_t count : {-1, 81, 0x7fffffff}) {
    set.count = count;
    RmfFeatureAnswer answer{};
    RmfConnectionAnswer connection{};
    seen.calls = 0;
    EXPECT_EQ(RmfProfileFeatureCost(reader_, &set, nullptr, &answer), kRmfBadArgument) << count;
    EXPECT_EQ(RmfProfileTurnCost(reader_, &set, nullptr, &connection), kRmfBadArgument) << count;
    EXPECT_EQ(seen.calls, 0);
  }
  set.count = 80;
  RmfFeatureAnswer answer{};
  EXPECT_EQ(RmfProfileFeatureCost(reader_, &set, nullptr, &answer), 0);
  EXPECT_EQ(RmfProfileFeatureCost(reader_, nullptr, nullptr, &answer), kRmfBadArgument);
  EXPECT_EQ(RmfProfileFeatureCost(reader_, &set, nullptr, nullptr), kRmfBadArgument);
}

TEST_F(ProfileTest, ConnectionCallChecksItemCounts) {
  Seen seen;
  ASSERT_EQ(RmfProfileSetCallbacks(reader_, RecordFeature, RecordConnection, &seen, 10), 1);
  RmfAttrSet set{};
  // request bits in, item counts answered, result
  struct {
    std::uint32_t request;
    std::int32_t first;
    std::int32_t second;
    std::int32_t result;
  } cases[] = {
      {0x00, 81, -1, 0},    // counts not meant: not checked
      {0x10, 80, -1, 0},    {0x10, 81, 0, kRmfProfileMissing}, {0x10, -1, 0, kRmfProfileMissing},
      {0x20, -1, 0, 0},     {0x20, 0, 81, kRmfProfileMissing}, {0x30, 0, 80, 0},
      {0x30, 3, -2, kRmfProfileMissing},
  };
  for (const auto& c : cases) {
    seen.counts[0] = c.first;
    seen.counts[1] = c.second;
    RmfConnectionAnswer answer{};
    answer.request = c.request | 0x100C;  // flags the library must clear
    EXPECT_EQ(RmfProfileTurnCost(reader_, &set, nullptr, &answer), c.result)
        << std::hex << c.request << std::dec << " " << c.first << " " << c.second;
    EXPECT_EQ(seen.request, c.request);
  }
  reader_->profile.modeFlags = 3;
  RmfConnectionAnswer answer{};
  seen.counts[0] = seen.counts[1] = 0;
  EXPECT_EQ(RmfProfileTurnCost(reader_, &set, nullptr, &answer), 0);
  EXPECT_EQ(seen.request, 0x0Cu);
}

// ---- one-way streets ------------------------------------------------------------------

TEST_F(ProfileTest, OneWayUnderWalkingAndDriving) {
  const std::int32_t walking[kStreets] = {0, 0, 0, 0};
  const std::int32_t driving[kStreets] = {0, 1, -1, 0};
  ASSERT_EQ(RmfProfileSetCallbacks(reader_, Walking, nullptr, nullptr, kRmfProfileEngineLimit), 1);
  for (int s = 0; s < kStreets; ++s) EXPECT_EQ(OneWayOf(s), walking[s]) << s;
  ASSERT_EQ(RmfProfileSetCallbacks(reader_, Driving, nullptr, nullptr, kRmfProfileEngineLimit), 1);
  for (int s = 0; s < kStreets; ++s) EXPECT_EQ(OneWayOf(s), driving[s]) << s;
  EXPECT_EQ(Uses(), 0);

  // A part the record does not have cannot be asked about.
  RmfFeature* slot = nullptr;
  ASSERT_EQ(RmfFeatureFetch(reader_, first_[kAlong], &slot, nullptr), 1);
  EXPECT_EQ(RmfProfileOneWay(slot, 999), 0);
  EXPECT_EQ(RmfProfileOneWay(slot, -1), 0);
  (void)RmfFeatureRelease(slot);
  EXPECT_EQ(RmfProfileOneWay(slot, first_[kAlong].part), 0);  // a free slot
}

// ---- travel references ------------------------------------------------------------------

TEST_F(ProfileTest, TravelRefsAtAPointMidStreet) {
  ASSERT_EQ(RmfProfileSetCallbacks(reader_, Driving, nullptr, nullptr, kRmfProfileEngineLimit), 1);
  constexpr std::uint16_t kNone = 0xFFFF;
  constexpr std::uint16_t kP = kRmfPositionPoint;
  constexpr std::uint16_t kR = kRmfPositionReverse;
  constexpr std::uint16_t kH = kRmfPositionHeading;
  struct Case {
    const char* what;
    int street;
    bool upward;
    std::uint16_t position;
    std::int32_t turn;
    std::int32_t request;
    std::uint16_t along;    // position of the along reference, kNone when not written
    std::uint16_t reverse;  // position of the reverse reference
  };
  const Case cases[] = {
      {"two-way point", kTwoWay, true, kP | 300, 0, 0, 300, 724},
      {"two-way point, turn", kTwoWay, true, kP | 300, 1, 0, kR | 724, kR | 300},
      {"two-way, along asked", kTwoWay, true, kP | 300, 0, 1, 300, kNone},
      {"two-way, reverse asked", kTwoWay, true, kP | 300, 0, -5, kNone, 724},
      {"two-way running down", kTwoWay, false, kP | 300, 0, 0, 300, 724},
      {"two-way to fraction", kTwoWay, true, 300, 0, 0, 300, 724},
      {"two-way back from fraction", kTwoWay, true, kR | 300, 0, 0, 724, 300},
      {"two-way whole segment", kTwoWay, true, kRmfPositionWhole, 0, 0, 1024, 0},
      {"two-way heading", kTwoWay, true, kH | kP | 300, 0, 0, 300, kNone},
      {"two-way heading, turn", kTwoWay, true, kH | kP | 300, 1, 0, kR | 724, kNone},
      {"along, running up", kAlong, true, kP | 300, 0, 0, 300, kNone},
      {"along, running up, reverse asked", kAlong, true, kP | 300, 0, -1, 300, kNone},
      {"along, running down", kAlong, false, kP | 300, 0, 0, kNone, 724},
      {"along, running down, along asked", kAlong, false, kP | 300, 0, 1, kNone, 724},
      {"along, running down, heading", kAlong, false, kH | kP | 300, 0, 0, kNone, kNone},
      {"against, running up", kAgainst, true, kP | 300, 0, 0, kNone, 724},
      {"against, running down", kAgainst, false, kP | 300, 1, 0, kR | 724, kNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const RmfFeatureRef ref = Segment(c.street, 1, c.upward, c.position);
    RmfFeatureRef out[2] = {};
    const std::int32_t expected = (c.along != kNone) + (c.reverse != kNone);
    ASSERT_EQ(RmfFeatureTravelRefs(reader_, c.turn, c.request, ref, out), expected);
    EXPECT_EQ(reader_->lastError, 0);
    int k = 0;
    RmfFeatureRef clean = ref;
    clean.position = static_cast<std::uint16_t>(ref.position & ~kH);
    if (c.along != kNone) {
      RmfFeatureRef along = clean;
      along.position = c.along;
      EXPECT_EQ(out[k++], along);
    }
    if (c.reverse != kNone) {
      RmfFeatureRef reverse = clean;
      std::swap(reverse.fromVertex, reverse.toVertex);
      reverse.position = c.reverse;
      EXPECT_EQ(out[k++], reverse);
    }
  }
  EXPECT_EQ(Uses(), 0);
}

// The along and the reverse reference name the same point of the street.
TEST_F(ProfileTest, TravelRefsKeepThePoint) {
  ASSERT_EQ(RmfProfileSetCallbacks(reader_, Walking, nullptr, nullptr, kRmfProfileEngineLimit), 1);
  for (std::uint16_t f : {0, 1, 300, 512, 1023, 1024}) {
    for (bool upward : {true, false}) {
      const RmfFeatureRef ref = Segment(kTwoWay, 0, upward, static_cast<std::uint16_t>(kRmfPositionPoint | f));
      RmfFeatureRef out[2];
      ASSERT_EQ(RmfFeatureTravelRefs(reader_, 0, 0, ref, out), 2) << f;
      TiPoint expected = StreetPoint(kTwoWay, 0);
      expected.x += upward ? f : 1024 - f;
      for (const RmfFeatureRef& r : out) {
        TiPoint p{};
        ASSERT_EQ(RmfFeatureRefPoint(reader_, &r, &p), 0) << r;
        EXPECT_EQ(p.x, expected.x) << f << " " << upward << " " << r;
        EXPECT_EQ(p.y, expected.y);
      }
    }
  }
}

TEST_F(ProfileTest, TravelRefsRefused) {
  ASSERT_EQ(RmfProfileSetCallbacks(reader_, Driving, nullptr, nullptr, kRmfProfileEngineLimit), 1);
  RmfFeatureRef whole = first_[kTwoWay];
  whole.toVertex = static_cast<std::uint16_t>(whole.fromVertex + 2);
  RmfFeatureRef noFeature = Segment(kTwoWay, 0, true, 300);
  noFeature.featureId = 0;
  RmfFeatureRef badPart = Segment(kTwoWay, 0, true, 300);
  badPart.part = 999;
  RmfFeatureRef beyond = Segment(kTwoWay, 0, true, 300);
  beyond.toVertex = static_cast<std::uint16_t>(beyond.fromVertex + 3);
  const struct {
    const char* what;
    RmfFeatureRef ref;
  } cases[] = {
      {"closed both ways", Segment(kClosed, 0, true, kRmfPositionPoint | 300)},
      {"several segments", whole},
      {"fraction above 1024", Segment(kTwoWay, 0, true, kRmfPositionPoint | 1025)},
      {"fraction field all ones", Segment(kTwoWay, 0, true, kRmfPositionPoint | 0x7FF)},
      {"feature id 0", noFeature},
      {"no such part", badPart},
      {"vertex beyond the part", beyond},
  };
  for (const auto& c : cases) {
    RmfFeatureRef out[2] = {};
    reader_->lastError = 0;
    EXPECT_EQ(RmfFeatureTravelRefs(reader_, 0, 0, c.ref, out), kRmfBadReference) << c.what;
    EXPECT_EQ(reader_->lastError, kRmfBadReference) << c.what;
    EXPECT_EQ(out[0].featureId, 0u) << c.what;
  }
  EXPECT_EQ(Uses(), 0);
  // The walkway is open on foot.
  ASSERT_EQ(RmfProfileSetCallbacks(reader_, Walking, nullptr, nullptr, kRmfProfileEngineLimit), 1);
  RmfFeatureRef out[2];
  EXPECT_EQ(RmfFeatureTravelRefs(reader_, 0, 0, cases[0].ref, out), 2);
}

}  // namespace
