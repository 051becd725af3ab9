#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>

#include "sys/line_reader.h"
#include "sys/small_file.h"

#include "usb/usb.h"
#include "usb/usb_list_scan.h"

namespace {

// The id and mode probes look at the first 2048 bytes only.
constexpr size_t kListWindow = 2048;
constexpr int kListLineSize = 256;

// One read of the first window of the device list into text, NUL
// terminated; its length, or 0.
size_t read_list_window(char (&text)[kListWindow + 1]) {
  ssize_t n = read_file_once(kUsbDeviceListPath, O_RDONLY, text, sizeof text);
  return n > 0 ? static_cast<size_t>(n) : 0;
}

}  // namespace

int GetUsbID_cdrom(int* vendor, int* product) {
  char text[kListWindow + 1];
  size_t len = read_list_window(text);
  if (len == 0) return 0;
  UsbIdTrace trace;
  int found = scan_usb_id(text, len, vendor, product, &trace);
  if (trace.reached) printf("=====vid[%04x],pid[%04x]\n", trace.vendor, trace.product);
  return found;
}

int CheckUsbModemMode() {
  char text[kListWindow + 1];
  size_t len = read_list_window(text);
  if (len == 0) return 0;
  return scan_modem_mode(text, len);
}

int GetDefaultModemID() {
  LineReader in;
  if (!line_reader_open(&in, kUsbDeviceListPath)) return 0;
  char line[kListLineSize];
  ModemPortScan scan = {false, 0, 0};
  int port = -1;
  while (port < 0 && line_reader_piece(&in, line, sizeof line)) port = scan_modem_port_line(&scan, line);
  line_reader_close(&in);
  return port < 0 ? 0 : port;
}

NetDriver network_stick_driver(const UsbId& id) {
  LineReader in;
  if (!line_reader_open(&in, kUsbDeviceListPath)) return kNetNone;
  char line[kListLineSize];
  NetStickScan scan;
  net_stick_scan_begin(&scan, id.vendor, id.product);
  while (line_reader_piece(&in, line, sizeof line)) scan_net_stick_line(&scan, line);
  line_reader_close(&in);
  return net_stick_driver(scan);
}
