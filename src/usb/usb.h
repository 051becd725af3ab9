// USB modem discovery and mode switching: the kernel's USB device list, the
// switching strategies, the modem bring-up and the modem family.
#pragma once

#include <stddef.h>

#include "usb/modem_family.h"
#include "usb/operator_profile.h"
#include "usb/radio_facts.h"
#include "usb/usb_list_scan.h"

// A USB vendor and product id pair, each 0x0000..0xffff, printed "%04x".
struct UsbId {
  int vendor;
  int product;
};

// Huawei's sticks: their own switch messages, and unsolicited reports on
// their AT ports until told otherwise.
constexpr int kHuaweiVendor = 0x12d1;

// --- The device list (/proc/bus/usb/devices) -------------------------------

// The kernel's USB device list, which every look at the bus reads.
constexpr char kUsbDeviceListPath[] = "/proc/bus/usb/devices";

// The ids of the first device after the first root hub (skipping a USB 2.0
// root hub of a second bus); 1 when read. Prints "=====vid[..],pid[..]".
int GetUsbID_cdrom(int* vendor, int* product);
// 1 when the first 2048 bytes of the list show the modem personality.
int CheckUsbModemMode();
// Index n of the modem port (/dev/ttyUSB<n>), 0..12; 0 also when none.
int GetDefaultModemID();
// Whether the stick with id, as the whole list shows it now, is a network
// card (usb_list_scan.h says which); kNetNone for a modem or when unread.
NetDriver network_stick_driver(const UsbId& id);

// --- Switching strategies ---------------------------------------------------

constexpr int kSwitchFileSlots = 32;
constexpr int kSwitchFileNameSize = 64;

// Names of the switch files found for the stick, filled from slot 0.
extern char ext_usbModemID[kSwitchFileSlots][kSwitchFileNameSize];

// Collects into ext_usbModemID the names in /bin/usb_modeswitch.d/ that begin
// with "%04x_%04x" of vendor and product; returns how many (at most 31).
int init_usbmodemIDList(int vendor, int product);
// Hands the first count collected files to /bin/modemswitch until the modem
// shows.
void walk_switch_files(int count);
// Switches the 0x0408:0xf000 stick by a marker file on its own storage.
void switch_Guanta_Q111();
// Runs the four Huawei switch messages through modemswitch.
void re_eject_huawei(int vendor, int product);

// The directory init_usbmodemIDList reads.
constexpr char kSwitchFileDir[] = "/bin/usb_modeswitch.d/";

// Collects into slots the names of entries of dir (which ends in '/') that
// begin with the "%04x_%04x" prefix of vendor and product, in listing order,
// at most max of them. Directories (and every type with the directory bit)
// are skipped. So are names whose path in dir would not fit a slot: a cut
// name would be another file. Returns the count stored.
int collect_switch_files(const char* dir, int vendor, int product,
                         char (*slots)[kSwitchFileNameSize], int max);

// --- Bring-up and family ----------------------------------------------------

// Room for a tty path in the bring-up's result buffer.
constexpr int kTtyBufferSize = 32;

// Picks the modem tty for the stick with id (0:0 when no ids were read):
// /dev/ttyACM0 when it is served, else /dev/ttyUSB<n> with n from the
// device list. Writes it to tty and returns 1, or returns 0 when the chosen
// node cannot be opened.
int select_modem_tty(const UsbId& id, char* tty);

// Brings the plugged stick to a working modem tty and writes its path into
// tty (32 bytes); 1 on success, 0 otherwise (tty untouched).
int auto_init_modem(char* tty);
// The same, also telling which stick it was: *ids receives the ids as last
// read from the device list (0:0 when none were read: a modem served at
// once), on failure too. A stick that shows itself a network card once
// switched (usbserial took no port of it) gets no tty: 1 with its driver
// in *net (kNetNone for every modem).
int bring_up_modem(char* tty, UsbId* ids, NetDriver* net);

// The family to write for card name on tty: kFamilyGsm, kFamilyEvdo or
// kFamilyTdScdma; kFamilyInRecord when it and the dial values are in record
// (filled from /var/imsi); kFamilyNone when undecided.
ModemFamily getUsbModemType(const char* card, const char* tty, OperatorProfile* record,
                            const char* pin);
// Runs serialcom on tty and reads its record; 1 when a full one was read.
int get_gsm_type(const char* tty, OperatorProfile* record, const char* pin);

// --- The radio, asked on the stick's second AT port -------------------------

// The stick's AT port other than dial_tty, the one pppd dials on: every
// /dev/ttyUSB<n> and /dev/ttyACM<n> there now is asked AT then AT+CPIN? (at
// most 2 s each; a Huawei stick, huawei, is sent AT^CURC=0 first), and the
// first that answers OK is it. 1 with its path in port (kTtyBufferSize
// bytes) and the SIM's state in facts, or 0 (port empty, facts unknown). A
// port another process holds (its UUCP lock) is not asked.
int find_at_port(const char* dial_tty, bool huawei, char* port, RadioFacts* facts);

// One read of the signal (AT+CSQ), the operator and network (AT+COPS=3,0,
// AT+COPS?), the registration (AT+CREG?) and the SIM (AT+CPIN?) on port, at
// most 2 s a command. 1 when the port answered, else 0 with every fact
// unknown.
int read_radio_facts(const char* port, RadioFacts* facts);

// --- A network stick's interface (sysfs) ------------------------------------

// The network interface whose device is the stick with id: its name into
// ifname (kIfNameSize bytes) and 1, or 0 when none is there now.
int find_stick_interface(const UsbId& id, char* ifname);
// 1 when text (len bytes, a sysfs idVendor or idProduct file) is the four
// hexadecimal digits of want, with or without the newline; else 0.
int usb_id_file_is(const char* text, size_t len, int want);
