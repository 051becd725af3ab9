// The command line's options, listed once: the parser's table, the value
// buffers and the usage text are all made from this list.
//
//   X(NAME, LETTER, BUFFER, WIDTH, FORMS, WHAT)
//
// NAME the long option, LETTER its short form (and the parser's value),
// BUFFER the global it fills, WIDTH that buffer's size (the terminator
// included), FORMS and WHAT the usage's two columns. Every option takes a
// value.
#pragma once

#define LINK3G_OPTIONS(X)                                                                                   \
  X("cmd", '0', cmd, kOptionWidth, "-0, --cmd WORD", "3g, dns, qos or status")                             \
  X("3gCard", 'l', n3g_CardName, kOptionWidth, "-l, --3gCard CARD", "AutoCheck, AutoCheck-hsdpa, -evdo or -td") \
  X("3gApn", '2', n3g_Apn, kOptionWidth, "-2, --3gApn APN", "access point name")                           \
  X("3gDial", '3', n3g_Dial, kOptionWidth, "-3, --3gDial NUMBER", "number to dial")                        \
  X("3gUser", '4', n3g_User, kOptionWidth, "-4, --3gUser USER", "PPP user name")                           \
  X("3gPass", '5', n3g_Pass, kOptionWidth, "-5, --3gPass PASSWORD", "PPP password")                        \
  X("3gPin", '6', n3g_Pin, kOptionWidth, "-6, --3gPin PIN", "SIM PIN")                                     \
  X("qos", '7', qosBuf, kQosBufWidth, "-7, --qos RULES", "FIRST,LAST,RATE;... at most ten rules")          \
  X("LanH", '8', LanH, kLanHWidth, "-8, --LanH PREFIX", "the LAN's first three address parts and a dot")
