// Test support for the Windows build: what a test of run-cfgsweep.exe on a real console needs
// that Wine's own programs do not give.
//   console keys PROGRAM VK...  attaches to the console of the running PROGRAM (such as
//                               run-cfgsweep.exe) and types each virtual key there, alone: down, up
//   console                     copied as cfgsweep.exe, stands in for it: appends the console's
//                               output code page ("cp=932") to cfgsweep-console.log beside it, and
//                               ends with the status in cfgsweep-status.txt beside it (0 without)
#include <windows.h>

#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

DWORD processNamed(const wchar_t* name) {
  DWORD found = 0;
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W entry;
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, name) == 0) {
      found = entry.th32ProcessID;
    }
  }
  CloseHandle(snapshot);
  return found;
}

int typeKeys(int count, wchar_t* keys[], const wchar_t* program) {
  const DWORD process = processNamed(program);
  FreeConsole();
  if (process == 0 || !AttachConsole(process)) {
    return 2;
  }
  const HANDLE input =
      CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  for (int i = 0; i < count; ++i) {
    INPUT_RECORD records[2] = {};
    for (int k = 0; k < 2; ++k) {
      records[k].EventType = KEY_EVENT;
      records[k].Event.KeyEvent.bKeyDown = k == 0;
      records[k].Event.KeyEvent.wRepeatCount = 1;
      records[k].Event.KeyEvent.wVirtualKeyCode =
          static_cast<WORD>(std::wcstoul(keys[i], nullptr, 0));
    }
    DWORD written = 0;
    if (!WriteConsoleInputW(input, records, 2, &written)) {
      return 3;
    }
  }
  return 0;
}

int standIn() {
  std::wstring folder(MAX_PATH, L'\0');
  folder.resize(GetModuleFileNameW(nullptr, &folder[0], MAX_PATH));
  folder.resize(folder.find_last_of(L'\\') + 1);
  if (FILE* log = _wfopen((folder + L"cfgsweep-console.log").c_str(), L"a")) {
    std::fprintf(log, "cp=%u\n", GetConsoleOutputCP());
    std::fclose(log);
  }
  unsigned long status = 0;
  if (FILE* given = _wfopen((folder + L"cfgsweep-status.txt").c_str(), L"r")) {
    char text[32] = {};
    status = std::fgets(text, sizeof text, given) ? std::strtoul(text, nullptr, 0) : 0;
    std::fclose(given);
  }
  return static_cast<int>(status);
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
  if (argc >= 3 && std::wcscmp(argv[1], L"keys") == 0) {
    return typeKeys(argc - 3, argv + 3, argv[2]);
  }
  return standIn();
}
