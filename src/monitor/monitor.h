// Link supervision: the endless loop that starts and watches pppd, the DNS
// reachability probe and the status LED thread.
#pragma once

#include <stdint.h>

#include "ppp/ppp.h"

// --- Supervisor -------------------------------------------------------------

// Which options file the next ordinary start of pppd uses: 0 for
// /etc/ppp/options.ppp3g, 1 for /etc/ppp/options.ppp3g.ex.
extern int ppp_ex_flag;

// Keeps the 3G link up for ever; never returns. A link that stays stuck
// while the modem's nodes are there (no DNS answer for 300 s and more) is
// recovered: the stick is reset on its bus and brought up again.
void CheckUSBMode();

// The six dial values of every bring-up the daemon runs (card name, APN,
// dial number, user, password, SIM PIN): set once, before the first
// bring-up. The strings must last as long as the process.
void set_dial_values(const BringupValues& values);

// The link's state starts ("starting", this process's pid) and the status
// file shows it: before the LED thread and the first bring-up.
void link_state_begin();

// The daemon's first bring-up, with the dial values: Init3gPPP,
// whose outcome also goes into the status file and into what the
// supervisor knows of the stick. Returns Init3gPPP's result.
int first_link_bringup();

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
