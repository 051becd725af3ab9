// Whole small files: written so that a reader never sees half of one, and
// read with a bound.
#pragma once

#include <stddef.h>
#include <sys/types.h>

// Writes len bytes of text to temp_path (same folder), then renames it
// over path. Returns 0, or the errno of the step that failed (temp_path is
// then removed and path left as it was).
int write_file_whole(const char* path, const char* temp_path, const char* text, size_t len);

// Reads path into buf (size bytes, not terminated). Returns the bytes
// read, size when the file holds size bytes or more, or -1 when it cannot
// be read.
ssize_t read_file_bounded(const char* path, char* buf, size_t size);
