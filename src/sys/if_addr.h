// The IPv4 address of a network interface.
#pragma once

// IPv4 address of ifname as dotted-decimal text into addr (at least 16
// bytes). Note the opposite conventions: getIfIp returns 0 on success and
// -1 otherwise; GetIf_stat returns 1 on success and 0 otherwise. addr is
// left untouched on failure.
int getIfIp(const char* ifname, char* addr);
int GetIf_stat(const char* ifname, char* addr);

// getIfIp for the caller that asks on every pass of a steady link (the
// supervisor): the same request on one datagram socket made once and held
// for the life of the process (close-on-exec), where getIfIp makes and
// closes one each time, the dearest part of a pass after a sleep. Main
// thread only.
int getIfIp_steady(const char* ifname, char* addr);
