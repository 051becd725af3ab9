// Reads a file in the pieces fgets() gives, from a buffer of fixed size on
// the caller's stack: no stdio stream, so nothing is allocated. For files
// read on every pass of a steady link.
#pragma once

#include <stddef.h>

constexpr size_t kLineReaderBufferSize = 256;

struct LineReader {
  int fd;
  size_t pos, len;
  char buf[kLineReaderBufferSize];
};

// Opens path for reading; 1, or 0 when it cannot be opened.
int line_reader_open(LineReader* r, const char* path);
// As fgets(out, size, stream): up to size - 1 bytes, ending after a
// newline, NUL-terminated. The bytes put into out (a NUL among them
// counts), or 0 at the end of the file (or on a read error) when nothing
// was read.
size_t line_reader_piece(LineReader* r, char* out, size_t size);
void line_reader_close(LineReader* r);
