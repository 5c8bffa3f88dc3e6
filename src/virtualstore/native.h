// The seam between composed path texts, the process environment and the platform beneath them.
// Composed texts are narrow and backslash-separated: the system's bytes elsewhere, WTF-8 on
// Windows (UTF-8 that keeps an unpaired surrogate), converted only here, on the way in and out.
//
// Below the profile folder everything belongs to its user, who may not be the one running the
// command. So the profile folder is the one path taken as given: every entry below it, from
// AppData down, is opened by its one name relative to a handle held on the folder above, without
// following a link, and every query, removal and creation acts through those handles. Whatever is
// swapped meanwhile, nothing is removed or created outside the tree that the handles hold.
#ifndef CFGSWEEP_VIRTUALSTORE_NATIVE_H_
#define CFGSWEEP_VIRTUALSTORE_NATIVE_H_

#include <string>

#include <boost/filesystem/exception.hpp>
#include <boost/filesystem/path.hpp>
#include <boost/system/error_code.hpp>

namespace cfgsweep {

namespace fs = boost::filesystem;

// The process environment: NUL-terminated "NAME=value" entries in the system's order, ending in
// a null pointer. On Windows they are read from the wide environment and held as WTF-8.
const char* const* processEnvironment();

// Asks the system, where it offers this, not to follow any junction or link that a user without
// administrator rights made. Whether it could is not reported.
void distrustUsersLinks();

// A file-system path made from the backslash-separated composed `text`, for one call into the file
// system: on Windows the WTF-8 text in UTF-16, so that every name arrives as it is spelled;
// elsewhere with every backslash turned into a slash.
fs::path toFileSystemPath(const std::string& text);

// The composed `text` as it is printed: on Windows in code page 932, as every fixed text is,
// where a character that it cannot spell becomes "?", never a look-alike; unchanged elsewhere.
std::string consolePathText(const std::string& text);

// The file-system `path` of a raised error as it is printed: on Windows in code page 932, as
// consolePathText spells a composed text; elsewhere as the file system spells it.
std::string printedPath(const fs::path& path);

// The system's own message for the system-category `error` as it is printed, with whatever line
// end and full stop the system ends it with: on Windows the system's wide text in code page 932,
// a character that it cannot spell as "?"; elsewhere the C library's text.
std::string systemMessageText(const boost::system::error_code& error);

// Whether anything is at the composed `text`, asked by path as any program asks, links followed:
// the copy counts as there for as long as it can be seen at its path, behind a link too. A name
// whose deletion is pending counts as gone. Raises filesystem_error
// ("boost::filesystem::exists") when the query fails for another reason than absence.
bool visibleAtPath(const std::string& text);

enum class EntryKind { absent, folder, file, link };

// What a walk from the profile folder down to a composed text found. `kind` is link when a
// symbolic link, junction or other reparse point lies at the text or on the way to it, and `path`
// then names that link; otherwise `path` is the text itself.
struct FoundEntry {
  EntryKind kind;
  std::string path;
};

// What lies at the composed `text`, which lies below virtualStoreRoot or is it, reached from the
// profile folder through held handles. Raises filesystem_error, labelled `label`, when an entry
// cannot be opened or read for a reason other than its absence.
FoundEntry findEntry(const std::string& text,
                     const char* label = "boost::filesystem::symlink_status");

// Whether the folder at `text`, reached as findEntry reaches it, holds nothing. True when it is
// gone, as when another run removed it first; false when a link stands in its place. Raises
// filesystem_error ("boost::filesystem::is_empty") when it cannot be opened or listed.
bool isEmptyOrGone(const std::string& text);

// Removes the file or empty folder at `text`, reached as findEntry reaches it. Returns false,
// having removed nothing, when a link stands at or above it; true when it is removed or was not
// there. Raises filesystem_error ("boost::filesystem::remove") when the system refuses.
bool removeEntry(const std::string& text);

// Creates the folder at `text`, whose parent must be a folder reached as findEntry reaches it;
// something already at `text` is left as it is. Raises filesystem_error
// ("boost::filesystem::create_directory") when the folder cannot be created.
void createFolder(const std::string& text);

enum class NewFile { created, alreadyThere, failed };

// Creates an empty file at `text` in one step, only if nothing is there, not even a link that
// leads nowhere; its parent is reached as findEntry reaches it. Returns created, alreadyThere when
// something was, failed otherwise.
NewFile createNewEmptyFile(const std::string& text);

}  // namespace cfgsweep

#endif  // CFGSWEEP_VIRTUALSTORE_NATIVE_H_
