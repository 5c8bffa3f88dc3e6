// run-cfgsweep.exe: the program that a double-click starts. Runs cfgsweep.exe from its own folder
// on the same console with the arguments given, in code page 932, explains its exit status in
// Japanese, waits for a key where somebody sees its console and nobody else waits on it, and ends
// with cfgsweep.exe's status.
#include <windows.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "launcher/launcher.h"

namespace {

// The folder that holds this program, ending in a backslash, in UTF-16 whatever its name; empty,
// with the Windows error in `error`, where Windows does not tell it.
std::wstring ownFolder(DWORD& error) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    if (length == 0) {
      error = GetLastError();
      return std::wstring();
    }
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  const std::size_t separator = path.find_last_of(L'\\');
  if (separator == std::wstring::npos) {
    error = ERROR_BAD_PATHNAME;
    return std::wstring();
  }
  return path.substr(0, separator + 1);
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
// it cannot be started, or its end cannot be told, says so and gives the Windows error
// (kExeMissing for a missing file).
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
  if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &process)) {
    // Such as an application control policy that blocks it: its number tells an administrator.
    const DWORD error = GetLastError();
    say(L"cfgsweep.exe を起動できませんでした。Windows のエラー番号: " + std::to_wstring(error) +
        L"\r\n");
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? cfgsweep::kExeMissing
                                                                          : error;
  }
  DWORD status = 0;
  if (WaitForSingleObject(process.hProcess, INFINITE) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(process.hProcess, &status)) {
    status = GetLastError();
    say(L"cfgsweep.exe の終了を確かめられませんでした。Windows のエラー番号: " +
        std::to_wstring(status) + L"\r\n");
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return status;
}

// Whether somebody sees this program's console and nobody else waits on it, as after a
// double-click, in a console window or Windows Terminal. A script on a shared console is not kept
// waiting, nor a deployment tool (Intune, Configuration Manager, a scheduled task), which is no
// console program: what it starts gets a console of its own, hidden (STARTF_USESHOWWINDOW with
// SW_HIDE) or with no window at all (CREATE_NO_WINDOW), or input that is not the console.
// Windows Terminal gives a pseudo-window, which the console documentation says not to rely on:
// only a missing window counts, never whether it is visible.
bool somebodyWatches() {
  STARTUPINFOW startup = {};
  GetStartupInfoW(&startup);
  if ((startup.dwFlags & STARTF_USESHOWWINDOW) != 0 && startup.wShowWindow == SW_HIDE) {
    return false;
  }
  DWORD mode = 0;
  if (GetConsoleWindow() == nullptr || !GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode)) {
    return false;
  }
  DWORD processes[2];
  return GetConsoleProcessList(processes, 2) == 1;
}

// Whether `key` ends the wait as cmd's pause does: a key pressed, other than a modifier or lock key
// alone or Print Screen, so that Windows+Shift+S, which the text asks for, or Alt+Tab does not.
bool endsTheWait(const KEY_EVENT_RECORD& key) {
  static const WORD kAlone[] = {VK_SHIFT,    VK_LSHIFT,  VK_RSHIFT,  VK_CONTROL, VK_LCONTROL,
                                VK_RCONTROL, VK_MENU,    VK_LMENU,   VK_RMENU,   VK_LWIN,
                                VK_RWIN,     VK_CAPITAL, VK_NUMLOCK, VK_SCROLL,  VK_SNAPSHOT};
  return key.bKeyDown &&
         std::find(std::begin(kAlone), std::end(kAlone), key.wVirtualKeyCode) == std::end(kAlone);
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
         !(record.EventType == KEY_EVENT && endsTheWait(record.Event.KeyEvent))) {
  }
  CloseHandle(input);
  say(L"\r\n");
}

}  // namespace

int wmain() {
  // Before the code page is switched, so that a Ctrl+C never leaves the console in 932.
  SetConsoleCtrlHandler(outliveInterrupts, TRUE);
  const std::wstring arguments = cfgsweep::argumentsAfterProgramName(GetCommandLineW());
  DWORD error = 0;
  const std::wstring folder = ownFolder(error);
  const std::wstring exe = folder + L"cfgsweep.exe";
  DWORD status = cfgsweep::kExeMissing;
  if (folder.empty()) {
    // Never a cfgsweep.exe found relative to the current folder, which may be anybody's.
    say(L"run-cfgsweep.exe のあるフォルダーがわかりませんでした。Windows のエラー番号: " +
        std::to_wstring(error) + L"\r\n");
  } else if (!isFile(exe)) {
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
  if (somebodyWatches()) {
    waitForKey();
  }
  return static_cast<int>(status);
}
