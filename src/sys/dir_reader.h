// Reading a directory without the C library's DIR: opendir() allocates,
// and that alone brings a whole allocator into the static binary. The
// kernel's getdents64 records are read into a buffer the caller holds (a
// zeroed DirReader is a closed one).
#pragma once

#include <stddef.h>

constexpr size_t kDirBufferSize = 1024;

struct DirReader {
  bool open;
  int fd;
  size_t pos, len;  // the records not yet handed out: buf[pos, len)
  alignas(8) char buf[kDirBufferSize];
};

struct DirEntry {
  const char* name;    // NUL-terminated, in the reader's buffer until the next call
  unsigned char type;  // the kernel's d_type (DT_DIR ...)
};

bool dir_open(DirReader* d, const char* path);
// The next entry; false at the end or on an error.
bool dir_next(DirReader* d, DirEntry* entry);
void dir_close(DirReader* d);
