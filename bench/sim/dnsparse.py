#!/usr/bin/python3
"""Prints the queries of the DNS journal as a real DNS library reads them:
one line "ADDR ID FLAGS QDCOUNT QNAME QTYPE QCLASS" per datagram, or
"ADDR UNPARSABLE" for one it cannot read."""
import sys

import dnslib

for line in open(sys.argv[1] if len(sys.argv) > 1 else "/bench/journal/dns.log"):
    _, addr, data = line.split()
    try:
        rec = dnslib.DNSRecord.parse(bytes.fromhex(data))
    except Exception:
        print(addr, "UNPARSABLE")
        continue
    h = rec.header
    flags = (h.qr << 15) | (h.opcode << 11) | (h.aa << 10) | (h.tc << 9) | (h.rd << 8) | (h.ra << 7) | h.rcode
    for q in rec.questions:
        print(addr, "%04x" % h.id, "%04x" % flags, h.q, str(q.qname).rstrip("."),
              dnslib.QTYPE[q.qtype], dnslib.CLASS[q.qclass])
