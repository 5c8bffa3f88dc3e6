#include "virtualstore/removal.h"

#include <utility>

#include <boost/filesystem/exception.hpp>
#include <boost/filesystem/operations.hpp>

#include "failure/report.h"
#include "virtualstore/native.h"

namespace cfgsweep {

namespace {

fs::path targetPath(TargetComponents target) {
  return toFileSystemPath(composeTargetPath(std::move(target)));
}

// Removes what `target` (two or more components) names, if anything, and returns `target` less its
// last component; after a refused removal, reports it and returns an empty list to end the walk.
TargetComponents removeLastComponent(TargetComponents target) {
  try {
    // Something already gone is no failure: remove() then answers false, which does not matter.
    fs::remove(targetPath(target));
    target.pop_back();
  } catch (const fs::filesystem_error& error) {
    reportFailureLine(error.what());
    target.clear();
  }
  return target;
}

}  // namespace

bool targetExists(TargetComponents target) {
  return fs::exists(targetPath(std::move(target)));
}

void pruneTarget(TargetComponents target) {
  // The program-files folder and the root above it are never the command's to remove.
  if (target.size() <= 1) {
    return;
  }
  if (fs::is_directory(targetPath(target)) && !fs::is_empty(targetPath(target))) {
    return;
  }
  pruneTarget(removeLastComponent(std::move(target)));
}

}  // namespace cfgsweep
