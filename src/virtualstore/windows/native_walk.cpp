// The platform seam on Windows, its walk: held folders opened with NtCreateFile relative to a
// handle and FILE_OPEN_REPARSE_POINT, and every query, deletion and creation through those handles.
#include <windows.h>
#include <winternl.h>

#include <utility>

#include <boost/filesystem/exception.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/system/error_code.hpp>

#include "virtualstore/native.h"
#include "virtualstore/target_path.h"
#include "virtualstore/windows/held_entry.h"
#include "virtualstore/windows/nt.h"
#include "virtualstore/windows/system_calls.h"

namespace cfgsweep {

namespace {

const auto kFileDispositionInformationEx = static_cast<FILE_INFORMATION_CLASS>(64);
const ULONG kDispositionDelete = 0x1;
const ULONG kDispositionPosixSemantics = 0x2;
struct DispositionInformationEx {
  ULONG Flags;
};

// The composed `text` as the file system gets it.
std::wstring wideOf(const std::string& text) {
  return toFileSystemPath(text).native();
}

// Where a walk from the profile folder down to a composed text stopped: at the text itself, at a
// link on the way, or at the first entry that is absent.
struct Walk {
  Handle folder;          // the folder holding `entry`
  bool listable = false;  // whether `folder` was opened with the right to list it
  Handle entry;           // null when absent
  bool entryListable = false;
  std::wstring name;     // `entry`'s name in `folder`
  FoundEntry found;      // what `entry` is, and its composed path
  bool pending = false;  // whether `found` is absent because its deletion is pending
};

bool isAbsence(NTSTATUS status) {
  return status == kNameNotFound || status == kPathNotFound;
}

// Opens the profile folder of `walk`, the one path taken as given, as walk.entry, listable where
// it may be listed; `found` tells whether it is there. Raises filesystem_error, labelled `label`,
// when it cannot be opened for a reason other than its absence.
void openProfile(Walk& walk, const char* label) {
  // The trailing separator keeps a profile of "C:" or "" naming the root that the composed texts
  // name; the profile itself, and any link at it or above it, is followed as given.
  const std::wstring profileName = wideOf(walk.found.path + '\\');
  walk.entryListable = true;
  DWORD error = ERROR_SUCCESS;
  for (const DWORD rights : {DWORD{FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE},
                             DWORD{FILE_READ_ATTRIBUTES | SYNCHRONIZE}}) {
    *walk.entry.out() = bypath::openFolder(profileName.c_str(), rights, error);
    if (walk.entry.get() != INVALID_HANDLE_VALUE) {
      return;
    }
    if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) {
      break;
    }
    walk.entryListable = false;
  }
  *walk.entry.out() = nullptr;
  // Redirection Guard refuses a junction on the way to the profile that a user without
  // administrator rights made (ProcessRedirectionTrustPolicy).
  if (error == kUntrustedMountPointError) {
    walk.found.kind = EntryKind::link;
    return;
  }
  if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
    raise(label, walk.found.path, error);
  }
  walk.found.kind = EntryKind::absent;
}

// Takes `walk` one step down from the folder it holds to `name` in it, opened with `access`
// besides reading it, and tells what is there.
void stepDown(Walk& walk, const std::string& name, ACCESS_MASK access, bool remote,
              const char* label) {
  walk.folder = std::move(walk.entry);
  walk.listable = walk.entryListable;
  walk.name = wideOf(name);
  walk.found.path += '\\' + name;
  const NTSTATUS status = openEntry(walk.folder, walk.name, access, walk.entry, walk.entryListable);
  if (status == kNoSuchFile || status == kUntrustedMountPoint) {
    // Wine's answer for a Unix link that leads nowhere, and Redirection Guard's for a junction
    // that it will not follow: each names an entry, but not one to use.
    walk.found.kind = EntryKind::link;
  } else if (status != kSuccess) {
    // A name whose deletion is pending is going: Windows before 10 and FAT keep it listed
    // until its last handle closes, and refuse every open meanwhile (STATUS_DELETE_PENDING).
    if (!isAbsence(status) && status != kDeletePending) {
      raiseStatus(label, walk.found.path, status);
    }
    walk.found.kind = EntryKind::absent;
    walk.pending = status == kDeletePending;
  } else {
    walk.found.kind = kindOf(walk.entry, label, walk.found.path);
    if (walk.found.kind != EntryKind::link &&
        listingDisowns(walk.folder, walk.listable, walk.name, walk.entry, remote)) {
      walk.found.kind = EntryKind::link;
    }
  }
}

// Walks from the profile folder down to `text`, opening its last entry with `access` besides
// reading it (and listing it, where it is a folder that may be listed).
Walk walkTo(const std::string& text, const char* label, ACCESS_MASK access = 0) {
  Walk walk;
  walk.found = {EntryKind::folder, userProfileOf(*virtualStoreRoot)};
  openProfile(walk, label);
  if (walk.found.kind != EntryKind::folder) {
    return walk;
  }
  const bool remote = onRemoteVolume(walk.entry);
  const TargetComponents names = namesBelow(walk.found.path, text);
  std::size_t left = names.size();
  for (const std::string& name : names) {
    if (walk.found.kind != EntryKind::folder) {
      // Nothing lies below a file, and no step is taken through a link or past an absence.
      if (walk.found.kind == EntryKind::file) {
        walk.found = {EntryKind::absent, walk.found.path + '\\' + name};
        walk.folder = Handle();
        walk.entry = Handle();
      }
      return walk;
    }
    stepDown(walk, name, --left == 0 ? access : 0, remote, label);
  }
  return walk;
}

// Whether the folder held by `entry` lists nothing but "." and "..". Raises filesystem_error
// when it cannot be listed.
bool listsNothing(const Handle& entry, bool listable, const std::string& path) {
  const char* const label = "boost::filesystem::is_empty";
  if (!listable) {
    raise(label, path, ERROR_ACCESS_DENIED);
  }
  alignas(LARGE_INTEGER) unsigned char buffer[4096];
  IO_STATUS_BLOCK io;
  for (BOOLEAN restart = TRUE;; restart = FALSE) {
    const NTSTATUS status =
        nt::queryDirectoryFile(entry.get(), &io, buffer, sizeof buffer,
                               FileIdBothDirectoryInformation, FALSE, nullptr, restart);
    if (status == kNoMoreFiles || status == kNoSuchFile) {
      return true;
    }
    if (status != kSuccess) {
      raiseStatus(label, path, status);
    }
    for (const unsigned char* at = buffer;;) {
      const auto* listed = reinterpret_cast<const FILE_ID_BOTH_DIR_INFORMATION*>(at);
      const std::wstring name(listed->FileName, listed->FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L"..") {
        return false;
      }
      if (listed->NextEntryOffset == 0) {
        break;
      }
      at += listed->NextEntryOffset;
    }
  }
}

// Deletes the held `entry` as DeleteFileW does on current Windows, with POSIX semantics: its name
// goes at once, even while a scanner holds it open with FILE_SHARE_DELETE, so that its folder is
// left empty. A read-only entry stays refused. Where that is not offered (before Windows 10 1607,
// on FAT, under Wine 8), the classic deletion, whose name stays until the last handle closes.
NTSTATUS deleteHeld(const Handle& entry) {
  IO_STATUS_BLOCK io;
  // MS-FSCC 2.4.11.2: FILE_DISPOSITION_DELETE with FILE_DISPOSITION_POSIX_SEMANTICS.
  DispositionInformationEx posix = {kDispositionDelete | kDispositionPosixSemantics};
  NTSTATUS status =
      nt::setInformationFile(entry.get(), &io, &posix, sizeof posix, kFileDispositionInformationEx);
  // A file system that does not implement the class answers STATUS_INVALID_DEVICE_REQUEST (Rust's
  // File::delete falls back on it too).
  if (status == kInvalidParameter || status == kNotSupported || status == kInvalidInfoClass ||
      status == kNotImplemented || status == kInvalidDeviceRequest) {
    FILE_DISPOSITION_INFORMATION classic;
    classic.DoDeleteFile = TRUE;
    status = nt::setInformationFile(entry.get(), &io, &classic, sizeof classic,
                                    FileDispositionInformation);
  }
  return status;
}

// Whether the entry at `text`, or a folder on the way to it, is going: its deletion is pending.
// False when that cannot be told.
bool deletionPending(const std::string& text) {
  try {
    return walkTo(text, "boost::filesystem::exists").pending;
  } catch (const fs::filesystem_error&) {
    return false;
  }
}

}  // namespace

void distrustUsersLinks() {
  // ProcessRedirectionTrustPolicy, from Windows 10 21H2 and 11 on: junctions that a user without
  // administrator rights made are not followed at all. Looked up by name, since older Windows
  // lack the function; a refusal changes nothing, the walk refuses links by itself.
  using SetPolicy = BOOL(WINAPI*)(int, PVOID, SIZE_T);
  const auto set = reinterpret_cast<SetPolicy>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetProcessMitigationPolicy")));
  const int kProcessRedirectionTrustPolicy = 16;
  DWORD enforceRedirectionTrust = 1;
  if (set != nullptr) {
    set(kProcessRedirectionTrustPolicy, &enforceRedirectionTrust, sizeof enforceRedirectionTrust);
  }
}

FoundEntry findEntry(const std::string& text, const char* label) {
  return walkTo(text, label).found;
}

bool visibleAtPath(const std::string& text) {
  const fs::path path = toFileSystemPath(text);
  boost::system::error_code error;
  // The library sets `error` for an absent entry too; only status_error is a failed query.
  const fs::file_status status = bypath::status(path, error);
  if (status.type() != fs::status_error) {
    return fs::exists(status);
  }
  // Redirection Guard refuses a by-path query through a junction that a user without
  // administrator rights made (ERROR_UNTRUSTED_MOUNT_POINT): the copy is there, behind a link.
  if (error.value() == static_cast<int>(kUntrustedMountPointError)) {
    return true;
  }
  // A name whose deletion is pending refuses a by-path open with access denied.
  if (error.value() == ERROR_ACCESS_DENIED && deletionPending(text)) {
    return false;
  }
  // Raised afresh, not rethrown: the x64 build under Wine ends a rethrown exception that nothing
  // catches without the terminate handler.
  throw fs::filesystem_error("boost::filesystem::exists", path, error);
}

bool isEmptyOrGone(const std::string& text) {
  const Walk walk = walkTo(text, "boost::filesystem::is_empty");
  // Gone, or no longer a folder: nothing below it to keep. A link is not the user's to prune.
  if (walk.found.kind != EntryKind::folder) {
    return walk.found.kind != EntryKind::link;
  }
  return listsNothing(walk.entry, walk.entryListable, text);
}

bool removeEntry(const std::string& text) {
  const char* const label = "boost::filesystem::remove";
  const Walk walk = walkTo(text, label, DELETE);
  if (walk.found.kind == EntryKind::link || walk.found.kind == EntryKind::absent) {
    return walk.found.kind == EntryKind::absent;
  }
  // The very entry that was opened and read is deleted, whatever stands at its name by now.
  const NTSTATUS status = deleteHeld(walk.entry);
  if (status != kSuccess) {
    raiseStatus(label, text, status);
  }
  return true;
}

void createFolder(const std::string& text) {
  const char* const label = "boost::filesystem::create_directory";
  const Walk walk = walkTo(text, label);
  if (walk.found.kind == EntryKind::link) {
    raise(label, text, ERROR_CANT_ACCESS_FILE);
  }
  if (walk.found.path != text || walk.folder.get() == nullptr) {
    raise(label, text, ERROR_PATH_NOT_FOUND);
  }
  if (walk.found.kind != EntryKind::absent) {
    return;
  }
  Handle created;
  const NTSTATUS status = openRelative(walk.folder, walk.name, FILE_LIST_DIRECTORY, FILE_CREATE,
                                       FILE_DIRECTORY_FILE, created);
  if (status != kSuccess && status != kNameCollision) {
    raiseStatus(label, text, status);
  }
}

NewFile createNewEmptyFile(const std::string& text) {
  const Walk walk = walkTo(text, "boost::filesystem::symlink_status");
  if (walk.found.path != text || walk.folder.get() == nullptr) {
    return NewFile::failed;
  }
  if (walk.found.kind != EntryKind::absent) {
    return NewFile::alreadyThere;
  }
  Handle created;
  const NTSTATUS status = openRelative(walk.folder, walk.name, FILE_GENERIC_WRITE, FILE_CREATE,
                                       FILE_NON_DIRECTORY_FILE, created);
  if (status == kNameCollision) {
    return NewFile::alreadyThere;
  }
  return status == kSuccess ? NewFile::created : NewFile::failed;
}

}  // namespace cfgsweep
