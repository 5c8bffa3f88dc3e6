// The abnormal end's seam on Linux: write(2) to descriptor 2.
#include <unistd.h>

#include <cstdlib>

#include "failure/native.h"

namespace cfgsweep {

void writeToStandardErrorHandle(const char* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t written = write(STDERR_FILENO, bytes, size);
    if (written <= 0) {
      return;
    }
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
}

void endProcessAtOnce(int status) {
  std::_Exit(status);
}

}  // namespace cfgsweep
