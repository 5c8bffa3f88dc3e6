// The platform seam on Linux, which serves development and tests: the walk through held folders
// with openat(O_PATH | O_NOFOLLOW) and the *at calls.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include <boost/filesystem/exception.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/system/error_code.hpp>

#include "virtualstore/native.h"
#include "virtualstore/target_path.h"

extern char** environ;

namespace cfgsweep {

namespace {

// Composed texts always separate with backslashes, which POSIX takes as ordinary name bytes.
std::string slashed(std::string text) {
  std::replace(text.begin(), text.end(), '\\', '/');
  return text;
}

// A file descriptor, closed with its owner.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    Descriptor old(std::move(*this));
    fd_ = std::exchange(other.fd_, -1);
    return *this;
  }
  ~Descriptor() {
    if (fd_ >= 0) {
      close(fd_);
    }
  }
  int get() const {
    return fd_;
  }
  int release() {
    return std::exchange(fd_, -1);
  }

 private:
  int fd_;
};

// Where a walk from the profile folder down to a composed text stopped: at the text itself, at a
// link on the way, or at the first entry that is absent.
struct Walk {
  Descriptor folder;  // the folder holding `entry`
  Descriptor entry;   // opened with O_PATH; -1 when absent
  std::string name;   // `entry`'s name in `folder`
  FoundEntry found;   // what `entry` is, and its composed path
};

[[noreturn]] void raise(const char* label, const std::string& text, int error) {
  throw fs::filesystem_error(label, toFileSystemPath(text),
                             boost::system::error_code(error, boost::system::system_category()));
}

bool isAbsence(int error) {
  return error == ENOENT || error == ENOTDIR;
}

EntryKind kindOf(const Descriptor& entry, const char* label, const std::string& path) {
  struct stat status;
  if (fstat(entry.get(), &status) != 0) {
    raise(label, path, errno);
  }
  if (S_ISLNK(status.st_mode)) {
    return EntryKind::link;
  }
  return S_ISDIR(status.st_mode) ? EntryKind::folder : EntryKind::file;
}

Walk walkTo(const std::string& text, const char* label) {
  const std::string profile = userProfileOf(*virtualStoreRoot);
  Walk walk{Descriptor(), Descriptor(), std::string(), {EntryKind::folder, profile}};
  // The trailing separator keeps a profile of "C:" or "" naming the root that the composed texts
  // name; the profile itself, and any link at it or above it, is followed as given.
  walk.entry = Descriptor(open(slashed(profile + '\\').c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (walk.entry.get() < 0) {
    if (!isAbsence(errno)) {
      raise(label, profile, errno);
    }
    walk.found.kind = EntryKind::absent;
    return walk;
  }
  for (const std::string& name : namesBelow(profile, text)) {
    walk.folder = std::move(walk.entry);
    walk.name = name;
    walk.found.path += '\\' + name;
    // O_PATH needs no permission on the entry itself, only to search the folder above, as a query
    // by path does.
    walk.entry =
        Descriptor(openat(walk.folder.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (walk.entry.get() < 0) {
      if (!isAbsence(errno)) {
        raise(label, walk.found.path, errno);
      }
      walk.found.kind = EntryKind::absent;
      return walk;
    }
    walk.found.kind = kindOf(walk.entry, label, walk.found.path);
    if (walk.found.kind == EntryKind::link) {
      return walk;
    }
  }
  return walk;
}

// Whether the folder held by `entry` lists nothing but "." and "..": true also when it has been
// removed meanwhile. Raises filesystem_error for any other failure.
bool listsNothing(const Descriptor& entry, const std::string& path) {
  const char* const label = "boost::filesystem::is_empty";
  Descriptor listing(openat(entry.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (listing.get() < 0) {
    if (isAbsence(errno)) {
      return true;
    }
    raise(label, path, errno);
  }
  DIR* const folder = fdopendir(listing.get());
  if (folder == nullptr) {
    raise(label, path, errno);
  }
  listing.release();
  bool empty = true;
  errno = 0;
  while (const dirent* child = readdir(folder)) {
    if (std::strcmp(child->d_name, ".") != 0 && std::strcmp(child->d_name, "..") != 0) {
      empty = false;
      break;
    }
  }
  const int error = errno;
  closedir(folder);
  if (empty && error != 0 && !isAbsence(error)) {
    raise(label, path, error);
  }
  return empty;
}

}  // namespace

const char* const* processEnvironment() {
  return environ;
}

void distrustUsersLinks() {}

fs::path toFileSystemPath(const std::string& text) {
  return fs::path(slashed(text));
}

std::string consolePathText(const std::string& text) {
  return text;
}

std::string printedPath(const fs::path& path) {
  return path.string();
}

std::string systemMessageText(const boost::system::error_code& error) {
  return error.message();
}

FoundEntry findEntry(const std::string& text, const char* label) {
  return walkTo(text, label).found;
}

bool visibleAtPath(const std::string& text) {
  return fs::exists(toFileSystemPath(text));
}

bool isEmptyOrGone(const std::string& text) {
  const Walk walk = walkTo(text, "boost::filesystem::is_empty");
  // Gone, or no longer a folder: nothing below it to keep. A link is not the user's to prune.
  if (walk.found.kind != EntryKind::folder) {
    return walk.found.kind != EntryKind::link;
  }
  return listsNothing(walk.entry, text);
}

bool removeEntry(const std::string& text) {
  const char* const label = "boost::filesystem::remove";
  const Walk walk = walkTo(text, label);
  if (walk.found.kind == EntryKind::link || walk.found.kind == EntryKind::absent) {
    return walk.found.kind == EntryKind::absent;
  }
  // The name is removed from the held folder, so whatever stands at it by now, it is the user's
  // own entry: a link put there is removed itself, never what it leads to.
  const int how = walk.found.kind == EntryKind::folder ? AT_REMOVEDIR : 0;
  if (unlinkat(walk.folder.get(), walk.name.c_str(), how) != 0 && errno != ENOENT) {
    raise(label, text, errno);
  }
  return true;
}

void createFolder(const std::string& text) {
  const char* const label = "boost::filesystem::create_directory";
  const Walk walk = walkTo(text, label);
  if (walk.found.kind == EntryKind::link) {
    raise(label, text, ELOOP);
  }
  if (walk.found.path != text) {
    raise(label, text, ENOENT);
  }
  if (walk.found.kind == EntryKind::absent &&
      mkdirat(walk.folder.get(), walk.name.c_str(), 0777) != 0 && errno != EEXIST) {
    raise(label, text, errno);
  }
}

NewFile createNewEmptyFile(const std::string& text) {
  const Walk walk = walkTo(text, "boost::filesystem::symlink_status");
  if (walk.found.path != text) {
    return NewFile::failed;
  }
  if (walk.found.kind != EntryKind::absent) {
    return NewFile::alreadyThere;
  }
  // O_EXCL also refuses a symbolic link, dangling or not, so nothing is made through one.
  const Descriptor file(openat(walk.folder.get(), walk.name.c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
  if (file.get() < 0) {
    return errno == EEXIST ? NewFile::alreadyThere : NewFile::failed;
  }
  return NewFile::created;
}

}  // namespace cfgsweep
