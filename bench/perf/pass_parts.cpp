// Times the parts of a steady supervisor pass, each through the product's
// own function, in this thread's CPU time (CLOCK_THREAD_CPUTIME_ID), with
// the pass's pause between passes so that every part runs as cold as it
// does in the daemon:
//
//   lookup   get_proc_pid_again("pppd", the pid found last time)
//   modem    CheckFileExist("/dev/ttyUSB1")
//   address  getIfIp_steady("ppp0")
//   resolv   getDns(1): the first name server of /etc/resolv.conf
//   query    SendDns() to it: socket, query, wait for the answer, close
//   pause    wait_seconds(2): the sleep and the wakeup after it
//
// and, outside the pass's total, the lookup once more right after the query
// (lookup_again): the same work with the caches warm, where the first part
// after the pause runs with them cold. After the passes, the read of the
// radio that the daemon makes once a minute (read_radio_facts on the
// stick's second AT port, found as the daemon finds it beside the dial
// port /dev/ttyUSB0 of the bench's Huawei stick), kRadioReads times: its
// CPU and wall time (radio_us, radio_wall_ms, medians; -1 when no port
// answered) and the reads that got an answer (radio_reads).
//
//   perf_pass_parts [--repeat N] [--snapshots FILE] PASSES
//
// --repeat N does the pass's work N times in its 2 s, each time after a
// sleep of 2/N s: a pass deliberately made N times dearer, to show that
// the benchmark's judgement of the CPU budget sees it (the pause's figure
// is then the rest of the pass). --snapshots FILE writes, after each
// pass, the time (CLOCK_REALTIME, seconds), the thread's CPU time so far
// (ns) and the passes so far, one line each, for that judgement.
//
// Runs inside the bench with the link up. Prints one line of key=value
// figures: each part's median CPU time in microseconds (PART_us), the sum of
// the pass's parts (total_us) and the passes. Exits 1 when a part fails (no pppd, no modem
// node, no address, no answer).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "dns/dns.h"
#include "monitor/monitor.h"
#include "sys/file_exist.h"
#include "sys/if_addr.h"
#include "sys/pause.h"
#include "sys/proc_pid.h"
#include "usb/usb.h"

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

// The parts of one pass, timed into t[0..6]; false when a part failed.
bool parts(int* pppd, long long* t) {
  char addr[32] = {};
  char server[32] = {};
  t[0] = cpu_ns();
  *pppd = get_proc_pid_again("pppd", *pppd);
  t[1] = cpu_ns();
  int modem = CheckFileExist("/dev/ttyUSB1");
  t[2] = cpu_ns();
  int address = getIfIp_steady("ppp0", addr);
  t[3] = cpu_ns();
  getDns(1, server);
  t[4] = cpu_ns();
  int answered = SendDns(server);
  t[5] = cpu_ns();
  int again = get_proc_pid_again("pppd", *pppd);
  t[6] = cpu_ns();
  return !(fails("lookup", *pppd <= 0 || again != *pppd) || fails("modem", !modem) ||
           fails("address", address != 0) || fails("query", !answered));
}

// One pass: its parts and its pause, repeat times in the pass's 2 s (each
// time after a sleep, as cold as the first); false when a part failed.
// The parts' times are the first time's.
bool one_pass(int pass, int repeat, int* pppd) {
  long long t[kParts + 1], again[kParts + 1];
  for (int r = 0; r < repeat; ++r) {
    if (!parts(pppd, r == 0 ? t : again)) return false;
    if (repeat == 1) {
      wait_seconds(kPauseSeconds);
    } else {
      wait_microseconds(kPauseSeconds * 1000000UL / static_cast<unsigned long>(repeat));
    }
  }
  t[7] = cpu_ns();
  for (int p = 0; p < kParts; ++p) samples[p][pass] = t[p + 1] - t[p];
  return true;
}

long long wall_ns() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

constexpr int kRadioReads = 5;

void radio_reads() {
  char port[kTtyBufferSize];
  RadioFacts facts;
  long long cpu[kRadioReads], wall[kRadioReads];
  int n = 0;
  if (find_at_port("/dev/ttyUSB0", true, port, &facts)) {
    for (int r = 0; r < kRadioReads; ++r) {
      wait_seconds(kPauseSeconds);
      long long c0 = cpu_ns(), w0 = wall_ns();
      if (!read_radio_facts(port, &facts)) continue;  // the daemon's own read held the port
      cpu[n] = cpu_ns() - c0;
      wall[n] = wall_ns() - w0;
      ++n;
    }
  }
  printf(" radio_reads=%d radio_us=%.1f radio_wall_ms=%.1f", n, n > 0 ? median_us(cpu, n) : -1.0,
         n > 0 ? median_us(wall, n) / 1000.0 : -1.0);
}

void snapshot(FILE* out, int passes) {
  if (out == nullptr) return;
  struct timespec real;
  clock_gettime(CLOCK_REALTIME, &real);
  fprintf(out, "%lld.%09ld %lld %d\n", static_cast<long long>(real.tv_sec), real.tv_nsec, cpu_ns(), passes);
  fflush(out);
}

}  // namespace

int main(int argc, char** argv) {
  int repeat = 1;
  FILE* snapshots = nullptr;
  int i = 1;
  for (; i + 1 < argc; i += 2) {
    if (strcmp(argv[i], "--repeat") == 0) {
      repeat = atoi(argv[i + 1]);
    } else if (strcmp(argv[i], "--snapshots") == 0) {
      snapshots = fopen(argv[i + 1], "w");
      if (snapshots == nullptr) return 2;
    } else {
      break;
    }
  }
  int passes = i + 1 == argc ? atoi(argv[i]) : 0;
  if (passes < 1 || passes > kMaxPasses || repeat < 1) {
    fprintf(stderr, "usage: perf_pass_parts [--repeat N] [--snapshots FILE] PASSES (1..%d)\n", kMaxPasses);
    return 2;
  }
  int pppd = 0;
  snapshot(snapshots, 0);
  for (int pass = 0; pass < passes; ++pass) {
    if (!one_pass(pass, repeat, &pppd)) return 1;
    snapshot(snapshots, pass + 1);
  }
  double total = 0;
  for (int p = 0; p < kParts; ++p) {
    double m = median_us(samples[p], passes);
    if (p != kLookupAgain) total += m;
    printf("%s_us=%.1f ", kPartNames[p], m);
  }
  printf("total_us=%.1f passes=%d", total, passes);
  radio_reads();
  printf("\n");
  return 0;
}
