// Running command lines through the shell, and quoting values for it.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "sys/shell_quote.h"
#include "sys/shell_run.h"

namespace {

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/link3g-shell-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    out_ = dir_ + "/out";
  }
  void TearDown() override { doSystemCmd("rm -rf %s", dir_.c_str()); }
  std::string output() const {
    std::ifstream in(out_, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  std::string dir_, out_;
};

TEST_F(ShellTest, ReturnsTheShellsWaitStatus) {
  int status = doSystemCmd("exit %d", 3);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
}

TEST_F(ShellTest, RunsOnlyTheFirst1023Characters) {
  std::string prefix = "exec >" + out_ + "; printf %s ";
  std::string line = prefix + std::string(2000, 'B');
  doSystemCmd("%s", line.c_str());
  EXPECT_EQ(output(), std::string(1023 - prefix.size(), 'B'));
}

TEST_F(ShellTest, BackgroundLineReturnsAtOnce) {
  time_t start = time(nullptr);
  doSystemCmd("sleep 3 >/dev/null 2>&1 &");
  EXPECT_LE(time(nullptr) - start, 1);
}

TEST_F(ShellTest, CommandStartsWithDefaultSignalDispositions) {
  struct sigaction ignore = {}, saved;
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGUSR1, &ignore, &saved);
  int status = doSystemCmd("kill -USR1 $$; exit 0");
  sigaction(SIGUSR1, &saved, nullptr);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGUSR1);
}

// The LED thread and the main thread run commands at the same moment: every
// status must be the right one and our own signal set-up must survive.
TEST_F(ShellTest, TwoThreadsRunCommandsAtOnce) {
  struct sigaction before;
  sigaction(SIGINT, nullptr, &before);
  int wrong[2] = {0, 0};
  auto worker = [&wrong](int id) {
    for (int i = 0; i < 40; ++i) {
      int status = doSystemCmd("exit %d", (id * 40 + i) % 100);
      if (!WIFEXITED(status) || WEXITSTATUS(status) != (id * 40 + i) % 100) ++wrong[id];
    }
  };
  std::thread a(worker, 0), b(worker, 1);
  a.join();
  b.join();
  EXPECT_EQ(wrong[0] + wrong[1], 0);
  struct sigaction after;
  sigaction(SIGINT, nullptr, &after);
  EXPECT_EQ(after.sa_handler, before.sa_handler);
}

TEST_F(ShellTest, OrdinaryValuesAreNotQuoted) {
  char out[kShellQuotedSize];
  for (const char* v : {"192.168.1.", "1234", "/dev/ttyUSB0", "12d1_1446.cfg", "%n", ""}) {
    ASSERT_EQ(shell_quote(v, out, sizeof out), 1);
    EXPECT_STREQ(out, v);
  }
}

// Whatever the value, the shell hands it on as one word, unchanged.
TEST_F(ShellTest, HostileValuesReachTheCommandUnchanged) {
  const char* values[] = {"a b",        "it's",   "$(touch pwned)", "`touch pwned`", "x;touch pwned",
                          "*",          "~",      "#c",             "a\nb",          "\"q\"\\",
                          "192.168.1.;reboot;", "'", "a&b|c>d<e", "$HOME", "!x"};
  for (const char* v : values) {
    char quoted[kShellQuotedSize];
    ASSERT_EQ(shell_quote(v, quoted, sizeof quoted), 1) << v;
    doSystemCmd("cd %s && printf %%s %s > %s", dir_.c_str(), quoted, out_.c_str());
    EXPECT_EQ(output(), v);
  }
  EXPECT_NE(access((dir_ + "/pwned").c_str(), F_OK), 0);
}

// What shell_quote writes reads back exactly; forms the shell reads the
// same way are taken too, anything else is refused.
TEST_F(ShellTest, UnquotingReadsBackWhatTheShellReads) {
  const char* values[] = {"", "plain/value:1", "a b", "it's", "'", "''", "$(touch pwned)", "a\nb",
                          "\\'\\"};
  for (const char* v : values) {
    char quoted[kShellQuotedSize], back[kShellQuotedSize];
    ASSERT_EQ(shell_quote(v, quoted, sizeof quoted), 1) << v;
    ASSERT_EQ(shell_unquote(quoted, strlen(quoted), back, sizeof back), 1) << quoted;
    EXPECT_STREQ(back, v);
  }
  for (const char* word : {"'a''b'", "'x'\\'''", "''"}) {
    char back[16];
    ASSERT_EQ(shell_unquote(word, strlen(word), back, sizeof back), 1) << word;
    doSystemCmd("printf %%s %s > %s", word, out_.c_str());
    EXPECT_EQ(output(), back) << word;
  }
  const char* refused[] = {"a b", "$HOME", "`id`", "\"x\"", "'open", "x'y'", "'a'b", "\\'",
                           "'a'\\x", "a\\'b", "'a'\\"};
  for (const char* word : refused) {
    char back[16] = "untouched";
    EXPECT_EQ(shell_unquote(word, strlen(word), back, sizeof back), 0) << word;
    EXPECT_STREQ(back, "");
  }
  char back[16];
  EXPECT_EQ(shell_unquote("'a\0b'", 5, back, sizeof back), 0);  // a NUL is no text
  EXPECT_EQ(shell_unquote("ab\0c", 4, back, sizeof back), 0);
  char small[4];
  EXPECT_EQ(shell_unquote("'abcd'", 6, small, sizeof small), 0);
  EXPECT_EQ(shell_unquote("abc", 3, small, sizeof small), 1);
}

TEST_F(ShellTest, QuotingThatWouldNotFitIsRefused) {
  char small[6];
  EXPECT_EQ(shell_quote("a'b'c", small, sizeof small), 0);
  EXPECT_STREQ(small, "");
  EXPECT_EQ(shell_quote("abcdef", small, sizeof small), 0);
}

}  // namespace
