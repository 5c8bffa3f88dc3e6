// The platform seam on Windows, its text half: the wide environment held as UTF-8, composed UTF-8
// texts in UTF-16 for the file system, and in the ANSI code page for the console.
#include <windows.h>

#include <cwchar>
#include <vector>

#include "virtualstore/injected_windows.h"
#include "virtualstore/native.h"

namespace cfgsweep {

namespace {

// `wide` in `codePage`; nullopt when the system cannot convert it.
std::optional<std::string> narrowFromWide(const std::wstring& wide, UINT codePage, DWORD flags) {
  if (wide.empty()) {
    return std::string();
  }
  const int size = static_cast<int>(wide.size());
  const int needed =
      WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) {
    return std::nullopt;
  }
  std::string text(needed, '\0');
  if (WideCharToMultiByte(codePage, flags, wide.data(), size, &text[0], needed, nullptr, nullptr) !=
      needed) {
    return std::nullopt;
  }
  return text;
}

// `wide` with every character outside ASCII as "?", one for each, as a last resort.
std::string asciiSpelling(const std::wstring& wide) {
  std::string text;
  for (std::size_t i = 0; i < wide.size(); ++i) {
    const wchar_t c = wide[i];
    text += c < 0x80 ? static_cast<char>(c) : '?';
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
        wide[i + 1] < 0xE000) {
      ++i;
    }
  }
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
      // Every UTF-16 text has a UTF-8 spelling (an unpaired surrogate becomes U+FFFD).
      result.entries.push_back(narrowFromWide(entry, CP_UTF8, 0).value_or(std::string()));
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
  if (text.empty()) {
    return fs::path();
  }
  const int size = static_cast<int>(text.size());
  std::wstring wide(MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), size, &wide[0], static_cast<int>(wide.size()));
  return fs::path(wide);
}

std::string consolePathText(const std::string& text) {
  const std::wstring wide = toFileSystemPath(text).native();
  const UINT codePage = static_cast<UINT>(injectedAnswer("acp", L"").value_or(GetACP()));
  // Best fit would print Zoë as Zoe, the name of another user's folder. UTF-8, the code page of
  // "Beta: Use Unicode UTF-8", spells every name, and takes no flag but WC_ERR_INVALID_CHARS
  // (WideCharToMultiByte: dwFlags).
  const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const std::optional<std::string> printed = narrowFromWide(wide, codePage, flags);
  return printed && !printed->empty() ? *printed : asciiSpelling(wide);
}

}  // namespace cfgsweep
