// Reference readers: how the three programs that receive our quoted values
// read them back. Each follows the real program's own parsing code for the
// forms our quoting functions write (readers_sh.cpp, readers_pppd.cpp,
// readers_comgt.cpp), so a fuzz target can check that a value comes back
// exactly as it went in. The checks built on them are in
// quoting_properties.cpp.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace fuzz {

// The words POSIX sh makes of line, a simple command built from literal
// characters, single-quoted parts and backslash escapes (the only forms
// shell_quote writes). Returns false, with why set, when the line holds
// anything whose reading depends on more than these rules: an unquoted
// operator, expansion, glob character, comment, double quote or newline,
// or a character whose meaning differs between shells or locales.
bool sh_words(const std::string& line, std::vector<std::string>* words, std::string* why);

// The words pppd's getword() reads from an options file with the given text,
// until the end of the file.
std::vector<std::string> pppd_words(const std::string& file);

// What comgt sends for the script line "send <string>": false, with why
// set, when comgt would stop with a script error or when the line holds a
// form comgt would expand ($ variables and functions), or when anything but
// blanks follows the string on the line.
bool comgt_send_string(const std::string& line, std::string* sent, std::string* why);

// Checks every quoting function on value (no NUL, at most 63 bytes): buffer
// use, the refusal of values that cannot go into a file line, and the read
// back by sh, pppd and comgt. size_seed picks one further output size to
// try. Aborts with a message when a property fails.
void check_value_quoting(const std::string& value, unsigned size_seed);

}  // namespace fuzz
