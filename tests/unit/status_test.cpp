// The status file's text (written for sh, read back strictly), the report
// a person reads, and the one-daemon lock.
#include <gtest/gtest.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "status/status_text.h"
#include "sys/daemon_lock.h"
#include "sys/shell_run.h"
#include "sys/small_file.h"

namespace {

LinkStatus up_status() {
  LinkStatus s;
  memset(&s, 0, sizeof s);
  s.state = kStateUp;
  s.since = 751;
  s.pid = 812;
  s.vendor = 0x12d1;
  s.product = 0x1001;
  strcpy(s.tty, "/dev/ttyUSB1");
  s.family = 1;
  strcpy(s.address, "10.64.64.2");
  s.pppd_starts = 3;
  s.forced_restarts = 1;
  s.recoveries = 2;
  s.dns_failures = 0;
  strcpy(s.at_port, "/dev/ttyUSB2");
  s.radio.signal_dbm = -71;
  strcpy(s.radio.operator_name, "O2 - UK");
  s.radio.registration = kRegHome;
  s.radio.network = 2;
  s.radio.sim = kSimReady;
  return s;
}

const std::string kUpText =
    "state=up\nsince=751\npid=812\nmodem=12d1:1001\ntty=/dev/ttyUSB1\nfamily=gsm\n"
    "address=10.64.64.2\npppd_starts=3\nforced_restarts=1\nrecoveries=2\ndns_failures=0\n"
    "at_port=/dev/ttyUSB2\nsignal_dbm=-71\noperator='O2 - UK'\nregistration=home\nnetwork=UMTS\nsim=ready\n"
    "mode=ppp\ninterface=\n";

std::string format(const LinkStatus& s) {
  char text[kStatusTextSize];
  size_t len = format_status_text(s, text, sizeof text);
  return std::string(text, len);
}

int parse(const std::string& text, LinkStatus* s) { return parse_status_text(text.data(), text.size(), s); }

// kUpText with one line replaced (or dropped, when line is empty).
std::string with_line(const std::string& key, const std::string& line) {
  std::string out;
  size_t at = 0;
  while (at < kUpText.size()) {
    size_t nl = kUpText.find('\n', at);
    std::string l = kUpText.substr(at, nl - at);
    out += l.compare(0, key.size() + 1, key + "=") == 0 ? (line.empty() ? "" : line + "\n") : l + "\n";
    at = nl + 1;
  }
  return out;
}

TEST(StatusText, WritesEveryKeyInItsOrder) {
  EXPECT_EQ(format(up_status()), kUpText);
  LinkStatus s = up_status();
  s.state = kStateNoModem;
  s.vendor = s.product = 0;
  s.tty[0] = s.address[0] = '\0';
  s.family = 0;
  EXPECT_EQ(format(s).substr(0, 62), "state=no-modem\nsince=751\npid=812\nmodem=\ntty=\nfamily=\naddress=\n");
}

TEST(StatusText, ReadsBackWhatItWrote) {
  LinkStatus back;
  for (LinkState state : {kStateStarting, kStateNoModem, kStateNoFamily, kStateConnecting, kStateUp,
                          kStateDnsFailing}) {
    for (int family : {0, 1, 2, 3}) {
      LinkStatus s = up_status();
      s.state = state;
      s.family = family;
      s.since = 4294967295UL;
      s.dns_failures = 17;
      ASSERT_EQ(parse(format(s), &back), 1) << format(s);
      EXPECT_EQ(format(back), format(s));
    }
  }
  // A daemon of an earlier release writes no radio keys: nothing known.
  ASSERT_EQ(parse(kUpText.substr(0, kUpText.find("at_port=")), &back), 1);
  EXPECT_EQ(back.at_port[0], '\0');
  EXPECT_EQ(back.radio.sim, kSimUnknown);
  EXPECT_EQ(back.radio.network, kNetworkUnknown);
}

// The file is outside input: anything but what the daemon writes is
// refused whole.
TEST(StatusText, RefusesAnythingElse) {
  LinkStatus back = up_status();
  ASSERT_EQ(parse(kUpText, &back), 1);
  const std::vector<std::string> bad = {
      "",
      kUpText.substr(0, kUpText.size() - 1),    // no final newline
      kUpText + "\n",                          // a blank line
      kUpText + "state=up\n",                  // a key twice
      kUpText + "extra=1\n",                   // a key of no one's
      with_line("pid", ""),                    // a key missing
      with_line("state", "state=UP"),
      with_line("state", "state = up"),
      with_line("state", "state=$(touch /tmp/pwned)"),
      with_line("state", "state='up'x"),
      with_line("since", "since=-1"),
      with_line("since", "since=+5"),
      with_line("since", "since=99999999999999999999999"),
      with_line("pid", "pid=0"),
      with_line("pid", "pid=2147483648"),
      with_line("modem", "modem=12D1:1001"),
      with_line("modem", "modem=12d1:100"),
      with_line("modem", "modem=12d1-1001"),
      with_line("modem", "modem=+2d1:1001"),
      with_line("tty", "tty=ttyUSB1"),
      with_line("tty", "tty=/dev/"),
      with_line("tty", "tty='/dev/tty USB1'"),
      with_line("tty", "tty='/dev/\x1b[2J'"),
      with_line("tty", "tty=/dev/" + std::string(40, 'x')),
      with_line("family", "family=lte"),
      with_line("address", "address=10.64.64"),
      with_line("address", "address=10.64.64.2.1"),
      with_line("address", "address=0x0a.1.1.1"),
      with_line("address", "address='10.64.64.2 '"),
      with_line("dns_failures", "dns_failures=1e3"),
      with_line("recoveries", "recoveries=-1"),
      with_line("state", "state=up\r"),
      with_line("signal_dbm", "signal_dbm=-70"),  // AT+CSQ gives odd values only
      with_line("signal_dbm", "signal_dbm=-115"),
      with_line("signal_dbm", "signal_dbm=71"),
      with_line("signal_dbm", "signal_dbm=--71"),
      with_line("operator", "operator=" + std::string(33, 'x')),
      with_line("operator", "operator='O2\x80'"),
      with_line("operator", "operator=\"O2\""),
      with_line("registration", "registration=HOME"),
      with_line("network", "network=5G"),
      with_line("sim", "sim=PUK"),
      with_line("at_port", "at_port=ttyUSB2"),
      with_line("mode", "mode=lte"),
      with_line("interface", "interface='eth1;reboot'"),
      with_line("interface", "interface=" + std::string(16, 'e')),
      std::string("state=up\0\n", 10) + kUpText.substr(9),
  };
  for (const std::string& text : bad) {
    LinkStatus s = up_status();
    s.pid = 1;
    EXPECT_EQ(parse(text, &s), 0) << text;
    EXPECT_EQ(s.pid, 1) << "written on refusal";
  }
}

TEST(StatusText, ReadsTheWayAShellSourcesIt) {
  char dir[] = "/tmp/link3g-status-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string file = std::string(dir) + "/status", out = std::string(dir) + "/out";
  FILE* f = fopen(file.c_str(), "w");
  ASSERT_NE(f, nullptr);
  fputs(kUpText.c_str(), f);
  fclose(f);
  doSystemCmd(". %s && printf '%%s|' \"$state\" \"$since\" \"$pid\" \"$modem\" \"$tty\" \"$family\" "
              "\"$address\" \"$pppd_starts\" \"$forced_restarts\" \"$recoveries\" \"$dns_failures\" "
              "\"$signal_dbm\" \"$operator\" \"$sim\" > %s",
              file.c_str(), out.c_str());
  char got[256] = {};
  FILE* o = fopen(out.c_str(), "r");
  ASSERT_NE(o, nullptr);
  size_t n = fread(got, 1, sizeof got - 1, o);
  fclose(o);
  doSystemCmd("rm -rf %s", dir);
  EXPECT_EQ(std::string(got, n), "up|751|812|12d1:1001|/dev/ttyUSB1|gsm|10.64.64.2|3|1|2|0|-71|O2 - UK|ready|");
}

std::string report(const LinkStatus& s, unsigned long now, LinkBytes bytes = {0, 0, 0}) {
  char out[512];
  size_t len = format_status_report(s, now, bytes, out, sizeof out);
  EXPECT_EQ(len, strlen(out));
  return out;
}

TEST(StatusReport, LinesAPersonReads) {
  LinkStatus s = up_status(), back_network;
  EXPECT_EQ(report(s, 751 + 3 * 3600 + 62, {1, 123456, 7890}),
            "link3g: up since 0:12:31 (uptime), ppp0 10.64.64.2, modem 12d1:1001 on /dev/ttyUSB1, GSM\n"
            "link3g: for 3:01:02, daemon pid 812, pppd started 3 times, 1 forced restart, "
            "2 recoveries, 0 unanswered DNS probes\n"
            "link3g: signal -71 dBm, operator O2 - UK, registered (home), UMTS, SIM ready\n"
            "link3g: ppp0 received 123456 bytes, sent 7890 bytes\n");
  // The AT port gone silent, and a SIM that wants its PUK.
  radio_facts_clear(&s.radio);
  EXPECT_NE(report(s, 751).find("\nlink3g: the modem's AT port does not answer\n"), std::string::npos);
  s.radio.sim = kSimPuk;
  EXPECT_NE(report(s, 751).find("\nlink3g: signal unknown, no operator, registration unknown, network unknown, "
                                "SIM blocked, wants its PUK\n"),
            std::string::npos);
  s.at_port[0] = '\0';
  s.state = kStateNoModem;
  s.vendor = s.product = 0;
  s.tty[0] = s.address[0] = '\0';
  s.family = 0;
  s.since = 100 * 3600;
  s.dns_failures = 1;
  s.recoveries = 1;
  EXPECT_EQ(report(s, 0),  // a clock behind the file counts as no time
            "link3g: no modem since 100:00:00 (uptime)\n"
            "link3g: for 0:00:00, daemon pid 812, pppd started 3 times, 1 forced restart, "
            "1 recovery, 1 unanswered DNS probe\n"
            "link3g: no AT port to ask\n");
  s.state = kStateDnsFailing;
  strcpy(s.tty, "/dev/ttyACM0");  // a modem served at once: no ids read
  s.family = 2;
  std::string text = report(s, 0);
  EXPECT_EQ(text.substr(0, text.find('\n') + 1),
            "link3g: up but DNS does not answer since 100:00:00 (uptime), modem on /dev/ttyACM0, CDMA EVDO\n");
  // A network stick: its interface where ppp0 was, udhcpc where pppd was.
  s = up_status();
  s.vendor = 0x12d1;
  s.product = 0x14dc;
  s.tty[0] = s.at_port[0] = '\0';
  s.family = 0;
  strcpy(s.address, "192.168.8.100");
  s.mode = kModeNetwork;
  strcpy(s.interface, "eth1");
  text = report(s, 751, {1, 5, 6});
  EXPECT_EQ(text.substr(0, text.find("link3g: no AT")),
            "link3g: up since 0:12:31 (uptime), eth1 192.168.8.100, network stick 12d1:14dc on eth1\n"
            "link3g: for 0:00:00, daemon pid 812, udhcpc started 3 times, 1 forced restart, "
            "2 recoveries, 0 unanswered DNS probes\n");
  EXPECT_NE(text.find("\nlink3g: eth1 received 5 bytes, sent 6 bytes\n"), std::string::npos) << text;
  ASSERT_EQ(parse(format(s), &back_network), 1);
  EXPECT_EQ(format(back_network), format(s));
}

TEST(StatusReport, CutToItsBuffer) {
  char out[40];
  memset(out, 'x', sizeof out);
  size_t len = format_status_report(up_status(), 751, {1, 1, 1}, out, sizeof out);
  EXPECT_EQ(len, sizeof out - 1);
  EXPECT_EQ(out[sizeof out - 1], '\0');
}

// The lock belongs to one process, ends with it however it ends, and is
// seen from outside with the holder's pid.
TEST(DaemonLock, OneHolderUntilItDies) {
  char dir[] = "/tmp/link3g-lock-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string path = std::string(dir) + "/link3g.pid";
  int holder = -1, error = -1;
  EXPECT_EQ(daemon_lock_holder(path.c_str(), &holder), 0);  // no file yet
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t child = fork();
  if (child == 0) {
    int h, e;
    char ok = take_daemon_lock(path.c_str(), &h, &e) == kLockTaken ? 'y' : 'n';
    if (write(ready[1], &ok, 1) != 1) _exit(1);
    pause();
    _exit(0);
  }
  char ok = 0;
  ASSERT_EQ(read(ready[0], &ok, 1), 1);
  EXPECT_EQ(ok, 'y');
  EXPECT_EQ(take_daemon_lock(path.c_str(), &holder, &error), kLockHeld);
  EXPECT_EQ(holder, child);
  EXPECT_EQ(daemon_lock_holder(path.c_str(), &holder), 1);
  EXPECT_EQ(holder, child);
  FILE* f = fopen(path.c_str(), "r");
  ASSERT_NE(f, nullptr);
  int written = 0;
  EXPECT_EQ(fscanf(f, "%d", &written), 1);
  fclose(f);
  EXPECT_EQ(written, child);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_EQ(daemon_lock_holder(path.c_str(), &holder), 0);
  EXPECT_EQ(take_daemon_lock(path.c_str(), &holder, &error), kLockTaken);
  EXPECT_EQ(take_daemon_lock((std::string(dir) + "/no/such/dir").c_str(), &holder, &error),
            kLockUnavailable);
  EXPECT_EQ(error, ENOENT);
  close(ready[0]);
  close(ready[1]);
  doSystemCmd("rm -rf %s", dir);
}

// Another user of the router: a CGI, a package's daemon.
constexpr uid_t kOtherUser = 1000;

// A folder anyone may write, as /var/run may be on some routers.
std::string shared_dir() {
  char dir[] = "/tmp/link3g-run-XXXXXX";
  if (mkdtemp(dir) == nullptr || chmod(dir, 01777) != 0) return "";
  return dir;
}

std::string text_of(const std::string& path) {
  FILE* f = fopen(path.c_str(), "r");
  if (f == nullptr) return "<none>";
  char buf[256];
  size_t n = fread(buf, 1, sizeof buf, f);
  fclose(f);
  return std::string(buf, n);
}

void plant_foreign_file(const std::string& path) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "echo owned\n", 11), 11);
  ASSERT_EQ(fchown(fd, kOtherUser, kOtherUser), 0);
  ASSERT_EQ(fchmod(fd, 0666), 0);
  close(fd);
}

void expect_own_file(const std::string& path, mode_t mode) {
  struct stat st;
  ASSERT_EQ(lstat(path.c_str(), &st), 0) << path;
  EXPECT_TRUE(S_ISREG(st.st_mode)) << path;
  EXPECT_EQ(st.st_uid, geteuid()) << path;
  EXPECT_EQ(st.st_mode & 07777, mode) << path;
}

// A child running as another user that holds a read lock on path (opened
// now, or already open as fd); its pid, once the lock is held.
pid_t foreign_reader(const std::string& path, int fd = -1) {
  int ready[2];
  if (pipe(ready) != 0) return -1;
  pid_t child = fork();
  if (child == 0) {
    if (setgid(kOtherUser) != 0 || setuid(kOtherUser) != 0) _exit(1);
    if (fd < 0) fd = open(path.c_str(), O_RDONLY);
    struct flock fl = {};
    fl.l_type = F_RDLCK;
    fl.l_whence = SEEK_SET;
    if (fd < 0 || fcntl(fd, F_SETLK, &fl) != 0) _exit(1);
    if (write(ready[1], "y", 1) != 1) _exit(1);
    pause();
    _exit(0);
  }
  char ok = 0;
  close(ready[1]);
  if (read(ready[0], &ok, 1) != 1 || ok != 'y') {
    waitpid(child, nullptr, 0);
    child = -1;
  }
  close(ready[0]);
  return child;
}

void end_child(pid_t child) {
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
}

// What another user plants at the status file's names is never written
// through, and never kept: the published file is a new one of ours.
TEST(StatusFile, PlantedLinksAndForeignFilesAreReplaced) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to plant another user's file";
  std::string dir = shared_dir();
  ASSERT_NE(dir, "");
  std::string path = dir + "/link3g.status", temp = path + ".new", victim = dir + "/victim";
  plant_foreign_file(victim);
  ASSERT_EQ(chmod(victim.c_str(), 0600), 0);
  ASSERT_EQ(symlink(victim.c_str(), temp.c_str()), 0);
  ASSERT_EQ(symlink(victim.c_str(), path.c_str()), 0);
  EXPECT_EQ(write_file_whole(path.c_str(), temp.c_str(), "state=up\n", 9), 0);
  EXPECT_EQ(text_of(victim), "echo owned\n");
  EXPECT_EQ(text_of(path), "state=up\n");
  expect_own_file(path, 0644);
  EXPECT_EQ(access(temp.c_str(), F_OK), -1);

  plant_foreign_file(temp);
  mode_t old_mask = umask(077);
  EXPECT_EQ(write_file_whole(path.c_str(), temp.c_str(), "state=starting\n", 15), 0);
  umask(old_mask);
  EXPECT_EQ(text_of(path), "state=starting\n");
  expect_own_file(path, 0644);
  doSystemCmd("rm -rf %s", dir.c_str());
}

// Nobody else can block the lock or have it written through a link: a
// planted link or file is replaced, and another user's read lock, on a
// file of theirs or on one of ours they opened earlier, does not count.
TEST(DaemonLock, OthersCannotBlockOrRedirectIt) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run as another user";
  std::string dir = shared_dir();
  ASSERT_NE(dir, "");
  std::string victim = dir + "/victim";
  plant_foreign_file(victim);
  int holder = -1, error = -1;

  std::string linked = dir + "/linked.pid";
  ASSERT_EQ(symlink(victim.c_str(), linked.c_str()), 0);
  EXPECT_EQ(take_daemon_lock(linked.c_str(), &holder, &error), kLockTaken);
  EXPECT_EQ(text_of(victim), "echo owned\n");
  expect_own_file(linked, 0600);
  EXPECT_EQ(text_of(linked), std::to_string(getpid()) + "\n");

  std::string planted = dir + "/planted.pid";
  plant_foreign_file(planted);
  pid_t reader = foreign_reader(planted);
  ASSERT_GT(reader, 0);
  EXPECT_EQ(daemon_lock_holder(planted.c_str(), &holder), 0);  // not the file owner's lock
  EXPECT_EQ(take_daemon_lock(planted.c_str(), &holder, &error), kLockTaken);
  expect_own_file(planted, 0600);
  end_child(reader);

  // A file of ours from a time it was 0644, which the other user opened.
  std::string opened = dir + "/opened.pid";
  int fd = open(opened.c_str(), O_RDWR | O_CREAT | O_EXCL, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(fchmod(fd, 0644), 0);
  int theirs = open(opened.c_str(), O_RDONLY);
  close(fd);
  reader = foreign_reader(opened, theirs);
  close(theirs);
  ASSERT_GT(reader, 0);
  EXPECT_EQ(take_daemon_lock(opened.c_str(), &holder, &error), kLockTaken);
  expect_own_file(opened, 0600);
  end_child(reader);
  doSystemCmd("rm -rf %s", dir.c_str());
}

}  // namespace
