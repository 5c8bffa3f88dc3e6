#include "virtualstore/removal.h"

#include <stdexcept>
#include <string>
#include <utility>

#include <boost/filesystem/exception.hpp>

#include "failure/report.h"
#include "virtualstore/native.h"

namespace cfgsweep {

namespace {

// The label of the operation that `error` reports. The library keeps it at the head of its own
// text, which newer versions follow with the message, a category and a number.
std::string operationLabel(const fs::filesystem_error& error) {
  const std::string text = error.std::runtime_error::what();
  return text.substr(0, text.find(": "));
}

// The line that reports `error`, as the library has always composed it: the operation's label,
// the system's message without its trailing line end and full stop, and the path in quotation
// marks; composed here so that it reads the same whatever the library's version.
std::string failureDescription(const fs::filesystem_error& error) {
  std::string message = systemMessageText(error.code());
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
    message.pop_back();
  }
  if (!message.empty() && message.back() == '.') {
    message.pop_back();
  }
  return operationLabel(error) + ": " + message + ": \"" + printedPath(error.path1()) + '"';
}

// Removes what `target` (two or more components) names, if anything, and returns `target` less its
// last component; after a refused removal, or one that met a link, returns an empty list to end
// the walk, having reported the refusal.
TargetComponents removeLastComponent(TargetComponents target) {
  try {
    // Something already gone is no failure.
    if (removeEntry(composeTargetPath(target))) {
      target.pop_back();
    } else {
      target.clear();
    }
  } catch (const fs::filesystem_error& error) {
    reportFailureLine(failureDescription(error).c_str());
    target.clear();
  }
  return target;
}

}  // namespace

bool targetExists(TargetComponents target) {
  return visibleAtPath(composeTargetPath(std::move(target)));
}

void pruneTarget(TargetComponents target) {
  // The program-files folder and the root above it are never the command's to remove.
  if (target.size() <= 1) {
    return;
  }
  // What lies behind a link is not the user's VirtualStore: nothing is removed through one, nor the
  // link itself. Every step below reaches its entry afresh through held folders, so a link made
  // meanwhile stops the walk as well.
  const std::string path = composeTargetPath(target);
  const EntryKind kind = findEntry(path, "boost::filesystem::is_directory").kind;
  if (kind == EntryKind::link || (kind == EntryKind::folder && !isEmptyOrGone(path))) {
    return;
  }
  pruneTarget(removeLastComponent(std::move(target)));
}

}  // namespace cfgsweep
