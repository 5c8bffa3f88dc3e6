// The abnormal end's seam on Windows: WriteFile to the standard-error handle.
#include <windows.h>

#include <cstdlib>

#include "failure/native.h"

namespace cfgsweep {

void writeToStandardErrorHandle(const char* bytes, std::size_t size) {
  const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
  DWORD written = 0;
  while (size > 0 && WriteFile(handle, bytes, static_cast<DWORD>(size), &written, nullptr) &&
         written > 0) {
    bytes += written;
    size -= written;
  }
}

void endProcessAtOnce(int status) {
  std::_Exit(status);
}

}  // namespace cfgsweep
