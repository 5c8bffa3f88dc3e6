#include "command/entry.h"

#include <fstream>

#include <gtest/gtest.h>
#include <boost/filesystem/operations.hpp>

#include "virtualstore/native.h"
#include "virtualstore/target_path.h"

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

// An empty argument vector has no program name to skip; the command must not read past it.
TEST(RunCommand, EmptyArgumentVectorRunsTheRemoval) {
  if (!virtualStoreRoot) {
    GTEST_SKIP() << "USERPROFILE names no scratch profile";
  }
  const std::string copy = composeTargetPath(makeTargetComponents("Program Files"));
  fs::create_directories(toFileSystemPath(copy).parent_path());
  std::ofstream(toFileSystemPath(copy).string()).close();
  ASSERT_TRUE(fs::exists(toFileSystemPath(copy)));

  const char* const argv[] = {nullptr};
  EXPECT_EQ(runCommand(0, argv), 0);
  EXPECT_FALSE(fs::exists(toFileSystemPath(copy)));
}

}  // namespace
}  // namespace cfgsweep
