// The three probes of the kernel's USB device list, fed the way the I/O code
// feeds them: the id and mode probes get the first (up to) 2048 bytes as one
// NUL-terminated text, the port probe gets the whole list cut by fgets into
// pieces of at most 255 characters. Each result is compared with a reference
// computed here in a different way from the rules of the probes. The port
// probe also runs whole (GetDefaultModemID), on the list that this
// program's fopen serves in place of /proc/bus/usb/devices.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "fake_fopen.h"
#include "fuzz_check.h"
#include "usb/usb.h"
#include "usb/usb_device_scan.h"
#include "usb/usb_list_scan.h"

namespace {

constexpr size_t kWindow = 2048;
constexpr size_t kLineBuffer = 256;
constexpr size_t kNone = static_cast<size_t>(-1);
constexpr int kUntouched = -0x5a5a;

// strstr(text + from, needle) on a text that may hold NUL bytes: the search
// covers text[from] up to the first NUL at or after it.
size_t ref_find(const std::string& text, size_t from, const char* needle) {
  if (from > text.size()) return kNone;
  size_t stop = text.find('\0', from);
  if (stop == std::string::npos) stop = text.size();
  size_t hit = text.find(needle, from);
  return hit != std::string::npos && hit + strlen(needle) <= stop ? hit : kNone;
}

// "%4x" of the (up to) 4 characters at pos, taken as strncpy takes them.
void ref_id(const std::string& text, size_t pos, int* out) {
  char field[8] = {};
  for (size_t i = 0; i < 4 && pos + i < text.size() && text[pos + i] != '\0'; ++i) {
    field[i] = text[pos + i];
  }
  // Only a field that starts with a hex digit holds an id.
  if (!isxdigit(static_cast<unsigned char>(field[0]))) return;
  unsigned value;
  if (sscanf(field, "%4x", &value) == 1) *out = static_cast<int>(value);
}

struct IdResult {
  int found;
  int vendor, product;
  bool reached;
  int trace_vendor, trace_product;
};

IdResult ref_usb_id(const std::string& text) {
  IdResult r = {0, kUntouched, kUntouched, false, 0, 0};
  size_t hub = ref_find(text, 0, " Manufacturer=Linux");
  if (hub == kNone) return r;
  size_t from = hub + 12;
  for (int pass = 0; pass < 2; ++pass) {
    size_t v = ref_find(text, from, "Vendor");
    if (v == kNone) return r;
    size_t p = ref_find(text, v, "ProdID");
    if (p == kNone) return r;
    ref_id(text, v + 7, &r.vendor);
    ref_id(text, p + 7, &r.product);
    if (pass == 0) {
      r.reached = true;
      r.trace_vendor = r.vendor;
      r.trace_product = r.product;
      if (r.vendor != 0x1d6b || r.product != 0x0002) break;
    }
    from = p + 12;
  }
  r.found = 1;
  return r;
}

// All "Driver=" entries, then the chain of five the probe follows: each one
// found from 12 characters after the start of the one before.
int ref_modem_mode(const std::string& text) {
  if (ref_find(text, 0, "Manufacturer=") == kNone) return 0;
  size_t from = 0;
  for (int n = 0; n < 5; ++n) {
    size_t at = ref_find(text, from, "Driver=");
    if (at == kNone) return 0;
    from = at + 12;
  }
  return 1;
}

// The port from the sequence of pieces, read as runs: a generic serial
// interface piece followed directly by three endpoint pieces is the port;
// a run broken by another serial interface piece restarts there, broken by
// anything else it waits for the next serial piece.
int ref_modem_port(const std::vector<std::string>& pieces) {
  auto has = [](const std::string& piece, const char* what) {
    return strstr(piece.c_str(), what) != nullptr;  // the piece as a C string
  };
  int interfaces = 0;
  size_t i = 0;
  while (i < pieces.size()) {
    if (!has(pieces[i], "usbserial_generic")) {
      ++i;
      continue;
    }
    // pieces[i] opens an interface.
    for (;;) {
      ++interfaces;
      size_t k = i + 1;
      int endpoints = 0;
      while (k < pieces.size() && endpoints < 3 && has(pieces[k], "Ad=")) {
        ++endpoints;
        ++k;
      }
      if (endpoints == 3) return interfaces - 1 > 12 ? 12 : interfaces - 1;
      if (k < pieces.size() && has(pieces[k], "usbserial_generic")) {
        i = k;
        continue;
      }
      i = k + 1;
      break;
    }
  }
  return 0;
}

void check_window(const std::string& window) {
  fuzz::Block text(window.size() + 1);
  fuzz::fill_terminated(&text, window);

  int vendor = kUntouched, product = kUntouched;
  UsbIdTrace trace;
  memset(&trace, 0x5a, sizeof trace);
  int found = scan_usb_id(text.get(), window.size(), &vendor, &product, &trace);
  IdResult ref = ref_usb_id(window);
  FUZZ_CHECK(found == ref.found && vendor == ref.vendor && product == ref.product,
             "scan_usb_id gives %d %d:%d, expected %d %d:%d", found, vendor, product, ref.found,
             ref.vendor, ref.product);
  FUZZ_CHECK(trace.reached == ref.reached, "trace reached %d, expected %d", trace.reached,
             ref.reached);
  if (ref.reached) {
    FUZZ_CHECK(trace.vendor == ref.trace_vendor && trace.product == ref.trace_product,
               "trace %d:%d, expected %d:%d", trace.vendor, trace.product, ref.trace_vendor,
               ref.trace_product);
  }
  // A USB id is a 16-bit value: whatever was read is within 0..0xffff.
  FUZZ_CHECK(vendor == kUntouched || (vendor >= 0 && vendor <= 0xffff),
             "vendor id %d (0x%x) out of range", vendor, static_cast<unsigned>(vendor));
  FUZZ_CHECK(product == kUntouched || (product >= 0 && product <= 0xffff),
             "product id %d (0x%x) out of range", product, static_cast<unsigned>(product));

  int mode = scan_modem_mode(text.get(), window.size());
  FUZZ_CHECK(mode == ref_modem_mode(window), "scan_modem_mode gives %d, expected %d", mode,
             ref_modem_mode(window));
}

// Two hex digits after key in an interface line, as std::string reads them.
int ref_hex_after(const std::string& line, const char* key) {
  size_t at = line.find(key);
  if (at == std::string::npos || at + strlen(key) + 2 > line.size()) return -1;
  std::string two = line.substr(at + strlen(key), 2);
  if (!isxdigit(static_cast<unsigned char>(two[0])) || !isxdigit(static_cast<unsigned char>(two[1]))) return -1;
  return static_cast<int>(std::stoul(two, nullptr, 16));
}

// Whether the device with these ids is a network card, found again: only the
// interface lines of its active configuration count, a serial one (vendor
// class, ACM, or a serial driver's) makes it none, RNDIS wins over CDC-Ethernet.
NetDriver ref_net_stick(const std::vector<std::string>& pieces, int vendor, int product) {
  bool device = false, active = false, serial = false;
  NetDriver net = kNetNone;
  for (const std::string& l : pieces) {
    std::string line = l.substr(0, l.find('\0'));
    if (line.size() < 2 || line[1] != ':') continue;
    if (line[0] == 'T') device = active = false;
    if (line[0] == 'P') {
      size_t v = line.find("Vendor="), p = line.find("ProdID=");
      auto four = [&](size_t at) { return at == std::string::npos ? std::string() : line.substr(at + 7, 4); };
      char want_v[8], want_p[8];
      snprintf(want_v, sizeof want_v, "%04x", vendor);
      snprintf(want_p, sizeof want_p, "%04x", product);
      auto same = [](const std::string& a, const char* b) {
        if (a.size() != 4) return false;
        for (size_t i = 0; i < 4; ++i) {
          if (!isxdigit(static_cast<unsigned char>(a[i])) || tolower(a[i]) != b[i]) return false;
        }
        return true;
      };
      device = same(four(v), want_v) && same(four(p), want_p);
    }
    if (line[0] == 'C') active = device && line.size() > 2 && line[2] == '*';
    if (line[0] != 'I' || !active) continue;
    int cls = ref_hex_after(line, "Cls="), sub = ref_hex_after(line, "Sub="), prot = ref_hex_after(line, "Prot=");
    if ((cls == 0xe0 && sub == 0x01 && prot == 0x03) || (cls == 0x02 && sub == 0x02 && prot == 0xff)) {
      net = kNetRndis;
    } else if (cls == 0x02 && sub == 0x06) {
      if (net == kNetNone) net = kNetCdcEther;
    } else if (cls == 0xff || (cls == 0x02 && sub == 0x02)) {
      serial = true;
    }
    for (const char* d : {"Driver=usbserial_generic", "Driver=option", "Driver=cdc_acm"}) {
      if (line.find(d) != std::string::npos) serial = true;
    }
  }
  return serial ? kNetNone : net;
}

void check_port(const uint8_t* data, size_t size) {
  std::vector<std::string> pieces;
  fuzz::for_each_fgets_piece(data, size, kLineBuffer, [&](const std::string& piece) {
    pieces.push_back(piece);
    return true;
  });
  ModemPortScan scan = {false, 0, 0};
  int port = -1;
  for (const std::string& piece : pieces) {
    FUZZ_CHECK(piece.size() <= kLineBuffer - 1, "harness: piece of %zu", piece.size());
    fuzz::Block line(piece.size() + 1);
    fuzz::fill_terminated(&line, piece);
    port = scan_modem_port_line(&scan, line.get());
    FUZZ_CHECK(port == -1 || (port >= 0 && port <= kModemPortMax), "port %d", port);
    if (port >= 0) break;
  }
  int result = port < 0 ? 0 : port;
  int ref = ref_modem_port(pieces);
  const std::string list(reinterpret_cast<const char*>(data), size);

  // The network card test, for the ids of the list's last device.
  int vendor = 0x12d1, product = 0x14dc;
  size_t at = list.rfind("Vendor=");
  if (at != std::string::npos && at + 23 <= list.size() && list.compare(at + 11, 8, " ProdID=") == 0) {
    std::string v = list.substr(at + 7, 4), p = list.substr(at + 19, 4);
    if (std::all_of(v.begin(), v.end(), ::isxdigit) && std::all_of(p.begin(), p.end(), ::isxdigit)) {
      vendor = static_cast<int>(std::stoul(v, nullptr, 16));
      product = static_cast<int>(std::stoul(p, nullptr, 16));
    }
  }
  NetStickScan net;
  net_stick_scan_begin(&net, vendor, product);
  for (const std::string& piece : pieces) {
    fuzz::Block line(piece.size() + 1);
    fuzz::fill_terminated(&line, piece);
    scan_net_stick_line(&net, line.get());
  }
  FUZZ_CHECK(net_stick_driver(net) == ref_net_stick(pieces, vendor, product), "network card %d, expected %d",
             net_stick_driver(net), ref_net_stick(pieces, vendor, product));
  FUZZ_CHECK(result == ref, "modem port %d, expected %d", result, ref);

  fuzz::serve_file("/proc/bus/usb/devices", &list);
  int whole = GetDefaultModemID();
  fuzz::serve_file("/proc/bus/usb/devices", nullptr);
  int none = GetDefaultModemID();
  fuzz::serve_file(nullptr, nullptr);
  FUZZ_CHECK(whole == ref, "GetDefaultModemID gives %d, expected %d", whole, ref);
  FUZZ_CHECK(none == 0, "GetDefaultModemID without a list gives %d", none);
}

// The device a reset is for, found again with std::string: blocks begin at
// a "T:" line start, numbers after "Bus=" and "Dev#=" (blanks before them)
// are 1..999, ids are exactly four hex digits, a hub's D: line says Cls=09.
struct RefDevice {
  bool valid = false, hub = false;
  int bus = -1, device = -1, vendor = -1, product = -1;
};

int ref_number(const std::string& line, const char* key) {
  size_t at = line.find(key);
  if (at == std::string::npos) return -1;
  at += strlen(key);
  while (at < line.size() && line[at] == ' ') ++at;
  size_t end = at;
  while (end < line.size() && isdigit(static_cast<unsigned char>(line[end]))) ++end;
  if (end == at) return -1;
  size_t lead = at;
  while (lead < end && line[lead] == '0') ++lead;  // leading zeros add nothing
  if (end - lead > 3) return -1;
  int v = lead == end ? 0 : std::stoi(line.substr(lead, end - lead));
  return v >= 1 ? v : -1;
}

int ref_hex(const std::string& line, const char* key, size_t digits) {
  size_t at = line.find(key);
  if (at == std::string::npos || at + strlen(key) + digits > line.size()) return -1;
  std::string d = line.substr(at + strlen(key), digits);
  for (char c : d) {
    if (!isxdigit(static_cast<unsigned char>(c))) return -1;
  }
  return static_cast<int>(std::stoul(d, nullptr, 16));
}

std::vector<RefDevice> ref_devices(const std::vector<std::string>& pieces) {
  std::vector<RefDevice> devices;
  bool start = true;
  for (const std::string& p : pieces) {
    std::string line = p.substr(0, strlen(p.c_str()));
    if (start && line.size() >= 2 && line[1] == ':') {
      if (line[0] == 'T') {
        RefDevice d;
        d.bus = ref_number(line, "Bus=");
        d.device = ref_number(line, "Dev#=");
        d.valid = d.bus > 0 && d.device > 0;
        devices.push_back(d);
      } else if (!devices.empty() && line[0] == 'D') {
        int cls = ref_hex(line, "Cls=", 2);
        if (cls >= 0) devices.back().hub = cls == 9;
      } else if (!devices.empty() && line[0] == 'P') {
        devices.back().vendor = ref_hex(line, "Vendor=", 4);
        devices.back().product = ref_hex(line, "ProdID=", 4);
      }
    }
    if (!line.empty()) start = line.back() == '\n';
  }
  return devices;
}

void check_device(const std::vector<std::string>& pieces, UsbId wanted) {
  UsbDeviceScan scan;
  usb_device_scan_begin(&scan, wanted);
  for (const std::string& p : pieces) {
    fuzz::Block piece(p.size() + 1);
    fuzz::fill_terminated(&piece, p);
    usb_device_scan_piece(&scan, piece.get(), strlen(piece.get()));
  }
  UsbDeviceAddress at = {-7, -7, {-7, -7}};
  int found = usb_device_scan_end(&scan, &at);
  bool by_ids = wanted.vendor != 0 || wanted.product != 0;
  int matches = 0;
  RefDevice first;
  for (const RefDevice& d : ref_devices(pieces)) {
    bool fits = d.valid && !d.hub && (!by_ids || (d.vendor == wanted.vendor && d.product == wanted.product));
    if (fits && matches++ == 0) first = d;
  }
  FUZZ_CHECK(found == matches, "device scan gives %d, expected %d", found, matches);
  if (matches == 1) {
    FUZZ_CHECK(at.bus == first.bus && at.device == first.device && at.ids.vendor == first.vendor &&
                   at.ids.product == first.product,
               "device %d/%d %d:%d, expected %d/%d %d:%d", at.bus, at.device, at.ids.vendor,
               at.ids.product, first.bus, first.device, first.vendor, first.product);
  } else {
    FUZZ_CHECK(at.bus == -7, "output written without a device");
  }
}

void check_devices(const uint8_t* data, size_t size) {
  std::vector<std::string> pieces;
  fuzz::for_each_fgets_piece(data, size, kLineBuffer, [&](const std::string& piece) {
    pieces.push_back(piece);
    return true;
  });
  check_device(pieces, {0, 0});
  // The ids of the list's first product line, and ids no device has.
  for (const RefDevice& d : ref_devices(pieces)) {
    if (d.vendor > 0 || d.product > 0) {
      check_device(pieces, {d.vendor, d.product});
      break;
    }
  }
  check_device(pieces, {0xfffe, 0xfffe});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string list(reinterpret_cast<const char*>(data), size);
  check_window(list.substr(0, kWindow));
  check_port(data, size);
  check_devices(data, size);
  return 0;
}
