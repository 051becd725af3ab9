#include "sys/option_buffers.h"

char cmd[kOptionWidth];
char n3g_CardName[kOptionWidth];
char n3g_Apn[kOptionWidth];
char n3g_Dial[kOptionWidth];
char n3g_User[kOptionWidth];
char n3g_Pass[kOptionWidth];
char n3g_Pin[kOptionWidth];
char qosBuf[kQosBufWidth];
char LanH[kLanHWidth];
