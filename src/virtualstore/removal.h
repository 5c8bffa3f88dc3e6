// Removal of the redirected idapi32.cfg and of the folders that its removal leaves empty.
#ifndef CFGSWEEP_VIRTUALSTORE_REMOVAL_H_
#define CFGSWEEP_VIRTUALSTORE_REMOVAL_H_

#include "virtualstore/target_path.h"

namespace cfgsweep {

// Whether anything, file or folder, exists at composeTargetPath(`target`).
// Raises boost::filesystem::filesystem_error when the query fails for a reason other than absence.
bool targetExists(TargetComponents target);

// Removes the object that `target` names, then each folder above it that is left empty, up to but
// not including the first component, each reached through folders held from the profile folder
// down. Removes nothing at or below a link on the way from AppData, nor the link. Stops silently at
// a folder with contents; a refused removal is reported on standard error and ends the walk.
// Raises filesystem_error when a query fails other than for absence.
void pruneTarget(TargetComponents target);

}  // namespace cfgsweep

#endif  // CFGSWEEP_VIRTUALSTORE_REMOVAL_H_
