#include "virtualstore/native.h"

#include <fstream>

#include <gtest/gtest.h>
#include <boost/filesystem/operations.hpp>

#include "virtualstore/target_path.h"

namespace cfgsweep {
namespace {

// The emptiness query goes through a handle reopened on the held folder, the step easiest to get
// wrong: a listing that counts "." and ".." would find every folder full and prune nothing.
TEST(IsEmptyOrGone, ListsTheHeldFolder) {
  if (!virtualStoreRoot) {
    GTEST_SKIP() << "USERPROFILE names no scratch profile";
  }
  const std::string folder = composeTargetPath({"Program Files (x86)", "Common Files"});
  const fs::path path = toFileSystemPath(folder);
  const struct {
    const char* what;
    void (*plant)(const fs::path&);
    bool expected;
  } cases[] = {
      {"empty", [](const fs::path& p) { fs::create_directories(p); }, true},
      {"holds a file",
       [](const fs::path& p) {
         fs::create_directories(p);
         std::ofstream((p / "x").string()).close();
       },
       false},
      {"holds a hidden file",
       [](const fs::path& p) {
         fs::create_directories(p);
         std::ofstream((p / ".x").string()).close();
       },
       false},
      {"holds an empty folder", [](const fs::path& p) { fs::create_directories(p / "sub"); },
       false},
      {"gone", [](const fs::path& p) { fs::create_directories(p.parent_path()); }, true},
      {"a file in its place",
       [](const fs::path& p) {
         fs::create_directories(p.parent_path());
         std::ofstream(p.string()).close();
       },
       true},
      {"a link to an empty folder in its place",
       [](const fs::path& p) {
         fs::create_directories(p.parent_path() / "elsewhere");
         fs::create_directory_symlink("elsewhere", p);
       },
       false},
  };
  for (const auto& c : cases) {
    fs::remove_all(toFileSystemPath(*virtualStoreRoot));
    c.plant(path);
    EXPECT_EQ(isEmptyOrGone(folder), c.expected) << c.what;
  }
  fs::remove_all(toFileSystemPath(*virtualStoreRoot));
}

}  // namespace
}  // namespace cfgsweep
