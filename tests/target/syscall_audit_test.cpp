// The system calls link3g made in the target suite, checked against the
// router's kernel, Linux 2.6.30 (MIPS o32). qemu traced them (-strace -D
// JOURNAL/syscalls.PID: one file per emulated process, holding its threads
// and its forked children up to their execve of the host's shell). A call
// 2.6.30 does not have, or wires to sys_ni_syscall, fails the audit, unless
// the C library retries it with an older call when the kernel answers
// ENOSYS. The calls seen go to TARGET_JOURNALS/syscalls.txt.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Entry {
  std::string name;
  bool ni;  // wired to sys_ni_syscall: answers ENOSYS
};
using Table = std::map<int, Entry>;

// The C library's retries: CALL answering ENOSYS is made again as
// FALLBACK (musl 1.2.3). form, when set, says which uses of CALL the
// fallback covers: it is given the arguments as qemu printed them.
struct Fallback {
  const char* call;
  const char* fallback;
  bool (*form)(const std::string& args);
  const char* why;
};

// statx(AT_FDCWD,"PATH",FLAGS,...) with these flags. Arguments cut short
// by another record of the trace are judged on what they hold.
bool path_with_flags(const std::string& args, const std::string& flags) {
  const std::string head = "AT_FDCWD,\"";
  size_t n = std::min(args.size(), head.size());
  if (args.compare(0, n, head, 0, n) != 0) return false;
  size_t quote = args.find('"', head.size());
  if (args.size() <= head.size() || quote == std::string::npos) return true;
  std::string rest = args.substr(quote + 1, flags.size());
  return flags.compare(0, rest.size(), rest) == 0;
}

// stat() of a path: flags 0.
bool stat_of_a_path(const std::string& args) { return path_with_flags(args, ",0,"); }

// lstat() of a path: AT_SYMLINK_NOFOLLOW.
bool lstat_of_a_path(const std::string& args) { return path_with_flags(args, ",AT_SYMLINK_NOFOLLOW,"); }

// statx(FD,"",AT_EMPTY_PATH,...), fstat() of a descriptor, judged the same
// way when cut short.
bool stat_of_a_descriptor(const std::string& args) {
  size_t digits = 0;
  while (digits < args.size() && isdigit(static_cast<unsigned char>(args[digits]))) ++digits;
  if (digits == 0) return false;
  const std::string rest = ",\"\",AT_EMPTY_PATH,";
  std::string tail = args.substr(digits, rest.size());
  return rest.compare(0, tail.size(), tail) == 0;
}

const Fallback kFallbacks[] = {
    {"clock_gettime64", "clock_gettime", nullptr,
     "src/time/clock_gettime.c: any clock, again with SYS_clock_gettime"},
    {"statx", "stat64", stat_of_a_path,
     "src/stat/fstatat.c: stat() of a path (AT_FDCWD, flags 0) goes on with SYS_stat, stat64 on o32"},
    {"statx", "lstat64", lstat_of_a_path,
     "src/stat/fstatat.c: lstat() of a path (AT_FDCWD, AT_SYMLINK_NOFOLLOW) goes on with SYS_lstat, lstat64 on o32"},
    {"statx", "fstat64", stat_of_a_descriptor,
     "src/stat/fstatat.c: fstat() (a descriptor, \"\", AT_EMPTY_PATH) goes on with SYS_fstat, fstat64 on o32"},
};

// The retry of this use of name: the first fallback whose form covers args;
// *known tells whether the C library retries name at all.
const Fallback* fallback_of(const std::string& name, const std::string& args, bool* known) {
  *known = false;
  for (const Fallback& f : kFallbacks) {
    if (name != f.call) continue;
    *known = true;
    if (f.form == nullptr || f.form(args)) return &f;
  }
  return nullptr;
}

std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// "NUMBER NAME [ni]" lines; # starts a comment.
Table read_table(const std::string& path) {
  Table table;
  std::stringstream lines(read_text(path));
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::stringstream fields(line);
    int number = 0;
    std::string name, mark;
    fields >> number >> name >> mark;
    table[number] = {name, mark == "ni"};
  }
  return table;
}

// The o32 numbers of today's kernel header, by name.
std::map<std::string, int> read_header(const std::string& path) {
  std::map<std::string, int> numbers;
  std::string text = read_text(path);
  static const std::regex define(R"(#define __NR_(\w+)\s+\(__NR_Linux \+ (\d+)\))");
  for (std::sregex_iterator m(text.begin(), text.end(), define), end; m != end; ++m) {
    numbers[(*m)[1]] = 4000 + std::stoi((*m)[2]);
  }
  return numbers;
}

struct Call {
  std::string name;  // as qemu printed it; empty for "Unknown syscall N"
  int number;        // of "Unknown syscall N"; -1 otherwise
  std::string args;  // up to the end of the line or the next record
};

// The records of one trace file: "PID NAME(ARGS) = RESULT" or "PID Unknown
// syscall N". Records of the process's threads and of its children share
// the file and may cut into each other's lines, so a record is found
// wherever one of the file's PIDs is followed by a call. (A printed string
// holding such a text would be taken for a record too: that can only add a
// call, never hide one.)
std::vector<Call> parse_trace(const std::string& text) {
  std::set<std::string> pids;
  static const std::regex line_start(R"((?:^|\n)(\d+) )");
  for (std::sregex_iterator m(text.begin(), text.end(), line_start), end; m != end; ++m) pids.insert((*m)[1]);
  struct Record {
    Call call;
    size_t from, to;  // the arguments
  };
  std::vector<Record> records;
  static const std::regex record(R"((\d+) (?:Unknown syscall (\d+)|([A-Za-z_][A-Za-z0-9_]*)\())");
  for (std::sregex_iterator m(text.begin(), text.end(), record), end; m != end; ++m) {
    size_t at = static_cast<size_t>(m->position(0));
    if (!pids.count((*m)[1]) || (at > 0 && isdigit(static_cast<unsigned char>(text[at - 1])))) continue;
    if (!records.empty() && records.back().to > at) records.back().to = at;
    size_t from = at + static_cast<size_t>(m->length(0));
    size_t eol = text.find('\n', from);
    records.push_back({{(*m)[3], (*m)[2].matched ? std::stoi((*m)[2]) : -1, ""}, from,
                       eol == std::string::npos ? text.size() : eol});
  }
  std::vector<Call> calls;
  for (Record& r : records) {
    r.call.args = r.from < r.to ? text.substr(r.from, r.to - r.from) : "";
    calls.push_back(r.call);
  }
  return calls;
}

struct Seen {
  int number = -1;
  long count = 0;
  std::string verdict;  // empty when 2.6.30 has the call
};

class Audit {
 public:
  Audit(Table table, std::map<std::string, int> header)
      : table_(std::move(table)), header_(std::move(header)) {
    for (const auto& e : table_) by_name_[e.second.name] = e.first;
  }
  void add(const Call& c) {
    std::string name = c.name;
    int number = c.number;
    if (name.empty()) name = name_of(number);
    if (number < 0) number = by_name_.count(name) ? by_name_[name] : header_.count(name) ? header_[name] : -1;
    Seen& s = seen_[name];
    s.number = number;
    ++s.count;
    if (has(number)) return;
    bool known = false;
    const Fallback* f = fallback_of(name, c.args, &known);
    if (!known) {
      s.verdict = "MISSING from Linux 2.6.30";
    } else if (f == nullptr) {
      s.verdict = "MISSING: a use of " + name + " that no older call covers: " + c.args;
    } else if (s.verdict.empty()) {
      s.verdict = std::string("ENOSYS on 2.6.30, then ") + f->fallback + " (" +
                  std::to_string(number_of(f->fallback)) + "; musl 1.2.3 " + f->why + ")";
    }
  }
  // The name of a number qemu could not name: 2.6.30's, else today's.
  std::string name_of(int number) const {
    if (table_.count(number)) return table_.at(number).name;
    for (const auto& h : header_) {
      if (h.second == number) return h.first;
    }
    return "syscall" + std::to_string(number);
  }
  bool has(int number) const { return table_.count(number) && !table_.at(number).ni; }
  int number_of(const std::string& name) const { return by_name_.count(name) ? by_name_.at(name) : -1; }
  const std::map<std::string, Seen>& seen() const { return seen_; }
  std::vector<std::string> missing() const {
    std::vector<std::string> out;
    for (const auto& s : seen_) {
      if (s.second.verdict.rfind("MISSING", 0) == 0) out.push_back(s.first + " (" + s.second.verdict + ")");
    }
    return out;
  }

 private:
  Table table_;
  std::map<std::string, int> header_;
  std::map<std::string, int> by_name_;
  std::map<std::string, Seen> seen_;
};

void write_report(const Audit& audit, const fs::path& path, size_t files) {
  std::ofstream out(path);
  const char* binary = getenv("LINK3G_UNDER_TEST");
  out << "# System calls of " << (binary ? binary : "link3g") << " in the target suite (" << files
      << " traced processes): name, o32 number, calls, and how Linux 2.6.30 answers a call it lacks.\n";
  for (const auto& s : audit.seen()) {
    out << s.first << ' ' << s.second.number << ' ' << s.second.count;
    if (!s.second.verdict.empty()) out << ' ' << s.second.verdict;
    out << '\n';
  }
}

TEST(SyscallAudit, TableIsLinux2630) {
  Table table = read_table(LINK3G_O32_TABLE);
  std::map<std::string, int> header = read_header(LINK3G_O32_HEADER);
  ASSERT_EQ(table.size(), 332u);
  EXPECT_EQ(table.begin()->first, 4000);
  EXPECT_EQ(table.rbegin()->first, 4331);
  EXPECT_EQ(table[4330].name, "preadv");
  EXPECT_EQ(table[4331].name, "pwritev");
  EXPECT_EQ(header["rt_tgsigqueueinfo"], 4332);  // 2.6.31: the first past the table
  for (const auto& h : header) {
    if (h.second <= 4331) {
      EXPECT_EQ(table[h.second].name, h.first) << h.second;
    }
  }
  Audit audit(table, header);
  for (const Fallback& f : kFallbacks) {
    EXPECT_FALSE(audit.has(audit.number_of(f.call))) << f.call;
    EXPECT_TRUE(audit.has(audit.number_of(f.fallback))) << f.fallback << " covers " << f.call;
  }
}

// Records of threads and children cut into each other's lines; every one
// must still be counted.
TEST(SyscallAudit, ReadsEveryRecordOfInterleavedLines) {
  const std::string trace =
      "19815 clone(CLONE_VM|CLONE_VFORK|0x12,child_stack=0x40800138) = 0\n"
      " = 0\n"
      "19815 futex(0x3fffef9c,FUTEX_PRIVATE_FLAG|FUTEX_WAKE19818 rt_sigaction(,1,SIGINT,0x00000001)NULL = )0\n"
      "19818 execve(\"/bin/sh\",{\"sh\",\"-c\",\"rmmod usbserial\",NULL}) = 19818\n"
      "19815 statx(AT_FDCWD,\"/proc/1\",0,STATX_BASIC_STATS,0x3fffee00) = 0\n"
      "19815 Unknown syscall 4999\n";
  std::vector<Call> calls = parse_trace(trace);
  std::vector<std::string> names;
  for (const Call& c : calls) names.push_back(c.name.empty() ? std::to_string(c.number) : c.name);
  EXPECT_EQ(names, (std::vector<std::string>{"clone", "futex", "rt_sigaction", "execve", "statx", "4999"}));
  EXPECT_EQ(calls[1].args, "0x3fffef9c,FUTEX_PRIVATE_FLAG|FUTEX_WAKE");
  EXPECT_TRUE(stat_of_a_path(calls[4].args));
  EXPECT_TRUE(stat_of_a_path("AT_FDCWD,\"/pro"));
  EXPECT_FALSE(stat_of_a_path("3,\"\",AT_EMPTY_PATH,STATX_BASIC_STATS,0x3fffee00) = 0"));
  EXPECT_TRUE(stat_of_a_descriptor("3,\"\",AT_EMPTY_PATH,STATX_BASIC_STATS,0x3fffee00) = 0"));
  EXPECT_FALSE(stat_of_a_descriptor("AT_FDCWD,\"/proc/1\",0,STATX_BASIC_STATS,0x3fffee00) = 0"));
  EXPECT_FALSE(stat_of_a_descriptor("3,\"x\",AT_EMPTY_PATH,STATX_BASIC_STATS,0) = 0"));
  EXPECT_FALSE(stat_of_a_path("AT_FDCWD,\"/x\",AT_SYMLINK_NOFOLLOW,STATX_BASIC_STATS,0) = 0"));
  EXPECT_TRUE(lstat_of_a_path("AT_FDCWD,\"/x\",AT_SYMLINK_NOFOLLOW,STATX_BASIC_STATS,0) = 0"));
  EXPECT_FALSE(lstat_of_a_path("AT_FDCWD,\"/x\",0,STATX_BASIC_STATS,0) = 0"));
}

TEST(SyscallAudit, EveryCallOfTheSuiteIsInLinux2630) {
  Audit audit(read_table(LINK3G_O32_TABLE), read_header(LINK3G_O32_HEADER));
  const fs::path journals = LINK3G_TARGET_JOURNALS;
  size_t files = 0;
  if (fs::is_directory(journals)) {
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(journals)) {
      bool trace = e.path().filename().string().rfind("syscalls.", 0) == 0;
      if (!trace || e.path().parent_path() == journals) continue;
      ++files;
      for (const Call& c : parse_trace(read_text(e.path()))) audit.add(c);
    }
  }
  ASSERT_GT(files, 0u) << "no trace under " << journals
                       << ": run the target suite through a target-* test preset";
  write_report(audit, journals / "syscalls.txt", files);
  std::vector<std::string> missing = audit.missing();
  std::string list;
  for (const std::string& m : missing) list += "\n  " + m;
  EXPECT_TRUE(missing.empty()) << "calls Linux 2.6.30 does not have:" << list;
}

}  // namespace
