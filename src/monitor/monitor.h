// Link supervision: the endless loop that starts and watches pppd, the DNS
// reachability probe and the status LED thread.
#pragma once

#include <stdint.h>

// --- Supervisor -------------------------------------------------------------

// Which options file the next ordinary start of pppd uses: 0 for
// /etc/ppp/options.ppp3g, 1 for /etc/ppp/options.ppp3g.ex.
extern int ppp_ex_flag;

// Keeps the 3G link up for ever; never returns. A link that stays stuck
// while the modem's nodes are there (no DNS answer for 300 s and more) is
// recovered: the stick is reset on its bus and brought up again.
void CheckUSBMode();

// The daemon's first bring-up, with the six option buffers: Init3gPPP,
// whose outcome also goes into the status file and into what the
// supervisor knows of the stick. Returns Init3gPPP's result.
int first_link_bringup();

// --- DNS reachability probe -------------------------------------------------

// One pre-encoded DNS question (RFC 1035 4.1.2): QNAME, QTYPE A, QCLASS IN.
struct DomainQuestion {
  int32_t length;  // bytes of question used; 0 ends the table
  unsigned char question[64];
};
constexpr int kDomainListEntries = 7;
extern const DomainQuestion DomainList[kDomainListEntries];
// The entry the next query carries; rotates over the whole process.
extern int32_t DomainListIndex;

// The n-th (from 1) "nameserver" value of /etc/resolv.conf into dest (24
// bytes or more; empty when there is none). Returns 0 when dest is null or
// the file cannot be read, else the number of nameserver lines plus one.
int getDns(int n, char* dest);
// Sends one query to server; 1 when any datagram came back within 2 s.
int SendDns(const char* server);
// 1 when the first or the second name server answered a query.
int CheckDnsQuery();

// --- Status LED -------------------------------------------------------------

extern int32_t usb_led_state;            // level last written, 0 or 1
extern int32_t usb_led_flash_slow_flag;  // tick counter of the slow blink

// Sets the LED (the file takes the inverted level).
void UsbLedShow(int level);
// One 250 ms tick of the pattern for the current usb_led code.
void usb_led_timer();
void* MyUsbLedThread(void* unused);
// Writes level 0 and starts the LED thread; the thread library's status.
int InitUsbLedTask();
