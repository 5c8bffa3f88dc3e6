// The shipped cfgsweep.exe: every call goes straight to the system.
#include "virtualstore/nt_calls_windows.h"

namespace cfgsweep {

NTSTATUS ntCreateFile(HANDLE* opened, ACCESS_MASK access, OBJECT_ATTRIBUTES* attributes,
                      IO_STATUS_BLOCK* io, ULONG share, ULONG disposition, ULONG options) {
  return NtCreateFile(opened, access, attributes, io, nullptr, FILE_ATTRIBUTE_NORMAL, share,
                      disposition, options, nullptr, 0);
}

NTSTATUS ntQueryDirectoryFile(HANDLE folder, IO_STATUS_BLOCK* io, void* buffer, ULONG length,
                              FILE_INFORMATION_CLASS kind, BOOLEAN single, UNICODE_STRING* filter,
                              BOOLEAN restart) {
  return NtQueryDirectoryFile(folder, nullptr, nullptr, nullptr, io, buffer, length, kind, single,
                              filter, restart);
}

NTSTATUS ntQueryInformationFile(HANDLE file, IO_STATUS_BLOCK* io, void* buffer, ULONG length,
                                FILE_INFORMATION_CLASS kind) {
  return NtQueryInformationFile(file, io, buffer, length, kind);
}

NTSTATUS ntQueryVolumeInformationFile(HANDLE file, IO_STATUS_BLOCK* io, void* buffer, ULONG length,
                                      FS_INFORMATION_CLASS kind) {
  return NtQueryVolumeInformationFile(file, io, buffer, length, kind);
}

NTSTATUS ntSetInformationFile(HANDLE file, IO_STATUS_BLOCK* io, void* buffer, ULONG length,
                              FILE_INFORMATION_CLASS kind) {
  return NtSetInformationFile(file, io, buffer, length, kind);
}

boost::filesystem::file_status statusAtPath(const boost::filesystem::path& path,
                                            boost::system::error_code& error) {
  return boost::filesystem::status(path, error);
}

}  // namespace cfgsweep
