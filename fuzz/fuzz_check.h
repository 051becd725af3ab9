// Helpers shared by the fuzz targets: a check that stops the run with a
// message (libFuzzer then keeps the input as a crash reproducer), exact-size
// heap copies so that AddressSanitizer sees every read past a terminator,
// and the way fgets cuts a file into pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#define FUZZ_CHECK(cond, ...)                                                         \
  do {                                                                                \
    if (!(cond)) {                                                                    \
      fprintf(stderr, "\n%s:%d: property failed: %s\n  ", __FILE__, __LINE__, #cond); \
      fprintf(stderr, __VA_ARGS__);                                                   \
      fprintf(stderr, "\n");                                                          \
      abort();                                                                        \
    }                                                                                 \
  } while (0)

namespace fuzz {

// A heap block of exactly size bytes: one byte more is already outside it.
class Block {
 public:
  explicit Block(size_t size)
      : size_(size), data_(static_cast<char*>(malloc(size == 0 ? 1 : size))) {
    if (data_ == nullptr) abort();
  }
  ~Block() { free(data_); }
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;

  char* get() const { return data_; }
  size_t size() const { return size_; }

 private:
  size_t size_;
  char* data_;
};

// text (which may hold NUL bytes) followed by one NUL, in a block of exactly
// text.size() + 1 bytes.
inline void fill_terminated(Block* block, const std::string& text) {
  if (block->size() != text.size() + 1) abort();
  memcpy(block->get(), text.data(), text.size());
  block->get()[text.size()] = '\0';
}

// Cuts data as successive fgets(buf, buf_size, f) calls read it: a piece
// ends after a newline or after buf_size - 1 bytes, whichever comes first.
// NUL bytes are copied like any other byte (fgets does not stop at them; the
// callers' strlen does). Calls piece(text) for each piece until it returns
// false.
template <typename Piece>
void for_each_fgets_piece(const uint8_t* data, size_t size, size_t buf_size, Piece&& piece) {
  size_t at = 0;
  while (at < size) {
    size_t end = at;
    while (end < size && end - at < buf_size - 1) {
      if (data[end++] == '\n') break;
    }
    if (!piece(std::string(reinterpret_cast<const char*>(data + at), end - at))) return;
    at = end;
  }
}

// Printable form of a short text for messages.
inline std::string shown(const char* text, size_t len) {
  std::string out;
  for (size_t i = 0; i < len; ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char esc[8];
      snprintf(esc, sizeof esc, "\\x%02x", c);
      out += esc;
    }
  }
  return out;
}
inline std::string shown(const std::string& text) { return shown(text.data(), text.size()); }

}  // namespace fuzz
