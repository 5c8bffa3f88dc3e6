// The shipped cfgsweep.exe: the system's answers, every one.
#include "virtualstore/injected_windows.h"

namespace cfgsweep {

std::optional<unsigned long long> injectedAnswer(const char*, const wchar_t*) {
  return std::nullopt;
}

}  // namespace cfgsweep
