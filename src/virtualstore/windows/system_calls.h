// The seam between the Windows walk and the system: every call through which it learns and changes
// the file system. The shipped cfgsweep.exe passes each straight on (system_calls.cpp); a test
// build answers some in the system's place (tests/support/nt_answers.cpp), to show what only
// Windows does. Named apart from the system's own functions, so that no slip calls past the seam.
#ifndef CFGSWEEP_VIRTUALSTORE_WINDOWS_SYSTEM_CALLS_H_
#define CFGSWEEP_VIRTUALSTORE_WINDOWS_SYSTEM_CALLS_H_

#include <windows.h>
#include <winternl.h>

#include <boost/filesystem/operations.hpp>
#include <boost/system/error_code.hpp>

namespace cfgsweep {

// The native calls, each on a handle.
namespace nt {

// NtCreateFile with no allocation size, no attributes of its own and no extended attributes:
// opens or creates what `attributes` names, relative to its root folder; the NTSTATUS.
NTSTATUS createFile(HANDLE* opened, ACCESS_MASK access, OBJECT_ATTRIBUTES* attributes,
                    IO_STATUS_BLOCK* io, ULONG share, ULONG disposition, ULONG options);

// NtQueryDirectoryFile without an event or APC: lists the held `folder` into `buffer`, only the
// entry named `filter` where that is given; the NTSTATUS.
NTSTATUS queryDirectoryFile(HANDLE folder, IO_STATUS_BLOCK* io, void* buffer, ULONG length,
                            FILE_INFORMATION_CLASS kind, BOOLEAN single, UNICODE_STRING* filter,
                            BOOLEAN restart);

// NtQueryInformationFile: what the held `file` says of itself in the class `kind`; the NTSTATUS.
NTSTATUS queryInformationFile(HANDLE file, IO_STATUS_BLOCK* io, void* buffer, ULONG length,
                              FILE_INFORMATION_CLASS kind);

// NtQueryVolumeInformationFile: what the volume of the held `file` says in the class `kind`.
NTSTATUS queryVolumeInformationFile(HANDLE file, IO_STATUS_BLOCK* io, void* buffer, ULONG length,
                                    FS_INFORMATION_CLASS kind);

// NtSetInformationFile: sets the class `kind` of the held `file`, such as its deletion.
NTSTATUS setInformationFile(HANDLE file, IO_STATUS_BLOCK* io, void* buffer, ULONG length,
                            FILE_INFORMATION_CLASS kind);

}  // namespace nt

// The calls that name a whole path, as any program does.
namespace bypath {

// CreateFileW of the existing folder `path` with `access`, sharing everything, links followed:
// the handle, or INVALID_HANDLE_VALUE with the Windows error in `error`.
HANDLE openFolder(const wchar_t* path, DWORD access, DWORD& error);

// What lies at `path`, links followed, as boost::filesystem::status answers; a failed query gives
// status_error with its Windows error in `error`.
boost::filesystem::file_status status(const boost::filesystem::path& path,
                                      boost::system::error_code& error);

}  // namespace bypath

}  // namespace cfgsweep

#endif  // CFGSWEEP_VIRTUALSTORE_WINDOWS_SYSTEM_CALLS_H_
