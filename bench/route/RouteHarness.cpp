// Runs routers over the pairs, measures the memory of a phase, and prints
// the side-by-side table of the route benchmark.
#include "bench/route/RouteHarness.h"

#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace routebench {
namespace {

// A "VmRSS:"-style field of /proc/self/status in kB; 0 when missing.
long StatusKb(const char* field) {
  FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) return 0;
  char line[256];
  long kb = 0;
  const std::size_t length = std::strlen(field);
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::strncmp(line, field, length) == 0) {
      kb = std::strtol(line + length, nullptr, 10);
      break;
    }
  }
  std::fclose(status);
  return kb;
}

// Writing 5 to clear_refs sets the high-water mark of the resident set
// (VmHWM) back to the current resident set.
bool ResetPeak() {
  FILE* clear = std::fopen("/proc/self/clear_refs", "w");
  if (clear == nullptr) return false;
  const bool written = std::fputs("5", clear) >= 0;
  return std::fclose(clear) == 0 && written;
}

long Decimetres(double metres) { return std::lround(metres * 10.0); }

bool SameAnswer(const BenchRoute& a, const BenchRoute& b) {
  return a.ok == b.ok && (!a.ok || Decimetres(a.metres) == Decimetres(b.metres));
}

// One column of the table.
struct Column {
  const char* router;
  const ModeRun* run;
  Summary summary;
  const Summary* reference;  // null for the reference's own column
};

// A cell's text.
using Cell = char[64];

// A row of the table: its label, then one cell per column written by `cell`.
template <typename CellWriter>
void Row(const char* label, const std::vector<Column>& columns, const CellWriter& cell) {
  std::printf("%-28s", label);
  for (const Column& c : columns) {
    Cell text = "";
    cell(c, text);
    std::printf(" %16s", text);
  }
  std::printf("\n");
}

}  // namespace

MemoryPhase::MemoryPhase() {
  malloc_trim(0);
  exact_ = ResetPeak();
  startKb_ = StatusKb(exact_ ? "VmRSS:" : "VmHWM:");
}

double MemoryPhase::GrowthMb() const { return static_cast<double>(StatusKb("VmHWM:") - startKb_) / 1024.0; }

ModeRun RunMode(BenchRouter& router, TravelMode mode, const std::vector<RoutePair>& pairs) {
  ModeRun run;
  run.mode = mode;
  const MemoryPhase memory;
  std::vector<BenchRoute> warm;
  warm.reserve(pairs.size());
  for (const RoutePair& p : pairs) warm.push_back(router.Route(p.from, p.to, mode));
  run.routes.reserve(pairs.size());
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    run.routes.push_back(router.Route(pairs[i].from, pairs[i].to, mode));
    if (!SameAnswer(warm[i], run.routes[i])) ++run.changed;
  }
  run.memoryMb = memory.GrowthMb();
  return run;
}

double Quantile(std::vector<double> values, double q) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const double rank = q * static_cast<double>(values.size() - 1);
  const auto below = static_cast<std::size_t>(std::floor(rank));
  const std::size_t above = std::min(below + 1, values.size() - 1);
  return values[below] + (values[above] - values[below]) * (rank - static_cast<double>(below));
}

Summary Summarise(const ModeRun& run, const ModeRun* reference) {
  Summary s;
  std::vector<double> ms;
  std::vector<double> expanded;
  std::vector<double> ratios;
  for (std::size_t i = 0; i < run.routes.size(); ++i) {
    const BenchRoute& r = run.routes[i];
    if (!r.ok) {
      ++s.failed;
      continue;
    }
    ++s.found;
    ms.push_back(r.seconds * 1000.0);
    if (r.expanded >= 0) expanded.push_back(static_cast<double>(r.expanded));
    if (reference != nullptr && i < reference->routes.size()) {
      const BenchRoute& ref = reference->routes[i];
      if (ref.ok && ref.metres > 0) ratios.push_back(r.metres / ref.metres);
    }
  }
  s.medianMs = Quantile(ms, 0.5);
  s.p95Ms = Quantile(ms, 0.95);
  if (!expanded.empty()) s.medianExpanded = Quantile(expanded, 0.5);
  s.memoryMb = run.memoryMb;
  s.compared = ratios.size();
  s.ratioMedian = Quantile(ratios, 0.5);
  s.ratioP95 = Quantile(ratios, 0.95);
  s.changed = run.changed;
  return s;
}

std::uint64_t AnswersHash(const std::vector<BenchRoute>& routes) {
  std::uint64_t h = 14695981039346656037ull;  // FNV-1a over (found, decimetres)
  for (const BenchRoute& r : routes) {
    const long long v = r.ok ? Decimetres(r.metres) : -1;
    for (int shift = 0; shift < 64; shift += 8) h = (h ^ ((static_cast<std::uint64_t>(v) >> shift) & 0xFF)) * 1099511628211ull;
  }
  return h;
}

void PrintTable(const char* referenceName, const std::vector<ModeRun>& reference, const char* underTestName,
                const std::vector<ModeRun>& underTest, const std::string& missingWhy) {
  // Each reference column is followed by the router under test's column of
  // the same mode. Reserved, so that the pointers to reference summaries
  // stay valid while columns are added.
  std::vector<Column> columns;
  columns.reserve(reference.size() * 2);
  for (const ModeRun& ref : reference) {
    columns.push_back(Column{referenceName, &ref, Summarise(ref, nullptr), nullptr});
    const Summary* refSummary = &columns.back().summary;
    for (const ModeRun& run : underTest) {
      if (run.mode == ref.mode) columns.push_back(Column{underTestName, &run, Summarise(run, &ref), refSummary});
    }
  }
  std::printf("\n%-28s", "");
  for (const Column& c : columns) std::printf(" %16s", ModeName(c.run->mode));
  std::printf("\n%-28s", "");
  for (const Column& c : columns) std::printf(" %16s", c.router);
  std::printf("\n");
  Row("pairs", columns, [](const Column& c, Cell& t) { std::snprintf(t, sizeof t, "%zu", c.run->routes.size()); });
  Row("routes found", columns, [](const Column& c, Cell& t) { std::snprintf(t, sizeof t, "%zu", c.summary.found); });
  Row("failures", columns, [](const Column& c, Cell& t) { std::snprintf(t, sizeof t, "%zu", c.summary.failed); });
  Row("time per route, median (ms)", columns,
      [](const Column& c, Cell& t) { std::snprintf(t, sizeof t, "%.3f", c.summary.medianMs); });
  Row("time per route, p95 (ms)", columns,
      [](const Column& c, Cell& t) { std::snprintf(t, sizeof t, "%.3f", c.summary.p95Ms); });
  Row("median time / reference's", columns, [](const Column& c, Cell& t) {
    if (c.reference == nullptr || c.reference->medianMs <= 0) {
      std::snprintf(t, sizeof t, "-");
    } else {
      std::snprintf(t, sizeof t, "%.2f", c.summary.medianMs / c.reference->medianMs);
    }
  });
  Row("nodes expanded, median", columns, [](const Column& c, Cell& t) {
    if (c.summary.medianExpanded < 0) {
      std::snprintf(t, sizeof t, "not told");
    } else {
      std::snprintf(t, sizeof t, "%.0f", c.summary.medianExpanded);
    }
  });
  Row("memory for routing (MB)", columns,
      [](const Column& c, Cell& t) { std::snprintf(t, sizeof t, "%.1f", c.summary.memoryMb); });
  Row("pairs both found", columns, [](const Column& c, Cell& t) {
    if (c.reference == nullptr) {
      std::snprintf(t, sizeof t, "-");
    } else {
      std::snprintf(t, sizeof t, "%zu", c.summary.compared);
    }
  });
  Row("length ratio, median", columns, [](const Column& c, Cell& t) {
    if (c.reference == nullptr) {
      std::snprintf(t, sizeof t, "reference");
    } else {
      std::snprintf(t, sizeof t, "%.3f", c.summary.ratioMedian);
    }
  });
  Row("length ratio, p95", columns, [](const Column& c, Cell& t) {
    if (c.reference == nullptr) {
      std::snprintf(t, sizeof t, "reference");
    } else {
      std::snprintf(t, sizeof t, "%.3f", c.summary.ratioP95);
    }
  });
  Row("changed between passes", columns,
      [](const Column& c, Cell& t) { std::snprintf(t, sizeof t, "%zu", c.summary.changed); });
  Row("answers hash", columns, [](const Column& c, Cell& t) {
    std::snprintf(t, sizeof t, "%016llx", static_cast<unsigned long long>(AnswersHash(c.run->routes)));
  });
  if (underTest.empty()) std::printf("\n%s: %s\n", underTestName, missingWhy.c_str());
}

}  // namespace routebench
