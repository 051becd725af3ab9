// Times the daemon's own DNS probe, SendDns(), against one name server:
// each call opens a socket, sends one query and waits for the first
// datagram back, as the supervisor does once per pass. Real time on
// CLOCK_MONOTONIC around each call; every call must be answered.
//
//   perf_dns_probe SERVER COUNT
//
// Prints one line of key=value figures in microseconds: first (the very
// first call of the process), median, p90, min, max, and count.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "dns/dns.h"
#include "monitor/monitor.h"

namespace {

constexpr int kMaxCount = 100000;
long long samples[kMaxCount];

long long now_ns() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

double micros(long long ns) { return static_cast<double>(ns) / 1000.0; }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: perf_dns_probe SERVER COUNT\n");
    return 2;
  }
  const char* server = argv[1];
  int count = atoi(argv[2]);
  if (count < 1 || count > kMaxCount) {
    fprintf(stderr, "perf_dns_probe: COUNT must be 1..%d\n", kMaxCount);
    return 2;
  }
  for (int i = 0; i < count; ++i) {
    long long start = now_ns();
    int answered = SendDns(server);
    samples[i] = now_ns() - start;
    if (!answered) {
      fprintf(stderr, "perf_dns_probe: query %d to %s was not answered\n", i + 1, server);
      return 1;
    }
  }
  long long first = samples[0];
  std::sort(samples, samples + count);
  printf("first_us=%.1f median_us=%.1f p90_us=%.1f min_us=%.1f max_us=%.1f count=%d\n",
         micros(first), micros(samples[count / 2]), micros(samples[count * 9 / 10]),
         micros(samples[0]), micros(samples[count - 1]), count);
  return 0;
}
