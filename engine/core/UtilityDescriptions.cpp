// The Utility's description words: distances, headings, compass points and
// relative directions in words, the spell decorators, the spoken names of
// waypoints and the three template expanders that put sentences together from
// the language library's texts.
#include <cmath>
#include <memory>
#include <string>
#include <string_view>

#include "engine/core/EngineUtilities.h"
#include "engine/core/Utility.h"
#include "platform/com/accessors.h"
#include "platform/com/owners.h"
#include "platform/os/dollar_template.h"
#include "platform/os/format.h"

namespace vov {

namespace {

// Language texts read here.
constexpr UINT kDirectionUnknown = 20169;
constexpr UINT kAhead = 20186;
constexpr UINT kAheadLeft = 20187;
constexpr UINT kAheadRight = 20188;
constexpr UINT kLeft = 20189;
constexpr UINT kRight = 20190;
constexpr UINT kBehind = 20191;
constexpr UINT kBehindLeft = 20192;
constexpr UINT kBehindRight = 20193;
constexpr UINT kTurnAround = 20194;
constexpr UINT kCompassDegreesSide = 20195;  // compass word, degrees off, side word
constexpr UINT kFeet = 20500;
constexpr UINT kMilesOneDigit = 20501;        // miles, hundredths 0..9
constexpr UINT kMilesTwoDigits = 20502;       // miles, hundredths 10..99
constexpr UINT kUnderQuarterMile = 20503;
constexpr UINT kAboutHalfMile = 20504;
constexpr UINT kUnderOneMile = 20505;
constexpr UINT kAboutMiles = 20506;
constexpr UINT kAboutOneMile = 20507;
constexpr UINT kNauticalOneDigit = 20510;
constexpr UINT kNauticalTwoDigits = 20511;
constexpr UINT kUnderQuarterNautical = 20512;
constexpr UINT kAboutHalfNautical = 20513;
constexpr UINT kUnderOneNautical = 20514;
constexpr UINT kAboutNauticalMiles = 20515;
constexpr UINT kAboutOneNautical = 20516;
constexpr UINT kAboutOneKilometre = 20520;
constexpr UINT kMetres = 20521;
constexpr UINT kKilometresTwoDigits = 20522;  // kilometres, hundredths 10..99
constexpr UINT kKilometresOneDigit = 20523;   // kilometres, hundredths 0..9
constexpr UINT kAboutKilometres = 20524;
constexpr UINT kUnder300Metres = 20525;
constexpr UINT kAboutHalfKilometre = 20526;
constexpr UINT kUnderOneKilometre = 20527;
constexpr UINT kClockHour = 20580;
constexpr UINT kCompassNorth = 20708;
constexpr UINT kCompassSouth = 20711;
constexpr UINT kCompassEast = 20714;
constexpr UINT kCompassWest = 20717;
constexpr UINT kCompassNortheast = 20720;
constexpr UINT kCompassNorthwest = 20723;
constexpr UINT kCompassSoutheast = 20726;
constexpr UINT kCompassSouthwest = 20729;
constexpr UINT kNumberingBoth = 21005;
constexpr UINT kNumberingShort = 21006;
constexpr UINT kNumberingFull = 21007;
constexpr UINT kNumberedWaypointName = 21012;
constexpr UINT kFirstKeyword = 22013;
constexpr UINT kLastKeyword = 22020;

// Texts of at most this many characters (and at least two) lose their spell
// decorators; longer ones are left as they are.
constexpr std::size_t kMaxUndecoratedLength = 1025;

using LocationRef = std::unique_ptr<ILocationObject, com::Releaser>;

// A text property read through its getter; empty when the object is absent or
// the getter fails.
template <class I>
std::u16string ReadText(I* object, HRESULT (STDMETHODCALLTYPE I::*getter)(BSTR*)) {
  if (object == nullptr) return {};
  BSTR raw = nullptr;
  const HRESULT hr = (object->*getter)(&raw);
  if (FAILED(hr)) return {};
  com::Bstr owner;
  owner.Reset(raw);
  return std::u16string(com::BstrView(raw));
}

SHORT WaypointIndex(IWaypointObject* waypoint) {
  SHORT index = -1;
  if (waypoint == nullptr || FAILED(waypoint->GetIndex(&index))) return -1;
  return index;
}

bool IsUserPoint(IWaypointObject* waypoint) {
  VARIANT_BOOL user = VARIANT_FALSE;
  return waypoint != nullptr && SUCCEEDED(waypoint->IsUserPoint(&user)) && user != VARIANT_FALSE;
}

LocationRef WaypointLocation(IWaypointObject* waypoint) {
  if (waypoint == nullptr) return {};
  ILocationObject* location = nullptr;
  if (FAILED(waypoint->GetLocation(&location))) return {};
  return LocationRef(location);
}

// A name as the expanders insert it: left as it is when it already carries
// the opening mark, else wrapped when the setting asks for the marks.
std::u16string Inserted(std::u16string name, bool spell) {
  if (name.empty() || !spell || name.find(u"<<") != std::u16string::npos) return name;
  return u"<<" + name + u">>";
}

// Removes a space at the end, then a comma or full stop at the end, so that
// an empty insertion does not leave its separator behind.
void Trim(std::u16string& out) {
  if (!out.empty() && out.back() == u' ') out.pop_back();
  if (!out.empty() && (out.back() == u',' || out.back() == u'.')) out.pop_back();
}

void InsertOrTrim(std::u16string& out, std::u16string_view text) {
  if (text.empty()) {
    Trim(out);
  } else {
    out += text;
  }
}

// The waypoint name's own template may itself name the waypoint; inside it a
// waypoint's name is the plain name, so a template can never recurse.
thread_local int t_namingWaypoint = 0;

struct NamingWaypoint {
  NamingWaypoint() { ++t_namingWaypoint; }
  ~NamingWaypoint() { --t_namingWaypoint; }
  NamingWaypoint(const NamingWaypoint&) = delete;
  NamingWaypoint& operator=(const NamingWaypoint&) = delete;
};

SystemDescriptions KnownDescriptions(SystemDescriptions value) {
  return value == Short || value == Full || value == Both ? value : Full;
}

// "Waypoint 3" and its shorter and longer wordings, by the route settings of
// the mode; empty when numbering is off or the waypoint has no number.
std::u16string NumberingText(const Utility& utility, const RouteSettings& route, IWaypointObject* waypoint) {
  const SHORT index = WaypointIndex(waypoint);
  if (waypoint == nullptr || !route.waypointNumbering || index == -1) return {};
  const SystemDescriptions kind = KnownDescriptions(route.numberingDescriptions);
  return utility.FormatResourceString(kind == Short ? kNumberingShort : kind == Both ? kNumberingBoth : kNumberingFull,
                                      {index});
}

// Headings as far out as this are not headings; their words are "unknown"
// (and the arithmetic below stays well inside its integers).
constexpr double kMaxHeadingMagnitude = 1.0e9;

// Whether a coordinate can be scaled to its comparison key; the key is the
// coordinate times 10^10 truncated.
bool ComparisonKey(double degrees, long long& key) {
  const double scaled = degrees * 1.0e10;
  if (!(std::fabs(scaled) < 9.0e18)) return false;  // also false for NaN
  key = static_cast<long long>(scaled);
  return true;
}

}  // namespace

// ---- same place ---------------------------------------------------------------------

bool IsSameLocation(double latitude1, double longitude1, double latitude2, double longitude2) {
  long long a = 0, b = 0, c = 0, d = 0;
  if (!ComparisonKey(latitude1, a) || !ComparisonKey(longitude1, b) || !ComparisonKey(latitude2, c) ||
      !ComparisonKey(longitude2, d)) {
    return false;
  }
  return a == c && b == d;
}

bool IsSameLocation(double latitude, double longitude, ILocationObject* location) {
  if (location == nullptr) return false;
  double otherLatitude = 0.0;
  double otherLongitude = 0.0;
  if (FAILED(location->GetLatitude(&otherLatitude)) || FAILED(location->GetLongitude(&otherLongitude))) {
    return false;
  }
  return IsSameLocation(latitude, longitude, otherLatitude, otherLongitude);
}

// ---- distances and directions ---------------------------------------------------------

// Metres below 200 and whole feet below 1,000 are spoken as they are; longer
// distances in kilometres or miles with two decimals, or in rounded words.
std::u16string Utility::DistanceDescription(LONG distance, bool rounded) const {
  const Units units = m_systemSettings->Record().units;
  if (units == Metric) {
    if (distance < 200) return FormatResourceString(kMetres, {distance});
    const LONG kilometres = distance / 1000;
    const LONG rest = distance % 1000;
    if (!rounded) {
      return FormatResourceString(rest >= 100 ? kKilometresTwoDigits : kKilometresOneDigit, {kilometres, rest / 10});
    }
    if (kilometres >= 2) return FormatResourceString(kAboutKilometres, {kilometres});
    if (kilometres == 1) return FormatResourceString(kAboutOneKilometre, {kilometres});
    return LoadResourceString(distance < 300 ? kUnder300Metres : distance >= 600 ? kUnderOneKilometre
                                                                                 : kAboutHalfKilometre);
  }
  if (distance < 1000) return FormatResourceString(kFeet, {distance});
  const bool nautical = units == Nautical;
  const LONG unit = units == Nautical ? 6076 : units == BritishNautical ? 6080 : 5280;
  const LONG whole = distance / unit;
  const LONG rest = distance % unit;
  if (!rounded) {
    // 53 feet is a hundredth of a statute mile. A nautical mile is longer, so
    // its hundredths are counted from its own length: 53-foot steps would
    // give more than a hundred of them in one nautical mile.
    const LONG hundredths = units == Imperial ? rest / 53 : static_cast<LONG>(rest * 100LL / unit);
    const bool twoDigits = hundredths >= 10;
    const UINT id = nautical ? (twoDigits ? kNauticalTwoDigits : kNauticalOneDigit)
                             : (twoDigits ? kMilesTwoDigits : kMilesOneDigit);
    return FormatResourceString(id, {whole, hundredths});
  }
  if (whole >= 2) return FormatResourceString(nautical ? kAboutNauticalMiles : kAboutMiles, {whole});
  if (whole == 1) return FormatResourceString(nautical ? kAboutOneNautical : kAboutOneMile, {whole});
  if (distance < 1520) return LoadResourceString(nautical ? kUnderQuarterNautical : kUnderQuarterMile);
  if (distance >= 3040) return LoadResourceString(nautical ? kUnderOneNautical : kUnderOneMile);
  return LoadResourceString(nautical ? kAboutHalfNautical : kAboutHalfMile);
}

std::u16string Utility::HeadingDescription(LONG degrees, bool compass) const {
  if (degrees == -1) return LoadResourceString(kDirectionUnknown);
  if (compass) return CompassPointName(degrees);
  return platform::FormatW(u"%d", {degrees});
}

std::u16string Utility::CompassPointName(LONG degrees) const {
  if (degrees < 0 || degrees > 360) return LoadResourceString(kDirectionUnknown);
  UINT base = kCompassNorthwest;
  if (degrees >= 338 || degrees <= 22) {
    base = kCompassNorth;
  } else if (degrees <= 67) {
    base = kCompassNortheast;
  } else if (degrees <= 112) {
    base = kCompassEast;
  } else if (degrees <= 157) {
    base = kCompassSoutheast;
  } else if (degrees <= 202) {
    base = kCompassSouth;
  } else if (degrees <= 247) {
    base = kCompassSouthwest;
  } else if (degrees <= 292) {
    base = kCompassWest;
  }
  // Each sector has three wordings in a row: short, full, both.
  return LoadResourceString(base + KnownDescriptions(m_systemSettings->Record().defaultCompassDescriptions));
}

std::u16string Utility::RelativeHeadingDescription(double heading, LONG bearing, bool turnWords) const {
  if (heading == -1.0 || !(std::fabs(heading) < kMaxHeadingMagnitude)) return LoadResourceString(kDirectionUnknown);
  const auto h = static_cast<long long>(heading);
  const long long a = (bearing - h + 360) % 360;  // clockwise from the heading; negative when out of range
  const bool manual = IsManualFix();
  const RelativeHeadingType mode = m_systemSettings->Record().headingMode;

  if (mode == ClockFace) {
    const INT hour = GetClockFaceDirection(static_cast<INT>(h), bearing);
    return hour == 0 ? LoadResourceString(kDirectionUnknown) : FormatResourceString(kClockHour, {hour});
  }

  if (mode == LeftRightDegreesCompass) {
    const long long off = std::llabs(bearing - h);
    const long long angle = off <= 180 ? off : 360 - off;
    const UINT side = angle == 0 ? kAhead : (a >= 1 && a <= 180) ? kRight : kLeft;
    return FormatResourceString(kCompassDegreesSide,
                                {CompassPointName(bearing), angle, LoadResourceString(side)});
  }

  if (a < 0) return LoadResourceString(kDirectionUnknown);
  if (a <= 22 || a >= 338) return LoadResourceString(kAhead);
  if (a >= 68 && a <= 112) return LoadResourceString(kRight);
  if (a >= 158 && a <= 202) return LoadResourceString(turnWords ? kTurnAround : kBehind);
  if (a >= 248 && a <= 292) return LoadResourceString(kLeft);

  if (mode == Combo) {
    // The diagonals as clock hours: 30 degrees to the hour, two hours to
    // each diagonal quarter.
    const int hour = a <= 44 ? 1 : a <= 67 ? 2 : a <= 134 ? 4 : a <= 157 ? 5 : a <= 224 ? 7 : a <= 247 ? 8
                   : a <= 314 ? 10 : 11;
    return FormatResourceString(kClockHour, {hour});
  }

  // AheadLeft (and any heading mode not known): with a fix entered by hand
  // only ahead, right, behind and left are told apart.
  UINT id = kDirectionUnknown;
  if (a <= 67) {
    id = manual ? kAhead : kAheadRight;
  } else if (a <= 134) {
    id = turnWords ? kRight : (manual ? kBehind : kBehindRight);
  } else if (a <= 157) {
    id = kBehind;
  } else if (a <= 224) {
    id = turnWords ? kLeft : (manual ? kBehind : kBehindLeft);
  } else if (a <= 247) {
    id = manual ? kBehind : kBehindLeft;
  } else {
    id = manual ? kAhead : kAheadLeft;
  }
  return LoadResourceString(id);
}

DistanceHeadingRecord Utility::NewDistanceHeadingRecord(ILocationObject* from, ILocationObject* to,
                                                        SHORT currentHeading) const {
  DistanceHeadingRecord record;
  if (from == nullptr || to == nullptr) return record;
  LONG distance = -1;
  if (SUCCEEDED(from->GetDistance(to, &distance))) record.distance = distance;
  SHORT bearing = -1;
  if (SUCCEEDED(from->GetBearingDegrees(to, &bearing))) record.bearing = bearing;
  BSTR raw = nullptr;
  if (SUCCEEDED(from->GetRelativeHeading(currentHeading, to, &raw))) {
    com::Bstr text;
    text.Reset(raw);
    record.relativeHeading.assign(com::BstrView(raw));
  }
  return record;
}

DistanceHeadingRecord Utility::NewWaypointDistanceHeadingRecord(ILocationObject* from, IWaypointObject* waypoint,
                                                                SHORT currentHeading) const {
  const LocationRef location = WaypointLocation(waypoint);
  return NewDistanceHeadingRecord(from, location.get(), currentHeading);
}

// The threshold is kept in feet; distances come in metres when the system
// units are Metric and in feet for every other unit (the nautical units
// included), so the threshold is compared in that same unit. An unknown
// distance (negative) is never near.
bool Utility::IsWithinArrivedNearThreshold(LONG distance) const {
  if (distance < 0) return false;
  const vov::SystemSettings& settings = m_systemSettings->Record();
  const LONG feet = settings.arrivedNearThresholdFeet;
  const LONG threshold = settings.units == Metric ? FeetToUnits(feet, Metric) : feet;
  return distance <= threshold;
}

// ---- spell decorators -------------------------------------------------------------------

std::u16string Utility::AddSpellDecorators(std::u16string_view name) const {
  if (name.empty() || !m_systemSettings->Record().includeSpellDecorators) return std::u16string(name);
  std::u16string decorated;
  decorated.reserve(name.size() + 4);
  decorated += u"<<";
  decorated += name;
  decorated += u">>";
  return decorated;
}

// Pairs are consumed whole from the left, so "<<<" keeps its last "<"; a
// single ">" at the very end (what is left of a cut ">>") goes as well.
std::u16string Utility::RemoveSpellDecorators(std::u16string_view text) {
  if (text.size() < 2 || text.size() > kMaxUndecoratedLength) return std::u16string(text);
  std::u16string plain;
  plain.reserve(text.size());
  std::size_t i = 0;
  const std::size_t last = text.size() - 1;
  while (i < last) {
    if ((text[i] == u'<' && text[i + 1] == u'<') || (text[i] == u'>' && text[i + 1] == u'>')) {
      i += 2;
    } else {
      plain += text[i++];
    }
  }
  if (i == last && text[last] != u'>') plain += text[last];
  return plain;
}

std::u16string Utility::DecorateName(std::u16string_view name) const {
  return m_systemSettings->Record().includeSpellDecorators ? AddSpellDecorators(name) : std::u16string(name);
}

std::u16string Utility::UndecorateName(std::u16string_view text) const {
  return m_systemSettings->Record().includeSpellDecorators ? RemoveSpellDecorators(text) : std::u16string(text);
}

// ---- template expanders ------------------------------------------------------------------

std::u16string Utility::ExpandDescriptionTemplate(UINT templateId, ILocationObject* place,
                                                  const DistanceHeadingRecord* record, IWaypointObject* waypoint,
                                                  Mode mode, IWaypointObject* otherWaypoint,
                                                  std::u16string_view extra) const {
  const std::u16string pattern = LoadResourceString(templateId);
  if (pattern.empty()) return {};
  const vov::SystemSettings& settings = m_systemSettings->Record();
  const vov::RouteSettings& route = (mode == VirtualMode ? m_virtualRouteSettings : m_gpsRouteSettings)->Record();
  const bool spell = settings.includeSpellDecorators;

  LocationRef waypointLocation;
  bool waypointLocationRead = false;
  auto waypointPlace = [&]() {
    if (!waypointLocationRead) {
      waypointLocation = WaypointLocation(waypoint);
      waypointLocationRead = true;
    }
    return waypointLocation.get();
  };

  return platform::ExpandDollarTemplate(pattern, [&](char16_t code, std::u16string& out, std::u16string_view) {
    switch (code) {
      case u'W':
        out += WaypointNameText(waypoint, mode);
        break;
      case u'O':
        out += WaypointNameText(otherWaypoint, mode);
        break;
      case u'N':
      case u'p':
        out += Inserted(ReadText(place, &ILocationObject::GetName), spell);
        break;
      case u'P':
        if (place != nullptr) {
          out += Inserted(ReadText(place, &ILocationObject::GetName), spell);
          out += u", ";
          out += Inserted(ReadText(place, &ILocationObject::GetDescription), spell);
        }
        break;
      case u'F':
        InsertOrTrim(out, Inserted(ReadText(place, &ILocationObject::GetDescription), spell));
        break;
      case u'S':
        InsertOrTrim(out, extra);
        break;
      case u'C':
        if (record != nullptr) out += CompassPointName(record->bearing);
        break;
      case u'c':
        if (settings.headingMode == ClockFace) {
          if (!out.empty() && out.back() == u' ') out.pop_back();
        } else if (record != nullptr) {
          out += CompassPointName(record->bearing);
        }
        break;
      case u'D':
      case u'Z':
        if (record != nullptr) out += record->relativeHeading;
        break;
      case u'd':
        if (record != nullptr) out += DistanceDescription(record->distance, false);
        break;
      case u'n':
        out += Inserted(ReadText(waypointPlace(), &ILocationObject::GetName), spell);
        break;
      case u'f':
        InsertOrTrim(out, IsUserPoint(waypoint)
                              ? Inserted(ReadText(waypointPlace(), &ILocationObject::GetDescription), spell)
                              : std::u16string());
        break;
      case u'q':
        InsertOrTrim(out, Inserted(ReadText(waypoint, &IWaypointObject::GetStreetNameForward), spell));
        break;
      case u'w':
        InsertOrTrim(out, NumberingText(*this, route, waypoint));
        break;
      default:
        break;  // an unknown code says nothing
    }
    return std::size_t{0};
  });
}

std::u16string Utility::ExpandSimpleTemplate(UINT templateId, std::u16string_view textT, std::u16string_view textF,
                                             std::u16string_view textH) const {
  const auto onCode = [&](char16_t code, std::u16string& out, std::u16string_view) -> std::size_t {
    switch (code) {
      case u'T': out += textT; break;
      case u'F': out += textF; break;
      case u'H': out += textH; break;
      default: break;
    }
    return 0;
  };
  return platform::ExpandDollarTemplate(LoadResourceString(templateId), onCode);
}

std::u16string Utility::WaypointExploreDescription(UINT templateId, std::u16string_view textd,
                                                   std::u16string_view textD, std::u16string_view textW,
                                                   std::u16string_view textT, std::u16string_view textE,
                                                   std::u16string_view textU) const {
  const auto onCode = [&](char16_t code, std::u16string& out, std::u16string_view rest) -> std::size_t {
    switch (code) {
      case u'W': out += textW; break;
      case u'T': InsertOrTrim(out, textT); break;
      case u'E': InsertOrTrim(out, textE); break;
      case u'U': InsertOrTrim(out, textU); break;
      case u'd':
      case u'D': {
        const std::u16string_view text = code == u'd' ? textd : textD;
        if (!text.empty()) {
          out += text;
          break;
        }
        // An empty distance or direction takes the ", " that follows it along.
        std::size_t taken = 0;
        if (taken < rest.size() && rest[taken] == u',') ++taken;
        if (taken < rest.size() && rest[taken] == u' ') ++taken;
        return taken;
      }
      default: break;
    }
    return 0;
  };
  return platform::ExpandDollarTemplate(LoadResourceString(templateId), onCode);
}

std::u16string Utility::WaypointNameText(IWaypointObject* waypoint, Mode mode) const {
  if (waypoint == nullptr) return {};
  const vov::RouteSettings& route = (mode == VirtualMode ? m_virtualRouteSettings : m_gpsRouteSettings)->Record();
  const SHORT index = WaypointIndex(waypoint);
  const bool numbered = index != -1 && route.waypointNumbering;
  const LocationRef location = WaypointLocation(waypoint);
  std::u16string name =
      Inserted(ReadText(location.get(), &ILocationObject::GetName), m_systemSettings->Record().includeSpellDecorators);
  if (!name.empty()) {
    if (!numbered || t_namingWaypoint > 0) return name;
    const NamingWaypoint naming;
    return ExpandDescriptionTemplate(kNumberedWaypointName, nullptr, nullptr, waypoint, mode, nullptr, u"");
  }
  return NumberingText(*this, route, waypoint);
}

// ---- keywords ----------------------------------------------------------------------------

// A text that already says where something lies (one of the direction words)
// gives false. The degree-and-compass wording and an inertial receiver have
// no such words to look for. A keyword missing from the language library is
// skipped: the empty text is found in every text.
bool Utility::ContainsKeyword(std::u16string_view text) const {
  if (m_systemSettings->Record().headingMode == LeftRightDegreesCompass ||
      m_receiverSettings->Record().receiverType == GPSTypeInertial) {
    return false;
  }
  for (UINT id = kFirstKeyword; id <= kLastKeyword; ++id) {
    const std::u16string keyword = LoadResourceString(id);
    if (!keyword.empty() && text.find(keyword) != std::u16string_view::npos) return false;
  }
  return true;
}

}  // namespace vov
