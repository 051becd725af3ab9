#include "sys/dir_reader.h"

#include <fcntl.h>
#include <stdint.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "sys/eintr.h"

namespace {

// struct linux_dirent64: u64 d_ino, s64 d_off, u16 d_reclen, u8 d_type,
// then the name.
constexpr size_t kReclenAt = 16;
constexpr size_t kTypeAt = 18;
constexpr size_t kNameAt = 19;

bool refill(DirReader* d) {
  long n = retry_on_eintr([&] { return syscall(SYS_getdents64, d->fd, d->buf, sizeof d->buf); });
  if (n <= 0) return false;
  d->pos = 0;
  d->len = static_cast<size_t>(n);
  return true;
}

}  // namespace

bool dir_open(DirReader* d, const char* path) {
  d->fd = retry_on_eintr([&] { return open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
  d->open = d->fd >= 0;
  d->pos = d->len = 0;
  return d->open;
}

bool dir_next(DirReader* d, DirEntry* entry) {
  if (!d->open || (d->pos >= d->len && !refill(d))) return false;
  uint16_t reclen;
  memcpy(&reclen, d->buf + d->pos + kReclenAt, sizeof reclen);
  if (reclen <= kNameAt || reclen > d->len - d->pos) return false;  // never from a sound kernel
  entry->type = static_cast<unsigned char>(d->buf[d->pos + kTypeAt]);
  entry->name = d->buf + d->pos + kNameAt;
  d->pos += reclen;
  return true;
}

void dir_close(DirReader* d) {
  if (d->open) close(d->fd);
  d->open = false;
}
