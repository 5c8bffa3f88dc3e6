// Test support for the Windows build: the answers that cfgsweep_injected.exe gives in place of the
// system's. CFGSWEEP_NT_ANSWERS holds "CALL|NAME|HEX" items separated by ";", NAME "*" for any
// entry: CALL about NAME is answered HEX, every time it is asked. Each answer given is logged as a
// line "CALL" to the file that CFGSWEEP_NT_LOG names, so that a test sees that it was asked.
#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include "virtualstore/injected_windows.h"

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

}  // namespace

std::optional<unsigned long long> injectedAnswer(const char* call, const wchar_t* name) {
  static const std::vector<Answer> answers = answersAsked();
  for (const Answer& answer : answers) {
    if (answer.call == call && (answer.name == L"*" || _wcsicmp(answer.name.c_str(), name) == 0)) {
      logAnswer(answer.call);
      return answer.value;
    }
  }
  return std::nullopt;
}

}  // namespace cfgsweep
