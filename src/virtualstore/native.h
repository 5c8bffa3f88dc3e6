// The seam between composed path texts, the process environment and the platform beneath them.
// Composed texts are narrow and backslash-separated: the system's bytes elsewhere, UTF-8 on
// Windows, where they are converted only here, on the way in and on the way out.
#ifndef CFGSWEEP_VIRTUALSTORE_NATIVE_H_
#define CFGSWEEP_VIRTUALSTORE_NATIVE_H_

#include <string>

#include <boost/filesystem/operations.hpp>
#include <boost/filesystem/path.hpp>

namespace cfgsweep {

namespace fs = boost::filesystem;

// The process environment: NUL-terminated "NAME=value" entries in the system's order, ending in
// a null pointer. On Windows they are read from the wide environment and held as UTF-8.
const char* const* processEnvironment();

// A file-system path made from the backslash-separated composed `text`, for one call into the file
// system: on Windows the UTF-8 text in UTF-16, so that every name arrives as it is spelled;
// elsewhere with every backslash turned into a slash.
fs::path toFileSystemPath(const std::string& text);

// The composed `text` as it is printed: in the system's ANSI code page on Windows, where a
// character that the code page cannot spell may be lost; unchanged elsewhere.
std::string consolePathText(const std::string& text);

// Whether `status`, as symlink_status gives it, is something not to be gone through: a symbolic
// link, or on Windows a junction or any other reparse point.
bool isLink(const fs::file_status& status);

enum class NewFile { created, alreadyThere, failed };

// Creates an empty file at the composed `text` in one step, only if nothing is there, not even a
// link that leads nowhere. Returns created, alreadyThere when something was, failed otherwise.
NewFile createNewEmptyFile(const std::string& text);

}  // namespace cfgsweep

#endif  // CFGSWEEP_VIRTUALSTORE_NATIVE_H_
