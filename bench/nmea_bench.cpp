// The sentence parser on a real walk: every sentence of a 1 Hz replay ($GPRMC,
// $GPGGA, $GPVTG, $GPGSA) through GPSCore::DispatchNMEASentence into one fix
// object, as the tick hands them over (CR kept, one sentence at a time).
// Reported: sentences per second, and a check sum of the fixes (position,
// heading, quality) so that a faster parser cannot pass for a wrong one.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/core/GPSCore.h"
#include "engine/core/GPSObject.h"

#ifndef NMEA_BENCH_WALK
#error "NMEA_BENCH_WALK must name the replay of the walk"
#endif

namespace {

std::vector<std::string> ReadSentences() {
  std::vector<std::string> sentences;
  std::ifstream in(NMEA_BENCH_WALK);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() != '\r') line.push_back('\r');
    if (line.size() > 1) sentences.push_back(line);
  }
  return sentences;
}

// A new fix object, held by the engine, once the walk has been read; null
// (and the benchmark skipped with the reason) otherwise.
CGPSObject* Prepare(benchmark::State& state, bool walkRead, GPSCore& core) {
  if (!walkRead) {
    state.SkipWithError("the walk replay " NMEA_BENCH_WALK " could not be read");
    return nullptr;
  }
  CGPSObject* gps = nullptr;
  if (FAILED(CGPSObject::CreateObject(&gps))) {
    state.SkipWithError("no fix object");
    return nullptr;
  }
  core.m_pGPS.reset(gps);
  return gps;
}

void BM_DispatchWalk(benchmark::State& state) {
  static const std::vector<std::string> sentences = ReadSentences();
  GPSCore core;
  CGPSObject* gps = Prepare(state, !sentences.empty(), core);
  if (gps == nullptr) return;
  std::int64_t rmc = 0;
  double check = 0.0;
  for (auto _ : state) {
    core.ResetGPSFix();
    core.m_nFirstRmcCountdown = 2;
    for (const std::string& sentence : sentences) rmc += core.DispatchNMEASentence(sentence.c_str(), gps);
    double latitude = 0.0;
    gps->GetLatitude(&latitude);
    std::lock_guard<std::recursive_mutex> hold(gps->Lock());
    check = latitude * 1e6 + gps->Fix().heading + static_cast<int>(gps->Fix().fixQuality);
    benchmark::DoNotOptimize(check);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(sentences.size()));
  state.counters["good_rmc_per_pass"] = static_cast<double>(rmc) / static_cast<double>(state.iterations());
  state.counters["fix_check"] = check;
}
BENCHMARK(BM_DispatchWalk)->Unit(benchmark::kMillisecond);

// The same walk as the receiver's byte stream, cut into sentences from chunks
// of the size a poll reads, then dispatched: the whole of the input's work
// per sentence.
void BM_AssembleWalk(benchmark::State& state) {
  std::ifstream in(NMEA_BENCH_WALK, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::vector<std::string> sentences = ReadSentences();
  GPSCore core;
  CGPSObject* gps = Prepare(state, !bytes.empty(), core);
  if (gps == nullptr) return;
  std::int64_t rmc = 0;
  for (auto _ : state) {
    core.ResetGPSFix();
    core.m_nFirstRmcCountdown = 2;
    core.m_nSerialPosition = 0;
    core.m_bSerialInSentence = 0;
    for (std::size_t at = 0; at < bytes.size(); at += GPSCore::kChunkBytes) {
      const auto count = static_cast<DWORD>(std::min<std::size_t>(GPSCore::kChunkBytes, bytes.size() - at));
      rmc += core.AssembleNMEASentences(bytes.data() + at, count, core.m_serialSentence.data(),
                                        GPSCore::kSentenceCapacity, core.m_nSerialPosition,
                                        core.m_bSerialInSentence, gps);
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(sentences.size()));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
  state.counters["chunks_with_good_rmc_per_pass"] = static_cast<double>(rmc) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_AssembleWalk)->Unit(benchmark::kMillisecond);

}  // namespace
