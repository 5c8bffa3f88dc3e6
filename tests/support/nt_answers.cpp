// Test support for the Windows build: cfgsweep_injected.exe's calls into the system, each passed on
// but answered otherwise where a case asks, to show what only Windows answers. CFGSWEEP_NT_ANSWERS
// holds "CALL|NAME|HEX" items separated by ";", NAME "*" for any entry: CALL about the entry NAME
// (the last component it was opened by, or asked by) is answered HEX, every time it is asked. Each
// answer given is logged as a line "CALL" to the file that CFGSWEEP_NT_LOG names, so that a test
// sees that it was asked. The calls:
//   open            NtCreateFile's status, the call not made
//   tag             a reparse point with this tag, in the basic and the attribute-tag classes
//   tag-status      the attribute-tag class's status, the call not made
//   held-id         the file ID of the internal class
//   held-id-status  the internal class's status, the call not made
//   listed-tag      a reparse point with this tag in a one-name listing
//   listed-id       the file ID in a one-name listing
//   volume          device characteristics added to the volume's
//   disposition-ex  the status of deletion with POSIX semantics, the call not made
//   query-path      the Windows error of the by-path query
//   profile-open    the Windows error of each by-path open of the profile, the call not made
//   profile-list    the same, only for the open that asks to list it
#include <windows.h>

#include <cwchar>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "virtualstore/windows/system_calls.h"

// The system's own call, which winternl.h does not declare.
extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE folder, HANDLE event, PVOID apcRoutine,
                                               PVOID apcContext, PIO_STATUS_BLOCK io, PVOID buffer,
                                               ULONG length, FILE_INFORMATION_CLASS kind,
                                               BOOLEAN single, PUNICODE_STRING filter,
                                               BOOLEAN restart);

namespace cfgsweep {

namespace {

struct Answer {
  std::string call;
  std::wstring name;
  unsigned long long value;
};

std::wstring variable(const wchar_t* name) {
  std::wstring value(GetEnvironmentVariableW(name, nullptr, 0), L'\0');
  value.resize(GetEnvironmentVariableW(name, &value[0], static_cast<DWORD>(value.size())));
  return value;
}

std::vector<Answer> answersAsked() {
  std::vector<Answer> answers;
  const std::wstring items = variable(L"CFGSWEEP_NT_ANSWERS");
  for (std::size_t start = 0; start < items.size();) {
    std::size_t end = items.find(L';', start);
    end = end == std::wstring::npos ? items.size() : end;
    const std::wstring item = items.substr(start, end - start);
    const std::size_t first = item.find(L'|');
    const std::size_t second = item.rfind(L'|');
    if (first != second) {
      answers.push_back({std::string(item.begin(), item.begin() + first),
                         item.substr(first + 1, second - first - 1),
                         std::wcstoull(item.c_str() + second + 1, nullptr, 16)});
    }
    start = end + 1;
  }
  return answers;
}

void logAnswer(const std::string& call) {
  const HANDLE log = CreateFileW(variable(L"CFGSWEEP_NT_LOG").c_str(), FILE_APPEND_DATA,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  if (log != INVALID_HANDLE_VALUE) {
    const std::string line = call + "\n";
    DWORD written = 0;
    WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(log);
  }
}

// The answer that the case asked for `call` about the entry `name`, logged; nullopt for none.
std::optional<unsigned long long> answer(const char* call, const std::wstring& name) {
  static const std::vector<Answer> answers = answersAsked();
  for (const Answer& given : answers) {
    if (given.call == call &&
        (given.name == L"*" || _wcsicmp(given.name.c_str(), name.c_str()) == 0)) {
      logAnswer(given.call);
      return given.value;
    }
  }
  return std::nullopt;
}

// The name by which each handle that the walk opened was opened, for the calls made through it.
std::map<HANDLE, std::wstring>& openedNames() {
  static std::map<HANDLE, std::wstring> names;
  return names;
}

std::wstring nameOf(HANDLE handle) {
  const auto found = openedNames().find(handle);
  return found == openedNames().end() ? std::wstring() : found->second;
}

std::wstring lastComponent(const wchar_t* text, std::size_t size) {
  std::wstring name(text, size);
  const std::size_t slash = name.find_last_of(L"\\/");
  return slash == std::wstring::npos ? name : name.substr(slash + 1);
}

}  // namespace

namespace nt {

NTSTATUS createFile(HANDLE* opened, ACCESS_MASK access, OBJECT_ATTRIBUTES* attributes,
                    IO_STATUS_BLOCK* io, ULONG share, ULONG disposition, ULONG options) {
  const UNICODE_STRING* objectName = attributes->ObjectName;
  const std::wstring name = lastComponent(objectName->Buffer, objectName->Length / sizeof(wchar_t));
  if (const auto status = answer("open", name)) {
    *opened = nullptr;
    return static_cast<NTSTATUS>(*status);
  }
  const NTSTATUS status =
      NtCreateFile(opened, access, attributes, io, nullptr, FILE_ATTRIBUTE_NORMAL, share,
                   disposition, options, nullptr, 0);
  if (status == 0) {
    openedNames()[*opened] = name;
  }
  return status;
}

NTSTATUS queryDirectoryFile(HANDLE folder, IO_STATUS_BLOCK* io, void* buffer, ULONG length,
                            FILE_INFORMATION_CLASS kind, BOOLEAN single, UNICODE_STRING* filter,
                            BOOLEAN restart) {
  const NTSTATUS status = NtQueryDirectoryFile(folder, nullptr, nullptr, nullptr, io, buffer,
                                               length, kind, single, filter, restart);
  if (status != 0 || filter == nullptr || kind != FileIdBothDirectoryInformation) {
    return status;
  }
  const std::wstring name(filter->Buffer, filter->Length / sizeof(wchar_t));
  auto* listed = static_cast<FILE_ID_BOTH_DIR_INFORMATION*>(buffer);
  if (const auto tag = answer("listed-tag", name)) {
    listed->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    listed->EaSize = static_cast<ULONG>(*tag);
  }
  if (const auto id = answer("listed-id", name)) {
    listed->FileId.QuadPart = static_cast<LONGLONG>(*id);
  }
  return status;
}

NTSTATUS queryInformationFile(HANDLE file, IO_STATUS_BLOCK* io, void* buffer, ULONG length,
                              FILE_INFORMATION_CLASS kind) {
  const std::wstring name = nameOf(file);
  const char* refusal = kind == FileAttributeTagInformation ? "tag-status"
                        : kind == FileInternalInformation   ? "held-id-status"
                                                            : nullptr;
  if (refusal != nullptr) {
    if (const auto status = answer(refusal, name)) {
      return static_cast<NTSTATUS>(*status);
    }
  }
  const NTSTATUS status = NtQueryInformationFile(file, io, buffer, length, kind);
  if (status != 0) {
    return status;
  }
  if (kind == FileBasicInformation || kind == FileAttributeTagInformation) {
    if (const auto tag = answer("tag", name)) {
      if (kind == FileBasicInformation) {
        static_cast<FILE_BASIC_INFORMATION*>(buffer)->FileAttributes |=
            FILE_ATTRIBUTE_REPARSE_POINT;
      } else {
        auto* tagged = static_cast<FILE_ATTRIBUTE_TAG_INFORMATION*>(buffer);
        tagged->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        tagged->ReparseTag = static_cast<ULONG>(*tag);
      }
    }
  } else if (kind == FileInternalInformation) {
    if (const auto id = answer("held-id", name)) {
      static_cast<FILE_INTERNAL_INFORMATION*>(buffer)->IndexNumber.QuadPart =
          static_cast<LONGLONG>(*id);
    }
  }
  return status;
}

NTSTATUS queryVolumeInformationFile(HANDLE file, IO_STATUS_BLOCK* io, void* buffer, ULONG length,
                                    FS_INFORMATION_CLASS kind) {
  const NTSTATUS status = NtQueryVolumeInformationFile(file, io, buffer, length, kind);
  if (status == 0 && kind == FileFsDeviceInformation) {
    if (const auto characteristics = answer("volume", nameOf(file))) {
      static_cast<FILE_FS_DEVICE_INFORMATION*>(buffer)->Characteristics |=
          static_cast<ULONG>(*characteristics);
    }
  }
  return status;
}

NTSTATUS setInformationFile(HANDLE file, IO_STATUS_BLOCK* io, void* buffer, ULONG length,
                            FILE_INFORMATION_CLASS kind) {
  if (kind == static_cast<FILE_INFORMATION_CLASS>(64)) {
    if (const auto status = answer("disposition-ex", nameOf(file))) {
      return static_cast<NTSTATUS>(*status);
    }
  }
  return NtSetInformationFile(file, io, buffer, length, kind);
}

}  // namespace nt

namespace bypath {

HANDLE openFolder(const wchar_t* path, DWORD access, DWORD& error) {
  std::wstring folder(path);
  while (!folder.empty() && folder.back() == L'\\') {
    folder.pop_back();
  }
  const std::wstring name = lastComponent(folder.c_str(), folder.size());
  const bool listing = (access & FILE_LIST_DIRECTORY) != 0;
  if (const auto refused = listing ? answer("profile-list", name) : std::nullopt) {
    error = static_cast<DWORD>(*refused);
    return INVALID_HANDLE_VALUE;
  }
  if (const auto refused = answer("profile-open", name)) {
    error = static_cast<DWORD>(*refused);
    return INVALID_HANDLE_VALUE;
  }
  const HANDLE opened =
      CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  error = opened == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
  return opened;
}

boost::filesystem::file_status status(const boost::filesystem::path& path,
                                      boost::system::error_code& error) {
  if (const auto refused = answer("query-path", path.filename().native())) {
    error.assign(static_cast<int>(*refused), boost::system::system_category());
    return boost::filesystem::file_status(boost::filesystem::status_error);
  }
  return boost::filesystem::status(path, error);
}

}  // namespace bypath

}  // namespace cfgsweep
