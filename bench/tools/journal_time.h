/* The bench's clock as journals print it: seconds and milliseconds of the
 * real-time clock, which libfaketime speeds up for every process of a
 * sped-up bench alike. */
#ifndef BENCH_JOURNAL_TIME_H
#define BENCH_JOURNAL_TIME_H

#include <stdio.h>
#include <time.h>

static inline int bench_time_text(char* out, size_t size) {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return snprintf(out, size, "%lld.%03ld", (long long)ts.tv_sec, ts.tv_nsec / 1000000L);
}

#endif
