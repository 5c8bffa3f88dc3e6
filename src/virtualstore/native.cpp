#include "virtualstore/native.h"

#include <algorithm>
#include <cstdlib>

#ifndef _WIN32
extern char** environ;
#endif

namespace cfgsweep {

const char* const* processEnvironment() {
#ifdef _WIN32
  return _environ;
#else
  return environ;
#endif
}

std::string nativePathText(std::string text) {
#ifndef _WIN32
  // Composed texts always separate with backslashes, which POSIX takes as ordinary name bytes.
  std::replace(text.begin(), text.end(), '\\', '/');
#endif
  return text;
}

fs::path toFileSystemPath(const std::string& text) {
  return fs::path(nativePathText(text));
}

}  // namespace cfgsweep
