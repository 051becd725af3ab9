#pragma once

#include <stddef.h>

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
