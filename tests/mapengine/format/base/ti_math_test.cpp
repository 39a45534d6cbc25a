// Tests of the map-format library's integer arithmetic: the word-pair 64-bit
// helpers and the division against native 64- and 128-bit integers, the
// interpolated square roots and trigonometry against <cmath> within the
// precision their tables allow, the CRC against a bitwise reference, and the
// record sort against the standard library.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "mapengine/format/base/TiMath.h"

namespace {

using ti::detail::kAsinTable;
using ti::detail::kAtanTable;
using ti::detail::kSineTable;
using ti::detail::kSqrtTable;

using u128 = unsigned __int128;

constexpr long double kPi = 3.141592653589793238462643383279502884L;
// Angle units per radian: 2^28 per turn.
constexpr long double kUnitsPerRadian = 268435456.0L / (2 * kPi);

std::uint64_t Join(const TiUx& v) { return (std::uint64_t{v.high} << 32) | v.low; }
std::uint32_t Low(std::uint64_t v) { return static_cast<std::uint32_t>(v); }
std::uint32_t High(std::uint64_t v) { return static_cast<std::uint32_t>(v >> 32); }

// Random 32-bit values that visit the edges where word arithmetic breaks:
// values around 2^16 and 2^31, zero, all ones, single bits, and runs of ones.
class EdgyRandom {
 public:
  explicit EdgyRandom(std::uint32_t seed) : gen_(seed) {}

  std::uint32_t Word() {
    switch (gen_() % 8) {
      case 0:
        return static_cast<std::uint32_t>(gen_() % 0x10000);
      case 1:
        return 0x10000u + static_cast<std::uint32_t>(gen_() % 5) - 2;
      case 2:
        return 0xFFFFFFFFu - static_cast<std::uint32_t>(gen_() % 3);
      case 3:
        return 0x80000000u + static_cast<std::uint32_t>(gen_() % 5) - 2;
      case 4:
        return 1u << (gen_() % 32);
      case 5:
        return ~0u >> (gen_() % 32);
      default:
        return static_cast<std::uint32_t>(gen_());
    }
  }
  std::uint64_t Wide() { return (std::uint64_t{Word()} << 32) | Word(); }
  std::mt19937& gen() { return gen_; }

 private:
  std::mt19937 gen_;
};

// ---- 64-bit values as word pairs ------------------------------------------------------------

TEST(TiWordPairTest, ProductsSumsAndDifferencesMatchNativeIntegers) {
  EdgyRandom rnd(1301);
  for (int i = 0; i < 300000; ++i) {
    const std::uint32_t a = rnd.Word();
    const std::uint32_t b = rnd.Word();
    const std::uint64_t wa = rnd.Wide();
    const std::uint64_t wb = rnd.Wide();
    TiUx out{0xDEADBEEF, 0xDEADBEEF};
    ASSERT_EQ(TiUxMulUlUl(&out, a, b), &out);
    ASSERT_EQ(Join(out), std::uint64_t{a} * b) << a << " x " << b;
    ASSERT_EQ(Join(*TiUxAddUxUx(&out, Low(wa), High(wa), Low(wb), High(wb))), wa + wb);
    ASSERT_EQ(Join(*TiUxSubUxUx(&out, Low(wa), High(wa), Low(wb), High(wb))), wa - wb);
    ASSERT_EQ(Join(*TiUxAddUxUl(&out, Low(wa), High(wa), b)), wa + b);
    ASSERT_EQ(Join(*TiUxSubUxUl(&out, Low(wa), High(wa), b)), wa - b);
    ASSERT_EQ(Join(*TiUxAddUlUl(&out, a, b)), std::uint64_t{a} + b);
  }
}

TEST(TiWordPairTest, NullOutputWritesNothing) {
  EXPECT_EQ(TiUxMulUlUl(nullptr, 3, 4), nullptr);
  EXPECT_EQ(TiUxAddUxUx(nullptr, 1, 2, 3, 4), nullptr);
  EXPECT_EQ(TiUxSubUxUx(nullptr, 1, 2, 3, 4), nullptr);
  EXPECT_EQ(TiUxAddUxUl(nullptr, 1, 2, 3), nullptr);
  EXPECT_EQ(TiUxSubUxUl(nullptr, 1, 2, 3), nullptr);
  EXPECT_EQ(TiUxAddUlUl(nullptr, 1, 2), nullptr);
}

// ---- Division -----------------------------------------------------------------------------

void ExpectDivision(std::uint64_t n, std::uint32_t d) {
  TiUx q{0xDEADBEEF, 0xDEADBEEF};
  std::uint32_t r = 0xDEADBEEF;
  ASSERT_EQ(TiQRDivUxUl(&q, &r, Low(n), High(n), d), &q);
  ASSERT_EQ(Join(q), n / d) << n << " / " << d;
  ASSERT_EQ(r, n % d) << n << " % " << d;
}

TEST(TiDivisionTest, MatchesNativeDivisionForEveryDivisorShape) {
  EdgyRandom rnd(1302);
  for (int i = 0; i < 400000; ++i) {
    const std::uint32_t d = rnd.Word();
    if (d == 0) continue;
    ExpectDivision(rnd.Wide(), d);
  }
}

// Dividends built as q x d + r with a divisor whose top 16-bit digit is
// smallest after normalisation and quotient digits near 0xFFFF: the cases where
// the estimated quotient digit is too large, by two at worst, and must be
// corrected before it is used.
TEST(TiDivisionTest, CorrectsOverestimatedQuotientDigits) {
  std::mt19937 gen(1303);
  for (int i = 0; i < 1500000; ++i) {
    const int shift = static_cast<int>(gen() % 16);
    const std::uint32_t d = (0x80000000u | static_cast<std::uint32_t>(gen() % 0x10000) |
                             (static_cast<std::uint32_t>(gen() % 4) << 16)) >>
                            shift;
    const std::uint64_t qmax = ~std::uint64_t{0} / d;
    std::uint64_t q = (std::uint64_t{gen()} << 32 | gen()) % (qmax + 1);
    if (i % 2) q |= 0xFFFF'FFFF'0000ull & qmax;  // top digits all ones
    const std::uint64_t r = gen() % d;
    const u128 n = u128{q} * d + r;
    if (n >> 64) continue;
    ExpectDivision(static_cast<std::uint64_t>(n), d);
  }
  // Known shapes: the largest quotients for the smallest normalised divisors.
  for (std::uint32_t d : {0x10000u, 0x10001u, 0x8000'0000u, 0x8000'0001u, 0xFFFF'FFFFu, 0x1'FFFFu}) {
    const std::uint64_t wide = d;
    const std::uint64_t dividends[] = {
        ~std::uint64_t{0}, ~std::uint64_t{0} - 1,           wide << 32,
        (wide << 32) - 1,  (wide - 1) << 32 | 0xFFFF'FFFFu, std::uint64_t{1} << 63};
    for (std::uint64_t n : dividends) ExpectDivision(n, d);
  }
}

TEST(TiDivisionTest, ZeroDivisorAndNullOutputs) {
  TiUx q{7, 7};
  std::uint32_t r = 7;
  EXPECT_EQ(TiQRDivUxUl(&q, &r, 123, 456, 0), &q);
  EXPECT_EQ(Join(q), 0u);
  EXPECT_EQ(r, 0u);
  // Either output may be left out.
  EXPECT_EQ(TiQRDivUxUl(nullptr, &r, 10, 1, 3), nullptr);
  EXPECT_EQ(r, ((1ull << 32) + 10) % 3);
  EXPECT_EQ(TiQRDivUxUl(&q, nullptr, 10, 1, 0x12345), &q);
  EXPECT_EQ(Join(q), ((1ull << 32) + 10) / 0x12345);
  EXPECT_EQ(TiQRDivUxUl(nullptr, nullptr, 10, 1, 3), nullptr);
}

// ---- Ratio ------------------------------------------------------------------------------

// round(n x 2^32 / d), capped at 0xFFFFFFFF.
std::uint64_t ExactRatio(std::uint64_t n, std::uint64_t d) {
  const u128 q = ((u128{n} << 32) + d / 2) / d;
  return q > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint64_t>(q);
}

TEST(TiRatioTest, IsExactForThirtyTwoBitDenominators) {
  EdgyRandom rnd(1304);
  for (int i = 0; i < 200000; ++i) {
    const std::uint32_t d = rnd.Word();
    const std::uint32_t n = rnd.Word();
    if (d == 0) continue;
    ASSERT_EQ(TiUlRatioUxUx(n, 0, d, 0), ExactRatio(n, d)) << n << " / " << d;
  }
}

// With a denominator above 32 bits, n and d are first rounded to d's top 32
// bits: each loses at most half a unit at a scale where d is at least 2^31,
// which moves n/d by at most 2^-31 (one unit of 2^-32 each); with the final
// rounding the result stays within 3 units of 2^-32 of the exact ratio.
TEST(TiRatioTest, StaysWithinThreeUnitsForWideDenominators) {
  EdgyRandom rnd(1305);
  for (int i = 0; i < 200000; ++i) {
    const std::uint64_t d = rnd.Wide() | (std::uint64_t{1} << 32);
    const std::uint64_t d2 = d >> (rnd.gen()() % 32);
    if (d2 >> 32 == 0) continue;
    const std::uint64_t n = (rnd.gen()() % 4 == 0) ? d2 - (rnd.gen()() % 3) : rnd.Wide() % d2;
    const std::uint64_t exact = ExactRatio(n, d2);
    const std::uint64_t got = TiUlRatioUxUx(Low(n), High(n), Low(d2), High(d2));
    ASSERT_LE(got > exact ? got - exact : exact - got, 3u) << n << " / " << d2;
  }
}

TEST(TiRatioTest, EdgeCases) {
  EXPECT_EQ(TiUlRatioUxUx(5, 0, 0, 0), 0u);                    // d = 0
  EXPECT_EQ(TiUlRatioUxUx(0, 2, 0xFFFFFFFF, 1), 0xFFFFFFFFu);  // n high above d high
  EXPECT_EQ(TiUlRatioUxUx(7, 0, 7, 0), 0xFFFFFFFFu);           // ratio 1
  EXPECT_EQ(TiUlRatioUxUx(1, 0, 2, 0), 0x80000000u);
  EXPECT_EQ(TiUlRatioUxUx(0, 1, 0, 2), 0x80000000u);
  EXPECT_EQ(TiUlRatioUxUx(0xFFFFFFFE, 0, 0xFFFFFFFF, 0), 0xFFFFFFFFu);  // rounds up to 1
  // d = 2^33 - 1 rounds up to 2^32 at its first scale; n = 2^32 is about half.
  EXPECT_NEAR(static_cast<double>(TiUlRatioUxUx(0, 1, 0xFFFFFFFF, 1)),
              static_cast<double>(ExactRatio(1ull << 32, (1ull << 33) - 1)), 3.0);
  // The widest denominator, which needs the 33-bit shift.
  EXPECT_NEAR(static_cast<double>(TiUlRatioUxUx(0, 0x80000000, 0xFFFFFFFF, 0xFFFFFFFF)),
              static_cast<double>(ExactRatio(1ull << 63, ~0ull)), 3.0);
  EXPECT_GE(TiUlRatioUxUx(0xFFFFFFFF, 0xFFFFFFFE, 0xFFFFFFFF, 0xFFFFFFFF), 0xFFFFFFFFu - 3);
}

// ---- Bits -----------------------------------------------------------------------------

TEST(TiBitsTest, LogarithmAndLowestBitMatchTheBuiltins) {
  EXPECT_EQ(TiLog2Ul(0), 0);
  EXPECT_EQ(TiLog2Ul(1), 0);
  EXPECT_EQ(TiMinBit(0), -1);
  EXPECT_EQ(TiMinBit(0x80000000u), 31);
  for (int k = 0; k < 32; ++k) {
    const std::uint32_t bit = 1u << k;
    EXPECT_EQ(TiLog2Ul(bit), k);
    EXPECT_EQ(TiLog2Ul(bit | (bit - 1)), k);
    if (k > 1) {
      EXPECT_EQ(TiLog2Ul(bit - 1), k - 1);
    }
    EXPECT_EQ(TiMinBit(bit), k);
    EXPECT_EQ(TiMinBit(~0u << k), k);
  }
  EdgyRandom rnd(1306);
  for (int i = 0; i < 200000; ++i) {
    const std::uint32_t v = rnd.Word() | 1u << (rnd.gen()() % 32);
    ASSERT_EQ(TiLog2Ul(v), 31 - std::countl_zero(v)) << v;
    ASSERT_EQ(TiMinBit(v), std::countr_zero(v)) << v;
  }
}

// ---- Tables ---------------------------------------------------------------------------

// An entry follows f(x) - h^2/12 x f''(x) (the shift that centres the error
// of linear interpolation), rounded to the nearest integer.
void ExpectTunedEntry(std::uint32_t entry, long double f, long double f2, long double h, const char* table,
                      int i) {
  const long double want = f - h * h / 12 * f2;
  EXPECT_LE(std::fabs(static_cast<long double>(entry) - want), 0.5L + 1e-6L) << table << "[" << i << "]";
}

template <std::size_t N>
void ExpectIncreasing(const std::array<std::uint32_t, N>& t, const char* table) {
  for (std::size_t i = 0; i + 1 < N; ++i) EXPECT_LE(t[i], t[i + 1]) << table << "[" << i << "]";
}

TEST(TiTablesTest, FunctionTablesHoldTheirWorkedEntries) {
  EXPECT_EQ(kSineTable[0], 0u);
  EXPECT_EQ(kSineTable[128], 189813127u);
  EXPECT_EQ(kSineTable[256], 268435456u);
  EXPECT_EQ(kSineTable[257], 268435456u);
  EXPECT_EQ(kAtanTable[0], 0u);
  EXPECT_EQ(kAtanTable[64], 19808477u);
  EXPECT_EQ(kAtanTable[128], 0x2000000u);
  EXPECT_EQ(kAsinTable[0], 0u);
  EXPECT_EQ(kAsinTable[128], 22369580u);
  EXPECT_EQ(kAsinTable[256], 0x4000000u);
  EXPECT_EQ(kSqrtTable[0], 1u << 30);
  EXPECT_EQ(kSqrtTable[192], 1u << 31);
  EXPECT_EQ(ti::detail::kRoundBias[0], 0u);
  for (int k = 1; k < 16; ++k) EXPECT_EQ(ti::detail::kRoundBias[k], 1u << (k - 1));
}

TEST(TiTablesTest, FunctionTablesFollowTheirFunctionsTunedForInterpolation) {
  const long double hs = kPi / 512;
  for (int i = 1; i < 256; ++i) {
    const long double s = std::sin(i * hs) * 268435456.0L;
    ExpectTunedEntry(kSineTable[i], s, -s, hs, "sine", i);
  }
  for (int i = 1; i < 128; ++i) {
    const long double x = i / 128.0L;
    ExpectTunedEntry(kAtanTable[i], std::atan(x) * kUnitsPerRadian,
                     -2 * x / ((1 + x * x) * (1 + x * x)) * kUnitsPerRadian, 1 / 128.0L, "atan", i);
  }
  for (int i = 1; i < 256; ++i) {
    const long double x = i / 256.0L;
    ExpectTunedEntry(kAsinTable[i], std::asin(x) * kUnitsPerRadian,
                     x / std::pow(1 - x * x, 1.5L) * kUnitsPerRadian, 1 / 256.0L, "asin", i);
  }
  for (int j = 1; j < 192; ++j) {
    const long double m = 1073741824.0L + j * 16777216.0L;
    ExpectTunedEntry(kSqrtTable[j], std::sqrt(m) * 32768, -0.25L / (m * std::sqrt(m)) * 32768, 16777216.0L,
                     "sqrt", j);
  }
  ExpectIncreasing(kSineTable, "sine");
  ExpectIncreasing(kAtanTable, "atan");
  ExpectIncreasing(kAsinTable, "asin");
  ExpectIncreasing(kSqrtTable, "sqrt");
}

TEST(TiTablesTest, LowestBitAndCrcTables) {
  int used = 0;
  for (int k = 0; k < 32; ++k) {
    const std::uint32_t ones = k == 31 ? ~0u : (2u << k) - 1;
    EXPECT_EQ(ti::detail::kLowestBit[(ones * 0x914C1BADu) >> 26], k);
  }
  for (std::int8_t entry : ti::detail::kLowestBit) used += entry >= 0;
  EXPECT_EQ(used, 32);
  EXPECT_EQ(ti::detail::kCrcTable[0], 0u);
  EXPECT_EQ(ti::detail::kCrcTable[1], 0x1021u);
  EXPECT_EQ(ti::detail::kCrcTable[128], 0x9188u);
  EXPECT_EQ(ti::detail::kCrcTable[255], 0x1EF0u);
}

// ---- Square roots ----------------------------------------------------------------------

// Linear interpolation of sqrt over steps of 2^24 on [2^30, 2^32) errs by at
// most h^2/8 x |sqrt''| <= 2^-17 of the value (at 2^30, where the table's end
// entry is exact); adding the table's rounding, the truncated interpolation
// and the final rounding, |TiSqrt(v) - 2^15 sqrt(v)| <= 2^-17 x 2^15 sqrt(v) + 1.
long double SqrtBound(long double root) { return root * 32768 / 131072 + 1; }

TEST(TiSqrtTest, WorkedValues) {
  EXPECT_EQ(TiSqrt(0), 0u);
  EXPECT_EQ(TiSqrt(1), 32768u);
  EXPECT_EQ(TiSqrt(4), 65536u);
  EXPECT_EQ(TiSqrt(1u << 30), 1u << 30);
  EXPECT_EQ(TiSqrt64(0, 0), 0u);
  EXPECT_EQ(TiSqrt64(1, 0), 1u);
  EXPECT_EQ(TiSqrt64(0, 1u << 30), 0u);  // 2^62
  EXPECT_EQ(TiSqrt64(0xFFFFFFFF, 0xFFFFFFFF), 0u);
  EXPECT_EQ(TiSqrt64(0, 1u << 28), 1u << 30);  // 2^60
}

TEST(TiSqrtTest, StaysWithinTheInterpolationBound) {
  std::mt19937 gen(1307);
  std::vector<std::uint32_t> values;
  for (std::uint32_t v = 0; v < 70000; ++v) values.push_back(v);
  for (int k = 0; k < 32; ++k)
    for (std::uint32_t d : {0u, 1u, 2u}) values.push_back((1u << k) + d), values.push_back((1u << k) - d);
  values.push_back(0xFFFFFFFF);
  for (int i = 0; i < 600000; ++i) values.push_back(static_cast<std::uint32_t>(gen()) >> (gen() % 32));
  long double worst = 0;
  for (std::uint32_t v : values) {
    const long double root = std::sqrt(static_cast<long double>(v));
    const long double err = std::fabs(TiSqrt(v) - root * 32768);
    ASSERT_LE(err, SqrtBound(root)) << "TiSqrt(" << v << ") = " << TiSqrt(v);
    if (root > 0) worst = std::max(worst, (err - 1) / (root * 32768));
  }
  RecordProperty("worst_relative_error", std::to_string(static_cast<double>(worst)));
}

// TiSqrt64 inherits the relative bound: |TiSqrt64(v) - sqrt(v)| <= 2^-17
// sqrt(v) + 1, the 1 covering the final rounding and the bits that the shift
// drops below the 32 kept.
TEST(TiSqrtTest, SixtyFourBitRootStaysWithinTheBound) {
  EdgyRandom rnd(1308);
  for (int i = 0; i < 400000; ++i) {
    const std::uint64_t v = rnd.Wide() >> (2 + rnd.gen()() % 62);
    const long double root = std::sqrt(static_cast<long double>(v));
    const std::uint32_t got = TiSqrt64(Low(v), High(v));
    ASSERT_LE(std::fabs(got - root), root / 131072 + 1) << "TiSqrt64(" << v << ") = " << got;
  }
  // Below 60000 the bound is under half a unit, so perfect squares come out
  // exactly.
  for (std::uint32_t k = 0; k < 60000; ++k) ASSERT_EQ(TiSqrt64(k * k, 0), k);
  // Anything from 2^62 up gives 0.
  for (int i = 0; i < 1000; ++i) {
    const std::uint64_t v = rnd.Wide() | (std::uint64_t{1} << (62 + i % 2));
    ASSERT_EQ(TiSqrt64(Low(v), High(v)), 0u) << v;
  }
}

// ---- Sine ----------------------------------------------------------------------------

// The sine table is raised by h^2/12 x sin (h = pi/512), at most 842 units of
// 2^28 near 90 degrees, and linear interpolation of exact values falls short
// by up to h^2/8 x sin (1263 units) in mid-step; the two cancel except at the
// entries. In the last step, though, entry 256 is held at exactly 1.0, so
// only the lower end is raised: the error there, -5053 t (1 - t) + 842 (1 - t)
// at fraction t of the step, reaches -877 (t = 0.58). With a unit each for
// table rounding and truncation: 880 units, 3.3 parts per million of 1.0.
constexpr long double kSinBound = 880;

TEST(TiSinTest, WorkedValues) {
  EXPECT_EQ(TiSin(0), 0);
  EXPECT_EQ(TiSin(0x4000000), 1 << 28);
  EXPECT_EQ(TiSin(0x8000000), 0);
  EXPECT_EQ(TiSin(0xC000000), -(1 << 28));
  EXPECT_EQ(TiSin(0x10000000), 0);
  EXPECT_EQ(TiSin(0x14000000), 1 << 28);  // taken modulo 2^28
  EXPECT_EQ(TiSin(0xFC000000), -(1 << 28));
  EXPECT_EQ(TiSin(0x2000000), 189813127);  // 45 degrees lands on entry 128
}

TEST(TiSinTest, StaysWithinTheTableBoundAndIsOddAndPeriodic) {
  std::mt19937 gen(1309);
  for (int i = 0; i < 700000; ++i) {
    const std::uint32_t a = i < 262144 ? static_cast<std::uint32_t>(i) << 10 | (gen() & 0x3FF)
                                       : static_cast<std::uint32_t>(gen());
    const std::int32_t s = TiSin(a);
    const long double exact = std::sin((a & 0xFFFFFFF) / kUnitsPerRadian) * 268435456.0L;
    ASSERT_LE(std::fabs(s - exact), kSinBound) << "TiSin(" << a << ") = " << s;
    ASSERT_EQ(TiSin(0u - a), -s) << a;
    ASSERT_EQ(TiSin(0x8000000u - a), s) << a;
    ASSERT_EQ(TiSin(a + 0x10000000u), s) << a;
    const long double cosine = std::cos((a & 0xFFFFFFF) / kUnitsPerRadian) * 268435456.0L;
    ASSERT_LE(std::fabs(TiSin(a + 0x4000000u) - cosine), kSinBound) << "cos " << a;
  }
}

// ---- Arc sine --------------------------------------------------------------------------

// asin is convex on [0, 1]: interpolating exact values overshoots by at most
// h^2/8 x asin'' (h = 1/256, asin'' largest at the step's upper end) and the
// tuning lowers the entries by h^2/12 x asin'', so the error is at most the
// first plus two units. The last step, up to 1.0, has no finite bound of that
// kind: there asin(1 - e) ~ pi/2 - sqrt(2e), whose chord lies up to
// sqrt(2h)/4 = 0.0221 rad (943,000 units, 1.27 degrees) above the curve; it is
// measured here rather than taken from the formula.
long double AsinBound(long double x) {
  const long double h = 1 / 256.0L;
  const long double upper = std::floor(x * 256 + 1) / 256;
  if (upper < 1) return h * h / 8 * upper / std::pow(1 - upper * upper, 1.5L) * kUnitsPerRadian + 2;
  const long double lo = 1 - h;
  const long double a = std::asin(lo);
  long double gap = 0;
  for (int i = 0; i <= 4096; ++i) {
    const long double x2 = lo + h * i / 4096;
    gap = std::max(gap, a + (kPi / 2 - a) * i / 4096 - std::asin(std::min(x2, 1.0L)));
  }
  return gap * kUnitsPerRadian * 1.001L + 2;
}

TEST(TiAsinTest, ClampsAndWorkedValues) {
  EXPECT_EQ(TiAsin(0), 0);
  EXPECT_EQ(TiAsin(1 << 28), 0x4000000);
  EXPECT_EQ(TiAsin((1 << 28) + 77), 0x4000000);
  EXPECT_EQ(TiAsin(INT32_MAX), 0x4000000);
  EXPECT_EQ(TiAsin(-(1 << 28)), -0x4000000);
  EXPECT_EQ(TiAsin(INT32_MIN), -0x4000000);
  EXPECT_EQ(TiAsin(1 << 27), 22369580);  // asin(1/2) = 30 degrees, entry 128
  EXPECT_EQ(TiAsin(-(1 << 27)), -22369580);
}

TEST(TiAsinTest, StaysWithinTheInterpolationBound) {
  std::mt19937 gen(1310);
  long double lastStepBound = AsinBound(1 - 1e-9L);
  EXPECT_LT(lastStepBound, 1.0e6L);
  for (int i = 0; i < 400000; ++i) {
    const std::int32_t s = static_cast<std::int32_t>(gen() % (2u << 28)) - (1 << 28);
    const long double x = std::fabs(s / 268435456.0L);
    const std::int32_t got = TiAsin(s);
    const long double exact = std::asin(s / 268435456.0L) * kUnitsPerRadian;
    const long double bound = x >= 255 / 256.0L ? lastStepBound : AsinBound(x);
    ASSERT_LE(std::fabs(got - exact), bound) << "TiAsin(" << s << ") = " << got;
    ASSERT_EQ(TiAsin(-s), -got);
  }
}

// ---- Arc tangent ---------------------------------------------------------------------

// atan is concave on [0, 1] with |atan''| <= 3 sqrt(3)/8 = 0.6495. With steps
// h = 1/128 the tuning raises an entry by up to h^2/12 x 0.6495 rad = 141.1
// units, which is the error at the entries; in mid-step the chord's shortfall
// (h^2/8) exceeds the tuning by only h^2/24. The last step, whose upper entry
// is held at exactly 45 degrees, errs by at most 113 units (atan'' = -0.5
// there). Two units more cover table rounding and truncation: 145 units, 0.7
// arc seconds. TiAtan2 adds only the rounding of its 32-bit ratio (0.01 unit).
constexpr long double kAtanBound = 145;

TEST(TiAtanTest, FractionStaysWithinTheInterpolationBound) {
  EXPECT_EQ(TiAtanFrac(0), 0u);
  EXPECT_EQ(TiAtanFrac(0x80000000u), 19808477u);  // atan(1/2), entry 64
  EdgyRandom rnd(1311);
  for (int i = 0; i < 500000; ++i) {
    const std::uint32_t f = rnd.Word();
    const long double exact = std::atan(f / 4294967296.0L) * kUnitsPerRadian;
    const std::uint32_t got = TiAtanFrac(f);
    ASSERT_LE(got, 0x2000000u);
    ASSERT_LE(std::fabs(got - exact), kAtanBound) << "TiAtanFrac(" << f << ") = " << got;
  }
}

TEST(TiAtanTest, WorkedValuesAndDiagonals) {
  EXPECT_EQ(TiAtan2(1, 0), 0x4000000);
  EXPECT_EQ(TiAtan2(0, 0), 0);
  EXPECT_EQ(TiAtan2(0, -5), 0x8000000);
  EXPECT_EQ(TiAtan2(-1, 0), -0x4000000);
  EXPECT_EQ(TiAtan2(0, 9), 0);
  for (std::int32_t m : {1, 3, 46341, 1 << 30, INT32_MAX}) {
    EXPECT_EQ(TiAtan2(m, m), 0x2000000) << m;
    EXPECT_EQ(TiAtan2(m, -m), 0x6000000) << m;
    EXPECT_EQ(TiAtan2(-m, -m), -0x6000000) << m;
    EXPECT_EQ(TiAtan2(-m, m), -0x2000000) << m;
  }
  EXPECT_EQ(TiAtan2(INT32_MIN, INT32_MIN), -0x6000000);
  // Just below the negative x axis the angle rounds to 180 degrees, which the
  // range holds as +0x8000000.
  EXPECT_EQ(TiAtan2(-1, INT32_MIN), 0x8000000);
  EXPECT_EQ(TiAtan2(-1, -2000000000), 0x8000000);
}

TEST(TiAtanTest, AngleStaysWithinTheBoundInEveryOctant) {
  EdgyRandom rnd(1312);
  for (int i = 0; i < 500000; ++i) {
    const auto x = static_cast<std::int32_t>(rnd.Word() >> (rnd.gen()() % 32));
    const auto y = static_cast<std::int32_t>(rnd.Word() >> (rnd.gen()() % 32));
    const std::int32_t got = TiAtan2(y, x);
    ASSERT_GT(got, -0x8000000);
    ASSERT_LE(got, 0x8000000);
    const long double exact =
        std::atan2(static_cast<long double>(y), static_cast<long double>(x)) * kUnitsPerRadian;
    long double diff = std::fmod(got - exact + 3 * 134217728.0L, 268435456.0L) - 134217728.0L;
    ASSERT_LE(std::fabs(diff), kAtanBound) << "TiAtan2(" << y << ", " << x << ") = " << got;
  }
}

// ---- CRC ---------------------------------------------------------------------------------

std::uint32_t BitwiseCrc(const std::string& bytes) {
  std::uint32_t crc = 0;
  for (unsigned char c : bytes) {
    crc ^= std::uint32_t{c} << 8;
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 0x8000) ? ((crc << 1) ^ 0x1021) & 0xFFFF : (crc << 1) & 0xFFFF;
  }
  return crc;
}

TEST(TiCrcTest, KnownValuesMaskAndBadArguments) {
  EXPECT_EQ(TiCrc("abc", nullptr, 3), 0x9DD6u);
  EXPECT_EQ(TiCrc("123456789", nullptr, 9), 0x31C3u);  // the published check value
  const unsigned char mask[3] = {1, 0, 1};
  EXPECT_EQ(TiCrc("abc", mask, 3), TiCrc("ac", nullptr, 2));
  const unsigned char none[3] = {0, 0, 0};
  EXPECT_EQ(TiCrc("abc", none, 3), 0u);
  EXPECT_EQ(TiCrc(nullptr, nullptr, 3), 0u);
  EXPECT_EQ(TiCrc("abc", nullptr, 0), 0u);
  EXPECT_EQ(TiCrc("abc", nullptr, -1), 0u);
}

TEST(TiCrcTest, MatchesABitwiseReferenceWithAndWithoutMask) {
  std::mt19937 gen(1313);
  for (int i = 0; i < 2000; ++i) {
    std::string bytes(gen() % 300 + 1, '\0');
    std::string mask(bytes.size(), '\0');
    std::string kept;
    for (std::size_t j = 0; j < bytes.size(); ++j) {
      bytes[j] = static_cast<char>(gen());
      mask[j] = static_cast<char>(gen() % 3 == 0 ? 0 : gen() % 256 | 1);
      if (mask[j]) kept += bytes[j];
    }
    const auto length = static_cast<std::int32_t>(bytes.size());
    ASSERT_EQ(TiCrc(bytes.data(), nullptr, length), BitwiseCrc(bytes));
    ASSERT_EQ(TiCrc(bytes.data(), mask.data(), length), BitwiseCrc(kept));
  }
}

// ---- Sort ----------------------------------------------------------------------------------

// A record with a key, the position it started at (to check stability and
// that nothing is lost) and padding to a chosen size.
template <std::size_t Pad>
struct Record {
  std::int32_t key;
  std::int32_t origin;
  unsigned char pad[Pad];
};

struct CompareStats {
  long calls = 0;
};

template <typename R>
std::int32_t CompareKeys(const void* a, const void* b, void* context) {
  ++static_cast<CompareStats*>(context)->calls;
  const auto* ra = static_cast<const R*>(a);
  const auto* rb = static_cast<const R*>(b);
  return ra->key < rb->key ? -1 : (ra->key > rb->key ? 1 : 0);
}

template <typename R>
std::vector<R> MakeRecords(std::mt19937& gen, std::size_t count, int shape) {
  std::vector<R> records(count);
  const std::int32_t range =
      shape == 0 ? 5 : (shape == 1 ? static_cast<std::int32_t>(count) * 4 + 1 : 1000000);
  for (std::size_t i = 0; i < count; ++i) {
    R& r = records[i];
    r.key = static_cast<std::int32_t>(gen() % static_cast<std::uint32_t>(range)) - range / 2;
    if (shape == 3) r.key = static_cast<std::int32_t>(i);                      // sorted already
    if (shape == 4) r.key = -static_cast<std::int32_t>(i);                     // reversed
    if (shape == 5) r.key = 7;                                                 // all equal
    if (shape == 6) r.key = static_cast<std::int32_t>(i % 2 ? i : count - i);  // organ pipe
    r.origin = static_cast<std::int32_t>(i);
    std::memset(r.pad, static_cast<int>(i & 0xFF), sizeof r.pad);
  }
  return records;
}

template <typename R>
void CheckSort(std::mt19937& gen, std::size_t count, int shape) {
  std::vector<R> records = MakeRecords<R>(gen, count, shape);
  std::vector<R> want = records;
  R scratch{};
  CompareStats stats;
  ASSERT_EQ(
      TiSort(records.data(), static_cast<std::int32_t>(count), sizeof(R), &scratch, CompareKeys<R>, &stats),
      1);
  const auto byKey = [](const R& a, const R& b) { return a.key < b.key; };
  if (count < 7) {
    // Short lists are sorted by insertion alone, which keeps equal keys in order.
    std::stable_sort(want.begin(), want.end(), byKey);
    for (std::size_t i = 0; i < count; ++i) {
      ASSERT_EQ(records[i].key, want[i].key) << "count " << count << " at " << i;
      ASSERT_EQ(records[i].origin, want[i].origin) << "count " << count << " at " << i;
    }
    return;
  }
  // Longer lists: the same key sequence as std::sort, and the same records.
  std::sort(want.begin(), want.end(), byKey);
  for (std::size_t i = 0; i < count; ++i)
    ASSERT_EQ(records[i].key, want[i].key) << "count " << count << " at " << i;
  std::vector<bool> seen(count, false);
  for (const R& r : records) {
    ASSERT_FALSE(seen[static_cast<std::size_t>(r.origin)]);
    seen[static_cast<std::size_t>(r.origin)] = true;
    for (unsigned char c : r.pad) ASSERT_EQ(c, static_cast<unsigned char>(r.origin & 0xFF));
  }
}

TEST(TiSortTest, ShortListsAreSortedStably) {
  std::mt19937 gen(1314);
  for (int trial = 0; trial < 3000; ++trial) {
    const std::size_t count = 1 + gen() % 6;
    CheckSort<Record<0>>(gen, count, 0);
    CheckSort<Record<5>>(gen, count, static_cast<int>(gen() % 7));
  }
}

TEST(TiSortTest, LongListsMatchStdSortForEveryShapeAndRecordSize) {
  std::mt19937 gen(1315);
  for (int trial = 0; trial < 400; ++trial) {
    const std::size_t count = trial < 100 ? 7 + trial : 7 + gen() % 3000;
    const int shape = trial % 7;
    CheckSort<Record<0>>(gen, count, shape);
    CheckSort<Record<4>>(gen, count, shape);
    CheckSort<Record<92>>(gen, count, shape);  // larger than the swap buffer
  }
  CheckSort<Record<0>>(gen, 200000, 2);
}

TEST(TiSortTest, BadArgumentsAndEmptyInput) {
  std::int32_t values[3] = {3, 1, 2};
  std::int32_t scratch = 0;
  CompareStats stats;
  const TiCompareFn cmp = CompareKeys<Record<0>>;
  EXPECT_EQ(TiSort(nullptr, 3, 4, &scratch, cmp, &stats), kRmfBadArgument);
  EXPECT_EQ(TiSort(values, 3, 4, nullptr, cmp, &stats), kRmfBadArgument);
  EXPECT_EQ(TiSort(values, 3, 4, &scratch, nullptr, &stats), kRmfBadArgument);
  EXPECT_EQ(TiSort(values, -1, 4, &scratch, cmp, &stats), kRmfBadArgument);
  EXPECT_EQ(TiSort(values, 3, -4, &scratch, cmp, &stats), kRmfBadArgument);
  EXPECT_EQ(TiSort(values, 0, 4, &scratch, cmp, &stats), 1);
  EXPECT_EQ(TiSort(values, 3, 0, &scratch, cmp, &stats), 1);
  EXPECT_EQ(stats.calls, 0);
  EXPECT_EQ(values[0], 3);
}

// A comparison that answers at random must not lead the sort outside the
// array or into an endless loop, and must not lose or duplicate records.
TEST(TiSortTest, SurvivesAnInconsistentComparison) {
  std::mt19937 gen(1316);
  struct Chaos {
    std::mt19937* gen;
  } chaos{&gen};
  const TiCompareFn random = [](const void*, const void*, void* context) -> std::int32_t {
    return static_cast<std::int32_t>((*static_cast<Chaos*>(context)->gen)() % 3) - 1;
  };
  for (int trial = 0; trial < 200; ++trial) {
    std::vector<std::int32_t> values(1 + gen() % 2000);
    for (std::size_t i = 0; i < values.size(); ++i) values[i] = static_cast<std::int32_t>(i);
    std::int32_t scratch = 0;
    ASSERT_EQ(TiSort(values.data(), static_cast<std::int32_t>(values.size()), 4, &scratch, random, &chaos),
              1);
    std::sort(values.begin(), values.end());
    for (std::size_t i = 0; i < values.size(); ++i) ASSERT_EQ(values[i], static_cast<std::int32_t>(i));
  }
}

}  // namespace
