#include "sys/file_exist.h"

#include <fcntl.h>
#include <unistd.h>

#include "sys/eintr.h"

int CheckFileExist(const char* path) {
  // O_NOCTTY: a modem tty must never become our controlling terminal.
  // O_NONBLOCK: a serial port waiting for carrier must not block us.
  // The question is only whether the open succeeds.
  int fd = retry_on_eintr([&] { return open(path, O_RDONLY | O_NOCTTY | O_NONBLOCK); });
  if (fd < 0) return 0;
  close(fd);
  return 1;
}
