// Waits must last their full time although SIGCHLD, from any command that
// ends, interrupts them; and the daemon's handlers, which keep such signals
// from ending it, still let a trap of its own code end it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "app/app.h"
#include "sys/led_code.h"
#include "sys/pause.h"

namespace {

double now() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void on_signal(int) {}

// A handler without SA_RESTART, as the daemon has once it supervises, and
// a child that ends after delay_us, so that SIGCHLD arrives mid-wait.
class InterruptedWait : public ::testing::Test {
 protected:
  void SetUp() override {
    struct sigaction sa = {};
    sa.sa_handler = on_signal;
    sigaction(SIGCHLD, &sa, &saved_);
  }
  void TearDown() override {
    if (child_ > 0) waitpid(child_, nullptr, 0);
    sigaction(SIGCHLD, &saved_, nullptr);
  }
  void child_ending_after(useconds_t delay_us) {
    child_ = fork();
    if (child_ == 0) {
      usleep(delay_us);
      _exit(0);
    }
  }
  struct sigaction saved_ = {};
  pid_t child_ = -1;
};

TEST_F(InterruptedWait, SecondsLastTheirFullTime) {
  child_ending_after(200000);
  double start = now();
  wait_seconds(1);
  EXPECT_GE(now() - start, 0.99);
  EXPECT_LT(now() - start, 1.5);
}

TEST_F(InterruptedWait, ReadableWaitTimesOutOnlyAtItsEnd) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  child_ending_after(200000);
  double start = now();
  EXPECT_EQ(wait_readable(fds[0], 1), 0);
  EXPECT_GE(now() - start, 0.99);
  close(fds[0]);
  close(fds[1]);
}

TEST_F(InterruptedWait, ReadableWaitSeesDataAfterInterruption) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  pid_t writer = fork();
  if (writer == 0) {
    usleep(500000);
    ssize_t n = write(fds[1], "x", 1);
    _exit(n == 1 ? 0 : 1);
  }
  child_ending_after(100000);
  double start = now();
  EXPECT_EQ(wait_readable(fds[0], 2), 1);
  EXPECT_GE(now() - start, 0.45);
  EXPECT_LT(now() - start, 1.5);
  waitpid(writer, nullptr, 0);
  close(fds[0]);
  close(fds[1]);
}

// A descriptor past FD_SETSIZE (a daemon that has run long may hold one):
// an fd_set would be written past its end.
TEST(ReadableWait, DescriptorPastFdSetSize) {
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  constexpr int kHigh = FD_SETSIZE + 100;
  if (saved.rlim_max != RLIM_INFINITY && saved.rlim_max <= static_cast<rlim_t>(kHigh)) {
    GTEST_SKIP() << "descriptors are limited to " << saved.rlim_max;
  }
  struct rlimit raised = {static_cast<rlim_t>(kHigh) + 1, saved.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &raised), 0);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_EQ(dup2(fds[0], kHigh), kHigh);
  EXPECT_EQ(wait_readable(kHigh, 1), 0);
  ASSERT_EQ(write(fds[1], "x", 1), 1);
  EXPECT_EQ(wait_readable(kHigh, 1), 1);
  close(kHigh);
  close(fds[0]);
  close(fds[1]);
  setrlimit(RLIMIT_NOFILE, &saved);
}

// The LED word's untimed wait, on this target's kernel interface: a
// waiter sleeps through stores of the code it waits on and wakes once, at
// another code. A refused wait would make it spin.
TEST(LedCodeWait, SleepsUntilAnotherCodeIsStored) {
  SharedLedCode code = {kLedSteady};
  std::atomic<int> wakeups{0};
  std::atomic<bool> refused{false}, done{false};
  std::thread waiter([&] {
    while (code.load() == kLedSteady) {
      if (!code.wait_while(kLedSteady)) refused = true;
      ++wakeups;
    }
    done = true;
  });
  usleep(100000);
  code = kLedSteady;  // the same code: no wakeup
  usleep(100000);
  EXPECT_EQ(wakeups.load(), 0);
  code = kLedFastBlink;
  for (int i = 0; i < 200 && !done; ++i) usleep(10000);
  EXPECT_TRUE(done.load()) << "the store did not wake the waiter";
  if (!done) {
    // Free the waiter all the same, so the test ends: a signal cuts the wait.
    struct sigaction sa = {}, saved = {};
    sa.sa_handler = on_signal;
    sigaction(SIGUSR1, &sa, &saved);
    while (!done) {
      pthread_kill(waiter.native_handle(), SIGUSR1);
      usleep(10000);
    }
    sigaction(SIGUSR1, &saved, nullptr);
  }
  waiter.join();
  EXPECT_FALSE(refused.load());
  EXPECT_EQ(wakeups.load(), 1);
}

// A trap the processor raises in this process's own code: what GCC emits
// for a provable NULL dereference on the router's MIPS, int3 on x86.
#if defined(__mips__)
#define TRAP_INSTRUCTION "teq $0, $0"
#elif defined(__i386__) || defined(__x86_64__)
#define TRAP_INSTRUCTION "int3"
#elif defined(__aarch64__)
#define TRAP_INSTRUCTION "brk #0"
#endif

// A child with the daemon's handlers: SIGTRAP from kill and from tkill
// (raise) is ignored, then the trap of its own code must end it.
TEST(SignalHandlers, OnlyATrapOfItsOwnCodeEndsTheDaemon) {
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    InstallSignalHandlers();
    kill(getpid(), SIGTRAP);
    raise(SIGTRAP);
    kill(getpid(), SIGHUP);
#ifdef TRAP_INSTRUCTION
    __asm__ volatile(TRAP_INSTRUCTION);
    _exit(1);  // survived its own trap
#else
    _exit(77);
#endif
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77) GTEST_SKIP() << "no trap instruction for this processor";
  ASSERT_TRUE(WIFSIGNALED(status)) << "exit " << WEXITSTATUS(status);
  EXPECT_EQ(WTERMSIG(status), SIGTRAP);
}

}  // namespace
