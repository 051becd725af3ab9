// A conversation with one of the stick's AT ports (not the one pppd dials
// on), as the router's other serial tools have it: the port is taken with a
// UUCP lock file (/var/lock/LCK..ttyUSB1, the convention of pppd's "lock"),
// a port whose lock a live process holds is left alone, a stale lock is
// removed; the port's settings are put back when it is let go.
#pragma once

#include <stddef.h>
#include <termios.h>

#include "usb/at_answers.h"

// Room for /var/lock/LCK..NAME.
constexpr size_t kAtLockPathSize = 64;

struct AtSession {
  int fd;                        // -1 when not open
  struct termios saved;          // the port's settings, put back at the end
  char lock[kAtLockPathSize];    // our lock file; empty when none was taken
};

enum AtOpenResult {
  kAtOpened,     // ours until at_close
  kAtInUse,      // a live process holds its lock
  kAtUnusable,   // it cannot be opened (no device behind the node) or set up
};

AtOpenResult at_open(const char* tty, AtSession* session);
void at_close(AtSession* session);

// Sends command and a carriage return, then gathers what comes back into
// reply (size bytes, NUL-terminated) until a final result code, for at most
// seconds. kAtNoAnswer when none came in time, or the reply ran past its
// room without one (a port that sends garbage).
AtResult at_command(AtSession* session, const char* command, char* reply, size_t size, unsigned seconds);
