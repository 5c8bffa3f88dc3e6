// run-cfgsweep.exe: the program that a double-click starts. Runs cfgsweep.exe from its own folder
// on the same console with the arguments given, in code page 932, explains its exit status in
// Japanese, waits for a key where it owns the console, and ends with cfgsweep.exe's status.
#include <windows.h>

#include <string>

#include "launcher/launcher.h"

namespace {

// The folder that holds this program, ending in a backslash, in UTF-16 whatever its name.
std::wstring ownFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    if (length == 0) {
      return std::wstring();
    }
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  return path.substr(0, path.find_last_of(L'\\') + 1);
}

bool isFile(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Writes `text` to standard output: as UTF-16 to a console, which then shows it right whatever
// its code page, else in code page 932, as cfgsweep.exe writes, a character that it cannot spell
// as "?", never a look-alike.
void say(const std::wstring& text) {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  DWORD written = 0;
  if (GetConsoleMode(out, &mode)) {
    WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  // No character takes more than two bytes in code page 932.
  std::string bytes(text.size() * 2, '\0');
  const int size =
      WideCharToMultiByte(932, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()),
                          &bytes[0], static_cast<int>(bytes.size()), "?", nullptr);
  WriteFile(out, bytes.data(), size > 0 ? static_cast<DWORD>(size) : 0, &written, nullptr);
}

// Ctrl+C and Ctrl+Break reach every process on the console: cfgsweep.exe ends by them, and this
// program lives on to explain its status. A handler, unlike ignoring them, is not inherited.
BOOL WINAPI outliveInterrupts(DWORD event) {
  return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
}

// Runs `exe` with `arguments` on this console and these standard handles; its exit status. Where
// it cannot be started, says why and gives the Windows error (kExeMissing for a missing file).
DWORD runToEnd(const std::wstring& exe, const std::wstring& arguments) {
  std::wstring commandLine = L"\"" + exe + L"\"";
  if (!arguments.empty() && arguments[0] != L' ' && arguments[0] != L'\t') {
    commandLine += L' ';
  }
  commandLine += arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process = {};
  SetConsoleCtrlHandler(outliveInterrupts, TRUE);
  if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &process)) {
    // Such as an application control policy that blocks it: its number tells an administrator.
    const DWORD error = GetLastError();
    say(L"cfgsweep.exe を起動できませんでした。Windows のエラー番号: " + std::to_wstring(error) +
        L"\r\n");
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? cfgsweep::kExeMissing
                                                                          : error;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = cfgsweep::kExeMissing;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return status;
}

// Whether this program is alone on its console, as after a double-click: a script or a deployment
// tool that started it shares the console, and must never be kept waiting.
bool ownsConsole() {
  DWORD processes[2];
  return GetConsoleProcessList(processes, 2) == 1;
}

void waitForKey() {
  say(L"続行するには何かキーを押してください . . .");
  const HANDLE input =
      CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  FlushConsoleInputBuffer(input);
  INPUT_RECORD record;
  DWORD read = 0;
  while (ReadConsoleInputW(input, &record, 1, &read) && read == 1 &&
         !(record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown)) {
  }
  CloseHandle(input);
  say(L"\r\n");
}

}  // namespace

int wmain() {
  const std::wstring arguments = cfgsweep::argumentsAfterProgramName(GetCommandLineW());
  const std::wstring folder = ownFolder();
  const std::wstring exe = folder + L"cfgsweep.exe";
  DWORD status = cfgsweep::kExeMissing;
  if (!isFile(exe)) {
    say(cfgsweep::missingExeText(folder));
  } else {
    // cfgsweep.exe writes code page 932; the console shows it so only while it runs.
    const UINT codePage = GetConsoleOutputCP();
    if (codePage != 0) {
      SetConsoleOutputCP(932);
    }
    status = runToEnd(exe, arguments);
    if (codePage != 0) {
      SetConsoleOutputCP(codePage);
    }
  }
  say(cfgsweep::explanationText(cfgsweep::actionOf(arguments), status));
  if (ownsConsole()) {
    waitForKey();
  }
  return static_cast<int>(status);
}
