// This program's fopen and open, for the targets that run a reader of a
// fixed path: the path set with serve_file opens the given text from memory
// (fmemopen, or a memory file for open), so the host's file of that name is
// never opened; with no text it is a missing file. Every other path goes to
// the C library (libFuzzer writes its corpus through it).
#pragma once

#include <string>

namespace fuzz {

void serve_file(const char* path, const std::string* text);

}  // namespace fuzz
