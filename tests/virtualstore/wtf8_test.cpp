#include "virtualstore/wtf8.h"

#include <gtest/gtest.h>

namespace cfgsweep {
namespace {

// Names come back whole, an unpaired surrogate too; what no encoder writes never decodes into
// a character, least of all into a NUL in the middle of a path.
TEST(Wtf8, DecodesOnlyWellFormedSequences) {
  const char16_t kBad = u'\xFFFD';
  const struct {
    const char* what;
    std::string text;
    std::u16string expected;
  } cases[] = {
      {"Zoë", "Zo\xC3\xAB", u"Zo\u00EB"},
      {"kanji", "\xE6\x97\xA5", u"\u65E5"},
      {"beyond the BMP", "\xF0\x9F\x98\x80", u"\U0001F600"},
      {"unpaired surrogate", "\xED\xA0\x80", std::u16string(1, char16_t(0xD800))},
      {"overlong NUL", std::string("\xE0\x80\x80"), std::u16string(3, kBad)},
      {"overlong slash", "\xC0\xAF", std::u16string(2, kBad)},
      {"overlong four bytes", "\xF0\x8F\xBF\xBF", std::u16string(4, kBad)},
      {"above U+10FFFF", "\xF4\x90\x80\x80", std::u16string(4, kBad)},
      {"cut short", "a\xE6\x97", u"a" + std::u16string(2, kBad)},
      {"stray continuation", "\x80z", std::u16string(1, kBad) + u"z"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(utf16FromWtf8(c.text), c.expected) << c.what;
  }
}

TEST(Wtf8, RoundTripsEveryUtf16Name) {
  const std::u16string names[] = {u"plain",
                                  u"Zo\u00EB",
                                  u"\u65E5\u672C",
                                  u"\U0001F600",
                                  std::u16string(1, char16_t(0xD800)) + u"x",
                                  u"x" + std::u16string(1, char16_t(0xDFFF))};
  for (const std::u16string& name : names) {
    EXPECT_EQ(utf16FromWtf8(wtf8FromUtf16(name)), name);
  }
}

}  // namespace
}  // namespace cfgsweep
