
#include <arpa/inet.h>
#include <ctype.h>
#include <string.h>

#include "dns/dns.h"
#include "sys/line_reader.h"

namespace {

constexpr char kKeyword[] = "nameserver";
constexpr size_t kKeywordLength = sizeof kKeyword - 1;
// A server text of 5 characters or fewer counts as no server.
constexpr size_t kMinServerText = 6;

bool blank(char c) { return isspace(static_cast<unsigned char>(c)) != 0; }

}  // namespace

int nameserver_of_piece(const char* piece, size_t len, char (&field)[kNameserverFieldSize]) {
  memset(field, 0, sizeof field);
  if (len < kKeywordLength || strncmp(piece, kKeyword, kKeywordLength) != 0) return 0;
  size_t i = kKeywordLength;
  while (i < len && piece[i] != '\0' && blank(piece[i])) ++i;
  size_t start = i;
  while (i < len && piece[i] != '\0' && !blank(piece[i])) ++i;
  if (i - start < sizeof field) memcpy(field, piece + start, i - start);
  return 1;
}

int usable_nameserver(const char* text) {
  struct in_addr addr;
  return strlen(text) >= kMinServerText && inet_pton(AF_INET, text, &addr) == 1 ? 1 : 0;
}

int read_nameservers(int first, char (*fields)[kNameserverFieldSize], int count) {
  memset(fields, 0, sizeof *fields * static_cast<size_t>(count));
  // Read on every pass of a steady link: without a stdio stream, which
  // would allocate and free its buffer each time.
  LineReader in;
  if (!line_reader_open(&in, kResolvConfPath)) return -1;
  char piece[kResolvPieceSize];
  int lines = 0;
  while (line_reader_piece(&in, piece, sizeof piece)) {
    char field[kNameserverFieldSize];
    if (!nameserver_of_piece(piece, strlen(piece), field)) continue;
    if (lines >= first && lines < first + count) memcpy(fields[lines - first], field, sizeof field);
    ++lines;
  }
  line_reader_close(&in);
  return lines;
}

int getDns(int n, char* dest) {
  if (dest == nullptr) return 0;
  char field[1][kNameserverFieldSize];
  int lines = read_nameservers(n - 1, field, 1);
  memcpy(dest, field[0], sizeof field[0]);
  return lines < 0 ? 0 : lines + 1;
}
