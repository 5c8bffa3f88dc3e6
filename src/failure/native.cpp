#include "failure/native.h"

#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace cfgsweep {

void writeToStandardErrorHandle(const char* bytes, std::size_t size) {
#ifdef _WIN32
  const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
  DWORD written = 0;
  while (size > 0 && WriteFile(handle, bytes, static_cast<DWORD>(size), &written, nullptr) &&
         written > 0) {
    bytes += written;
    size -= written;
  }
#else
  while (size > 0) {
    const ssize_t written = write(STDERR_FILENO, bytes, size);
    if (written <= 0) {
      return;
    }
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
#endif
}

void endProcessAtOnce(int status) {
  std::_Exit(status);
}

}  // namespace cfgsweep
