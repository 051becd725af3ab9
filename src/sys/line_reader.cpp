#include "sys/line_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include "sys/small_file.h"

namespace {

// 1 when a byte is buffered, refilling the buffer when it is empty.
int fill(LineReader* r) {
  if (r->pos < r->len) return 1;
  ssize_t n = read_some(r->fd, r->buf, sizeof r->buf);
  r->pos = 0;
  r->len = n > 0 ? static_cast<size_t>(n) : 0;
  return n > 0;
}

}  // namespace

int line_reader_open(LineReader* r, const char* path) {
  r->pos = r->len = 0;
  r->fd = open(path, O_RDONLY | O_CLOEXEC);
  return r->fd >= 0;
}

size_t line_reader_piece(LineReader* r, char* out, size_t size) {
  if (size == 0) return 0;
  size_t n = 0;
  while (n + 1 < size && fill(r)) {
    char c = r->buf[r->pos++];
    out[n++] = c;
    if (c == '\n') break;
  }
  out[n] = '\0';
  return n;
}

void line_reader_close(LineReader* r) {
  if (r->fd >= 0) close(r->fd);
  r->fd = -1;
}
