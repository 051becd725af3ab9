// Times the parts of a steady supervisor pass, each through the product's
// own function, in this thread's CPU time (CLOCK_THREAD_CPUTIME_ID), with
// the pass's pause between passes so that every part runs as cold as it
// does in the daemon:
//
//   lookup   get_proc_pid_again("pppd", the pid found last time)
//   modem    CheckFileExist("/dev/ttyUSB1")
//   address  getIfIp("ppp0")
//   resolv   getDns(1): the first name server of /etc/resolv.conf
//   query    SendDns() to it: socket, query, wait for the answer, close
//   pause    wait_seconds(2): the sleep and the wakeup after it
//
// and, outside the pass's total, the lookup once more right after the query
// (lookup_again): the same work with the caches warm, where the first part
// after the pause runs with them cold.
//
//   perf_pass_parts PASSES
//
// Runs inside the bench with the link up. Prints one line of key=value
// figures: each part's median CPU time in microseconds (PART_us), the sum of
// the pass's parts (total_us) and the passes. Exits 1 when a part fails (no pppd, no modem
// node, no address, no answer).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "dns/dns.h"
#include "monitor/monitor.h"
#include "sys/file_exist.h"
#include "sys/if_addr.h"
#include "sys/pause.h"
#include "sys/proc_pid.h"

namespace {

constexpr int kMaxPasses = 1000;
constexpr unsigned kPauseSeconds = 2;
constexpr int kParts = 7;
constexpr int kLookupAgain = 5;  // not a part of the pass
const char* const kPartNames[kParts] = {"lookup", "modem", "address", "resolv", "query", "lookup_again", "pause"};
long long samples[kParts][kMaxPasses];

long long cpu_ns() {
  struct timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

double median_us(long long* v, int n) {
  std::sort(v, v + n);
  return static_cast<double>(v[n / 2]) / 1000.0;
}

bool fails(const char* part, bool failed) {
  if (failed) fprintf(stderr, "perf_pass_parts: %s failed\n", part);
  return failed;
}

// One pass; false when a part failed.
bool one_pass(int pass, int* pppd) {
  char addr[32] = {};
  char server[32] = {};
  long long t[kParts + 1];
  t[0] = cpu_ns();
  *pppd = get_proc_pid_again("pppd", *pppd);
  t[1] = cpu_ns();
  int modem = CheckFileExist("/dev/ttyUSB1");
  t[2] = cpu_ns();
  int address = getIfIp("ppp0", addr);
  t[3] = cpu_ns();
  getDns(1, server);
  t[4] = cpu_ns();
  int answered = SendDns(server);
  t[5] = cpu_ns();
  int again = get_proc_pid_again("pppd", *pppd);
  t[6] = cpu_ns();
  wait_seconds(kPauseSeconds);
  t[7] = cpu_ns();
  for (int p = 0; p < kParts; ++p) samples[p][pass] = t[p + 1] - t[p];
  return !(fails("lookup", *pppd <= 0 || again != *pppd) || fails("modem", !modem) ||
           fails("address", address != 0) || fails("query", !answered));
}

}  // namespace

int main(int argc, char** argv) {
  int passes = argc == 2 ? atoi(argv[1]) : 0;
  if (passes < 1 || passes > kMaxPasses) {
    fprintf(stderr, "usage: perf_pass_parts PASSES (1..%d)\n", kMaxPasses);
    return 2;
  }
  int pppd = 0;
  for (int pass = 0; pass < passes; ++pass) {
    if (!one_pass(pass, &pppd)) return 1;
  }
  double total = 0;
  for (int p = 0; p < kParts; ++p) {
    double m = median_us(samples[p], passes);
    if (p != kLookupAgain) total += m;
    printf("%s_us=%.1f ", kPartNames[p], m);
  }
  printf("total_us=%.1f passes=%d\n", total, passes);
  return 0;
}
