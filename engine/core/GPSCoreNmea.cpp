// NMEA sentences into the fix: checksum, dispatch, the three sentences, fix
// quality and heading averaging.
//
// Every reader here works on a zero-terminated 8-bit sentence of any length
// and content and never looks past its terminator. The assembler hands over
// at most 256 bytes, but the external feed and the trace replay are outside
// input too.
#include "engine/core/GPSCoreNmea.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "engine/core/GPSCore.h"
#include "engine/core/GreatCircle.h"
#include "typelib/CartovelLib.h"
#include "platform/com/accessors.h"
#include "platform/com/variant_array.h"
#include "platform/os/debug.h"
#include "platform/os/format.h"
#include "platform/os/text.h"

namespace vov {

namespace {

bool EndsField(char c) { return c == ',' || c == '*' || c == '\0'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Moves the cursor past the next "," or, when there is none, onto the
// terminator.
void SkipPastComma(const char*& cursor) {
  while (*cursor != '\0' && *cursor != ',') ++cursor;
  if (*cursor == ',') ++cursor;
}

void SkipFields(const char*& cursor, int count) {
  for (int i = 0; i < count; ++i) SkipPastComma(cursor);
}

// Degrees of `degreeDigits` digits, minutes as a decimal, then the hemisphere
// letter; `negative` is the letter of the southern or western hemisphere.
double ParseCoordinate(const char*& cursor, int degreeDigits, char negative) {
  const int degrees = ParseNMEAIntField(cursor, degreeDigits, false);
  const double minutes = ParseNMEAFloatField(cursor);
  const bool south = *cursor == negative;
  SkipPastComma(cursor);
  const double value = degrees + minutes / 60.0;
  return south ? -value : value;
}

}  // namespace

int ParseNMEAIntField(const char*& cursor, int maxDigits, bool skipToComma) {
  int value = 0;
  bool inDigits = true;
  for (int read = 0; read < maxDigits; ++read) {
    const char c = *cursor;
    if (EndsField(c) || c == '.') break;
    if (!IsDigit(c)) inDigits = false;
    if (inDigits) value = value * 10 + (c - '0');
    ++cursor;
  }
  if (skipToComma) SkipPastComma(cursor);
  return value;
}

double ParseNMEAFloatField(const char*& cursor) {
  const char* start = cursor;
  while (!EndsField(*cursor)) ++cursor;
  const std::size_t length = static_cast<std::size_t>(cursor - start);
  if (*cursor != '\0') ++cursor;
  if (length == 0 || length > kMaxNmeaDecimalCharacters) return 0.0;

  // The leading number of the field: an optional sign, digits, an optional
  // point and digits. With at most 16 characters the value stays finite;
  // conversions to the fix's integer fields still saturate.
  std::size_t i = 0;
  bool negative = false;
  if (start[i] == '-' || start[i] == '+') {
    negative = start[i] == '-';
    ++i;
  }
  double value = 0.0;
  for (; i < length && IsDigit(start[i]); ++i) value = value * 10.0 + (start[i] - '0');
  if (i < length && start[i] == '.') {
    double scale = 0.1;
    for (++i; i < length && IsDigit(start[i]); ++i) {
      value += (start[i] - '0') * scale;
      scale /= 10.0;
    }
  }
  return negative ? -value : value;
}

double ParseNMEALatitude(const char*& cursor) { return ParseCoordinate(cursor, 2, 'S'); }
double ParseNMEALongitude(const char*& cursor) { return ParseCoordinate(cursor, 3, 'W'); }

}  // namespace vov

namespace {

using vov::ParseNMEAFloatField;
using vov::ParseNMEAIntField;
using vov::SkipFields;

// Metres to feet as the altitude is kept.
constexpr double kFeetPerMetreAltitude = 3.28;
// Feet per nautical mile of the walking-speed headings.
constexpr double kHeadingFeetPerNm = 6076.1;

// Receivers send the same sentences under the talker of their source: GPS
// ($GP), several satellite systems combined ($GN), GLONASS ($GL), Galileo
// ($GA), BeiDou ($GB, $BD), an integrated receiver that adds inertial
// sensors ($IN), and others still to come. Every talker of two capital
// letters is read alike, except "P": a maker's own sentence ($PGRMC, say) is
// no position sentence, whatever letters follow.
enum class Sentence { kOther, kRMC, kGGA, kGSA };

bool IsCapital(char c) { return c >= 'A' && c <= 'Z'; }

Sentence SentenceKind(const char* sentence) {
  if (sentence[0] != '$' || !IsCapital(sentence[1]) || sentence[1] == 'P') return Sentence::kOther;
  if (!IsCapital(sentence[2])) return Sentence::kOther;
  // strncmp stops at the terminator of a sentence shorter than six characters.
  if (std::strncmp(sentence + 3, "RMC", 3) == 0) return Sentence::kRMC;
  if (std::strncmp(sentence + 3, "GGA", 3) == 0) return Sentence::kGGA;
  if (std::strncmp(sentence + 3, "GSA", 3) == 0) return Sentence::kGSA;
  return Sentence::kOther;
}

// Knots beyond any vehicle a user travels in (twice an airliner's cruise).
constexpr double kMaxPossibleKnots = 1000.0;

bool IsPossiblePosition(double latitude, double longitude) {
  return std::fabs(latitude) <= 90.0 && std::fabs(longitude) <= 180.0;
}

// False when the sentence carries a value no place or receiver can have: a
// latitude beyond 90 degrees, a longitude beyond 180, a speed below zero or
// beyond any vehicle, a negative dilution of precision. A receiver that
// sends one is broken or the line was damaged in a way the checksum did not
// catch; either way none of its values is taken. Empty fields read as 0 and
// pass.
bool HasPossibleValues(Sentence kind, const char* sentence) {
  const char* cursor = sentence;
  switch (kind) {
    case Sentence::kRMC: {
      vov::SkipFields(cursor, 3);
      const double latitude = vov::ParseNMEALatitude(cursor);
      const double longitude = vov::ParseNMEALongitude(cursor);
      const double knots = vov::ParseNMEAFloatField(cursor);
      return IsPossiblePosition(latitude, longitude) && knots >= 0.0 && knots <= kMaxPossibleKnots;
    }
    case Sentence::kGGA: {
      vov::SkipFields(cursor, 2);
      const double latitude = vov::ParseNMEALatitude(cursor);
      const double longitude = vov::ParseNMEALongitude(cursor);
      vov::SkipFields(cursor, 2);
      const double hdop = vov::ParseNMEAFloatField(cursor);
      return IsPossiblePosition(latitude, longitude) && hdop >= 0.0;
    }
    case Sentence::kGSA: {
      vov::SkipFields(cursor, 15);
      const double pdop = vov::ParseNMEAFloatField(cursor);
      const double hdop = vov::ParseNMEAFloatField(cursor);
      const double vdop = vov::ParseNMEAFloatField(cursor);
      return pdop >= 0.0 && hdop >= 0.0 && vdop >= 0.0;
    }
    case Sentence::kOther:
      break;
  }
  return true;
}

// Writes a refused sentence to the debug output and the engine's log, cut at
// what the assembler would ever hand over.
void LogRefused(GPSCore& core, const char16_t* what, const char* sentence) {
  const std::size_t length = strnlen(sentence, GPSCore::kSentenceCapacity);
  const std::u16string text =
      platform::FormatW(what, {platform::Cp1252ToUtf16(std::string_view(sentence, length))});
  OutputDebugStringW(text.c_str());
  core.Log(text);
}

// Any character that is not a hexadecimal digit counts as 0.
int HexDigit(char c) { return std::max(0, platform::HexDigit(c)); }

// True when the sentence carries "*hh" at its end (only CR or LF may follow)
// and hh matches the XOR of every byte between the first character and "*".
bool ChecksumMatches(const char* sentence) {
  const char* star = std::strchr(sentence, '*');
  if (star == nullptr || star[1] == '\0' || star[2] == '\0') return false;
  for (const char* rest = star + 3; *rest != '\0'; ++rest) {
    if (*rest != '\r' && *rest != '\n') return false;
  }
  const int expected = HexDigit(star[1]) * 16 + HexDigit(star[2]);
  unsigned char sum = 0;
  for (const char* c = sentence + 1; c < star; ++c) sum ^= static_cast<unsigned char>(*c);
  return sum == expected;
}

// Truncation into the fix's integer fields, saturating rather than
// overflowing on a value no receiver sends.
template <class Int>
Int Saturate(double value) {
  if (std::isnan(value)) return 0;
  if (value >= static_cast<double>(std::numeric_limits<Int>::max())) return std::numeric_limits<Int>::max();
  if (value <= static_cast<double>(std::numeric_limits<Int>::min())) return std::numeric_limits<Int>::min();
  return static_cast<Int>(value);
}

// A course over ground in whole degrees 0-359; a receiver's 360.0 is north.
SHORT WholeCourse(double course) {
  double degrees = std::fmod(course, 360.0);
  if (degrees < 0.0) degrees += 360.0;
  return static_cast<SHORT>(std::clamp(static_cast<int>(degrees), 0, 359));
}

double EstimatedAccuracyOf(const vov::GPSFix& fix) { return fix.hdop * 2.0 * (fix.ggaQuality == 2 ? 2.0 : 3.3); }

// Great-circle distance in whole feet and bearing in whole degrees between
// two positions in radians.
LONG FeetBetween(double lat1, double lon1, double lat2, double lon2) {
  return Saturate<LONG>(vov::GreatCircleDistanceNm(lat1, lon1, lat2, lon2) * kHeadingFeetPerNm);
}
int BearingBetween(double lat1, double lon1, double lat2, double lon2) {
  const double nmi = vov::GreatCircleDistanceNm(lat1, lon1, lat2, lon2);
  return vov::WholeDegreeBearing(vov::InitialCourse(lat1, lon1, lat2, lon2, nmi * vov::kRadiansPerNm));
}

}  // namespace

BOOL GPSCore::DispatchNMEASentence(const char* sentence, CGPSObject* gps) {
  if (sentence == nullptr) return FALSE;
  if (!ChecksumMatches(sentence)) {
    LogRefused(*this, u"\nCSUM ERROR:%s\n", sentence);
    return FALSE;
  }
  const Sentence kind = SentenceKind(sentence);
  if (!HasPossibleValues(kind, sentence)) {
    LogRefused(*this, u"\nBAD VALUE:%s\n", sentence);
    return FALSE;
  }
  m_nSilenceCounter = kSilencePolls;
  switch (kind) {
    case Sentence::kRMC:
      // Counted down after the sentence is read, so that each of the first
      // sentences is itself read with the countdown running.
      HandleGPRMC(sentence, gps);
      if (m_nFirstRmcCountdown > 0) --m_nFirstRmcCountdown;
      return TRUE;
    case Sentence::kGGA:
      HandleGPGGA(sentence, gps);
      return FALSE;
    case Sentence::kGSA:
      HandleGPGSA(sentence, gps);
      return FALSE;
    case Sentence::kOther:
      return FALSE;
  }
  return FALSE;
}

void GPSCore::HandleGPRMC(const char* sentence, CGPSObject* gps) {
  if (sentence == nullptr || gps == nullptr) return;
  const char* cursor = sentence;
  vov::SkipPastComma(cursor);
  const SHORT hour = static_cast<SHORT>(ParseNMEAIntField(cursor, 2, false));
  const SHORT minute = static_cast<SHORT>(ParseNMEAIntField(cursor, 2, false));
  const SHORT second = static_cast<SHORT>(ParseNMEAIntField(cursor, 2, false));
  vov::SkipPastComma(cursor);

  // A sentence that says "void", says nothing, or ends before it gives a
  // position is no fix: taking its empty fields as a position would put the
  // user at 0 N 0 E.
  const char status = *cursor;
  bool fix = status != 'V' && !vov::EndsField(status);
  double latitude = 0.0, longitude = 0.0, knots = 0.0, course = 0.0;
  SHORT day = 0, month = 0, year = 0;
  if (fix) {
    vov::SkipPastComma(cursor);
    fix = !vov::EndsField(*cursor);
    latitude = vov::ParseNMEALatitude(cursor);
    fix = fix && !vov::EndsField(*cursor);
    longitude = vov::ParseNMEALongitude(cursor);
    knots = ParseNMEAFloatField(cursor);
    course = ParseNMEAFloatField(cursor);
    day = static_cast<SHORT>(ParseNMEAIntField(cursor, 2, false));
    month = static_cast<SHORT>(ParseNMEAIntField(cursor, 2, false));
    year = static_cast<SHORT>(ParseNMEAIntField(cursor, 2, false));
  }

  {
    std::lock_guard<std::recursive_mutex> hold(gps->Lock());
    vov::GPSFix& f = gps->Fix();
    gps->MarkChanged();
    // A position read while the countdown runs stays untrusted until the
    // next RMC replaces it, also for the GGA and GSA that follow it.
    m_bUntrustedPosition = m_nFirstRmcCountdown > 0;
    if (!fix) {
      f.speed = -1.0;
      f.hasFix = 0;
      UpdateFixQuality(gps);
      return;
    }
    f.hasFix = 1;
    f.year = static_cast<SHORT>(year + 2000);
    f.month = month;
    f.day = day;
    f.hour = hour;
    f.minute = minute;
    f.second = second;
    gps->Location()->SetLatitude(latitude);
    gps->Location()->SetLongitude(longitude);
    f.speed = knots * GPSCore::kMphPerKnot;
    UpdateFixQuality(gps);
  }
  // Outside the lock: the heading may ask the map engine, and takes the lock
  // only around its own reads and writes. A reader in between sees the new
  // position with the heading of the sentence before.
  UpdateHeadingFromFixes(WholeCourse(course), latitude, longitude, knots, gps);
}

void GPSCore::HandleGPGGA(const char* sentence, CGPSObject* gps) {
  if (sentence == nullptr || gps == nullptr) return;
  const char* cursor = sentence;
  SkipFields(cursor, 6);
  const LONG quality = ParseNMEAIntField(cursor, 1, true);
  const SHORT satellites = static_cast<SHORT>(ParseNMEAIntField(cursor, 2, true));
  const double hdop = ParseNMEAFloatField(cursor);
  const double metres = ParseNMEAFloatField(cursor);

  std::lock_guard<std::recursive_mutex> hold(gps->Lock());
  vov::GPSFix& f = gps->Fix();
  gps->MarkChanged();
  f.ggaQuality = quality;
  f.satellites = satellites;
  f.hdop = hdop;
  f.altitude = Saturate<LONG>(std::max(metres, 0.0) * kFeetPerMetreAltitude);
  UpdateFixQuality(gps);
}

void GPSCore::HandleGPGSA(const char* sentence, CGPSObject* gps) {
  if (sentence == nullptr || gps == nullptr) return;
  const char* cursor = sentence;
  SkipFields(cursor, 2);
  const LONG mode = ParseNMEAIntField(cursor, 1, true);
  SkipFields(cursor, 12);
  const double pdop = ParseNMEAFloatField(cursor);
  const double hdop = ParseNMEAFloatField(cursor);
  const double vdop = ParseNMEAFloatField(cursor);

  std::lock_guard<std::recursive_mutex> hold(gps->Lock());
  vov::GPSFix& f = gps->Fix();
  gps->MarkChanged();
  f.gsaMode = mode;
  f.hdop = hdop;
  f.vdop = vdop;
  f.pdop = pdop;
}

void GPSCore::UpdateFixQuality(CGPSObject* gps) {
  vov::SetManualFix(false);
  if (gps == nullptr) return;
  std::lock_guard<std::recursive_mutex> hold(gps->Lock());
  vov::GPSFix& f = gps->Fix();
  gps->MarkChanged();
  if (m_nSilenceCounter <= 0) {
    f.fixQuality = GPSQualityNoGPS;
    return;
  }
  // The first sentences after a source opens may still carry the receiver's
  // last position from before it lost its fix; that position stays unusable
  // whatever sentence of its second comes after it.
  if ((m_nFirstRmcCountdown > 0 || m_bUntrustedPosition) && !m_bTestMode) {
    f.fixQuality = GPSQualityNoGPS;
    return;
  }
  if (f.hasFix == 0) {
    f.fixQuality = GPSQualityNoFix;
    return;
  }
  const double accuracy = EstimatedAccuracyOf(f);
  f.estimatedAccuracy = accuracy;
  if (f.ggaQuality == 7) {
    f.fixQuality = GPSQualityInertial;
    if (f.satellites == 0 || f.satellites > 10) {
      f.satellites = 0;
      vov::SetManualFix(true);
    }
    return;
  }
  if (accuracy <= 5.0) {
    f.fixQuality = GPSQualityEnhanced;
  } else if (accuracy <= 10.0) {
    f.fixQuality = GPSQualityGood;
  } else if (accuracy <= 20.0) {
    f.fixQuality = GPSQualityFair;
  } else {
    f.fixQuality = GPSQualityPoor;
  }
}

double GPSCore::GetEstimatedAccuracy() {
  if (m_pGPS == nullptr) return -1.0;
  std::lock_guard<std::recursive_mutex> hold(m_pGPS->Lock());
  return EstimatedAccuracyOf(m_pGPS->Fix());
}

void GPSCore::AverageHeadings(SHORT heading, CGPSObject* gps) {
  std::copy_backward(m_headingHistory.begin(), m_headingHistory.end() - 1, m_headingHistory.end());
  m_headingHistory[0] = heading;
  if (std::find(m_headingHistory.begin(), m_headingHistory.end(), SHORT{-1}) != m_headingHistory.end()) return;

  // Samples either side of north: those just east of it count as above 360,
  // so 355 and 5 average to 0 and not to 180.
  std::array<int, 5> samples{};
  std::copy(m_headingHistory.begin(), m_headingHistory.end(), samples.begin());
  for (std::size_t i = 0; i < samples.size(); ++i) {
    if (samples[i] >= 90) continue;
    for (std::size_t j = 0; j < samples.size(); ++j) {
      if (j != i && samples[j] >= 271) {
        samples[i] += 360;
        break;
      }
    }
  }
  int sum = 0;
  for (int sample : samples) sum += sample;
  if (gps == nullptr) return;
  std::lock_guard<std::recursive_mutex> hold(gps->Lock());
  gps->Fix().heading = static_cast<SHORT>((sum / 5) % 360);
  gps->MarkChanged();
}

void GPSCore::UpdateHeadingFromFixes(SHORT course, double latitude, double longitude, double speedKnots,
                                     CGPSObject* gps) {
  if (gps == nullptr) return;
  // This receiver reports north whenever it stands still; only its courses
  // while moving are taken.
  if (m_eReceiverType == GPSTypeNorthernHeadingsWhenStopped) {
    if (course != 0 && speedKnots >= 2.0) AverageHeadings(course, gps);
    return;
  }
  {
    std::lock_guard<std::recursive_mutex> hold(gps->Lock());
    vov::GPSFix& f = gps->Fix();
    f.instantaneousHeading = course;
    gps->MarkChanged();
    if (f.fixQuality == GPSQualityInertial) {
      f.heading = course;
      return;
    }
    // Standing still the receiver's course wanders: the heading holds.
    if (speedKnots <= m_dMinSpeedForHeadingAveraging) return;
    if (m_eHeadingAveragingMode == InstantaneousHeadings) {
      f.heading = course;
      return;
    }
  }
  const SHORT pedestrianSeconds = std::clamp<SHORT>(m_nPedestrianAveragingSeconds, 1, 300);
  if (speedKnots > 5.0 || (m_eHeadingAveragingMode == ManualHeadings && pedestrianSeconds == 1)) {
    m_nSampleCounter = 0;
    AverageHeadings(course, gps);
    return;
  }

  // At walking speed the course over ground is noise; the heading comes from
  // positions N seconds apart instead.
  const bool bigCity = m_eHeadingAveragingMode == BigCityHeadings;
  SHORT n = 5;
  if (m_eHeadingAveragingMode == ManualHeadings) {
    n = pedestrianSeconds;
  } else if (bigCity || speedKnots >= 3.0) {
    n = 2;
  }
  const double lat = latitude * vov::kRadiansPerDegree;
  const double lon = longitude * vov::kRadiansPerDegree;
  ++m_nSampleCounter;
  if (m_nSampleCounter == 1) {
    m_dP1Latitude = lat;
    m_dP1Longitude = lon;
    if (bigCity) m_previousStreet = GetStreetNameAt(latitude, longitude, -1);
  } else if (m_nSampleCounter == n) {
    m_dP2Latitude = lat;
    m_dP2Longitude = lon;
    if (bigCity) {
      m_currentStreet = GetStreetNameAt(latitude, longitude, -1);
      if (m_currentStreet != m_previousStreet) m_previousStreet.clear();
    }
  } else if (m_nSampleCounter >= 2 * n) {
    const LONG d12 = FeetBetween(m_dP1Latitude, m_dP1Longitude, m_dP2Latitude, m_dP2Longitude);
    const LONG d23 = FeetBetween(m_dP2Latitude, m_dP2Longitude, lat, lon);
    const LONG shortest = n == 2 ? 2 : n - 1;
    const LONG longest = 10 * n;
    if (d12 > shortest && d12 < longest && d23 < longest) {
      const int b12 = BearingBetween(m_dP1Latitude, m_dP1Longitude, m_dP2Latitude, m_dP2Longitude);
      const int b23 = BearingBetween(m_dP2Latitude, m_dP2Longitude, lat, lon);
      if (vov::IsAngleWithinTolerance(b12, b23, 25)) {
        AverageHeadings(static_cast<SHORT>(b12), gps);
        AverageHeadings(static_cast<SHORT>(b23), gps);
      } else {
        const SHORT b13 = static_cast<SHORT>(BearingBetween(m_dP1Latitude, m_dP1Longitude, lat, lon));
        AverageHeadings(b13, gps);
        AverageHeadings(b13, gps);
      }
    }
    m_dP1Latitude = m_dP2Latitude;
    m_dP1Longitude = m_dP2Longitude;
    m_dP2Latitude = lat;
    m_dP2Longitude = lon;
    m_nSampleCounter = n;
    if (bigCity) ++m_nBigCityCounter;
  }

  if (!bigCity || m_nBigCityCounter < 4) return;
  m_nBigCityCounter = 0;
  SnapHeadingToStreet(course, latitude, longitude, gps);
}

void GPSCore::SnapHeadingToStreet(SHORT course, double latitude, double longitude, CGPSObject* gps) {
  // The map engine is asked without the fix's lock: a street search can take
  // long, and every reader of the fix (the user program among them) would
  // wait for it. The heading it is asked with is copied under the lock with
  // the fix's revision; the answer is written only if no newer fix came in
  // the meantime, since it belongs to the fix it was asked for.
  SHORT heading = -1;
  std::uint64_t revision = 0;
  {
    std::lock_guard<std::recursive_mutex> hold(gps->Lock());
    heading = gps->Fix().heading;
    revision = gps->Revision();
  }
  const std::u16string name = GetStreetNameAt(latitude, longitude, heading);
  if (name.empty() || name != m_previousStreet) {
    m_previousStreet = m_currentStreet;
    m_currentStreet = name;
    return;
  }
  SHORT orientation = -1;
  if (m_pCartovel != nullptr) {
    static_cast<void>(m_pCartovel->GetStreetOrientation(latitude, longitude, heading, &orientation));
  }
  // An unknown orientation would fill the history with "no heading".
  if (orientation < 0 || orientation >= 360) return;
  if (course != -1 && !vov::IsAngleWithinTolerance(course, orientation, 90)) {
    orientation = static_cast<SHORT>((orientation + 180) % 360);
  }
  // One hold for the five samples: a reader sees the heading before the snap
  // or after it, never half-way.
  std::lock_guard<std::recursive_mutex> hold(gps->Lock());
  if (gps->Revision() != revision) return;
  for (int i = 0; i < 5; ++i) AverageHeadings(orientation, gps);
}

std::u16string GPSCore::GetStreetNameAt(double latitude, double longitude, SHORT heading) {
  if (m_pCartovel == nullptr) return {};
  // Passed by reference: the map engine may replace the text, and whatever
  // it leaves there is freed here.
  BSTR requestText = SysAllocString(u"STREET NAME RAW");
  if (requestText == nullptr) return {};
  VARIANT answer;
  VariantInit(&answer);
  std::u16string name;
  const HRESULT hr = m_pCartovel->GetLocationDetails(latitude, longitude, heading, &requestText, &answer);
  com::VariantArrayView list;
  ILocationDetails* details = nullptr;
  if (SUCCEEDED(hr) && SUCCEEDED(list.Open(&answer)) && list.size() > 0 &&
      SUCCEEDED(list.ObjectAt(0, &details))) {
    BSTR street = nullptr;
    if (SUCCEEDED(details->GetStreetName(&street))) name.assign(com::BstrView(street));
    SysFreeString(street);
    details->Release();
  }
  VariantClear(&answer);
  SysFreeString(requestText);
  return name;
}
