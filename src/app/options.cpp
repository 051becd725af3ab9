#include <stdio.h>
#include <string.h>

#include "app/app.h"

#define LINK3G_DEFINE_BUFFER(name, letter, buffer, width, forms, what) char buffer[width];
LINK3G_OPTIONS(LINK3G_DEFINE_BUFFER)
#undef LINK3G_DEFINE_BUFFER

// The options that fill the buffers, each with its short letter as value.
#define LINK3G_LONG_OPTION(name, letter, buffer, width, forms, what) {name, required_argument, nullptr, letter},
const struct option longopts[] = {
    LINK3G_OPTIONS(LINK3G_LONG_OPTION){nullptr, 0, nullptr, 0},
};

namespace {

// --help and --version have no short form; their values lie outside the
// letters. As for every long option, getopt_long also takes an unambiguous
// beginning: --h is --help, --v and --ver are --version.
constexpr int kHelpOption = 0x100;
constexpr int kVersionOption = 0x101;

const struct option kParsedOptions[] = {
    LINK3G_OPTIONS(LINK3G_LONG_OPTION){"help", no_argument, nullptr, kHelpOption},
    {"version", no_argument, nullptr, kVersionOption},
    {nullptr, 0, nullptr, 0},
};

struct OptionTarget {
  int letter;
  char* buffer;
  size_t width;
};

#define LINK3G_TARGET(name, letter, buffer, width, forms, what) {letter, buffer, sizeof buffer},
const OptionTarget kTargets[] = {LINK3G_OPTIONS(LINK3G_TARGET)};
#undef LINK3G_TARGET

// getopt's short options: every letter takes a value. The leading ':'
// keeps the parser quiet and makes it report a missing value as such.
constexpr size_t kOptionCount = sizeof kTargets / sizeof kTargets[0];
char short_options[1 + 2 * kOptionCount + 1];

const char* make_short_options() {
  size_t n = 0;
  short_options[n++] = ':';
  for (const OptionTarget& t : kTargets) {
    short_options[n++] = static_cast<char>(t.letter);
    short_options[n++] = ':';
  }
  short_options[n] = '\0';
  return short_options;
}

const OptionTarget* target_of(int letter) {
  for (const OptionTarget& t : kTargets) {
    if (t.letter == letter) return &t;
  }
  return nullptr;
}

void clear_option_buffers() {
  for (const OptionTarget& t : kTargets) memset(t.buffer, 0, t.width);
}

// An over-long value is refused rather than cut: a cut password, APN or
// rule string would be another value, used without a word of warning.
bool store_value(const OptionTarget& t, const char* value) {
  size_t len = strlen(value);
  if (len >= t.width) return false;
  memcpy(t.buffer, value, len + 1);
  return true;
}

}  // namespace

#undef LINK3G_LONG_OPTION

ParsedAction parse_options(int argc, char** argv) {
  clear_option_buffers();
  opterr = 0;
  bool help = false, version = false;
  int letter;
  const char* letters = make_short_options();
  while ((letter = getopt_long(argc, argv, letters, kParsedOptions, nullptr)) != -1) {
    if (letter == kHelpOption) {
      help = true;
      continue;
    }
    if (letter == kVersionOption) {
      version = true;
      continue;
    }
    const OptionTarget* t = target_of(letter);
    if (t == nullptr || !store_value(*t, optarg)) printf("msg error.\n");
  }
  if (help) return kShowHelp;
  return version ? kShowVersion : kRunCommand;
}
