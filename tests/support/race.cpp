// Test support for the Linux build: preloaded into the command, it makes two races with another
// program happen every time. A folder named BDE vanishes just before it is listed, as when another
// run removed it first; a file named idapi32.cfg, holding "precious", appears just before it is
// created, as when another program made it meanwhile.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstring>

namespace {

bool endsWith(const char* text, const char* tail) {
  const std::size_t length = std::strlen(text);
  const std::size_t tailLength = std::strlen(tail);
  return length >= tailLength && std::strcmp(text + length - tailLength, tail) == 0;
}

template <typename Function>
Function next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" DIR* opendir(const char* path) {
  if (endsWith(path, "/BDE")) {
    rmdir(path);
  }
  return next<DIR* (*)(const char*)>("opendir")(path);
}

// The command creates the dummy with open(); a build with 64-bit file offsets would call open64()
// instead, and the row that expects "precious" would fail rather than pass unraced.
extern "C" int open(const char* path, int flags, ...) {
  using Open = int (*)(const char*, int, ...);
  const Open real = next<Open>("open");
  mode_t mode = 0;
  if ((flags & O_CREAT) != 0) {
    va_list rest;
    va_start(rest, flags);
    mode = static_cast<mode_t>(va_arg(rest, int));
    va_end(rest);
    if (endsWith(path, "/idapi32.cfg")) {
      const int other = real(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (other >= 0) {
        (void)!write(other, "precious", 8);
        close(other);
      }
    }
  }
  return real(path, flags, mode);
}
