#include "readers.h"


namespace fuzz {

namespace {

bool fail(std::string* why, const char* reason) {
  *why = reason;
  return false;
}

}  // namespace

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

}  // namespace fuzz
