// The one DNS question link3g asks: does a name server of /etc/resolv.conf
// answer a query sent now? The supervisor asks it on every pass of a
// steady link; the dns command's self-check asks it once.
#pragma once

#include <stddef.h>
#include <stdint.h>

// --- /etc/resolv.conf -------------------------------------------------------

constexpr char kResolvConfPath[] = "/etc/resolv.conf";

// Width of a name-server text field: at most 23 characters and the NUL.
constexpr size_t kNameserverFieldSize = 24;
// /etc/resolv.conf is read in pieces of at most 63 characters.
constexpr int kResolvPieceSize = 64;

// 1 when piece (a line, or a 63-character piece of a longer one) is a
// "nameserver" line: its first ten characters spell the word. Its value,
// the first word after it, goes into field; a line without a value, or with
// one too long for the field, leaves field empty (such a value is no IPv4
// address, and cut it could be another one).
int nameserver_of_piece(const char* piece, size_t len, char (&field)[kNameserverFieldSize]);

// 1 when text is a dotted-quad IPv4 address worth sending a query to.
int usable_nameserver(const char* text);

// Reads /etc/resolv.conf once: the values of the nameserver lines numbered
// first .. first + count - 1 (from 0) go into fields, which are cleared
// first. Returns the number of nameserver lines, or -1 when the file cannot
// be read.
int read_nameservers(int first, char (*fields)[kNameserverFieldSize], int count);

// --- The query ----------------------------------------------------------------

// One pre-encoded DNS question (RFC 1035 4.1.2): QNAME, QTYPE A, QCLASS IN.
struct DomainQuestion {
  int32_t length;  // bytes of question used; 0 ends the table
  unsigned char question[64];
};
constexpr int kDomainListEntries = 7;
extern const DomainQuestion DomainList[kDomainListEntries];
// The entry the next query carries; rotates over the whole process.
extern int32_t DomainListIndex;

// A query datagram: the 12-byte header and at most 64 bytes of question.
constexpr size_t kDnsQueryMax = 12 + 64;
constexpr unsigned kDnsQueryIdBase = 0x7329;

// The query for DomainList entry index: ID 0x7329 + index, RD set, one
// question. Returns its length, or 0 for the table's terminator or an index
// outside the table.
size_t build_dns_query(int index, unsigned char (&out)[kDnsQueryMax]);

// The n-th (from 1) "nameserver" value of /etc/resolv.conf into dest (24
// bytes or more; empty when there is none). Returns 0 when dest is null or
// the file cannot be read, else the number of nameserver lines plus one.
int getDns(int n, char* dest);
// Sends one query to server; 1 when any datagram came back within 2 s.
int SendDns(const char* server);
// 1 when the first or the second name server answered a query.
int CheckDnsQuery();
