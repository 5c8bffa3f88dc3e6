// What an entry below the profile is, told through handles held on it and on its folder: its
// kind, whether it is a link, and whether its folder's listing vouches for it.
#ifndef CFGSWEEP_VIRTUALSTORE_HELD_ENTRY_WINDOWS_H_
#define CFGSWEEP_VIRTUALSTORE_HELD_ENTRY_WINDOWS_H_

#include <windows.h>
#include <winternl.h>

#include <string>
#include <utility>

#include "virtualstore/native.h"

namespace cfgsweep {

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
  ~Handle();
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

// Raises filesystem_error, labelled `label`, for the composed `text` and the Windows `error`.
[[noreturn]] void raise(const char* label, const std::string& text, DWORD error);

// raise() for the NTSTATUS `status`, as the Windows error that it stands for.
[[noreturn]] void raiseStatus(const char* label, const std::string& text, NTSTATUS status);

// Opens `name`, one name, relative to the held `folder`, never through a reparse point there,
// with `access` and NtCreateFile's `disposition` and `options`; the NTSTATUS.
NTSTATUS openRelative(const Handle& folder, const std::wstring& name, ACCESS_MASK access,
                      ULONG disposition, ULONG options, Handle& opened);

// Opens the existing entry `name` in `folder` with `access` besides reading its attributes: as a
// folder with the right to list it where it may be listed (`listable`), else as a file.
NTSTATUS openEntry(const Handle& folder, const std::wstring& name, ACCESS_MASK access,
                   Handle& opened, bool& listable);

// What the held `entry` is: link, folder or file. Raises filesystem_error, labelled `label` for
// the composed `path`, when its attributes cannot be read.
EntryKind kindOf(const Handle& entry, const char* label, const std::string& path);

// Whether the volume of the held `handle` lies across the network; true where it does not say.
bool onRemoteVolume(const Handle& handle);

// Whether the listing of the held `folder` (opened to be listed where `listable`) shows `name`
// otherwise than as the held `entry`: as a link, as another file, or not at all. On a `remote`
// volume only a listed file ID equal to the handle's vouches for the entry.
bool listingDisowns(const Handle& folder, bool listable, const std::wstring& name,
                    const Handle& entry, bool remote);

}  // namespace cfgsweep

#endif  // CFGSWEEP_VIRTUALSTORE_HELD_ENTRY_WINDOWS_H_
