#include "failure/report.h"

#include <cstdio>

namespace cfgsweep {

void reportFailureLine(const char* text) {
  std::fflush(stdout);
  std::fputs(text, stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

}  // namespace cfgsweep
