// The command's entry: reads the command line, runs one action and gives the exit status.
#ifndef CFGSWEEP_COMMAND_ENTRY_H_
#define CFGSWEEP_COMMAND_ENTRY_H_

#include <string>

namespace cfgsweep {

// `text` with the ASCII letters a to z turned into A to Z; every other byte is unchanged.
std::string upperCaseCopy(std::string text);

// Runs the action that the first of the `argc` arguments after the program name in `argv` selects:
// "/C" plants the dummy, "/?" or "/H" prints the usage, anything else (or nothing) removes the
// redirected copy. Returns 0 on success, 1 when the action failed; file-system query failures
// of the removal are raised.
int runCommand(int argc, const char* const argv[]);

}  // namespace cfgsweep

#endif  // CFGSWEEP_COMMAND_ENTRY_H_
