#include "sys/module_list.h"

#include <ctype.h>
#include <string.h>

#include "sys/line_reader.h"

int module_piece_matches(const char* piece, size_t len, const char* name) {
  size_t i = 0;
  while (i < len && isspace(static_cast<unsigned char>(piece[i]))) ++i;
  size_t start = i;
  while (i < len && piece[i] != '\0' && !isspace(static_cast<unsigned char>(piece[i]))) ++i;
  size_t word_len = i - start;
  if (word_len == 0 || word_len > kModuleWordMax) return 0;
  char word[kModuleWordMax + 1];
  memcpy(word, piece + start, word_len);
  word[word_len] = '\0';
  return strncmp(word, name, kModuleWordMax + 1) == 0 ? 1 : 0;
}

namespace {
constexpr char kModulesPath[] = "/proc/modules";
constexpr int kModuleLineSize = 128;
}  // namespace

int is_module_exist(const char* name) {
  LineReader modules;
  if (!line_reader_open(&modules, kModulesPath)) return 0;
  char line[kModuleLineSize];
  int found = 0;
  while (!found && line_reader_piece(&modules, line, sizeof line)) {
    found = module_piece_matches(line, strlen(line), name);
  }
  line_reader_close(&modules);
  return found;
}
