// What the 3g daemon tells other programs about the link: the record it
// keeps, the file it publishes it in, and the lock that makes it the only
// one. Shared by the daemon, which writes, and the status command, which
// reads.
#pragma once

#include <stddef.h>

#include "sys/buffer_sizes.h"
#include "usb/modem_family.h"
#include "usb/radio_facts.h"

constexpr char kStatusPath[] = "/var/run/link3g.status";
// Written first, then renamed over kStatusPath: a reader sees the old file
// or the new one, never half of one.
constexpr char kStatusTempPath[] = "/var/run/link3g.status.new";
constexpr char kPidLockPath[] = "/var/run/link3g.pid";

// Room for the whole status text; a longer file is not ours.
constexpr size_t kStatusTextSize = 1024;
// Room for a modem tty path (the bring-up's own buffer is as wide).
constexpr size_t kStatusTtySize = 32;

enum LinkState {
  kStateStarting,    // the first bring-up runs
  kStateNoModem,     // no modem tty could be brought up
  kStateNoFamily,    // a modem, but no dial configuration for it
  kStateConnecting,  // configured; pppd started, ppp0 has no address yet
  kStateUp,          // ppp0 has an address; the last probe answered, or none yet
  kStateDnsFailing,  // ppp0 has an address; the last probe went unanswered
  kLinkStateCount
};

// Which way the link goes: pppd on a modem tty, or DHCP (udhcpc) on the
// interface of a stick that is a network card.
enum LinkMode { kModePpp, kModeNetwork, kLinkModeCount };

// Room for an interface name and its NUL (the kernel's IFNAMSIZ).
constexpr size_t kStatusIfNameSize = 16;

struct LinkStatus {
  LinkState state;
  unsigned long since;    // seconds since boot when the state began
  int pid;                // the daemon's
  int vendor, product;    // the modem's USB ids; 0:0 when not read
  char tty[kStatusTtySize];  // empty when none
  int family;             // a ModemFamily of a dial configuration; 0 when not decided
  char address[kAddrFieldSize];  // of the link's interface (ppp0), empty when none
  unsigned long pppd_starts;      // every pppd (network way: udhcpc) the daemon started
  unsigned long forced_restarts;  // of those, the restarts of a failing link
  unsigned long recoveries;       // resets of a stuck stick and the bring-ups after them
  unsigned long dns_failures;     // probes unanswered since the last answered one
  char at_port[kStatusTtySize];   // the AT port the radio facts come from; empty when none
  RadioFacts radio;               // as the modem said last; unknown when not asked
  LinkMode mode;                  // ppp unless the bring-up found a network stick
  char interface[kStatusIfNameSize];  // the network way's; empty on the PPP way
};
