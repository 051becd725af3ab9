#include "sys/write_all.h"

#include <errno.h>
#include <unistd.h>

int write_all(int fd, const char* text, size_t len) {
  while (len > 0) {
    ssize_t n = write(fd, text, len);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : ENOSPC;
    text += n;
    len -= static_cast<size_t>(n);
  }
  return 0;
}
