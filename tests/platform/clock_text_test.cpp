// Tests of the clock (virtual and real, and the phone's time functions going
// through the current one), the text conversions with their malformed inputs,
// case folding, and the debug output sink.
#include <gtest/gtest.h>

#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/os/clock.h"
#include "platform/os/debug.h"
#include "platform/os/text.h"

namespace {

SYSTEMTIME Make(WORD y, WORD mo, WORD d, WORD h = 0, WORD mi = 0, WORD s = 0, WORD ms = 0) {
  SYSTEMTIME t{};
  t.wYear = y;
  t.wMonth = mo;
  t.wDay = d;
  t.wHour = h;
  t.wMinute = mi;
  t.wSecond = s;
  t.wMilliseconds = ms;
  return t;
}

std::string Show(const SYSTEMTIME& t) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u.%03u dow%u", t.wYear, t.wMonth, t.wDay, t.wHour,
                t.wMinute, t.wSecond, t.wMilliseconds, t.wDayOfWeek);
  return buf;
}

// ---- clock ----------------------------------------------------------------------

TEST(VirtualClock, AdvancesAcrossCalendarBoundaries) {
  struct Row {
    SYSTEMTIME start;
    std::uint32_t advanceMs;
    const char* expected;
  };
  const Row rows[] = {
      {Make(1970, 1, 1), 0, "1970-01-01 00:00:00.000 dow4"},
      {Make(2000, 1, 1), 0, "2000-01-01 00:00:00.000 dow6"},
      {Make(2024, 2, 28, 23, 59, 59, 500), 1000, "2024-02-29 00:00:00.500 dow4"},  // leap year
      {Make(2023, 2, 28, 23, 59, 59, 500), 1000, "2023-03-01 00:00:00.500 dow3"},
      {Make(1900, 2, 28, 12), 86'400'000, "1900-03-01 12:00:00.000 dow4"},       // century, not leap
      {Make(2000, 2, 28, 12), 86'400'000, "2000-02-29 12:00:00.000 dow2"},       // 400th year, leap
      {Make(2023, 12, 31, 23, 59, 59, 999), 1, "2024-01-01 00:00:00.000 dow1"},
      {Make(2038, 1, 19, 3, 14, 7), 1000, "2038-01-19 03:14:08.000 dow2"},       // past 32-bit time_t
      {Make(1969, 12, 31, 23, 59, 59), 1000, "1970-01-01 00:00:00.000 dow4"},    // before the epoch
  };
  for (const Row& row : rows) {
    platform::VirtualClock clock(row.start);
    clock.Advance(row.advanceMs);
    EXPECT_EQ(Show(clock.SystemTime()), row.expected) << Show(row.start);
    EXPECT_EQ(clock.TickCount(), row.advanceMs);
  }
}

TEST(VirtualClock, LocalTimeIsSystemTimePlusOffset) {
  platform::VirtualClock east(Make(2024, 3, 1, 23, 30), 120);
  EXPECT_EQ(Show(east.LocalTime()), "2024-03-02 01:30:00.000 dow6");
  EXPECT_EQ(Show(east.SystemTime()), "2024-03-01 23:30:00.000 dow5");
  platform::VirtualClock west(Make(2024, 3, 1, 0, 30), -300);
  EXPECT_EQ(Show(west.LocalTime()), "2024-02-29 19:30:00.000 dow4");
}

TEST(VirtualClock, TicksWrapLikeThePhones) {
  platform::VirtualClock clock(Make(2024, 1, 1));
  clock.Advance(0xFFFFFFF0u);
  clock.Advance(0x20);
  EXPECT_EQ(clock.TickCount(), 0x10u);
  // The date still moves by the whole 49.7 days.
  EXPECT_EQ(Show(clock.SystemTime()), "2024-02-19 17:02:47.312 dow1");
}

TEST(VirtualClock, OutOfRangeStartFieldsGiveADefinedTime) {
  platform::VirtualClock clock(Make(2024, 13, 0, 25, 61, 61, 1000));
  // Month clamped to December; day 0 taken as 1; the rest carried over.
  EXPECT_EQ(Show(clock.SystemTime()), "2024-12-02 02:02:02.000 dow1");
}

TEST(Clock, PhoneFunctionsAskTheCurrentClock) {
  platform::VirtualClock clock(Make(2024, 5, 17, 8, 0), 60);
  platform::SetClock(&clock);
  clock.Advance(1500);
  SYSTEMTIME local{}, utc{};
  GetLocalTime(&local);
  GetSystemTime(&utc);
  EXPECT_EQ(GetTickCount(), 1500u);
  EXPECT_EQ(Show(local), "2024-05-17 09:00:01.500 dow5");
  EXPECT_EQ(Show(utc), "2024-05-17 08:00:01.500 dow5");
  GetLocalTime(nullptr);  // ignored, as the phone would crash instead
  GetSystemTime(nullptr);
  EXPECT_EQ(&platform::CurrentClock(), &clock);
  platform::SetClock(nullptr);
  EXPECT_EQ(&platform::CurrentClock(), &platform::RealClock());
}

// A wait on a virtual clock moves it on at once, ticks and time together: a
// wait of days returns (one that slept for real would hang the test); on the
// real clock it takes at least that long.
TEST(Clock, SleepWaitsOnTheCurrentClock) {
  constexpr DWORD kTwoDaysMs = 2u * 24 * 60 * 60 * 1000;
  platform::VirtualClock clock(Make(2024, 5, 17, 23, 59, 59));
  platform::SetClock(&clock);
  Sleep(1000);
  Sleep(2000);
  Sleep(0);
  EXPECT_EQ(clock.TickCount(), 3000u);
  EXPECT_EQ(Show(clock.SystemTime()), "2024-05-18 00:00:02.000 dow6");
  Sleep(kTwoDaysMs);
  platform::SetClock(nullptr);
  EXPECT_EQ(clock.TickCount(), 3000u + kTwoDaysMs);
  EXPECT_EQ(Show(clock.SystemTime()), "2024-05-20 00:00:02.000 dow1");

  const std::uint32_t before = GetTickCount();
  Sleep(30);
  EXPECT_GE(GetTickCount() - before, 30u);
}

TEST(RealClock, AgreesWithTheHost) {
  platform::Clock& real = platform::RealClock();
  const std::uint32_t t0 = real.TickCount();
  const time_t before = time(nullptr);
  const SYSTEMTIME utc = real.SystemTime();
  const time_t after = time(nullptr);
  struct tm fields {};
  fields.tm_year = utc.wYear - 1900;
  fields.tm_mon = utc.wMonth - 1;
  fields.tm_mday = utc.wDay;
  fields.tm_hour = utc.wHour;
  fields.tm_min = utc.wMinute;
  fields.tm_sec = utc.wSecond;
  const time_t seen = timegm(&fields);
  EXPECT_GE(seen, before);
  EXPECT_LE(seen, after);
  EXPECT_EQ(utc.wDayOfWeek, fields.tm_wday);  // timegm normalised it from the date
  EXPECT_LT(utc.wMilliseconds, 1000);

  const SYSTEMTIME local = real.LocalTime();
  struct tm expected {};
  localtime_r(&seen, &expected);
  // The local reading came a moment later: at most one minute on.
  const int minutesApart = (local.wHour * 60 + local.wMinute - (expected.tm_hour * 60 + expected.tm_min) + 1440) % 1440;
  EXPECT_LE(minutesApart, 1);
  EXPECT_LT(static_cast<std::uint32_t>(real.TickCount() - t0), 60'000u);
}

// ---- UTF-8 / UTF-16 ---------------------------------------------------------------

TEST(Utf8ToUtf16, ValidAndMalformedInput) {
  struct Row {
    std::string in;
    std::u16string expected;
  };
  const Row rows[] = {
      {"Kirchweg", u"Kirchweg"},
      {"\xC3\xA4", u"\u00E4"},                        // 2 bytes
      {"\xE2\x82\xAC", u"\u20AC"},                    // 3 bytes
      {"\xF0\x9F\x98\x80", u"\U0001F600"},            // 4 bytes -> surrogate pair
      {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
      {"\xC0\x80", u"\uFFFD\uFFFD"},                  // overlong NUL
      {"\xC1\xBF", u"\uFFFD\uFFFD"},
      {"\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD"},        // overlong 3-byte form
      {"\xF0\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},        // an encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"\xF5\x80", u"\uFFFD\uFFFD"},
      {"\xE2\x82", u"\uFFFD"},                        // truncated at the end: one U+FFFD
      {"\xE2\x82z", u"\uFFFDz"},                      // truncated before a character
      {"\xF0\x9F\x98", u"\uFFFD"},
      {"\x80", u"\uFFFD"},                            // stray continuation
      {"a\xFF" "b", u"a\uFFFDb"},
      {"\xC3", u"\uFFFD"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(platform::Utf8ToUtf16(row.in), row.expected) << ::testing::PrintToString(row.in);
  }
}

TEST(Utf16ToUtf8, LoneSurrogatesBecomeReplacement) {
  const std::string kFffd = "\xEF\xBF\xBD";
  EXPECT_EQ(platform::Utf16ToUtf8(u"\u00E4\u20AC\U0001F600"), "\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(platform::Utf16ToUtf8(std::u16string(1, char16_t(0xD83D))), kFffd);             // high at the end
  EXPECT_EQ(platform::Utf16ToUtf8(std::u16string{0xD83D, u'a'}), kFffd + "a");               // high, no low
  EXPECT_EQ(platform::Utf16ToUtf8(std::u16string{0xDE00, 0xD83D}), kFffd + kFffd);           // reversed pair
  EXPECT_EQ(platform::Utf16ToUtf8(std::u16string{0xD83D, 0xD83D, 0xDE00}), kFffd + "\xF0\x9F\x98\x80");
}

TEST(Utf8Utf16, EveryCodePointRoundTrips) {
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    std::u16string wide;
    if (cp < 0x10000) {
      wide.push_back(static_cast<char16_t>(cp));
    } else {
      wide.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      wide.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    }
    std::string utf8 = platform::Utf16ToUtf8(wide);
    ASSERT_EQ(platform::Utf8ToUtf16(utf8), wide) << std::hex << static_cast<unsigned>(cp);
  }
}

// ---- Windows-1252 --------------------------------------------------------------------

TEST(Cp1252, MapsTheHighBlockAndReplacesTheRest) {
  EXPECT_EQ(platform::Cp1252ToUtf16("\x80\x8A\x9F\xE9\xFF"), u"\u20AC\u0160\u0178\u00E9\u00FF");
  EXPECT_EQ(platform::Utf16ToCp1252(u"\u20AC\u0160\u0178\u00E9\u00FF"), "\x80\x8A\x9F\xE9\xFF");
  // Undefined bytes travel as their C1 control characters.
  EXPECT_EQ(platform::Cp1252ToUtf16("\x81\x8D\x8F\x90\x9D"), u"\u0081\u008D\u008F\u0090\u009D");
  // What the code page cannot hold: one '?' per character.
  EXPECT_EQ(platform::Utf16ToCp1252(u"\u4E2D\U0001F600x"), "??x");
  EXPECT_EQ(platform::Utf16ToCp1252(u"\u0080\u009F"), "??");  // C1 codes that 1252 gave to other letters
  EXPECT_EQ(platform::Utf16ToCp1252(std::u16string{0xD800, u'a'}), "?a");
}

TEST(Cp1252, EveryByteRoundTrips) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  std::u16string wide = platform::Cp1252ToUtf16(all);
  ASSERT_EQ(wide.size(), 256u);
  EXPECT_EQ(platform::Utf16ToCp1252(wide), all);
  EXPECT_EQ(wide.find(u'\uFFFD'), std::u16string::npos);
}

// ---- bounded length and case folding ---------------------------------------------------

TEST(BoundedLength, StopsAtNulOrLimit) {
  const char16_t text[] = {u'a', u'b', u'c', u'\0', u'd'};
  EXPECT_EQ(platform::BoundedLength(text, 10), 3u);
  EXPECT_EQ(platform::BoundedLength(text, 2), 2u);
  EXPECT_EQ(platform::BoundedLength(text, 0), 0u);
  EXPECT_EQ(platform::BoundedLength(nullptr, 10), 0u);
}

// Every byte against the C library's reading of it as a one-digit base-16
// number: the digits of both cases have their values, everything else
// (signs, spaces, 'g', bytes above 0x7F) is -1.
TEST(HexDigit, EveryByteAgainstTheCLibrary) {
  static_assert(platform::HexDigit('F') == 15 && platform::HexDigit('/') == -1);  // usable in constant expressions
  for (int b = 0; b < 256; ++b) {
    const char c = static_cast<char>(b);
    const char text[2] = {c, '\0'};
    char* end = nullptr;
    const long value = std::strtol(text, &end, 16);
    const int expected = b != 0 && end == text + 1 ? static_cast<int>(value) : -1;
    EXPECT_EQ(platform::HexDigit(c), expected) << "byte " << b;
  }
}

TEST(FoldCase, NamesCompareWithoutRegardToCase) {
  struct Row {
    std::u16string a, b;
    bool equal;
  };
  const Row rows[] = {
      {u"Software", u"SOFTWARE", true},
      {u"\u00C4rger", u"\u00E4RGER", true},            // Latin-1
      {u"\u0391\u0392", u"\u03B1\u03B2", true},        // Greek
      {u"\u041C\u0438\u0440", u"\u043C\u0418\u0420", true},  // Cyrillic
      {u"\U00010400", u"\U00010428", true},            // Deseret: pairs share their high half
      {u"x\U00010400", u"X\U00010428", true},
      {u"Maps", u"Map", false},
      {u"Maps", u"Mapz", false},
      {u"", u"", true},
      {std::u16string{0xD800}, std::u16string{0xD801}, false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(platform::EqualsIgnoringCase(row.a, row.b), row.equal) << platform::Utf16ToUtf8(row.a);
    EXPECT_EQ(platform::FoldCase(row.a) == platform::FoldCase(row.b), row.equal);
    EXPECT_EQ(platform::FoldCaseUtf8(platform::Utf16ToUtf8(row.a)) ==
                  platform::FoldCaseUtf8(platform::Utf16ToUtf8(row.b)),
              row.equal || platform::Utf16ToUtf8(row.a) == platform::Utf16ToUtf8(row.b));
  }
  // Malformed host names stay distinct from each other and from U+FFFD.
  EXPECT_NE(platform::FoldCaseUtf8("\xFF"), platform::FoldCaseUtf8("\xFE"));
  EXPECT_NE(platform::FoldCaseUtf8("\xFF"), platform::FoldCaseUtf8("\xEF\xBF\xBD"));
}

// ---- debug output -----------------------------------------------------------------------

TEST(OutputDebugStringW, GoesToTheSink) {
  std::vector<std::u16string> lines;
  platform::SetDebugOutputSink([&](const std::u16string& line) { lines.push_back(line); });
  OutputDebugStringW(u"GPS fix\n");
  OutputDebugStringW(nullptr);
  OutputDebugStringW(u"");
  platform::SetDebugOutputSink({});
  OutputDebugStringW(u"dropped or on stderr");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], u"GPS fix\n");
  EXPECT_EQ(lines[1], u"");
}

TEST(OutputDebugStringW, DefaultSinkWritesUtf8ToStderrOnlyWhenAsked) {
  platform::SetDebugOutputSink({});
  const char* old = std::getenv("TIRVANE_DEBUG_OUTPUT");
  std::string saved = old != nullptr ? old : "";

  ::unsetenv("TIRVANE_DEBUG_OUTPUT");
  ::testing::internal::CaptureStderr();
  OutputDebugStringW(u"quiet\n");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

  ::setenv("TIRVANE_DEBUG_OUTPUT", "1", 1);
  ::testing::internal::CaptureStderr();
  OutputDebugStringW(u"Stra\u00DFe\n");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Stra\xC3\x9F" "e\n");

  if (old != nullptr) {
    ::setenv("TIRVANE_DEBUG_OUTPUT", saved.c_str(), 1);
  } else {
    ::unsetenv("TIRVANE_DEBUG_OUTPUT");
  }
}

TEST(OutputDebugStringW, AThrowingSinkDoesNotEscape) {
  platform::SetDebugOutputSink([](const std::u16string&) { throw 1; });
  OutputDebugStringW(u"x");
  platform::SetDebugOutputSink({});
}

}  // namespace
