// The platform seam on Windows, its text half: the wide environment held as WTF-8, composed texts
// in UTF-16 for the file system, and paths in code page 932 for the console.
#include <windows.h>

#include <cwchar>
#include <vector>

#include <boost/filesystem/exception.hpp>

#include "virtualstore/native.h"

namespace cfgsweep {

namespace {

// Every fixed text is in code page 932, and the launcher switches the console to it.
const UINT kConsoleCodePage = 932;

bool isLeadSurrogate(wchar_t c) {
  return c >= 0xD800 && c < 0xDC00;
}

bool isTrailSurrogate(wchar_t c) {
  return c >= 0xDC00 && c < 0xE000;
}

// `wide` in WTF-8: UTF-8, but for an unpaired surrogate, which NTFS names may hold, spelled as
// the three bytes of its own code point, so that it comes back whole (Rust's OsString does so).
std::string wtf8FromWide(const wchar_t* wide, std::size_t size) {
  std::string text;
  for (std::size_t i = 0; i < size; ++i) {
    unsigned long c = static_cast<unsigned short>(wide[i]);
    if (isLeadSurrogate(wide[i]) && i + 1 < size && isTrailSurrogate(wide[i + 1])) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<unsigned short>(wide[++i]) - 0xDC00);
    }
    if (c < 0x80) {
      text += static_cast<char>(c);
    } else if (c < 0x800) {
      text += static_cast<char>(0xC0 | (c >> 6));
      text += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      text += static_cast<char>(0xE0 | (c >> 12));
      text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      text += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      text += static_cast<char>(0xF0 | (c >> 18));
      text += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      text += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return text;
}

// The WTF-8 `text` in UTF-16; a byte that begins no sequence becomes U+FFFD.
std::wstring wideFromWtf8(const std::string& text) {
  std::wstring wide;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    unsigned long c = length == 1 ? lead : lead & (0x7F >> length);
    bool valid = lead < 0x80 || (lead >= 0xC2 && lead < 0xF5 && i + length <= text.size());
    for (std::size_t k = 1; valid && k < length; ++k) {
      const unsigned char next = static_cast<unsigned char>(text[i + k]);
      valid = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    if (!valid) {
      wide += L'\xFFFD';
      ++i;
      continue;
    }
    if (c >= 0x10000) {
      wide += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
      wide += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      wide += static_cast<wchar_t>(c);
    }
    i += length;
  }
  return wide;
}

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
  // Without code page 932 on the system: every character outside ASCII as "?", one for each.
  text.clear();
  for (std::size_t i = 0; i < wide.size(); ++i) {
    text += wide[i] < 0x80 ? static_cast<char>(wide[i]) : '?';
    if (isLeadSurrogate(wide[i]) && i + 1 < wide.size() && isTrailSurrogate(wide[i + 1])) {
      ++i;
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
      result.entries.push_back(wtf8FromWide(entry, wcslen(entry)));
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
  return fs::path(wideFromWtf8(text));
}

std::string consolePathText(const std::string& text) {
  return consoleText(wideFromWtf8(text));
}

std::string failureDescription(const fs::filesystem_error& error) {
  // The library's own text names the path in the ANSI code page, through a conversion that
  // fails under UTF-8 and drops the path; the label and the system's message are kept.
  return std::string(error.boost::system::system_error::what()) + ": \"" +
         consoleText(error.path1().native()) + '"';
}

}  // namespace cfgsweep
