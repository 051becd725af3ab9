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

// One read of the first window of the device list into a fresh buffer,
// NUL terminated; returns it (free() it) and its length, or nullptr.
char* read_list_window(size_t* len) {
  char* text = static_cast<char*>(malloc(kListWindow + 1));
  if (text == nullptr) return nullptr;
  ssize_t n = read_file_once(kUsbDeviceListPath, O_RDONLY, text, kListWindow + 1);
  if (n <= 0) {
    free(text);
    return nullptr;
  }
  *len = static_cast<size_t>(n);
  return text;
}

}  // namespace

int GetUsbID_cdrom(int* vendor, int* product) {
  size_t len = 0;
  char* text = read_list_window(&len);
  if (text == nullptr) return 0;
  UsbIdTrace trace;
  int found = scan_usb_id(text, len, vendor, product, &trace);
  free(text);
  if (trace.reached) printf("=====vid[%04x],pid[%04x]\n", trace.vendor, trace.product);
  return found;
}

int CheckUsbModemMode() {
  size_t len = 0;
  char* text = read_list_window(&len);
  if (text == nullptr) return 0;
  int modem = scan_modem_mode(text, len);
  free(text);
  return modem;
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
