#include "readers.h"

#include <cctype>
#include <cstdio>

namespace fuzz {

// --- pppd -------------------------------------------------------------------
//
// A transcription of getword() in pppd/options.c (pppd 2.4.4 to 2.5):
// blanks, newlines and '#' comments are skipped before a word; a word ends
// at unquoted white space or '#'; '"' or '\'' opens a quoted part that the
// same quote closes; a backslash escapes the next character everywhere,
// with C-like meanings for a b f n r s t, octal \ddd and hex \xhh, and
// backslash-newline ignored; MAXWORDLEN (1024) cuts long words. At the end
// of the file an empty word counts as no word. pppd calls isspace() in the
// C locale.

namespace {

class CharStream {
 public:
  explicit CharStream(const std::string& text) : text_(text) {}
  int get() { return pos_ < text_.size() ? static_cast<unsigned char>(text_[pos_++]) : EOF; }
  void unget() { --pos_; }

 private:
  const std::string& text_;
  size_t pos_ = 0;
};

constexpr int kMaxWordLen = 1024;

bool is_octal(int c) { return c >= '0' && c < '8'; }

// getword(): 1 and the word, or 0 at the end of the file.
int pppd_getword(CharStream* f, std::string* word) {
  int c = EOF, len = 0, escape = 0, quoted = 0, comment = 0;
  std::string w;
  auto store = [&](int v) {
    if (len < kMaxWordLen) {
      w += static_cast<char>(v);
      ++len;
    }
  };
  for (;;) {
    c = f->get();
    if (c == EOF) break;
    if (c == '\n') {
      if (!escape) {
        comment = 0;
      } else {
        escape = 0;
      }
      continue;
    }
    if (comment) continue;
    if (escape) break;
    if (c == '\\') {
      escape = 1;
      continue;
    }
    if (c == '#') {
      comment = 1;
      continue;
    }
    if (!isspace(c)) break;
  }
  while (c != EOF) {
    if (escape) {
      escape = 0;
      if (c == '\n') {
        c = f->get();
        continue;
      }
      int got = 0, value = 0;
      switch (c) {
        case 'a': value = '\a'; break;
        case 'b': value = '\b'; break;
        case 'f': value = '\f'; break;
        case 'n': value = '\n'; break;
        case 'r': value = '\r'; break;
        case 's': value = ' '; break;
        case 't': value = '\t'; break;
        default:
          if (is_octal(c)) {
            for (int n = 0; n < 3 && is_octal(c); ++n) {
              value = (value << 3) + (c & 07);
              c = f->get();
            }
            got = 1;
          } else if (c == 'x') {
            c = f->get();
            for (int n = 0; n < 2 && c != EOF && isxdigit(c); ++n) {
              int digit = toupper(c) - '0';
              if (digit > 10) digit += '0' + 10 - 'A';
              value = (value << 4) + digit;
              c = f->get();
            }
            got = 1;
          } else {
            value = c;
          }
      }
      store(value & 0xff);
      if (!got) c = f->get();
      continue;
    }
    if (c == '\\') {
      escape = 1;
      c = f->get();
      continue;
    }
    if (quoted) {
      if (c == quoted) {
        quoted = 0;
        c = f->get();
        continue;
      }
    } else if (c == '"' || c == '\'') {
      quoted = c;
      c = f->get();
      continue;
    } else if (isspace(c) || c == '#') {
      f->unget();
      break;
    }
    store(c);
    c = f->get();
  }
  if (c == EOF && len == 0) return 0;
  if (len >= kMaxWordLen) w.resize(kMaxWordLen - 1);
  // The word is used as a C string from here on.
  *word = w.substr(0, w.find('\0'));
  return 1;
}

}  // namespace

std::vector<std::string> pppd_words(const std::string& file) {
  CharStream f(file);
  std::vector<std::string> words;
  std::string word;
  while (pppd_getword(&f, &word)) words.push_back(word);
  return words;
}

}  // namespace fuzz
