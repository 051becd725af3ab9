// PPP dial configuration: the pppd options files, the comgt chat script and
// the link bring-up that ties modem discovery and configuration together.
#pragma once

#include "sys/if_addr.h"
#include "sys/printf_check.h"
#include "usb/usb.h"

// The dial configuration this program writes and pppd reads.
constexpr char kOptionsPath[] = "/etc/ppp/options.ppp3g";
constexpr char kOptionsExPath[] = "/etc/ppp/options.ppp3g.ex";
constexpr char kChatPath[] = "/etc/ppp/chat.ppp3g";
constexpr char kMessagesPath[] = "/var/log/messages";

// Where each is written before it is renamed into place.
constexpr char kOptionsTempPath[] = "/etc/ppp/options.ppp3g.new";
constexpr char kOptionsExTempPath[] = "/etc/ppp/options.ppp3g.ex.new";
constexpr char kChatTempPath[] = "/etc/ppp/chat.ppp3g.new";

// Writes the dial configuration for family 1 or 3 (kFamilyGsm,
// kFamilyTdScdma: default scripts) or 2 (kFamilyEvdo: EVDO scripts) and
// returns 1; any other family returns 0 and writes
// nothing. Also returns 0, after a one-line message naming the value and
// without writing anything, when a value to be written holds a control
// character or is longer than 63 characters. Also returns 0 when a dial
// file cannot be written whole: see finish_dial_files.
int gen_at_script(int family, const char* tty, const char* apn, const char* dial,
                  const char* user, const char* pass);

void gen_at_script_default(const char* tty, const char* apn, const char* dial,
                           const char* user, const char* pass);
// The APN is accepted and not written: EVDO dials without one.
void gen_at_script_default_Edvo(const char* tty, const char* apn, const char* dial,
                                const char* user, const char* pass);

// A generation of the dial files: begin_dial_files, the lines, then
// finish_dial_files, which renames the whole files into place
// (options.ppp3g.ex, chat.ppp3g, then options.ppp3g, whose presence hands
// the bring-up over) and returns 1. When any line could not be written, or
// a rename fails, it removes the temporary files, prints one line naming
// the file and returns 0.
void begin_dial_files();
int finish_dial_files();

// One formatted line (a newline is added) to /etc/ppp/options.ppp3g and,
// when ex is non-zero, to /etc/ppp/options.ppp3g.ex (mode 0600: they hold
// the password), each through its temporary file; truncate non-zero starts
// them afresh. Every line is also appended to /var/log/messages. Returns
// 1, or 0 when the line would not fit its buffer (nothing written).
int do_ppp_opfile(int ex, int truncate, const char* fmt, ...) LINK3G_PRINTF(3, 4);

// The same for /etc/ppp/chat.ppp3g.
int do_ppp_chatfile(int truncate, const char* fmt, ...) LINK3G_PRINTF(2, 3);

// The six values every bring-up is given, each NUL-terminated.
struct BringupValues {
  const char* card;
  const char* apn;
  const char* dial;
  const char* user;
  const char* pass;
  const char* pin;
};

enum BringupResult {
  kBringupNoModem,     // no modem tty could be brought up (nor a network stick)
  kBringupNoFamily,    // a modem tty, but no dial configuration for it
  kBringupConfigured,  // the dial configuration was written
  kBringupNetwork,     // a network stick: its interface found, the DHCP script written
};

// What one bring-up found, for those who watch the link.
struct BringupOutcome {
  BringupResult result;
  char tty[kTtyBufferSize];  // the modem tty; empty when none
  UsbId ids;                 // the stick's ids as last read; 0:0 when none were
  ModemFamily family;        // the family written; kFamilyInRecord (0) when none
  bool record_read;          // serialcom left a full operator record
  char interface[kIfNameSize];  // a network stick's; empty otherwise
};

// --- The network way: a stick that is a network card -------------------------

// The script udhcpc runs with each lease (written whole, mode 0700).
constexpr char kDhcpScriptPath[] = "/etc/ppp/udhcpc.script";
constexpr char kDhcpScriptTempPath[] = "/etc/ppp/udhcpc.script.new";

// Writes the DHCP script; 1, or 0 after one line naming the file.
int write_dhcp_script();

// Lets usbserial go, loads the network stick's drivers (usbnet, cdc_ether,
// and for RNDIS rndis_host, each unless loaded), waits at most 10 s for
// its interface and writes the DHCP script. 1 with the interface's name in
// ifname (kIfNameSize bytes), or 0 after one line saying what failed.
int net_bringup(const UsbId& id, NetDriver net, char* ifname);

// The bring-up below, telling its caller what it found in *outcome.
int link_bringup(const BringupValues& values, BringupOutcome* outcome);

// The link bring-up: deletes /etc/ppp/options.ppp3g, brings the modem up,
// decides the family and writes the dial configuration. Returns 1 when the
// configuration was written (options.ppp3g exists again), else 0.
int Init3gPPP(const char* card, const char* apn, const char* dial, const char* user,
              const char* pass, const char* pin);
