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

// /proc/PID/stat of the process found last, held open: read again in
// place, it costs one call where opening it anew walks /proc each time.
// The open file stays with the process it was opened for (a pid the
// kernel gives to a new process is another process of /proc), and once
// that process has gone a read of it fails.
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

// The held stat line of pid into rec; 0 when that process has gone or the
// line cannot be read or parsed.
int read_held_record(int pid, ProcStatRecord* rec) {
  if (held.pid != pid) {
    drop_held();
    char path[kProcPathSize];
    snprintf(path, sizeof path, "/proc/%d/stat", pid);
    held.fd = open(path, O_RDONLY | O_CLOEXEC);
    if (held.fd < 0) return 0;
    held.pid = pid;
  }
  char line[kStatLineSize];
  ssize_t n = retry_on_eintr([&] { return pread(held.fd, line, sizeof line - 1, 0); });
  if (n <= 0) return 0;
  line[n] = '\0';
  char* end = strchr(line, '\n');  // the first line only, as fgets would
  if (end != nullptr) end[1] = '\0';
  return parse_proc_stat_line(line, sizeof line, rec);
}

}  // namespace

int get_proc_pid_again(const char* name, int last_pid) {
  // A process that renamed itself does not count: the name is checked on
  // every look.
  ProcStatRecord rec;
  if (last_pid > 0 && read_held_record(last_pid, &rec) && rec.pid == last_pid &&
      strcasecmp(rec.ProcName, name) == 0) {
    return last_pid;
  }
  drop_held();
  return get_proc_pid(name);
}
