// How a run of the command ends: the normal end of main, and the abnormal end when a failure
// escapes every handler.
#ifndef CFGSWEEP_FAILURE_PROCESS_END_H_
#define CFGSWEEP_FAILURE_PROCESS_END_H_

namespace cfgsweep {

// Makes standard error unbuffered and arranges that an exception which leaves main ends the
// process through endAbnormally. Call first thing in main.
void prepareProcessEnd();

// Flushes all buffered output, writes CR LF "Abnormal program termination" CR LF straight to the
// standard-error handle and ends the process at once with status 3, without exit-time clean-up.
[[noreturn]] void endAbnormally();

}  // namespace cfgsweep

#endif  // CFGSWEEP_FAILURE_PROCESS_END_H_
