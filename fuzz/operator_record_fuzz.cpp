// The operator record serialcom leaves in /var/imsi, as the family
// detection takes it: one read of 244 bytes, accepted only when all 244
// came (a longer file gives its first 244 bytes). Then the family rule and
// the four text fields as the link bring-up takes them, and each text
// through the checks and quoting it meets on its way into the dial files.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "readers.h"
#include "usb/operator_profile.h"
#include "usb/usb.h"

namespace {

constexpr size_t kRecordSize = sizeof(OperatorProfile);

void check_text(const char (&field)[32], const char* name) {
  // out is a block of its own: a write past its 33 bytes is seen.
  fuzz::Block block(kProfileTextSize);
  memset(block.get(), 0x5a, kProfileTextSize);
  auto& out = *reinterpret_cast<char(*)[kProfileTextSize]>(block.get());
  profile_text(field, out);
  size_t want_len = 0;
  while (want_len < sizeof field && field[want_len] != '\0') ++want_len;
  FUZZ_CHECK(memchr(out, '\0', kProfileTextSize) != nullptr, "%s text not terminated", name);
  std::string text(out);
  FUZZ_CHECK(text == std::string(field, want_len),
             "%s text [%s], expected the field's first %zu bytes", name, fuzz::shown(text).c_str(),
             want_len);
  fuzz::check_value_quoting(
      text, static_cast<unsigned>(want_len) * 7u + static_cast<unsigned char>(field[0]));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // read_record: a short read is no record, whatever it holds.
  if (size < kRecordSize) return 0;

  auto* record = static_cast<OperatorProfile*>(malloc(kRecordSize));
  memcpy(record, data, kRecordSize);
  const OperatorProfile before = *record;

  resolve_profile_family(record);
  size_t apn_len = 0;
  while (apn_len < sizeof before.apn && before.apn[apn_len] != '\0') ++apn_len;
  int32_t want = before.family == 4 ? (apn_len >= 2 ? 1 : 2) : before.family;
  FUZZ_CHECK(record->family == want, "family %d became %d (APN of %zu characters), expected %d",
             before.family, record->family, apn_len, want);
  // Only the family may change.
  OperatorProfile other = *record;
  other.family = before.family;
  FUZZ_CHECK(memcmp(&other, &before, kRecordSize) == 0,
             "resolve_profile_family changed more than the family");

  check_text(record->user, "user");
  check_text(record->password, "password");
  check_text(record->apn, "APN");
  check_text(record->dial, "dial");
  free(record);
  return 0;
}
