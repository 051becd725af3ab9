// The modem's answers to the AT commands of its radio and SIM (3GPP TS
// 27.007), read from the bytes its AT port sent back: the command's echo,
// unsolicited reports and the final result code may stand around the
// information line, which is found by its prefix at the start of a line.
// Parsers on bytes and a length, no I/O: the port is outside input.
#pragma once

#include <stddef.h>

#include "usb/radio_facts.h"

// Final result codes that end an answer.
enum AtResult {
  kAtNoAnswer,  // none yet (or none within the time, or not one the reader knows)
  kAtOk,        // OK
  kAtError,     // ERROR, +CME ERROR: ..., +CMS ERROR: ...
};

// The final result code among the first len bytes, if any: a line of its
// own ("OK", "ERROR") or one beginning "+CME ERROR" or "+CMS ERROR".
AtResult at_final_result(const char* text, size_t len);

// "+CSQ: <rssi>,<ber>": rssi 0..31 is -113 + 2 * rssi dBm, 99 (or anything
// else) unknown. 1 when the line was there.
int parse_csq(const char* text, size_t len, int* dbm);

// "+COPS: <mode>[,<format>,"<oper>"[,<AcT>]]": the operator's name as at
// most 32 bytes, every byte outside printable ASCII dropped, and the
// access technology (kNetworkUnknown without one). 1 when the line was
// there (a name or not).
int parse_cops(const char* text, size_t len, char (&name)[kOperatorSize], int* network);

// "+CREG: <n>,<stat>[,...]". 1 when the line was there.
int parse_creg(const char* text, size_t len, Registration* registration);

// "+CPIN: READY", "+CPIN: SIM PIN", "+CPIN: SIM PUK"; "+CME ERROR: 10" (or
// its words, "SIM not inserted") is a SIM absent. 1 when either was there.
int parse_cpin(const char* text, size_t len, SimState* sim);
