// The seam between the abnormal end of a run and the platform's process and console handles.
#ifndef CFGSWEEP_FAILURE_NATIVE_H_
#define CFGSWEEP_FAILURE_NATIVE_H_

#include <cstddef>

namespace cfgsweep {

// Writes the `size` bytes at `bytes` to the process's standard-error handle, past every stream
// object and buffer. Failures are ignored: there is nobody left to tell.
void writeToStandardErrorHandle(const char* bytes, std::size_t size);

// Ends the process with `status` without running exit-time clean-up.
[[noreturn]] void endProcessAtOnce(int status);

}  // namespace cfgsweep

#endif  // CFGSWEEP_FAILURE_NATIVE_H_
