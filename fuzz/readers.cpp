#include "readers.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "fuzz_check.h"
#include "ppp/value_quote.h"
#include "sys/shell_quote.h"

namespace fuzz {

// --- POSIX sh ---------------------------------------------------------------
//
// Follows the token rules of the shell command language (XCU 2.3 "Token
// Recognition", 2.2 "Quoting") for the words of a simple command:
// - <blank> (space, tab) separates words; an unquoted newline ends the
//   command;
// - inside '...' every character stands for itself up to the next ';
// - an unquoted backslash keeps the next character literal, and a backslash
//   before a newline removes both (line continuation);
// - a '#' that begins a word starts a comment.
// Anything that would be expanded or is an operator (| & ; < > ( ) $ `),
// double quotes, globbing (* ? [), tilde expansion (~), and the characters
// that some shells in use give a meaning ({ } brace expansion, ! history, ^
// the Bourne shell's pipe) make the reader give up rather than guess; so do
// control and non-ASCII characters outside quotes, whose reading depends on
// the locale. scripts/fuzz replays a sample of the quoting corpus through
// the real /bin/sh to confirm that this reader and the shell agree.

namespace {

bool fail(std::string* why, const char* reason) {
  *why = reason;
  return false;
}

}  // namespace

bool sh_words(const std::string& line, std::vector<std::string>* words, std::string* why) {
  static const char kNotLiteral[] = "|&;<>()$`\"*?[~{}!^";
  words->clear();
  std::string word;
  bool in_word = false;
  size_t i = 0;
  while (i < line.size()) {
    char c = line[i];
    unsigned char u = static_cast<unsigned char>(c);
    if (c == ' ' || c == '\t') {
      if (in_word) words->push_back(word);
      word.clear();
      in_word = false;
      ++i;
    } else if (c == '\n') {
      return fail(why, "an unquoted newline ends the command");
    } else if (c == '\'') {
      size_t close = line.find('\'', i + 1);
      if (close == std::string::npos) return fail(why, "unterminated single quote");
      word.append(line, i + 1, close - i - 1);
      in_word = true;
      i = close + 1;
    } else if (c == '\\') {
      if (i + 1 >= line.size()) return fail(why, "backslash at the end of the line");
      if (line[i + 1] != '\n') {
        word += line[i + 1];
        in_word = true;
      }
      i += 2;
    } else if (c == '#' && !in_word) {
      return fail(why, "'#' begins a comment");
    } else if (u < 0x20 || u >= 0x7f) {
      return fail(why, "unquoted control or non-ASCII character");
    } else if (strchr(kNotLiteral, c) != nullptr) {
      return fail(why, "unquoted operator, expansion or glob character");
    } else {
      word += c;
      in_word = true;
      ++i;
    }
  }
  if (in_word) words->push_back(word);
  return true;
}

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

// --- comgt ------------------------------------------------------------------
//
// A transcription of getstring() in comgt.c (comgt 0.3x) for quoted
// strings: a string is a run of parts up to a blank, tab, newline, ',', ')',
// '=', '<', '>' or '!'; a part in "..." or '...' holds every character up to
// the same quote; in it a backslash escapes the next character (\t \r \n \b
// \f in either case, \" \^ \' \\ as themselves, two or more octal digits as
// a character code, anything else a script error), and ^X is the control
// character X & 31 except for ^^ ^" ^' ^\ which stand for the second
// character. comgt appends each character with strlen(), so a NUL is lost.

namespace {

char at(const std::string& s, size_t i) { return i < s.size() ? s[i] : '\0'; }

void skip_spaces(const std::string& s, size_t* pc) {
  while (at(s, *pc) == ' ' || at(s, *pc) == '\t') ++*pc;
}

bool is_octal_char(char c) { return c >= '0' && c <= '7'; }

void append(std::string* out, unsigned char ch) {
  if (ch != 0) out->push_back(static_cast<char>(ch));
}

}  // namespace

bool comgt_send_string(const std::string& line, std::string* sent, std::string* why) {
  sent->clear();
  size_t pc = 0;
  skip_spaces(line, &pc);
  if (line.compare(pc, 5, "send ") != 0) return fail(why, "not a send line");
  pc += 4;
  skip_spaces(line, &pc);
  char first = at(line, pc);
  if (first != '"' && first != '\'' && first != '$') return fail(why, "Expected a string");
  for (;;) {
    char c = at(line, pc);
    if (c == ' ' || c == '\t' || c == '\n' || c == ',' || c == ')' || c == '=' || c == '<' ||
        c == '>' || c == '!') {
      break;
    }
    if (c == '\0') return fail(why, "string runs past the end of the script");
    if (c == '+') ++pc;
    skip_spaces(line, &pc);
    c = at(line, pc);
    if (c == '$') return fail(why, "string variable or function");
    if (c == '"' || c == '\'') {
      char match = c;
      ++pc;
      while (at(line, pc) != match) {
        unsigned char ch = static_cast<unsigned char>(at(line, pc++));
        if (ch == 0) return fail(why, "Unmatched quote");
        if (ch == '\\') {
          if (is_octal_char(at(line, pc)) && is_octal_char(at(line, pc + 1))) {
            ch = 0;
            while (is_octal_char(at(line, pc))) {
              ch = static_cast<unsigned char>(8 * ch + (at(line, pc++) - '0'));
            }
          } else {
            switch (at(line, pc)) {
              case 'T': case 't': ch = 9; break;
              case 'R': case 'r': ch = 13; break;
              case 'N': case 'n': ch = 10; break;
              case 'B': case 'b': ch = 8; break;
              case 'F': case 'f': ch = 12; break;
              case '"': case '^': case '\'': case '\\':
                ch = static_cast<unsigned char>(at(line, pc));
                break;
              default:
                return fail(why, "Malformed escaped character");
            }
            ++pc;
          }
        } else if (ch == '^') {
          ch = static_cast<unsigned char>(at(line, pc));
          if (ch != '^' && ch != '"' && ch != '\'' && ch != '\\') ch &= 31;
          ++pc;
        }
        append(sent, ch);
      }
      ++pc;  // the closing quote
    } else {
      append(sent, static_cast<unsigned char>(at(line, pc++)));
    }
  }
  skip_spaces(line, &pc);
  if (at(line, pc) != '\n' && at(line, pc) != '\0') return fail(why, "more after the string");
  return true;
}

// --- The quoting properties ---------------------------------------------------

namespace {

using QuoteFn = int (*)(const char*, char*, size_t);

// Runs quote on value with output blocks of several sizes and returns what it
// writes with room enough. A result either fits whole (1) or is refused with
// an empty output (0); nothing is written outside the size given.
std::string quoted_checked(QuoteFn quote, const char* name, const std::string& value,
                           size_t room, unsigned size_seed) {
  const char* v = value.c_str();
  Block full(room);
  memset(full.get(), 0x5a, room);
  int ok = quote(v, full.get(), room);
  FUZZ_CHECK(ok == 1, "%s refused a %zu-byte value with its documented room of %zu: [%s]", name,
             value.size(), room, shown(value).c_str());
  const char* end = static_cast<const char*>(memchr(full.get(), 0, room));
  FUZZ_CHECK(end != nullptr, "%s left its output without a NUL", name);
  std::string out(full.get(), static_cast<size_t>(end - full.get()));

  {
    Block exact(out.size() + 1);
    FUZZ_CHECK(quote(v, exact.get(), exact.size()) == 1 && out == exact.get(),
               "%s fails or differs with exactly %zu bytes of room", name, exact.size());
  }
  if (!out.empty()) {
    Block tight(out.size());
    memset(tight.get(), 0x5a, tight.size());
    FUZZ_CHECK(quote(v, tight.get(), tight.size()) == 0 && tight.get()[0] == '\0',
               "%s with one byte too few must refuse and leave the output empty", name);
  }
  {
    Block none(1);
    none.get()[0] = 0x5a;
    FUZZ_CHECK(quote(v, none.get(), 0) == 0 && none.get()[0] == 0x5a,
               "%s with size 0 must refuse and write nothing", name);
  }
  {
    size_t size = size_seed % (out.size() + 2);
    Block some(size);
    memset(some.get(), 0x5a, size == 0 ? 1 : size);  // a block of 0 bytes has 1
    int r = quote(v, some.get(), size);
    if (size >= out.size() + 1) {
      FUZZ_CHECK(r == 1 && out == some.get(), "%s fails with %zu bytes of room", name, size);
    } else {
      FUZZ_CHECK(r == 0, "%s accepted %zu bytes of room for %zu characters", name, size,
                 out.size());
      FUZZ_CHECK(some.get()[0] == (size > 0 ? '\0' : 0x5a),
                 "%s refused %zu bytes of room but left its first byte 0x%02x", name, size,
                 static_cast<unsigned char>(some.get()[0]));
    }
  }
  return out;
}

std::string words_shown(const std::vector<std::string>& words) {
  std::string s;
  for (const std::string& w : words) s += "[" + shown(w) + "]";
  return s;
}

void check_sh(const std::string& value, const std::string& q) {
  // As an argument of its own and glued to the text after it, the way the
  // QoS rules put a host number right after the quoted LAN prefix.
  std::string line = "cmd " + q + " " + q + "7 next";
  std::vector<std::string> words;
  std::string why;
  FUZZ_CHECK(sh_words(line, &words, &why), "sh cannot take the quoted value literally (%s): %s",
             why.c_str(), shown(line).c_str());
  std::vector<std::string> expected = {"cmd"};
  if (!value.empty()) expected.push_back(value);
  expected.push_back(value + "7");
  expected.push_back("next");
  FUZZ_CHECK(words == expected, "sh reads %s as %s, not %s", shown(line).c_str(),
             words_shown(words).c_str(), words_shown(expected).c_str());
}

void check_pppd(const std::string& value, const std::string& q) {
  std::string file = "user " + q + "\nmodem\n";
  std::vector<std::string> words = pppd_words(file);
  std::vector<std::string> expected = {"user", value, "modem"};
  FUZZ_CHECK(words == expected, "pppd reads %s as %s, not %s", shown(file).c_str(),
             words_shown(words).c_str(), words_shown(expected).c_str());
}

void check_comgt(const std::string& value, const std::string& q) {
  struct Line {
    const char* before;
    const char* after;
    const char* sent_before;
    const char* sent_after;
  };
  // The two chat-script lines that carry a value: the APN and the number.
  const Line lines[] = {
      {"AT+CGDCONT=1,\\\"IP\\\",\\\"", "\\\",,0,0", "AT+CGDCONT=1,\"IP\",\"", "\",,0,0"},
      {"ATDT", "", "ATDT", ""},
  };
  for (const Line& l : lines) {
    std::string line = std::string("send \"") + l.before + q + l.after + "^m\"\n";
    std::string sent, why;
    FUZZ_CHECK(comgt_send_string(line, &sent, &why), "comgt stops at %s (%s)", shown(line).c_str(),
               why.c_str());
    std::string expected = std::string(l.sent_before) + value + l.sent_after + "\r";
    FUZZ_CHECK(sent == expected, "comgt sends [%s] for %s, not [%s]", shown(sent).c_str(),
               shown(line).c_str(), shown(expected).c_str());
  }
}

}  // namespace

void check_value_quoting(const std::string& value, unsigned size_seed) {
  FUZZ_CHECK(value.size() <= 63 && value.find('\0') == std::string::npos, "harness: bad value");
  const char* v = value.c_str();

  bool control = false;
  for (char c : value) {
    unsigned char u = static_cast<unsigned char>(c);
    control = control || u < 0x20 || u == 0x7f;
  }
  FUZZ_CHECK(has_control_char(v) == (control ? 1 : 0), "has_control_char gives %d for [%s]",
             has_control_char(v), shown(value).c_str());

  // The shell quoting refuses nothing: command lines may carry any value.
  std::string sh = quoted_checked(shell_quote, "shell_quote", value, kShellQuotedSize, size_seed);
  check_sh(value, sh);

  std::string word = quoted_checked(ppp_option_word, "ppp_option_word", value, kQuotedValueSize,
                                    size_seed * 3 + 1);
  std::string esc = quoted_checked(comgt_escape, "comgt_escape", value, kQuotedValueSize,
                                   size_seed * 5 + 2);
  // A value with a control character never reaches the files (the script
  // writer refuses it); every other value must come back unchanged.
  if (control) return;
  check_pppd(value, word);
  check_comgt(value, esc);
}

}  // namespace fuzz
