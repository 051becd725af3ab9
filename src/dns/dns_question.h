#pragma once

#include <stddef.h>

// A query datagram: the 12-byte header and at most 64 bytes of question.
constexpr size_t kDnsQueryMax = 12 + 64;
constexpr unsigned kDnsQueryIdBase = 0x7329;

// The query for DomainList entry index: ID 0x7329 + index, RD set, one
// question. Returns its length, or 0 for the table's terminator or an index
// outside the table.
size_t build_dns_query(int index, unsigned char (&out)[kDnsQueryMax]);
