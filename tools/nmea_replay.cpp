// nmea-replay: replays a recorded trace (*.TRC) or a receiver's NMEA log
// through the navigation engine's receiver input and sentence parser, one
// engine poll per second of a virtual clock, as fast as the machine runs, and
// prints one line per tick: the fix state, position, speed, heading, course,
// quality, satellites, HDOP, the fix's UTC time, the distance the pedometer
// has counted and the annotations met.
//
//   nmea-replay [--after N] FILE
//
// FILE is a host path, whose name need not be UTF-8. The replay ends when
// the engine has read the file to its end and closed it, after N more ticks
// (default 8): a silent receiver loses its fix on the seventh poll, so the
// last lines show that too.
//
// Line format (fields separated by blanks, every field always present):
//   tick=<n> state=<no-receiver|no-fix|poor|fair|good|enhanced|inertial>
//   lat=<deg> lon=<deg> speed_mph=<mph> heading=<deg> course=<deg>
//   quality=<0-6> sats=<n> hdop=<x> utc=<hh:mm:ss> walked_m=<metres>
//   [ann="<text>"]...
// Speed is -1.000 and the headings -1 when there is no value.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/core/GPSCore.h"
#include "engine/core/Utility.h"
#include "platform/os/clock.h"
#include "platform/os/text.h"

namespace {

const char* StateWord(GPSQuality quality) {
  switch (quality) {
    case GPSQualityNoGPS:
      return "no-receiver";
    case GPSQualityNoFix:
      return "no-fix";
    case GPSQualityPoor:
      return "poor";
    case GPSQualityFair:
      return "fair";
    case GPSQualityGood:
      return "good";
    case GPSQualityEnhanced:
      return "enhanced";
    case GPSQualityInertial:
      return "inertial";
  }
  return "unknown";
}

int Usage() {
  std::fprintf(stderr, "usage: nmea-replay [--after N] FILE\n");
  return 2;
}

// Quotes an annotation for the line: '"' and '\' escaped, control characters
// as \xNN, so one annotation never breaks the line apart.
std::string Quoted(const std::u16string& text) {
  std::string out = "\"";
  for (unsigned char c : platform::Utf16ToUtf8(text)) {
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    } else if (c < 0x20 || c == 0x7F) {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  out.push_back('"');
  return out;
}

// Closes the descriptor it holds, if any.
struct FileDescriptor {
  int fd = -1;
  FileDescriptor() = default;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd >= 0) ::close(fd);
  }
};

int Replay(const std::string& file, int after) {
  std::error_code error;
  const std::filesystem::path path = std::filesystem::absolute(file, error);
  if (error || !std::filesystem::is_regular_file(path, error)) {
    std::fprintf(stderr, "nmea-replay: cannot read %s\n", file.c_str());
    return 1;
  }

  // Ticks come from a clock that moves only when the replay says so.
  SYSTEMTIME start{};
  start.wYear = 2026;
  start.wMonth = 1;
  start.wDay = 1;
  platform::VirtualClock clock(start);
  platform::SetClock(&clock);

  // The engine names files in UTF-16, and a host path is taken as it is. A
  // name that is not UTF-8 has no UTF-16 form, so that file is opened here
  // and the engine reads it through the open descriptor's own name.
  std::string hostPath = path.string();
  FileDescriptor descriptor;
  if (platform::Utf16ToUtf8(platform::Utf8ToUtf16(hostPath)) != hostPath) {
    descriptor.fd = ::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor.fd < 0) {
      std::fprintf(stderr, "nmea-replay: cannot read %s\n", file.c_str());
      return 1;
    }
    hostPath = "/proc/self/fd/" + std::to_string(descriptor.fd);
  }
  const std::shared_ptr<vov::Utility> utility = vov::Utility::Instance();
  vov::GPSSettings& settings = utility->GPSSettings().Record();
  settings.receiverType = GPSTypeSimulated;
  settings.simulatedGPSFile = platform::Utf8ToUtf16(hostPath);
  settings.lastLatitude = 0.0;
  settings.lastLongitude = 0.0;

  int status = 0;
  {
    GPSCore core;
    std::vector<std::u16string> annotations;
    core.m_annotationObserver = [&annotations](const std::u16string& text) { annotations.push_back(text); };

    std::unique_lock<std::recursive_mutex> com(core.m_csCom);
    if (!core.StartGPSReceiver(2)) {
      std::fprintf(stderr, "nmea-replay: the engine could not open %s\n", file.c_str());
      status = 1;
    } else {
      int left = after;
      for (long tick = 1; left >= 0; ++tick) {
        clock.Advance(1000);
        annotations.clear();
        // What the engine's tick does with the receiver: poll, then the pedometer.
        core.PollGPSInput();
        core.UpdatePedometer(false);
        if (core.m_hTrace == INVALID_HANDLE_VALUE) --left;

        CGPSObject* gps = core.m_pGPS.get();
        std::lock_guard<std::recursive_mutex> hold(gps->Lock());
        const vov::GPSFix& fix = gps->Fix();
        double latitude = 0.0, longitude = 0.0;
        gps->Location()->GetLatitude(&latitude);
        gps->Location()->GetLongitude(&longitude);
        std::printf("tick=%ld state=%s lat=%.7f lon=%.7f speed_mph=%.3f heading=%d course=%d quality=%d sats=%d "
                    "hdop=%.2f utc=%02d:%02d:%02d walked_m=%.1f",
                    tick, StateWord(fix.fixQuality), latitude, longitude, fix.speed, fix.heading,
                    fix.instantaneousHeading, static_cast<int>(fix.fixQuality), fix.satellites, fix.hdop, fix.hour,
                    fix.minute, fix.second, core.m_dPedometerMetres);
        for (const std::u16string& text : annotations) std::printf(" ann=%s", Quoted(text).c_str());
        std::printf("\n");
      }
    }
  }
  vov::Utility::Release();
  platform::SetClock(nullptr);
  return std::fflush(stdout) == 0 ? status : 1;
}

}  // namespace

int main(int argc, char** argv) {
  int after = 8;
  std::string file;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--after") == 0 && i + 1 < argc) {
      char* end = nullptr;
      const long value = std::strtol(argv[++i], &end, 10);
      if (end == argv[i] || *end != '\0' || value < 0 || value > 100000) return Usage();
      after = static_cast<int>(value);
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      return Usage();
    } else if (file.empty()) {
      file = argv[i];
    } else {
      return Usage();
    }
  }
  if (file.empty()) return Usage();
  try {
    return Replay(file, after);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "nmea-replay: %s\n", e.what());
    return 1;
  }
}
