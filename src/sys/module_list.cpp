#include "sys/module_list.h"

#include <ctype.h>
#include <string.h>

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
