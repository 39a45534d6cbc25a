// The engine's utilities on the current position and the receiver's state,
// on an engine whose fix object the test fills.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/core/GPSCore.h"
#include "engine/core/LocationObject.h"
#include "engine/core/PlaceObjects.h"
#include "engine/core/ValueObjects.h"
#include "platform/os/text.h"
#include "tests/engine/core/device_root.h"
#include "tests/engine/core/engine_objects.h"

namespace {

std::string Narrow(std::u16string_view text) { return platform::Utf16ToUtf8(text); }

// About 0.3 feet of latitude per 1e-6 degree: one nautical mile (6076 feet)
// is one minute of arc.
constexpr double kLatitude = 53.5570;
constexpr double kLongitude = 10.0010;
constexpr double kDegreesPerFoot = 1.0 / 6076.11549 / 60.0;

Held<CLocationObject> Place(double latitude, double longitude) {
  Held<CLocationObject> place = Make<CLocationObject>();
  place->SetLatitude(latitude);
  place->SetLongitude(longitude);
  return place;
}

// An engine with a fix object, and its Utility (settings in "\settings").
class CoreUtilities : public DeviceRootTest {
 protected:
  void SetUp() override {
    DeviceRootTest::SetUp();
    StartUtility(false);
    core_.m_pGPS = Make<CGPSObject>();
  }

  vov::GPSFix& Fix() { return core_.m_pGPS->Fix(); }
  void PlaceFix(double latitude, double longitude) {
    std::lock_guard<std::recursive_mutex> hold(core_.m_pGPS->Lock());
    core_.m_pGPS->Location()->SetLatitude(latitude);
    core_.m_pGPS->Location()->SetLongitude(longitude);
  }
  void PlaceVirtual(double latitude, double longitude) {
    core_.m_pVirtual->Location()->SetLatitude(latitude);
    core_.m_pVirtual->Location()->SetLongitude(longitude);
  }
  // A receiver heard and a fix of `quality` from $GPGGA indicator `gga`, in a
  // state the fix-quality update agrees with (good: HDOP 1.2, 7.92 m).
  void Receive(GPSQuality quality, LONG gga, BYTE hasFix) {
    core_.m_nSilenceCounter = GPSCore::kSilencePolls;
    core_.m_nFirstRmcCountdown = 0;
    std::lock_guard<std::recursive_mutex> hold(core_.m_pGPS->Lock());
    Fix().hasFix = hasFix;
    Fix().ggaQuality = gga;
    Fix().fixQuality = quality;
    Fix().hdop = 1.2;
    Fix().vdop = 2.5;
    Fix().satellites = 8;
  }
  void SetReceiverType(GPSType type) { vov::Utility::Instance()->GPSSettings().Record().receiverType = type; }

  GPSCore core_;
};

TEST(MatchNameInsensitive, FindsTheNeedleWhateverTheCase) {
  struct Row {
    const char16_t* needle;
    const char16_t* text;
    bool found;
  };
  const Row rows[] = {
      {u"main", u"North MAIN Street", true},
      {u"MAIN ST", u"north main street", true},
      {u"North Main Street", u"north main street", true},
      {u"\u00C9cole", u"Rue de l'\u00E9cole", true},
      {u"main street", u"main", false},
      {u"elm", u"North Main Street", false},
      {u"", u"North Main Street", false},
      {u"main", u"", false},
      {u"", u"", false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(GPSCore::MatchNameInsensitive(row.needle, row.text), row.found)
        << Narrow(row.needle) << " in " << Narrow(row.text);
  }
}

// The location handed out is the object's own (no reference added to it);
// the heading is the fix's or the virtual object's.
TEST_F(CoreUtilities, CurrentLocationAndHeadingFollowTheMode) {
  {
    std::lock_guard<std::recursive_mutex> hold(core_.m_pGPS->Lock());
    Fix().heading = 123;
  }
  ASSERT_EQ(core_.m_pVirtual->SetHeading(275), S_OK);

  ILocationObject* location = nullptr;
  SHORT heading = 0;
  core_.GetCurrentLocationAndHeading(GPSMode, &location, &heading);
  EXPECT_EQ(location, core_.m_pGPS->Location());
  EXPECT_EQ(heading, 123);
  core_.GetCurrentLocationAndHeading(VirtualMode, &location, &heading);
  EXPECT_EQ(location, core_.m_pVirtual->Location());
  EXPECT_EQ(heading, 275);
  location->AddRef();
  EXPECT_EQ(location->Release(), 1u);

  EXPECT_EQ(core_.GetHeadingDegreesForMode(GPSMode), 123);
  EXPECT_EQ(core_.GetHeadingDegreesForMode(VirtualMode), 275);

  // Without a fix object there is no location and no heading.
  core_.m_pGPS.reset();
  core_.GetCurrentLocationAndHeading(GPSMode, &location, &heading);
  EXPECT_EQ(location, nullptr);
  EXPECT_EQ(heading, -1);
  EXPECT_EQ(core_.GetHeadingDegreesForMode(GPSMode), -1);
}

// Near means within the arrived-near threshold of the system settings (12
// feet by default; in metres when the units are metric).
TEST_F(CoreUtilities, NearMeansWithinTheArrivedNearThreshold) {
  PlaceFix(kLatitude, kLongitude);
  PlaceVirtual(kLatitude + 1.0, kLongitude);
  struct Row {
    Mode mode;
    Units units;
    double feetNorth;
    bool near;
  };
  const Row rows[] = {
      {GPSMode, Imperial, 0.0, true},         {GPSMode, Imperial, 11.0, true},
      {GPSMode, Imperial, 13.0, false},       {GPSMode, Imperial, -11.0, true},
      {GPSMode, Metric, 11.0, true},          {GPSMode, Metric, 300.0, false},
      {VirtualMode, Imperial, 11.0, false},   // the virtual position is a degree away
  };
  for (const Row& row : rows) {
    vov::Utility::Instance()->SystemSettings().Record().units = row.units;
    const auto place = Place(kLatitude + row.feetNorth * kDegreesPerFoot, kLongitude);
    EXPECT_EQ(core_.IsNearCurrentLocation(row.mode, place.get()), row.near)
        << row.feetNorth << " feet, mode " << row.mode << ", units " << row.units;
  }
  vov::Utility::Instance()->SystemSettings().Record().units = Imperial;
  const auto atVirtual = Place(kLatitude + 1.0, kLongitude);
  EXPECT_TRUE(core_.IsNearCurrentLocation(VirtualMode, atVirtual.get()));

  // An invalid position (0, 0) on either side is never near, nor is nothing.
  const auto nowhere = Place(0.0, 0.0);
  EXPECT_FALSE(core_.IsNearCurrentLocation(GPSMode, nowhere.get()));
  EXPECT_FALSE(core_.IsNearCurrentLocation(GPSMode, nullptr));
  PlaceFix(0.0, 0.0);
  EXPECT_FALSE(core_.IsNearCurrentLocation(GPSMode, nowhere.get()));
}

// Bearings are truncated to whole degrees clockwise from north.
TEST_F(CoreUtilities, BearingBetweenTwoLocations) {
  const auto from = Place(10.0, 10.0);
  struct Row {
    double latitude, longitude;
    LONG bearing;
  };
  const Row rows[] = {
      {10.01, 10.0, 0}, {9.99, 10.0, 179}, {10.0, 10.01, 89}, {10.0, 9.99, 270},
      {10.0, 10.0, -1},  // the same place has no bearing
      {0.0, 0.0, -1},    // nor has an invalid position
  };
  for (const Row& row : rows) {
    const auto to = Place(row.latitude, row.longitude);
    EXPECT_EQ(GPSCore::GetBearingDegreesBetween(from.get(), to.get()), row.bearing)
        << row.latitude << ", " << row.longitude;
  }
  EXPECT_EQ(GPSCore::GetBearingDegreesBetween(nullptr, from.get()), -1);
  EXPECT_EQ(GPSCore::GetBearingDegreesBetween(from.get(), nullptr), -1);
}

TEST_F(CoreUtilities, IntersectionSearchReachesFartherWhenDriving) {
  struct Row {
    Units units;
    double speed;
    LONG distance;
  };
  const Row rows[] = {
      {Imperial, -1.0, 200}, {Imperial, 5.0, 200},   {Imperial, 5.01, 1600}, {Metric, 5.0, 65},
      {Metric, 30.0, 450},   {Nautical, 30.0, 1600}, {BritishNautical, 0.0, 200},
  };
  for (const Row& row : rows) {
    vov::Utility::Instance()->SystemSettings().Record().units = row.units;
    {
      std::lock_guard<std::recursive_mutex> hold(core_.m_pGPS->Lock());
      Fix().speed = row.speed;
    }
    EXPECT_EQ(core_.GetIntersectionSearchDistance(), row.distance) << row.units << " at " << row.speed;
  }
  // Without a fix object the speed is unknown: the walking distance.
  vov::Utility::Instance()->SystemSettings().Record().units = Metric;
  core_.m_pGPS.reset();
  EXPECT_EQ(core_.GetIntersectionSearchDistance(), 65);
}

TEST_F(CoreUtilities, LastDescriptionIsTheFormattedText) {
  ASSERT_TRUE(vov::Utility::Instance()->LanguageLoaded());
  EXPECT_EQ(core_.GetLastDescription(), u"");
  core_.SetLastDescription(20195, {u"north", 20, u"right"});
  EXPECT_EQ(core_.GetLastDescription(), u"north, 20 degrees right");
  core_.SetLastDescription(20500, {350});
  EXPECT_EQ(core_.GetLastDescription(), u"350 feet");

  // Without a Utility there is no text to say.
  vov::Utility::Release();
  core_.SetLastDescription(20500, {350});
  EXPECT_EQ(core_.GetLastDescription(), u"");
}

// The time is copied from the fix only while the receiver is active and the
// fix can be used (or in test mode).
TEST_F(CoreUtilities, TimeComesFromAUsableFixOfAnActiveReceiver) {
  {
    std::lock_guard<std::recursive_mutex> hold(core_.m_pGPS->Lock());
    Fix().year = 2024;
    Fix().month = 5;
    Fix().day = 3;
    Fix().hour = 6;
    Fix().minute = 5;
    Fix().second = 9;
  }
  struct Row {
    GPSType receiver;
    GPSQuality quality;
    bool testMode;
    bool copied;
  };
  const Row rows[] = {
      {GPSTypeSerial, GPSQualityGood, false, true},    {GPSTypeBlueTooth, GPSQualityPoor, false, true},
      {GPSTypeSerial, GPSQualityNoFix, false, false},  {GPSTypeSerial, GPSQualityNoGPS, false, false},
      {GPSTypeNone, GPSQualityGood, false, false},     {GPSTypeSerial, GPSQualityNoFix, true, true},
      {GPSTypeNone, GPSQualityGood, true, false},
  };
  for (const Row& row : rows) {
    SetReceiverType(row.receiver);
    core_.m_bTestMode = row.testMode;
    {
      std::lock_guard<std::recursive_mutex> hold(core_.m_pGPS->Lock());
      Fix().fixQuality = row.quality;
    }
    IGPSTimeObject* time = nullptr;
    ASSERT_EQ(core_.GPSGetTimeInternal(&time), S_OK);
    ASSERT_NE(time, nullptr);
    SHORT fields[6] = {-1, -1, -1, -1, -1, -1};
    time->GetYear(&fields[0]);
    time->GetMonth(&fields[1]);
    time->GetDay(&fields[2]);
    time->GetHour(&fields[3]);
    time->GetMinutes(&fields[4]);
    time->GetSeconds(&fields[5]);
    const std::vector<SHORT> expected =
        row.copied ? std::vector<SHORT>{2024, 5, 3, 6, 5, 9} : std::vector<SHORT>{0, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::vector<SHORT>(fields, fields + 6), expected)
        << "receiver " << row.receiver << ", quality " << row.quality << ", test mode " << row.testMode;
    EXPECT_EQ(time->Release(), 0u);
  }
  EXPECT_EQ(core_.GPSGetTimeInternal(nullptr), E_POINTER);
}

TEST_F(CoreUtilities, StatusIsASnapshotOfTheFix) {
  SetReceiverType(GPSTypeSerial);
  struct Row {
    const char* what;
    GPSQuality quality;
    LONG gga;
    BYTE hasFix;
    bool testMode;
    bool expectFix;
    bool differential;
    SHORT satellites;
    bool accuracyKnown;  // else -1.0
  };
  const Row rows[] = {
      {"good fix", GPSQualityGood, 1, 1, false, true, false, 8, true},
      {"differential fix", GPSQualityEnhanced, 2, 1, false, true, true, 8, true},
      {"no fix", GPSQualityNoFix, 0, 0, false, false, false, 8, false},
      {"no fix in test mode", GPSQualityNoFix, 0, 0, true, false, false, 0, true},
      {"good fix in test mode", GPSQualityGood, 1, 1, true, true, false, 0, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Receive(row.quality, row.gga, row.hasFix);
    core_.m_bTestMode = row.testMode;
    IGPSStatusObject* made = nullptr;
    ASSERT_EQ(core_.GPSGetStatusInternal(&made), S_OK);
    Held<CGPSStatusObject> status(static_cast<CGPSStatusObject*>(made));
    EXPECT_EQ(status->m_eFixQuality, row.quality);
    EXPECT_EQ(status->m_bHasFix, row.expectFix);
    EXPECT_EQ(status->m_bDifferential, row.differential);
    EXPECT_EQ(status->m_nSatellites, row.satellites);
    EXPECT_EQ(status->m_dHDOP, 1.2);
    EXPECT_EQ(status->m_dVDOP, 2.5);
    EXPECT_EQ(status->m_dEstimatedAccuracy, row.accuracyKnown ? core_.GetEstimatedAccuracy() : -1.0);
  }
  EXPECT_EQ(core_.GPSGetStatusInternal(nullptr), E_POINTER);

  // Without a fix object: a receiver never heard.
  core_.m_pGPS.reset();
  IGPSStatusObject* made = nullptr;
  ASSERT_EQ(core_.GPSGetStatusInternal(&made), S_OK);
  Held<CGPSStatusObject> status(static_cast<CGPSStatusObject*>(made));
  EXPECT_EQ(status->m_eFixQuality, GPSQualityNoGPS);
  EXPECT_FALSE(status->m_bHasFix);
  EXPECT_EQ(status->m_dEstimatedAccuracy, -1.0);
}

}  // namespace

// The walked distance: sampled every sixth call while moving with a usable
// fix, from a copy of the last sample's position (a shared one would move
// with the fix and never count a step), kept in metres and told in the units
// the user hears.
TEST_F(CoreUtilities, ThePedometerSamplesWhileMovingFromItsOwnCopyOfTheLastPosition) {
  Receive(GPSQualityGood, 1, 1);
  auto setSpeed = [this](double mph) {
    std::lock_guard<std::recursive_mutex> hold(core_.m_pGPS->Lock());
    Fix().speed = mph;
  };
  // 0.001 degree of latitude on the engine's sphere (radius 3437.905
  // nautical miles): 111.125 metres.
  constexpr double kStep = 0.001, kStepMetres = kStep * 3.141592653589793 / 180.0 * 3437.90496760259 * 1852.0;
  setSpeed(3.0);
  PlaceFix(kLatitude, kLongitude);
  core_.UpdatePedometer(false);  // the first sample
  EXPECT_EQ(core_.m_dPedometerMetres, 0.0);
  PlaceFix(kLatitude + kStep, kLongitude);
  for (int tick = 1; tick <= 5; ++tick) {
    core_.UpdatePedometer(false);
    EXPECT_EQ(core_.m_dPedometerMetres, 0.0) << tick;
  }
  core_.UpdatePedometer(false);
  EXPECT_NEAR(core_.m_dPedometerMetres, kStepMetres, 0.01);
  PlaceFix(kLatitude + 2 * kStep, kLongitude);
  core_.UpdatePedometer(true);
  EXPECT_NEAR(core_.m_dPedometerMetres, 2 * kStepMetres, 0.01);

  // Below the minimum speed (0.8 knots: 0.92 mph) or without a usable fix
  // nothing is added; the walk resumes from the last sample.
  setSpeed(0.9);
  PlaceFix(kLatitude + 3 * kStep, kLongitude);
  core_.UpdatePedometer(true);
  EXPECT_NEAR(core_.m_dPedometerMetres, 2 * kStepMetres, 0.01);
  setSpeed(3.0);
  Receive(GPSQualityNoFix, 1, 0);
  core_.UpdatePedometer(true);
  EXPECT_NEAR(core_.m_dPedometerMetres, 2 * kStepMetres, 0.01);
  Receive(GPSQualityGood, 1, 1);

  // Told in feet or metres; telling brings the walk up to date first.
  const double walked = 3 * kStepMetres;
  vov::Utility& utility = *vov::Utility::Instance();
  utility.SystemSettings().Record().units = Imperial;
  EXPECT_EQ(core_.GetPedometerDescription(GPSMode),
            utility.DistanceDescription(static_cast<LONG>(walked / 0.3048), false));
  EXPECT_NEAR(core_.m_dPedometerMetres, walked, 0.01);
  utility.SystemSettings().Record().units = Metric;
  EXPECT_EQ(core_.GetPedometerDescription(GPSMode), utility.DistanceDescription(static_cast<LONG>(walked), false));
  core_.m_dPedometerVirtualMetres = 1500.0;
  EXPECT_EQ(core_.GetPedometerDescription(VirtualMode), utility.DistanceDescription(1500, false));
}
