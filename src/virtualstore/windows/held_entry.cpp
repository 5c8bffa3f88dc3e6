#include "virtualstore/held_entry_windows.h"

#include <boost/filesystem/exception.hpp>
#include <boost/system/error_code.hpp>

#include "virtualstore/nt_calls_windows.h"

namespace cfgsweep {

namespace {

const ULONG kRemoteDevice = 0x10;

UNICODE_STRING unicodeString(const std::wstring& text) {
  UNICODE_STRING result;
  result.Buffer = const_cast<wchar_t*>(text.c_str());
  result.Length = result.MaximumLength = static_cast<USHORT>(text.size() * sizeof(wchar_t));
  return result;
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

// MS-FSCC 2.4.17 and 2.4.20: a file ID of 0 or of all ones means that the file system has none.
bool isFileId(ULONGLONG id) {
  return id != 0 && id != ~0ULL;
}

// The file ID of the held `entry`; 0 where it has none to give.
ULONGLONG heldFileId(const Handle& entry) {
  FILE_INTERNAL_INFORMATION held;
  IO_STATUS_BLOCK io;
  if (ntQueryInformationFile(entry.get(), &io, &held, sizeof held, FileInternalInformation) !=
      kSuccess) {
    return 0;
  }
  return held.IndexNumber.QuadPart;
}

}  // namespace

Handle::~Handle() {
  if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) {
    CloseHandle(handle_);
  }
}

void raise(const char* label, const std::string& text, DWORD error) {
  throw fs::filesystem_error(
      label, toFileSystemPath(text),
      boost::system::error_code(static_cast<int>(error), boost::system::system_category()));
}

void raiseStatus(const char* label, const std::string& text, NTSTATUS status) {
  raise(label, text, RtlNtStatusToDosError(status));
}

NTSTATUS openRelative(const Handle& folder, const std::wstring& name, ACCESS_MASK access,
                      ULONG disposition, ULONG options, Handle& opened) {
  UNICODE_STRING objectName = unicodeString(name);
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &objectName, OBJ_CASE_INSENSITIVE, folder.get(), nullptr);
  IO_STATUS_BLOCK io;
  // Windows checks a relative open against the entry's own security and the folder's, never the
  // rights that the folder's handle was opened with (Rust's std leans on the same in
  // remove_dir_all, opening each child below a handle that holds no traverse right).
  const NTSTATUS status =
      ntCreateFile(opened.out(), access | SYNCHRONIZE, &attributes, &io,
                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, disposition,
                   options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT);
  if (status != kSuccess) {
    *opened.out() = nullptr;
  }
  return status;
}

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

EntryKind kindOf(const Handle& entry, const char* label, const std::string& path) {
  FILE_BASIC_INFORMATION basic;
  IO_STATUS_BLOCK io;
  NTSTATUS status =
      ntQueryInformationFile(entry.get(), &io, &basic, sizeof basic, FileBasicInformation);
  if (status != kSuccess) {
    raiseStatus(label, path, status);
  }
  ULONG attributes = basic.FileAttributes;
  // FAT and exFAT answer only a few classes, the attribute-tag class not among them, and have no
  // reparse points: the tag is asked only where the attributes name one, as Rust's std does in
  // File::file_attr (FatCommonQueryInformation in the fastfat sample).
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    FILE_ATTRIBUTE_TAG_INFORMATION tag;
    status =
        ntQueryInformationFile(entry.get(), &io, &tag, sizeof tag, FileAttributeTagInformation);
    if (status != kSuccess) {
      raiseStatus(label, path, status);
    }
    if (isLink(tag.FileAttributes, tag.ReparseTag)) {
      return EntryKind::link;
    }
    attributes = tag.FileAttributes;
  }
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::folder : EntryKind::file;
}

// SMB sends a relative open to the server as a path from the share's root, which the server
// resolves afresh (MS-SMB2 2.2.13: a CREATE names no folder handle), so held folders pin nothing
// in between there.
bool onRemoteVolume(const Handle& handle) {
  FILE_FS_DEVICE_INFORMATION device;
  IO_STATUS_BLOCK io;
  if (ntQueryVolumeInformationFile(handle.get(), &io, &device, sizeof device,
                                   FileFsDeviceInformation) != kSuccess) {
    return true;
  }
  return (device.Characteristics & kRemoteDevice) != 0;
}

// Wine shows a Unix link through a handle exactly as its target, and only its listing tells;
// Windows answers the same through both. Where the folder cannot be listed or either side has no
// file ID, the handle's word stands. A one-name filter applies on the first query of a handle,
// which this is (NtQueryDirectoryFile: FileName).
bool listingDisowns(const Handle& folder, bool listable, const std::wstring& name,
                    const Handle& entry, bool remote) {
  if (!listable) {
    return remote;
  }
  const ULONGLONG held = heldFileId(entry);
  alignas(LARGE_INTEGER) unsigned char buffer[sizeof(FILE_ID_BOTH_DIR_INFORMATION) + 512];
  UNICODE_STRING filter = unicodeString(name);
  IO_STATUS_BLOCK io;
  const NTSTATUS status = ntQueryDirectoryFile(folder.get(), &io, buffer, sizeof buffer,
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
  // MS-FSCC 2.4.17: for a reparse point, EaSize holds its tag.
  if (isLink(listed->FileAttributes, listed->EaSize)) {
    return true;
  }
  // FAT keeps IDs of its own, but a file system may give none, on either side.
  const ULONGLONG id = listed->FileId.QuadPart;
  if (!isFileId(id) || !isFileId(held)) {
    return remote;
  }
  return id != held;
}

}  // namespace cfgsweep
