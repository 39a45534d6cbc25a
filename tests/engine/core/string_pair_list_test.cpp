// The engine's list of names already announced, reached directly.
#include "engine/core/StringPairList.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(StringPairList, FindsKeysWhateverTheirCase) {
  StringPairList list;
  EXPECT_FALSE(list.Contains(u"main street"));
  ASSERT_TRUE(list.Add(u"MAIN Street", u"Springfield"));
  ASSERT_TRUE(list.Add(u"Ärger Allee", u"Zürich"));
  ASSERT_TRUE(list.Add(u"", u"nothing"));
  struct Probe {
    const char16_t* key;
    bool found;
  };
  for (const Probe& probe : {Probe{u"main street", true}, Probe{u"MAIN STREET", true}, Probe{u"Main Street", true},
                             Probe{u"ärger allee", true}, Probe{u"ÄRGER ALLEE", true}, Probe{u"", true},
                             Probe{u"main street ", false}, Probe{u"main", false}, Probe{u"Springfield", false}}) {
    EXPECT_EQ(list.Contains(probe.key), probe.found) << std::string(probe.key, probe.key + 4);
  }
  // Keys are kept lower-cased, each value beside its key, as given.
  ASSERT_EQ(list.Count(), 3u);
  EXPECT_EQ(list.KeyAt(0), u"main street");
  EXPECT_EQ(list.ValueAt(0), u"Springfield");
  EXPECT_EQ(list.KeyAt(1), u"ärger allee");
  EXPECT_EQ(list.ValueAt(1), u"Zürich");
}

TEST(StringPairList, RefusesTheFiftyFirstPair) {
  StringPairList list;
  for (std::size_t i = 0; i < StringPairList::kCapacity; ++i) {
    std::u16string key = u"Street " + std::u16string(1, static_cast<char16_t>(u'A' + i / 10)) +
                         static_cast<char16_t>(u'0' + i % 10);
    ASSERT_TRUE(list.Add(key, u"v")) << i;
  }
  EXPECT_FALSE(list.Add(u"One Too Many", u"v"));
  EXPECT_EQ(list.Count(), StringPairList::kCapacity);
  EXPECT_FALSE(list.Contains(u"one too many"));
  EXPECT_TRUE(list.Contains(u"street a0"));
  EXPECT_TRUE(list.Contains(u"STREET E9"));
}

}  // namespace
