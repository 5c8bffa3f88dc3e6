// What an entry below the profile is, told through handles held on it and on its folder: its
// kind, whether it is a link, and whether its folder's listing vouches for it.
#ifndef CFGSWEEP_VIRTUALSTORE_WINDOWS_HELD_ENTRY_H_
#define CFGSWEEP_VIRTUALSTORE_WINDOWS_HELD_ENTRY_H_

#include <windows.h>
#include <winternl.h>

#include <string>

#include "virtualstore/native.h"
#include "virtualstore/windows/nt.h"

namespace cfgsweep {

// Opens the existing entry `name` in `folder` with `access` besides reading its attributes: as a
// folder with the right to list it where it may be listed (`listable`), else as a file.
NTSTATUS openEntry(const Handle& folder, const std::wstring& name, ACCESS_MASK access,
                   Handle& opened, bool& listable);

// What the held `entry` is: link, folder or file. Raises filesystem_error, labelled `label` for
// the composed `path`, when its attributes cannot be read.
EntryKind kindOf(const Handle& entry, const char* label, const std::string& path);

// Whether the volume of the held `handle` lies across the network; true where it does not say.
bool onRemoteVolume(const Handle& handle);

// Whether the listing of the held `folder` (opened to be listed where `listable`) shows `name`
// otherwise than as the held `entry`: as a link, as another file, or not at all. On a `remote`
// volume only a listed file ID equal to the handle's vouches for the entry.
bool listingDisowns(const Handle& folder, bool listable, const std::wstring& name,
                    const Handle& entry, bool remote);

}  // namespace cfgsweep

#endif  // CFGSWEEP_VIRTUALSTORE_WINDOWS_HELD_ENTRY_H_
