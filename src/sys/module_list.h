// Which kernel modules are loaded, as /proc/modules lists them.
#pragma once

#include <stddef.h>

// Longest module name word taken from a /proc/modules piece.
constexpr size_t kModuleWordMax = 63;

// One piece of /proc/modules as fgets gives it (at most 127 characters; a
// longer line arrives as several pieces, each judged on its own). 1 when
// the piece's first blank-delimited word is name, compared over at most 64
// characters including the terminator. A first word longer than 63
// characters never matches (it cannot be a module name, and cutting it could
// make one).
int module_piece_matches(const char* piece, size_t len, const char* name);

// 1 when /proc/modules lists a module called name (underscore form).
int is_module_exist(const char* name);
