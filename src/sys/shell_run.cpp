#include "sys/shell_run.h"

#include <errno.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include "sys/buffer_sizes.h"

extern char** environ;

namespace {

constexpr char kShellPath[] = "/bin/sh";

// In the child between fork and exec: only async-signal-safe calls. The
// command starts with no signal blocked and every disposition at default,
// whatever the daemon has set up for itself.
void reset_signals_for_exec() {
  struct sigaction dfl = {};
  dfl.sa_handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; ++sig) {
    if (sig != SIGKILL && sig != SIGSTOP) sigaction(sig, &dfl, nullptr);
  }
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
}

}  // namespace

int run_shell_line(const char* line) {
  pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    reset_signals_for_exec();
    char sh[] = "sh";
    char dash_c[] = "-c";
    char* const argv[] = {sh, dash_c, const_cast<char*>(line), nullptr};
    execve(kShellPath, argv, environ);
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return status;
}

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
