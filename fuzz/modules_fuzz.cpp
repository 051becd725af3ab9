// /proc/modules as is_module_exist reads it: fgets pieces of at most 127
// characters, each judged on its own with its strlen. Each piece is asked
// for the name the bring-up asks for, for its own first word, and for near
// misses of that word (a prefix, an extension): only a first word of at
// most 63 characters that equals the name as a whole may match. Then
// is_module_exist itself on the whole text, which this program's fopen
// serves in place of /proc/modules.
#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "fake_fopen.h"
#include "fuzz_check.h"
#include "sys/module_list.h"

namespace {

constexpr size_t kLineBuffer = 128;

// The first blank-delimited word of the piece (as a C string); false when
// it has none.
bool first_word(const std::string& piece, std::string* word) {
  const char* p = piece.c_str();
  while (*p != '\0' && isspace(static_cast<unsigned char>(*p))) ++p;
  const char* start = p;
  while (*p != '\0' && !isspace(static_cast<unsigned char>(*p))) ++p;
  word->assign(start, static_cast<size_t>(p - start));
  return !word->empty();
}

bool expected_match(const std::string& piece, const std::string& name) {
  std::string word;
  return first_word(piece, &word) && word.size() <= kModuleWordMax && word == name;
}

void ask(const fuzz::Block& piece, size_t len, const std::string& piece_text,
         const std::string& name) {
  fuzz::Block n(name.size() + 1);
  fuzz::fill_terminated(&n, name);
  int got = module_piece_matches(piece.get(), len, n.get());
  int want = expected_match(piece_text, name) ? 1 : 0;
  FUZZ_CHECK(got == want, "module_piece_matches([%s], [%s]) gives %d, expected %d",
             fuzz::shown(piece_text).c_str(), fuzz::shown(name).c_str(), got, want);
}

// is_module_exist(name) on the file text (or on no file): 1 when some piece
// matches.
void check_reader(const std::string* file, const std::vector<std::string>& pieces,
                  const std::string& name) {
  int want = 0;
  if (file != nullptr) {
    for (const std::string& piece : pieces) want |= expected_match(piece.c_str(), name) ? 1 : 0;
  }
  fuzz::serve_file("/proc/modules", file);
  fuzz::Block n(name.size() + 1);
  fuzz::fill_terminated(&n, name);
  int got = is_module_exist(n.get());
  fuzz::serve_file(nullptr, nullptr);
  FUZZ_CHECK(got == want, "is_module_exist([%s]) gives %d, expected %d%s",
             fuzz::shown(name).c_str(), got, want, file == nullptr ? " (no file)" : "");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> pieces;
  fuzz::for_each_fgets_piece(data, size, kLineBuffer, [&](const std::string& raw) {
    pieces.push_back(raw);
    FUZZ_CHECK(raw.size() <= kLineBuffer - 1, "harness: piece of %zu", raw.size());
    fuzz::Block piece(raw.size() + 1);
    fuzz::fill_terminated(&piece, raw);
    size_t len = strlen(piece.get());  // as the caller passes it
    std::string text = raw.substr(0, len);

    ask(piece, len, text, "usb_storage");
    ask(piece, len, text, "usbserial");
    std::string word;
    if (first_word(text, &word)) {
      ask(piece, len, text, word);
      ask(piece, len, text, word.substr(0, word.size() - 1));
      ask(piece, len, text, word + "x");
      // A long word cut to 63 characters must not match either.
      if (word.size() > kModuleWordMax) ask(piece, len, text, word.substr(0, kModuleWordMax));
    }
    return true;
  });

  const std::string file(reinterpret_cast<const char*>(data), size);
  check_reader(&file, pieces, "usb_storage");
  std::string word;
  if (!pieces.empty() && first_word(pieces.back().c_str(), &word)) {
    check_reader(&file, pieces, word);
  }
  check_reader(nullptr, pieces, "usb_storage");
  return 0;
}
