#include <signal.h>

#include "app/app.h"

namespace {

// Signals that must no longer end the daemon once it supervises the link.
// SIGINT is left alone so that an operator can still stop it; the
// synchronous fault signals keep their default action, because a handler
// that only returns would make a real fault recur for ever.
const int kIgnoredBadSignals[] = {
    SIGPIPE, SIGHUP, SIGUSR1, SIGUSR2, SIGCHLD, SIGABRT, SIGALRM, SIGQUIT,
#ifdef SIGEMT
    SIGEMT,
#endif
    SIGIO, SIGPROF, SIGSYS, SIGVTALRM, SIGXCPU, SIGXFSZ,
};

// sigaction rather than signal(): some C libraries' signal() resets the
// handler after the first delivery; these must stay installed.
void install(int sig, void (*handler)(int)) {
  struct sigaction sa = {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(sig, &sa, nullptr);
}

// SIGTRAP sent by another process (kill, tkill) is ignored like the
// others. One the kernel raises is a trap of this process's own code (GCC
// turns a provable NULL dereference into "teq $0,$0" on MIPS): returning
// would run the trapping instruction again for ever, so the process ends
// by the default action instead.
void trap_entry(int sig, siginfo_t* info, void*) {
  if (info != nullptr && (info->si_code == SI_USER || info->si_code == SI_TKILL)) return;
  struct sigaction sa = {};
  sa.sa_handler = SIG_DFL;
  sigemptyset(&sa.sa_mask);
  sigaction(sig, &sa, nullptr);
  raise(sig);  // delivered once this handler returns and unblocks it
}

void install_trap_handler() {
  struct sigaction sa = {};
  sa.sa_sigaction = trap_entry;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART | SA_SIGINFO;
  sigaction(SIGTRAP, &sa, nullptr);
}

}  // namespace

void Term_Sig_entry(int) {}

void Bad_Sig_entry(int) {}

// A non-interactive shell starts a command put in the background with
// SIGINT ignored, and an ignored signal stays ignored across exec: a daemon
// started by a start-up script with "&" could then be ended by SIGKILL
// alone, SIGTERM being ignored on purpose once it supervises.
void RestoreStopSignal() { install(SIGINT, SIG_DFL); }

void InstallSignalHandlers() {
  install(SIGTERM, Term_Sig_entry);
  for (int sig : kIgnoredBadSignals) install(sig, Bad_Sig_entry);
  install_trap_handler();
}
