#include "command/entry.h"
#include "failure/process_end.h"
#include "virtualstore/native.h"

int main(int argc, char* argv[]) {
  cfgsweep::prepareProcessEnd();
  cfgsweep::distrustUsersLinks();
  return cfgsweep::runCommand(argc, argv);
}
