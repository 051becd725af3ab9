// The 0x0408:0xf000 stick switches once a marker file is created on its own
// storage, which shows the file VID0408PIDEA03.cfg.
#include <stdio.h>

#include "sys/file_exist.h"
#include "sys/pause.h"
#include "sys/shell_run.h"
#include "usb/usb.h"

namespace {

constexpr char kMarker[] = "/mnt/VID0408PIDEA03.cfg";
const char* const kStorageDevices[] = {"/dev/sda", "/dev/sdb", "/dev/sdc"};
constexpr int kTouchAttempts = 20;
constexpr unsigned kTouchSettleSeconds = 2;

// Mounts the stick's storage on /mnt; false when no device shows the marker
// (and /mnt is unmounted again).
bool mount_marker_storage() {
  if (CheckFileExist(kMarker)) return true;
  for (const char* dev : kStorageDevices) {
    doSystemCmd("mount %s /mnt", dev);
    if (CheckFileExist(kMarker)) return true;
    doSystemCmd("umount /mnt");
  }
  return false;
}

}  // namespace

void switch_Guanta_Q111() {
  if (!mount_marker_storage()) return;
  for (int attempt = 0; attempt < kTouchAttempts; ++attempt) {
    doSystemCmd("touch /mnt/wcdma.cfg");
    wait_seconds(kTouchSettleSeconds);
    if (CheckUsbModemMode()) {
      printf("switch_Guanta_Q111 check usb modem ok.\n");
      break;
    }
  }
  doSystemCmd("umount /mnt");
}
