// Ramp labels and the intersection test: the signs of a junction read into a
// table, the label of a ramp or connector made from them or from the street
// the ramp network reaches, and the tests that tell a real intersection from
// a road that only continues.
#include "mapengine/object/RampLabels.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "mapengine/format/features/RmfFeature.h"
#include "mapengine/format/features/RmfFeatureAttr.h"
#include "mapengine/format/features/RmfProfile.h"
#include "mapengine/format/route/RmfFeatConnect.h"
#include "mapengine/format/route/RmfNodeConnections.h"
#include "mapengine/format/route/RmfRoute.h"
#include "mapengine/object/CMap.h"
#include "mapengine/object/Geometry.h"
#include "mapengine/object/NearestFeature.h"
#include "mapengine/object/RouteFilters.h"
#include "mapengine/object/StreetNames.h"
#include "mapengine/object/Utilities.h"
#include "platform/os/format.h"

namespace {

// Tokens a sign's name text is split into at most.
constexpr int kMaxSignTokens = 20;
// Names the intersection test keeps per exit list, and their length.
constexpr std::size_t kMaxExitNames = 10;
constexpr std::size_t kMaxExitNameChars = 20;
// Features a near-point search gives at most.
constexpr std::int32_t kNearLimit = 15;

// One attribute of a feature, each text NUL-terminated within its buffer.
struct Attribute {
  char code[kRmfAttrCodeChars + 1] = {};
  char value[kRmfAttrValueChars + 1] = {};
  char name[kRmfAttrNameChars + 1] = {};
  std::string_view Code() const { return code; }
  std::string_view Value() const { return value; }
  std::string_view Name() const { return name; }
  // The direction mark: the fourth character of the code, '\0' when none.
  char Mark() const { return Code().size() > 3 ? code[3] : '\0'; }
};

// Calls `visit` with each attribute of the feature in index order.
template <typename Visit>
void ForEachAttribute(RmfReader* reader, const RmfFeatureRef& feature, Visit visit) {
  if (reader == nullptr) return;
  Attribute attribute;
  for (std::int32_t index = 0;; ++index) {
    if (RmfFeatureAttribute(reader, feature, index, attribute.code, attribute.value, attribute.name) <= 0) return;
    attribute.code[kRmfAttrCodeChars] = '\0';
    attribute.value[kRmfAttrValueChars] = '\0';
    attribute.name[kRmfAttrNameChars] = '\0';
    visit(static_cast<const Attribute&>(attribute));
  }
}

bool IsPair(const Attribute& attribute, char second, char third) {
  return HasAttributeCodePair(attribute.code, second, third);
}

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// The feature reference read the other way along it.
RmfFeatureRef Reversed(RmfFeatureRef feature) {
  std::swap(feature.fromVertex, feature.toVertex);
  return feature;
}

std::u16string Format(const CMap& map, unsigned id, std::initializer_list<platform::FormatArg> args) {
  return platform::FormatW(map.LoadResourceString(id), args);
}

// A road name of a sign: kept whole, or without its last word when that word
// is two characters long and holds the one-character word before it ("A 7 N
// NB" becomes "A 7 N").
std::u16string CleanSignRoadName(const std::u16string& road) {
  std::vector<std::u16string> words;
  std::size_t start = 0;
  while (start <= road.size()) {
    const std::size_t blank = road.find(u' ', start);
    const std::size_t end = blank == std::u16string::npos ? road.size() : blank;
    if (end > start) words.push_back(road.substr(start, end - start));
    if (blank == std::u16string::npos) break;
    start = blank + 1;
  }
  if (words.size() < 2) return road;
  const std::u16string& last = words.back();
  const std::u16string& before = words[words.size() - 2];
  if (before.size() != 1 || last.size() != 2 || last.find(before) == std::u16string::npos) return road;
  std::u16string rebuilt;
  for (std::size_t i = 0; i + 1 < words.size(); ++i) {
    if (!rebuilt.empty()) rebuilt += u' ';
    rebuilt += words[i];
  }
  return rebuilt;
}

// What the signs on the ramp say, from the junction's table: the exit texts
// (exit number, destinations) and the road name.
struct RampSigns {
  std::u16string exitTexts;
  std::u16string roadName;
};

RampSigns ReadRampSigns(const CMap& map, const RampExitInfoMap& exits, const RmfFeatureRef& ramp) {
  RampSigns signs;
  if (exits.empty()) return signs;
  ForEachAttribute(map.m_Rdr.get(), ramp, [&](const Attribute& attribute) {
    if (!IsPair(attribute, '7', 'B') || !StartsWith(attribute.Value(), "0SE") || attribute.Name().size() < 2) return;
    const auto found = exits.find(AttributeTextToWide(attribute.Name()));
    if (found == exits.end()) return;
    const RampExitInfo& info = found->second;
    std::u16string text;
    if (!info.exitNumber.empty()) text = Format(map, kStringExitNumber, {info.exitNumber});
    if (!info.roadName.empty()) signs.roadName = CleanSignRoadName(info.roadName);
    if (!info.toward.empty()) {
      if (!text.empty()) text += u", ";
      text += Format(map, kStringToward, {info.toward});
    }
    if (text.empty()) return;
    if (!signs.exitTexts.empty()) signs.exitTexts += u", ";
    signs.exitTexts += text;
  });
  return signs;
}

std::u16string WithExits(std::u16string label, const std::u16string& exitTexts) {
  if (!exitTexts.empty()) label += u". " + exitTexts;
  return label;
}

// The exit texts when there are any, else the ramp name: what every walk that
// finds no street answers.
std::u16string ExitsOrRamp(const CMap& map, const RampSigns& signs) {
  return signs.exitTexts.empty() ? map.LoadResourceString(kStringRamp) : signs.exitTexts;
}

// The first street name among the features (ramps and the names given to
// unnamed streets do not count); "" when none has one.
std::u16string ChooseStreetName(const CMap& map, const std::vector<RmfFeatureRef>& features) {
  for (const RmfFeatureRef& feature : features) {
    if (IsFeatureARamp(map.m_Rdr.get(), feature)) continue;
    std::u16string name = GetStreetName(map, feature, false, false, false);
    if (!name.empty() && !map.IsFallbackStreetName(name)) return name;
  }
  return {};
}

// Whether two references name one feature part, whatever stretch of it each
// covers: the near-point search gives a point on a feature where the caller
// holds the whole of it.
bool IsSameFeature(const RmfFeatureRef& a, const RmfFeatureRef& b) {
  return a.featureId == b.featureId && a.source == b.source && a.secondId == b.secondId && a.part == b.part;
}

// FindConnectedStreetName's worker; `visited` keeps the points already asked
// so that the search never asks one twice, however the streets connect.
std::u16string FindConnectedName(CMap& map, TiPoint point, const RmfFeatureRef& feature, int depth,
                                 VisitedPointList& visited) {
  if (depth > kConnectedNameMaxDepth) return {};
  RmfReader* reader = map.m_Rdr.get();
  std::vector<RmfFeatureRef> near;
  if (GetNearbyCrossStreetFeatures(reader, point, 2, 2, kNearLimit, &near, "4567") < 1) return {};
  std::u16string name = ChooseStreetName(map, near);
  if (!name.empty()) return name;
  for (const RmfFeatureRef& other : near) {
    if (IsSameFeature(other, feature)) continue;
    const std::vector<TiPoint> points = FeaturePoints(reader, other);
    if (points.size() < 2) continue;
    for (const TiPoint end : {points.front(), points.back()}) {
      if (!AddVisitedPoint(visited, end.x, end.y, 0)) continue;  // asked already, or no room left
      name = FindConnectedName(map, end, other, depth + 1, visited);
      if (!name.empty()) return name;
    }
  }
  return {};
}

// ---- the intersection tests ------------------------------------------------------------

// Which end of a feature lies at the point in question.
enum class MatchedEnd { kFirst, kLast };

// Whether a direction-marked attribute applies to a feature met at the
// matched end: '-' with the last end, '+' with the first; `reversed` swaps
// the pairing (the features that leave the point).
bool MarkApplies(char mark, MatchedEnd end, bool reversed) {
  if (mark != '+' && mark != '-') return true;
  const bool forward = (mark == '+') == (end == MatchedEnd::kFirst);
  return reversed ? !forward : forward;
}

// The guide-sign text of a feature (sign attribute 4-B with value "0G", and
// "0B" when `withB`), taken for the matched end when the code is marked.
std::string GuideSignText(RmfReader* reader, const RmfFeatureRef& feature, MatchedEnd end, bool reversed,
                          bool withB) {
  std::string text;
  ForEachAttribute(reader, feature, [&](const Attribute& attribute) {
    if (!text.empty() || !IsPair(attribute, '4', 'B')) return;
    const bool guide = StartsWith(attribute.Value(), "0G") || (withB && StartsWith(attribute.Value(), "0B"));
    if (guide && MarkApplies(attribute.Mark(), end, reversed)) text = attribute.Name();
  });
  return text;
}

// What the intersection test reads of one feature.
struct RoadSigns {
  bool ramp = false;
  bool secondary = false;
  std::string routeName;
  int direction = 0;  // 0 none, 1 or 2 by the route-class mark and the matched end
  std::string guideSign;
  std::vector<std::string> rList;  // "0RB" names (current) or the "0RE" name (others)
  std::vector<std::string> pList;  // "0PB" names (current) or the "0PE" name (others)
};

void AddExitName(std::vector<std::string>& list, std::string_view name) {
  if (list.size() < kMaxExitNames) list.emplace_back(name.substr(0, kMaxExitNameChars));
}

bool Holds(const std::vector<std::string>& list, const std::string& name) {
  for (const std::string& entry : list) {
    if (entry == name) return true;
  }
  return false;
}

// Reads the feature's route class, direction, guide sign and exit names.
// The current feature keeps the junction-side exit names ("0RB", "0PB"),
// every other feature its ramp-side ones ("0RE", "0PE").
RoadSigns ReadRoadSigns(RmfReader* reader, const RmfFeatureRef& feature, MatchedEnd end, bool current, bool withB) {
  RoadSigns signs;
  const bool reversed = !current;
  ForEachAttribute(reader, feature, [&](const Attribute& attribute) {
    const std::string_view value = attribute.Value();
    if (IsPair(attribute, '7', '1')) {
      if (!value.empty() && value[0] == '9') signs.ramp = true;
      if (!value.empty() && value[0] == '8') signs.secondary = true;
      if (!value.empty() && value[0] == '1') {
        // A freeway is known by its route number (":RN/..." piece) where it has one.
        const std::string_view name = attribute.Name();
        const std::size_t tag = name.find(":RN/");
        if (tag != std::string_view::npos) {
          const std::string_view rest = name.substr(tag + 4);
          signs.routeName = std::string(rest.substr(0, rest.find('\\')));
        } else {
          signs.routeName = std::string(name);
        }
      } else {
        signs.routeName = std::string(attribute.Name());
      }
      const char mark = attribute.Mark();
      if (mark == '-') signs.direction = end == MatchedEnd::kLast ? 1 : 2;
      if (mark == '+') signs.direction = end == MatchedEnd::kLast ? 2 : 1;
    } else if (IsPair(attribute, '7', 'B') && value.size() >= 3) {
      if (!MarkApplies(attribute.Mark(), end, reversed)) return;
      if (StartsWith(value, current ? "0RB" : "0RE")) AddExitName(signs.rList, attribute.Name());
      if (StartsWith(value, current ? "0PB" : "0PE")) AddExitName(signs.pList, attribute.Name());
    }
  });
  signs.guideSign = GuideSignText(reader, feature, end, reversed, withB);
  return signs;
}

}  // namespace

// ---- sign table ----------------------------------------------------------------------------

int UpdateRampExitInfo(CMap& map, RampExitInfoMap& exits, const std::vector<RmfFeatureRef>& features) {
  RmfReader* reader = map.m_Rdr.get();
  bool anyRamp = false;
  for (const RmfFeatureRef& feature : features) anyRamp = anyRamp || IsFeatureARamp(reader, feature);
  if (!anyRamp) return 0;
  for (const RmfFeatureRef& feature : features) {
    ForEachAttribute(reader, feature, [&](const Attribute& attribute) {
      if (attribute.Code().size() < 2 || attribute.Value().size() < 2 || !StartsWith(attribute.Value(), "0SB") ||
          !IsPair(attribute, '7', 'B') || attribute.Name().size() < 2) {
        return;
      }
      std::vector<std::u16string> tokens;
      CMap::SplitText(AttributeTextToWide(attribute.Name()), u'\\', kMaxSignTokens - 1, &tokens);
      if (tokens.empty() || exits.count(tokens[0]) != 0) return;
      RampExitInfo info;
      for (std::size_t i = 1; i < tokens.size(); ++i) {
        const std::u16string& token = tokens[i];
        if (token.starts_with(u":EX/")) {
          info.exitNumber = token.substr(4);
        } else if (token.starts_with(u":CN")) {
          // ":CN/name" or ":CN:RN/name"; a bare ":CN" carries no name and
          // is skipped like any other malformed sign text.
          const std::size_t road = token.find(u":RN/");
          const std::size_t from = road != std::u16string::npos ? road + 4 : 4;
          if (token.size() < from) continue;
          std::u16string name = token.substr(from);
          const std::size_t join = name.find(u"//");
          if (join != std::u16string::npos) {
            std::u16string first = name.substr(0, join);
            const std::u16string second = name.substr(join + 2);
            name = first.find(second) != std::u16string::npos ? first : first + u' ' + second;
          }
          info.roadName = name;
        } else if (token.starts_with(u":TO/")) {
          const std::u16string destination = token.substr(4);
          if (info.toward.empty()) {
            info.toward = destination;
          } else {
            info.toward += Format(map, kStringFurtherToward, {destination});
          }
        }
      }
      exits.emplace(tokens[0], std::move(info));
    });
  }
  return 1;
}

// ---- names met at a point ----------------------------------------------------------------

std::u16string FindConnectedStreetName(CMap& map, TiPoint point, const RmfFeatureRef& feature, int depth) {
  VisitedPointList visited;
  AddVisitedPoint(visited, point.x, point.y, 0);
  std::u16string name = FindConnectedName(map, point, feature, depth, visited);
  return name.empty() ? map.LoadResourceString(kStringRamp) : name;
}

// ---- ramp labels ---------------------------------------------------------------------------

namespace {

// The label of a ramp or connector from the names met at its own two ends,
// without a route walk.
std::u16string LabelFromEnds(CMap& map, const RampSigns& signs, const RmfFeatureRef& ramp, bool rampFlag) {
  if (!signs.roadName.empty()) {
    map.Log(u"Exiting 1");
    return WithExits(Format(map, kStringRampForRoad, {signs.roadName}), signs.exitTexts);
  }
  const std::vector<TiPoint> points = FeaturePoints(map.m_Rdr.get(), ramp);
  if (points.size() < 2) {
    map.Log(u"Exiting 2");
    return ExitsOrRamp(map, signs);
  }
  std::u16string first = FindConnectedStreetName(map, points.front(), ramp, 0);
  std::u16string last = FindConnectedStreetName(map, points.back(), ramp, 0);
  if (map.IsRampName(first)) first.clear();
  if (map.IsRampName(last)) last.clear();
  if (first.empty() && last.empty()) {
    map.Log(u"Exiting 5 (Ramp)");
    return ExitsOrRamp(map, signs);
  }
  if (!rampFlag) {
    map.Log(u"Exiting 3");
    return WithExits(Format(map, kStringConnectorTo, {last.empty() ? first : last}), signs.exitTexts);
  }
  if (!first.empty() && !last.empty()) {
    map.Log(u"Exiting 4");
    return WithExits(Format(map, kStringRampFromTo, {first, last}), signs.exitTexts);
  }
  map.Log(u"Exiting 6");
  return WithExits(first.empty() ? Format(map, kStringRampOnto, {last}) : Format(map, kStringRampFrom, {first}),
                   signs.exitTexts);
}

// The far ends a ramp walk has reached, one per step at most: with room for
// every step, so that the step cap, not a full list, ends a walk that goes on
// and on.
class ReachedPoints {
 public:
  bool Has(TiPoint point) const {
    for (const TiPoint p : points_) {
      if (TiSamePoint(p, point)) return true;
    }
    return false;
  }
  // False when the point was reached already.
  bool Add(TiPoint point) {
    if (Has(point)) return false;
    points_.push_back(point);
    return true;
  }

 private:
  std::vector<TiPoint> points_;
};

}  // namespace

std::int32_t FeatureConnections(RmfRoute* route, const RmfFeatureRef& feature, std::vector<RmfJunction>& records) {
  records.assign(kMaxWalkConnections, RmfJunction{});
  const std::int32_t n = RmfRouteFeatConnect(route, &feature, 1, records.data(), kMaxWalkConnections, 1, -1);
  records.resize(n > 0 ? static_cast<std::size_t>(std::min(n, kMaxWalkConnections)) : 0);
  return n;
}

std::u16string CMap::GetRampConnections(const RampExitInfoMap& exits, TiPoint intersection, const RmfFeatureRef& ramp,
                                        bool rampFlag) {
  RmfReader* reader = m_Rdr.get();
  const RampSigns signs = ReadRampSigns(*this, exits, ramp);
  if (m_bUsingWinCE42 != 0) return LabelFromEnds(*this, signs, ramp, rampFlag);

  TemporaryRoute route(reader);
  if (route.get() == nullptr) {
    Log(u"          ****ERROR****Virtual Explore:2::RmfRouteCreate Error");
    return LoadResourceString(kStringRamp);
  }

  // Whether a connection continues the walk: a ramp when a ramp is named,
  // an unnamed road when a connector is.
  const auto continues = [&](const RmfFeatureRef& feature) {
    if (rampFlag) return IsFeatureARamp(reader, feature);
    const std::u16string name = GetStreetName(*this, feature, false, false, false);
    return name.empty() || IsFallbackStreetName(name);
  };
  const auto marks = [&](const RmfFeatureRef& feature) {
    return GetFeatureAttribute(*this, feature, kAttributeDirectionMark, false) == u"-";
  };

  // The walk leaves the intersection along the ramp.
  RmfFeatureRef current = ramp;
  {
    const std::vector<TiPoint> points = FeaturePoints(reader, ramp);
    if (points.size() >= 2 && AreMapPointsNear(points.back(), intersection) &&
        !AreMapPointsNear(points.front(), intersection)) {
      current = Reversed(ramp);
    }
  }
  bool marked = rampFlag && marks(current);
  bool costsSet = false;
  RmfFeatureRef street{};
  bool found = false;
  ReachedPoints visited;
  visited.Add(intersection);
  std::vector<RmfJunction> records;
  std::vector<RmfJunction> farRecords;
  TiPoint lastPoint = intersection;

  for (int step = 0; !found; ++step) {
    if (step >= kRampWalkMaxSteps) {
      Log(u"                 CMap::GetRampConnections: **** ERROR infinite Loop *** Exiting");
      LogFormat(u"                 BinLon=%d BinLat=%d : BinLon=%d BinLat=%d",
                {lastPoint.x, lastPoint.y, intersection.x, intersection.y});
      LogFormat(u"                 Best Int = BinLon=%d BinLat=%d", {intersection.x, intersection.y});
      return LoadResourceString(kStringRamp);
    }
    if (FeatureConnections(route.get(), current, records) < 1) {
      if (costsSet) {
        Log(u"Error RmfRouteFeatConnect = 0 exiting");
        return LoadResourceString(kStringRamp);
      }
      Log(u"SetVirtualExplore");
      costsSet = true;
      if (RmfProfileSetCallbacks(reader, ExploreFeatureFilter, WalkingConnectionFilter, nullptr,
                                 kRmfProfileEngineLimit) < 1 ||
          RmfRouteSetTurnCosts(route.get(), kWalkingTurnCosts) < 1 ||
          FeatureConnections(route.get(), current, records) < 1) {
        Log(u"Error RmfRouteFeatConnect = 0 exiting");
        return LoadResourceString(kStringRamp);
      }
    }

    bool moved = false;
    for (const RmfJunction& record : records) {
      if (record.verdict == kRmfVerdictForbiddenTurn || record.verdict == kRmfVerdictExcluded) continue;
      if (record.verdict == kRmfVerdictOneWay && !costsSet) continue;
      const RmfFeatureRef next = RmfJunctionReference(record);
      // The way back along the road just walked.
      if (IsSameFeature(next, current)) continue;
      const std::vector<TiPoint> points = FeaturePoints(reader, next);
      if (points.size() < 2) continue;
      const TiPoint far = points.back();
      if (AreMapPointsNear(points.front(), intersection)) {
        if (!continues(next) || !visited.Add(far)) continue;
        current = next;
        moved = true;
        break;
      }
      if (!continues(next)) {
        // The ramp network ends on a street here.
        street = next;
        found = true;
        break;
      }
      if (visited.Has(far)) continue;
      std::vector<RmfFeatureRef> atFar;
      if (GetNearbyCrossStreetFeatures(reader, far, 1, 2, kNearLimit, &atFar, "567") > 2 &&
          IsExploreIntersection(*this, atFar, points[points.size() - 2], far)) {
        // The ramp ends at a junction: the street is one of the roads there.
        FeatureConnections(route.get(), next, farRecords);
        for (const RmfJunction& there : farRecords) {
          const RmfFeatureRef candidate = RmfJunctionReference(there);
          if (there.verdict == kRmfVerdictAllowed && !continues(candidate)) {
            street = candidate;
            found = true;
            break;
          }
        }
        if (!found) {
          if (!signs.exitTexts.empty()) {
            Log(u"rampExitData exiting");
            return signs.exitTexts;
          }
          Log(u"nonrampId == UNKNOWN_INDEX exiting");
          return LoadResourceString(kStringRamp);
        }
        break;
      }
      visited.Add(far);
      if (rampFlag && marks(next)) marked = true;
      current = next;
      lastPoint = far;
      moved = true;
      break;
    }
    if (!found && !moved) {
      // A dead end, or only roads walked already.
      if (!signs.exitTexts.empty()) {
        Log(u"rampExitData exiting");
        return signs.exitTexts;
      }
      Log(u"nonrampId == UNKNOWN_INDEX exiting");
      return LoadResourceString(kStringRamp);
    }
  }

  std::u16string streetName = GetStreetName(*this, street, false, false, false);
  if (streetName.empty() || IsFallbackStreetName(streetName)) {
    const std::vector<TiPoint> points = FeaturePoints(reader, street);
    streetName = LoadResourceString(kStringRamp);
    if (points.size() >= 2) {
      streetName = FindConnectedStreetName(*this, points.front(), street, 0);
      if (IsRampName(streetName)) streetName = FindConnectedStreetName(*this, points.back(), street, 0);
    }
  }
  const bool freeway = IsRoadClass1(street);
  if (!rampFlag) return Format(*this, kStringConnectorTo, {streetName});
  if (marked) {
    if (!signs.roadName.empty()) {
      Log(u"offRamp exiting");
      return WithExits(Format(*this, kStringRampForRoad, {signs.roadName}), signs.exitTexts);
    }
    return Format(*this, freeway ? kStringRampFrom : kStringRampFromStreet, {streetName});
  }
  Log(u"exiting:B");
  const std::u16string& name = signs.roadName.empty() ? streetName : signs.roadName;
  return WithExits(Format(*this, freeway ? kStringRampOnto : kStringRampToStreet, {name}), signs.exitTexts);
}

// ---- intersection tests ------------------------------------------------------------------

bool AreNamesDifferent(std::u16string_view a, std::u16string_view b) {
  const std::u16string_view shorter = a.size() <= b.size() ? a : b;
  const std::u16string_view longer = a.size() <= b.size() ? b : a;
  return longer.find(shorter) == std::u16string_view::npos;
}

bool IsExploreIntersection(CMap& map, const std::vector<RmfFeatureRef>& features, TiPoint previous, TiPoint point) {
  RmfReader* reader = map.m_Rdr.get();
  const std::size_t n = features.size();
  if (n < 1) return false;
  if (n == 1) return true;
  if (n == 2) {
    return AreNamesDifferent(GetFeatureAttribute(map, features[0], kAttributeSecondStreetName, false),
                             GetFeatureAttribute(map, features[1], kAttributeSecondStreetName, false));
  }
  // The current feature: the one that ends at the previous point or the point.
  std::size_t current = n;
  MatchedEnd currentEnd = MatchedEnd::kLast;
  for (std::size_t i = 0; i < n && current == n; ++i) {
    const std::vector<TiPoint> points = FeaturePoints(reader, features[i]);
    if (points.empty()) continue;
    if (AreMapPointsNear(points.front(), previous) || AreMapPointsNear(points.front(), point)) {
      current = i;
      currentEnd = AreMapPointsNear(points.front(), point) ? MatchedEnd::kFirst : MatchedEnd::kLast;
    } else if (AreMapPointsNear(points.back(), previous) || AreMapPointsNear(points.back(), point)) {
      current = i;
      currentEnd = AreMapPointsNear(points.back(), point) ? MatchedEnd::kLast : MatchedEnd::kFirst;
    }
  }
  const std::string guide =
      current < n ? GuideSignText(reader, features[current], currentEnd, false, true) : std::string();
  std::size_t remaining = n - 1;
  for (std::size_t i = 0; i < n; ++i) {
    if (i == current) continue;
    const std::vector<TiPoint> points = FeaturePoints(reader, features[i]);
    const MatchedEnd end =
        !points.empty() && AreMapPointsNear(points.back(), point) ? MatchedEnd::kLast : MatchedEnd::kFirst;
    bool discount = GuideSignText(reader, features[i], end, true, true) != guide;
    if (!discount) {
      bool otherAccess = false;
      bool restrictedAccess = false;
      bool routeClass = false;
      ForEachAttribute(reader, features[i], [&](const Attribute& attribute) {
        if (IsPair(attribute, '4', '1')) {
          (StartsWith(attribute.Value(), "R") ? restrictedAccess : otherAccess) = true;
        }
        if (IsPair(attribute, '7', '1')) routeClass = true;
      });
      discount = otherAccess && !restrictedAccess && !routeClass;
    }
    if (discount && --remaining < 2) return false;
  }
  return remaining > 1;
}

bool CMap::IsAtIntersection(TiPoint test, bool sameRoad, TiPoint reference, bool byClass) {
  RmfReader* reader = m_Rdr.get();
  std::vector<RmfFeatureRef> features;
  GetNearbyCrossStreetFeatures(reader, test, 1, 2, kNearLimit, &features, "567");
  if (features.size() < 3) {
    std::u16string first = u"-";
    for (const RmfFeatureRef& feature : features) {
      const std::u16string name = GetFeatureAttribute(*this, feature, kAttributeStreetName, false);
      if (first == u"-") {
        first = name;
      } else if (name != first) {
        return true;
      }
    }
    return false;
  }

  std::size_t current = features.size();
  MatchedEnd currentEnd = MatchedEnd::kFirst;
  for (std::size_t i = 0; i < features.size() && current == features.size(); ++i) {
    const std::vector<TiPoint> points = FeaturePoints(reader, features[i]);
    if (points.empty()) continue;
    if (AreMapPointsNear(points.front(), reference)) {
      current = i;
      currentEnd = MatchedEnd::kFirst;
    } else if (AreMapPointsNear(points.back(), reference)) {
      current = i;
      currentEnd = MatchedEnd::kLast;
    }
  }
  if (current == features.size()) return true;
  const RoadSigns road = ReadRoadSigns(reader, features[current], currentEnd, true, sameRoad);

  int meeting = 0;
  for (std::size_t i = 0; i < features.size(); ++i) {
    if (i == current) continue;
    const std::vector<TiPoint> points = FeaturePoints(reader, features[i]);
    const MatchedEnd end =
        !points.empty() && AreMapPointsNear(points.back(), test) ? MatchedEnd::kLast : MatchedEnd::kFirst;
    const RoadSigns other = ReadRoadSigns(reader, features[i], end, false, sameRoad);
    const std::string exitR = other.rList.empty() ? std::string() : other.rList.front();
    const std::string exitP = other.pList.empty() ? std::string() : other.pList.front();
    bool discount = false;
    if (sameRoad && byClass && other.secondary) discount = true;
    if (sameRoad && other.direction != road.direction) discount = true;
    if (sameRoad && other.ramp == road.ramp && other.secondary == road.secondary && other.routeName == road.routeName) {
      discount = true;
    }
    if (other.guideSign != road.guideSign) discount = true;
    if (!road.rList.empty() && (!sameRoad || !Holds(road.rList, exitR))) discount = true;
    if (sameRoad && !exitP.empty() && Holds(road.pList, exitP)) discount = true;
    if (!discount) ++meeting;
  }
  return sameRoad ? meeting >= 1 : meeting >= 2;
}
