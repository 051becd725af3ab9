#pragma once

#include <stddef.h>

#include "qos/qos.h"

// Parses len bytes of a rule string into table (which it does not clear).
// Returns 1, or 0 on a format error; never writes past table[count - 1].
int qos_parse(const char* rules, size_t len, QosRule* table, int count);
