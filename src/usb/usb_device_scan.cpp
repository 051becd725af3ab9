#include "usb/usb_device_scan.h"

#include <string.h>

#include "sys/hex_digits.h"

namespace {

constexpr size_t kIdDigits = 4;
// usbfs names buses and devices with three decimal digits.
constexpr int kMaxNumber = 999;
constexpr int kHubClass = 0x09;

// Index just past key in piece, or 0 when it is not there.
size_t after(const char* piece, size_t len, const char* key) {
  size_t klen = strlen(key);
  for (size_t i = 0; i + klen <= len; ++i) {
    if (memcmp(piece + i, key, klen) == 0) return i + klen;
  }
  return 0;
}

// The decimal number after key (blanks allowed before it, as the kernel
// pads "Dev#=  3"); -1 when there is none or it is out of range.
int number_after(const char* piece, size_t len, const char* key) {
  size_t at = after(piece, len, key);
  if (at == 0) return -1;
  while (at < len && piece[at] == ' ') ++at;
  int value = 0;
  size_t digits = 0;
  for (; at < len && piece[at] >= '0' && piece[at] <= '9'; ++at, ++digits) {
    value = value * 10 + (piece[at] - '0');
    if (value > kMaxNumber) return -1;
  }
  return digits > 0 ? value : -1;
}

// Exactly four hexadecimal digits after key; -1 otherwise.
int hex_after(const char* piece, size_t len, const char* key) {
  size_t at = after(piece, len, key);
  if (at == 0) return -1;
  unsigned value = 0;
  if (parse_hex_digits(piece + at, len - at, kIdDigits, &value) != kIdDigits) return -1;
  return static_cast<int>(value);
}

// A hub is never the stick: its reset would take every device behind it.
bool fits(const UsbDeviceScan& s) {
  if (s.hub) return false;
  if (s.wanted.vendor != 0 || s.wanted.product != 0) {
    return s.block.ids.vendor == s.wanted.vendor && s.block.ids.product == s.wanted.product;
  }
  return true;
}

void end_block(UsbDeviceScan* s) {
  if (s->in_block && fits(*s)) {
    if (s->matches == 0) s->first = s->block;
    ++s->matches;
  }
  s->in_block = false;
}

void take_line(UsbDeviceScan* s, const char* piece, size_t len) {
  if (len < 2 || piece[1] != ':') return;
  switch (piece[0]) {
    case 'T': {
      end_block(s);
      int bus = number_after(piece, len, "Bus=");
      int device = number_after(piece, len, "Dev#=");
      s->in_block = bus > 0 && device > 0;
      s->hub = false;
      s->block = {bus, device, {-1, -1}};
      break;
    }
    case 'D': {
      unsigned cls = 0;
      size_t at = after(piece, len, "Cls=");
      if (at != 0 && parse_hex_digits(piece + at, len - at, 2, &cls) == 2) {
        s->hub = static_cast<int>(cls) == kHubClass;
      }
      break;
    }
    case 'P':
      s->block.ids = {hex_after(piece, len, "Vendor="), hex_after(piece, len, "ProdID=")};
      break;
    default:
      break;
  }
}

}  // namespace

void usb_device_scan_begin(UsbDeviceScan* scan, UsbId wanted) {
  memset(scan, 0, sizeof *scan);
  scan->wanted = wanted;
  scan->line_start = true;
}

void usb_device_scan_piece(UsbDeviceScan* scan, const char* piece, size_t len) {
  if (len == 0) return;
  // Only a piece that starts a line can hold a tag: the rest of a long
  // string line must not be taken for one.
  if (scan->line_start) take_line(scan, piece, len);
  scan->line_start = piece[len - 1] == '\n';
}

int usb_device_scan_end(UsbDeviceScan* scan, UsbDeviceAddress* out) {
  end_block(scan);
  if (scan->matches == 1) *out = scan->first;
  return scan->matches;
}
