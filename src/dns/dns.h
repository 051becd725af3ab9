// The one DNS question link3g asks: does a name server of /etc/resolv.conf
// answer a query sent now? The supervisor asks it on every pass of a
// steady link; the dns command's self-check asks it once.
#pragma once

#include <stdint.h>

// One pre-encoded DNS question (RFC 1035 4.1.2): QNAME, QTYPE A, QCLASS IN.
struct DomainQuestion {
  int32_t length;  // bytes of question used; 0 ends the table
  unsigned char question[64];
};
constexpr int kDomainListEntries = 7;
extern const DomainQuestion DomainList[kDomainListEntries];
// The entry the next query carries; rotates over the whole process.
extern int32_t DomainListIndex;

// The n-th (from 1) "nameserver" value of /etc/resolv.conf into dest (24
// bytes or more; empty when there is none). Returns 0 when dest is null or
// the file cannot be read, else the number of nameserver lines plus one.
int getDns(int n, char* dest);
// Sends one query to server; 1 when any datagram came back within 2 s.
int SendDns(const char* server);
// 1 when the first or the second name server answered a query.
int CheckDnsQuery();
