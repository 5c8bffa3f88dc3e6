// Answers that a test build of cfgsweep.exe gives in place of the system's, at the calls where
// Windows and Wine differ, so that the Wine suites can show what only Windows does.
#ifndef CFGSWEEP_VIRTUALSTORE_INJECTED_WINDOWS_H_
#define CFGSWEEP_VIRTUALSTORE_INJECTED_WINDOWS_H_

#include <optional>

namespace cfgsweep {

// The answer that the test build was told to give to `call` (such as "open" or "tag") about the
// entry named `name`, its last component: an NTSTATUS, a Windows error, a file ID, a reparse tag,
// volume flags or a code page. nullopt for the system's own answer, and always in the shipped
// build.
std::optional<unsigned long long> injectedAnswer(const char* call, const wchar_t* name);

}  // namespace cfgsweep

#endif  // CFGSWEEP_VIRTUALSTORE_INJECTED_WINDOWS_H_
