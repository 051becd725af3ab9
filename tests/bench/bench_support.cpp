#include "bench_support.h"

#include <fcntl.h>
#include <poll.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace bench {

bool inside() { return access("/bench/state", F_OK) == 0; }

namespace {

// Reads both pipes to their ends, whichever has data first.
void drain(int out_fd, int err_fd, std::string* out, std::string* err) {
  struct pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
  std::string* sinks[2] = {out, err};
  int open_fds = 2;
  char buf[4096];
  while (open_fds > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        fds[i].fd = -1;
        --open_fds;
        continue;
      }
      sinks[i]->append(buf, static_cast<size_t>(n));
    }
  }
}

int status_of(int wstatus) {
  return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
}

std::string unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    char c = s[++i];
    if (c == 'n') out += '\n';
    else if (c == 't') out += '\t';
    else if (c == 'x' && i + 2 < s.size()) {
      out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else out += c;
  }
  return out;
}

}  // namespace

Result run(const std::vector<std::string>& argv) {
  int out[2], err[2];
  if (pipe(out) != 0) return {-1, "", ""};
  if (pipe(err) != 0) return {-1, "", ""};
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {out[0], out[1], err[0], err[1]}) close(fd);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  Result r{0, "", ""};
  drain(out[0], err[0], &r.output, &r.errors);
  close(out[0]);
  close(err[0]);
  int wstatus = 0;
  while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
  }
  r.status = status_of(wstatus);
  return r;
}

std::vector<std::string> link3g_command() {
  std::vector<std::string> argv;
  if (const char* prefix = getenv("LINK3G_RUN_PREFIX")) {
    std::stringstream words(prefix);
    std::string w;
    while (words >> w) argv.push_back(w);
  }
  const char* binary = getenv("LINK3G_UNDER_TEST");
  argv.push_back(binary != nullptr && *binary != '\0' ? binary : LINK3G_BINARY);
  return argv;
}

Result link3g(const std::vector<std::string>& args) {
  std::vector<std::string> argv = link3g_command();
  argv.insert(argv.end(), args.begin(), args.end());
  return run(argv);
}

std::string link3g_byte_order() {
  // e_ident: the magic, then EI_CLASS, then EI_DATA (1 little, 2 big).
  std::string ident = read_file(link3g_command().back()).substr(0, 6);
  if (ident.size() < 6 || ident.compare(0, 4, "\x7f" "ELF") != 0) return "";
  return ident[5] == 2 ? "big" : ident[5] == 1 ? "little" : "";
}

std::string host_byte_order() {
  const uint16_t one = 1;
  return *reinterpret_cast<const unsigned char*>(&one) == 1 ? "little" : "big";
}

void sh(const std::string& line) {
  Result r = run({"/bin/dash", "-c", line});
  ASSERT_EQ(r.status, 0) << line << "\n" << r.output << r.errors;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::vector<ShellRecord> shell_journal() {
  // shell.ends: "END START LINE", the start record as shell.log has it.
  std::map<std::string, std::vector<double>> ends;
  for (const std::string& l : lines_of(read_file("/bench/journal/shell.ends"))) {
    size_t sp = l.find(' ');
    if (sp != std::string::npos) ends[l.substr(sp + 1)].push_back(std::stod(l.substr(0, sp)));
  }
  std::vector<ShellRecord> records;
  for (const std::string& l : lines_of(read_file("/bench/journal/shell.log"))) {
    size_t sp = l.find(' ');
    if (sp == std::string::npos) continue;
    double end = -1;
    auto e = ends.find(l);
    if (e != ends.end() && !e->second.empty()) {
      end = e->second.front();
      e->second.erase(e->second.begin());
    }
    records.push_back({std::stod(l.substr(0, sp)), unescape(l.substr(sp + 1)), end});
  }
  return records;
}

std::vector<std::string> shell_lines() {
  std::vector<std::string> lines;
  for (const ShellRecord& r : shell_journal()) lines.push_back(r.line);
  return lines;
}

void clear_journals() {
  for (const char* j : {"shell.log", "shell.ends", "standins.log", "led.log", "modem.log"}) {
    truncate((std::string("/bench/journal/") + j).c_str(), 0);
  }
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream ss(text);
  std::string l;
  while (std::getline(ss, l)) lines.push_back(l);
  return lines;
}

}  // namespace bench

namespace bench {

std::string read_fd_to_end(int fd) {
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  return out;
}

Timed timed_journal() { return Timed{shell_journal()}; }

double Timed::gap(const std::string& from, const std::string& to) const {
  for (size_t i = 0; i < records.size(); ++i) {
    if (records[i].line != from) continue;
    for (size_t j = i + 1; j < records.size(); ++j) {
      if (records[j].line == to) return records[j].time - records[i].done();
    }
  }
  return -1;
}

double Timed::between_commands() const {
  if (records.empty()) return 0;
  double total = records.back().time - records.front().time;
  for (size_t i = 0; i + 1 < records.size(); ++i) total -= records[i].done() - records[i].time;
  return total;
}

void sh_quiet(const std::string& line) { run({"/bin/dash", "-c", line}); }

std::vector<DnsQuery> dns_queries() {
  // One snapshot of the journal for the times and the parse alike.
  const std::string snapshot = "/tmp/dns-journal-snapshot.log";
  std::string text = read_file("/bench/journal/dns.log");
  write_file(snapshot, text);
  std::vector<std::string> received = lines_of(text);
  Result parsed = run({"/usr/bin/python3", LINK3G_SOURCE_DIR "/bench/sim/dnsparse.py", snapshot});
  std::vector<DnsQuery> out;
  for (const std::string& line : lines_of(parsed.output)) {
    std::stringstream ss(line);
    DnsQuery q;
    ss >> q.server >> q.id >> q.flags >> q.count >> q.name >> q.type >> q.qclass;
    size_t i = out.size();
    q.time = i < received.size() ? std::stod(received[i].substr(0, received[i].find(' '))) : -1;
    out.push_back(q);
  }
  return out;
}

}  // namespace bench
