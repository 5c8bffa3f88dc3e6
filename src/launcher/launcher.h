// What run-cfgsweep.exe, the program that a double-click starts, says and hands on: the command
// line for cfgsweep.exe, the action that it selects, and the explanation of its exit status.
#ifndef CFGSWEEP_LAUNCHER_LAUNCHER_H_
#define CFGSWEEP_LAUNCHER_LAUNCHER_H_

#include <string>

namespace cfgsweep {

// The status with which the launcher ends where cfgsweep.exe is missing, as cmd does for a
// command that it cannot find.
const unsigned long kExeMissing = 9009;

enum class Action { removal, fixture, help };

// What follows the program's own name in the Windows `commandLine`, exactly as given, split off
// as the C runtime splits off the name: at its closing quotation mark, else at a blank or tab.
std::wstring argumentsAfterProgramName(const std::wstring& commandLine);

// The action that cfgsweep.exe takes for the `arguments` (as argumentsAfterProgramName gives
// them): its first argument, unquoted as the C runtime unquotes it, compared whole and without
// regard to ASCII letter case with "/C", "/?" and "/H".
Action actionOf(const std::wstring& arguments);

// The lines that tell that cfgsweep.exe is not in `folder` (ending in a backslash), and what to do.
std::wstring missingExeText(const std::wstring& folder);

// The lines that explain the exit `status` of cfgsweep.exe after `action`, kExeMissing included,
// each ending in a line end, and the hint to take a screenshot.
std::wstring explanationText(Action action, unsigned long status);

}  // namespace cfgsweep

#endif  // CFGSWEEP_LAUNCHER_LAUNCHER_H_
