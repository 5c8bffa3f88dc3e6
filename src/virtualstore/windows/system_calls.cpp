// The shipped cfgsweep.exe: every call goes straight to the system.
#include "virtualstore/windows/system_calls.h"

// The system's own call, which winternl.h does not declare; only this side of the seam calls it.
extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE folder, HANDLE event, PVOID apcRoutine,
                                               PVOID apcContext, PIO_STATUS_BLOCK io, PVOID buffer,
                                               ULONG length, FILE_INFORMATION_CLASS kind,
                                               BOOLEAN single, PUNICODE_STRING filter,
                                               BOOLEAN restart);

namespace cfgsweep {

namespace nt {

NTSTATUS createFile(HANDLE* opened, ACCESS_MASK access, OBJECT_ATTRIBUTES* attributes,
                    IO_STATUS_BLOCK* io, ULONG share, ULONG disposition, ULONG options) {
  return NtCreateFile(opened, access, attributes, io, nullptr, FILE_ATTRIBUTE_NORMAL, share,
                      disposition, options, nullptr, 0);
}

NTSTATUS queryDirectoryFile(HANDLE folder, IO_STATUS_BLOCK* io, void* buffer, ULONG length,
                            FILE_INFORMATION_CLASS kind, BOOLEAN single, UNICODE_STRING* filter,
                            BOOLEAN restart) {
  return NtQueryDirectoryFile(folder, nullptr, nullptr, nullptr, io, buffer, length, kind, single,
                              filter, restart);
}

NTSTATUS queryInformationFile(HANDLE file, IO_STATUS_BLOCK* io, void* buffer, ULONG length,
                              FILE_INFORMATION_CLASS kind) {
  return NtQueryInformationFile(file, io, buffer, length, kind);
}

NTSTATUS queryVolumeInformationFile(HANDLE file, IO_STATUS_BLOCK* io, void* buffer, ULONG length,
                                    FS_INFORMATION_CLASS kind) {
  return NtQueryVolumeInformationFile(file, io, buffer, length, kind);
}

NTSTATUS setInformationFile(HANDLE file, IO_STATUS_BLOCK* io, void* buffer, ULONG length,
                            FILE_INFORMATION_CLASS kind) {
  return NtSetInformationFile(file, io, buffer, length, kind);
}

}  // namespace nt

namespace bypath {

HANDLE openFolder(const wchar_t* path, DWORD access, DWORD& error) {
  const HANDLE opened =
      CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  error = opened == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
  return opened;
}

boost::filesystem::file_status status(const boost::filesystem::path& path,
                                      boost::system::error_code& error) {
  return boost::filesystem::status(path, error);
}

}  // namespace bypath

}  // namespace cfgsweep
