#include <stdarg.h>
#include <stdio.h>

#include "sys/buffer_sizes.h"
#include "sys/shell_run.h"
#include "sys/sys.h"

int doSystemCmd(const char* fmt, ...) {
  // Storage of this call only: the LED thread runs commands too.
  char CmdBuf[kCmdBufSize];
  va_list ap;
  va_start(ap, fmt);
  // A longer line is cut after its 1023rd character, and the cut line runs.
  vsnprintf(CmdBuf, sizeof CmdBuf, fmt, ap);
  va_end(ap);
  return run_shell_line(CmdBuf);
}
