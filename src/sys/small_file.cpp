#include "sys/small_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sys/eintr.h"

namespace {

// The temporary file is always a new one of ours: whatever stands at its
// name (a link another user planted, or a file of theirs that they could
// rewrite after the rename) is removed first, and the open neither follows
// a link nor takes a file that came back in between.
int create_fresh(const char* temp_path, mode_t mode) {
  if (unlink(temp_path) != 0 && errno != ENOENT) return -1;
  // Close-on-exec: the LED thread may start a command at any moment, and
  // no child is to hold this file.
  int fd = open(temp_path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) return -1;
  if (fchmod(fd, mode) != 0) {  // the mode asked for, whatever the umask
    int err = errno;
    close(fd);
    unlink(temp_path);
    errno = err;
    return -1;
  }
  return fd;
}

}  // namespace

ssize_t read_some(int fd, void* buf, size_t size) {
  return retry_on_eintr([&] { return read(fd, buf, size); });
}

int write_all(int fd, const char* text, size_t len) {
  while (len > 0) {
    ssize_t n = retry_on_eintr([&] { return write(fd, text, len); });
    if (n <= 0) return n < 0 ? errno : ENOSPC;
    text += n;
    len -= static_cast<size_t>(n);
  }
  return 0;
}

int write_file_temp(const char* temp_path, const char* text, size_t len, mode_t mode) {
  int fd = create_fresh(temp_path, mode);
  if (fd < 0) return errno;
  int err = write_all(fd, text, len);
  if (close(fd) != 0 && err == 0) err = errno;
  if (err != 0) unlink(temp_path);
  return err;
}

int write_file_whole(const char* path, const char* temp_path, const char* text, size_t len, mode_t mode) {
  int err = write_file_temp(temp_path, text, len, mode);
  if (err == 0 && rename(temp_path, path) != 0) {
    err = errno;
    unlink(temp_path);
  }
  return err;
}

ssize_t read_file_bounded(const char* path, char* buf, size_t size) {
  // Non-blocking: a FIFO in its place must not hang the reader.
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  size_t got = 0;
  while (got < size) {
    ssize_t n = read_some(fd, buf + got, size - got);
    if (n < 0) {
      close(fd);
      return -1;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  close(fd);
  return static_cast<ssize_t>(got);
}

ssize_t read_file_once(const char* path, int flags, char* buf, size_t size) {
  if (size == 0) return -1;
  int fd = open(path, flags);
  if (fd < 0) return -1;
  ssize_t n = read_some(fd, buf, size - 1);
  close(fd);
  buf[n > 0 ? n : 0] = '\0';
  return n;
}
