#include "sys/proc_pid.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sys/dir_reader.h"
#include "sys/eintr.h"
#include "sys/pause.h"
#include "sys/proc_stat.h"
#include "sys/small_file.h"

namespace {

constexpr int kScanAttempts = 10;
constexpr unsigned long kScanPauseMicros = 5000;
constexpr size_t kProcPathSize = 32;
constexpr int kStatLineSize = 1024;

// The scan resumes where the previous call stopped (main thread only).
DirReader procScan;

// /proc/PID of the process found last, held open. The open directory
// stays with the process it was opened for (a pid the kernel gives to a new
// process is another process of /proc), and once that process has gone no
// name can be looked up in it: a look for its "stat" there tells whether
// it still runs, without the kernel writing out its stat line, which is
// what a read of the line mostly costs. Its name was checked when it was
// found; a process keeps its name unless it renames itself, which pppd
// does not.
struct HeldStat {
  int pid;
  int fd;  // -1 when none is held
};
HeldStat held = {0, -1};

void drop_held() {
  if (held.fd >= 0) close(held.fd);
  held = {0, -1};
}

// /proc/<pid>/stat, parsed into rec; 0 when the process has gone or the
// line cannot be read or parsed. The file is one line, which one read()
// gives whole; no stdio stream: this runs on every pass of a steady link.
int read_stat_record(int pid, ProcStatRecord* rec) {
  char path[kProcPathSize];
  snprintf(path, sizeof path, "/proc/%d/stat", pid);
  char line[kStatLineSize];
  if (read_file_once(path, O_RDONLY | O_CLOEXEC, line, sizeof line) <= 0) return 0;
  char* end = strchr(line, '\n');  // the first line only, as fgets would
  if (end != nullptr) end[1] = '\0';
  return parse_proc_stat_line(line, sizeof line, rec);
}

// The name of a process the scan lists, into rec; 0 when it has gone or
// cannot be read.
int read_proc_record(int pid, ProcStatRecord* rec) {
  char path[kProcPathSize];
  struct stat st;
  snprintf(path, sizeof path, "/proc/%d", pid);
  if (stat(path, &st) != 0) return 0;
  return read_stat_record(pid, rec);
}

}  // namespace

int get_proc_pid_self(const char* name) {
  if (!procScan.open && !dir_open(&procScan, "/proc")) return 0;
  DirEntry entry;
  while (dir_next(&procScan, &entry)) {
    if (entry.name[0] < '0' || entry.name[0] > '9') continue;
    ProcStatRecord rec;
    if (!read_proc_record(atoi(entry.name), &rec)) continue;
    if (strcasecmp(rec.ProcName, name) == 0) return rec.pid;
  }
  dir_close(&procScan);
  return 0;
}

int get_proc_pid(const char* name) {
  for (int attempt = 0; attempt < kScanAttempts; ++attempt) {
    int pid = get_proc_pid_self(name);
    if (pid > 0) return pid;
    wait_microseconds(kScanPauseMicros);
  }
  return 0;
}

namespace {

// The stat line of the process whose /proc directory dir is, parsed into
// rec; 0 when it has gone or the line cannot be read or parsed.
int read_stat_in(int dir, ProcStatRecord* rec) {
  int fd = retry_on_eintr([&] { return openat(dir, "stat", O_RDONLY | O_CLOEXEC); });
  if (fd < 0) return 0;
  char line[kStatLineSize];
  ssize_t n = retry_on_eintr([&] { return read(fd, line, sizeof line - 1); });
  close(fd);
  if (n <= 0) return 0;
  line[n] = '\0';
  char* end = strchr(line, '\n');  // the first line only, as fgets would
  if (end != nullptr) end[1] = '\0';
  return parse_proc_stat_line(line, sizeof line, rec);
}

// Whether pid, found by name, still runs: on the first look its /proc
// directory is taken and its name checked through it (both of the same
// process), after that the held directory is asked.
bool still_runs(const char* name, int pid) {
  if (held.pid == pid) return faccessat(held.fd, "stat", F_OK, 0) == 0;
  drop_held();
  char path[kProcPathSize];
  snprintf(path, sizeof path, "/proc/%d", pid);
  int dir = retry_on_eintr([&] { return open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
  if (dir < 0) return false;
  ProcStatRecord rec;
  if (!read_stat_in(dir, &rec) || rec.pid != pid || strcasecmp(rec.ProcName, name) != 0) {
    close(dir);
    return false;
  }
  held = {pid, dir};
  return true;
}

}  // namespace

int get_proc_pid_again(const char* name, int last_pid) {
  if (last_pid > 0 && still_runs(name, last_pid)) return last_pid;
  drop_held();
  return get_proc_pid(name);
}
