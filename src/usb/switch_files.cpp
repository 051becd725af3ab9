#include "usb/usb.h"

#include <stdio.h>
#include <string.h>

#include "sys/dir_reader.h"
#include "sys/file_exist.h"
#include "sys/pause.h"
#include "sys/shell_quote.h"
#include "sys/shell_run.h"

char ext_usbModemID[kSwitchFileSlots][kSwitchFileNameSize];

namespace {

constexpr size_t kPrefixSize = 16;
constexpr size_t kPrefixLength = 9;  // "%04x_%04x"
constexpr unsigned kSwitchSettleSeconds = 5;
// DT_DIR's bit: also set for block devices, sockets and whiteouts.
constexpr unsigned kDirectoryTypeBit = 4;

bool belongs(const DirEntry& entry, const char* prefix, size_t dir_len) {
  if ((entry.type & kDirectoryTypeBit) != 0) return false;
  if (strncmp(entry.name, prefix, kPrefixLength) != 0) return false;
  return dir_len + strlen(entry.name) < kSwitchFileNameSize;
}

// Runs one switch file; returns 1 when the walk must end (file unreadable or
// the modem showing).
int run_switch_file(const char* name) {
  char path[kSwitchFileNameSize] = {};
  int len = snprintf(path, sizeof path, "%s%s", kSwitchFileDir, name);
  if (len < 0 || static_cast<size_t>(len) >= sizeof path) return 0;  // never run a cut name
  if (!CheckFileExist(path)) {
    printf("check file [%s] failed.\n", path);
    printf("may be have enable usbmodem mode,so we will check ..\n");
    return 1;
  }
  printf("switch usbModem with:\n[%s] file\n", path);
  char quoted[kShellQuotedSize];
  if (shell_quote(path, quoted, sizeof quoted)) doSystemCmd("/bin/modemswitch -c %s", quoted);
  wait_seconds(kSwitchSettleSeconds);
  return CheckUsbModemMode();
}

}  // namespace

int collect_switch_files(const char* dir, int vendor, int product,
                         char (*slots)[kSwitchFileNameSize], int max) {
  char prefix[kPrefixSize] = {};
  snprintf(prefix, sizeof prefix, "%04x_%04x", vendor, product);
  DirReader d;
  if (!dir_open(&d, dir)) return 0;
  size_t dir_len = strlen(dir);
  int count = 0;
  DirEntry entry;
  while (count < max && dir_next(&d, &entry)) {
    if (!belongs(entry, prefix, dir_len)) continue;
    memcpy(slots[count], entry.name, strlen(entry.name) + 1);  // fits: see belongs()
    ++count;
  }
  dir_close(&d);
  return count;
}

int init_usbmodemIDList(int vendor, int product) {
  constexpr int kMaxSwitchFiles = 31;
  return collect_switch_files(kSwitchFileDir, vendor, product, ext_usbModemID, kMaxSwitchFiles);
}

void walk_switch_files(int count) {
  for (int i = 0; i < count; ++i) {
    if (run_switch_file(ext_usbModemID[i])) return;
  }
}
