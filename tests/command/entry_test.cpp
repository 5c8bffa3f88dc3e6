#include "command/entry.h"

#include <gtest/gtest.h>

namespace cfgsweep {
namespace {

TEST(UpperCaseCopy, ChangesOnlyAsciiLetters) {
  const struct {
    std::string text;
    std::string expected;
  } cases[] = {
      {"/c", "/C"},
      {"/h", "/H"},
      {"/?", "/?"},
      {"/create", "/CREATE"},
      {"-c ", "-C "},
      {"", ""},
      // Shift-JIS ａ (0x82 0x81) and 表 (0x95 0x5C) keep their bytes: no double-byte awareness.
      {"\x82\x81/c\x95\x5C", "\x82\x81/C\x95\x5C"},
      {"\xE9z", "\xE9Z"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(upperCaseCopy(c.text), c.expected) << c.text;
  }
}

}  // namespace
}  // namespace cfgsweep
