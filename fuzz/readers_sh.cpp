#include "readers.h"

#include <cstring>


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

}  // namespace fuzz
