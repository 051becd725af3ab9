#include "usb/operator_profile.h"

#include <string.h>

#include "usb/modem_family.h"

void profile_text(const char (&field)[kProfileFieldSize], char (&out)[kProfileTextSize]) {
  size_t len = strnlen(field, sizeof field);
  memcpy(out, field, len);
  out[len] = '\0';
}

void resolve_profile_family(OperatorProfile* record) {
  constexpr size_t kMinGsmApn = 2;
  if (record->family != kFamilyOpen) return;
  record->family = strnlen(record->apn, sizeof record->apn) >= kMinGsmApn ? kFamilyGsm : kFamilyEvdo;
}
