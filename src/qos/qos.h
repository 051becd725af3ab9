// QoS rules: a compact rule string turned into iptables mangle rules that
// give ranges of LAN hosts a rate and a queue.
#pragma once

#include <stddef.h>
#include <stdint.h>

// One rule of the string; complete when all three fields are non-zero.
struct QosRule {
  int32_t firstHost;  // last number of the first host's IPv4 address
  int32_t lastHost;   // last number of the last host's IPv4 address
  int32_t rate;       // as written; handed to the target times 1024
};

constexpr int kQosRuleCount = 10;

// The parsed rules; an entry's index is its queue id.
extern QosRule qos[kQosRuleCount];

// Parses rules ("first,last,rate;" repeated) into qos. Returns 1, or 0 after
// printing "cmd fmt error.\n" when the string cannot be taken: a third ','
// in one rule, an eleventh rule, a number token longer than 63 characters,
// or a number outside the 32-bit range.
int QosFmt(const char* rules);

// Parses rules, empties the mangle FORWARD chain and appends two rules
// (source and destination range) per complete entry, with lanPrefix (the
// first three parts of the LAN address and a dot) before each host number.
void InitQos(const char* rules, const char* lanPrefix);

// Parses len bytes of a rule string into table (which it does not clear).
// Returns 1, or 0 on a format error; never writes past table[count - 1].
int qos_parse(const char* rules, size_t len, QosRule* table, int count);
