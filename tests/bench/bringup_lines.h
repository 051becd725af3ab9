// The commands and messages of the modem bring-up on the bench's sticks, as
// the in-process bring-up tests and the daemon's scenarios both expect them.
#pragma once

#include <string>
#include <vector>

namespace bringup_lines {

const std::string kRmSerial = "rmmod usbserial";
const std::string kRmAcm = "rmmod cdc-acm";
const std::string kAcm = "insmod /lib/modules/2.6.30.9/kernel/drivers/usb/class/cdc-acm.ko";
const std::string kStorage = "insmod /lib/modules/2.6.30.9/kernel/drivers/usb/storage/usb-storage.ko";
const std::string kEjectCd = "eject /dev/sr0";
const std::string kEjectDisk = "eject /dev/sda";

inline std::string serial(const char* vendor, const char* product) {
  return std::string("insmod /lib/modules/2.6.30.9/kernel/drivers/usb/serial/usbserial.ko vendor=0x") +
         vendor + " product=0x" + product;
}

inline std::string switch_file(const char* name) {
  return std::string("/bin/modemswitch -c /bin/usb_modeswitch.d/") + name;
}

inline std::string found(const char* tty) {
  return std::string("auto check usb modem successful.\ndevice name: ") + tty + "\n";
}

inline std::vector<std::string> reload() { return {kRmSerial, kRmAcm, kAcm}; }

inline std::vector<std::string> plus(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The ZTE MF626 (stick zte-mf626): the generic steps fail, the first of its
// two switch files is ignored, the second switches it.
inline std::vector<std::string> mf626_switch_file_lines() {
  return plus(reload(), {kStorage, kEjectCd, kEjectDisk, switch_file("19d2_2000.mf622"),
                         switch_file("19d2_2000.mf626"), serial("19d2", "0031")});
}
// What it prints as it runs each switch file (modemswitch's own output
// comes between them when it shares the standard output).
const std::string kMf626FirstFile =
    "get cdrom vid[19d2] pid[2000] fileIDTry[2]\n"
    "switch usbModem with:\n[/bin/usb_modeswitch.d/19d2_2000.mf622] file\n";
const std::string kMf626SecondFile = "switch usbModem with:\n[/bin/usb_modeswitch.d/19d2_2000.mf626] file\n";
const std::string kMf626Found = "get usbmode vid[19d2] pid[0031]\n" + found("/dev/ttyUSB2");

}  // namespace bringup_lines
