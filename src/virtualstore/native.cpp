#include "virtualstore/native.h"

#include <algorithm>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
extern char** environ;
#endif

namespace cfgsweep {

#ifdef _WIN32

namespace {

std::wstring wideFromUtf8(const std::string& text) {
  if (text.empty()) {
    return std::wstring();
  }
  const int size = static_cast<int>(text.size());
  std::wstring wide(MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), size, &wide[0], static_cast<int>(wide.size()));
  return wide;
}

std::string narrowFromWide(const std::wstring& wide, UINT codePage) {
  if (wide.empty()) {
    return std::string();
  }
  const int size = static_cast<int>(wide.size());
  std::string text(
      WideCharToMultiByte(codePage, 0, wide.data(), size, nullptr, 0, nullptr, nullptr), '\0');
  WideCharToMultiByte(codePage, 0, wide.data(), size, &text[0], static_cast<int>(text.size()),
                      nullptr, nullptr);
  return text;
}

struct Utf8Environment {
  std::vector<std::string> entries;
  std::vector<const char*> pointers;
};

}  // namespace

const char* const* processEnvironment() {
  // The narrow environment would spell a name outside the ANSI code page with look-alikes.
  static const Utf8Environment environment = [] {
    Utf8Environment result;
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* entry = block; entry != nullptr && *entry != L'\0';
         entry += wcslen(entry) + 1) {
      result.entries.push_back(narrowFromWide(entry, CP_UTF8));
    }
    FreeEnvironmentStringsW(block);
    for (const std::string& entry : result.entries) {
      result.pointers.push_back(entry.c_str());
    }
    result.pointers.push_back(nullptr);
    return result;
  }();
  return environment.pointers.data();
}

fs::path toFileSystemPath(const std::string& text) {
  return fs::path(wideFromUtf8(text));
}

std::string consolePathText(const std::string& text) {
  return narrowFromWide(wideFromUtf8(text), CP_ACP);
}

bool isLink(const fs::file_status& status) {
  // Boost reports junctions as symbolic links, and any reparse point it cannot place as
  // reparse_file; neither is entered.
  return fs::is_symlink(status) || status.type() == fs::reparse_file;
}

NewFile createNewEmptyFile(const std::string& text) {
  const HANDLE file = CreateFileW(wideFromUtf8(text).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? NewFile::alreadyThere
                                                                       : NewFile::failed;
  }
  CloseHandle(file);
  return NewFile::created;
}

#else

namespace {

// Composed texts always separate with backslashes, which POSIX takes as ordinary name bytes.
std::string slashed(std::string text) {
  std::replace(text.begin(), text.end(), '\\', '/');
  return text;
}

}  // namespace

const char* const* processEnvironment() {
  return environ;
}

fs::path toFileSystemPath(const std::string& text) {
  return fs::path(slashed(text));
}

std::string consolePathText(const std::string& text) {
  return text;
}

bool isLink(const fs::file_status& status) {
  return fs::is_symlink(status);
}

NewFile createNewEmptyFile(const std::string& text) {
  // O_EXCL also refuses a symbolic link, dangling or not, so nothing is made through one.
  const int file = open(slashed(text).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (file < 0) {
    return errno == EEXIST ? NewFile::alreadyThere : NewFile::failed;
  }
  close(file);
  return NewFile::created;
}

#endif

}  // namespace cfgsweep
