// The platform seam on Windows, its walk: held folders with NtCreateFile relative to a handle,
// FILE_OPEN_REPARSE_POINT, and deletion through the handle itself.
#include <windows.h>
#include <winternl.h>

#include <utility>

#include <boost/filesystem/exception.hpp>
#include <boost/filesystem/operations.hpp>
#include <boost/system/error_code.hpp>

#include "virtualstore/injected_windows.h"
#include "virtualstore/native.h"
#include "virtualstore/target_path.h"

extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE folder, HANDLE event, PVOID apcRoutine,
                                               PVOID apcContext, PIO_STATUS_BLOCK status,
                                               PVOID buffer, ULONG length,
                                               FILE_INFORMATION_CLASS kind, BOOLEAN single,
                                               PUNICODE_STRING name, BOOLEAN restart);

namespace cfgsweep {

namespace {

const NTSTATUS kSuccess = 0;
const NTSTATUS kAccessDenied = static_cast<NTSTATUS>(0xC0000022);
const NTSTATUS kNameNotFound = static_cast<NTSTATUS>(0xC0000034);
const NTSTATUS kPathNotFound = static_cast<NTSTATUS>(0xC000003A);
const NTSTATUS kNameCollision = static_cast<NTSTATUS>(0xC0000035);
const NTSTATUS kNotADirectory = static_cast<NTSTATUS>(0xC0000103);
const NTSTATUS kNoSuchFile = static_cast<NTSTATUS>(0xC000000F);
const NTSTATUS kNoMoreFiles = static_cast<NTSTATUS>(0x80000006);
const NTSTATUS kDeletePending = static_cast<NTSTATUS>(0xC0000056);
const NTSTATUS kSharingViolation = static_cast<NTSTATUS>(0xC0000043);
const NTSTATUS kUntrustedMountPoint = static_cast<NTSTATUS>(0xC00004BC);
const NTSTATUS kInvalidParameter = static_cast<NTSTATUS>(0xC000000D);
const NTSTATUS kNotSupported = static_cast<NTSTATUS>(0xC00000BB);
const NTSTATUS kInvalidInfoClass = static_cast<NTSTATUS>(0xC0000003);
const NTSTATUS kNotImplemented = static_cast<NTSTATUS>(0xC0000002);
const DWORD kUntrustedMountPointError = 448;

const auto kFileDispositionInformationEx = static_cast<FILE_INFORMATION_CLASS>(64);
const ULONG kDispositionDelete = 0x1;
const ULONG kDispositionPosixSemantics = 0x2;
struct DispositionInformationEx {
  ULONG Flags;
};

const ULONG kRemoteDevice = 0x10;

std::wstring wideFromUtf8(const std::string& text) {
  return toFileSystemPath(text).native();
}

// A handle, closed with its owner.
class Handle {
 public:
  Handle() = default;
  Handle(Handle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  Handle& operator=(Handle&& other) noexcept {
    Handle old(std::move(*this));
    handle_ = std::exchange(other.handle_, nullptr);
    return *this;
  }
  ~Handle() {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) {
      CloseHandle(handle_);
    }
  }
  HANDLE get() const {
    return handle_;
  }
  // Where a call that opens a handle puts it; the one held so far is closed.
  HANDLE* out() {
    *this = Handle();
    return &handle_;
  }

 private:
  HANDLE handle_ = nullptr;
};

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

[[noreturn]] void raise(const char* label, const std::string& text, DWORD error) {
  throw fs::filesystem_error(
      label, toFileSystemPath(text),
      boost::system::error_code(static_cast<int>(error), boost::system::system_category()));
}

[[noreturn]] void raiseStatus(const char* label, const std::string& text, NTSTATUS status) {
  raise(label, text, RtlNtStatusToDosError(status));
}

bool isAbsence(NTSTATUS status) {
  return status == kNameNotFound || status == kPathNotFound;
}

// Opens `name`, one name, relative to the held `folder`, never through a reparse point there.
NTSTATUS openRelative(const Handle& folder, const std::wstring& name, ACCESS_MASK access,
                      ULONG disposition, ULONG options, Handle& opened) {
  if (const auto injected = injectedAnswer("open", name.c_str())) {
    *opened.out() = nullptr;
    return static_cast<NTSTATUS>(*injected);
  }
  UNICODE_STRING objectName;
  objectName.Buffer = const_cast<wchar_t*>(name.c_str());
  objectName.Length = objectName.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &objectName, OBJ_CASE_INSENSITIVE, folder.get(), nullptr);
  IO_STATUS_BLOCK io;
  // Windows checks a relative open against the entry's own security and the folder's, never the
  // rights that the folder's handle was opened with (Rust's std leans on the same in
  // remove_dir_all, opening each child below a handle that holds no traverse right).
  return NtCreateFile(opened.out(), access | SYNCHRONIZE, &attributes, &io, nullptr,
                      FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      disposition, options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT,
                      nullptr, 0);
}

// Opens the existing entry `name` in `folder` with `access` besides reading its attributes: as a
// folder with the right to list it where it may be listed, else as a file.
NTSTATUS openEntry(const Handle& folder, const std::wstring& name, ACCESS_MASK access,
                   Handle& opened, bool& listable) {
  const ACCESS_MASK reading = access | FILE_READ_ATTRIBUTES;
  listable = true;
  NTSTATUS status = openRelative(folder, name, reading | FILE_LIST_DIRECTORY, FILE_OPEN,
                                 FILE_DIRECTORY_FILE, opened);
  // A folder that another program holds without FILE_SHARE_READ refuses the list right as well,
  // but not the right to read its attributes (NtCreateFile: ShareAccess).
  if (status == kAccessDenied || status == kSharingViolation) {
    listable = false;
    status = openRelative(folder, name, reading, FILE_OPEN, FILE_DIRECTORY_FILE, opened);
  }
  if (status == kNotADirectory) {
    // The kind is checked before sharing, so a file that TALVO holds open still opens here to
    // have its attributes read (NtCreateFile: FILE_NON_DIRECTORY_FILE, and the sharing rules,
    // which spare FILE_READ_ATTRIBUTES).
    listable = false;
    status = openRelative(folder, name, reading, FILE_OPEN, FILE_NON_DIRECTORY_FILE, opened);
  }
  return status;
}

// Whether a reparse point tagged `tag` stands for another entry, as a symbolic link or junction
// does, rather than holding the entry's own data, as WOF, deduplication and cloud files do: only a
// Microsoft tag without the name-surrogate bit is the latter (winnt.h: IsReparseTagMicrosoft,
// IsReparseTagNameSurrogate). An unknown tag, such as none at all, counts as a link.
bool tagNamesAnotherEntry(ULONG tag) {
  return (tag & 0x80000000) == 0 || (tag & 0x20000000) != 0;
}

bool isLink(ULONG attributes, ULONG tag) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && tagNamesAnotherEntry(tag);
}

EntryKind kindOf(const Handle& entry, const std::wstring& name, const char* label,
                 const std::string& path) {
  FILE_ATTRIBUTE_TAG_INFO tag;
  if (!GetFileInformationByHandleEx(entry.get(), FileAttributeTagInfo, &tag, sizeof tag)) {
    raise(label, path, GetLastError());
  }
  if (const auto injected = injectedAnswer("tag", name.c_str())) {
    tag.FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    tag.ReparseTag = static_cast<ULONG>(*injected);
  }
  if (isLink(tag.FileAttributes, tag.ReparseTag)) {
    return EntryKind::link;
  }
  return (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::folder : EntryKind::file;
}

// Whether the volume of the held `handle` lies across the network. SMB sends a relative open to
// the server as a path from the share's root, which the server resolves afresh (MS-SMB2 2.2.13:
// a CREATE names no folder handle), so held folders pin nothing in between there. A volume that
// does not say counts as remote.
bool onRemoteVolume(const Handle& handle) {
  FILE_FS_DEVICE_INFORMATION device;
  IO_STATUS_BLOCK io;
  if (NtQueryVolumeInformationFile(handle.get(), &io, &device, sizeof device,
                                   FileFsDeviceInformation) != kSuccess) {
    return true;
  }
  const ULONG characteristics =
      device.Characteristics | static_cast<ULONG>(injectedAnswer("volume", L"").value_or(0));
  return (characteristics & kRemoteDevice) != 0;
}

// MS-FSCC 2.4.17 and 2.4.20: a file ID of 0 or of all ones means that the file system has none.
bool isFileId(ULONGLONG id) {
  return id != 0 && id != ~0ULL;
}

// The file ID of the held `entry`; 0 where it has none to give.
ULONGLONG heldFileId(const Handle& entry, const std::wstring& name) {
  FILE_INTERNAL_INFORMATION held;
  IO_STATUS_BLOCK io;
  const auto refused = injectedAnswer("held-id-status", name.c_str());
  const NTSTATUS status = refused ? static_cast<NTSTATUS>(*refused)
                                  : NtQueryInformationFile(entry.get(), &io, &held, sizeof held,
                                                           FileInternalInformation);
  if (status != kSuccess) {
    return 0;
  }
  return injectedAnswer("held-id", name.c_str()).value_or(held.IndexNumber.QuadPart);
}

// Whether the listing of the held `folder` shows `name` otherwise than as the entry held as
// `entry`: as a link, as another file (by ID), or not at all. Wine shows a Unix link through a
// handle exactly as its target, and only its listing tells; Windows answers the same through both.
// Where the folder cannot be listed or either side has no file ID, the handle's word stands, but
// on a `remote` volume only a listed ID equal to the handle's vouches for the entry. A one-name
// filter applies on the first query of a handle, which this is (NtQueryDirectoryFile: FileName).
bool listingDisowns(const Handle& folder, bool listable, const std::wstring& name,
                    const Handle& entry, bool remote) {
  if (!listable) {
    return remote;
  }
  const ULONGLONG held = heldFileId(entry, name);
  alignas(LARGE_INTEGER) unsigned char buffer[sizeof(FILE_ID_BOTH_DIR_INFORMATION) + 512];
  UNICODE_STRING filter;
  filter.Buffer = const_cast<wchar_t*>(name.c_str());
  filter.Length = filter.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  IO_STATUS_BLOCK io;
  const NTSTATUS status =
      NtQueryDirectoryFile(folder.get(), nullptr, nullptr, nullptr, &io, buffer, sizeof buffer,
                           FileIdBothDirectoryInformation, TRUE, &filter, TRUE);
  if (status == kNoSuchFile || status == kNoMoreFiles) {
    // Renamed away since it was opened: not to be trusted.
    return true;
  }
  if (status != kSuccess) {
    // Where the folder may not be listed the handle's word stands; right on a local Windows
    // volume, but under Wine this drops the link check for this entry.
    return remote;
  }
  const auto* listed = reinterpret_cast<const FILE_ID_BOTH_DIR_INFORMATION*>(buffer);
  ULONG attributes = listed->FileAttributes;
  // MS-FSCC 2.4.17: for a reparse point, EaSize holds its tag.
  ULONG tag = listed->EaSize;
  if (const auto injected = injectedAnswer("listed-tag", name.c_str())) {
    attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    tag = static_cast<ULONG>(*injected);
  }
  const ULONGLONG id = injectedAnswer("listed-id", name.c_str()).value_or(listed->FileId.QuadPart);
  if (isLink(attributes, tag)) {
    return true;
  }
  // FAT keeps IDs of its own, but a file system may give none, on either side.
  if (!isFileId(id) || !isFileId(held)) {
    return remote;
  }
  return id != held;
}

// Walks from the profile folder down to `text`, opening its last entry with `access` besides
// reading it (and listing it, where it is a folder that may be listed).
Walk walkTo(const std::string& text, const char* label, ACCESS_MASK access = 0) {
  const std::string profile = userProfileOf(*virtualStoreRoot);
  Walk walk;
  walk.found = {EntryKind::folder, profile};
  // The trailing separator keeps a profile of "C:" or "" naming the root that the composed texts
  // name; the profile itself, and any link at it or above it, is followed as given.
  const std::wstring profileName = wideFromUtf8(profile + '\\');
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  walk.entryListable = true;
  for (const DWORD rights : {DWORD{FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE},
                             DWORD{FILE_READ_ATTRIBUTES | SYNCHRONIZE}}) {
    *walk.entry.out() = CreateFileW(profileName.c_str(), rights, share, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (walk.entry.get() != INVALID_HANDLE_VALUE ||
        (GetLastError() != ERROR_ACCESS_DENIED && GetLastError() != ERROR_SHARING_VIOLATION)) {
      break;
    }
    walk.entryListable = false;
  }
  if (walk.entry.get() == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    *walk.entry.out() = nullptr;
    if (error == kUntrustedMountPointError) {
      // Redirection Guard refuses a junction on the way to the profile that a user without
      // administrator rights made (ProcessRedirectionTrustPolicy).
      walk.found.kind = EntryKind::link;
      return walk;
    }
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
      raise(label, profile, error);
    }
    walk.found.kind = EntryKind::absent;
    return walk;
  }
  const bool remote = onRemoteVolume(walk.entry);
  const TargetComponents names = namesBelow(profile, text);
  std::size_t left = names.size();
  for (const std::string& name : names) {
    if (walk.found.kind != EntryKind::folder) {
      // Nothing lies below a file.
      walk.found = {EntryKind::absent, walk.found.path + '\\' + name};
      walk.folder = Handle();
      walk.entry = Handle();
      return walk;
    }
    walk.folder = std::move(walk.entry);
    walk.listable = walk.entryListable;
    walk.name = wideFromUtf8(name);
    walk.found.path += '\\' + name;
    const NTSTATUS status =
        openEntry(walk.folder, walk.name, --left == 0 ? access : 0, walk.entry, walk.entryListable);
    if (status == kNoSuchFile || status == kUntrustedMountPoint) {
      // Wine's answer for a Unix link that leads nowhere, and Redirection Guard's for a junction
      // that it will not follow: each names an entry, but not one to use.
      *walk.entry.out() = nullptr;
      walk.found.kind = EntryKind::link;
      return walk;
    }
    if (status != kSuccess) {
      *walk.entry.out() = nullptr;
      // A name whose deletion is pending is going: Windows before 10 and FAT keep it listed
      // until its last handle closes, and refuse every open meanwhile (STATUS_DELETE_PENDING).
      if (!isAbsence(status) && status != kDeletePending) {
        raiseStatus(label, walk.found.path, status);
      }
      walk.found.kind = EntryKind::absent;
      walk.pending = status == kDeletePending;
      return walk;
    }
    walk.found.kind = kindOf(walk.entry, walk.name, label, walk.found.path);
    if (walk.found.kind != EntryKind::link &&
        listingDisowns(walk.folder, walk.listable, walk.name, walk.entry, remote)) {
      walk.found.kind = EntryKind::link;
    }
    if (walk.found.kind == EntryKind::link) {
      return walk;
    }
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
        NtQueryDirectoryFile(entry.get(), nullptr, nullptr, nullptr, &io, buffer, sizeof buffer,
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
NTSTATUS deleteHeld(const Handle& entry, const std::wstring& name) {
  IO_STATUS_BLOCK io;
  // MS-FSCC 2.4.11.2: FILE_DISPOSITION_DELETE with FILE_DISPOSITION_POSIX_SEMANTICS.
  DispositionInformationEx posix = {kDispositionDelete | kDispositionPosixSemantics};
  const auto injected = injectedAnswer("disposition-ex", name.c_str());
  NTSTATUS status = injected ? static_cast<NTSTATUS>(*injected)
                             : NtSetInformationFile(entry.get(), &io, &posix, sizeof posix,
                                                    kFileDispositionInformationEx);
  if (status == kInvalidParameter || status == kNotSupported || status == kInvalidInfoClass ||
      status == kNotImplemented) {
    FILE_DISPOSITION_INFORMATION classic;
    classic.DoDeleteFile = TRUE;
    status = NtSetInformationFile(entry.get(), &io, &classic, sizeof classic,
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
  fs::file_status status = fs::status(path, error);
  if (const auto injected = injectedAnswer("query-path", path.filename().c_str())) {
    status = fs::file_status(fs::status_error);
    error.assign(static_cast<int>(*injected), boost::system::system_category());
  }
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
  const NTSTATUS status = deleteHeld(walk.entry, walk.name);
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
