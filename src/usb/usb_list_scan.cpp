#include "usb/usb_list_scan.h"

#include <string.h>

#include "sys/hex_digits.h"

namespace {

constexpr size_t kNoMatch = static_cast<size_t>(-1);
// Searches resume this far after the start of the previous match: past the
// key just found, within the same line.
constexpr size_t kResumeOffset = 12;
// Where an id's digits start after "Vendor" or "ProdID": past "Vendor=".
constexpr size_t kIdDigitsOffset = 7;
constexpr size_t kIdDigits = 4;
constexpr size_t kIdFieldSize = 8;
constexpr size_t kHexPrefix = 2;  // "0x"
constexpr int kRootHubVendor = 0x1d6b;
constexpr int kUsb2RootHubProduct = 0x0002;
constexpr int kModemDriverEntries = 5;

// Index of needle in text at or after from; kNoMatch when from is past the
// end or there is none.
size_t find_from(const char* text, size_t len, size_t from, const char* needle) {
  if (from > len) return kNoMatch;
  const char* hit = strstr(text + from, needle);
  return hit == nullptr ? kNoMatch : static_cast<size_t>(hit - text);
}

// Up to four id characters at pos, parsed as hexadecimal into *out; a
// field without a number leaves *out as it was. The field must start with a
// hex digit: no blank, no sign (a sign would make an id outside 0..0xffff).
// As "%4x" read it before, a "0x" followed by a digit counts among the four
// characters, and a "0x" without one reads as 0.
void parse_id_at(const char* text, size_t len, size_t pos, int* out) {
  char field[kIdFieldSize] = {};
  if (pos < len) strncpy(field, text + pos, kIdDigits);
  const char* digits = field;
  size_t most = kIdDigits;
  if (field[0] == '0' && (field[1] == 'x' || field[1] == 'X')) {
    unsigned probe;
    if (parse_hex_digits(field + kHexPrefix, 1, 1, &probe) == 1) {
      digits += kHexPrefix;
      most -= kHexPrefix;
    }
  }
  unsigned value;
  if (parse_hex_digits(digits, most, most, &value) > 0) *out = static_cast<int>(value);
}

// One device's ids from the first "Vendor" at or after from. Returns the
// position of its "ProdID", or kNoMatch (outputs untouched) when either key
// is missing.
size_t id_pass(const char* text, size_t len, size_t from, int* vendor, int* product) {
  size_t v = find_from(text, len, from, "Vendor");
  if (v == kNoMatch) return kNoMatch;
  size_t p = find_from(text, len, v, "ProdID");
  if (p == kNoMatch) return kNoMatch;
  parse_id_at(text, len, v + kIdDigitsOffset, vendor);
  parse_id_at(text, len, p + kIdDigitsOffset, product);
  return p;
}

}  // namespace

int scan_usb_id(const char* text, size_t len, int* vendor, int* product, UsbIdTrace* trace) {
  trace->reached = false;
  size_t hub = find_from(text, len, 0, " Manufacturer=Linux");
  if (hub == kNoMatch) return 0;
  size_t prod = id_pass(text, len, hub + kResumeOffset, vendor, product);
  if (prod == kNoMatch) return 0;
  *trace = {true, *vendor, *product};
  // A USB 2.0 root hub here means a second bus: its first device follows.
  if (*vendor == kRootHubVendor && *product == kUsb2RootHubProduct) {
    if (id_pass(text, len, prod + kResumeOffset, vendor, product) == kNoMatch) return 0;
  }
  return 1;
}

int scan_modem_mode(const char* text, size_t len) {
  if (find_from(text, len, 0, "Manufacturer=") == kNoMatch) return 0;
  size_t at = find_from(text, len, 0, "Driver=");
  for (int found = 1; found < kModemDriverEntries; ++found) {
    if (at == kNoMatch) return 0;
    at = find_from(text, len, at + kResumeOffset, "Driver=");
  }
  return at == kNoMatch ? 0 : 1;
}

int scan_modem_port_line(ModemPortScan* scan, const char* line) {
  constexpr int kModemEndpoints = 3;
  bool serial = strstr(line, "usbserial_generic") != nullptr;
  if (!scan->inside) {
    if (!serial) return -1;
    *scan = {true, scan->interfaces + 1, 0};
    return -1;
  }
  if (strstr(line, "Ad=") != nullptr) {
    if (++scan->endpoints < kModemEndpoints) return -1;
    int index = scan->interfaces - 1;
    return index > kModemPortMax ? kModemPortMax : index;
  }
  if (serial) {
    ++scan->interfaces;
    scan->endpoints = 0;
  } else {
    scan->inside = false;
  }
  return -1;
}

namespace {

// The two-digit hexadecimal value after key in line; -1 when missing.
int hex_field(const char* line, const char* key) {
  const char* at = strstr(line, key);
  unsigned value;
  if (at == nullptr) return -1;
  at += strlen(key);
  return parse_hex_digits(at, strlen(at), 2, &value) == 2 ? static_cast<int>(value) : -1;
}

constexpr int kClassComm = 0x02, kClassWireless = 0xe0, kClassVendor = 0xff;
constexpr int kSubAcm = 0x02, kSubEthernet = 0x06, kSubRf = 0x01;
constexpr int kProtRndis = 0x03, kProtVendor = 0xff;
const char* const kSerialDrivers[] = {"Driver=usbserial_generic", "Driver=option", "Driver=cdc_acm"};

void scan_interface(NetStickScan* scan, const char* line) {
  int cls = hex_field(line, "Cls="), sub = hex_field(line, "Sub="), prot = hex_field(line, "Prot=");
  bool rndis = (cls == kClassWireless && sub == kSubRf && prot == kProtRndis) ||
               (cls == kClassComm && sub == kSubAcm && prot == kProtVendor);
  if (rndis) {
    scan->net = kNetRndis;
  } else if (cls == kClassComm && sub == kSubEthernet) {
    if (scan->net == kNetNone) scan->net = kNetCdcEther;
  } else if (cls == kClassVendor || (cls == kClassComm && sub == kSubAcm)) {
    scan->serial = true;
  }
  // A port a serial driver has taken (the generic one takes any class).
  for (const char* driver : kSerialDrivers) {
    if (strstr(line, driver) != nullptr) scan->serial = true;
  }
}

}  // namespace

void net_stick_scan_begin(NetStickScan* scan, int vendor, int product) {
  *scan = {vendor, product, false, false, false, kNetNone};
}

void scan_net_stick_line(NetStickScan* scan, const char* line) {
  switch (line[0] == '\0' || line[1] != ':' ? '\0' : line[0]) {
    case 'T': scan->device = scan->active = false; break;
    case 'P': {
      unsigned vendor = 0, product = 0;
      const char* v = strstr(line, "Vendor=");
      const char* p = strstr(line, "ProdID=");
      scan->device = v != nullptr && p != nullptr && parse_hex_digits(v + kIdDigitsOffset, kIdDigits, kIdDigits, &vendor) == kIdDigits &&
                     parse_hex_digits(p + kIdDigitsOffset, kIdDigits, kIdDigits, &product) == kIdDigits &&
                     static_cast<int>(vendor) == scan->vendor && static_cast<int>(product) == scan->product;
      break;
    }
    case 'C': scan->active = scan->device && line[2] == '*'; break;
    case 'I': if (scan->active) scan_interface(scan, line); break;
    default: break;
  }
}

NetDriver net_stick_driver(const NetStickScan& scan) { return scan.serial ? kNetNone : scan.net; }
