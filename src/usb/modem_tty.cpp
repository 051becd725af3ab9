#include "usb/usb.h"

#include <stdio.h>
#include <string.h>

#include "sys/file_exist.h"
#include "sys/shell_run.h"

namespace {

constexpr char kAcmTty[] = "/dev/ttyACM0";
constexpr size_t kCandidateSize = 64;

// Sticks that need "via" run before their port is used.
constexpr UsbId kViaSticks[] = {{0x15eb, 0x7152}, {0x19d2, 0xffdd}};
// Sticks whose modem port is always the ACM one.
constexpr UsbId kAcmSticks[] = {{0x230d, 0x0001}, {0x230d, 0x0007}};

template <size_t N>
bool listed(const UsbId (&table)[N], const UsbId& id) {
  for (const UsbId& t : table) {
    if (t.vendor == id.vendor && t.product == id.product) return true;
  }
  return false;
}

// The chosen path into the caller's 32-byte buffer (paths here have at most
// 13 characters).
void report(char* tty, const char* path) {
  size_t n = strnlen(path, kTtyBufferSize - 1);
  memcpy(tty, path, n);
  tty[n] = '\0';
}

}  // namespace

int select_modem_tty(const UsbId& id, char* tty) {
  if (listed(kViaSticks, id)) doSystemCmd("via");
  char candidate[kCandidateSize] = {};
  if (listed(kAcmSticks, id)) {
    snprintf(candidate, sizeof candidate, "%s", kAcmTty);
  } else {
    snprintf(candidate, sizeof candidate, "/dev/ttyUSB%d", GetDefaultModemID());
  }
  if (CheckFileExist(kAcmTty)) {
    report(tty, kAcmTty);
    printf("auto check usb modem successful. ttyACM0\n");
    return 1;
  }
  if (CheckFileExist(candidate)) {
    report(tty, candidate);
    printf("auto check usb modem successful.\ndevice name: %s\n", candidate);
    return 1;
  }
  printf("auto check usb modem successful,but device name: %s error\n", candidate);
  return 0;
}
