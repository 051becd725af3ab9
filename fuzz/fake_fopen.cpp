#include "fake_fopen.h"

#include <dlfcn.h>

#include <cerrno>
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
