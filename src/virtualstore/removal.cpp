#include "virtualstore/removal.h"

#include <utility>

#include <boost/filesystem/exception.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/system/error_code.hpp>

#include "failure/report.h"
#include "virtualstore/native.h"

namespace cfgsweep {

namespace {

fs::path targetPath(TargetComponents target) {
  return toFileSystemPath(composeTargetPath(std::move(target)));
}

// Whether the VirtualStore root, or anything that `target` names on the way down from it, is a
// link. Asked from the root down, so that no query goes through a link either.
bool chainHoldsLink(TargetComponents target) {
  if (target.empty()) {
    return isLink(fs::symlink_status(toFileSystemPath(*virtualStoreRoot)));
  }
  const fs::path last = targetPath(target);
  target.pop_back();
  return chainHoldsLink(std::move(target)) || isLink(fs::symlink_status(last));
}

// Whether the folder at `folder` holds nothing. A folder that is gone by now counts as empty:
// another run removed it first. Raises filesystem_error for any other failure.
bool isEmptyOrGone(const fs::path& folder) {
  boost::system::error_code error;
  const bool empty = fs::is_empty(folder, error);
  if (!error) {
    return empty;
  }
  if (error == boost::system::errc::no_such_file_or_directory ||
      error == boost::system::errc::not_a_directory) {
    return true;
  }
  throw fs::filesystem_error("boost::filesystem::is_empty", folder, error);
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
  // What lies behind a link is not the user's VirtualStore: nothing is removed through one, nor the
  // link itself. Asked again at every level, so that a link made meanwhile still stops the walk.
  if (chainHoldsLink(target)) {
    return;
  }
  if (fs::is_directory(targetPath(target)) && !isEmptyOrGone(targetPath(target))) {
    return;
  }
  pruneTarget(removeLastComponent(std::move(target)));
}

}  // namespace cfgsweep
