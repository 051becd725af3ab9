#include "usb/operator_profile.h"

#include <string.h>

void profile_text(const char (&field)[32], char (&out)[kProfileTextSize]) {
  size_t len = strnlen(field, sizeof field);
  memcpy(out, field, len);
  out[len] = '\0';
}

void resolve_profile_family(OperatorProfile* record) {
  constexpr int kFamilyOpen = 4, kGsm = 1, kEvdo = 2;
  constexpr size_t kMinGsmApn = 2;
  if (record->family != kFamilyOpen) return;
  record->family = strnlen(record->apn, sizeof record->apn) >= kMinGsmApn ? kGsm : kEvdo;
}
