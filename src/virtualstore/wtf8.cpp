#include "virtualstore/wtf8.h"

namespace cfgsweep {

namespace {

bool isLeadSurrogate(char16_t c) {
  return c >= 0xD800 && c < 0xDC00;
}

bool isTrailSurrogate(char16_t c) {
  return c >= 0xDC00 && c < 0xE000;
}

// The smallest value that a sequence of `length` bytes may carry: below it, the form is overlong.
unsigned long smallestOfLength(std::size_t length) {
  return length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
}

}  // namespace

std::string wtf8FromUtf16(const std::u16string& wide) {
  std::string text;
  for (std::size_t i = 0; i < wide.size(); ++i) {
    unsigned long c = wide[i];
    if (isLeadSurrogate(wide[i]) && i + 1 < wide.size() && isTrailSurrogate(wide[i + 1])) {
      c = 0x10000 + ((c - 0xD800) << 10) + (wide[++i] - 0xDC00);
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

std::u16string utf16FromWtf8(const std::string& text) {
  std::u16string wide;
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
    if (valid && length > 1) {
      valid = c >= smallestOfLength(length) && c <= 0x10FFFF;
    }
    if (!valid) {
      wide += u'\xFFFD';
      ++i;
      continue;
    }
    if (c >= 0x10000) {
      wide += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      wide += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      wide += static_cast<char16_t>(c);
    }
    i += length;
  }
  return wide;
}

}  // namespace cfgsweep
