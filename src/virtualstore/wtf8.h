// WTF-8, in which Windows names are held as narrow text: UTF-8, but for an unpaired surrogate,
// which NTFS names may hold, spelled as the three bytes of its own code point, so that every
// UTF-16 name comes back whole (Rust's OsString holds them so).
#ifndef CFGSWEEP_VIRTUALSTORE_WTF8_H_
#define CFGSWEEP_VIRTUALSTORE_WTF8_H_

#include <string>

namespace cfgsweep {

// The UTF-16 `wide` in WTF-8. Never fails.
std::string wtf8FromUtf16(const std::u16string& wide);

// The WTF-8 `text` in UTF-16. Each byte that begins no well-formed sequence becomes U+FFFD: a
// stray or cut-short sequence, an overlong form, or a value above U+10FFFF.
std::u16string utf16FromWtf8(const std::string& text);

}  // namespace cfgsweep

#endif  // CFGSWEEP_VIRTUALSTORE_WTF8_H_
