// The platform seam on Windows: UTF-16 names, and the walk through held folders with NtCreateFile
// relative to a handle, FILE_OPEN_REPARSE_POINT and deletion through the handle itself.
#include <windows.h>
#include <winternl.h>

#include <cwchar>
#include <utility>
#include <vector>

#include <boost/filesystem/exception.hpp>
#include <boost/system/error_code.hpp>

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

std::wstring wideFromUtf8(const std::string& text) {
  if (text.empty()) {
    return std::wstring();
  }
  const int size = static_cast<int>(text.size());
  std::wstring wide(MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), size, &wide[0], static_cast<int>(wide.size()));
  return wide;
}

std::string narrowFromWide(const std::wstring& wide, UINT codePage, DWORD flags) {
  if (wide.empty()) {
    return std::string();
  }
  const int size = static_cast<int>(wide.size());
  std::string text(
      WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, nullptr, nullptr), '\0');
  WideCharToMultiByte(codePage, flags, wide.data(), size, &text[0], static_cast<int>(text.size()),
                      nullptr, nullptr);
  return text;
}

struct Utf8Environment {
  std::vector<std::string> entries;
  std::vector<const char*> pointers;
};

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
  std::wstring name;  // `entry`'s name in `folder`
  FoundEntry found;   // what `entry` is, and its composed path
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
  if (status == kAccessDenied) {
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

EntryKind kindOf(const Handle& entry, const char* label, const std::string& path) {
  FILE_ATTRIBUTE_TAG_INFO tag;
  if (!GetFileInformationByHandleEx(entry.get(), FileAttributeTagInfo, &tag, sizeof tag)) {
    raise(label, path, GetLastError());
  }
  if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return EntryKind::link;
  }
  return (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::folder : EntryKind::file;
}

// Whether the listing of `folder` shows `name` as a reparse point, as another entry than the one
// held as `entry`, or not at all. Wine shows a Unix link through a handle exactly as its target,
// and only its listing tells; Windows answers the same through both. A one-name filter applies on
// the first query of a handle, which this is (NtQueryDirectoryFile: FileName).
bool listingDisowns(const Handle& folder, const std::wstring& name, const Handle& entry) {
  FILE_INTERNAL_INFORMATION held;
  IO_STATUS_BLOCK io;
  if (NtQueryInformationFile(entry.get(), &io, &held, sizeof held, FileInternalInformation) !=
      kSuccess) {
    return true;
  }
  alignas(LARGE_INTEGER) unsigned char buffer[sizeof(FILE_ID_BOTH_DIR_INFORMATION) + 512];
  UNICODE_STRING filter;
  filter.Buffer = const_cast<wchar_t*>(name.c_str());
  filter.Length = filter.MaximumLength = static_cast<USHORT>(name.size() * sizeof(wchar_t));
  const NTSTATUS status =
      NtQueryDirectoryFile(folder.get(), nullptr, nullptr, nullptr, &io, buffer, sizeof buffer,
                           FileIdBothDirectoryInformation, TRUE, &filter, TRUE);
  if (status == kNoSuchFile || status == kNoMoreFiles) {
    // Renamed away since it was opened: not to be trusted.
    return true;
  }
  if (status != kSuccess) {
    // Where the folder may not be listed the handle's word stands; right on Windows, but under
    // Wine this drops the link check for this entry.
    return false;
  }
  const auto* listed = reinterpret_cast<const FILE_ID_BOTH_DIR_INFORMATION*>(buffer);
  // A file system that keeps no file IDs, such as FAT, lists 0 for each.
  return (listed->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
         (listed->FileId.QuadPart != 0 && listed->FileId.QuadPart != held.IndexNumber.QuadPart);
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
    if (walk.entry.get() != INVALID_HANDLE_VALUE || GetLastError() != ERROR_ACCESS_DENIED) {
      break;
    }
    walk.entryListable = false;
  }
  if (walk.entry.get() == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    *walk.entry.out() = nullptr;
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
      raise(label, profile, error);
    }
    walk.found.kind = EntryKind::absent;
    return walk;
  }
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
    if (status == kNoSuchFile) {
      // Wine's answer for a Unix link that leads nowhere; it names an entry, but not one to use.
      *walk.entry.out() = nullptr;
      walk.found.kind = EntryKind::link;
      return walk;
    }
    if (status != kSuccess) {
      *walk.entry.out() = nullptr;
      if (!isAbsence(status)) {
        raiseStatus(label, walk.found.path, status);
      }
      walk.found.kind = EntryKind::absent;
      return walk;
    }
    walk.found.kind = kindOf(walk.entry, label, walk.found.path);
    if (walk.found.kind != EntryKind::link && walk.listable &&
        listingDisowns(walk.folder, walk.name, walk.entry)) {
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

}  // namespace

const char* const* processEnvironment() {
  // The narrow environment would spell a name outside the ANSI code page with look-alikes.
  static const Utf8Environment environment = [] {
    Utf8Environment result;
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* entry = block; entry != nullptr && *entry != L'\0';
         entry += wcslen(entry) + 1) {
      result.entries.push_back(narrowFromWide(entry, CP_UTF8, 0));
    }
    FreeEnvironmentStringsW(block);
    for (const std::string& entry : result.entries) {
      result.pointers.push_back(entry.c_str());
    }
    result.pointers.push_back(nullptr);
    return result;
  }();
  return environment.pointers.data();
}

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

fs::path toFileSystemPath(const std::string& text) {
  return fs::path(wideFromUtf8(text));
}

std::string consolePathText(const std::string& text) {
  // Best fit would print Zoë as Zoe, the name of another user's folder.
  return narrowFromWide(wideFromUtf8(text), CP_ACP, WC_NO_BEST_FIT_CHARS);
}

FoundEntry findEntry(const std::string& text, const char* label) {
  return walkTo(text, label).found;
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
  FILE_DISPOSITION_INFORMATION disposition;
  disposition.DoDeleteFile = TRUE;
  IO_STATUS_BLOCK io;
  const NTSTATUS status = NtSetInformationFile(walk.entry.get(), &io, &disposition,
                                               sizeof disposition, FileDispositionInformation);
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
