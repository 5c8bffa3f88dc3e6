#include "command/entry.h"

#include <cctype>
#include <vector>

#include "command/console_text.h"
#include "virtualstore/fixture.h"
#include "virtualstore/removal.h"
#include "virtualstore/target_path.h"

namespace cfgsweep {

namespace {

const char kProgramFilesX86[] = "Program Files (x86)";
const char kProgramFiles[] = "Program Files";

int runFixture(const TargetComponents& programFilesX86) {
  try {
    plantDummy(*virtualStoreRoot, programFilesX86);
    printDummyPlanted();
    return 0;
  } catch (...) {
    // Whatever failed has said so already, where it had something to say.
    return 1;
  }
}

// One removal pass. Returns false when the pass found the redirected copy and it is still there.
bool removeRedirectedCopy(const TargetComponents& target) {
  if (!targetExists(target)) {
    return true;
  }
  pruneTarget(target);
  if (targetExists(target)) {
    return false;
  }
  printRestartInstructions();
  return true;
}

int runRemoval(const TargetComponents& programFilesX86) {
  // Both passes run whatever the first one met.
  const bool x86Cleared = removeRedirectedCopy(programFilesX86);
  const bool cleared = removeRedirectedCopy(makeTargetComponents(kProgramFiles));
  return x86Cleared && cleared ? 0 : 1;
}

}  // namespace

std::string upperCaseCopy(std::string text) {
  for (char& c : text) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return text;
}

int runCommand(int argc, const char* const argv[]) {
  const std::vector<std::string> arguments(argv, argv + (argc > 0 ? argc : 0));
  const std::string option = arguments.size() > 1 ? upperCaseCopy(arguments[1]) : std::string();
  const TargetComponents programFilesX86 = makeTargetComponents(kProgramFilesX86);

  if (option == "/?" || option == "/H") {
    printUsage();
    return 0;
  }
  if (!virtualStoreRoot) {
    printUserProfileMissing();
    return 1;
  }
  if (option == "/C") {
    return runFixture(programFilesX86);
  }
  return runRemoval(programFilesX86);
}

}  // namespace cfgsweep
