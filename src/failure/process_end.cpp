#include "failure/process_end.h"

#include <cstdio>
#include <exception>

#include "failure/native.h"

namespace cfgsweep {

namespace {

const char kAbnormalTermination[] = "\r\nAbnormal program termination\r\n";
const int kAbnormalStatus = 3;
const std::size_t kStreamBufferSize = 4096;

[[noreturn]] void endAbnormally() {
  std::fflush(nullptr);
  // The streams may be what failed, so the text bypasses them.
  writeToStandardErrorHandle(kAbnormalTermination, sizeof kAbnormalTermination - 1);
  endProcessAtOnce(kAbnormalStatus);
}

struct EarlyProcessEnd {
  EarlyProcessEnd() {
    prepareProcessEnd();
  }
};

// Built before every static object of default priority, the VirtualStore root among them, so that
// a failure while they are built ends the process as one in main does.
__attribute__((init_priority(101))) const EarlyProcessEnd earlyProcessEnd;

}  // namespace

void prepareProcessEnd() {
  // Both streams go out a whole line at a time: every line end flushes its stream, and
  // reportFailureLine flushes standard output before it writes. Buffered, a line is one write; the
  // C runtime on Windows would otherwise write a console or NUL byte by byte.
  std::setvbuf(stdout, nullptr, _IOFBF, kStreamBufferSize);
  std::setvbuf(stderr, nullptr, _IOFBF, kStreamBufferSize);
  std::set_terminate(endAbnormally);
}

}  // namespace cfgsweep
