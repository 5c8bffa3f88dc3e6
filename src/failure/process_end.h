// How a run of the command ends: the normal end of main, and the abnormal end when a failure
// escapes every handler.
#ifndef CFGSWEEP_FAILURE_PROCESS_END_H_
#define CFGSWEEP_FAILURE_PROCESS_END_H_

namespace cfgsweep {

// Gives both standard streams a buffer that whole lines fit in, and arranges that an exception
// which leaves main ends the process at once: all buffered output flushed, CR LF "Abnormal program
// termination" CR LF written straight to the standard-error handle, status 3, no exit-time
// clean-up. Done before static objects of default priority are built; call it from main too,
// which also links it in.
void prepareProcessEnd();

}  // namespace cfgsweep

#endif  // CFGSWEEP_FAILURE_PROCESS_END_H_
