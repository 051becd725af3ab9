/* Runs one command many times, one after the other, and measures it the
 * same way for every command the benchmark compares: wall time from the
 * spawn until it has exited (its start included), on CLOCK_MONOTONIC, and
 * the CPU time (user + system) it used, from getrusage(RUSAGE_CHILDREN)
 * before and after all the runs.
 *
 *   perf_run_many [--no-preload] [--every MS] [--status N[,N...]] [--output TEXT] [--each FILE]
 *                 COUNT -- COMMAND [ARG...]
 *
 *   --no-preload  run COMMAND without the bench's preloaded libraries
 *                 (LD_PRELOAD and libfaketime's variables taken out)
 *   --every MS    pause MS milliseconds before each run, as a program that
 *                 runs COMMAND now and then would (the runs then start
 *                 cold); the pauses are in neither figure
 *   --status N,.. every run must exit with one of these statuses (default 0)
 *   --output TEXT every run's standard output must contain TEXT
 *   --each FILE   also write one line per run to FILE: the run's start
 *                 (CLOCK_REALTIME, seconds) and its own CPU time (user +
 *                 system, microseconds, from wait4), so that its runs can be
 *                 set beside what else ran in the same stretch of time
 *
 * Prints one line of key=value figures in microseconds: wall_median,
 * wall_p90, wall_min, wall_max, cpu_per_run (user + system), user_per_run,
 * sys_per_run, and count. Exits 1 when a run does not behave as expected. */
#define _GNU_SOURCE
#include <errno.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

#define MAX_COUNT 100000
#define MAX_ENV 1024
#define OUTPUT_SIZE 65536

static long long wall[MAX_COUNT];
static char output[OUTPUT_SIZE];

static long long now_ns(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

static long long tv_us(struct timeval tv) { return (long long)tv.tv_sec * 1000000LL + tv.tv_usec; }

static int cmp_ll(const void* a, const void* b) {
  long long x = *(const long long*)a, y = *(const long long*)b;
  return (x > y) - (x < y);
}

/* Whether status is in the comma-separated list. */
static int status_allowed(const char* list, int status) {
  for (const char* p = list; *p != '\0';) {
    char* end;
    long n = strtol(p, &end, 10);
    if (end == p) return 0;
    if (n == status) return 1;
    p = *end == ',' ? end + 1 : end;
  }
  return 0;
}

static void pause_millis(long ms) {
  struct timespec left = {ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

static int preload_var(const char* entry) {
  return strncmp(entry, "LD_PRELOAD=", 11) == 0 || strncmp(entry, "FAKETIME", 8) == 0;
}

/* One run: spawn, collect its standard output, wait. Returns its wait
 * status, or -1 when it could not be started; *cpu_us its CPU time. */
static int run_once(char** argv, char** envp, size_t* got, long long* cpu_us) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  posix_spawn_file_actions_addclose(&actions, fds[1]);
  pid_t pid;
  int rc = posix_spawnp(&pid, argv[0], &actions, NULL, argv, envp);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    return -1;
  }
  *got = 0;
  for (;;) {
    ssize_t n = read(fds[0], output + *got, sizeof output - 1 - *got);
    if (n <= 0) break;
    *got += (size_t)n;
    if (*got == sizeof output - 1) *got = 0; /* keep reading; only short outputs are checked */
  }
  output[*got] = '\0';
  close(fds[0]);
  int status;
  struct rusage usage;
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) return -1;
  }
  *cpu_us = tv_us(usage.ru_utime) + tv_us(usage.ru_stime);
  return status;
}

int main(int argc, char** argv) {
  int no_preload = 0;
  long every_ms = 0;
  const char* want_status = "0";
  const char* want_output = NULL;
  const char* each_path = NULL;
  int i = 1;
  for (; i < argc; ++i) {
    if (strcmp(argv[i], "--no-preload") == 0) no_preload = 1;
    else if (strcmp(argv[i], "--every") == 0 && i + 1 < argc) every_ms = atol(argv[++i]);
    else if (strcmp(argv[i], "--status") == 0 && i + 1 < argc) want_status = argv[++i];
    else if (strcmp(argv[i], "--output") == 0 && i + 1 < argc) want_output = argv[++i];
    else if (strcmp(argv[i], "--each") == 0 && i + 1 < argc) each_path = argv[++i];
    else break;
  }
  if (i + 2 >= argc || strcmp(argv[i + 1], "--") != 0) {
    fprintf(stderr, "usage: perf_run_many [--no-preload] [--every MS] [--status N[,N...]] [--output TEXT] [--each FILE] COUNT -- "
                    "COMMAND [ARG...]\n");
    return 2;
  }
  int count = atoi(argv[i]);
  char** command = argv + i + 2;
  if (count < 1 || count > MAX_COUNT) {
    fprintf(stderr, "perf_run_many: COUNT must be 1..%d\n", MAX_COUNT);
    return 2;
  }
  static char* env[MAX_ENV];
  char** envp = environ;
  if (no_preload) {
    size_t n = 0;
    for (char** e = environ; *e != NULL && n + 1 < MAX_ENV; ++e) {
      if (!preload_var(*e)) env[n++] = *e;
    }
    env[n] = NULL;
    envp = env;
  }

  FILE* each = NULL;
  if (each_path != NULL && (each = fopen(each_path, "w")) == NULL) {
    fprintf(stderr, "perf_run_many: cannot write %s\n", each_path);
    return 1;
  }
  struct rusage before, after;
  getrusage(RUSAGE_CHILDREN, &before);
  for (int r = 0; r < count; ++r) {
    size_t got = 0;
    long long cpu_us = 0;
    if (every_ms > 0) pause_millis(every_ms);
    struct timespec real;
    clock_gettime(CLOCK_REALTIME, &real);
    long long start = now_ns();
    int status = run_once(command, envp, &got, &cpu_us);
    wall[r] = now_ns() - start;
    if (each != NULL) {
      fprintf(each, "%lld.%09ld %lld\n", (long long)real.tv_sec, real.tv_nsec, cpu_us);
      fflush(each);
    }
    if (status < 0) {
      fprintf(stderr, "perf_run_many: cannot start %s\n", command[0]);
      return 1;
    }
    if (!WIFEXITED(status) || !status_allowed(want_status, WEXITSTATUS(status))) {
      fprintf(stderr, "perf_run_many: run %d of %s ended with wait status %d, not exit %s\n", r + 1,
              command[0], status, want_status);
      return 1;
    }
    if (want_output != NULL && strstr(output, want_output) == NULL) {
      fprintf(stderr, "perf_run_many: run %d of %s did not print \"%s\":\n%s\n", r + 1, command[0],
              want_output, output);
      return 1;
    }
  }
  getrusage(RUSAGE_CHILDREN, &after);
  long long user = tv_us(after.ru_utime) - tv_us(before.ru_utime);
  long long sys = tv_us(after.ru_stime) - tv_us(before.ru_stime);
  qsort(wall, (size_t)count, sizeof wall[0], cmp_ll);
  printf("wall_median_us=%.1f wall_p90_us=%.1f wall_min_us=%.1f wall_max_us=%.1f "
         "cpu_per_run_us=%.1f user_per_run_us=%.1f sys_per_run_us=%.1f count=%d\n",
         (double)wall[count / 2] / 1000.0, (double)wall[count * 9 / 10] / 1000.0,
         (double)wall[0] / 1000.0, (double)wall[count - 1] / 1000.0,
         (double)(user + sys) / count, (double)user / count, (double)sys / count, count);
  return 0;
}
