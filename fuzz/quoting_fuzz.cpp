// Values from the command line (64-byte option buffers: at most 63
// characters, no NUL) through the three quoting functions: shell_quote for
// command lines, ppp_option_word for pppd options files, comgt_escape for
// comgt send strings. Each must be read back exactly by the reference
// reader of its program (readers.h), or be refused as the script writer
// refuses it (has_control_char).
#include <cstdint>
#include <string>

#include "readers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  size_t len = 0;
  while (len < size && len < 63 && data[len] != 0) ++len;
  std::string value(reinterpret_cast<const char*>(data), len);
  unsigned seed = size > len ? data[size - 1] : static_cast<unsigned>(size) * 13u;
  fuzz::check_value_quoting(value, seed);
  return 0;
}
