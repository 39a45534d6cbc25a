// How the route benchmark runs a router over the pairs, what it measures
// besides the router's own answers (the memory a phase of the run needs),
// and how it sums up and prints the answers of the peer router and the
// router under test side by side.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bench/route/BenchRouter.h"
#include "bench/route/RoutePairs.h"

namespace routebench {

// The memory a phase of the run needs: the peak of the process's resident
// set during the phase above the resident set at its start. Starting a
// phase returns freed heap memory to the system and resets the kernel's
// high-water mark of the resident set, so that an earlier phase's peak
// (the conversion's, say) does not hide this one's. Where the reset is
// refused, the growth of the process's lifetime peak is all there is; it
// is then a lower bound, and `exact` says so.
class MemoryPhase {
 public:
  MemoryPhase();
  double GrowthMb() const;
  bool exact() const { return exact_; }

 private:
  long startKb_ = 0;
  bool exact_ = false;
};

// One router's answers for one travel mode, in the order of the pairs.
struct ModeRun {
  TravelMode mode = TravelMode::kWalking;
  std::vector<BenchRoute> routes;  // of the timed pass
  std::size_t changed = 0;         // answers that differed between the warm-up and the timed pass
  double memoryMb = 0;             // growth during both passes (MemoryPhase)
};

// Routes every pair twice: a warm-up pass (the router's caches and the
// pages of its data fill) and the timed pass whose answers are kept; an
// answer that differs between the two (found or not, length to the
// decimetre) is counted in `changed`.
ModeRun RunMode(BenchRouter& router, TravelMode mode, const std::vector<RoutePair>& pairs);

// The figures of one column of the table. Times and node counts are over
// the routes the router found; length ratios over the pairs both routers
// found, the router's length divided by the reference's.
struct Summary {
  std::size_t found = 0;
  std::size_t failed = 0;
  double medianMs = 0;
  double p95Ms = 0;
  double medianExpanded = -1;  // -1: the router does not tell
  double memoryMb = 0;
  std::size_t compared = 0;  // pairs both found
  double ratioMedian = 0;
  double ratioP95 = 0;
  std::size_t changed = 0;
};

// The q-quantile (0..1) of values, interpolated between the two nearest
// ranks; 0 for no values.
double Quantile(std::vector<double> values, double q);

// `reference` null: the column is the reference itself (no ratios).
Summary Summarise(const ModeRun& run, const ModeRun* reference);

// A hash of the answers (found or not, length to the decimetre), printed so
// that a faster build can be seen to give the same routes.
std::uint64_t AnswersHash(const std::vector<BenchRoute>& routes);

// Prints the table: per travel mode a column for the reference router and
// one for the router under test. `underTest` empty: the table has the
// reference's columns only and says why the other is missing
// (`missingWhy`).
void PrintTable(const char* referenceName, const std::vector<ModeRun>& reference, const char* underTestName,
                const std::vector<ModeRun>& underTest, const std::string& missingWhy);

}  // namespace routebench
