// Which chat-script family the stick needs: named by the card name, or
// found by serialcom, which leaves the operator's record in /var/imsi.
#include <stdio.h>
#include <string.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sys/led_code.h"
#include "sys/pause.h"
#include "sys/proc_pid.h"
#include "sys/shell_quote.h"
#include "sys/shell_run.h"
#include "sys/small_file.h"
#include "usb/operator_profile.h"
#include "usb/usb.h"

namespace {

constexpr char kRecordPath[] = "/var/imsi";
constexpr size_t kSerialcomLineSize = 64;
constexpr int kRecordAttempts = 16;
constexpr int kFastBlinkFromAttempt = 3;
constexpr unsigned kRecordPollSeconds = 2;
constexpr unsigned kRestartSeconds = 1;
constexpr size_t kMinPinForSerialcom = 4;

struct CardFamily {
  const char* card;
  ModemFamily family;
};

// Card names that name the family outright (matched exactly).
const CardFamily kCardFamilies[] = {
    {"AutoCheck-evdo", kFamilyEvdo},
    {"AutoCheck-hsdpa", kFamilyGsm},
    {"AutoCheck-td", kFamilyTdScdma},
};

// "serialcom TTY PIN" with both values quoted for the shell, into line (64
// bytes). False when it would not fit: a cut PIN is a wrong PIN, and a few
// wrong PINs lock the SIM.
bool format_serialcom(char (&line)[kSerialcomLineSize], const char* tty, const char* pin) {
  char qtty[kShellQuotedSize], qpin[kShellQuotedSize];
  memset(line, 0, sizeof line);
  if (!shell_quote(tty, qtty, sizeof qtty) || !shell_quote(pin, qpin, sizeof qpin)) return false;
  int n = snprintf(line, sizeof line, "serialcom %s %s", qtty, qpin);
  return n > 0 && static_cast<size_t>(n) < sizeof line;
}

// 1 when exactly a full record was read, 0 for anything else. Only a
// regular file is serialcom's: a FIFO or a device planted at the name would
// hold the read for as long as its writer likes.
int read_record(int fd, OperatorProfile* record) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return 0;
  }
  ssize_t n = read_some(fd, record, sizeof *record);
  close(fd);
  return n == static_cast<ssize_t>(sizeof *record) ? 1 : 0;
}

// One wait for the record; returns 1 or 0 when done, -1 to go on.
int record_attempt(int attempt, const char* line, OperatorProfile* record) {
  wait_seconds(kRecordPollSeconds);
  if (attempt >= kFastBlinkFromAttempt) {
    usb_led = kLedFastBlink;
    printf("fast: %d / %s\n", 437, "get_gsm_type");
  }
  if (get_proc_pid("serialcom") > 0) return -1;
  // Non-blocking: opening a FIFO for reading would wait for a writer.
  int fd = open(kRecordPath, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    doSystemCmd("%s", line);  // it ended without a record: start it again
    wait_seconds(kRestartSeconds);
    return -1;
  }
  int full = read_record(fd, record);
  if (full) doSystemCmd("killall -9 serialcom");
  return full;
}

}  // namespace

int get_gsm_type(const char* tty, OperatorProfile* record, const char* pin) {
  unlink(kRecordPath);  // a record of an earlier run never counts
  char line[kSerialcomLineSize];
  if (!format_serialcom(line, tty, pin)) {
    printf("get_gsm_type: PIN too long, serialcom not run.\n");
    return 0;
  }
  doSystemCmd("%s", line);
  for (int attempt = 0; attempt < kRecordAttempts; ++attempt) {
    int done = record_attempt(attempt, line, record);
    if (done >= 0) return done;
  }
  doSystemCmd("killall -9 serialcom");
  return 0;
}

ModemFamily getUsbModemType(const char* card, const char* tty, OperatorProfile* record,
                            const char* pin) {
  printf("%d:%s-%s/%s/pin[%s]\n", 470, "getUsbModemType", card, tty, pin);
  for (const CardFamily& c : kCardFamilies) {
    if (strcmp(card, c.card) != 0) continue;
    char qtty[kShellQuotedSize], qpin[kShellQuotedSize];
    if (strlen(pin) >= kMinPinForSerialcom && shell_quote(tty, qtty, sizeof qtty) &&
        shell_quote(pin, qpin, sizeof qpin)) {
      doSystemCmd("serialcom %s %s", qtty, qpin);
    }
    return c.family;
  }
  if (strcmp(card, "AutoCheck") != 0) return kFamilyNone;
  if (!get_gsm_type(tty, record, pin)) return kFamilyNone;
  resolve_profile_family(record);
  return kFamilyInRecord;
}
