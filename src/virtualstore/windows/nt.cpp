#include "virtualstore/windows/nt.h"

#include <boost/filesystem/exception.hpp>
#include <boost/system/error_code.hpp>

#include "virtualstore/native.h"

namespace cfgsweep {

Handle::~Handle() {
  if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) {
    CloseHandle(handle_);
  }
}

UNICODE_STRING unicodeString(const std::wstring& text) {
  UNICODE_STRING result;
  result.Buffer = const_cast<wchar_t*>(text.c_str());
  result.Length = result.MaximumLength = static_cast<USHORT>(text.size() * sizeof(wchar_t));
  return result;
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
      nt::createFile(opened.out(), access | SYNCHRONIZE, &attributes, &io,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, disposition,
                     options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT);
  if (status != kSuccess) {
    *opened.out() = nullptr;
  }
  return status;
}

}  // namespace cfgsweep
