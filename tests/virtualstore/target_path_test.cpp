#include "virtualstore/target_path.h"

#include <vector>

#include <gtest/gtest.h>

namespace cfgsweep {
namespace {

std::optional<std::string> lookUp(std::vector<const char*> entries, const std::string& name) {
  entries.push_back(nullptr);
  return findEnvironmentValue(entries.data(), name);
}

TEST(FindEnvironmentValue, MatchesWholeNameInAnyCase) {
  const struct {
    std::vector<const char*> entries;
    std::optional<std::string> expected;
  } cases[] = {
      {{"USERPROFILE=C:\\Users\\A"}, "C:\\Users\\A"},
      {{"UserProfile=C:\\Users\\B"}, "C:\\Users\\B"},
      {{"userprofile="}, ""},
      {{"PATH=/bin", "USERPROFILE=first", "UserProfile=second"}, "first"},
      {{"USERPROFILEX=wrong", "USERPROFILE_2=wrong", "USERPROFILE=right"}, "right"},
      {{"USERPROFILEX=wrong"}, std::nullopt},
      {{"USERPROFIL=short", "USERPROFILE"}, std::nullopt},
      {{"HOME=/root", "=C:=C:\\"}, std::nullopt},
      {{}, std::nullopt},
      {{"USERPROFILE=a=b"}, "a=b"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(lookUp(c.entries, "userprofile"), c.expected)
        << (c.entries.empty() ? "(empty)" : c.entries.front());
  }
}

TEST(ComposePathBelow, ConcatenatesWithOneBackslashAndNoNormalisation) {
  const TargetComponents x86 = makeTargetComponents("Program Files (x86)");
  const struct {
    std::string profile;
    TargetComponents components;
    std::string expected;
  } cases[] = {
      {"C:\\Users\\A", x86,
       "C:\\Users\\A\\AppData\\Local\\VirtualStore\\Program Files (x86)\\Common Files\\Borland "
       "Shared\\BDE\\idapi32.cfg"},
      {"C:\\Users\\A", makeTargetComponents("Program Files"),
       "C:\\Users\\A\\AppData\\Local\\VirtualStore\\Program Files\\Common Files\\Borland "
       "Shared\\BDE\\idapi32.cfg"},
      {"D:\\", {"Program Files"}, "D:\\\\AppData\\Local\\VirtualStore\\Program Files"},
      {"",
       {"Program Files (x86)", "Common Files"},
       "\\AppData\\Local\\VirtualStore\\Program Files (x86)\\Common Files"},
      {"..\\rel/mixed", {"x"}, "..\\rel/mixed\\AppData\\Local\\VirtualStore\\x"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(composePathBelow(virtualStoreRootOf(c.profile), c.components), c.expected);
    // The walk through held folders takes the profile as given and every name below it one by one.
    const std::string root = virtualStoreRootOf(c.profile);
    TargetComponents names = {"AppData", "Local", "VirtualStore"};
    names.insert(names.end(), c.components.begin(), c.components.end());
    EXPECT_EQ(userProfileOf(root), c.profile);
    EXPECT_EQ(namesBelow(c.profile, c.expected), names) << c.expected;
  }
}

}  // namespace
}  // namespace cfgsweep
