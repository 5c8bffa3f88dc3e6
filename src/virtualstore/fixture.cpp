#include "virtualstore/fixture.h"

#include <fstream>
#include <stdexcept>
#include <utility>

#include <boost/filesystem/exception.hpp>
#include <boost/filesystem/operations.hpp>

#include "failure/report.h"
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
    reportFailureLine(kFolderNotCreated);
    reportFailureLine(folder.c_str());
    throw;
  }
}

void createEmptyFile(const std::string& file) {
  std::ofstream dummy(nativePathText(file), std::ios::out);
  if (dummy.fail()) {
    reportFailureLine(kFileNotCreated);
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
