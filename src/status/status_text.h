// The status as text, no I/O: the status file's key=value lines that a
// shell can source (each value as shell_quote writes it), and the report
// `link3g --cmd status` prints.
#pragma once

#include <stddef.h>

#include "status/link_status.h"
#include "sys/net_dev.h"

// The words of the state key: "starting", "no-modem", "no-family",
// "connecting", "up", "dns-failing".
const char* link_state_word(LinkState state);

// The family key's word: "gsm", "evdo", "td-scdma", or "" when undecided.
const char* family_word(int family);

// Writes the text for status into out (size bytes) and returns its length,
// or 0 when it does not fit (out is then empty).
size_t format_status_text(const LinkStatus& status, char* out, size_t size);

// Reads len bytes of status text, strictly: every key exactly once (the
// radio's at most once: a file without them knows nothing of it), each
// on a line of its own ended by a newline, each value quoted as
// format_status_text writes it and well-formed for its key (no control
// characters anywhere). Returns 1 and fills status, or 0.
int parse_status_text(const char* text, size_t len, LinkStatus* status);

// The link's interface: the network way's, else ppp0.
const char* status_interface(const LinkStatus& s);

// Writes the report into out (size bytes, cut if need be, always
// terminated) and returns its length. now is seconds since boot.

size_t format_status_report(const LinkStatus& status, unsigned long now, const LinkBytes& bytes,
                            char* out, size_t size);
