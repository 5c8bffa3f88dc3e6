#include "command/entry.h"
#include "failure/process_end.h"

int main(int argc, char* argv[]) {
  cfgsweep::prepareProcessEnd();
  return cfgsweep::runCommand(argc, argv);
}
