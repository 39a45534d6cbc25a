// The sentence parser: checksums and what a refused sentence leaves alone,
// the talkers read alike, the three sentences into the fix, the fix quality
// with its start-up countdown, and the headings averaged from the receiver's
// course or from positions at walking speed. Positions are checked against
// degrees + minutes / 60 worked out here, and checksums are computed here.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/core/EngineUtilities.h"
#include "engine/core/GPSCore.h"
#include "engine/core/GPSCoreNmea.h"
#include "engine/core/GPSObject.h"
#include "engine/core/LocationObject.h"
#include "engine/core/Utility.h"
#include "platform/os/debug.h"
#include "platform/os/text.h"
#include "tests/engine/core/engine_objects.h"
#include "tests/engine/core/fake_map.h"

namespace {

// "$" + body + "*hh" + CR, as the assembler hands a sentence over.
std::string Sentence(const std::string& body, const char* end = "\r") {
  unsigned sum = 0;
  for (char c : body) sum ^= static_cast<unsigned char>(c);
  char digits[3];
  std::snprintf(digits, sizeof digits, "%02X", sum);
  return "$" + body + "*" + digits + end;
}

// Real sentences of the walk replay (their own checksums), with the CR a
// receiver sends.
const std::string kWalkRmc = "$GPRMC,120004.000,A,5333.423,N,01315.669,E,2.49,359.51,100216,,*08\r";
const std::string kWalkGga = "$GPGGA,120004.000,5333.423,N,01315.669,E,1,08,0.0,0.000,M,0.0,M,,*6F\r";
// A receiver standing still, recorded (west of Greenwich).
const std::string kStillGga = "$GPGGA,050509.200,4659.2842,N,00124.0315,W,1,16,0.7,38.9,M,49.0,M,,0000*78";
const std::string kStillGsa = "$GPGSA,A,3,01,03,08,11,10,14,22,27,32,28,18,,1.2,0.7,0.9*36";

class Nmea : public ::testing::Test {
 protected:
  void SetUp() override {
    vov::Utility::Release();
    vov::SetManualFix(false);
    core_.m_pGPS = Make<CGPSObject>();
    // Heard from, and past the start-up countdown, unless a test says otherwise.
    core_.m_nSilenceCounter = GPSCore::kSilencePolls;
    core_.m_nFirstRmcCountdown = 0;
  }
  void TearDown() override {
    platform::SetDebugOutputSink({});
    vov::SetManualFix(false);
    vov::Utility::Release();
  }

  BOOL Dispatch(const std::string& sentence) { return core_.DispatchNMEASentence(sentence.c_str(), Gps()); }
  CGPSObject* Gps() { return core_.m_pGPS.get(); }
  vov::GPSFix Fix() {
    std::lock_guard<std::recursive_mutex> hold(Gps()->Lock());
    return Gps()->Fix();
  }
  double Latitude() {
    double value = 0;
    EXPECT_EQ(Gps()->GetLatitude(&value), S_OK);
    return value;
  }
  double Longitude() {
    double value = 0;
    EXPECT_EQ(Gps()->GetLongitude(&value), S_OK);
    return value;
  }

  GPSCore core_;
};

// ---- checksums ----------------------------------------------------------------------------

TEST_F(Nmea, ChecksumDecidesWhetherASentenceCounts) {
  // $GPTXT (ignored, but a good checksum still tells the receiver is there):
  // the XOR of "GPTXT,01,01,01,A" is 0x0F.
  struct Row {
    const char* what;
    std::string sentence;
    bool good;
  };
  const std::string big(10000, 'A');
  const Row rows[] = {
      {"upper-case digits", "$GPTXT,01,01,01,A*0F\r", true},
      {"lower-case digits", "$GPTXT,01,01,01,A*0f\r", true},
      {"no CR (a trace written with bare line ends)", "$GPTXT,01,01,01,A*0F", true},
      {"CR LF", "$GPTXT,01,01,01,A*0F\r\n", true},
      {"a digit that is not hexadecimal counts as 0", "$GPTXT,01,01,01,A*ZF\r", true},
      {"wrong sum", "$GPTXT,01,01,01,A*1F\r", false},
      {"a non-hexadecimal digit where the sum needs one", "$GPTXT,01,01,01,A*0Z\r", false},
      {"no checksum", "$GPTXT,01,01,01,A\r", false},
      {"one digit only", "$GPTXT,01,01,01,A*F\r", false},
      {"star at the very end", "$GPTXT,01,01,01,A*", false},
      {"text after the checksum", "$GPTXT,01,01,01,A*0FXY\r", false},
      {"empty", "", false},
      {"shorter than six characters", "$GP*", false},
      {"a lone star", "*", false},
      {"10,000 bytes without a star", "$GPRMC," + big, false},
      {"10,000 bytes with a wrong sum", "$GPRMC," + big + "*00\r", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    core_.m_nSilenceCounter = 0;
    EXPECT_EQ(Dispatch(row.sentence), FALSE);
    EXPECT_EQ(core_.m_nSilenceCounter, row.good ? GPSCore::kSilencePolls : 0);
  }
}

TEST_F(Nmea, RefusedSentenceIsLoggedCutAndChangesNothing) {
  std::vector<std::u16string> output;
  platform::SetDebugOutputSink([&](const std::u16string& line) { output.push_back(line); });
  ASSERT_EQ(Dispatch(kWalkRmc), TRUE);
  const vov::GPSFix before = Fix();
  const double latitude = Latitude();

  std::string damaged = kWalkRmc;
  damaged.replace(damaged.find("5333.423"), 8, "5334.423");  // one digit off: the sum no longer fits
  output.clear();
  EXPECT_EQ(Dispatch(damaged), FALSE);
  ASSERT_EQ(output.size(), 1u);
  EXPECT_EQ(platform::Utf16ToUtf8(output[0]), "\nCSUM ERROR:" + damaged + "\n");
  EXPECT_EQ(Latitude(), latitude);
  EXPECT_EQ(Fix().second, before.second);

  // A long line is cut in the log at what the assembler would ever hand over.
  output.clear();
  EXPECT_EQ(Dispatch("$GPRMC," + std::string(10000, '7') + "*00"), FALSE);
  ASSERT_EQ(output.size(), 1u);
  EXPECT_EQ(output[0].size(), std::u16string(u"\nCSUM ERROR:\n").size() + GPSCore::kSentenceCapacity);
}

TEST_F(Nmea, GarbageNeverReadsPastTheSentence) {
  // Random bytes (every value but the terminator), short and long, with and
  // without a checksum that fits; the sanitizers watch the reads.
  std::mt19937 random(20733);
  std::uniform_int_distribution<int> byte(1, 255);
  std::uniform_int_distribution<int> length(0, 300);
  const char* prefixes[] = {"", "$GPRMC,", "$GNGGA,", "$GPGSA,", "$GPRMC,120000,A,"};
  for (int i = 0; i < 3000; ++i) {
    std::string body = prefixes[i % 5];
    const int n = i == 0 ? 10000 : length(random);
    for (int k = 0; k < n; ++k) body.push_back(static_cast<char>(byte(random)));
    core_.DispatchNMEASentence(body.c_str(), Gps());
    if (body.size() > 1 && body[0] == '$') {
      const std::string signedBody = Sentence(body.substr(1));
      if (signedBody.find('*') == body.size()) {  // no star inside the garbage
        const BOOL rmc = core_.DispatchNMEASentence(signedBody.c_str(), Gps());
        EXPECT_EQ(rmc, body.rfind("$GPRMC", 0) == 0 ? TRUE : FALSE);
      }
    }
    const vov::GPSFix fix = Fix();
    ASSERT_GE(fix.heading, -1);
    ASSERT_LE(fix.heading, 359);
    ASSERT_GE(fix.instantaneousHeading, -1);
    ASSERT_LE(fix.instantaneousHeading, 359);
  }
}

// ---- the sentences ----------------------------------------------------------------------

TEST_F(Nmea, GoodRmcFillsTheFix) {
  struct Row {
    const char* what;
    std::string sentence;
    double latitude, longitude, knots;
    SHORT course;
    SHORT year, month, day, hour, minute, second;
  };
  const Row rows[] = {
      {"the walk, north and east", kWalkRmc, 53 + 33.423 / 60, 13 + 15.669 / 60, 2.49, 359, 2016, 2, 10, 12, 0, 4},
      {"recorded west of Greenwich",
       "$GPRMC,050509.200,A,4659.2842,N,00124.0315,W,000.0,000.0,250116,,,A*74", 46 + 59.2842 / 60,
       -(1 + 24.0315 / 60), 0.0, 0, 2016, 1, 25, 5, 5, 9},
      {"south and west, fast", Sentence("GPRMC,235959,A,3351.000,S,07037.500,W,12.5,181.9,311299,,"),
       -(33 + 51.0 / 60), -(70 + 37.5 / 60), 12.5, 181, 2099, 12, 31, 23, 59, 59},
      {"a course of 360.0 is north", Sentence("GPRMC,010203,A,0100.000,N,00100.000,E,1.0,360.0,010100,,"),
       1.0, 1.0, 1.0, 0, 2000, 1, 1, 1, 2, 3},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(Dispatch(row.sentence), TRUE);
    const vov::GPSFix fix = Fix();
    EXPECT_EQ(fix.hasFix, 1);
    EXPECT_NEAR(Latitude(), row.latitude, 1e-9);
    EXPECT_NEAR(Longitude(), row.longitude, 1e-9);
    EXPECT_DOUBLE_EQ(fix.speed, row.knots * 1.15077945);
    EXPECT_EQ(fix.instantaneousHeading, row.course);
    EXPECT_EQ(fix.year, row.year);
    EXPECT_EQ(fix.month, row.month);
    EXPECT_EQ(fix.day, row.day);
    EXPECT_EQ(fix.hour, row.hour);
    EXPECT_EQ(fix.minute, row.minute);
    EXPECT_EQ(fix.second, row.second);
  }
}

TEST_F(Nmea, RmcWithoutAFixClearsOnlyFixAndSpeed) {
  ASSERT_EQ(Dispatch(kWalkRmc), TRUE);
  ASSERT_EQ(Dispatch(kWalkGga), FALSE);
  const double latitude = Latitude();
  const vov::GPSFix before = Fix();
  ASSERT_EQ(before.fixQuality, GPSQualityEnhanced);  // HDOP 0.0 in the replay
  struct Row {
    const char* what;
    std::string sentence;
  };
  const Row rows[] = {
      {"status V", Sentence("GPRMC,120100.000,V,5340.000,N,01320.000,E,0.0,0.0,100216,,")},
      {"status V, empty fields", Sentence("GPRMC,,V,,,,,,,,,,N")},
      {"empty status", Sentence("GPRMC,120100.000,,5340.000,N,01320.000,E,0.0,0.0,100216,,")},
      {"ends before the status", Sentence("GPRMC,120100.000")},
      {"ends before the position", Sentence("GPRMC,120100.000,A")},
      {"ends inside the latitude", Sentence("GPRMC,120100.000,A,5340.0")},
      {"empty position", Sentence("GPRMC,120100.000,A,,,,,0.0,0.0,100216,,")},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(Dispatch(row.sentence), TRUE);
    const vov::GPSFix fix = Fix();
    EXPECT_EQ(fix.hasFix, 0);
    EXPECT_EQ(fix.speed, -1.0);
    EXPECT_EQ(fix.fixQuality, GPSQualityNoFix);
    EXPECT_EQ(Latitude(), latitude);
    EXPECT_EQ(fix.heading, before.heading);
    EXPECT_EQ(fix.hour, before.hour);
    EXPECT_EQ(fix.minute, before.minute);
    EXPECT_EQ(fix.satellites, before.satellites);
    ASSERT_EQ(Dispatch(kWalkRmc), TRUE);  // back to a fix for the next row
  }
}

TEST_F(Nmea, GgaAndGsaFillTheirFields) {
  EXPECT_EQ(Dispatch(kStillGga), FALSE);
  vov::GPSFix fix = Fix();
  EXPECT_EQ(fix.ggaQuality, 1);
  EXPECT_EQ(fix.satellites, 16);
  EXPECT_DOUBLE_EQ(fix.hdop, 0.7);
  EXPECT_EQ(fix.altitude, static_cast<LONG>(38.9 * 3.28));

  EXPECT_EQ(Dispatch(kStillGsa), FALSE);
  fix = Fix();
  EXPECT_EQ(fix.gsaMode, 3);
  EXPECT_DOUBLE_EQ(fix.pdop, 1.2);
  EXPECT_DOUBLE_EQ(fix.hdop, 0.7);
  EXPECT_DOUBLE_EQ(fix.vdop, 0.9);
}

TEST_F(Nmea, AltitudeInFeet) {
  struct Row {
    const char* metres;
    LONG feet;
  };
  const Row rows[] = {
      {"-12.0", 0}, {"100.0", 328}, {"0.0", 0}, {"", 0}, {"38.9", 127}, {"8848.86", 29024},
      // A field of more digits than any receiver sends is refused, not read
      // on into an overflow.
      {"99999999999999999999", 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.metres);
    Dispatch(Sentence(std::string("GPGGA,120000,5333.420,N,01315.669,E,1,08,1.0,") + row.metres + ",M,0.0,M,,"));
    EXPECT_EQ(Fix().altitude, row.feet);
  }
}

TEST_F(Nmea, ShortSentencesReadMissingFieldsAsZero) {
  ASSERT_EQ(Dispatch(kStillGga), FALSE);
  ASSERT_EQ(Dispatch(kStillGsa), FALSE);
  EXPECT_EQ(Dispatch(Sentence("GPGGA,120000,5333.420,N,01315.669,E,2")), FALSE);
  vov::GPSFix fix = Fix();
  EXPECT_EQ(fix.ggaQuality, 2);
  EXPECT_EQ(fix.satellites, 0);
  EXPECT_EQ(fix.hdop, 0.0);
  EXPECT_EQ(fix.altitude, 0);
  EXPECT_EQ(Dispatch(Sentence("GPGSA,A")), FALSE);
  fix = Fix();
  EXPECT_EQ(fix.gsaMode, 0);
  EXPECT_EQ(fix.vdop, 0.0);
  // More digits than a field holds: the satellites field is cut at two.
  EXPECT_EQ(Dispatch(Sentence("GPGGA,120000,5333.420,N,01315.669,E,1,123,1.0,5.0,M,0.0,M,,")), FALSE);
  EXPECT_EQ(Fix().satellites, 12);
  EXPECT_DOUBLE_EQ(Fix().hdop, 1.0);
}

TEST_F(Nmea, EveryTalkerIsReadLikeGps) {
  // The satellite systems' talkers, BeiDou's older one, an integrated
  // (inertial) receiver's and one no receiver uses yet.
  for (const char* talker : {"GP", "GN", "GL", "GA", "GB", "BD", "GQ", "IN", "GX"}) {
    SCOPED_TRACE(talker);
    Gps()->ResetFix();
    core_.m_nFirstRmcCountdown = 1;
    const double minutes = 10.5 + (talker[1] - 'A') + (talker[0] - 'A') / 100.0;
    char rmc[128];
    std::snprintf(rmc, sizeof rmc, "%sRMC,101010,A,52%07.4f,N,01300.000,E,0.3,45.0,020324,,", talker, minutes);
    EXPECT_EQ(Dispatch(Sentence(rmc)), TRUE);
    EXPECT_EQ(core_.m_nFirstRmcCountdown, 0);
    EXPECT_NEAR(Latitude(), 52 + minutes / 60, 1e-9);
    EXPECT_EQ(Dispatch(Sentence(std::string(talker) + "GGA,101010,5210.5,N,01300.0,E,2,11,0.9,12.0,M,,,,")),
              FALSE);
    EXPECT_EQ(Fix().satellites, 11);
    EXPECT_EQ(Fix().ggaQuality, 2);
    EXPECT_EQ(Dispatch(Sentence(std::string(talker) + "GSA,A,2,,,,,,,,,,,,,3.1,2.1,1.1")), FALSE);
    EXPECT_EQ(Fix().gsaMode, 2);
    EXPECT_DOUBLE_EQ(Fix().vdop, 1.1);
  }
  // Other sentences, and a maker's own sentence whose name happens to end
  // in "RMC" ($PGRMC sets a receiver up), only tell that the receiver is
  // there.
  Gps()->ResetFix();
  for (const char* body : {"PGRMC,A,218.8,100,6378137.000,298.257223563,0.0,0.0,0.0,A,3,,,,",
                           "GPVTG,000.0,T,,M,000.0,N,000.0,K,A", "GPRMB,A,0.66,L,003,004,4917.24,N,12309.57,W,,,,,,"}) {
    SCOPED_TRACE(body);
    core_.m_nSilenceCounter = 0;
    EXPECT_EQ(Dispatch(Sentence(body)), FALSE);
    EXPECT_EQ(core_.m_nSilenceCounter, GPSCore::kSilencePolls);
    EXPECT_EQ(Fix().hasFix, 0);
  }
}

// ---- fix quality --------------------------------------------------------------------------

TEST_F(Nmea, QualityFollowsTheEstimatedAccuracy) {
  struct Row {
    int ggaQuality;
    const char* hdop;
    double metres;
    GPSQuality quality;
  };
  const Row rows[] = {
      {1, "1.2", 7.92, GPSQualityGood},  {2, "1.2", 4.8, GPSQualityEnhanced}, {1, "0.75", 4.95, GPSQualityEnhanced},
      {1, "0.76", 5.016, GPSQualityGood}, {1, "1.5", 9.9, GPSQualityGood},     {1, "1.6", 10.56, GPSQualityFair},
      {1, "3.0", 19.8, GPSQualityFair},  {1, "3.1", 20.46, GPSQualityPoor},    {2, "5.0", 20.0, GPSQualityFair},
      {0, "50.0", 330.0, GPSQualityPoor},
  };
  ASSERT_EQ(Dispatch(kWalkRmc), TRUE);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.hdop);
    char body[128];
    std::snprintf(body, sizeof body, "GPGGA,120000,5333.420,N,01315.669,E,%d,08,%s,10.0,M,0.0,M,,", row.ggaQuality,
                  row.hdop);
    Dispatch(Sentence(body));
    const vov::GPSFix fix = Fix();
    EXPECT_NEAR(fix.estimatedAccuracy, row.metres, 1e-9);
    EXPECT_EQ(fix.fixQuality, row.quality);
    EXPECT_NEAR(core_.GetEstimatedAccuracy(), row.metres, 1e-9);
  }
}

TEST_F(Nmea, FirstTwoRmcAfterStartAreNotTrusted) {
  for (bool testMode : {false, true}) {
    SCOPED_TRACE(testMode ? "test mode" : "receiver");
    Gps()->ResetFix();
    core_.m_bTestMode = testMode;
    core_.m_nFirstRmcCountdown = 2;
    core_.m_nSilenceCounter = 0;
    // In test mode the fix counts from the first sentence on.
    EXPECT_EQ(Dispatch(kWalkRmc), TRUE);
    EXPECT_EQ(Fix().fixQuality == GPSQualityNoGPS, !testMode);
    EXPECT_EQ(Dispatch(kWalkGga), FALSE);
    EXPECT_EQ(Fix().fixQuality, testMode ? GPSQualityEnhanced : GPSQualityNoGPS);
    EXPECT_EQ(Dispatch(kWalkRmc), TRUE);
    EXPECT_EQ(Fix().fixQuality, testMode ? GPSQualityEnhanced : GPSQualityNoGPS);
    EXPECT_EQ(core_.m_nFirstRmcCountdown, 0);
    EXPECT_EQ(Dispatch(kWalkRmc), TRUE);
    EXPECT_EQ(Fix().fixQuality, GPSQualityEnhanced);
  }
  // A silent receiver has no quality at all, whatever its fix said.
  core_.m_nSilenceCounter = 0;
  core_.UpdateFixQuality(Gps());
  EXPECT_EQ(Fix().fixQuality, GPSQualityNoGPS);
}

TEST_F(Nmea, NeitherUntrustedPositionBecomesAFixWhateverFollows) {
  // A receiver sends RMC, then GGA and GSA for the same second: the GGA
  // after the second untrusted RMC must not make that position usable. The
  // real sentences of the walk, with followers of other talkers too.
  const std::string followers[] = {
      kWalkGga, "$GPGSA,A,3,,,,,,,,,,,,,0.0,0.0,0.0*32\r", kStillGga, kStillGsa,
      Sentence("GNGGA,120004.000,5333.423,N,01315.669,E,2,12,0.6,10.0,M,,,,"),
      Sentence("INGGA,120004.000,5333.423,N,01315.669,E,1,12,0.6,10.0,M,,,,")};
  for (const std::string& follower : followers) {
    SCOPED_TRACE(follower);
    Gps()->ResetFix();
    core_.ResetGPSFix();
    core_.m_nFirstRmcCountdown = 2;
    for (int untrusted = 0; untrusted < 2; ++untrusted) {
      EXPECT_EQ(Dispatch(kWalkRmc), TRUE);
      EXPECT_EQ(Fix().fixQuality, GPSQualityNoGPS);
      Dispatch(follower);
      EXPECT_EQ(Fix().fixQuality, GPSQualityNoGPS) << "after untrusted RMC " << untrusted + 1;
      EXPECT_FALSE(core_.IsFixUsable());
    }
    EXPECT_EQ(Dispatch(kWalkRmc), TRUE);
    EXPECT_NE(Fix().fixQuality, GPSQualityNoGPS);
    EXPECT_TRUE(core_.IsFixUsable());
  }
}

TEST_F(Nmea, ImpossibleValuesAreRefusedAsABadSentence) {
  std::vector<std::u16string> output;
  platform::SetDebugOutputSink([&](const std::u16string& line) { output.push_back(line); });
  const char* bodies[] = {
      "GPRMC,120005,A,9100.000,N,01315.669,E,2.49,359.51,100216,,",    // latitude 91
      "GPRMC,120005,A,9000.001,S,01315.669,E,2.49,359.51,100216,,",    // just beyond the pole
      "GPRMC,120005,A,5333.423,N,18100.000,E,2.49,359.51,100216,,",    // longitude 181
      "GPRMC,120005,A,5333.423,N,18000.060,W,2.49,359.51,100216,,",    // just beyond 180
      "GPRMC,120005,A,5333.423,N,01315.669,E,9999.0,359.51,100216,,",  // faster than anything flies
      "GPRMC,120005,A,5333.423,N,01315.669,E,-2.49,359.51,100216,,",   // a negative speed
      "GPGGA,120005,9100.000,N,01315.669,E,1,08,0.9,10.0,M,0.0,M,,",   // latitude 91
      "GPGGA,120005,5333.423,N,99999.000,E,1,08,0.9,10.0,M,0.0,M,,",   // longitude 999
      "GPGGA,120005,5333.423,N,01315.669,E,1,08,-0.9,10.0,M,0.0,M,,",  // a negative HDOP
      "GPGSA,A,3,,,,,,,,,,,,,1.2,-0.7,0.9",                            // a negative HDOP
  };
  for (const char* body : bodies) {
    SCOPED_TRACE(body);
    Gps()->ResetFix();
    ASSERT_EQ(Dispatch(kWalkRmc), TRUE);
    ASSERT_EQ(Dispatch(kWalkGga), FALSE);
    const vov::GPSFix before = Fix();
    const double latitude = Latitude(), longitude = Longitude();
    core_.m_nSilenceCounter = 1;
    output.clear();
    EXPECT_EQ(Dispatch(Sentence(body)), FALSE);
    const vov::GPSFix after = Fix();
    EXPECT_EQ(Latitude(), latitude);
    EXPECT_EQ(Longitude(), longitude);
    EXPECT_EQ(after.second, before.second);
    EXPECT_EQ(after.speed, before.speed);
    EXPECT_EQ(after.hdop, before.hdop);
    EXPECT_EQ(after.fixQuality, before.fixQuality);
    EXPECT_EQ(after.satellites, before.satellites);
    // Refused like a sentence whose checksum does not fit: logged, and no
    // sign that the receiver is well.
    EXPECT_EQ(core_.m_nSilenceCounter, 1);
    ASSERT_EQ(output.size(), 1u);
    EXPECT_NE(platform::Utf16ToUtf8(output[0]).find(body), std::string::npos);
  }
  // The edges themselves are real places and a fast aeroplane a real speed.
  for (const char* body : {"GPRMC,120005,A,9000.000,N,18000.000,W,500.0,359.51,100216,,",
                           "GPRMC,120005,A,9000.000,S,18000.000,E,0.0,0.0,100216,,"}) {
    SCOPED_TRACE(body);
    EXPECT_EQ(Dispatch(Sentence(body)), TRUE);
    EXPECT_EQ(std::fabs(Latitude()), 90.0);
    EXPECT_EQ(std::fabs(Longitude()), 180.0);
    EXPECT_EQ(Fix().hasFix, 1);
  }
}

TEST_F(Nmea, InertialReceiverWithoutSatellitesSetsTheManualFix) {
  ASSERT_EQ(Dispatch(kWalkRmc), TRUE);
  struct Row {
    const char* satellites;
    SHORT kept;
    bool manual;
  };
  const Row rows[] = {{"00", 0, true}, {"", 0, true}, {"12", 0, true}, {"05", 5, false}, {"10", 10, false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.satellites);
    vov::SetManualFix(!row.manual);
    Dispatch(Sentence(std::string("GPGGA,120000,5333.420,N,01315.669,E,7,") + row.satellites + ",1.2,10.0,M,,,,"));
    const vov::GPSFix fix = Fix();
    EXPECT_EQ(fix.fixQuality, GPSQualityInertial);
    EXPECT_NEAR(fix.estimatedAccuracy, 7.92, 1e-9);
    EXPECT_EQ(fix.satellites, row.kept);
    EXPECT_EQ(vov::IsManualFix(), row.manual);
  }
  // The next ordinary fix clears it.
  Dispatch(kWalkGga);
  EXPECT_FALSE(vov::IsManualFix());
  EXPECT_EQ(Fix().fixQuality, GPSQualityEnhanced);
}

// ---- field readers ------------------------------------------------------------------------

TEST(NmeaFields, ReadersStopAtTheirFieldAndTheEnd) {
  struct IntRow {
    const char* text;
    int maxDigits;
    bool skip;
    int value;
    const char* rest;
  };
  const IntRow ints[] = {
      {"123519.00,A", 2, false, 12, "3519.00,A"}, {"123519.00,A", 2, true, 12, "A"}, {"5.5,", 2, false, 5, ".5,"},
      {"08,0.9", 2, true, 8, "0.9"},              {"123,x", 2, true, 12, "x"},       {",x", 2, true, 0, "x"},
      {"", 2, true, 0, ""},                       {"7", 2, true, 7, ""},             {"*4F", 1, false, 0, "*4F"},
      {"1A,x", 2, true, 1, "x"},
  };
  for (const IntRow& row : ints) {
    SCOPED_TRACE(row.text);
    const char* cursor = row.text;
    EXPECT_EQ(vov::ParseNMEAIntField(cursor, row.maxDigits, row.skip), row.value);
    EXPECT_STREQ(cursor, row.rest);
  }

  struct FloatRow {
    const char* text;
    double value;
    const char* rest;
  };
  const FloatRow floats[] = {
      {"0.7,38.9", 0.7, "38.9"},
      {"-12.5,M", -12.5, "M"},
      {"000.0*0D", 0.0, "0D"},
      {",", 0.0, ""},
      {"", 0.0, ""},
      {"42", 42.0, ""},
      {".5,", 0.5, ""},
      {"1234567890123456,x", 1234567890123456.0, "x"},
      {"12345678901234567,x", 0.0, "x"},  // one character too many: refused
      {"nan,x", 0.0, "x"},
      {"1e9,x", 1.0, "x"},
  };
  for (const FloatRow& row : floats) {
    SCOPED_TRACE(row.text);
    const char* cursor = row.text;
    EXPECT_DOUBLE_EQ(vov::ParseNMEAFloatField(cursor), row.value);
    EXPECT_STREQ(cursor, row.rest);
  }

  struct CoordinateRow {
    const char* text;
    bool latitude;
    double value;
    const char* rest;
  };
  const CoordinateRow coordinates[] = {
      {"4659.2842,N,00124.0315", true, 46 + 59.2842 / 60, "00124.0315"},
      {"3351.000,S,x", true, -(33 + 51.0 / 60), "x"},
      {"00124.0315,W,1.0", false, -(1 + 24.0315 / 60), "1.0"},
      {"17959.999,E,", false, 179 + 59.999 / 60, ""},
      {",,x", true, 0.0, "x"},
      {"4659.2842", true, 46 + 59.2842 / 60, ""},
      {"46", true, 46.0, ""},
  };
  for (const CoordinateRow& row : coordinates) {
    SCOPED_TRACE(row.text);
    const char* cursor = row.text;
    const double value = row.latitude ? vov::ParseNMEALatitude(cursor) : vov::ParseNMEALongitude(cursor);
    EXPECT_NEAR(value, row.value, 1e-12);
    EXPECT_STREQ(cursor, row.rest);
  }
}

// ---- headings -----------------------------------------------------------------------------

TEST_F(Nmea, FiveHeadingsAverageAcrossNorth) {
  struct Row {
    std::vector<SHORT> samples;  // oldest first
    SHORT heading;
  };
  const Row rows[] = {
      {{355, 359, 2, 5, 8}, 1},       {{10, 20, 30, 40, 50}, 30},  {{350, 350, 350, 350, 10}, 354},
      {{90, 180, 270, 0, 0}, 108},    {{271, 0, 0, 0, 0}, 342},    {{270, 0, 0, 0, 0}, 54},
      {{359, 359, 359, 359, 359}, 359}, {{0, 0, 0, 0, 0}, 0},
  };
  for (const Row& row : rows) {
    core_.ResetGPSFix();
    for (std::size_t i = 0; i < row.samples.size(); ++i) {
      EXPECT_EQ(Fix().heading, -1) << "before five samples, sample " << i;
      core_.AverageHeadings(row.samples[i], Gps());
    }
    EXPECT_EQ(Fix().heading, row.heading) << row.samples[0] << "..." << row.samples[4];
  }
}

TEST_F(Nmea, NoHeadingInTheHistoryHoldsTheHeading) {
  for (SHORT h : {100, 100, 100, 100, 100}) core_.AverageHeadings(h, Gps());
  ASSERT_EQ(Fix().heading, 100);
  core_.AverageHeadings(-1, Gps());
  for (SHORT h : {200, 200, 200, 200}) {
    core_.AverageHeadings(h, Gps());
    EXPECT_EQ(Fix().heading, 100);
  }
  core_.AverageHeadings(200, Gps());
  EXPECT_EQ(Fix().heading, 200);
}

TEST_F(Nmea, ReceiverCourseByMode) {
  struct Step {
    SHORT course;
    double knots;
    SHORT heading;  // after the step
  };
  struct Row {
    const char* what;
    HeadingAveraging mode;
    GPSType receiver;
    std::vector<Step> steps;
  };
  const Row rows[] = {
      {"fast: the five-sample average follows", AutomaticHeadings, GPSTypeSerial,
       {{90, 10, -1}, {90, 10, -1}, {90, 10, -1}, {90, 10, -1}, {90, 10, 90}, {180, 10, 108}, {180, 10, 126},
        {180, 10, 144}, {180, 10, 162}, {180, 10, 180}}},
      {"standing still holds", AutomaticHeadings, GPSTypeSerial,
       {{90, 6, -1}, {90, 6, -1}, {90, 6, -1}, {90, 6, -1}, {90, 6, 90}, {270, 0.5, 90}, {270, 0.8, 90},
        {270, 0.0, 90}}},
      {"instantaneous", InstantaneousHeadings, GPSTypeSerial, {{45, 1.0, 45}, {300, 0.9, 300}, {10, 0.5, 300}}},
      {"manual with one second behaves as fast", ManualHeadings, GPSTypeSerial,
       {{20, 1.0, -1}, {20, 1.0, -1}, {20, 1.0, -1}, {20, 1.0, -1}, {20, 1.0, 20}}},
      {"north when stopped: only moving courses count", AutomaticHeadings, GPSTypeNorthernHeadingsWhenStopped,
       {{0, 8, -1}, {60, 1.9, -1}, {60, 2, -1}, {60, 2, -1}, {60, 2, -1}, {60, 2, -1}, {0, 3, -1}, {60, 2, 60}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    core_.ResetGPSFix();
    core_.m_eHeadingAveragingMode = row.mode;
    core_.m_eReceiverType = row.receiver;
    core_.m_nPedestrianAveragingSeconds = row.mode == ManualHeadings ? 1 : 5;
    for (std::size_t i = 0; i < row.steps.size(); ++i) {
      const Step& step = row.steps[i];
      core_.UpdateHeadingFromFixes(step.course, 53.55, 13.26, step.knots, Gps());
      EXPECT_EQ(Fix().heading, step.heading) << "step " << i;
      if (row.receiver != GPSTypeNorthernHeadingsWhenStopped) {
        EXPECT_EQ(Fix().instantaneousHeading, step.course);
      }
    }
  }
}

TEST_F(Nmea, InertialFixTakesTheCourseAsItIs) {
  ASSERT_EQ(Dispatch(kWalkRmc), TRUE);
  Dispatch(Sentence("GPGGA,120000,5333.420,N,01315.669,E,7,00,1.0,10.0,M,,,,"));
  ASSERT_EQ(Fix().fixQuality, GPSQualityInertial);
  core_.UpdateHeadingFromFixes(123, 53.55, 13.26, 0.0, Gps());
  EXPECT_EQ(Fix().heading, 123);
}

// Degrees of latitude of a metre, near enough on this small scale.
constexpr double kDegreesPerMetre = 1.0 / 111195.0;

TEST_F(Nmea, WalkingHeadingComesFromPositions) {
  // 1.4 m/s (2.7 knots), one fix a second, the receiver's course pointing
  // the wrong way: the heading must come from the positions.
  struct Row {
    const char* what;
    HeadingAveraging mode;
    double knots;
  };
  const Row rows[] = {
      {"automatic, walking: five seconds", AutomaticHeadings, 2.7},
      {"automatic, jogging: two seconds", AutomaticHeadings, 4.0},
      {"manual, three seconds", ManualHeadings, 2.7},
      {"big city without a map", BigCityHeadings, 2.7},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    core_.ResetGPSFix();
    core_.m_eHeadingAveragingMode = row.mode;
    core_.m_nPedestrianAveragingSeconds = 3;
    const double metresPerSecond = row.knots * 1852.0 / 3600.0;
    double latitude = 53.5570, longitude = 13.2610;
    const double metresPerDegreeLongitude = 111195.0 * std::cos(latitude * 3.141592653589793 / 180.0);
    for (int second = 0; second < 30; ++second) {
      latitude += metresPerSecond * kDegreesPerMetre;
      core_.UpdateHeadingFromFixes(200, latitude, longitude, row.knots, Gps());
    }
    SHORT heading = Fix().heading;
    EXPECT_TRUE(heading == 0 || heading == 359) << "walking north: " << heading;
    EXPECT_EQ(Fix().instantaneousHeading, 200);
    for (int second = 0; second < 40; ++second) {
      longitude += metresPerSecond / metresPerDegreeLongitude;
      core_.UpdateHeadingFromFixes(200, latitude, longitude, row.knots, Gps());
    }
    heading = Fix().heading;
    EXPECT_GE(heading, 89) << "walking east";
    EXPECT_LE(heading, 90) << "walking east";
  }
}

TEST_F(Nmea, WalkingHeadingIgnoresJumps) {
  // A position 100 m away (a jump of the receiver) is not a step.
  core_.m_eHeadingAveragingMode = AutomaticHeadings;
  double latitude = 53.5570;
  const double longitude = 13.2610;
  for (int second = 0; second < 60; ++second) {
    latitude += (second % 2 == 0 ? 100.0 : -100.0) * kDegreesPerMetre;
    core_.UpdateHeadingFromFixes(200, latitude, longitude, 2.7, Gps());
  }
  EXPECT_EQ(Fix().heading, -1);
}

TEST_F(Nmea, StreetNamesWithoutAMapAreEmpty) {
  ASSERT_EQ(m_pCartovel, nullptr);
  EXPECT_EQ(core_.GetStreetNameAt(53.55, 13.26, 90), u"");
}

// The heading code with a map engine that knows one street.
class NmeaWithMap : public Nmea {
 protected:
  void SetUp() override {
    Nmea::SetUp();
    map_ = Make<FakeMap>();
    m_pCartovel = map_.get();
  }
  void TearDown() override {
    m_pCartovel = nullptr;
    Nmea::TearDown();
  }
  Held<FakeMap> map_;
};

TEST_F(NmeaWithMap, StreetNameIsTheFirstAnswersStreet) {
  map_->streetAt = [](double latitude, double) { return latitude > 53.0 ? u"Friedrich-Engels-Ring" : u""; };
  EXPECT_EQ(core_.GetStreetNameAt(53.55, 13.26, 90), u"Friedrich-Engels-Ring");
  EXPECT_EQ(core_.GetStreetNameAt(52.0, 13.26, -1), u"");  // an empty list: no street
  ASSERT_EQ(map_->requests.size(), 2u);
  EXPECT_EQ(map_->requests[0], u"STREET NAME RAW");
  EXPECT_EQ(map_->requestHeadings[0], 90);
  EXPECT_EQ(map_->requestHeadings[1], -1);
}

TEST_F(NmeaWithMap, BigCityHeadingSnapsToTheStreet) {
  // Walking east along one street: after four heading updates from positions
  // the heading is the street's direction nearest the receiver's course.
  struct Row {
    const char* what;
    SHORT course;
    SHORT orientation;
    HRESULT result;
    bool oneStreet;
    bool snapped;
    SHORT heading;  // when snapped
  };
  const Row rows[] = {
      {"orientation along the course", 80, 93, S_OK, true, true, 93},
      {"orientation given the other way round", 80, 273, S_OK, true, true, 93},
      {"course within 90 degrees of the orientation", 200, 273, S_OK, true, true, 273},
      {"a different street at the start", 80, 93, S_OK, false, false, 0},
      {"no orientation: the heading from positions stays", 80, -1, E_FAIL, true, false, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    core_.ResetGPSFix();
    core_.m_eHeadingAveragingMode = BigCityHeadings;
    map_->orientation = row.orientation;
    map_->orientationResult = row.result;
    map_->orientationQuestions = 0;
    const double startLongitude = 13.2610;
    map_->streetAt = [&](double, double longitude) {
      return row.oneStreet || longitude > startLongitude + 1e-7 ? u"Main Street" : u"Side Street";
    };
    const double latitude = 53.5570;
    double longitude = startLongitude;
    const double metresPerDegreeLongitude = 111195.0 * std::cos(latitude * 3.141592653589793 / 180.0);
    for (int second = 0; second < 10; ++second) {
      core_.UpdateHeadingFromFixes(row.course, latitude, longitude, 2.7, Gps());
      longitude += 1.4 / metresPerDegreeLongitude;
    }
    EXPECT_EQ(map_->orientationQuestions, row.oneStreet ? 1 : 0);
    const SHORT heading = Fix().heading;
    if (row.snapped) {
      EXPECT_EQ(heading, row.heading);
    } else {
      EXPECT_GE(heading, 89);
      EXPECT_LE(heading, 90);
    }
    // The history is whole afterwards: turning north moves the heading at
    // the next two updates from positions.
    double northLatitude = latitude;
    for (int second = 0; second < 4; ++second) {
      northLatitude += 1.4 * kDegreesPerMetre;
      core_.UpdateHeadingFromFixes(row.course, northLatitude, longitude, 2.7, Gps());
    }
    EXPECT_NE(Fix().heading, heading);
  }
}

// Runs actions on threads of their own and waits for each while the caller
// stays where it is (inside a map engine answer). The wait is bounded only so
// that an action blocked on a lock the caller holds fails the test instead of
// hanging it; the threads are joined when the object goes, after the caller
// has let go of its locks.
class OtherThreads {
 public:
  OtherThreads() = default;
  OtherThreads(const OtherThreads&) = delete;
  OtherThreads& operator=(const OtherThreads&) = delete;
  ~OtherThreads() {
    for (Run& run : runs_) run.thread.join();
  }

  // True when the action finished within the bound. After one action did
  // not, the later ones are not started: each would wait the bound again.
  bool RunAndWait(std::function<void()> action) {
    if (blocked_) return false;
    Run& run = runs_.emplace_back();
    run.thread = std::thread([this, &run, action = std::move(action)] {
      action();
      {
        std::lock_guard<std::mutex> hold(mutex_);
        run.done = true;
      }
      finished_.notify_all();
    });
    std::unique_lock<std::mutex> hold(mutex_);
    blocked_ = !finished_.wait_for(hold, std::chrono::seconds(60), [&run] { return run.done; });
    return !blocked_;
  }

 private:
  struct Run {
    std::thread thread;
    bool done = false;
  };
  std::mutex mutex_;
  std::condition_variable finished_;
  std::list<Run> runs_;  // stable addresses for the running threads
  bool blocked_ = false;
};

// A $GPRMC of a walker at 2.7 knots on the given course, at the given second
// and position (north and east).
std::string WalkingRmc(int second, double latitude, double longitude, int course) {
  char body[128];
  const int latDegrees = static_cast<int>(latitude);
  const int lonDegrees = static_cast<int>(longitude);
  std::snprintf(body, sizeof body, "GPRMC,12%02d%02d.000,A,%02d%09.6f,N,%03d%09.6f,E,2.70,%d.0,100216,,",
                second / 60, second % 60, latDegrees, (latitude - latDegrees) * 60.0, lonDegrees,
                (longitude - lonDegrees) * 60.0, course);
  return Sentence(body);
}

// Walking east along one street in big-city mode, a sentence a second: the
// parser asks the map engine for the street at its sample points and, after
// four heading updates, for the street's orientation. Returns after the
// sentence that asked for the orientation (or after `seconds`).
class NmeaBigCityWalk : public NmeaWithMap {
 protected:
  static constexpr double kLatitude = 53.5570;
  static constexpr double kStartLongitude = 13.2610;

  void SetUp() override {
    NmeaWithMap::SetUp();
    core_.m_eHeadingAveragingMode = BigCityHeadings;
    map_->streetAt = [](double, double) { return u"Main Street"; };
    map_->orientation = 93;
  }

  void WalkUntilOrientationAsked(int seconds = 20) {
    const double metresPerDegreeLongitude = 111195.0 * std::cos(kLatitude * 3.141592653589793 / 180.0);
    double longitude = kStartLongitude;
    for (int second = 0; second < seconds && map_->orientationQuestions == 0; ++second) {
      ASSERT_EQ(Dispatch(WalkingRmc(second, kLatitude, longitude, 80)), TRUE);
      longitude += 1.4 / metresPerDegreeLongitude;
    }
  }
};

TEST_F(NmeaBigCityWalk, FixIsReadableWhileTheMapEngineAnswers) {
  // Every map call made by the parser: another thread reads the fix through
  // the user program's getters and must get its answer before the map
  // engine's answer is finished, and what it reads is the position of the
  // sentence being handled.
  int answers = 0;
  int readsDone = 0;
  std::vector<double> latitudesRead;
  OtherThreads threads;
  map_->whileAnswering = [&](std::string_view) {
    ++answers;
    // Shared with the reader: a reader that is still blocked outlives this
    // answer and is joined only at the end of the test.
    const auto latitude = std::make_shared<double>(0.0);
    const bool done = threads.RunAndWait([this, latitude] {
      SHORT heading = 0;
      EXPECT_EQ(Gps()->GetLatitude(latitude.get()), S_OK);
      EXPECT_EQ(Gps()->GetHeadingDegrees(&heading), S_OK);
    });
    if (done) {
      ++readsDone;
      latitudesRead.push_back(*latitude);
    }
  };
  WalkUntilOrientationAsked();
  map_->whileAnswering = nullptr;

  ASSERT_EQ(map_->orientationQuestions, 1);
  EXPECT_GE(answers, 3);  // two street names at sample points, one before the orientation
  EXPECT_EQ(readsDone, answers) << "a read of the fix waited for the map engine";
  for (double latitude : latitudesRead) EXPECT_NEAR(latitude, kLatitude, 1e-7);
  EXPECT_EQ(Fix().heading, 93);  // the snap still lands
}

TEST_F(NmeaBigCityWalk, FixReplacedDuringTheMapCallKeepsItsOwnHeading) {
  // While the map engine works out the street's orientation, another thread
  // replaces the fix; the orientation (93) belongs to the fix it was asked
  // for and must not be written over the newer one.
  struct Row {
    const char* what;
    std::function<void(CGPSObject*)> replace;  // null: nothing happens meanwhile
    SHORT headingLow, headingHigh;             // the heading afterwards
    double latitude;                           // the fix's latitude afterwards
  };
  const Row rows[] = {
      {"nothing happens: the snap lands", nullptr, 93, 93, kLatitude},
      {"a new position",
       [](CGPSObject* gps) {
         Held<CLocationObject> elsewhere = Make<CLocationObject>();
         elsewhere->SetLatitude(40.25);
         elsewhere->SetLongitude(3.5);
         EXPECT_EQ(gps->SetLocation(elsewhere.get()), S_OK);
       },
       89, 90, 40.25},
      {"the fix reset",
       [](CGPSObject* gps) {
         std::lock_guard<std::recursive_mutex> hold(gps->Lock());
         gps->ResetFix();
       },
       -1, -1, kLatitude},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    core_.ResetGPSFix();
    map_->orientationQuestions = 0;
    bool replaced = false;
    {
      OtherThreads threads;
      map_->whileAnswering = [&](std::string_view operation) {
        if (operation != "GetStreetOrientation" || !row.replace) return;
        replaced = threads.RunAndWait([&] { row.replace(Gps()); });
      };
      WalkUntilOrientationAsked();
      map_->whileAnswering = nullptr;
    }
    ASSERT_EQ(map_->orientationQuestions, 1);
    EXPECT_EQ(replaced, row.replace != nullptr);
    const SHORT heading = Fix().heading;
    EXPECT_GE(heading, row.headingLow);
    EXPECT_LE(heading, row.headingHigh);
    EXPECT_NEAR(Latitude(), row.latitude, 1e-7);
  }
}

}  // namespace
