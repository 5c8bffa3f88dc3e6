#include "virtualstore/fixture.h"

#include <stdexcept>
#include <utility>

#include <boost/filesystem/exception.hpp>

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

void reportFolderNotCreated(const std::string& folder) {
  reportFailureLine(kFolderNotCreated);
  reportFailureLine(consolePathText(folder).c_str());
}

void createFolderReported(const std::string& folder) {
  try {
    createFolder(folder);
  } catch (const fs::filesystem_error&) {
    reportFolderNotCreated(folder);
    throw;
  }
}

void createEmptyFile(const std::string& file) {
  // Whatever appeared since the query is left as it is, like anything found there before.
  if (createNewEmptyFile(file) == NewFile::failed) {
    reportFailureLine(kFileNotCreated);
    throw std::runtime_error("dummy file not created");
  }
}

}  // namespace

void plantDummy(std::string base, TargetComponents rest) {
  const FoundEntry found = findEntry(base);
  if (found.kind == EntryKind::link && (!rest.empty() || found.path != base)) {
    // Creating below a link would create wherever it leads, outside the profile.
    reportFolderNotCreated(found.path);
    throw std::runtime_error("link in place of a folder");
  }
  if (rest.empty()) {
    // A link in the file's place, even one that leads nowhere, counts as present.
    if (found.kind == EntryKind::absent) {
      createEmptyFile(base);
    }
    return;
  }
  if (found.kind == EntryKind::absent) {
    createFolderReported(base);
  }
  const std::string next = rest.front();
  rest.pop_front();
  plantDummy(base + '\\' + next, std::move(rest));
}

}  // namespace cfgsweep
