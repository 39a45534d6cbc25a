// The field readers of the sentence parser. Each reads one field of an 8-bit
// NMEA sentence at a cursor and moves the cursor on. They never read past the
// sentence's terminating zero: a field that is missing (the sentence ended)
// or empty reads as 0, and the cursor then stays on the terminator, so every
// later field reads as 0 too. Internal to engine/core.
#pragma once

#include <cstddef>

namespace vov {

// Characters of a decimal field that are read; the rest of a longer field is
// skipped. Sixteen covers every value a receiver sends ("dddmm.mmmmmmm") and
// keeps a field of digits from growing without bound.
inline constexpr std::size_t kMaxNmeaDecimalCharacters = 16;

// An integer of at most maxDigits characters, stopping at ",", ".", "*" or
// the end; the leading digits give the value (0 for none). With
// skipToComma the cursor then moves past the next "," (or to the end).
int ParseNMEAIntField(const char*& cursor, int maxDigits, bool skipToComma);

// A decimal number ("-12.5", "0.7", "000.0") up to the next "," or "*"; the
// cursor moves past that character. A field of more than
// kMaxNmeaDecimalCharacters characters, or one that is not a number, reads
// as 0.
double ParseNMEAFloatField(const char*& cursor);

// "ddmm.mmmm" followed by the hemisphere field: degrees + minutes / 60,
// negative when the hemisphere is "S". The cursor moves past both fields.
double ParseNMEALatitude(const char*& cursor);
// "dddmm.mmmm" followed by the hemisphere field; negative for "W".
double ParseNMEALongitude(const char*& cursor);

}  // namespace vov
