// The dummy idapi32.cfg that the fixture action plants, so that the removal can be tried out.
#ifndef CFGSWEEP_VIRTUALSTORE_FIXTURE_H_
#define CFGSWEEP_VIRTUALSTORE_FIXTURE_H_

#include <string>

#include "virtualstore/target_path.h"

namespace cfgsweep {

// Creates the folder `base` if nothing is there, then each folder named by `rest` below it but the
// last, and the last as an empty file; anything already present, a link too, is left untouched.
// A link in a folder's place, from AppData down, is not entered. Reports a failed creation, or such
// a link, on standard error and raises: filesystem_error or runtime_error for a folder,
// runtime_error for the file.
void plantDummy(std::string base, TargetComponents rest);

}  // namespace cfgsweep

#endif  // CFGSWEEP_VIRTUALSTORE_FIXTURE_H_
