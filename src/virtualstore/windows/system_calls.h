// The Windows calls through which the walk learns and changes the file system, one function each:
// the shipped cfgsweep.exe passes every call straight on, and a test build answers some of them in
// the system's place (tests/support/nt_answers.cpp), to show what only Windows does.
#ifndef CFGSWEEP_VIRTUALSTORE_NT_CALLS_WINDOWS_H_
#define CFGSWEEP_VIRTUALSTORE_NT_CALLS_WINDOWS_H_

#include <windows.h>
#include <winternl.h>

#include <boost/filesystem/operations.hpp>
#include <boost/system/error_code.hpp>

// The system's own call, which winternl.h does not declare.
extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE folder, HANDLE event, PVOID apcRoutine,
                                               PVOID apcContext, PIO_STATUS_BLOCK io, PVOID buffer,
                                               ULONG length, FILE_INFORMATION_CLASS kind,
                                               BOOLEAN single, PUNICODE_STRING filter,
                                               BOOLEAN restart);

namespace cfgsweep {

// NtCreateFile with no allocation size, no attributes of its own and no extended attributes:
// opens or creates what `attributes` names, relative to its root folder; the NTSTATUS.
NTSTATUS ntCreateFile(HANDLE* opened, ACCESS_MASK access, OBJECT_ATTRIBUTES* attributes,
                      IO_STATUS_BLOCK* io, ULONG share, ULONG disposition, ULONG options);

// NtQueryDirectoryFile without an event or APC: lists the held `folder` into `buffer`, only the
// entry named `filter` where that is given; the NTSTATUS.
NTSTATUS ntQueryDirectoryFile(HANDLE folder, IO_STATUS_BLOCK* io, void* buffer, ULONG length,
                              FILE_INFORMATION_CLASS kind, BOOLEAN single, UNICODE_STRING* filter,
                              BOOLEAN restart);

// NtQueryInformationFile: what the held `file` says of itself in the class `kind`; the NTSTATUS.
NTSTATUS ntQueryInformationFile(HANDLE file, IO_STATUS_BLOCK* io, void* buffer, ULONG length,
                                FILE_INFORMATION_CLASS kind);

// NtQueryVolumeInformationFile: what the volume of the held `file` says in the class `kind`.
NTSTATUS ntQueryVolumeInformationFile(HANDLE file, IO_STATUS_BLOCK* io, void* buffer, ULONG length,
                                      FS_INFORMATION_CLASS kind);

// NtSetInformationFile: sets the class `kind` of the held `file`, such as its deletion.
NTSTATUS ntSetInformationFile(HANDLE file, IO_STATUS_BLOCK* io, void* buffer, ULONG length,
                              FILE_INFORMATION_CLASS kind);

// What lies at `path`, asked by path, links followed, as boost::filesystem::status answers; a
// failed query gives status_error with its Windows error in `error`.
boost::filesystem::file_status statusAtPath(const boost::filesystem::path& path,
                                            boost::system::error_code& error);

}  // namespace cfgsweep

#endif  // CFGSWEEP_VIRTUALSTORE_NT_CALLS_WINDOWS_H_
