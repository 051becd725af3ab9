#include "fake_fopen.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char* served_path = nullptr;
const std::string* served_text = nullptr;

}  // namespace

namespace fuzz {

void serve_file(const char* path, const std::string* text) {
  served_path = path;
  served_text = text;
}

}  // namespace fuzz

extern "C" __attribute__((visibility("default"))) FILE* fopen(const char* path, const char* mode) {
  if (served_path != nullptr && strcmp(path, served_path) == 0) {
    if (served_text == nullptr) {
      errno = ENOENT;
      return nullptr;
    }
    return fmemopen(const_cast<char*>(served_text->data()), served_text->size(), "r");
  }
  using Fopen = FILE* (*)(const char*, const char*);
  static Fopen real = reinterpret_cast<Fopen>(dlsym(RTLD_NEXT, "fopen"));
  if (real == nullptr) abort();
  return real(path, mode);
}

namespace {

// The served text as a descriptor of its own, for readers without stdio:
// a memory file holding the text, at its start; -1 (ENOENT) with no text.
int served_fd() {
  if (served_text == nullptr) {
    errno = ENOENT;
    return -1;
  }
  int fd = memfd_create("served", MFD_CLOEXEC);
  if (fd < 0) abort();
  size_t done = 0;
  while (done < served_text->size()) {
    ssize_t n = write(fd, served_text->data() + done, served_text->size() - done);
    if (n <= 0) abort();
    done += static_cast<size_t>(n);
  }
  if (lseek(fd, 0, SEEK_SET) != 0) abort();
  return fd;
}

using Open = int (*)(const char*, int, ...);

int open_as(const char* name, const char* path, int flags, va_list ap) {
  mode_t mode = (flags & O_CREAT) != 0 ? static_cast<mode_t>(va_arg(ap, int)) : 0;
  if (served_path != nullptr && strcmp(path, served_path) == 0) return served_fd();
  Open real = reinterpret_cast<Open>(dlsym(RTLD_NEXT, name));
  if (real == nullptr) abort();
  return real(path, flags, mode);
}

}  // namespace

// open() as well, under both of the C library's names for it (with 64-bit
// file offsets its header makes every open() call one of open64()). The
// assembler names are given outright: the header's own declaration of open
// already carries the name open64.
extern "C" __attribute__((visibility("default"))) int fake_open(const char* path, int flags, ...)
    __asm__("open");
extern "C" __attribute__((visibility("default"))) int fake_open64(const char* path, int flags, ...)
    __asm__("open64");

int fake_open(const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  int fd = open_as("open", path, flags, ap);
  va_end(ap);
  return fd;
}

int fake_open64(const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  int fd = open_as("open64", path, flags, ap);
  va_end(ap);
  return fd;
}
