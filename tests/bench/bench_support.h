// Helpers for test programs that run inside the simulated router.
#pragma once

#include <string>
#include <vector>

namespace bench {

// Stops the test with a skip unless it runs inside the bench.
bool inside();

struct Result {
  int status;          // exit status, or 128 + signal
  std::string output;  // standard output
  std::string errors;  // standard error
};

// Runs argv (no shell) and collects what it prints.
Result run(const std::vector<std::string>& argv);

// How link3g is started: LINK3G_UNDER_TEST names the binary (the one this
// test program was built with when unset), and LINK3G_RUN_PREFIX, when set,
// holds blank-separated words put before it (an emulator, for instance).
std::vector<std::string> link3g_command();

// The link3g binary under test with these arguments.
Result link3g(const std::vector<std::string>& args);

// The byte order of the link3g binary under test, from its ELF header:
// "big" or "little" ("" when it cannot be read).
std::string link3g_byte_order();
// This machine's: "big" or "little".
std::string host_byte_order();

// Runs a shell line for the test's own set-up; fails the test when the line
// exits non-zero.
void sh(const std::string& line);

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& text);
bool exists(const std::string& path);

struct ShellRecord {
  double time;       // bench clock, seconds
  std::string line;  // the command line, byte for byte
  double end = -1;   // when its shell ended; -1 while it runs (or unknown)
  // When the daemon went on after it: its end, or its start while it runs.
  double done() const { return end >= 0 ? end : time; }
};

// Command lines the programs under test handed to /bin/sh, in order.
std::vector<ShellRecord> shell_journal();
std::vector<std::string> shell_lines();

// Empties every journal of the bench.
void clear_journals();

// Lines of text without their newlines.
std::vector<std::string> lines_of(const std::string& text);

}  // namespace bench

// Skips the test when it does not run inside the bench.
#define REQUIRE_BENCH()                                        \
  do {                                                         \
    if (!bench::inside()) GTEST_SKIP() << "needs the bench";   \
  } while (0)

namespace bench {

// What a call printed on standard output.
template <class F>
std::string capture_stdout(F&& f);

// Shell lines the program under test ran, with their bench times.
struct Timed {
  std::vector<ShellRecord> records;
  // Bench seconds from the end of the first command whose line is `from`
  // to the start of the next one whose line is `to` (what the daemon waited
  // and did between them, not what the command took); -1 when either is
  // missing.
  double gap(const std::string& from, const std::string& to) const;
  // Bench seconds from the first record's start to the last one's, less
  // the time the commands between took: the daemon's own waits and work.
  double between_commands() const;
};
Timed timed_journal();

// Runs a shell line in the bench for set-up, without failing on errors.
void sh_quiet(const std::string& line);

// A datagram the ISP's name servers received, as a real DNS library reads
// it (one question each), with the bench time it arrived.
struct DnsQuery {
  std::string server, id, flags, count, name, type, qclass;
  double time;
};
// Every query in the DNS journal, in order.
std::vector<DnsQuery> dns_queries();

}  // namespace bench

#include "bench_capture.h"
