// Which network interface a network stick became: the kernel names it
// (eth1, usb0...), so it is found by its device, as sysfs links each
// interface to the USB interface under it, whose parent is the stick.
#include <fcntl.h>
#include <stdio.h>
#include <string.h>

#include "sys/dir_reader.h"
#include "sys/hex_digits.h"
#include "sys/if_addr.h"
#include "sys/small_file.h"
#include "usb/usb.h"

namespace {

constexpr char kNetClassDir[] = "/sys/class/net/";
constexpr size_t kSysfsPathSize = 96;
constexpr size_t kIdFileSize = 16;
constexpr size_t kIdDigits = 4;

// Whether the id file of ifname's USB device (idVendor, idProduct) holds want.
bool device_id_is(const char* ifname, const char* file, int want) {
  char path[kSysfsPathSize], text[kIdFileSize];
  snprintf(path, sizeof path, "%s%s/device/../%s", kNetClassDir, ifname, file);
  ssize_t len = read_file_once(path, O_RDONLY, text, sizeof text);
  return len > 0 && usb_id_file_is(text, static_cast<size_t>(len), want);
}

}  // namespace

int usb_id_file_is(const char* text, size_t len, int want) {
  unsigned value;
  if (parse_hex_digits(text, len, kIdDigits, &value) != kIdDigits) return 0;
  bool ends = len == kIdDigits || text[kIdDigits] == '\n';
  return ends && static_cast<int>(value) == want ? 1 : 0;
}

int find_stick_interface(const UsbId& id, char* ifname) {
  DirReader dir = {};
  if (!dir_open(&dir, kNetClassDir)) return 0;
  DirEntry entry;
  int found = 0;
  while (!found && dir_next(&dir, &entry)) {
    if (!ifname_plain(entry.name) || entry.name[0] == '.') continue;
    found = device_id_is(entry.name, "idVendor", id.vendor) &&
            device_id_is(entry.name, "idProduct", id.product);
    if (found) memcpy(ifname, entry.name, strlen(entry.name) + 1);
  }
  dir_close(&dir);
  return found;
}
