// Test support for the Windows build: starts a program with USERPROFILE set exactly as a test asks.
// Wine puts its own USERPROFILE into every process it starts from outside, so the variable reaches
// the command under test only from inside. Usage: launch NAME VALUE COMMAND_LINE, where NAME is
// the spelling of the variable, or "-" to leave it out, and COMMAND_LINE names the program and its
// arguments quoted as its C runtime splits them. Exits with the program's status, or 126 where it
// could not be started.
// Everything goes through the wide API, so that a value outside the ANSI code page arrives whole;
// a U+FFFF in VALUE becomes the unpaired surrogate U+D800, which no UTF-8 argument can carry.
// Where CFGSWEEP_HOLD names a folder, it is held open meanwhile as another program may hold it,
// without FILE_SHARE_READ, so that nobody else may list it. CFGSWEEP_START "hidden" starts the
// program as a deployment tool may, on a console of its own that is hidden, and "no-window" on one
// without a window (CREATE_NO_WINDOW).
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t* argv[]) {
  if (argc != 4) {
    return 125;
  }
  std::wstring environment;
  wchar_t* inherited = GetEnvironmentStringsW();
  for (wchar_t* entry = inherited; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
    if (_wcsnicmp(entry, L"USERPROFILE=", 12) != 0) {
      environment.append(entry).push_back(L'\0');
    }
  }
  FreeEnvironmentStringsW(inherited);
  if (std::wcscmp(argv[1], L"-") != 0) {
    std::wstring value = argv[2];
    for (wchar_t& c : value) {
      c = c == L'\xFFFF' ? L'\xD800' : c;
    }
    environment.append(argv[1]).append(L"=").append(value).push_back(L'\0');
  }
  environment.push_back(L'\0');

  std::wstring commandLine = argv[3];

  wchar_t held[MAX_PATH];
  const DWORD heldLength = GetEnvironmentVariableW(L"CFGSWEEP_HOLD", held, MAX_PATH);
  if (heldLength > 0 && heldLength < MAX_PATH &&
      CreateFileW(held, GENERIC_READ, FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS, nullptr) == INVALID_HANDLE_VALUE) {
    return 127;
  }

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  DWORD flags = CREATE_UNICODE_ENVIRONMENT;
  wchar_t start[16];
  const DWORD startLength = GetEnvironmentVariableW(L"CFGSWEEP_START", start, 16);
  if (startLength > 0 && startLength < 16) {
    const bool hidden = std::wcscmp(start, L"hidden") == 0;
    startup.dwFlags = hidden ? STARTF_USESHOWWINDOW : 0;
    startup.wShowWindow = SW_HIDE;
    flags |= hidden ? CREATE_NEW_CONSOLE : CREATE_NO_WINDOW;
  }
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, flags, &environment[0],
                      nullptr, &startup, &process)) {
    std::fwprintf(stderr, L"launch: CreateProcess failed, error %lu\n", GetLastError());
    return 126;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 126;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(status);
}
