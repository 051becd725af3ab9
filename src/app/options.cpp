#include <stdio.h>
#include <string.h>

#include "app/app.h"

// The leading ':' keeps the parser quiet and makes it report a missing
// value as such. The digit 1 is not an option letter.
static const char kShortOptions[] = ":0:l:2:3:4:5:6:7:8:";

// The options that fill the buffers, each with its short letter as value.
#define LINK3G_VALUE_OPTIONS                  \
  {"cmd", required_argument, nullptr, '0'},    \
  {"3gCard", required_argument, nullptr, 'l'}, \
  {"3gApn", required_argument, nullptr, '2'},  \
  {"3gDial", required_argument, nullptr, '3'}, \
  {"3gUser", required_argument, nullptr, '4'}, \
  {"3gPass", required_argument, nullptr, '5'}, \
  {"3gPin", required_argument, nullptr, '6'},  \
  {"qos", required_argument, nullptr, '7'},    \
  {"LanH", required_argument, nullptr, '8'}

const struct option longopts[] = {
    LINK3G_VALUE_OPTIONS,
    {nullptr, 0, nullptr, 0},
};

char cmd[kOptionWidth];
char n3g_CardName[kOptionWidth];
char n3g_Apn[kOptionWidth];
char n3g_Dial[kOptionWidth];
char n3g_User[kOptionWidth];
char n3g_Pass[kOptionWidth];
char n3g_Pin[kOptionWidth];
char qosBuf[kQosBufWidth];
char LanH[kLanHWidth];

namespace {

// --help and --version have no short form; their values lie outside the
// letters. As for every long option, getopt_long also takes an unambiguous
// beginning: --h is --help, --v and --ver are --version.
constexpr int kHelpOption = 0x100;
constexpr int kVersionOption = 0x101;

const struct option kParsedOptions[] = {
    LINK3G_VALUE_OPTIONS,
    {"help", no_argument, nullptr, kHelpOption},
    {"version", no_argument, nullptr, kVersionOption},
    {nullptr, 0, nullptr, 0},
};

struct OptionTarget {
  int letter;
  char* buffer;
  size_t width;
};

const OptionTarget kTargets[] = {
    {'0', cmd, sizeof cmd},
    {'l', n3g_CardName, sizeof n3g_CardName},
    {'2', n3g_Apn, sizeof n3g_Apn},
    {'3', n3g_Dial, sizeof n3g_Dial},
    {'4', n3g_User, sizeof n3g_User},
    {'5', n3g_Pass, sizeof n3g_Pass},
    {'6', n3g_Pin, sizeof n3g_Pin},
    {'7', qosBuf, sizeof qosBuf},
    {'8', LanH, sizeof LanH},
};

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

ParsedAction parse_options(int argc, char** argv) {
  clear_option_buffers();
  opterr = 0;
  bool help = false, version = false;
  int letter;
  while ((letter = getopt_long(argc, argv, kShortOptions, kParsedOptions, nullptr)) != -1) {
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
