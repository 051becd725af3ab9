#include "ppp/value_quote.h"

#include <string.h>

namespace {

struct Out {
  char* buf;
  size_t size;
  size_t pos;
  bool ok;
};

void put(Out* o, char c) {
  if (!o->ok || o->pos + 1 >= o->size) {
    o->ok = false;
    return;
  }
  o->buf[o->pos++] = c;
  o->buf[o->pos] = '\0';
}

// Copies value, putting a backslash before each character of escaped.
void put_escaped(Out* o, const char* value, const char* escaped) {
  for (const char* p = value; *p != '\0'; ++p) {
    if (strchr(escaped, *p) != nullptr) put(o, '\\');
    put(o, *p);
  }
}

int finish(Out* o) {
  if (!o->ok && o->size > 0) o->buf[0] = '\0';
  return o->ok ? 1 : 0;
}

}  // namespace

int ppp_option_word(const char* value, char* out, size_t size) {
  Out o = {out, size, 0, size > 0};
  if (o.ok) out[0] = '\0';
  bool plain = value[0] != '\0' && strpbrk(value, " \t#\"'\\") == nullptr;
  if (plain) {
    put_escaped(&o, value, "");
    return finish(&o);
  }
  put(&o, '"');
  put_escaped(&o, value, "\\\"");
  put(&o, '"');
  return finish(&o);
}

int comgt_escape(const char* value, char* out, size_t size) {
  Out o = {out, size, 0, size > 0};
  if (o.ok) out[0] = '\0';
  put_escaped(&o, value, "\"\\^");
  return finish(&o);
}

int has_control_char(const char* value) {
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(value); *p; ++p) {
    if (*p < 0x20 || *p == 0x7f) return 1;
  }
  return 0;
}
