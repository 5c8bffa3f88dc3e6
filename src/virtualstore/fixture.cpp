#include "virtualstore/fixture.h"

#include <fstream>
#include <iostream>
#include <stdexcept>
#include <utility>

#include <boost/filesystem/exception.hpp>
#include <boost/filesystem/operations.hpp>

#include "virtualstore/native.h"

namespace cfgsweep {

namespace {

// ファイルの作成に失敗しました
const char kFileNotCreated[] =
    "\x83t\x83@\x83"
    "C\x83\x8B\x82\xCC\x8D\xEC\x90\xAC\x82\xC9\x8E\xB8\x94s\x82\xB5\x82\xDC\x82\xB5\x82\xBD";
// ディレクトリの作成に失敗しました
const char kFolderNotCreated[] =
    "\x83"
    "f\x83"
    "B\x83\x8C\x83N\x83g\x83\x8A\x82\xCC\x8D\xEC\x90\xAC\x82\xC9\x8E\xB8\x94s\x82\xB5\x82\xDC\x82"
    "\xB5\x82\xBD";

void createFolder(const std::string& folder) {
  try {
    fs::create_directory(toFileSystemPath(folder));
  } catch (const fs::filesystem_error&) {
    std::cerr << kFolderNotCreated << std::endl << folder << std::endl;
    throw;
  }
}

void createEmptyFile(const std::string& file) {
  std::ofstream dummy(nativePathText(file), std::ios::out);
  if (dummy.fail()) {
    std::cerr << kFileNotCreated << std::endl;
    throw std::runtime_error("dummy file not created");
  }
  dummy.close();
}

}  // namespace

void plantDummy(std::string base, TargetComponents rest) {
  const bool present = fs::exists(toFileSystemPath(base));
  if (rest.empty()) {
    if (!present) {
      createEmptyFile(base);
    }
    return;
  }
  if (!present) {
    createFolder(base);
  }
  const std::string next = rest.front();
  rest.pop_front();
  plantDummy(base + '\\' + next, std::move(rest));
}

}  // namespace cfgsweep
