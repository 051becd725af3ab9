// Asking the stick's second AT port what its radio and SIM are doing. The
// port pppd dials on is never among those asked.
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include "usb/at_port.h"
#include "usb/usb.h"

namespace {

// Every command waits at most this long for its final result code.
constexpr unsigned kAnswerSeconds = 2;
constexpr size_t kReplySize = 512;
constexpr int kUsbPorts = 8;
constexpr int kAcmPorts = 4;

struct Candidates {
  char paths[kUsbPorts + kAcmPorts][kTtyBufferSize];
  int count;
};

// The serial nodes there now, the dial tty left out.
void list_candidates(const char* dial_tty, Candidates* c) {
  c->count = 0;
  struct Family {
    const char* prefix;
    int ports;
  };
  const Family families[] = {{"/dev/ttyUSB", kUsbPorts}, {"/dev/ttyACM", kAcmPorts}};
  for (const Family& f : families) {
    for (int n = 0; n < f.ports; ++n) {
      char* path = c->paths[c->count];
      snprintf(path, kTtyBufferSize, "%s%d", f.prefix, n);
      struct stat st;
      if (strcmp(path, dial_tty) != 0 && stat(path, &st) == 0 && S_ISCHR(st.st_mode)) ++c->count;
    }
  }
}

AtResult ask(AtSession* s, const char* command, char (&reply)[kReplySize]) {
  return at_command(s, command, reply, sizeof reply, kAnswerSeconds);
}

// Whether tty is an AT port: it answers OK to AT (a Huawei stick is told
// first to keep its unsolicited reports to itself). Its SIM's state too.
bool answers_at(const char* tty, bool huawei, SimState* sim) {
  AtSession s;
  if (at_open(tty, &s) != kAtOpened) return false;
  char reply[kReplySize];
  bool ok = (!huawei || ask(&s, "AT^CURC=0", reply) != kAtNoAnswer) && ask(&s, "AT", reply) == kAtOk;
  if (ok && ask(&s, "AT+CPIN?", reply) != kAtNoAnswer) parse_cpin(reply, strlen(reply), sim);
  at_close(&s);
  return ok;
}

}  // namespace

int find_at_port(const char* dial_tty, bool huawei, char* port, RadioFacts* facts) {
  radio_facts_clear(facts);
  Candidates c;
  list_candidates(dial_tty, &c);
  for (int i = 0; i < c.count; ++i) {
    if (answers_at(c.paths[i], huawei, &facts->sim)) {
      memcpy(port, c.paths[i], kTtyBufferSize);
      return 1;
    }
  }
  port[0] = '\0';
  return 0;
}

int read_radio_facts(const char* port, RadioFacts* facts) {
  radio_facts_clear(facts);
  AtSession s;
  if (at_open(port, &s) != kAtOpened) return 0;
  char reply[kReplySize];
  bool answered = ask(&s, "AT+CSQ", reply) != kAtNoAnswer;
  if (answered) parse_csq(reply, strlen(reply), &facts->signal_dbm);
  // The operator's name in its long alphanumeric form.
  answered = answered && ask(&s, "AT+COPS=3,0", reply) != kAtNoAnswer && ask(&s, "AT+COPS?", reply) != kAtNoAnswer;
  if (answered) parse_cops(reply, strlen(reply), facts->operator_name, &facts->network);
  answered = answered && ask(&s, "AT+CREG?", reply) != kAtNoAnswer;
  if (answered) parse_creg(reply, strlen(reply), &facts->registration);
  answered = answered && ask(&s, "AT+CPIN?", reply) != kAtNoAnswer;
  if (answered) parse_cpin(reply, strlen(reply), &facts->sim);
  at_close(&s);
  if (!answered) radio_facts_clear(facts);
  return answered ? 1 : 0;
}
