// Reading the kernel's USB device list: the stick's ids, the modem
// personality and the modem port.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "usb/usb_device_scan.h"
#include "usb/usb_list_scan.h"

namespace {

std::string hub(int bus, const char* product) {
  return "\nT:  Bus=0" + std::to_string(bus) +
         " Lev=00 Prnt=00 Port=00 Cnt=00 Dev#=  1 Spd=480  MxCh= 4\n"
         "D:  Ver= 2.00 Cls=09(hub  ) Sub=00 Prot=01 MxPS=64 #Cfgs=  1\n"
         "P:  Vendor=1d6b ProdID=" + product + " Rev= 2.06\n"
         "S:  Manufacturer=Linux 2.6.30.9 ehci_hcd\nS:  Product=EHCI Host Controller\n"
         "C:* #Ifs= 1 Cfg#= 1 Atr=e0 MxPwr=  0mA\n"
         "I:* If#= 0 Alt= 0 #EPs= 1 Cls=09(hub  ) Sub=00 Prot=00 Driver=hub\n"
         "E:  Ad=81(I) Atr=03(Int.) MxPS=   4 Ivl=256ms\n";
}

// A device with one interface per entry of endpoints (its endpoint count),
// each bound to driver.
std::string device(const char* ids, const std::vector<int>& endpoints, const char* driver) {
  std::string d = "\nT:  Bus=01 Lev=01 Prnt=01 Port=00 Cnt=01 Dev#=  2 Spd=480  MxCh= 0\n"
                  "D:  Ver= 2.00 Cls=00(>ifc ) Sub=00 Prot=00 MxPS=64 #Cfgs=  1\n"
                  "P:  " + std::string(ids) + " Rev= 0.00\nS:  Manufacturer=Vendor\n"
                  "C:* #Ifs= 3 Cfg#= 1 Atr=a0 MxPwr=500mA\n";
  for (size_t i = 0; i < endpoints.size(); ++i) {
    d += "I:* If#= " + std::to_string(i) + " Alt= 0 #EPs= " + std::to_string(endpoints[i]) +
         " Cls=ff(vend.) Sub=ff Prot=ff Driver=" + driver + "\n";
    for (int e = 0; e < endpoints[i]; ++e) d += "E:  Ad=8" + std::to_string(e) + "(I) Atr=02(Bulk) MxPS= 512 Ivl=0ms\n";
  }
  return d;
}

struct Ids {
  int found, vendor, product;
  UsbIdTrace trace;
};

Ids ids_of(const std::string& text) {
  Ids r{0, -1, -1, {}};
  r.found = scan_usb_id(text.c_str(), text.size(), &r.vendor, &r.product, &r.trace);
  return r;
}

std::string fixture(const char* name) {
  std::ifstream in(std::string(LINK3G_FIXTURES "/usb/") + name);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

const char kStick[] = "Vendor=12d1 ProdID=1446";

TEST(UsbIds, FirstDeviceAfterTheRootHub) {
  Ids r = ids_of(hub(1, "0002") + device(kStick, {2}, "usb-storage"));
  EXPECT_EQ(r.found, 1);
  EXPECT_EQ(r.vendor, 0x12d1);
  EXPECT_EQ(r.product, 0x1446);
}

TEST(UsbIds, SecondBusRootHubIsSkippedButTraced) {
  Ids r = ids_of(hub(1, "0002") + hub(2, "0002") + device(kStick, {2}, "usb-storage"));
  EXPECT_EQ(r.found, 1);
  EXPECT_EQ(r.vendor, 0x12d1);
  EXPECT_TRUE(r.trace.reached);
  EXPECT_EQ(r.trace.vendor, 0x1d6b);
  EXPECT_EQ(r.trace.product, 0x0002);
}

TEST(UsbIds, OnlyAUsb2RootHubIsSkipped) {
  Ids r = ids_of(hub(1, "0002") + hub(2, "0001") + device(kStick, {2}, "usb-storage"));
  EXPECT_EQ(r.vendor, 0x1d6b);
  EXPECT_EQ(r.product, 0x0001);
}

TEST(UsbIds, NoStickBehindTheHubs) {
  Ids r = ids_of(hub(1, "0002"));
  EXPECT_EQ(r.found, 0);
  EXPECT_EQ(r.vendor, -1);
  EXPECT_FALSE(r.trace.reached);
  r = ids_of(hub(1, "0002") + hub(2, "0002"));
  EXPECT_EQ(r.found, 0);
  EXPECT_EQ(r.vendor, 0x1d6b);
  EXPECT_EQ(r.product, 0x0002);
  EXPECT_EQ(ids_of("").found, 0);
}

// Only hex digits make an id: whatever the text holds, an id stays within
// 0..0xffff.
TEST(UsbIds, SignsAndBlanksAreNoDigits) {
  Ids r = ids_of(hub(1, "0002") + device("Vendor=-001 ProdID=+123", {2}, "usb-storage"));
  EXPECT_EQ(r.found, 1);
  EXPECT_EQ(r.vendor, -1);  // untouched: the test's marker, not a parsed -1
  EXPECT_EQ(r.product, -1);
  r = ids_of(hub(1, "0002") + device("Vendor= 12d ProdID=12xy", {2}, "usb-storage"));
  EXPECT_EQ(r.vendor, -1);
  EXPECT_EQ(r.product, 0x12);
}

// As "%4x" read them: a "0x" before a digit is taken and counts among the
// four characters; a "0x" before anything else reads as 0.
TEST(UsbIds, AHexPrefixCountsAmongTheFourCharacters) {
  Ids r = ids_of(hub(1, "0002") + device("Vendor=0x12d1 ProdID=0X1g", {2}, "usb-storage"));
  EXPECT_EQ(r.vendor, 0x12);
  EXPECT_EQ(r.product, 0x1);
  r = ids_of(hub(1, "0002") + device("Vendor=0xz1 ProdID=0x", {2}, "usb-storage"));
  EXPECT_EQ(r.vendor, 0);
  EXPECT_EQ(r.product, 0);
}

TEST(UsbIds, RealCaptures) {
  Ids r = ids_of(fixture("embedded-router-rootfs-2024-three-buses-mass-storage-no-modem.txt"));
  EXPECT_EQ(r.vendor, 0x14cd);
  EXPECT_EQ(r.product, 0x1212);
  r = ids_of(fixture("virtualbox-2018-ohci-1d6b-0001-baseline.txt"));
  EXPECT_EQ(r.found, 1);
  EXPECT_EQ(r.vendor, 0x80ee);
  // A device record with no root hub before it gives nothing.
  EXPECT_EQ(ids_of(fixture("github-mrhaav-e3372h-320-12d1-155e-option-cdc_ncm.txt")).found, 0);
}

int modem_mode(const std::string& text) { return scan_modem_mode(text.c_str(), text.size()); }

TEST(ModemMode, FiveDriverEntriesShowTheModem) {
  std::string four = hub(1, "0002") + device(kStick, {3, 2, 2}, "(none)");
  EXPECT_EQ(modem_mode(four), 0);
  EXPECT_EQ(modem_mode(four + device("Vendor=1234 ProdID=5678", {1}, "(none)")), 1);
  std::string no_manufacturer = "I: Driver=a\nI: Driver=b\nI: Driver=c\nI: Driver=d\nI: Driver=e\n";
  EXPECT_EQ(modem_mode(no_manufacturer), 0);
  EXPECT_EQ(modem_mode("S:  Manufacturer=x\n" + no_manufacturer), 1);
  // Entries closer than 12 characters count once.
  EXPECT_EQ(modem_mode("S:  Manufacturer=x\nDriver=Driver=Driver=Driver=Driver=\n"), 0);
}

int modem_port(const std::string& text) {
  ModemPortScan scan = {false, 0, 0};
  std::stringstream ss(text);
  std::string line;
  while (std::getline(ss, line)) {
    int port = scan_modem_port_line(&scan, (line + "\n").c_str());
    if (port >= 0) return port;
  }
  return 0;
}

TEST(ModemPort, FirstSerialInterfaceWithThreeEndpoints) {
  std::string list = hub(1, "0002");
  EXPECT_EQ(modem_port(list + device(kStick, {3, 2, 2}, "usbserial_generic")), 0);
  EXPECT_EQ(modem_port(list + device(kStick, {2, 3, 2}, "usbserial_generic")), 1);
  EXPECT_EQ(modem_port(list + device(kStick, {2, 2, 2}, "usbserial_generic")), 0);
  EXPECT_EQ(modem_port(list + device(kStick, {3}, "option")), 0);
}

TEST(ModemPort, InterruptedEndpointRunDoesNotQualify) {
  std::string list = hub(1, "0002") +
                     "I:* If#= 0 Driver=usbserial_generic\nE:  Ad=81\nE:  Ad=01\n"
                     "S:  interruption\nE:  Ad=82\n"
                     "I:* If#= 1 Driver=usbserial_generic\nE:  Ad=83\nE:  Ad=02\nE:  Ad=84\n";
  EXPECT_EQ(modem_port(list), 1);
}

TEST(ModemPort, IndexIsCappedAtTwelve) {
  std::vector<int> endpoints(13, 2);
  endpoints.push_back(3);  // the fourteenth
  EXPECT_EQ(modem_port(hub(1, "0002") + device(kStick, endpoints, "usbserial_generic")), 12);
  endpoints.erase(endpoints.begin());  // now the thirteenth
  EXPECT_EQ(modem_port(hub(1, "0002") + device(kStick, endpoints, "usbserial_generic")), 12);
  endpoints.erase(endpoints.begin());  // the twelfth
  EXPECT_EQ(modem_port(hub(1, "0002") + device(kStick, endpoints, "usbserial_generic")), 11);
}

// --- Which device a reset is for ------------------------------------------

struct Found {
  int found;
  UsbDeviceAddress at;
};

// The list fed in pieces of at most piece - 1 bytes, as the reader gives it.
Found device_of(const std::string& text, UsbId wanted, size_t piece = 256) {
  UsbDeviceScan scan;
  usb_device_scan_begin(&scan, wanted);
  for (size_t at = 0; at < text.size();) {
    size_t nl = text.find('\n', at);
    size_t end = std::min(nl == std::string::npos ? text.size() : nl + 1, at + piece - 1);
    usb_device_scan_piece(&scan, text.data() + at, end - at);
    at = end;
  }
  Found f{0, {-1, -1, {-1, -1}}};
  f.found = usb_device_scan_end(&scan, &f.at);
  return f;
}

TEST(UsbDevice, TheStickByItsIdsWithItsBusAndDevice) {
  Found f = device_of(fixture("embedded-router-rootfs-2024-three-buses-mass-storage-no-modem.txt"),
                      {0x14cd, 0x1212});
  ASSERT_EQ(f.found, 1);
  EXPECT_EQ(f.at.bus, 3);
  EXPECT_EQ(f.at.device, 3);  // "Dev#=  3": blanks before the number
  // No ids: the one device that is no hub is the same one.
  f = device_of(fixture("embedded-router-rootfs-2024-three-buses-mass-storage-no-modem.txt"), {0, 0});
  ASSERT_EQ(f.found, 1);
  EXPECT_EQ(f.at.ids.vendor, 0x14cd);
  EXPECT_EQ(f.at.ids.product, 0x1212);
  EXPECT_EQ(device_of(hub(1, "0002") + device(kStick, {3}, "usbserial_generic"), {0x12d1, 0x1002}).found, 0);
}

TEST(UsbDevice, NoSingleDeviceWithoutIds) {
  EXPECT_EQ(device_of(hub(1, "0002") + hub(2, "0001"), {0, 0}).found, 0);
  std::string two = hub(1, "0002") + device(kStick, {3}, "usbserial_generic") +
                    device("Vendor=0781 ProdID=5567", {2}, "usb-storage");
  EXPECT_EQ(device_of(two, {0, 0}).found, 2);
  // With ids, the one that carries them, whatever else is there.
  Found f = device_of(two, {0x0781, 0x5567});
  EXPECT_EQ(f.found, 1);
  EXPECT_EQ(f.at.bus, 1);
  EXPECT_EQ(f.at.device, 2);
}

// An external hub between the router and the stick (a hub's reset takes
// every device behind it, a mounted disk among them), and two sticks of the
// same ids: no device is given, whichever way it is asked for.
TEST(UsbDevice, NeverAHubNorOneOfTwo) {
  std::string external = "\nT:  Bus=01 Lev=01 Prnt=01 Port=00 Cnt=01 Dev#=  2 Spd=480  MxCh= 4\n"
                         "D:  Ver= 2.00 Cls=09(hub  ) Sub=00 Prot=02 MxPS=64 #Cfgs=  1\n"
                         "P:  Vendor=12d1 ProdID=1446 Rev= 1.00\n"
                         "I:* If#= 0 Alt= 0 #EPs= 1 Cls=09(hub  ) Sub=00 Prot=00 Driver=hub\n";
  std::string list = hub(1, "0002") + external;
  EXPECT_EQ(device_of(list, {0x12d1, 0x1446}).found, 0);
  EXPECT_EQ(device_of(list, {0, 0}).found, 0);
  // The stick behind it is the one device that fits.
  Found f = device_of(list + device(kStick, {3}, "usbserial_generic"), {0x12d1, 0x1446});
  EXPECT_EQ(f.found, 1);
  EXPECT_EQ(f.at.device, 2);
  EXPECT_EQ(device_of(list + device(kStick, {3}, "usbserial_generic"), {0, 0}).found, 1);
  std::string twins = hub(1, "0002") + device(kStick, {3}, "usbserial_generic") + device(kStick, {3}, "option");
  f = device_of(twins, {0x12d1, 0x1446});
  EXPECT_EQ(f.found, 2);
  EXPECT_EQ(f.at.bus, -1);  // not written
  // Real lists: the root hubs of three buses are never taken, nor the
  // e3372h's record, which has no hub.
  for (const char* name : {"embedded-router-rootfs-2024-three-buses-mass-storage-no-modem.txt",
                           "virtualbox-2018-ohci-1d6b-0001-baseline.txt"}) {
    EXPECT_EQ(device_of(fixture(name), {0x1d6b, 0x0002}).found, 0) << name;
    EXPECT_EQ(device_of(fixture(name), {0x1d6b, 0x0001}).found, 0) << name;
  }
  EXPECT_EQ(device_of(fixture("github-mrhaav-e3372h-320-12d1-155e-option-cdc_ncm.txt"), {0x12d1, 0x155e}).found, 1);
}

TEST(UsbDevice, OnlyWholeLinesAndWellFormedNumbers) {
  // A tag inside a long string line's continuation is no tag.
  std::string text = hub(1, "0002") + "S:  Product=" + std::string(303, 'x') +
                     "T:  Bus=07 Dev#=  9\n" + device(kStick, {3}, "usbserial_generic");
  Found f = device_of(text, {0x12d1, 0x1446}, 64);
  ASSERT_EQ(f.found, 1);
  EXPECT_EQ(f.at.bus, 1);
  EXPECT_EQ(f.at.device, 2);
  // A device number out of usbfs's three digits, or ids that are not four
  // hex digits, make no device.
  std::string bad = hub(1, "0002") + "\nT:  Bus=01 Lev=01 Dev#=1000 Spd=480\nD:  Cls=00(>ifc )\nP:  Vendor=12d1 ProdID=1001\n";
  EXPECT_EQ(device_of(bad, {0x12d1, 0x1001}).found, 0);
  bad = hub(1, "0002") + "\nT:  Bus=01 Lev=01 Dev#=  4 Spd=480\nD:  Cls=00(>ifc )\nP:  Vendor=12d ProdID=1001\n";
  EXPECT_EQ(device_of(bad, {0x12d, 0x1001}).found, 0);
}


NetDriver net_driver(const std::string& text, int vendor, int product) {
  NetStickScan scan;
  net_stick_scan_begin(&scan, vendor, product);
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) scan_net_stick_line(&scan, (line + "\n").c_str());
  return net_stick_driver(scan);
}

// The stick in its switched personality; interfaces as "I:" line tails.
std::string switched(const char* ids, const char* config, const std::vector<std::string>& ifs) {
  std::string d = hub(1, "0002") + "\nT:  Bus=01 Lev=01 Prnt=01 Port=00 Cnt=01 Dev#=  3 Spd=480  MxCh= 0\n"
                  "D:  Ver= 2.00 Cls=00(>ifc ) Sub=00 Prot=00 MxPS=64 #Cfgs=  1\n"
                  "P:  " + std::string(ids) + " Rev= 1.02\nS:  Manufacturer=Vendor\n" + config + "\n";
  for (size_t i = 0; i < ifs.size(); ++i) d += "I:* If#= " + std::to_string(i) + " Alt= 0 " + ifs[i] + "\n";
  return d;
}

const char kActive[] = "C:* #Ifs= 3 Cfg#= 1 Atr=80 MxPwr=500mA";
const char kEther[] = "#EPs= 1 Cls=02(comm.) Sub=06 Prot=00 Driver=cdc_ether";
const char kData[] = "#EPs= 2 Cls=0a(data ) Sub=00 Prot=00 Driver=cdc_ether";
const char kStorage[] = "#EPs= 2 Cls=08(stor.) Sub=06 Prot=50 Driver=usb-storage";

TEST(NetworkStick, OnlyANetworkCardWithoutSerialPorts) {
  const char hilink[] = "Vendor=12d1 ProdID=14dc";
  EXPECT_EQ(net_driver(switched(hilink, kActive, {kEther, kData, kStorage}), 0x12d1, 0x14dc), kNetCdcEther);
  EXPECT_EQ(net_driver(switched(hilink, kActive, {"#EPs= 1 Cls=e0(wlcon) Sub=01 Prot=03 Driver=rndis_host", kData}),
                       0x12d1, 0x14dc),
            kNetRndis);
  EXPECT_EQ(net_driver(switched(hilink, kActive, {"#EPs= 1 Cls=02(comm.) Sub=02 Prot=ff Driver=(none)", kData}),
                       0x12d1, 0x14dc),
            kNetRndis);
  // Another device's interfaces, or an inactive configuration's, are not the stick's.
  EXPECT_EQ(net_driver(switched(hilink, kActive, {kEther, kData}), 0x12d1, 0x1001), kNetNone);
  EXPECT_EQ(net_driver(switched(hilink, "C:  #Ifs= 2 Cfg#= 2 Atr=80 MxPwr=500mA", {kEther, kData}), 0x12d1, 0x14dc),
            kNetNone);
  // A modem with a network function too goes the PPP way: vendor serial
  // ports, ACM ports (the F3507g), and the NCM stick of a real capture.
  EXPECT_EQ(net_driver(switched(hilink, kActive, {"#EPs= 3 Cls=ff(vend.) Sub=ff Prot=ff Driver=option", kEther, kData}),
                       0x12d1, 0x14dc),
            kNetNone);
  EXPECT_EQ(net_driver(switched(hilink, kActive, {"#EPs= 1 Cls=02(comm.) Sub=02 Prot=01 Driver=cdc_acm", kEther}),
                       0x12d1, 0x14dc),
            kNetNone);
  // The LW27x: RNDIS-like control interfaces, but its data interfaces are
  // usbserial's ports.
  EXPECT_EQ(net_driver(switched(hilink, kActive,
                                {"#EPs= 1 Cls=02(comm.) Sub=02 Prot=ff Driver=(none)",
                                 "#EPs= 2 Cls=0a(data ) Sub=00 Prot=00 Driver=usbserial_generic"}),
                       0x12d1, 0x14dc),
            kNetNone);
  EXPECT_EQ(net_driver(fixture("github-mrhaav-e3372h-320-12d1-155e-option-cdc_ncm.txt"), 0x12d1, 0x155e), kNetNone);
  EXPECT_EQ(net_driver(switched(hilink, kActive, {"#EPs= 1 Cls=02(comm.) Sub=0d Prot=00 Driver=cdc_ncm", kData}),
                       0x12d1, 0x14dc),
            kNetNone);
}

}  // namespace
