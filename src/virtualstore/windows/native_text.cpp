// The platform seam on Windows, its text half: the wide environment held as WTF-8, composed texts
// in UTF-16 for the file system, and paths in code page 932 for the console.
#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>

#include "virtualstore/native.h"
#include "virtualstore/wtf8.h"

namespace cfgsweep {

namespace {

// Every fixed text is in code page 932, and the launcher switches the console to it.
const UINT kConsoleCodePage = 932;

// `wide` in code page 932, every character that it cannot spell as "?", never a look-alike: best
// fit would print Zoë as Zoe, the name of another user's folder.
std::string consoleText(const std::wstring& wide) {
  if (wide.empty()) {
    return std::string();
  }
  // No character takes more than two bytes in code page 932, so one pass is enough.
  std::string text(wide.size() * 2, '\0');
  const int written = WideCharToMultiByte(kConsoleCodePage, WC_NO_BEST_FIT_CHARS, wide.data(),
                                          static_cast<int>(wide.size()), &text[0],
                                          static_cast<int>(text.size()), "?", nullptr);
  if (written > 0) {
    text.resize(written);
    return text;
  }
  // Without code page 932 on the system: every character outside ASCII as "?", one for each,
  // which in WTF-8 is one for each byte that begins a sequence of several.
  text.clear();
  for (const char c : wtf8FromUtf16(std::u16string(wide.begin(), wide.end()))) {
    if ((c & 0xC0) != 0x80) {
      text += (c & 0x80) != 0 ? '?' : c;
    }
  }
  return text;
}

struct Wtf8Environment {
  std::vector<std::string> entries;
  std::vector<const char*> pointers;
};

}  // namespace

const char* const* processEnvironment() {
  // The narrow environment would spell a name outside the ANSI code page with look-alikes.
  static const Wtf8Environment environment = [] {
    Wtf8Environment result;
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* entry = block; entry != nullptr && *entry != L'\0';
         entry += wcslen(entry) + 1) {
      result.entries.push_back(wtf8FromUtf16(std::u16string(entry, entry + wcslen(entry))));
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
  const std::u16string wide = utf16FromWtf8(text);
  return fs::path(std::wstring(wide.begin(), wide.end()));
}

std::string consolePathText(const std::string& text) {
  return consoleText(toFileSystemPath(text).native());
}

std::string printedPath(const fs::path& path) {
  return consoleText(path.native());
}

std::string systemMessageText(const boost::system::error_code& error) {
  // The library's own message comes in the ANSI code page, which the console's 932 may not be.
  wchar_t* message = nullptr;
  const DWORD size = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(error.value()), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  if (size == 0) {
    return "Unknown error (" + std::to_string(error.value()) + ")";
  }
  const std::wstring wide(message, size);
  LocalFree(message);
  return consoleText(wide);
}

}  // namespace cfgsweep
