// The seam between composed path texts, the process environment and the platform beneath them.
#ifndef CFGSWEEP_VIRTUALSTORE_NATIVE_H_
#define CFGSWEEP_VIRTUALSTORE_NATIVE_H_

#include <string>

#include <boost/filesystem/path.hpp>

namespace cfgsweep {

namespace fs = boost::filesystem;

// The process environment: NUL-terminated "NAME=value" entries in the system's order, ending in
// a null pointer.
const char* const* processEnvironment();

// The backslash-separated `text` as the platform's file system spells it: unchanged on Windows,
// every backslash turned into a slash elsewhere.
std::string nativePathText(std::string text);

// A file-system path made from nativePathText(`text`), for one call into the file system.
fs::path toFileSystemPath(const std::string& text);

}  // namespace cfgsweep

#endif  // CFGSWEEP_VIRTUALSTORE_NATIVE_H_
