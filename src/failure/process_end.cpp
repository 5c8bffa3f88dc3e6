#include "failure/process_end.h"

#include <cstdio>
#include <exception>

#include "failure/native.h"

namespace cfgsweep {

namespace {

const char kAbnormalTermination[] = "\r\nAbnormal program termination\r\n";
const int kAbnormalStatus = 3;

[[noreturn]] void endAbnormally() {
  std::fflush(nullptr);
  // The streams may be what failed, so the text bypasses them.
  writeToStandardErrorHandle(kAbnormalTermination, sizeof kAbnormalTermination - 1);
  endProcessAtOnce(kAbnormalStatus);
}

}  // namespace

void prepareProcessEnd() {
  // Standard error goes out as written; reportFailureLine flushes standard output before it.
  std::setvbuf(stderr, nullptr, _IONBF, 0);
  std::set_terminate(endAbnormally);
}

}  // namespace cfgsweep
