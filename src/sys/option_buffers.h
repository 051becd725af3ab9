// The command line's values: filled by main while it parses the options,
// read-only afterwards (the supervisor hands the six dial values to every
// bring-up it runs). Each is NUL-terminated within its width.
#pragma once

#include <stddef.h>

constexpr size_t kOptionWidth = 64;
constexpr size_t kQosBufWidth = 256;
constexpr size_t kLanHWidth = 24;

extern char cmd[kOptionWidth];
extern char n3g_CardName[kOptionWidth];
extern char n3g_Apn[kOptionWidth];
extern char n3g_Dial[kOptionWidth];
extern char n3g_User[kOptionWidth];
extern char n3g_Pass[kOptionWidth];
extern char n3g_Pin[kOptionWidth];
extern char qosBuf[kQosBufWidth];
extern char LanH[kLanHWidth];
