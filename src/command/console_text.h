// The texts that the command front end prints, as Shift-JIS (code page 932) bytes.
#ifndef CFGSWEEP_COMMAND_CONSOLE_TEXT_H_
#define CFGSWEEP_COMMAND_CONSOLE_TEXT_H_

namespace cfgsweep {

// Writes the seven-line usage text to standard output.
void printUsage();

// Writes the two-line message on how to restart TALVO to standard output.
void printRestartInstructions();

// Writes the fixture action's confirmation to standard output, with no line end after it.
void printDummyPlanted();

// Writes the line saying that USERPROFILE is not set to standard error.
void printUserProfileMissing();

}  // namespace cfgsweep

#endif  // CFGSWEEP_COMMAND_CONSOLE_TEXT_H_
