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

int openAfterAnotherProgram(const char* realName, const char* path, int flags, va_list rest) {
  using Open = int (*)(const char*, int, ...);
  const Open real = next<Open>(realName);
  const mode_t mode = (flags & O_CREAT) != 0 ? static_cast<mode_t>(va_arg(rest, int)) : 0;
  if ((flags & O_CREAT) != 0 && endsWith(path, "/idapi32.cfg")) {
    const int other = real(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (other >= 0) {
      (void)!write(other, "precious", 8);
      close(other);
    }
  }
  return real(path, flags, mode);
}

}  // namespace

extern "C" DIR* opendir(const char* path) {
  if (endsWith(path, "/BDE")) {
    rmdir(path);
  }
  return next<DIR* (*)(const char*)>("opendir")(path);
}

extern "C" int open(const char* path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  const int file = openAfterAnotherProgram("open", path, flags, rest);
  va_end(rest);
  return file;
}

extern "C" int open64(const char* path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  const int file = openAfterAnotherProgram("open64", path, flags, rest);
  va_end(rest);
  return file;
}
