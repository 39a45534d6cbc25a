// Fuzz target of the settings file readers: the input is a settings file's
// bytes, read as each of the four files. Every read must give a record; a
// record read and written again must read back to the same record, and its
// bytes must then be stable (the engine rewrites what it read).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/core/SettingsFiles.h"

namespace {

// Records may hold NaN, which never equals itself, so the check is on bytes.
template <class Record, class Parse, class Format>
void ReadWriteRead(std::string_view bytes, Parse parse, Format format) {
  Record first;
  parse(bytes, first);
  const std::string written = format(first);
  Record second;
  if (parse(written, second).result != vov::SettingsFileResult::kRead) std::abort();
  if (format(second) != written) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  ReadWriteRead<vov::SystemSettings>(
      bytes, [](std::string_view b, vov::SystemSettings& r) { return vov::ParseSystemSettings(b, r); },
      vov::FormatSystemSettings);
  ReadWriteRead<vov::GPSSettings>(
      bytes, [](std::string_view b, vov::GPSSettings& r) { return vov::ParseGPSSettings(b, r); },
      vov::FormatGPSSettings);
  ReadWriteRead<vov::LookaroundSettings>(
      bytes, [](std::string_view b, vov::LookaroundSettings& r) { return vov::ParseLookaroundSettings(b, r); },
      vov::FormatLookaroundSettings);
  vov::RouteSettings gps, virtualMode;
  vov::ParseRouteSettings(bytes, gps, virtualMode);
  const std::string written = vov::FormatRouteSettings(gps, virtualMode);
  vov::RouteSettings gps2, virtual2;
  if (vov::ParseRouteSettings(written, gps2, virtual2).result != vov::SettingsFileResult::kRead) std::abort();
  if (!(gps2 == gps) || !(virtual2 == virtualMode)) std::abort();
  return 0;
}
