// The dummy idapi32.cfg that the fixture action plants, so that the removal can be tried out.
#ifndef CFGSWEEP_VIRTUALSTORE_FIXTURE_H_
#define CFGSWEEP_VIRTUALSTORE_FIXTURE_H_

#include <string>

#include "virtualstore/target_path.h"

namespace cfgsweep {

// Creates the folder `base` if nothing is there, then each folder named by `rest` below it but the
// last, and the last as an empty file; anything already present is left untouched. Reports a failed
// creation on standard error and raises: filesystem_error for a folder, runtime_error for the file.
void plantDummy(std::string base, TargetComponents rest);

}  // namespace cfgsweep

#endif  // CFGSWEEP_VIRTUALSTORE_FIXTURE_H_
