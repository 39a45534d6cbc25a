// The walk over the language library's "$" templates: what it copies, what it
// hands to the caller and how much of the template the caller may take along.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "platform/os/dollar_template.h"

namespace {

// A caller with one code of each kind: "$x" inserts "<x>", "$t" trims the
// last character written so far, "$c" takes the two characters after it
// along, "$z" claims far more than is left, and every other code says nothing.
struct Caller {
  std::vector<std::u16string> seen;  // code and the rest of the template it was given

  std::u16string Expand(std::u16string_view pattern) {
    return platform::ExpandDollarTemplate(pattern, [this](char16_t code, std::u16string& out,
                                                          std::u16string_view rest) -> std::size_t {
      seen.push_back(std::u16string(1, code) + u"|" + std::u16string(rest));
      switch (code) {
        case u'x': out += u"<x>"; return 0;
        case u't':
          if (!out.empty()) out.pop_back();
          return 0;
        case u'c': return 2;
        case u'z': return 1000;
        default: return 0;
      }
    });
  }
};

TEST(DollarTemplate, ExpandsCodesAndKeepsTheRest) {
  struct Case {
    std::u16string_view pattern;
    std::u16string_view expected;
  } const cases[] = {
      {u"", u""},
      {u"no codes at all", u"no codes at all"},
      {u"cost $$5", u"cost $5"},            // "$$" is one "$", never a code
      {u"$$x", u"$x"},
      {u"a $x b", u"a <x> b"},
      {u"$x$x", u"<x><x>"},
      {u"ends in $", u"ends in "},          // a lone "$" at the end is dropped
      {u"unknown $q code", u"unknown  code"},  // a code the caller ignores says nothing
      {u"ab $t", u"ab"},                    // the caller sees and trims what is written
      {u"$c, next", u"next"},               // the caller takes ", " along
      {u"$c,", u""},                        // ... or what is left of it
      {u"tail $z and more", u"tail "},      // a claim beyond the end stops at the end
      {u"$", u""},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    Caller caller;
    EXPECT_EQ(caller.Expand(cases[i].pattern), cases[i].expected) << "case " << i;
  }
}

TEST(DollarTemplate, EachCodeIsHandedOverOnceWithTheTextAfterIt) {
  Caller caller;
  EXPECT_EQ(caller.Expand(u"$x1$$2$q3$c45$"), u"<x>1$23");
  const std::vector<std::u16string> expected = {u"x|1$$2$q3$c45$", u"q|3$c45$", u"c|45$"};
  EXPECT_EQ(caller.seen, expected);
}

}  // namespace
