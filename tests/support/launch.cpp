// Test support for the Windows build: starts a program with USERPROFILE set exactly as a test asks.
// Wine puts its own USERPROFILE into every process it starts from outside, so the variable reaches
// the command under test only from inside. Usage: launch NAME VALUE PROGRAM [ARGUMENT...], where
// NAME is the spelling of the variable, or "-" to leave it out. Exits with the program's status.
#include <windows.h>

#include <cctype>
#include <cstring>
#include <string>

namespace {

bool namesUserProfile(const char* entry) {
  const char name[] = "USERPROFILE=";
  for (const char* wanted = name; *wanted != '\0'; ++wanted, ++entry) {
    if (std::toupper(static_cast<unsigned char>(*entry)) != *wanted) {
      return false;
    }
  }
  return true;
}

// `argument` quoted so that the C runtime of the started program splits it back out unchanged.
std::string quoted(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) {
    return argument;
  }
  std::string result = "\"";
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
    } else if (c == '"') {
      result.append(backslashes * 2 + 1, '\\');
      backslashes = 0;
    } else {
      result.append(backslashes, '\\');
      backslashes = 0;
    }
    if (c != '\\') {
      result += c;
    }
  }
  result.append(backslashes * 2, '\\');
  return result + "\"";
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 4) {
    return 125;
  }
  std::string environment;
  char* inherited = GetEnvironmentStringsA();
  for (char* entry = inherited; *entry != '\0'; entry += std::strlen(entry) + 1) {
    if (!namesUserProfile(entry)) {
      environment.append(entry).push_back('\0');
    }
  }
  FreeEnvironmentStringsA(inherited);
  if (std::strcmp(argv[1], "-") != 0) {
    environment.append(argv[1]).append("=").append(argv[2]).push_back('\0');
  }
  environment.push_back('\0');

  std::string commandLine = quoted(argv[3]);
  for (int i = 4; i < argc; ++i) {
    commandLine += " " + quoted(argv[i]);
  }

  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, &environment[0], nullptr,
                      &startup, &process)) {
    return 126;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 126;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(status);
}
