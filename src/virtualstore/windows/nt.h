// What every part of the Windows walk shares: the NT statuses it tells apart, the handle it
// holds, the error it raises, and the one relative open. Every call into the system goes through
// system_calls.h; the system's own functions are poisoned here, so that calling one is an error.
#ifndef CFGSWEEP_VIRTUALSTORE_WINDOWS_NT_H_
#define CFGSWEEP_VIRTUALSTORE_WINDOWS_NT_H_

#include <windows.h>
#include <winternl.h>

#include <string>
#include <utility>

#include "virtualstore/windows/system_calls.h"

#pragma GCC poison NtCreateFile NtQueryDirectoryFile NtQueryInformationFile
#pragma GCC poison NtQueryVolumeInformationFile NtSetInformationFile CreateFileW

namespace cfgsweep {

const NTSTATUS kSuccess = 0;
const NTSTATUS kNoMoreFiles = static_cast<NTSTATUS>(0x80000006);
const NTSTATUS kNotImplemented = static_cast<NTSTATUS>(0xC0000002);
const NTSTATUS kInvalidInfoClass = static_cast<NTSTATUS>(0xC0000003);
const NTSTATUS kInvalidParameter = static_cast<NTSTATUS>(0xC000000D);
const NTSTATUS kNoSuchFile = static_cast<NTSTATUS>(0xC000000F);
const NTSTATUS kInvalidDeviceRequest = static_cast<NTSTATUS>(0xC0000010);
const NTSTATUS kAccessDenied = static_cast<NTSTATUS>(0xC0000022);
const NTSTATUS kNameNotFound = static_cast<NTSTATUS>(0xC0000034);
const NTSTATUS kNameCollision = static_cast<NTSTATUS>(0xC0000035);
const NTSTATUS kPathNotFound = static_cast<NTSTATUS>(0xC000003A);
const NTSTATUS kSharingViolation = static_cast<NTSTATUS>(0xC0000043);
const NTSTATUS kDeletePending = static_cast<NTSTATUS>(0xC0000056);
const NTSTATUS kNotSupported = static_cast<NTSTATUS>(0xC00000BB);
const NTSTATUS kNotADirectory = static_cast<NTSTATUS>(0xC0000103);

// Redirection Guard's refusal of a junction that a user without administrator rights made
// (ProcessRedirectionTrustPolicy): the NTSTATUS, and the Windows error of a by-path call.
const NTSTATUS kUntrustedMountPoint = static_cast<NTSTATUS>(0xC00004BC);
const DWORD kUntrustedMountPointError = 448;

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

// `text` as a counted string for the system, valid while `text` is.
UNICODE_STRING unicodeString(const std::wstring& text);

// Raises filesystem_error, labelled `label`, for the composed `text` and the Windows `error`.
[[noreturn]] void raise(const char* label, const std::string& text, DWORD error);

// raise() for the NTSTATUS `status`, as the Windows error that it stands for.
[[noreturn]] void raiseStatus(const char* label, const std::string& text, NTSTATUS status);

// Opens `name`, one name, relative to the held `folder`, never through a reparse point there,
// with `access` and NtCreateFile's `disposition` and `options`; the NTSTATUS.
NTSTATUS openRelative(const Handle& folder, const std::wstring& name, ACCESS_MASK access,
                      ULONG disposition, ULONG options, Handle& opened);

}  // namespace cfgsweep

#endif  // CFGSWEEP_VIRTUALSTORE_WINDOWS_NT_H_
