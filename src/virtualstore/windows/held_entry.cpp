#include "virtualstore/windows/held_entry.h"

namespace cfgsweep {

namespace {

const ULONG kRemoteDevice = 0x10;

// Whether a reparse point tagged `tag` stands for another entry, as a symbolic link or junction
// does, rather than holding the entry's own data, as WOF, deduplication, cloud files and the stubs
// of archiving products do. Every entry is opened with FILE_OPEN_REPARSE_POINT, so deleting one or
// opening below one acts on the entry itself either way; only a link would lead elsewhere.
// MS-FSCC 2.1.2.1: the name-surrogate bit marks a tag that names another named entity.
// Tag 0 is reserved and names no reparse point: Wine lists a folder link so, and it stays a link.
bool tagNamesAnotherEntry(ULONG tag) {
  return tag == 0 || (tag & 0x20000000) != 0;
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
  if (nt::queryInformationFile(entry.get(), &io, &held, sizeof held, FileInternalInformation) !=
      kSuccess) {
    return 0;
  }
  return held.IndexNumber.QuadPart;
}

}  // namespace

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
      nt::queryInformationFile(entry.get(), &io, &basic, sizeof basic, FileBasicInformation);
  if (status != kSuccess) {
    raiseStatus(label, path, status);
  }
  ULONG attributes = basic.FileAttributes;
  // FAT answers only a few classes, the attribute-tag class not among them, and has no reparse
  // points (FatCommonQueryInformation in the fastfat sample); exFAT's driver is not published, and
  // that it answers alike is inferred. So the tag is asked only where the attributes name a
  // reparse point, as Rust's std does in File::file_attr.
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    FILE_ATTRIBUTE_TAG_INFORMATION tag;
    status =
        nt::queryInformationFile(entry.get(), &io, &tag, sizeof tag, FileAttributeTagInformation);
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
  if (nt::queryVolumeInformationFile(handle.get(), &io, &device, sizeof device,
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
  const NTSTATUS status =
      nt::queryDirectoryFile(folder.get(), &io, buffer, sizeof buffer,
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
