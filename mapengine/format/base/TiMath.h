// Integer arithmetic of the map-format library: 64-bit values as word pairs,
// 64-by-32-bit division, logarithm and square roots, sine, arc sine and arc
// tangent from interpolated tables, the CRC-16 of cached blocks and the
// in-place sort of fixed-size records.
//
// Everything is integer-only so that the library gives the same answers on
// every phone: angles are 2^28 per turn (0x4000000 = 90 degrees), sines and
// cosines are unit fractions (2^28 = 1.0), and a "32-bit fraction" is a u32
// read as value / 2^32. The functions keep no state and allocate nothing.
#pragma once

#include <array>
#include <cstdint>

#include "mapengine/format/RmfExport.h"
#include "mapengine/format/RmfResult.h"
#include "mapengine/format/base/TiTypes.h"

// Orders two records for TiSort: negative when a sorts before b.
typedef std::int32_t (*TiCompareFn)(const void* a, const void* b, void* context);

// --- 64-bit values as (low, high) pairs ------------------------------------
// Each writes its result into *out and returns out; a null out writes nothing
// and returns null.

// a x b.
RMF_API TiUx* TiUxMulUlUl(TiUx* out, std::uint32_t a, std::uint32_t b);
// a + b, modulo 2^64.
RMF_API TiUx* TiUxAddUxUx(TiUx* out, std::uint32_t aLow, std::uint32_t aHigh, std::uint32_t bLow,
                          std::uint32_t bHigh);
// a - b, modulo 2^64.
RMF_API TiUx* TiUxSubUxUx(TiUx* out, std::uint32_t aLow, std::uint32_t aHigh, std::uint32_t bLow,
                          std::uint32_t bHigh);
// a + b with a 64-bit and b 32-bit, modulo 2^64.
RMF_API TiUx* TiUxAddUxUl(TiUx* out, std::uint32_t aLow, std::uint32_t aHigh, std::uint32_t b);
// a - b with a 64-bit and b 32-bit, modulo 2^64.
RMF_API TiUx* TiUxSubUxUl(TiUx* out, std::uint32_t aLow, std::uint32_t aHigh, std::uint32_t b);
// a + b of two 32-bit values, the carry in the high word.
RMF_API TiUx* TiUxAddUlUl(TiUx* out, std::uint32_t a, std::uint32_t b);

// Unsigned 64-by-32-bit division: the quotient into *quotient and the
// remainder into *remainder, either of which may be null. Returns quotient.
// A zero divisor stores a zero quotient and a zero remainder.
RMF_API TiUx* TiQRDivUxUl(TiUx* quotient, std::uint32_t* remainder, std::uint32_t low, std::uint32_t high,
                          std::uint32_t divisor);

// round(n x 2^32 / d) as a 32-bit fraction when it fits; 0xFFFFFFFF when the
// ratio rounds to 1 or more; 0 for d = 0. When d needs more than 32 bits both
// values are first rounded to d's top 32 bits, so the result may then be off
// by a few units of 2^-32.
RMF_API_NODISCARD std::uint32_t TiUlRatioUxUx(std::uint32_t nLow, std::uint32_t nHigh, std::uint32_t dLow,
                                              std::uint32_t dHigh);

// floor(log2 v); 0 for 0 and 1.
RMF_API_NODISCARD std::int32_t TiLog2Ul(std::uint32_t v);
// Index 0..31 of the lowest set bit; -1 for 0.
RMF_API_NODISCARD std::int32_t TiMinBit(std::uint32_t v);

// sqrt(v) x 2^15, rounded, with a relative error below 7.7e-6 (linear
// interpolation in a 193-entry table); 0 for 0.
RMF_API_NODISCARD std::uint32_t TiSqrt(std::uint32_t v);
// sqrt(v) rounded to an integer, for v < 2^62, with the same relative
// precision as TiSqrt; 0 for v >= 2^62.
RMF_API_NODISCARD std::uint32_t TiSqrt64(std::uint32_t low, std::uint32_t high);

// Sine of an angle (taken modulo 2^28) as a unit fraction, -2^28 .. 2^28.
// Cosine is TiSin(angle + 0x4000000).
RMF_API_NODISCARD std::int32_t TiSin(std::uint32_t angle);
// Arc sine of a unit fraction, -0x4000000 .. 0x4000000; arguments beyond
// +-2^28 are clamped. Within about 220 units up to |s| = 0.75 x 2^28, ever
// coarser towards +-1 (up to 1.3 degrees in the last table step, where asin
// turns vertical): callers near 90 degrees take the arc sine of the cosine.
RMF_API_NODISCARD std::int32_t TiAsin(std::int32_t s);
// atan(f / 2^32) in angle units, 0 .. 0x2000000.
RMF_API_NODISCARD std::uint32_t TiAtanFrac(std::uint32_t f);
// The angle of the vector (x, y), 0 = +x, counter-clockwise positive, in
// (-0x8000000, 0x8000000].
RMF_API_NODISCARD std::int32_t TiAtan2(std::int32_t y, std::int32_t x);

// CRC-16/XMODEM (polynomial 0x1021, MSB first, initial 0, no final XOR) of
// length bytes; with a mask, byte i enters only when mask[i] is non-zero.
// Null bytes or length < 1 give 0.
RMF_API_NODISCARD std::uint32_t TiCrc(const void* bytes, const void* mask, std::int32_t length);

// Sorts count records of size bytes in place (quicksort; stretches of up to six
// records by a stable insertion sort). scratch holds one record. Returns 1, or
// kRmfBadArgument (-2) for a null base, scratch or compare or a negative count
// or size. Whatever compare answers, the sort stays inside the array and
// terminates.
RMF_API_NODISCARD std::int32_t TiSort(void* base, std::int32_t count, std::int32_t size, void* scratch,
                                      TiCompareFn compare, void* context);

// The constant tables behind the functions above, for the tests that check
// them against the functions they follow.
namespace ti::detail {
extern const std::array<std::uint32_t, 258> kSineTable;  // sin(i x 90/256 degrees) x 2^28
extern const std::array<std::uint32_t, 129> kAtanTable;  // atan(i / 128) in angle units
extern const std::array<std::uint32_t, 257> kAsinTable;  // asin(i / 256) in angle units
extern const std::array<std::uint32_t, 193> kSqrtTable;  // sqrt(2^30 + j x 2^24) x 2^15
extern const std::array<std::uint16_t, 256> kCrcTable;   // CRC-16, polynomial 0x1021
extern const std::array<std::uint16_t, 16> kRoundBias;   // 2^(k-1), 0 for k = 0
extern const std::array<std::int8_t, 64> kLowestBit;     // see TiMinBit
}  // namespace ti::detail
