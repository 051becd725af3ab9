#include "usb/usb_reset.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "sys/eintr.h"
#include "sys/line_reader.h"

namespace {

constexpr size_t kListPieceSize = 256;

// The kernel's USBDEVFS_RESET (linux/usbdevice_fs.h), which musl does not
// ship; _IO gives this processor's encoding of it.
constexpr unsigned long kUsbDevFsReset = _IO('U', 20);

// The whole list, line by line: a long list (several buses, many
// interfaces) is read to its end. How many devices fit.
int find_device(UsbId ids, UsbDeviceAddress* found) {
  LineReader in;
  if (!line_reader_open(&in, kUsbDeviceListPath)) return 0;
  UsbDeviceScan scan;
  usb_device_scan_begin(&scan, ids);
  char piece[kListPieceSize];
  while (line_reader_piece(&in, piece, sizeof piece)) usb_device_scan_piece(&scan, piece, strlen(piece));
  line_reader_close(&in);
  return usb_device_scan_end(&scan, found);
}

}  // namespace

void reset_usb_stick(UsbId ids, UsbResetReport* report) {
  memset(report, 0, sizeof *report);
  report->device.ids = ids;
  report->fitting = find_device(ids, &report->device);
  if (report->fitting != 1) {
    report->result = report->fitting == 0 ? kResetNoDevice : kResetAmbiguous;
    return;
  }
  snprintf(report->node, sizeof report->node, "/proc/bus/usb/%03d/%03d", report->device.bus,
           report->device.device);
  // usbfs takes a reset only on a node opened for writing.
  int fd = open(report->node, O_RDWR | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    report->result = kResetOpenFailed;
    report->error = errno;
    return;
  }
  int rc = retry_on_eintr([&] { return ioctl(fd, kUsbDevFsReset, 0); });
  report->result = rc == 0 ? kResetDone : kResetRefused;
  report->error = rc == 0 ? 0 : errno;
  close(fd);
}
