#pragma once

#include <stddef.h>
#include <stdint.h>

// What one /proc/<pid>/stat line tells the process scan.
struct ProcStatRecord {
  int32_t pid;
  char ProcName[16];  // up to 15 characters and the NUL
};

// Parses the first line of a stat file: "<pid> (<name>) <state> ...".
// A name may itself hold ')' and blanks; only the last ')' followed by a
// blank closes it. Names longer than 15 characters are cut, as the kernel
// does. Returns 1 and fills rec, or 0 when the line has no such ')' or no
// leading pid. line is modified: it is ended at the closing ')'.
int parse_proc_stat_line(char* line, size_t len, ProcStatRecord* rec);
