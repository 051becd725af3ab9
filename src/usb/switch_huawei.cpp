// Huawei sticks that no switch file moves: four USB mass-storage command
// wrappers, each written to a switch file of its own and sent by
// modemswitch. All four are always sent.
#include "sys/pause.h"
#include "sys/shell_run.h"
#include "usb/usb.h"

namespace {

constexpr unsigned kHuaweiSettleSeconds = 2;

struct HuaweiMessage {
  const char* file;
  const char* content;  // a 31-byte command block wrapper in hexadecimal
};

const HuaweiMessage kHuaweiMessages[] = {
    {"/var/h1", "55534243123456780000000000000011062000000100000000000000000000"},
    {"/var/h3", "5553424312345679000000000000061b000000020000000000000000000000"},
    {"/var/h4", "5553424312345678000000000000061e000000000000000000000000000000"},
    {"/var/h5", "55534243123456780600000080010a11060000000000000000000000000000"},
};

// The newline inside each quoted echo argument is a real one, so every line
// but the message is followed by an empty line in the file.
void send_message(const HuaweiMessage& m, int vendor, int product) {
  doSystemCmd("echo 'DefaultVendor= 0x%04x\n' > %s", vendor, m.file);
  doSystemCmd("echo 'DefaultProduct= 0x%04x\n' >> %s", product, m.file);
  doSystemCmd("echo 'TargetClass=0xff\n' >> %s", m.file);
  doSystemCmd("echo 'MessageContent=\"%s\"' >> %s", m.content, m.file);
  doSystemCmd("echo 'NeedResponse=1\n' >> %s", m.file);
  doSystemCmd("modemswitch -c %s", m.file);
  wait_seconds(kHuaweiSettleSeconds);
}

}  // namespace

void re_eject_huawei(int vendor, int product) {
  doSystemCmd("modemswitch -v 0x%04x -p 0x%04x -H ", vendor, product);
  wait_seconds(kHuaweiSettleSeconds);
  for (const HuaweiMessage& m : kHuaweiMessages) send_message(m, vendor, product);
}
