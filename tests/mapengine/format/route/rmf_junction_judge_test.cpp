// Tests of the verdicts on the ways through a junction, on junctions built by
// hand: turn angles and sectors, U-turns, the turn-cost table, one-way and
// restricted-entry rules, turn restrictions in both search directions, and
// junction groups. The junction lies at the origin at the equator, so map
// units are true distances both ways and headings along the axes are exact.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "mapengine/format/base/TiMath.h"
#include "mapengine/format/route/RmfJunctionJudge.h"
#include "mapengine/format/route/RmfNodeConnections.h"

namespace {

using rmf::detail::Junction;
using rmf::detail::JunctionArrival;
using rmf::detail::JunctionRequest;
using rmf::detail::JunctionRules;
using rmf::detail::JunctionServices;

constexpr std::int32_t kQuarter = 0x4000000;  // 90 degrees
constexpr std::int32_t kHalf = 0x8000000;     // 180 degrees

constexpr std::int32_t kLibraryTurnCosts[16] = {0,      2000,   6000,  12000, 20000, 30000, 60000, 120000,
                                                240000, 120000, 60000, 20000, 10000, 6000,  3000,  1000};
constexpr std::uint32_t kDefaultModeFlags = 0x1b;  // bits 0, 1, 3, 4

constexpr TiPoint kEast{1000, 0};
constexpr TiPoint kNorth{0, 1000};
constexpr TiPoint kWest{-1000, 0};
constexpr TiPoint kSouth{0, -1000};

std::int32_t Cosine(double latitudeDegrees) {
  return TiSin(static_cast<std::uint32_t>(std::lround(latitudeDegrees * 0x10000000 / 360.0)) + kQuarter);
}

RmfRestriction Item(std::uint8_t kind, std::uint32_t key, std::uint32_t condition = 0) {
  return RmfRestriction{condition, kind, key};
}

// A hand-built junction at the origin with the fixture's profile answers.
class JunctionTest : public ::testing::Test {
 protected:
  // Adds a passage of feature `id`: its next node toward lower and toward
  // higher vertex positions (none where the part ends at the junction).
  int Add(std::uint32_t id, std::optional<TiPoint> lower, std::optional<TiPoint> higher,
          std::uint8_t openness = kRmfOpenBothWays, std::int8_t roadClass = 3) {
    const int i = junction.candidateCount++;
    RmfCandidate& c = junction.candidates[i];
    c = RmfCandidate{};
    c.featureId = id;
    c.secondId = 0x10000;
    c.part = 0;
    c.vertex = 5;
    c.roadClass[0] = openness == kRmfOpenTowardHigher ? -1 : roadClass;
    c.roadClass[1] = openness == kRmfOpenTowardLower ? -1 : roadClass;
    c.connectionType = static_cast<std::uint8_t>(4 * openness + (lower ? 0 : kRmfTypeFirstNode) +
                                                 (higher ? 0 : kRmfTypeLastNode));
    junction.geometry[i] = {};
    if (lower) junction.geometry[i].next[0] = *lower, junction.geometry[i].hasNext[0] = true;
    if (higher) junction.geometry[i].next[1] = *higher, junction.geometry[i].hasNext[1] = true;
    items.resize(junction.candidateCount);
    return i;
  }
  // Feature `id` ending at the junction from `from`, or starting there
  // toward `to`.
  int Ends(std::uint32_t id, TiPoint from, std::uint8_t openness = kRmfOpenBothWays) {
    return Add(id, from, std::nullopt, openness);
  }
  int Starts(std::uint32_t id, TiPoint to, std::uint8_t openness = kRmfOpenBothWays) {
    return Add(id, std::nullopt, to, openness);
  }
  void Codes(int i, std::uint8_t lower, std::uint8_t higher) {
    junction.candidates[i].groupCode[0] = lower;
    junction.candidates[i].groupCode[1] = higher;
  }

  // The arrival travels along candidate i's feature in `direction`.
  void Arrive(int i, std::int8_t direction) {
    const RmfCandidate& c = junction.candidates[i];
    arrival.featureId = c.featureId;
    arrival.secondId = c.secondId;
    arrival.part = c.part;
    arrival.vertex = c.vertex;
    arrival.direction = direction;
    arrival.point = TiPoint{c.x, c.y};
    arrival.geometry = junction.geometry[i];
    arrivalIndex = i;
  }

  static std::int32_t Answer(void* context, std::int32_t candidate, std::int32_t, RmfTimeRequest* time,
                             RmfConnectionAnswer* answer) {
    auto* self = static_cast<JunctionTest*>(context);
    ++self->answers;
    if (time != nullptr) self->timeRequests.push_back(*time);
    if (self->answerFailure < 0) return self->answerFailure;
    // The restriction attributes carry no direction mark: both lists get
    // every item.
    const std::vector<RmfRestriction>& list =
        candidate < 0 ? self->items[self->arrivalIndex] : self->items[candidate];
    for (int side = 0; side < 2; ++side) {
      answer->itemCounts[side] = static_cast<std::int32_t>(list.size());
      for (size_t k = 0; k < list.size(); ++k) answer->items[side][k] = list[k];
    }
    if (candidate >= 0 && candidate == self->flaggedCandidate) answer->request |= kRmfConnectionFlag;
    return 0;
  }

  static std::int32_t Regather(void* context, std::int32_t minClass, Junction* out) {
    auto* self = static_cast<JunctionTest*>(context);
    self->regatherClasses.push_back(minClass);
    *out = self->regathered ? *self->regathered : self->junction;
    return 0;
  }

  std::int32_t Run() {
    JunctionServices services;
    services.answer = &Answer;
    services.regather = &Regather;
    services.context = this;
    pending = -1;
    count = rmf::detail::JudgeJunction(rules, request, arrival, junction, services, out, &pending);
    return count;
  }

  // The connection of feature `id` in `direction` with the forward-search
  // mark of this enumeration; null when none was written.
  const RmfConnection* Find(std::uint32_t id, int direction) const {
    return FindMarked(id, direction, request.reverse ? 0 : 1);
  }
  const RmfConnection* FindMarked(std::uint32_t id, int direction, int mark) const {
    for (int i = 0; i < count; ++i) {
      if (out[i].featureId == id && out[i].direction == direction && out[i].forwardSearch == mark) return &out[i];
    }
    return nullptr;
  }
  // The verdict of that connection; -1 when it was not written.
  int Verdict(std::uint32_t id, int direction) const {
    const RmfConnection* c = Find(id, direction);
    return c == nullptr ? -1 : c->verdict;
  }

  Junction junction;
  JunctionArrival arrival;
  JunctionRules rules{kLibraryTurnCosts, 0, kDefaultModeFlags, {0, 0}, nullptr};
  JunctionRequest request{.reverse = true, .cosine = 0x10000000};
  std::vector<std::vector<RmfRestriction>> items;  // per candidate; the arrival's are its candidate's
  int arrivalIndex = 0;
  int flaggedCandidate = -1;
  std::int32_t answerFailure = 0;
  int answers = 0;
  std::vector<RmfTimeRequest> timeRequests;
  std::optional<Junction> regathered;
  std::vector<std::int32_t> regatherClasses;
  RmfConnection out[kRmfMaxConnections] = {};
  std::int32_t count = 0;
  std::int32_t pending = -1;
};

// ---- angles and sectors ---------------------------------------------------------------------

TEST(TurnSector, EachSectorIsCentredOnItsMultipleOf22AndAHalfDegrees) {
  struct Case {
    std::int32_t angle;
    std::int32_t sector;
  };
  const Case cases[] = {
      {0, 0},
      {0x800000, 1},           // +11.25 degrees opens sector 1
      {0x800000 - 1, 0},
      {-0x800000, 0},          // -11.25 degrees still straight on
      {-0x800000 - 1, 15},
      {kQuarter, 4},           // a right angle to the left
      {-kQuarter, 12},         // a right angle to the right
      {-kHalf, 8},             // turning back
      {kHalf - 1, 8},
      {kHalf - 0x800000 - 1, 7},
  };
  for (const Case& c : cases) EXPECT_EQ(rmf::detail::TurnSector(c.angle), c.sector) << c.angle;
}

TEST(ScaledHeading, EastDistancesShrinkWithTheCosineOfTheLatitude) {
  struct Case {
    double latitude;
    TiPoint to;
  };
  // Some hundred metres apart, as nodes of streets are: the scaled
  // difference is cut to whole units.
  const Case cases[] = {{0, {100000, 100000}},  {60, {200000, 100000}}, {60, {-200000, -100000}},
                        {-60, {200000, -100000}}, {45, {100000, 0}},      {80, {1000000, 10000}},
                        {30, {-30000, 70000}},    {0, {0, -5}}};
  for (const Case& c : cases) {
    const double pi = std::acos(-1.0);
    const double expected =
        std::atan2(c.to.y, c.to.x * std::cos(c.latitude * pi / 180)) * 180 / pi;
    const double got =
        rmf::detail::ScaledHeading(TiPoint{0, 0}, c.to, Cosine(c.latitude)) * 360.0 / 0x10000000;
    EXPECT_NEAR(got, expected, 0.005) << c.latitude << " " << c.to.x << "," << c.to.y;
  }
}

// The worked crossing: arriving eastward, north is a left turn of +90
// degrees (sector 4), south a right turn of -90 degrees (sector 12), back
// west the U-turn. A backward search sees the same angles from the stretch
// it leaves on, with the headings of travel into the junction.
TEST_F(JunctionTest, CrossingAnglesInBothSearchDirections) {
  for (bool reverse : {true, false}) {
    SCOPED_TRACE(reverse ? "forward search" : "backward search");
    junction = Junction{};
    items.clear();
    const int west = Ends(1, kWest);
    const int east = Starts(2, kEast);
    Starts(3, kNorth);
    Starts(4, kSouth);
    request.reverse = reverse;
    // Forward: arrive from the west. Backward: go on to the east.
    if (reverse) Arrive(west, +1); else Arrive(east, +1);
    ASSERT_EQ(Run(), 4);

    struct Expect {
      std::uint32_t id;
      int direction;
      std::int32_t angle;
      std::int32_t leaving;
    };
    const Expect expected[] = {
        // straight on, left, right, back
        {reverse ? 2u : 1u, reverse ? 1 : -1, 0, reverse ? 0 : 0},
        {3, 1, kQuarter, reverse ? kQuarter : -kQuarter},
        {4, 1, -kQuarter, reverse ? -kQuarter : kQuarter},
        {reverse ? 1u : 2u, reverse ? -1 : 1, -kHalf, reverse ? kHalf : kHalf},
    };
    for (const Expect& e : expected) {
      const RmfConnection* c = Find(e.id, e.direction);
      ASSERT_NE(c, nullptr) << e.id;
      EXPECT_EQ(c->turnAngle, e.angle) << e.id;
      EXPECT_EQ(c->leavingHeading, e.leaving) << e.id;
      EXPECT_EQ(c->verdict, kRmfVerdictAllowed) << e.id;
      EXPECT_EQ(c->groupHeading, kRmfNoGroupHeading);
    }
    EXPECT_EQ(rmf::detail::TurnSector(Find(3, 1)->turnAngle), 4);
    EXPECT_EQ(rmf::detail::TurnSector(Find(4, 1)->turnAngle), 12);
  }
}

// ---- U-turns and the turn-cost table ----------------------------------------------------------

TEST_F(JunctionTest, UTurnIsOfferedOnlyWhereRoadsMeet) {
  struct Case {
    const char* name;
    int features;  // 1: one feature passes, 2: one ends and one starts, 3: and a side road
    bool forbidUTurns;
    std::uint8_t uTurnVerdict;
  };
  const Case cases[] = {
      {"a feature passing a node", 1, false, kRmfVerdictForbiddenTurn},
      {"one feature continuing another", 2, false, kRmfVerdictForbiddenTurn},
      {"a T junction", 3, false, kRmfVerdictAllowed},
      {"a T junction with U-turns forbidden", 3, true, kRmfVerdictForbiddenTurn},
  };
  for (const Case& c : cases) {
    for (bool skip : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (skip ? ", skip mode" : ""));
      junction = Junction{};
      items.clear();
      const int west = c.features == 1 ? Add(1, kWest, kEast) : Ends(1, kWest);
      if (c.features >= 2) Starts(2, kEast);
      if (c.features == 3) Starts(3, kNorth);
      Arrive(west, +1);
      request.forbidUTurns = c.forbidUTurns;
      request.skip = skip;
      ASSERT_GE(Run(), 0);
      const int straightOn = Verdict(c.features == 1 ? 1 : 2, 1);
      EXPECT_EQ(straightOn, kRmfVerdictAllowed);
      const int uTurn = Verdict(1, -1);
      if (skip) {
        EXPECT_EQ(uTurn, c.uTurnVerdict == kRmfVerdictAllowed ? 0 : -1);
      } else {
        EXPECT_EQ(uTurn, c.uTurnVerdict);
      }
    }
  }
}

TEST_F(JunctionTest, NegativeTurnCostForbidsTheTurnsOfItsSector) {
  struct Case {
    int sector;
    std::uint32_t forbidden;  // feature of that turn
    int direction;
  };
  const Case cases[] = {{4, 3, 1}, {12, 4, 1}, {0, 2, 1}, {8, 1, -1}};
  for (const Case& c : cases) {
    for (bool skip : {false, true}) {
      SCOPED_TRACE("sector " + std::to_string(c.sector) + (skip ? ", skip mode" : ""));
      junction = Junction{};
      items.clear();
      const int west = Ends(1, kWest);
      Starts(2, kEast);
      Starts(3, kNorth);
      Starts(4, kSouth);
      Arrive(west, +1);
      std::int32_t costs[16];
      std::copy(std::begin(kLibraryTurnCosts), std::end(kLibraryTurnCosts), costs);
      costs[c.sector] = -1;
      rules.turnCosts = costs;
      request.skip = skip;
      ASSERT_EQ(Run(), skip ? 3 : 4);
      EXPECT_EQ(Verdict(c.forbidden, c.direction), skip ? -1 : kRmfVerdictForbiddenTurn);
      for (std::uint32_t id : {2u, 3u, 4u}) {
        if (id != c.forbidden) {
          EXPECT_EQ(Verdict(id, 1), kRmfVerdictAllowed) << id;
        }
      }
      rules.turnCosts = kLibraryTurnCosts;
    }
  }
}

// ---- one-way streets and restricted entry -----------------------------------------------------

// A street open only toward higher positions (northward) crosses the
// junction. It is left only northward and entered only from the south;
// the other way is against its direction.
TEST_F(JunctionTest, OneWayStreetIsTravelledOnlyItsWay) {
  struct Case {
    bool reverse;
    bool skip;
    int verdictLower;   // the part toward the south (lower positions)
    int verdictHigher;  // toward the north
  };
  const Case cases[] = {
      {true, false, kRmfVerdictOneWay, kRmfVerdictAllowed},   // leaving: only northward
      {true, true, -1, kRmfVerdictAllowed},
      {false, false, kRmfVerdictAllowed, kRmfVerdictOneWay},  // entering: only from the south
      {false, true, kRmfVerdictAllowed, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.reverse ? "forward" : "backward") + (c.skip ? ", skip mode" : ""));
    junction = Junction{};
    items.clear();
    const int west = Ends(1, kWest);
    const int east = Starts(2, kEast);
    Add(3, kSouth, kNorth, kRmfOpenTowardHigher);
    request.reverse = c.reverse;
    request.skip = c.skip;
    if (c.reverse) Arrive(west, +1); else Arrive(east, +1);
    ASSERT_GE(Run(), 0);
    EXPECT_EQ(Verdict(3, -1), c.verdictLower);
    EXPECT_EQ(Verdict(3, 1), c.verdictHigher);
  }
}

TEST_F(JunctionTest, OneWayStreetEndingAtTheJunctionIsNeverLeftAlong) {
  const int west = Ends(1, kWest);
  Starts(2, kEast);
  // Starts here, open only toward lower positions: it only leads in.
  Starts(3, kNorth, kRmfOpenTowardLower);
  Arrive(west, +1);
  ASSERT_EQ(Run(), 3);
  EXPECT_EQ(Verdict(3, 1), kRmfVerdictOneWay);
  EXPECT_EQ(Verdict(3, -1), -1);  // nothing lies before its first node
}

TEST_F(JunctionTest, RestrictedEntryNeedsARestrictedArrival) {
  struct Case {
    bool arrivingRestricted;
    bool acceptRestricted;
    bool skip;
    int verdict;
  };
  const Case cases[] = {
      {false, false, false, kRmfVerdictRestrictedEntry},
      {false, false, true, -1},
      {true, false, false, kRmfVerdictAllowed},
      {false, true, false, kRmfVerdictAllowed},
      {false, true, true, kRmfVerdictAllowed},
  };
  for (const Case& c : cases) {
    junction = Junction{};
    items.clear();
    const int west = Ends(1, kWest);
    const int north = Starts(2, kNorth);
    Starts(3, kEast);
    junction.candidates[north].restrictedEntry[1] = 1;
    Arrive(west, +1);
    request.arrivingRestricted = c.arrivingRestricted;
    request.acceptRestricted = c.acceptRestricted;
    request.skip = c.skip;
    ASSERT_GE(Run(), 0);
    EXPECT_EQ(Verdict(2, 1), c.verdict) << c.arrivingRestricted << c.acceptRestricted << c.skip;
    EXPECT_EQ(Verdict(3, 1), kRmfVerdictAllowed);
  }
}

// ---- turn restrictions ------------------------------------------------------------------------

// A crossing with one arm per compass point, each a feature ending or
// starting at the junction, and a restriction written as the converter
// writes it: items on the arm it starts from and on the arm it leads to.
class RestrictionTest : public JunctionTest {
 protected:
  enum Arm { kW = 1, kE = 2, kN = 3, kS = 4 };

  void Crossing() {
    junction = Junction{};
    items.clear();
    Ends(kW, kWest);
    Starts(kE, kEast);
    Starts(kN, kNorth);
    Starts(kS, kSouth);
    for (int i = 0; i < 4; ++i) junction.candidates[i].restrictionMark = 1;
  }
  std::vector<RmfRestriction>& ItemsOf(Arm arm) { return items[arm - 1]; }

  // Forward search: arriving along `from` into the junction. Backward
  // search: going on along `to`, the ways into the junction judged.
  void ArriveOn(Arm arm, bool reverse) {
    request.reverse = reverse;
    const int index = arm - 1;
    const bool endsHere = arm == kW;
    // Into the junction (forward) along the arm, or out of it (backward).
    Arrive(index, static_cast<std::int8_t>(reverse == endsHere ? 1 : -1));
  }
  // The verdict for travel between the junction and `arm`.
  int VerdictOf(Arm arm) const { return Verdict(arm, arm == kW ? -1 : 1); }
};

TEST_F(RestrictionTest, NoAndOnlyRestrictionsHoldInBothSearchDirections) {
  constexpr std::uint32_t kKey = 4711;
  struct Case {
    const char* name;
    std::uint8_t fromKind;  // item on the west arm
    std::uint8_t toKind;    // item on the arm it names
    Arm to;
    bool reverse;
    Arm arrival;            // forward: the arm arrived along; backward: the arm gone on along
    int expected[4];        // verdicts toward W, E, N, S (-1: not judged, the arrival's own arm)
  };
  const Case cases[] = {
      // no_left_turn from the west onto the north arm
      {"no left turn, forward from W", 2, 4, kN, true, kW, {0, 0, 2, 0}},
      {"no left turn, forward from S", 2, 4, kN, true, kS, {0, 0, 0, -1}},
      {"no left turn, backward onto N", 2, 4, kN, false, kN, {2, 0, -1, 0}},
      {"no left turn, backward onto E", 2, 4, kN, false, kE, {0, -1, 0, 0}},
      // only_straight_on from the west to the east arm
      {"only straight on, forward from W", 5, 7, kE, true, kW, {2, 0, 2, 2}},
      {"only straight on, forward from S", 5, 7, kE, true, kS, {0, 0, 0, -1}},
      {"only straight on, backward onto E", 5, 7, kE, false, kE, {0, -1, 0, 0}},
      {"only straight on, backward onto N", 5, 7, kE, false, kN, {2, 0, -1, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Crossing();
    ItemsOf(kW).push_back(Item(c.fromKind, kKey));
    ItemsOf(c.to).push_back(Item(c.toKind, kKey));
    ArriveOn(c.arrival, c.reverse);
    ASSERT_GE(Run(), 0);
    const Arm arms[] = {kW, kE, kN, kS};
    for (int k = 0; k < 4; ++k) {
      if (c.expected[k] < 0) continue;
      EXPECT_EQ(VerdictOf(arms[k]), c.expected[k]) << "toward arm " << arms[k];
    }
  }
}

TEST_F(RestrictionTest, PermissionsOfTheFirstListMustAllMatchUnlessOneSuffices) {
  // Two only-restrictions start on the west arm; the east arm carries the
  // end of one of them.
  for (bool oneSuffices : {true, false}) {
    Crossing();
    ItemsOf(kW) = {Item(5, 10), Item(5, 11)};
    ItemsOf(kE) = {Item(7, 10)};
    rules.modeFlags = oneSuffices ? kDefaultModeFlags : kDefaultModeFlags & ~rmf::detail::kRouteOnePermission;
    ArriveOn(kW, true);
    ASSERT_GE(Run(), 0);
    EXPECT_EQ(VerdictOf(kE), oneSuffices ? kRmfVerdictAllowed : kRmfVerdictForbiddenTurn);
    EXPECT_EQ(VerdictOf(kN), kRmfVerdictForbiddenTurn);
  }
}

TEST_F(RestrictionTest, MandatoryItemsMustBeMetOnBothSides) {
  Crossing();
  ItemsOf(kW) = {Item(1, 5)};
  ItemsOf(kE) = {Item(1, 5)};           // the same mandatory item
  ItemsOf(kN) = {Item(1, 6)};           // a different one
  junction.candidates[kS - 1].restrictionMark = 0;  // no items at all
  ArriveOn(kW, true);
  ASSERT_GE(Run(), 0);
  EXPECT_EQ(VerdictOf(kE), kRmfVerdictAllowed);
  EXPECT_EQ(VerdictOf(kN), kRmfVerdictExcluded);
  EXPECT_EQ(VerdictOf(kS), kRmfVerdictExcluded);

  // A candidate's mandatory item the arrival lacks excludes it as well.
  Crossing();
  ItemsOf(kN) = {Item(1, 6)};
  ArriveOn(kW, true);
  ASSERT_GE(Run(), 0);
  EXPECT_EQ(VerdictOf(kN), kRmfVerdictExcluded);
  EXPECT_EQ(VerdictOf(kE), kRmfVerdictAllowed);
}

// A restriction over a stretch in between: the permission or prohibition
// goes on to the next junction as a pending item.
TEST_F(RestrictionTest, ItemsOnAStretchInBetweenArePending) {
  // Junction 1: only-restriction 9 starts on the west arm, the north arm is
  // the stretch in between.
  Crossing();
  ItemsOf(kW) = {Item(5, 9)};
  ItemsOf(kN) = {Item(6, 9)};
  ArriveOn(kW, true);
  ASSERT_GE(Run(), 0);
  EXPECT_EQ(VerdictOf(kN), kRmfVerdictAllowed);
  EXPECT_EQ(VerdictOf(kE), kRmfVerdictForbiddenTurn);
  EXPECT_EQ(pending, 1);

  // Junction 2, reached along the stretch in between (here its west arm):
  // with the pending item the permission holds, without it nothing.
  const RmfPendingItem held{9, 6, nullptr};
  for (bool carried : {true, false}) {
    Crossing();
    ItemsOf(kW) = {Item(6, 9)};
    ItemsOf(kE) = {Item(7, 9)};
    request.pending = carried ? &held : nullptr;
    ArriveOn(kW, true);
    ASSERT_GE(Run(), 0);
    EXPECT_EQ(VerdictOf(kE), kRmfVerdictAllowed);
    EXPECT_EQ(VerdictOf(kN), carried ? kRmfVerdictForbiddenTurn : kRmfVerdictAllowed);
  }

  // A prohibition: no-restriction 4 from the west over the north arm.
  Crossing();
  ItemsOf(kW) = {Item(2, 4)};
  ItemsOf(kN) = {Item(3, 4)};
  ArriveOn(kW, true);
  ASSERT_GE(Run(), 0);
  EXPECT_EQ(VerdictOf(kN), kRmfVerdictAllowed);
  EXPECT_EQ(pending, 1);

  const RmfPendingItem prohibited{4, 3, nullptr};
  Crossing();
  ItemsOf(kW) = {Item(3, 4)};
  ItemsOf(kE) = {Item(4, 4)};
  request.pending = &prohibited;
  ArriveOn(kW, true);
  ASSERT_GE(Run(), 0);
  EXPECT_EQ(VerdictOf(kE), kRmfVerdictForbiddenTurn);
  EXPECT_EQ(VerdictOf(kN), kRmfVerdictAllowed);
}

TEST_F(RestrictionTest, ConditionalItemLapsesOnlyInATimeDependentForwardSearch) {
  struct Case {
    bool timeDependent;
    std::uint32_t condition;
    int verdict;
  };
  const Case cases[] = {
      {true, 0x1, kRmfVerdictAllowed},         // time-conditional, condition not met
      {true, 0x3, kRmfVerdictForbiddenTurn},   // condition met
      {false, 0x1, kRmfVerdictForbiddenTurn},  // no times: every item holds
  };
  for (const Case& c : cases) {
    Crossing();
    ItemsOf(kW) = {Item(2, 8, c.condition)};
    ItemsOf(kN) = {Item(4, 8, c.condition)};
    request.timeDependent = c.timeDependent;
    ArriveOn(kW, true);
    ASSERT_GE(Run(), 0);
    EXPECT_EQ(VerdictOf(kN), c.verdict) << c.timeDependent << " " << c.condition;
    if (c.verdict == kRmfVerdictForbiddenTurn) {
      EXPECT_EQ(Find(kN, 1)->flags & (kRmfConnectionTimedArrival | kRmfConnectionTimedCandidate),
                c.condition & 1 ? kRmfConnectionTimedArrival | kRmfConnectionTimedCandidate : 0u);
    }
  }
}

TEST_F(RestrictionTest, ProfileFlagAndTimeRequestReachTheConnection) {
  Crossing();
  flaggedCandidate = kN - 1;
  const std::int32_t forwardCost = 5000;
  rules.costShift = 2;
  request.timeDependent = true;
  request.forwardCost = &forwardCost;
  ArriveOn(kW, true);
  ASSERT_EQ(Run(), 4);
  EXPECT_EQ(Find(kN, 1)->flags & kRmfConnectionProfileFlag, kRmfConnectionProfileFlag);
  EXPECT_EQ(Find(kE, 1)->flags & kRmfConnectionProfileFlag, 0u);
  ASSERT_FALSE(timeRequests.empty());
  for (const RmfTimeRequest& t : timeRequests) {
    EXPECT_EQ(t.forwardTime, 20u);  // (5000 << 2) / 1000
    EXPECT_EQ(t.flags & (kRmfTimeRequestForward | kRmfTimeRequestBackward), kRmfTimeRequestForward);
  }
}

TEST_F(RestrictionTest, BadItemsAndProfileFailuresAreReported) {
  Crossing();
  ItemsOf(kN) = {Item(0, 1)};
  ArriveOn(kW, true);
  EXPECT_EQ(Run(), kRmfProfileMissing);

  Crossing();
  ItemsOf(kN) = {Item(9, 1)};  // kinds above 7 mean nothing here
  ArriveOn(kW, true);
  EXPECT_EQ(Run(), 4);

  Crossing();
  answerFailure = kRmfBadArgument;
  ArriveOn(kW, true);
  EXPECT_EQ(Run(), kRmfBadArgument);
}

// ---- inconsistent descriptions -----------------------------------------------------------------

TEST_F(JunctionTest, InconsistentJunctionsAreRefused) {
  const int west = Ends(1, kWest);
  Starts(2, kEast);
  Arrive(west, +1);
  ASSERT_EQ(Run(), 2);

  junction.geometry[1].hasNext[1] = false;  // a way with no node to head for
  EXPECT_EQ(Run(), kRmfMalformed);
  junction.geometry[1].hasNext[1] = true;

  junction.candidates[1].connectionType = 12;
  EXPECT_EQ(Run(), kRmfMalformed);
  junction.candidates[1].connectionType = 5;

  arrival.geometry.hasNext[0] = false;  // an arrival with no node behind it
  EXPECT_EQ(Run(), kRmfMalformed);
  arrival.geometry.hasNext[0] = true;

  junction.candidateCount = kRmfMaxCandidates + 1;
  EXPECT_EQ(Run(), kRmfMalformed);
}

// ---- junction groups ---------------------------------------------------------------------------

// A divided freeway passes over a road at a point both share. The freeway
// halves carry group code 2, the road code 0: the ways only go on straight.
class GroupTest : public JunctionTest {
 protected:
  enum : std::uint32_t { kEastbound = 1, kWestbound = 2, kRoadSouth = 3, kRoadNorth = 4, kRoadThrough = 5 };
};

TEST_F(GroupTest, FreewayOverARoadConnectsNothing) {
  const int eastbound = Add(kEastbound, kWest, kEast, kRmfOpenTowardHigher);
  Codes(eastbound, 2, 2);
  const int road = Add(kRoadThrough, kSouth, kNorth);
  Arrive(eastbound, +1);
  request.forbidUTurns = true;  // group code 2
  ASSERT_GE(Run(), 0);
  EXPECT_TRUE(regatherClasses.empty());
  EXPECT_EQ(Verdict(kEastbound, 1), kRmfVerdictAllowed);
  EXPECT_EQ(Verdict(kRoadThrough, 1), kRmfVerdictExcluded);
  EXPECT_EQ(Verdict(kRoadThrough, -1), kRmfVerdictExcluded);
  // The ways into the junction are listed too, with the other mark.
  EXPECT_EQ(FindMarked(kRoadThrough, 1, 1)->verdict, kRmfVerdictExcluded);
  EXPECT_EQ(FindMarked(kEastbound, -1, 1), nullptr);  // the arrival itself
  const RmfConnection* straight = Find(kEastbound, 1);
  EXPECT_EQ(straight->groupHeading, 0);
  EXPECT_EQ(straight->groupMark, 0);
  EXPECT_EQ(Find(kRoadThrough, 1)->groupMark, 1);
  EXPECT_NE(Find(kRoadThrough, 1)->groupId, straight->groupId);

  // Arriving on the road from the south only the road goes on.
  Arrive(road, +1);
  request.forbidUTurns = false;
  ASSERT_GE(Run(), 0);
  EXPECT_EQ(Verdict(kRoadThrough, 1), kRmfVerdictAllowed);
  EXPECT_EQ(Verdict(kRoadThrough, -1), kRmfVerdictExcluded);
  EXPECT_EQ(Verdict(kEastbound, 1), kRmfVerdictExcluded);
  // The way in along the road from the north belongs to the group of the
  // arrival's reverse: excluded as well; the mark of the arrival in its own
  // group is a way against the search.
  EXPECT_EQ(FindMarked(kRoadThrough, 1, 1)->verdict, kRmfVerdictExcluded);

  // In skip mode only the way straight on is written.
  request.skip = true;
  ASSERT_EQ(Run(), 1);
  EXPECT_EQ(Verdict(kRoadThrough, 1), kRmfVerdictAllowed);

  // Without junction groups it is a plain crossing.
  rules.modeFlags &= ~rmf::detail::kRouteJunctionGroups;
  request.skip = false;
  Arrive(eastbound, +1);
  ASSERT_GE(Run(), 0);
  EXPECT_EQ(Verdict(kRoadThrough, 1), kRmfVerdictAllowed);
  EXPECT_EQ(Verdict(kRoadThrough, -1), kRmfVerdictAllowed);
}

// The same with the freeway's two carriageways at two points of the road,
// gathered as one junction.
TEST_F(GroupTest, DividedFreewayAtTwoPointsOfTheRoad) {
  const int eastbound = Add(kEastbound, kWest, kEast, kRmfOpenTowardHigher);
  Codes(eastbound, 2, 2);
  const int westbound = Add(kWestbound, TiPoint{-1000, 100}, TiPoint{1000, 100}, kRmfOpenTowardLower);
  Codes(westbound, 2, 2);
  junction.candidates[westbound].y = 100;
  const int south = Ends(kRoadSouth, kSouth);
  const int north = Starts(kRoadNorth, TiPoint{0, 1100});
  junction.candidates[north].y = 100;
  (void)south;

  for (bool reverse : {true, false}) {
    SCOPED_TRACE(reverse ? "forward search" : "backward search");
    request.reverse = reverse;
    request.forbidUTurns = true;
    Arrive(eastbound, +1);
    ASSERT_GE(Run(), 0);
    // Forward: on along the eastbound half. Backward: the eastbound half
    // is the only way that leads in.
    EXPECT_EQ(Verdict(kEastbound, reverse ? 1 : -1), kRmfVerdictAllowed);
    EXPECT_EQ(Verdict(kRoadNorth, 1), kRmfVerdictExcluded);
    EXPECT_EQ(Verdict(kRoadSouth, -1), kRmfVerdictExcluded);
    // The westbound half, out to the west or in from the east.
    EXPECT_EQ(Verdict(kWestbound, reverse ? -1 : 1), kRmfVerdictExcluded);
  }
  // Crossing on the road, the way on to the north is the road's other part.
  request.reverse = true;
  request.forbidUTurns = false;
  Arrive(south, +1);
  ASSERT_GE(Run(), 0);
  EXPECT_EQ(Verdict(kRoadNorth, 1), kRmfVerdictAllowed);
  EXPECT_EQ(Verdict(kEastbound, 1), kRmfVerdictExcluded);
  EXPECT_EQ(Verdict(kWestbound, -1), kRmfVerdictExcluded);
  EXPECT_EQ(Find(kRoadNorth, 1)->groupHeading, 0);
}

// A road of code 0 ends at a one-way freeway of code 2: one group, which
// is suspect. Gathered again with every class, a minor road continues it
// under the freeway, and the road no longer connects.
TEST_F(GroupTest, SuspectSingleGroupIsGatheredAgainWithEveryClass) {
  const int freeway = Add(kEastbound, kWest, kEast, kRmfOpenTowardHigher);
  Codes(freeway, 2, 2);
  Starts(kRoadNorth, kNorth);
  Arrive(freeway, +1);
  request.forbidUTurns = true;
  request.minClass = 1;

  // Nothing more to find: the road connects.
  ASSERT_GE(Run(), 0);
  EXPECT_EQ(regatherClasses, std::vector<std::int32_t>{0});
  EXPECT_EQ(Verdict(kRoadNorth, 1), kRmfVerdictAllowed);

  Junction all = junction;
  RmfCandidate& minor = all.candidates[all.candidateCount];
  minor = junction.candidates[1];
  minor.featureId = kRoadSouth;
  minor.roadClass[0] = minor.roadClass[1] = 0;
  all.geometry[all.candidateCount] = {};
  all.geometry[all.candidateCount].next[1] = kSouth;
  all.geometry[all.candidateCount].hasNext[1] = true;
  ++all.candidateCount;
  regathered = all;
  regatherClasses.clear();
  ASSERT_GE(Run(), 0);
  EXPECT_EQ(regatherClasses, std::vector<std::int32_t>{0});
  EXPECT_EQ(Verdict(kEastbound, 1), kRmfVerdictAllowed);
  EXPECT_EQ(Verdict(kRoadNorth, 1), kRmfVerdictExcluded);
  EXPECT_EQ(Verdict(kRoadSouth, 1), -1);  // below the minimum class: no connection
}

TEST_F(GroupTest, ArrivalMissingAmongTheMembersIsAnInconsistency) {
  const int eastbound = Add(kEastbound, kWest, kEast, kRmfOpenTowardHigher);
  Codes(eastbound, 2, 2);
  Add(kRoadThrough, kSouth, kNorth);
  Arrive(eastbound, +1);
  arrival.featureId = 99;
  EXPECT_EQ(Run(), kRmfMalformed);
}

// Roads of code 1 open both ways with U-turns forbidden: the wide group.
// Arriving from the west, a road leaves to the right; a one-way road leads
// in from the north. A right turn that goes back beyond the group's middle
// is forbidden, a moderate one is not.
TEST_F(GroupTest, WideGroupForbidsTurningBackAcrossItsMiddle) {
  struct Case {
    TiPoint toward;
    int verdict;
  };
  const Case cases[] = {{{-1000, -176}, kRmfVerdictForbiddenTurn},  // 170 degrees to the right
                        {{500, -866}, kRmfVerdictAllowed}};         // 60 degrees to the right
  for (const Case& c : cases) {
    junction = Junction{};
    items.clear();
    const int west = Ends(1, kWest);
    Codes(west, 1, 1);
    const int right = Starts(2, c.toward);
    Codes(right, 1, 1);
    const int in = Starts(3, kNorth, kRmfOpenTowardLower);
    Codes(in, 1, 1);
    Arrive(west, +1);
    request.forbidUTurns = true;
    ASSERT_GE(Run(), 0);
    EXPECT_EQ(Verdict(2, 1), c.verdict) << c.toward.x << "," << c.toward.y;
    EXPECT_GE(Verdict(1, -1), kRmfVerdictForbiddenTurn);  // the U-turn
  }
}

// ---- the time request --------------------------------------------------------------------------

TEST(TimeRequest, CostsBecomeTimesAndFlagsSayWhatIsValid) {
  struct Case {
    std::uint32_t shift;
    std::optional<std::int32_t> forward;
    std::optional<std::int32_t> backward;
    int direction;
    std::optional<std::uint32_t> result;
    RmfTimeRequest expected;
  };
  const Case cases[] = {
      {0, 1999, std::nullopt, 1, std::nullopt, {1, 0, 0, 0, 0x11}},
      {4, std::nullopt, 1000, -1, 77u, {0, 16, 0, 77, 0x0a}},
      // 0x7fffffff << 4 does not fit: the thousandths are shifted instead.
      {4, 0x7fffffff, 0, 1, std::nullopt, {(0x7fffffffu / 1000) << 4, 0, 0, 0, 0x13}},
      {0, -5, std::nullopt, 1, std::nullopt, {0, 0, 0, 0, 0x11}},
  };
  for (const Case& c : cases) {
    RmfTimeRequest got{};
    ASSERT_EQ(RmfRouteTimeRequest(c.shift, c.forward ? &*c.forward : nullptr, c.backward ? &*c.backward : nullptr,
                                  c.direction, c.result ? &*c.result : nullptr, &got),
              1);
    EXPECT_EQ(got.forwardTime, c.expected.forwardTime);
    EXPECT_EQ(got.backwardTime, c.expected.backwardTime);
    EXPECT_EQ(got.duration, 0u);
    EXPECT_EQ(got.result, c.expected.result);
    EXPECT_EQ(got.flags, c.expected.flags);
  }
  EXPECT_EQ(RmfRouteTimeRequest(0, nullptr, nullptr, 1, nullptr, nullptr), kRmfBadArgument);
}

}  // namespace
