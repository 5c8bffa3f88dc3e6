// Test support for the Linux build: preloaded into the command, it makes what another program
// does meanwhile happen every time, whether the command names its files by path or relative to a
// folder it holds open.
// - By default, a folder named BDE vanishes just before it is listed, as when another run removed
//   it first; a file named idapi32.cfg, holding "precious", appears just before it is created, as
//   when another program made it meanwhile.
// - CFGSWEEP_SWAP="K|PATH|TARGET": at the K-th file-system call, PATH is renamed aside (when it
//   is there) and a symbolic link to TARGET put in its place, as a hostile user would; the default
//   races are off.
// - CFGSWEEP_MALLOC_LIMIT=N: an allocation of more than N bytes fails; the default races are off.
// - CFGSWEEP_RACE_LOG=FILE: a line "call" for each file-system call, and "vanish", "appear" or
//   "swap" for each race staged, is appended to FILE.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool endsWith(const std::string& text, const char* tail) {
  const std::size_t tailLength = std::strlen(tail);
  return text.size() >= tailLength && text.compare(text.size() - tailLength, tailLength, tail) == 0;
}

template <typename Function>
Function next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

using Open = int (*)(const char*, int, ...);

// The path that `name`, relative to the folder held as `folder`, names.
std::string resolved(int folder, const char* name) {
  if (name[0] == '/' || folder == AT_FDCWD) {
    return name;
  }
  char link[64];
  char target[PATH_MAX];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", folder);
  const ssize_t size = readlink(link, target, sizeof target - 1);
  const std::string held = size > 0 ? std::string(target, static_cast<std::size_t>(size)) : "";
  return name[0] == '\0' || std::strcmp(name, ".") == 0 ? held : held + "/" + name;
}

void log(const char* line) {
  if (const char* file = std::getenv("CFGSWEEP_RACE_LOG")) {
    const int out = next<Open>("open")(file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (out >= 0) {
      (void)!write(out, line, std::strlen(line));
      (void)!write(out, "\n", 1);
      close(out);
    }
  }
}

bool defaultRaces() {
  return std::getenv("CFGSWEEP_SWAP") == nullptr && std::getenv("CFGSWEEP_MALLOC_LIMIT") == nullptr;
}

// Counts one file-system call, and stages the swap when its turn has come.
void counted() {
  static long calls = 0;
  log("call");
  const char* swap = std::getenv("CFGSWEEP_SWAP");
  char path[PATH_MAX];
  char target[PATH_MAX];
  long turn = 0;
  if (swap == nullptr || std::sscanf(swap, "%ld|%[^|]|%[^|]", &turn, path, target) != 3 ||
      ++calls != turn) {
    return;
  }
  rename(path, (std::string(path) + ".real").c_str());
  symlink(target, path);
  log("swap");
}

void vanishIfBde(const std::string& folder) {
  if (defaultRaces() && endsWith(folder, "/BDE")) {
    next<int (*)(const char*)>("rmdir")(folder.c_str());
    log("vanish");
  }
}

void appearIfCopy(const std::string& file, int flags) {
  if (defaultRaces() && (flags & O_CREAT) != 0 && endsWith(file, "/idapi32.cfg")) {
    const int other = next<Open>("open")(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (other >= 0) {
      (void)!write(other, "precious", 8);
      close(other);
    }
    log("appear");
  }
}

mode_t modeArgument(int flags, va_list rest) {
  return (flags & O_CREAT) != 0 ? static_cast<mode_t>(va_arg(rest, int)) : 0;
}

}  // namespace

extern "C" DIR* opendir(const char* path) {
  counted();
  vanishIfBde(path);
  return next<DIR* (*)(const char*)>("opendir")(path);
}

extern "C" DIR* fdopendir(int folder) {
  counted();
  vanishIfBde(resolved(folder, "."));
  return next<DIR* (*)(int)>("fdopendir")(folder);
}

// The command calls open() and openat(); a build with 64-bit file offsets on a 32-bit system
// would call open64() instead, and the races would not be staged.
extern "C" int open(const char* path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  const mode_t mode = modeArgument(flags, rest);
  va_end(rest);
  counted();
  appearIfCopy(path, flags);
  return next<Open>("open")(path, flags, mode);
}

extern "C" int openat(int folder, const char* name, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  const mode_t mode = modeArgument(flags, rest);
  va_end(rest);
  counted();
  appearIfCopy(resolved(folder, name), flags);
  return next<int (*)(int, const char*, int, ...)>("openat")(folder, name, flags, mode);
}

extern "C" int mkdir(const char* path, mode_t mode) {
  counted();
  return next<int (*)(const char*, mode_t)>("mkdir")(path, mode);
}

extern "C" int mkdirat(int folder, const char* name, mode_t mode) {
  counted();
  return next<int (*)(int, const char*, mode_t)>("mkdirat")(folder, name, mode);
}

extern "C" int unlink(const char* path) {
  counted();
  return next<int (*)(const char*)>("unlink")(path);
}

extern "C" int rmdir(const char* path) {
  counted();
  return next<int (*)(const char*)>("rmdir")(path);
}

extern "C" int remove(const char* path) {
  counted();
  return next<int (*)(const char*)>("remove")(path);
}

extern "C" int unlinkat(int folder, const char* name, int flags) {
  counted();
  return next<int (*)(int, const char*, int)>("unlinkat")(folder, name, flags);
}

extern "C" void* malloc(std::size_t size) {
  static const char* const limit = std::getenv("CFGSWEEP_MALLOC_LIMIT");
  static void* (*const real)(std::size_t) = next<void* (*)(std::size_t)>("malloc");
  if (limit != nullptr && size > std::strtoul(limit, nullptr, 10)) {
    return nullptr;
  }
  return real(size);
}
