/* The bench's /bin/sh. When the process that starts it is one of the
 * programs under test (their command names are in BENCH_SHELL_CALLERS), the
 * command line it was handed is appended to the shell journal, byte for
 * byte (escaped so that one record is one line), with the bench's time;
 * the real shell runs it as a child, and once it has ended the time of its
 * end goes to shell.ends ("END START LINE"): the daemon's own waits between
 * two commands are then measured from the end of the first, whatever the
 * command itself took on this machine. Other callers get the real shell
 * in its place. */
#include <signal.h>
#include <sys/wait.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "journal_time.h"

#define REAL_SHELL "/bin/dash"
#define JOURNAL "/bench/journal/shell.log"
#define ENDS "/bench/journal/shell.ends"

static int caller_is_watched(void) {
  const char* watched = getenv("BENCH_SHELL_CALLERS");
  if (watched == NULL) return 0;
  char path[64], comm[32] = {0};
  snprintf(path, sizeof path, "/proc/%d/comm", (int)getppid());
  int fd = open(path, O_RDONLY);
  if (fd < 0) return 0;
  ssize_t n = read(fd, comm, sizeof comm - 1);
  close(fd);
  if (n <= 0) return 0;
  comm[strcspn(comm, "\n")] = '\0';
  size_t len = strlen(comm);
  for (const char* p = watched; (p = strstr(p, comm)) != NULL; p += len) {
    int starts = p == watched || p[-1] == ' ';
    int ends = p[len] == '\0' || p[len] == ' ';
    if (starts && ends) return 1;
  }
  return 0;
}

/* Backslash, newline, tab, CR and other control bytes are escaped. */
static size_t escape(const char* in, char* out, size_t size) {
  size_t o = 0;
  for (const unsigned char* p = (const unsigned char*)in; *p && o + 5 < size; ++p) {
    if (*p == '\\') o += (size_t)snprintf(out + o, size - o, "\\\\");
    else if (*p == '\n') o += (size_t)snprintf(out + o, size - o, "\\n");
    else if (*p == '\t') o += (size_t)snprintf(out + o, size - o, "\\t");
    else if (*p < 0x20 || *p == 0x7f) o += (size_t)snprintf(out + o, size - o, "\\x%02x", *p);
    else out[o++] = (char)*p;
  }
  out[o] = '\0';
  return o;
}

static char record[16384];

static void append(const char* path, const char* text, size_t n) {
  int fd = open(path, O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (fd < 0) return;
  if (write(fd, text, n) < 0) { /* the journal is best effort */ }
  close(fd);
}

/* The record "START LINE\n" into record; its length. */
static size_t journal(const char* line) {
  size_t n = (size_t)bench_time_text(record, 64);
  record[n++] = ' ';
  n += escape(line, record + n, sizeof record - n - 2);
  record[n++] = '\n';
  append(JOURNAL, record, n);
  return n;
}

static void journal_end(size_t n) {
  static char end[sizeof record + 64];
  size_t e = (size_t)bench_time_text(end, 64);
  end[e++] = ' ';
  memcpy(end + e, record, n);
  append(ENDS, end, e + n);
}

/* Runs the real shell as a child and ends as it ended. */
static int run_watched(char** argv, size_t n) {
  pid_t child = fork();
  if (child < 0) return 127;
  if (child == 0) {
    execv(REAL_SHELL, argv);
    perror(REAL_SHELL);
    _exit(127);
  }
  int status;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return 127;
  }
  journal_end(n);
  if (WIFSIGNALED(status)) {
    signal(WTERMSIG(status), SIG_DFL);
    raise(WTERMSIG(status));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 127;
}

int main(int argc, char** argv) {
  (void)argc;
  if (argv[1] != NULL && strcmp(argv[1], "-c") == 0 && argv[2] != NULL && caller_is_watched())
    return run_watched(argv, journal(argv[2]));
  execv(REAL_SHELL, argv);
  perror(REAL_SHELL);
  return 127;
}
