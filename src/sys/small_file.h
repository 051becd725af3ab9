// Small files, kernel and /proc files among them: written whole so that a
// reader never sees half of one, and read with a bound into the caller's
// buffer. Every read of such a file in link3g goes through here or through
// the LineReader (sys/line_reader.h) built on read_some.
#pragma once

#include <stddef.h>
#include <sys/types.h>

// One read() of at most size bytes, made again when a signal cut it short.
ssize_t read_some(int fd, void* buf, size_t size);

// Writes all len bytes of text to fd. Returns 0, or the errno of the write
// that failed (ENOSPC when a write took nothing).
int write_all(int fd, const char* text, size_t len);

// Writes len bytes of text to temp_path (same folder), a new file of ours
// of that mode whatever the umask, then renames it over path. Returns 0, or
// the errno of the step that failed (temp_path is then removed and path
// left as it was).
int write_file_whole(const char* path, const char* temp_path, const char* text, size_t len,
                     mode_t mode = 0644);
// The first half of it: temp_path made afresh and written whole; 0 or the
// errno (temp_path then removed). Several files that must all be written
// before any is put in place are written so, then renamed.
int write_file_temp(const char* temp_path, const char* text, size_t len, mode_t mode);

// Reads path into buf (size bytes, not terminated). Returns the bytes
// read, size when the file holds size bytes or more, or -1 when it cannot
// be read.
ssize_t read_file_bounded(const char* path, char* buf, size_t size);

// Opens path with flags and makes one read() of at most size - 1 bytes
// into buf, then NUL-terminates it: enough for a kernel file that hands
// its text over in one read. Returns the bytes read, 0 for an empty file,
// or -1 when it cannot be opened or read.
ssize_t read_file_once(const char* path, int flags, char* buf, size_t size);
