// The operator record serialcom leaves in /var/imsi, and how its fields
// are taken.
#pragma once

#include <stddef.h>
#include <stdint.h>

constexpr size_t kProfileFieldSize = 32;

// Exactly 244 bytes. Text fields hold up to 31 characters and a NUL;
// family (a ModemFamily, kFamilyOpen among them) is in host byte order.
struct OperatorProfile {
  char user[kProfileFieldSize];
  char password[kProfileFieldSize];
  char unused_64[kProfileFieldSize];
  char apn[kProfileFieldSize];
  char dial[kProfileFieldSize];
  int32_t family;
  char unused_164[80];
};
static_assert(sizeof(OperatorProfile) == 244, "the record serialcom writes is 244 bytes");

// A text field of the record, taken up to its first NUL and never beyond
// its 32 bytes.
constexpr size_t kProfileTextSize = kProfileFieldSize + 1;
void profile_text(const char (&field)[kProfileFieldSize], char (&out)[kProfileTextSize]);

// Fixes a record's family when the record leaves it open (kFamilyOpen):
// GSM/HSDPA when the APN has two or more characters, else CDMA EVDO. Other
// values stay as they are.
void resolve_profile_family(OperatorProfile* record);
