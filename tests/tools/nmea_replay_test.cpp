// The replay command on real receiver logs and the synthetic demo walk: every
// fix it prints is held against the RMC sentences of the file, read here
// independently (checksum, degrees and minutes, knots), so a fault in the
// engine's reading shows as a fix that no sentence of the file gives.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/temp_folder.h"

namespace {

// One RMC sentence of the file with a good checksum and status "A".
struct Rmc {
  std::string utc;  // hh:mm:ss
  double latitude = 0.0, longitude = 0.0;
  double knots = 0.0;
  int course = 0;
};

// One line of the command's output.
struct Tick {
  std::map<std::string, std::string> fields;
  std::vector<std::string> annotations;
  double Number(const std::string& key) const { return std::stod(fields.at(key)); }
};

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) parts.push_back(part);
  if (!text.empty() && text.back() == separator) parts.emplace_back();
  return parts;
}

// ddmm.mmmm (or dddmm.mmmm) and a hemisphere letter to signed degrees.
double Degrees(const std::string& field, const std::string& hemisphere, int degreeDigits) {
  const double degrees = std::stod(field.substr(0, degreeDigits));
  const double minutes = std::stod(field.substr(degreeDigits));
  const double value = degrees + minutes / 60.0;
  return hemisphere == "S" || hemisphere == "W" ? -value : value;
}

bool ChecksumGood(const std::string& line) {
  const auto star = line.rfind('*');
  if (line.empty() || line[0] != '$' || star == std::string::npos || star + 3 > line.size()) return false;
  unsigned sum = 0;
  for (std::size_t i = 1; i < star; ++i) sum ^= static_cast<unsigned char>(line[i]);
  return sum == std::stoul(line.substr(star + 1, 2), nullptr, 16);
}

// The good RMC sentences of any talker, in file order.
std::vector<Rmc> ReadRmcs(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<Rmc> out;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // A receiver's binary output may run into a sentence on the same line:
    // the sentence starts at its "$".
    const auto dollar = line.rfind('$');
    if (dollar == std::string::npos) continue;
    line.erase(0, dollar);
    if (line.size() < 7 || line.compare(3, 3, "RMC") != 0 || !ChecksumGood(line)) continue;
    const std::vector<std::string> f = Split(line.substr(0, line.rfind('*')), ',');
    if (f.size() < 10 || f[2] != "A") continue;
    Rmc rmc;
    rmc.utc = f[1].substr(0, 2) + ":" + f[1].substr(2, 2) + ":" + f[1].substr(4, 2);
    rmc.latitude = Degrees(f[3], f[4], 2);
    rmc.longitude = Degrees(f[5], f[6], 3);
    rmc.knots = f[7].empty() ? 0.0 : std::stod(f[7]);
    rmc.course = f[8].empty() ? 0 : static_cast<int>(std::stod(f[8]));
    out.push_back(rmc);
  }
  return out;
}

std::vector<Tick> RunReplay(const std::string& path, int* exitStatus) {
  const testing_support::CommandResult run = testing_support::RunCommand({NMEA_REPLAY_COMMAND, path});
  *exitStatus = run.exitStatus;
  std::vector<Tick> ticks;
  std::istringstream lines(run.output);
  std::string line;
  while (std::getline(lines, line)) {
    Tick tick;
    std::istringstream in(line);
    std::string word;
    while (in >> word) {
      const auto equals = word.find('=');
      if (equals == std::string::npos) continue;
      const std::string key = word.substr(0, equals);
      if (key == "ann") {
        // The annotation runs to its closing quote, blanks included.
        std::string text = word.substr(equals + 1);
        while (text.size() < 2 || text.back() != '"' || text[text.size() - 2] == '\\') {
          std::string more;
          if (!(in >> more)) break;
          text += " " + more;
        }
        tick.annotations.push_back(text.substr(1, text.size() - 2));
      } else {
        tick.fields[key] = word.substr(equals + 1);
      }
    }
    ticks.push_back(tick);
  }
  return ticks;
}

double MetresBetween(double lat1, double lon1, double lat2, double lon2) {
  constexpr double kRadians = M_PI / 180.0;
  const double dLat = (lat2 - lat1) * kRadians, dLon = (lon2 - lon1) * kRadians;
  const double a = std::sin(dLat / 2) * std::sin(dLat / 2) +
                   std::cos(lat1 * kRadians) * std::cos(lat2 * kRadians) * std::sin(dLon / 2) * std::sin(dLon / 2);
  return 2 * 6371000.0 * std::asin(std::sqrt(a));
}

// Which RMC of the file a tick's fix is: the first at or after `from` with
// the tick's UTC second and a position within a metre; -1 when none is.
long MatchRmc(const std::vector<Rmc>& rmcs, std::size_t from, const Tick& tick) {
  for (std::size_t i = from; i < rmcs.size(); ++i) {
    if (rmcs[i].utc == tick.fields.at("utc") &&
        MetresBetween(rmcs[i].latitude, rmcs[i].longitude, tick.Number("lat"), tick.Number("lon")) < 1.0) {
      return static_cast<long>(i);
    }
  }
  return -1;
}

struct ReplayCheck {
  std::vector<Rmc> rmcs;
  std::vector<Tick> ticks;
  std::vector<long> matched;  // per tick: the RMC it shows, -1 for none
};

// Replays a file and matches every tick that holds a position to an RMC of
// the file, in order; checks speed and course of each match as converted.
ReplayCheck ReplayAndMatch(const std::string& name) {
  ReplayCheck check;
  const std::string path = std::string(NMEA_DATA_DIR) + "/" + name;
  check.rmcs = ReadRmcs(path);
  int status = -1;
  check.ticks = RunReplay(path, &status);
  EXPECT_EQ(status, 0) << name;
  std::size_t from = 0;
  for (const Tick& tick : check.ticks) {
    // No position yet, or the fix was cleared (the position stays, the time
    // of the fix goes).
    if ((tick.Number("lat") == 0.0 && tick.Number("lon") == 0.0) || tick.fields.at("utc") == "00:00:00") {
      check.matched.push_back(-1);
      continue;
    }
    const long index = MatchRmc(check.rmcs, from, tick);
    check.matched.push_back(index);
    if (index < 0) {
      ADD_FAILURE() << name << ": tick " << tick.fields.at("tick") << " shows a fix no later RMC gives: "
                    << tick.fields.at("utc") << " " << tick.fields.at("lat") << " " << tick.fields.at("lon");
      continue;
    }
    from = static_cast<std::size_t>(index);
    const Rmc& rmc = check.rmcs[static_cast<std::size_t>(index)];
    if (tick.fields.at("quality") != "0" || tick.Number("speed_mph") >= 0.0) {
      EXPECT_NEAR(tick.Number("speed_mph"), rmc.knots * 1.15077945, 0.0006) << name << " tick " << tick.fields.at("tick");
      EXPECT_EQ(tick.Number("course"), rmc.course) << name << " tick " << tick.fields.at("tick");
    }
  }
  return check;
}

TEST(NmeaReplay, TheDemoWalkGivesEveryFixOnceInOrderWithItsSpeedAndCourse) {
  const ReplayCheck check = ReplayAndMatch("neubrandenburg-walk.nmea");
  ASSERT_GT(check.rmcs.size(), 3000u);
  // One RMC a second in the file and one poll a second: each fix is shown
  // by exactly one tick, none skipped.
  std::vector<long> shown;
  for (long index : check.matched) {
    if (index >= 0 && (shown.empty() || shown.back() != index)) shown.push_back(index);
  }
  ASSERT_EQ(shown.size(), check.rmcs.size());
  for (std::size_t i = 0; i < shown.size(); ++i) ASSERT_EQ(shown[i], static_cast<long>(i));

  // The first two RMC sentences are not trusted; then a fix of HDOP 0.0 is
  // as good as it gets, until the file ends and the receiver goes silent.
  ASSERT_GT(check.ticks.size(), 10u);
  // The second is followed by its GGA within the same tick; that must not
  // make it a fix either.
  EXPECT_EQ(check.ticks[0].fields.at("state"), "no-receiver");
  EXPECT_EQ(check.ticks[1].fields.at("state"), "no-receiver");
  EXPECT_EQ(check.ticks[2].fields.at("state"), "enhanced");
  EXPECT_EQ(check.ticks.back().fields.at("state"), "no-receiver");

  // Walking straight on for a while, the averaged heading agrees with the
  // receiver's course.
  int straight = 0, agreeing = 0;
  for (std::size_t t = 20; t < check.ticks.size(); ++t) {
    if (check.matched[t] < 15) continue;
    const auto last = static_cast<std::size_t>(check.matched[t]);
    bool same = true;
    for (std::size_t k = last - 15; k < last; ++k) same = same && check.rmcs[k].course == check.rmcs[last].course;
    if (!same || check.rmcs[last].knots < 1.0) continue;
    ++straight;
    const int heading = static_cast<int>(check.ticks[t].Number("heading"));
    const int difference = std::abs(heading - check.rmcs[last].course) % 360;
    if (heading >= 0 && std::min(difference, 360 - difference) <= 30) ++agreeing;
  }
  ASSERT_GT(straight, 100);
  EXPECT_GE(agreeing * 10, straight * 9) << agreeing << " of " << straight;

  // The pedometer samples every sixth tick while walking: it counts the
  // walk's length (the receiver's speed over each second: the positions are
  // rounded to 1.8 m, so summing them would count the rounding too) but for
  // the corners its chords cut.
  double metres = 0.0;
  for (const Rmc& rmc : check.rmcs) metres += rmc.knots * 1852.0 / 3600.0;
  const double walked = check.ticks.back().Number("walked_m");
  EXPECT_GT(metres, 4000.0);
  EXPECT_LT(walked, 1.01 * metres) << walked << " of " << metres;
  EXPECT_GT(walked, 0.97 * metres) << walked << " of " << metres;
}

TEST(NmeaReplay, FastReceiversAndTheirTalkersGiveTheirFixesInOrder) {
  // A Bluetooth receiver at 5 Hz ($GP), and a multi-constellation receiver
  // whose positions come as $GNRMC, between comment lines fed as noise.
  for (const char* name : {"stationary-bt-receiver.nmea", "gpsd/ublox-8.log"}) {
    const ReplayCheck check = ReplayAndMatch(name);
    ASSERT_FALSE(check.rmcs.empty()) << name;
    const Tick* last = nullptr;
    int good = 0;
    for (std::size_t t = 0; t < check.ticks.size(); ++t) {
      if (check.matched[t] >= 0) last = &check.ticks[t];
      const std::string& state = check.ticks[t].fields.at("state");
      if (state != "no-receiver" && state != "no-fix") ++good;
    }
    // Five fixes a second carry one whole second and one position, so the
    // last fix shown is told by its time and place: the file's last.
    ASSERT_NE(last, nullptr) << name;
    EXPECT_EQ(last->fields.at("utc"), check.rmcs.back().utc) << name;
    EXPECT_LT(MetresBetween(last->Number("lat"), last->Number("lon"), check.rmcs.back().latitude,
                            check.rmcs.back().longitude),
              1.0)
        << name;
    EXPECT_GT(good, 0) << name;
    EXPECT_EQ(check.ticks.back().fields.at("state"), "no-receiver") << name;
  }
}

TEST(NmeaReplay, ATraceWithAnnotationsTellsEachOnceWhereItWasRecorded) {
  // A trace as the engine records it: the receiver's bytes with annotation
  // blocks between them, the texts in the phone's 8-bit code page.
  std::ifstream walk(std::string(NMEA_DATA_DIR) + "/neubrandenburg-walk.nmea", std::ios::binary);
  std::string line, trace;
  const std::vector<std::string> texts = {"Start at the corner", "Stra\xDF" "e crossed",  // "Straße" in Windows-1252
                                          "Bench on the left"};
  int rmcs = 0;
  while (std::getline(walk, line) && rmcs < 40) {
    if (line.compare(0, 6, "$GPRMC") == 0) {
      ++rmcs;
      if (rmcs == 5 || rmcs == 20 || rmcs == 35) trace += "\n\n<Ann>" + texts[static_cast<std::size_t>(rmcs / 15)] + "</Ann>\n\n";
    }
    trace += line + "\n";
  }
  const testing_support::TempFolder folder("nmea-replay");
  const std::string path = (folder / "walk.TRC").string();
  std::ofstream(path, std::ios::binary) << trace;

  int status = -1;
  const std::vector<Tick> ticks = RunReplay(path, &status);
  EXPECT_EQ(status, 0);
  std::vector<std::string> told;
  std::vector<std::string> utcs;
  for (const Tick& tick : ticks) {
    for (const std::string& text : tick.annotations) {
      told.push_back(text);
      utcs.push_back(tick.fields.at("utc"));
    }
  }
  EXPECT_EQ(told, (std::vector<std::string>{"Start at the corner", "Stra\u00DFe crossed", "Bench on the left"}));
  // Each is told on the tick that reads the fix recorded just before it
  // (the 4th, 19th and 34th second of the walk) or the next.
  ASSERT_EQ(utcs.size(), 3u);
  EXPECT_TRUE(utcs[0] == "12:00:03" || utcs[0] == "12:00:04") << utcs[0];
  EXPECT_TRUE(utcs[1] == "12:00:18" || utcs[1] == "12:00:19") << utcs[1];
  EXPECT_TRUE(utcs[2] == "12:00:33" || utcs[2] == "12:00:34") << utcs[2];
}

TEST(NmeaReplay, AFileWhoseNameIsNotUtf8IsReplayed) {
  // Host file names are bytes: a log saved on a system with an 8-bit code
  // page keeps "é" as the single byte 0xE9, which is no UTF-8.
  std::ifstream walk(std::string(NMEA_DATA_DIR) + "/neubrandenburg-walk.nmea", std::ios::binary);
  std::string line, text;
  for (int lines = 0; lines < 80 && std::getline(walk, line); ++lines) text += line + "\n";
  const testing_support::TempFolder folder("nmea-replay");
  const std::string path = (folder / "walk-caf\xE9.nmea").string();
  std::ofstream(path, std::ios::binary) << text;
  ASSERT_TRUE(std::filesystem::exists(path));

  int status = -1;
  const std::vector<Tick> ticks = RunReplay(path, &status);
  EXPECT_EQ(status, 0);
  const std::vector<Rmc> rmcs = ReadRmcs(path);
  ASSERT_EQ(rmcs.size(), 20u);
  // Every fix of the file is shown once, in order.
  std::size_t from = 0;
  std::vector<long> shown;
  for (const Tick& tick : ticks) {
    if (tick.fields.at("utc") == "00:00:00") continue;
    const long index = MatchRmc(rmcs, from, tick);
    ASSERT_GE(index, 0) << tick.fields.at("tick");
    if (shown.empty() || shown.back() != index) shown.push_back(index);
    from = static_cast<std::size_t>(index);
  }
  ASSERT_EQ(shown.size(), rmcs.size());
  for (std::size_t i = 0; i < shown.size(); ++i) EXPECT_EQ(shown[i], static_cast<long>(i));
}

TEST(NmeaReplay, AReceiverSpeakingItsBinaryProtocolGivesNoFix) {
  // This log of a SiRF receiver holds its binary protocol, not NMEA text:
  // the bytes are read and dropped, and no position comes of them.
  const ReplayCheck check = ReplayAndMatch("gpsd/bu303-moving.log");
  EXPECT_TRUE(check.rmcs.empty());
  ASSERT_FALSE(check.ticks.empty());
  for (const Tick& tick : check.ticks) {
    EXPECT_EQ(tick.fields.at("quality"), "0");
    EXPECT_EQ(tick.Number("lat"), 0.0);
  }
}

}  // namespace
