#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include "sys/proc_stat.h"
#include "sys/sys.h"
#include "sys/pause.h"

namespace {

constexpr int kScanAttempts = 10;
constexpr unsigned long kScanPauseMicros = 5000;
constexpr size_t kProcPathSize = 32;
constexpr int kStatLineSize = 1024;

// The scan resumes where the previous call stopped (main thread only).
DIR* procScanDir = nullptr;

// The name of process pid, into rec; 0 when it has gone or cannot be read.
int read_proc_record(int pid, ProcStatRecord* rec) {
  char path[kProcPathSize];
  struct stat st;
  snprintf(path, sizeof path, "/proc/%d", pid);
  if (stat(path, &st) != 0) return 0;
  snprintf(path, sizeof path, "/proc/%d/stat", pid);
  FILE* f = fopen(path, "r");
  if (f == nullptr) return 0;
  char line[kStatLineSize];
  char* got = fgets(line, sizeof line, f);
  fclose(f);
  if (got == nullptr) return 0;
  return parse_proc_stat_line(line, sizeof line, rec);
}

}  // namespace

int get_proc_pid_self(const char* name) {
  if (procScanDir == nullptr) {
    procScanDir = opendir("/proc");
    if (procScanDir == nullptr) return 0;
  }
  while (struct dirent* entry = readdir(procScanDir)) {
    if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
    ProcStatRecord rec;
    if (!read_proc_record(atoi(entry->d_name), &rec)) continue;
    if (strcasecmp(rec.ProcName, name) == 0) return rec.pid;
  }
  closedir(procScanDir);
  procScanDir = nullptr;
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
