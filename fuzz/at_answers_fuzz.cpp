// What a stick's AT port sends back, as the radio's reader takes it: the
// final result code, then each answer's parser on the same bytes. Whatever
// the port sends, every fact stays in its range, the operator's name is at
// most 32 printable ASCII bytes, and the facts go through the status file
// (written, then read back strictly) unchanged: the file stays one a shell
// may source.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "status/status_text.h"
#include "usb/at_answers.h"

namespace {

void check_name(const char (&name)[kOperatorSize]) {
  size_t len = strnlen(name, kOperatorSize);
  FUZZ_CHECK(len < kOperatorSize, "operator name not terminated");
  for (size_t i = 0; i < len; ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    FUZZ_CHECK(c >= 0x20 && c < 0x7f, "operator byte %zu is 0x%02x", i, c);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A block of its own, so that a read past the answer's end is seen.
  fuzz::Block text(size);
  memcpy(text.get(), data, size);
  AtResult result = at_final_result(text.get(), size);
  FUZZ_CHECK(result == kAtNoAnswer || result == kAtOk || result == kAtError, "result %d", result);

  RadioFacts f;
  radio_facts_clear(&f);
  parse_csq(text.get(), size, &f.signal_dbm);
  FUZZ_CHECK(f.signal_dbm == kSignalUnknown || (f.signal_dbm >= -113 && f.signal_dbm <= -51),
             "signal %d dBm", f.signal_dbm);
  parse_cops(text.get(), size, f.operator_name, &f.network);
  check_name(f.operator_name);
  FUZZ_CHECK(f.network >= kNetworkUnknown, "network %d", f.network);
  parse_creg(text.get(), size, &f.registration);
  FUZZ_CHECK(f.registration >= kRegUnknown && f.registration < kRegistrationCount, "registration %d",
             f.registration);
  parse_cpin(text.get(), size, &f.sim);
  FUZZ_CHECK(f.sim >= kSimUnknown && f.sim < kSimStateCount, "sim %d", f.sim);

  // Through the status file and back. A network the file has no word for
  // is written as unknown.
  LinkStatus s = {};
  s.state = kStateUp;
  s.pid = 1;
  strcpy(s.at_port, "/dev/ttyUSB1");
  s.radio = f;
  char file[kStatusTextSize];
  size_t len = format_status_text(s, file, sizeof file);
  FUZZ_CHECK(len > 0, "status text does not fit");
  LinkStatus back;
  FUZZ_CHECK(parse_status_text(file, len, &back) == 1, "status text not read back: [%s]",
             fuzz::shown(std::string(file, len)).c_str());
  FUZZ_CHECK(strcmp(back.radio.operator_name, f.operator_name) == 0 && back.radio.signal_dbm == f.signal_dbm &&
                 back.radio.registration == f.registration && back.radio.sim == f.sim,
             "facts changed through the status file: [%s]", fuzz::shown(std::string(file, len)).c_str());
  return 0;
}
