// What the modem says of its radio and its SIM when asked on its AT port:
// the type the AT port's reader fills, the link's state keeps and the
// status file shows.
#pragma once

#include <stddef.h>
#include <string.h>

// Signal strength unknown (AT+CSQ's 99, or not asked).
constexpr int kSignalUnknown = 0;
// Access technology unknown (no AcT field, or not asked).
constexpr int kNetworkUnknown = -1;
// An operator's name: at most 32 bytes of printable ASCII and the NUL.
constexpr size_t kOperatorSize = 33;

// AT+CREG?'s registration state.
enum Registration {
  kRegUnknown,     // not asked, or 4 (unknown)
  kRegHome,        // 1: registered, home network
  kRegRoaming,     // 5: registered, roaming
  kRegSearching,   // 2: not registered, searching
  kRegDenied,      // 3: registration denied
  kRegNone,        // 0: not registered, not searching
  kRegistrationCount
};

// AT+CPIN?'s SIM state.
enum SimState {
  kSimUnknown,  // not asked, or an answer of another kind (PIN2, PH-SIM...)
  kSimReady,    // READY
  kSimPin,      // SIM PIN: it wants its PIN
  kSimPuk,      // SIM PUK: blocked, it wants its PUK
  kSimAbsent,   // +CME ERROR: 10, SIM not inserted
  kSimStateCount
};

struct RadioFacts {
  int signal_dbm;                     // -113 .. -51, or kSignalUnknown
  char operator_name[kOperatorSize];  // empty when unknown
  Registration registration;
  int network;                        // AT+COPS's AcT (0 GSM, 2 UMTS, 7 LTE...), or kNetworkUnknown
  SimState sim;
};

// Every fact unknown. Here, not in the AT port's reader: the status file's
// reader, which links no USB code, clears a record with it too.
inline void radio_facts_clear(RadioFacts* facts) {
  memset(facts, 0, sizeof *facts);
  facts->signal_dbm = kSignalUnknown;
  facts->registration = kRegUnknown;
  facts->network = kNetworkUnknown;
  facts->sim = kSimUnknown;
}
