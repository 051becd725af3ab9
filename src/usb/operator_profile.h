#pragma once

#include <stddef.h>

#include "usb/usb.h"

// A text field of the record, taken up to its first NUL and never beyond
// its 32 bytes.
constexpr size_t kProfileTextSize = 32 + 1;
void profile_text(const char (&field)[32], char (&out)[kProfileTextSize]);

// Fixes a record's family when the record leaves it open (4): GSM/HSDPA
// when the APN has two or more characters, else CDMA EVDO. Other values
// stay as they are.
void resolve_profile_family(OperatorProfile* record);
