#include "failure/process_end.h"

#include <cstdio>
#include <exception>
#include <iostream>

#include "failure/native.h"

namespace cfgsweep {

namespace {

const char kAbnormalTermination[] = "\r\nAbnormal program termination\r\n";
const int kAbnormalStatus = 3;

[[noreturn]] void onUnhandledException() {
  endAbnormally();
}

}  // namespace

void prepareProcessEnd() {
  std::cerr.setf(std::ios::unitbuf);
  std::cerr.tie(&std::cout);
  std::set_terminate(onUnhandledException);
}

void endAbnormally() {
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  // The streams may be what failed, so the text bypasses them.
  writeToStandardErrorHandle(kAbnormalTermination, sizeof kAbnormalTermination - 1);
  endProcessAtOnce(kAbnormalStatus);
}

}  // namespace cfgsweep
