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

// Room for an interface name and its NUL, as the kernel has it (IFNAMSIZ).
constexpr unsigned kIfNameSize = 16;
// 1 when name is 1..15 of the characters interface names are made of
// (letters, digits, '.', '_', '-'): a name that reaches a command line or
// the status file as it is. Else 0.
int ifname_plain(const char* name);
// 1 when the interface exists (asked on getIfIp_steady's socket), else 0.
int if_exists_steady(const char* ifname);
