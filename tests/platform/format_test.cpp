// Tests of the safe wide formatter: each conversion with its flags, what
// happens when template and arguments disagree, and templates that are cut
// short or ask for absurd widths.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

#include "platform/com/types.h"
#include "platform/os/format.h"
#include "platform/os/text.h"

using platform::FormatW;

namespace {

std::string Narrow(const std::u16string& s) { return platform::Utf16ToUtf8(s); }

struct Case {
  const char16_t* tmpl;
  std::u16string expected;
};

TEST(FormatW, NumbersWithWidthsAndPadding) {
  struct Row {
    const char16_t* tmpl;
    platform::FormatArg arg;
    const char16_t* expected;
  };
  const Row rows[] = {
      {u"%d", 42, u"42"},
      {u"%i", -7, u"-7"},
      {u"%u", 42u, u"42"},
      {u"%02u", 5u, u"05"},
      {u"%02u", 123u, u"123"},  // width is a minimum, never a cut
      {u"%4u", 7u, u"   7"},
      {u"%-4u|", 7u, u"7   |"},
      {u"%-04d|", 7, u"7   |"},  // '-' wins over '0'
      {u"%05d", -42, u"-0042"},
      {u"%5d", -42, u"  -42"},
      {u"%-5d|", -42, u"-42  |"},
      {u"%x", 255, u"ff"},
      {u"%X", 255, u"FF"},
      {u"%08X", 0xBEEFu, u"0000BEEF"},
      {u"%08X", E_FAIL, u"80004005"},  // a negative 32-bit value shows its 32-bit pattern
      {u"%u", -1, u"4294967295"},
      {u"%x", static_cast<long long>(INT64_MIN), u"8000000000000000"},
      {u"%d", static_cast<long long>(INT64_MIN), u"-9223372036854775808"},
      {u"%d", static_cast<long long>(INT64_MAX), u"9223372036854775807"},
      {u"%u", static_cast<unsigned long long>(UINT64_MAX), u"18446744073709551615"},
      {u"%d", static_cast<unsigned long long>(UINT64_MAX), u"18446744073709551615"},
      {u"%ld %hd", 3, u"3 %hd"},  // length letters are read and ignored
      {u"%lu", 9ul, u"9"},
      {u"%d", static_cast<short>(-3), u"-3"},
      {u"%u", static_cast<unsigned short>(65535), u"65535"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(FormatW(row.tmpl, {row.arg}), row.expected) << Narrow(row.tmpl);
  }
}

TEST(FormatW, TextAndCharacters) {
  using namespace std::string_view_literals;
  struct Row {
    const char16_t* tmpl;
    platform::FormatArg arg;
    std::u16string_view expected;
  };
  const std::u16string owned = u"Kirchweg";
  const Row rows[] = {
      {u"[%s]", u"Weg", u"[Weg]"sv},
      {u"[%s]", owned, u"[Kirchweg]"sv},
      {u"[%s]", std::u16string_view(u"ab\0cd", 5), u"[ab\0cd]"sv},
      {u"[%-5s]", u"ab", u"[ab   ]"sv},
      {u"[%5s]", u"ab", u"[   ab]"sv},
      {u"[%05s]", u"ab", u"[   ab]"sv},  // zero padding is for numbers
      {u"[%.3s]", u"Kirchweg", u"[Kir]"sv},
      {u"[%6.3s]", u"Kirchweg", u"[   Kir]"sv},
      {u"[%.0s]", u"Kirchweg", u"[]"sv},
      {u"[%.20s]", u"ab", u"[ab]"sv},
      {u"[%s]", static_cast<const char16_t*>(nullptr), u"[(null)]"sv},
      {u"[%c]", u'Z', u"[Z]"sv},
      {u"[%3c]", u'Z', u"[  Z]"sv},
      {u"[%c]", 'A', u"[A]"sv},           // a char arrives as a number
      {u"[%c]", 0x1F600, u"[\U0001F600]"sv},  // a code point beyond the BMP
      {u"[%c]", 0, u"[]"sv},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(FormatW(row.tmpl, {row.arg}), row.expected) << Narrow(row.tmpl);
  }
}

// Templates come from language libraries: a wrong one gives a wrong
// sentence, never a crash, a read of a missing argument, or a huge string.
TEST(FormatW, MismatchedArgumentsAreWrittenAsWellAsTheyCan) {
  EXPECT_EQ(FormatW(u"%s m", {12}), u"12 m");
  EXPECT_EQ(FormatW(u"%s", {-12}), u"-12");
  EXPECT_EQ(FormatW(u"%05s|", {12}), u"   12|");
  EXPECT_EQ(FormatW(u"%s", {7u}), u"7");
  EXPECT_EQ(FormatW(u"%s", {u'x'}), u"x");
  EXPECT_EQ(FormatW(u"%d", {u"Kirchweg"}), u"Kirchweg");
  EXPECT_EQ(FormatW(u"%05d", {u"ab"}), u"   ab");
  EXPECT_EQ(FormatW(u"%x", {u"ab"}), u"ab");
  EXPECT_EQ(FormatW(u"%c", {u"ab"}), u"ab");
  EXPECT_EQ(FormatW(u"%d", {u'A'}), u"65");
  EXPECT_EQ(FormatW(u"%X", {u'A'}), u"41");
  EXPECT_EQ(FormatW(u"%c", {-5}), u"-5");  // no such character: its number
  EXPECT_EQ(FormatW(u"%c", {0x110000}), u"1114112");
  EXPECT_EQ(FormatW(u"%c", {static_cast<unsigned long long>(UINT64_MAX)}), u"18446744073709551615");
}

TEST(FormatW, MissingExtraAndUnknown) {
  const Case cases[] = {
      {u"%d of %d", u"1 of %d"},      // second placeholder has no argument
      {u"%d %-05.2s!", u"1 %-05.2s!"},  // written as it stands
      {u"100%%", u"100%"},
      {u"%%d", u"%d"},
      {u"%q%d", u"%q1"},              // unknown conversion copied, takes no argument
      {u"%#x", u"%#x"},
      {u"%+d", u"%+d"},
      {u"50%", u"50%"},               // template ends at '%'
      {u"50%-", u"50%-"},
      {u"%12", u"%12"},               // ... or inside the width
      {u"%5.", u"%5."},
      {u"%ll", u"%ll"},
      {u"", u""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormatW(c.tmpl, {1}), c.expected) << Narrow(c.tmpl);
  }
  EXPECT_EQ(FormatW(u"%d", {1, 2, 3}), u"1");  // extra arguments are ignored
  EXPECT_EQ(FormatW(u"%s-%s", {}), u"%s-%s");
}

TEST(FormatW, HugeWidthsAreCapped) {
  EXPECT_EQ(FormatW(u"%999999999d", {1}).size(), 4096u);
  EXPECT_EQ(FormatW(u"%99999999999999999999999999d", {1}).size(), 4096u);  // would overflow any integer
  EXPECT_EQ(FormatW(u"%-999999999s|", {u"a"}).size(), 4097u);
  EXPECT_EQ(FormatW(u"%.999999999s", {u"abc"}), u"abc");
  EXPECT_EQ(FormatW(u"%0999999999d", {-1}).front(), u'-');
}

// A few hundred generated templates of placeholder fragments: the formatter
// must finish each with output of bounded size (the sanitizers watch the
// reads).
TEST(FormatW, ArbitraryTemplatesStayBounded) {
  const std::u16string pieces[] = {u"%", u"-", u"0", u"9", u"99999", u".", u"l", u"h", u"s", u"d", u"c",
                                   u"x", u"%%", u"q", u"\uFFFF", u"\xD800"};
  std::uint32_t seed = 12345;  // fixed, so a failure replays
  for (int round = 0; round < 500; ++round) {
    std::u16string tmpl;
    for (int k = 0; k < 8; ++k) {
      seed = seed * 1103515245u + 12345u;
      tmpl += pieces[(seed >> 16) % std::size(pieces)];
    }
    std::u16string out = FormatW(tmpl, {u"abc", -5, 7u, u'z'});
    EXPECT_LE(out.size(), tmpl.size() + 4 * 4096u) << Narrow(tmpl);
  }
}

}  // namespace
