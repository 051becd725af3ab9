#include <stdio.h>
#include <string.h>

#include "ppp/ppp.h"
#include "ppp/value_quote.h"

namespace {

// Options both families write after the tty, speed, user and password.
const char* const kCommonOptions[] = {
    "modem",     "crtscts",           "debug",              "noauth",
    "nodetach",  "nopcomp",           "noaccomp",           "novj",
    "persist",   "mtu 1454",          "nobsdcomp",          "ipcp-accept-local",
    "ipcp-accept-remote", "usepeerdns", "defaultroute",     "nodeflate",
};

// Further options of the default family.
const char* const kDefaultOnlyOptions[] = {
    "noipdefault", "lcp-echo-interval 6", "lcp-echo-failure 12", "nodeflate",
};

const char* const kChatHeader[] = {
    "opengt", "set com 460800n81", "set senddelay 0.05", "waitquiet 1 0.2",
};

const char* const kChatTail[] = {
    "print \"CONNECTED\\n\"", "exit 0",
    ":error",     "print \"CONNECT ERROR\\n\"",   "exit 1",
    ":timeerror", "print \"CONNECT TIMEOUT\\n\"", "exit 1",
};

enum class Inserted { kNone, kApn, kDial };

// One AT command of a chat script: what it sends, which reply means
// success, and the label execution goes on at.
struct ChatStep {
  const char* before;  // command text before the inserted value
  Inserted value;
  const char* after;   // command text after it
  const char* success;
  const char* label;
};

const ChatStep kDefaultSteps[] = {
    {"AT", Inserted::kNone, "", "OK", "next1"},
    {"AT+CFUN=1", Inserted::kNone, "", "OK", "next2"},
    {"AT+CGDCONT=1,\\\"IP\\\",\\\"", Inserted::kApn, "\\\",,0,0", "OK", "next3"},
    {"ATDT", Inserted::kDial, "", "CONNECT", "next4"},
};

const ChatStep kEvdoSteps[] = {
    {"AT", Inserted::kNone, "", "OK", "next3"},
    {"ATDT", Inserted::kDial, "", "CONNECT", "next4"},
};

struct DialValues {
  char apn[kQuotedValueSize];   // escaped for a comgt string
  char dial[kQuotedValueSize];  // escaped for a comgt string
  char user[kQuotedValueSize];  // one pppd word
  char pass[kQuotedValueSize];  // one pppd word
};

void prepare(DialValues* v, const char* apn, const char* dial, const char* user,
             const char* pass) {
  comgt_escape(apn, v->apn, sizeof v->apn);
  comgt_escape(dial, v->dial, sizeof v->dial);
  ppp_option_word(user, v->user, sizeof v->user);
  ppp_option_word(pass, v->pass, sizeof v->pass);
}

template <size_t N>
void write_options(const char* const (&lines)[N]) {
  for (const char* line : lines) do_ppp_opfile(1, 0, "%s", line);
}

void write_options_head(const char* tty, const DialValues& v) {
  do_ppp_opfile(1, 1, "%s", tty);
  do_ppp_opfile(1, 0, "%s", "460800");
  do_ppp_opfile(1, 0, "user %s", v.user);
  do_ppp_opfile(1, 0, "password %s", v.pass);
  write_options(kCommonOptions);
}

// Only options.ppp3g gets these: pppd started with options.ppp3g.ex runs no
// chat script.
void write_connect_lines(const char* tty) {
  do_ppp_opfile(0, 0, "connect \"/bin/comgt -d %s -s /etc/ppp/chat.ppp3g\"", tty);
  do_ppp_opfile(0, 0, "disconnect \"/bin/comgt -d %s -s /etc/disconn.scr\"", tty);
}

void write_chat_step(const ChatStep& s, const DialValues& v) {
  const char* value = s.value == Inserted::kApn ? v.apn : s.value == Inserted::kDial ? v.dial : "";
  do_ppp_chatfile(0, "send \"%s%s%s^m\"", s.before, value, s.after);
  do_ppp_chatfile(0, "waitfor 10 \"%s\",\"ERR\",\"ERROR\"", s.success);
  do_ppp_chatfile(0, "%s", "if % = -1 goto timeerror");
  do_ppp_chatfile(0, "if %% = 0 goto %s", s.label);
  do_ppp_chatfile(0, "%s", "if % = 1 goto error");
  do_ppp_chatfile(0, "%s", "if % = 2 goto error");
  do_ppp_chatfile(0, ":%s", s.label);
}

template <size_t N>
void write_chat(const ChatStep (&steps)[N], const DialValues& v) {
  bool first = true;
  for (const char* line : kChatHeader) {
    do_ppp_chatfile(first ? 1 : 0, "%s", line);
    first = false;
  }
  for (const ChatStep& s : steps) write_chat_step(s, v);
  for (const char* line : kChatTail) do_ppp_chatfile(0, "%s", line);
}

struct CheckedValue {
  const char* name;
  const char* value;
};

// Every value a family writes must fit one line of its file.
bool values_usable(const CheckedValue* values, size_t count) {
  constexpr size_t kValueMax = 63;
  for (size_t i = 0; i < count; ++i) {
    if (has_control_char(values[i].value)) {
      printf("gen at script: %s holds a control character.\n", values[i].name);
      return false;
    }
    if (strlen(values[i].value) > kValueMax) {
      printf("gen at script: %s is too long.\n", values[i].name);
      return false;
    }
  }
  return true;
}

}  // namespace

void gen_at_script_default(const char* tty, const char* apn, const char* dial,
                           const char* user, const char* pass) {
  DialValues v;
  prepare(&v, apn, dial, user, pass);
  write_options_head(tty, v);
  write_options(kDefaultOnlyOptions);
  write_connect_lines(tty);
  write_chat(kDefaultSteps, v);
}

void gen_at_script_default_Edvo(const char* tty, const char* apn, const char* dial,
                                const char* user, const char* pass) {
  DialValues v;
  prepare(&v, apn, dial, user, pass);
  write_options_head(tty, v);
  write_connect_lines(tty);
  write_chat(kEvdoSteps, v);
}

int gen_at_script(int family, const char* tty, const char* apn, const char* dial,
                  const char* user, const char* pass) {
  if (family != kFamilyGsm && family != kFamilyEvdo && family != kFamilyTdScdma) return 0;
  // The EVDO family writes no APN, so its APN is not judged.
  const CheckedValue values[] = {
      {"tty", tty}, {"user name", user}, {"password", pass}, {"dial number", dial}, {"APN", apn}};
  size_t count = sizeof values / sizeof values[0] - (family == kFamilyEvdo ? 1 : 0);
  if (!values_usable(values, count)) return 0;
  begin_dial_files();
  if (family == kFamilyEvdo) {
    gen_at_script_default_Edvo(tty, apn, dial, user, pass);
  } else {
    gen_at_script_default(tty, apn, dial, user, pass);
  }
  return finish_dial_files();
}
