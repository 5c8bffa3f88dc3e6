// Where the redirected idapi32.cfg lives below the VirtualStore root, and how its paths are
// spelled.
#ifndef CFGSWEEP_VIRTUALSTORE_TARGET_PATH_H_
#define CFGSWEEP_VIRTUALSTORE_TARGET_PATH_H_

#include <list>
#include <optional>
#include <string>

namespace cfgsweep {

// Names leading from the VirtualStore root to idapi32.cfg, outermost first.
using TargetComponents = std::list<std::string>;

// The user's VirtualStore folder: the value of USERPROFILE followed by
// "\AppData\Local\VirtualStore", built once before the command runs. Empty when the environment
// holds no USERPROFILE.
extern const std::optional<std::string> virtualStoreRoot;

// Value of the first of the NUL-terminated "NAME=value" `entries` whose name equals `name` without
// regard to ASCII letter case; nullopt when none does.
std::optional<std::string> findEnvironmentValue(const char* const* entries,
                                                const std::string& name);

// The VirtualStore root below the profile folder `userProfile`, taken as it stands.
std::string virtualStoreRootOf(const std::string& userProfile);

// The profile folder below which the VirtualStore root `root` was built: `root` less its suffix.
std::string userProfileOf(const std::string& root);

// The components of the composed `text` that follow `folder` and one backslash; `text` must
// begin so.
TargetComponents namesBelow(const std::string& folder, const std::string& text);

// The five components leading to idapi32.cfg below the program-files folder `programFiles`.
TargetComponents makeTargetComponents(const std::string& programFiles);

// `components` (one or more) joined with one backslash between neighbours.
std::string joinComponents(TargetComponents components);

// `root`, a backslash, then `components` (one or more) joined: plain concatenation, nothing
// normalised.
std::string composePathBelow(const std::string& root, TargetComponents components);

// composePathBelow of `virtualStoreRoot`, which must be present.
std::string composeTargetPath(TargetComponents components);

}  // namespace cfgsweep

#endif  // CFGSWEEP_VIRTUALSTORE_TARGET_PATH_H_
