#include "virtualstore/target_path.h"

#include <cctype>
#include <utility>

#include "virtualstore/native.h"

namespace cfgsweep {

namespace {

const char kVirtualStoreSuffix[] = "\\AppData\\Local\\VirtualStore";

bool sameLetterBlind(char a, char b) {
  return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
}

// Whether `entry` reads `name`, in any letter case, then "=".
bool entryNames(const char* entry, const std::string& name) {
  for (char wanted : name) {
    if (*entry == '\0' || !sameLetterBlind(*entry, wanted)) {
      return false;
    }
    ++entry;
  }
  return *entry == '=';
}

std::optional<std::string> rootFromEnvironment() {
  // Windows names the variable USERPROFILE, but the name's case is not to be relied on.
  const std::optional<std::string> profile =
      findEnvironmentValue(processEnvironment(), "userprofile");
  if (!profile) {
    return std::nullopt;
  }
  return virtualStoreRootOf(*profile);
}

}  // namespace

const std::optional<std::string> virtualStoreRoot = rootFromEnvironment();

std::optional<std::string> findEnvironmentValue(const char* const* entries,
                                                const std::string& name) {
  for (; *entries != nullptr; ++entries) {
    if (entryNames(*entries, name)) {
      return std::string(*entries + name.size() + 1);
    }
  }
  return std::nullopt;
}

std::string virtualStoreRootOf(const std::string& userProfile) {
  return userProfile + kVirtualStoreSuffix;
}

std::string userProfileOf(const std::string& root) {
  return root.substr(0, root.size() - (sizeof kVirtualStoreSuffix - 1));
}

TargetComponents namesBelow(const std::string& folder, const std::string& text) {
  TargetComponents names;
  std::size_t start = folder.size() + 1;
  for (std::size_t end; (end = text.find('\\', start)) != std::string::npos; start = end + 1) {
    names.push_back(text.substr(start, end - start));
  }
  names.push_back(text.substr(start));
  return names;
}

TargetComponents makeTargetComponents(const std::string& programFiles) {
  TargetComponents components;
  components.push_back(programFiles);
  components.push_back("Common Files");
  components.push_back("Borland Shared");
  components.push_back("BDE");
  components.push_back("idapi32.cfg");
  return components;
}

std::string joinComponents(TargetComponents components) {
  if (components.size() == 1) {
    return components.front();
  }
  const std::string front = components.front();
  components.pop_front();
  return front + '\\' + joinComponents(std::move(components));
}

std::string composePathBelow(const std::string& root, TargetComponents components) {
  return root + '\\' + joinComponents(std::move(components));
}

std::string composeTargetPath(TargetComponents components) {
  return composePathBelow(*virtualStoreRoot, std::move(components));
}

}  // namespace cfgsweep
