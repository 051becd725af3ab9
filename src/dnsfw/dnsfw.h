// The dns command: a start script for the dnrd relay with the name servers
// of /etc/resolv.conf, the NAT masquerade rule for the active ppp interface
// (or the network stick's the 3g daemon names),
// and a DNS self-check that reboots the router when DNS is dead (but not
// in its first ten minutes up).
#pragma once

// The first two "nameserver" values of /etc/resolv.conf into first and
// second (24 bytes each; empty when missing). Returns the number of
// nameserver lines, or 0 when a pointer is null or the file is unreadable.
int GetDns(char* first, char* second);

void InitDnsForward();
void CheckPPPOEDevice();
void SetPPPOENat(const char* ifname, const char* lanAddress);
void CheckDNSOK();
