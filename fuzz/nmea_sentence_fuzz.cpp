// Fuzz target of the receiver input: the input, cut at its first zero byte,
// is one sentence handed to the dispatcher as it stands and once more with a
// checksum that fits, so the fuzzer reaches the sentence readers and not only
// the checksum. The fix must stay within what its fields can mean. Then the
// whole input, zero bytes and all, is the byte stream of a replayed trace:
// cut into chunks of the sizes its first byte picks, through the sentence
// assembler and the annotation search, whose carry must stay bounded.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "engine/core/GPSCore.h"
#include "engine/core/GPSObject.h"

namespace {

GPSCore& Core() {
  static GPSCore* core = [] {
    auto* made = new GPSCore();
    CGPSObject* gps = nullptr;
    if (FAILED(CGPSObject::CreateObject(&gps))) std::abort();
    made->m_pGPS.reset(gps);
    made->m_nFirstRmcCountdown = 0;
    return made;
  }();
  return *core;
}

void CheckFix(CGPSObject* gps) {
  std::lock_guard<std::recursive_mutex> hold(gps->Lock());
  const vov::GPSFix& f = gps->Fix();
  if (f.heading < -1 || f.heading > 359) std::abort();
  if (f.instantaneousHeading < -1 || f.instantaneousHeading > 359) std::abort();
  if (f.fixQuality < GPSQualityNoGPS || f.fixQuality > GPSQualityInertial) std::abort();
  if (f.satellites < 0 || f.satellites > 99) std::abort();
  if (f.altitude < -1) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  GPSCore& core = Core();
  CGPSObject* gps = core.m_pGPS.get();
  std::string sentence(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
  core.DispatchNMEASentence(sentence.c_str(), gps);
  CheckFix(gps);

  // The same with "*hh" and CR after the first star-free stretch.
  const std::size_t star = sentence.find('*');
  if (star != std::string::npos) sentence.resize(star);
  unsigned sum = 0;
  for (std::size_t i = 1; i < sentence.size(); ++i) sum ^= static_cast<unsigned char>(sentence[i]);
  char tail[8];
  std::snprintf(tail, sizeof tail, "*%02X\r", sum & 0xFF);
  sentence += tail;
  if (core.DispatchNMEASentence(sentence.c_str(), gps) != FALSE) {
    // Only a position sentence reports itself: a talker of two capital
    // letters other than a maker's own ("$P..."), then "RMC".
    const auto capital = [](char c) { return c >= 'A' && c <= 'Z'; };
    if (sentence.size() < 6 || sentence[0] != '$' || !capital(sentence[1]) || sentence[1] == 'P' ||
        !capital(sentence[2]) || sentence.compare(3, 3, "RMC") != 0) {
      std::abort();
    }
  }
  CheckFix(gps);

  // The stream: chunk sizes 1 to 199 from the first byte.
  const std::size_t chunk = size == 0 ? 1 : 1 + data[0] % GPSCore::kChunkBytes;
  for (std::size_t at = 0; at < size; at += chunk) {
    const auto count = static_cast<DWORD>(std::min(chunk, size - at));
    core.AssembleNMEASentences(reinterpret_cast<const char*>(data) + at, count, core.m_traceSentence.data(),
                               GPSCore::kSentenceCapacity, core.m_nTracePosition, core.m_bTraceInSentence, gps);
    core.ExtractAnnotation(reinterpret_cast<const char*>(data) + at, count);
    if (core.m_nTracePosition > GPSCore::kSentenceCapacity || core.m_pendingAnnotation.size() > 204) std::abort();
  }
  CheckFix(gps);
  return 0;
}
