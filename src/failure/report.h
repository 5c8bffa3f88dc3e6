// The one way a failure text reaches standard error, so that it keeps its place among the lines of
// standard output.
#ifndef CFGSWEEP_FAILURE_REPORT_H_
#define CFGSWEEP_FAILURE_REPORT_H_

namespace cfgsweep {

// Flushes standard output, then writes `text` and a line end to standard error and flushes it.
// Write errors are not examined.
void reportFailureLine(const char* text);

}  // namespace cfgsweep

#endif  // CFGSWEEP_FAILURE_REPORT_H_
