// The fix object and its status snapshot as the user program reads them: the
// fix in each system unit, the null-pointer answers, the location queries that
// speak from the object's own heading, and the accuracy told in English.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "engine/core/GPSObject.h"
#include "engine/core/LocationObject.h"
#include "engine/core/Utility.h"
#include "engine/core/ValueObjects.h"
#include "platform/com/owners.h"
#include "platform/os/text.h"
#include "tests/engine/core/engine_objects.h"

namespace {

std::string Taken(BSTR text) {
  std::string value = platform::Utf16ToUtf8(std::u16string_view(text == nullptr ? u"" : text, SysStringLen(text)));
  SysFreeString(text);
  return value;
}

class GpsObject : public ::testing::Test {
 protected:
  void SetUp() override {
    vov::Utility::Release();
    ASSERT_TRUE(vov::Utility::Instance()->LanguageLoaded());
    gps_ = Make<CGPSObject>();
  }
  void TearDown() override { vov::Utility::Release(); }

  void SetUnits(Units units) { ASSERT_EQ(vov::Utility::Instance()->SystemSettings().SetUnits(units), S_OK); }
  // Writes the fix as the parser does, under the lock.
  void Edit(const std::function<void(vov::GPSFix&)>& change) {
    std::lock_guard<std::recursive_mutex> hold(gps_->Lock());
    change(gps_->Fix());
  }

  Held<CGPSObject> gps_;
};

TEST_F(GpsObject, AltitudeSpeedAndAccuracyInEachUnit) {
  struct Row {
    const char* what;
    LONG feet;
    double mph;
    double metres;
    Units units;
    LONG altitude;
    SHORT speed;
    double speedDouble;
    SHORT accuracy;
  };
  const Row rows[] = {
      {"imperial", 328, 10.0, 7.92, Imperial, 328, 10, 10.0, 25},
      {"metric", 328, 10.0, 7.92, Metric, 100, 16, 16.0, 7},
      {"nautical", 328, 10.0, 7.92, Nautical, 328, 9, 8.6, 25},
      {"british nautical", 328, 3.0, 4.8, BritishNautical, 328, 3, 2.6, 15},
      {"metric, rounding up", 1000, 3.0, 4.8, Metric, 305, 5, 4.8, 4},
      {"unknown altitude, no speed, no accuracy", -1, -1.0, -1.0, Metric, -1, 0, 0.0, -1},
      {"sea level, standing", 0, 0.0, 0.0, Metric, 0, 0, 0.0, 0},
      {"no speed, imperial", 0, -1.0, -1.0, Imperial, 0, 0, 0.0, -1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    SetUnits(row.units);
    Edit([&](vov::GPSFix& f) {
      f.altitude = row.feet;
      f.speed = row.mph;
      f.estimatedAccuracy = row.metres;
    });
    LONG altitude = 0;
    SHORT speed = 0, accuracy = 0;
    double speedDouble = -5;
    EXPECT_EQ(gps_->GetAltitude(&altitude), S_OK);
    EXPECT_EQ(gps_->GetSpeed(&speed), S_OK);
    EXPECT_EQ(gps_->GetSpeedDouble(&speedDouble), S_OK);
    EXPECT_EQ(gps_->GetEstimatedAccuracy(&accuracy), S_OK);
    EXPECT_EQ(altitude, row.altitude);
    EXPECT_EQ(speed, row.speed);
    EXPECT_NEAR(speedDouble, row.speedDouble, 1e-9);
    EXPECT_EQ(accuracy, row.accuracy);
  }
}

TEST_F(GpsObject, ValuesOutOfRangeSaturate) {
  SetUnits(Imperial);
  Edit([](vov::GPSFix& f) {
    f.speed = 1e12;
    f.estimatedAccuracy = 1e9;
  });
  SHORT speed = 0, accuracy = 0;
  EXPECT_EQ(gps_->GetSpeed(&speed), S_OK);
  EXPECT_EQ(gps_->GetEstimatedAccuracy(&accuracy), S_OK);
  EXPECT_EQ(speed, 32767);
  EXPECT_EQ(accuracy, 32767);
}

TEST_F(GpsObject, StateGetters) {
  struct Row {
    GPSQuality quality;
    LONG ggaQuality;
    VARIANT_BOOL hasFix;
    VARIANT_BOOL differential;
  };
  const Row rows[] = {
      {GPSQualityNoGPS, 0, VARIANT_FALSE, VARIANT_FALSE},  {GPSQualityNoFix, 2, VARIANT_FALSE, VARIANT_TRUE},
      {GPSQualityPoor, 1, VARIANT_TRUE, VARIANT_FALSE},    {GPSQualityEnhanced, 2, VARIANT_TRUE, VARIANT_TRUE},
      {GPSQualityInertial, 7, VARIANT_TRUE, VARIANT_FALSE},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.quality);
    Edit([&](vov::GPSFix& f) {
      f.fixQuality = row.quality;
      f.ggaQuality = row.ggaQuality;
    });
    GPSQuality quality = GPSQualityNoGPS;
    VARIANT_BOOL hasFix = 5, differential = 5;
    EXPECT_EQ(gps_->GetFixQuality(&quality), S_OK);
    EXPECT_EQ(gps_->HasGPSFix(&hasFix), S_OK);
    EXPECT_EQ(gps_->IsDifferentialEnabled(&differential), S_OK);
    EXPECT_EQ(quality, row.quality);
    EXPECT_EQ(hasFix, row.hasFix);
    EXPECT_EQ(differential, row.differential);
  }

  // A fresh fix: no heading, 50 for the dilutions, no satellites.
  SHORT heading = 0, instantaneous = 0, satellites = 5;
  double hdop = 0, vdop = 0;
  VARIANT_BOOL valid = 5;
  EXPECT_EQ(gps_->GetHeadingDegrees(&heading), S_OK);
  EXPECT_EQ(gps_->GetInstantaneousHeadingDegrees(&instantaneous), S_OK);
  EXPECT_EQ(gps_->IsHeadingValid(&valid), S_OK);
  EXPECT_EQ(gps_->GetHDOP(&hdop), S_OK);
  EXPECT_EQ(gps_->GetVDOP(&vdop), S_OK);
  EXPECT_EQ(gps_->GetNumberOfSatellites(&satellites), S_OK);
  EXPECT_EQ(heading, -1);
  EXPECT_EQ(instantaneous, -1);
  EXPECT_EQ(valid, VARIANT_FALSE);
  EXPECT_EQ(hdop, 50.0);
  EXPECT_EQ(vdop, 50.0);
  EXPECT_EQ(satellites, 0);

  Edit([](vov::GPSFix& f) {
    f.heading = 0;
    f.instantaneousHeading = 7;
    f.hdop = 1.2;
    f.vdop = 0.9;
    f.satellites = 9;
  });
  EXPECT_EQ(gps_->GetHeadingDegrees(&heading), S_OK);
  EXPECT_EQ(gps_->GetInstantaneousHeadingDegrees(&instantaneous), S_OK);
  EXPECT_EQ(gps_->IsHeadingValid(&valid), S_OK);
  EXPECT_EQ(gps_->GetHDOP(&hdop), S_OK);
  EXPECT_EQ(gps_->GetVDOP(&vdop), S_OK);
  EXPECT_EQ(gps_->GetNumberOfSatellites(&satellites), S_OK);
  EXPECT_EQ(heading, 0);
  EXPECT_EQ(instantaneous, 7);
  EXPECT_EQ(valid, VARIANT_TRUE);
  EXPECT_EQ(hdop, 1.2);
  EXPECT_EQ(vdop, 0.9);
  EXPECT_EQ(satellites, 9);

  BSTR words = nullptr;
  EXPECT_EQ(gps_->GetHeading(HeadingCompass, &words), S_OK);
  EXPECT_EQ(Taken(words), "north");
  Edit([](vov::GPSFix& f) { f.heading = 135; });
  EXPECT_EQ(gps_->GetHeading(HeadingDegrees, &words), S_OK);
  EXPECT_EQ(Taken(words), "135");
}

TEST_F(GpsObject, NullOutPointersAreRefused) {
  CGPSObject& g = *gps_;
  const std::pair<const char*, std::function<HRESULT()>> calls[] = {
      {"GetAltitude", [&] { return g.GetAltitude(nullptr); }},
      {"GetHeading", [&] { return g.GetHeading(HeadingCompass, nullptr); }},
      {"GetHeadingDegrees", [&] { return g.GetHeadingDegrees(nullptr); }},
      {"GetSpeed", [&] { return g.GetSpeed(nullptr); }},
      {"GetEstimatedAccuracyDescription", [&] { return g.GetEstimatedAccuracyDescription(nullptr); }},
      {"GetFixQuality", [&] { return g.GetFixQuality(nullptr); }},
      {"GetHDOP", [&] { return g.GetHDOP(nullptr); }},
      {"GetVDOP", [&] { return g.GetVDOP(nullptr); }},
      {"GetNumberOfSatellites", [&] { return g.GetNumberOfSatellites(nullptr); }},
      {"HasGPSFix", [&] { return g.HasGPSFix(nullptr); }},
      {"IsDifferentialEnabled", [&] { return g.IsDifferentialEnabled(nullptr); }},
      {"GetEstimatedAccuracy", [&] { return g.GetEstimatedAccuracy(nullptr); }},
      {"IsValid", [&] { return g.IsValid(nullptr); }},
      {"GetLocation", [&] { return g.GetLocation(nullptr); }},
      {"GetLatitude", [&] { return g.GetLatitude(nullptr); }},
      {"IsHeadingValid", [&] { return g.IsHeadingValid(nullptr); }},
      {"GetSpeedDouble", [&] { return g.GetSpeedDouble(nullptr); }},
      {"GetInstantaneousHeadingDegrees", [&] { return g.GetInstantaneousHeadingDegrees(nullptr); }},
      {"GetName", [&] { return g.GetName(nullptr); }},
      {"GetDescription", [&] { return g.GetDescription(nullptr); }},
  };
  for (const auto& [name, call] : calls) EXPECT_EQ(call(), E_POINTER) << name;

  Held<CGPSStatusObject> status = Make<CGPSStatusObject>();
  CGPSStatusObject& s = *status;
  const std::pair<const char*, std::function<HRESULT()>> statusCalls[] = {
      {"GetFixQuality", [&] { return s.GetFixQuality(nullptr); }},
      {"HasGPSFix", [&] { return s.HasGPSFix(nullptr); }},
      {"IsDifferentialEnabled", [&] { return s.IsDifferentialEnabled(nullptr); }},
      {"GetNumberOfSatellites", [&] { return s.GetNumberOfSatellites(nullptr); }},
      {"GetHDOP", [&] { return s.GetHDOP(nullptr); }},
      {"GetVDOP", [&] { return s.GetVDOP(nullptr); }},
      {"GetEstimatedAccuracy", [&] { return s.GetEstimatedAccuracy(nullptr); }},
      {"GetEstimatedAccuracyDescription", [&] { return s.GetEstimatedAccuracyDescription(nullptr); }},
  };
  for (const auto& [name, call] : statusCalls) EXPECT_EQ(call(), E_POINTER) << name;
}

TEST_F(GpsObject, LocationQueriesSpeakFromTheObjectsOwnHeading) {
  // The bakery 0.001 degrees (364 feet) due north of the fix.
  ASSERT_EQ(gps_->SetLatitude(53.5570), S_OK);
  ASSERT_EQ(gps_->SetLongitude(13.2610), S_OK);
  Held<CLocationObject> bakery = Make<CLocationObject>();
  bakery->SetLatitude(53.5580);
  bakery->SetLongitude(13.2610);
  com::Bstr text;
  ASSERT_TRUE(text.Assign(u"Bakery"));
  bakery->SetName(text);

  VARIANT_BOOL valid = 0;
  LONG distance = 0;
  SHORT bearing = 0;
  EXPECT_EQ(gps_->IsValid(&valid), S_OK);
  EXPECT_EQ(valid, 1);
  EXPECT_EQ(gps_->GetDistance(bakery.get(), &distance), S_OK);
  EXPECT_EQ(distance, 364);
  EXPECT_EQ(gps_->GetBearingDegrees(bakery.get(), &bearing), S_OK);
  EXPECT_EQ(bearing, 0);

  struct Row {
    SHORT heading;
    const char* relative;
    const char* distanceAndHeading;
  };
  const Row rows[] = {
      {0, "ahead", "364 feet ahead"},
      {90, "to the left", "364 feet to the left"},
      {180, "behind", "364 feet behind"},
      {-1, "north", "364 feet north"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.heading);
    Edit([&](vov::GPSFix& f) { f.heading = row.heading; });
    BSTR said = nullptr;
    EXPECT_EQ(gps_->GetRelativeHeading(bakery.get(), &said), S_OK);
    EXPECT_EQ(Taken(said), row.relative);
    EXPECT_EQ(gps_->GetDistanceAndHeading(bakery.get(), &said), S_OK);
    EXPECT_EQ(Taken(said), row.distanceAndHeading);
  }
  Held<CDescriptionConfigurationObject> config = Make<CDescriptionConfigurationObject>();
  Edit([](vov::GPSFix& f) { f.heading = 90; });
  BSTR said = nullptr;
  EXPECT_EQ(gps_->GetDistanceAndHeadingAndName(bakery.get(), config.get(), &said), S_OK);
  EXPECT_EQ(Taken(said), "Bakery, 364 feet to the left");

  // The operations after the interface reach the same inner location.
  ASSERT_TRUE(text.Assign(u"Here"));
  EXPECT_EQ(gps_->SetName(text), S_OK);
  EXPECT_EQ(gps_->GetName(&said), S_OK);
  EXPECT_EQ(Taken(said), "Here");
  EXPECT_EQ(gps_->SetLocation(bakery.get()), S_OK);
  EXPECT_EQ(gps_->GetName(&said), S_OK);
  EXPECT_EQ(Taken(said), "Bakery");
  double latitude = 0;
  EXPECT_EQ(gps_->GetLatitude(&latitude), S_OK);
  EXPECT_EQ(latitude, 53.5580);
  ILocationObject* copy = nullptr;
  ASSERT_EQ(gps_->GetLocation(&copy), S_OK);
  Held<ILocationObject> owned(copy);
  EXPECT_EQ(copy->GetLatitude(&latitude), S_OK);
  EXPECT_EQ(latitude, 53.5580);
  EXPECT_EQ(gps_->GetDescription(&said), S_OK);
  EXPECT_EQ(Taken(said), "");
}

TEST_F(GpsObject, AccuracyDescriptionsOfFixAndSnapshot) {
  struct Row {
    const char* what;
    GPSType receiver;
    const char16_t* receiverName;
    Units units;
    GPSQuality quality;
    double metres;
    LONG ggaQuality;
    SHORT satellites;
    const char* said;
  };
  const Row rows[] = {
      {"no receiver chosen", GPSTypeNone, u"BT-GPS", Imperial, GPSQualityGood, 7.92, 1, 8, "No receiver selected"},
      {"not heard, named", GPSTypeBlueTooth, u"BT-GPS", Imperial, GPSQualityNoGPS, 7.92, 1, 8,
       "No signal from BT-GPS"},
      {"not heard", GPSTypeSerial, u"", Imperial, GPSQualityNoGPS, -1.0, 0, 0, "No signal from the receiver"},
      {"good, feet", GPSTypeSerial, u"", Imperial, GPSQualityGood, 7.92, 1, 8,
       "Estimated accuracy within 25 feet with 8 satellites"},
      {"good, metres", GPSTypeSerial, u"", Metric, GPSQualityGood, 7.92, 1, 8,
       "Estimated accuracy within 7 metres with 8 satellites"},
      {"differential", GPSTypeSerial, u"", Metric, GPSQualityEnhanced, 4.8, 2, 9,
       "Estimated differential accuracy within 4 metres with 9 satellites"},
      {"nautical units speak feet", GPSTypeSerial, u"", Nautical, GPSQualityPoor, 30.0, 1, 4,
       "Estimated accuracy within 98 feet with 4 satellites"},
      {"inertial without satellites", GPSTypeInertial, u"", Imperial, GPSQualityInertial, 7.92, 7, 0,
       "Estimated accuracy within 25 feet without satellites"},
      {"inertial with satellites", GPSTypeInertial, u"", Imperial, GPSQualityInertial, 7.92, 7, 6,
       "Estimated accuracy within 25 feet with 6 satellites"},
      {"no fix", GPSTypeSerial, u"", Imperial, GPSQualityNoFix, 7.92, 1, 3, "No position fix, satellites in use: 3"},
      {"accuracy unknown", GPSTypeSerial, u"", Imperial, GPSQualityFair, -1.0, 1, 5,
       "No position fix, satellites in use: 5"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    vov::GPSSettings& receiver = vov::Utility::Instance()->GPSSettings().Record();
    receiver.receiverType = row.receiver;
    receiver.receiverName = row.receiverName;
    SetUnits(row.units);
    Edit([&](vov::GPSFix& f) {
      f.fixQuality = row.quality;
      f.estimatedAccuracy = row.metres;
      f.ggaQuality = row.ggaQuality;
      f.satellites = row.satellites;
    });
    BSTR said = nullptr;
    EXPECT_EQ(gps_->GetEstimatedAccuracyDescription(&said), S_OK);
    EXPECT_EQ(Taken(said), row.said);

    Held<CGPSStatusObject> status = Make<CGPSStatusObject>();
    status->m_eFixQuality = row.quality;
    status->m_dEstimatedAccuracy = row.metres;
    status->m_bDifferential = row.ggaQuality == 2;
    status->m_nSatellites = row.satellites;
    EXPECT_EQ(status->GetEstimatedAccuracyDescription(&said), S_OK);
    EXPECT_EQ(Taken(said), row.said) << "snapshot";
  }
}

TEST_F(GpsObject, SnapshotGettersGiveWhatWasTaken) {
  Held<CGPSStatusObject> status = Make<CGPSStatusObject>();
  status->m_eFixQuality = GPSQualityFair;
  status->m_bHasFix = true;
  status->m_bDifferential = true;
  status->m_nSatellites = 6;
  status->m_dHDOP = 1.5;
  status->m_dVDOP = 2.5;
  status->m_dEstimatedAccuracy = 6.0;
  GPSQuality quality = GPSQualityNoGPS;
  VARIANT_BOOL hasFix = 0, differential = 0;
  SHORT satellites = 0;
  double hdop = 0, vdop = 0, accuracy = 0;
  EXPECT_EQ(status->GetFixQuality(&quality), S_OK);
  EXPECT_EQ(status->HasGPSFix(&hasFix), S_OK);
  EXPECT_EQ(status->IsDifferentialEnabled(&differential), S_OK);
  EXPECT_EQ(status->GetNumberOfSatellites(&satellites), S_OK);
  EXPECT_EQ(status->GetHDOP(&hdop), S_OK);
  EXPECT_EQ(status->GetVDOP(&vdop), S_OK);
  EXPECT_EQ(status->GetEstimatedAccuracy(&accuracy), S_OK);
  EXPECT_EQ(quality, GPSQualityFair);
  EXPECT_EQ(hasFix, VARIANT_TRUE);
  EXPECT_EQ(differential, VARIANT_TRUE);
  EXPECT_EQ(satellites, 6);
  EXPECT_EQ(hdop, 1.5);
  EXPECT_EQ(vdop, 2.5);
  EXPECT_EQ(accuracy, 6.0);
}

// The user program reads the fix on its own thread while the engine stops
// (and a new engine starts): every getter that speaks in the system's units
// or words keeps the Utility it reads alive, so none reads freed memory
// (the sanitizers watch), and each answers with the Utility it got.
TEST_F(GpsObject, GettersKeepTheUtilityTheyReadWhileAnotherThreadReleasesIt) {
  Edit([](vov::GPSFix& fix) {
    fix.speed = 10.0;
    fix.heading = 90;
    fix.fixQuality = GPSQualityGood;
    fix.hdop = 1.0;
  });
  constexpr int kRounds = 300;
  std::atomic<bool> go{false};
  std::atomic<int> answered{0};
  std::thread reader([&] {
    while (!go.load()) std::this_thread::yield();
    for (int i = 0; i < kRounds; ++i) {
      double speed = 0.0;
      BSTR heading = nullptr;
      BSTR accuracy = nullptr;
      const bool ok = gps_->GetSpeedDouble(&speed) == S_OK && gps_->GetHeading(HeadingCompass, &heading) == S_OK &&
                      gps_->GetEstimatedAccuracyDescription(&accuracy) == S_OK;
      // Imperial (the defaults of every Utility made here): the speed as it
      // is, the heading a compass word.
      if (ok && speed == 10.0 && SysStringLen(heading) > 0) answered.fetch_add(1);
      SysFreeString(heading);
      SysFreeString(accuracy);
    }
  });
  go.store(true);
  for (int i = 0; i < kRounds; ++i) {
    vov::Utility::Release();
    static_cast<void>(vov::Utility::Instance());
  }
  reader.join();
  EXPECT_EQ(answered.load(), kRounds);
}

}  // namespace
