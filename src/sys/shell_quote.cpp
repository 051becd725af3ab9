#include "sys/shell_quote.h"

#include <ctype.h>
#include <string.h>

namespace {

bool is_plain(char c) {
  return isalnum(static_cast<unsigned char>(c)) || strchr("._,+-:/@=%", c) != nullptr;
}

bool all_plain(const char* value) {
  for (const char* p = value; *p != '\0'; ++p) {
    if (!is_plain(*p)) return false;
  }
  return true;
}

// Appends text to out at *pos; false when it would not fit.
bool append(char* out, size_t size, size_t* pos, const char* text, size_t len) {
  if (*pos + len >= size) return false;
  memcpy(out + *pos, text, len);
  *pos += len;
  out[*pos] = '\0';
  return true;
}

// The quoted form: pieces 'TEXT' (no quote inside) and \' escapes, in any
// order, beginning with a piece. *pos counts the bytes written to out.
bool unquote_pieces(const char* in, size_t len, char* out, size_t size, size_t* pos) {
  if (len == 0 || in[0] != '\'') return false;
  size_t i = 0;
  while (i < len) {
    if (in[i] == '\'') {
      const void* close = memchr(in + i + 1, '\'', len - i - 1);
      if (close == nullptr) return false;
      size_t end = static_cast<size_t>(static_cast<const char*>(close) - in);
      if (memchr(in + i + 1, '\0', end - i - 1) != nullptr) return false;
      if (!append(out, size, pos, in + i + 1, end - i - 1)) return false;
      i = end + 1;
    } else if (in[i] == '\\' && i + 1 < len && in[i + 1] == '\'') {
      if (!append(out, size, pos, "'", 1)) return false;
      i += 2;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

int shell_quote(const char* value, char* out, size_t size) {
  if (size == 0) return 0;
  out[0] = '\0';
  size_t pos = 0;
  if (all_plain(value)) {
    if (append(out, size, &pos, value, strlen(value))) return 1;
    out[0] = '\0';
    return 0;
  }
  // Inside single quotes nothing is special; a quote itself is closed,
  // escaped and reopened.
  bool ok = append(out, size, &pos, "'", 1);
  for (const char* p = value; ok && *p != '\0'; ++p) {
    ok = (*p == '\'') ? append(out, size, &pos, "'\\''", 4) : append(out, size, &pos, p, 1);
  }
  ok = ok && append(out, size, &pos, "'", 1);
  if (!ok) out[0] = '\0';
  return ok ? 1 : 0;
}

int shell_unquote(const char* in, size_t len, char* out, size_t size) {
  if (size == 0) return 0;
  out[0] = '\0';
  size_t pos = 0;
  bool plain = true;
  for (size_t i = 0; i < len && plain; ++i) plain = in[i] != '\0' && is_plain(in[i]);
  bool ok = plain ? append(out, size, &pos, in, len) : unquote_pieces(in, len, out, size, &pos);
  if (!ok) out[0] = '\0';
  return ok ? 1 : 0;
}
