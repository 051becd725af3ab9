// The modem's answers on its AT port, as real sticks send them: echoed
// commands, unsolicited reports around the answer, and ports that send
// garbage or hostile names.
#include <gtest/gtest.h>

#include <string>

#include "usb/at_answers.h"

namespace {

int csq(const std::string& t) {
  int dbm = 12345;
  return parse_csq(t.data(), t.size(), &dbm) ? dbm : 12345;
}

struct Cops {
  int found;
  std::string name;
  int network;
};
Cops cops(const std::string& t) {
  char name[kOperatorSize] = "unset";
  int network = 99;
  int found = parse_cops(t.data(), t.size(), name, &network);
  return {found, name, network};
}

int creg(const std::string& t) {
  Registration r = kRegistrationCount;
  return parse_creg(t.data(), t.size(), &r) ? r : -1;
}

int cpin(const std::string& t) {
  SimState s = kSimStateCount;
  return parse_cpin(t.data(), t.size(), &s) ? s : -1;
}

AtResult final(const std::string& t) { return at_final_result(t.data(), t.size()); }

TEST(AtAnswers, FinalResultCodesEndAnAnswer) {
  EXPECT_EQ(final("AT\r\r\nOK\r\n"), kAtOk);  // echoed
  EXPECT_EQ(final("\r\n+CSQ: 17,99\r\n\r\nOK\r\n"), kAtOk);
  EXPECT_EQ(final("\r\nERROR\r\n"), kAtError);
  EXPECT_EQ(final("\r\n+CME ERROR: 10\r\n"), kAtError);
  EXPECT_EQ(final("\r\n+CSQ: 17,99\r\n"), kAtNoAnswer);  // not yet
  EXPECT_EQ(final("\r\nOKAY\r\nTOKEN\r\n"), kAtNoAnswer);
  EXPECT_EQ(final("\x01\xff garbage OK garbage"), kAtNoAnswer);
}

TEST(AtAnswers, SignalStrength) {
  EXPECT_EQ(csq("AT+CSQ\r\r\n+CSQ: 21,99\r\n\r\nOK\r\n"), -71);
  EXPECT_EQ(csq("\r\n+CSQ: 0,0\r\n"), -113);
  EXPECT_EQ(csq("\r\n+CSQ: 31,0\r\n"), -51);
  EXPECT_EQ(csq("\r\n+CSQ: 99,99\r\n"), kSignalUnknown);
  EXPECT_EQ(csq("\r\n+CSQ: 32,99\r\n"), kSignalUnknown);
  EXPECT_EQ(csq("\r\n+CSQ: -5,99\r\n"), kSignalUnknown);
  EXPECT_EQ(csq("\r\n+csq:  9\r\n"), -95);
  // An unsolicited report before it, and the prefix only at a line's start.
  EXPECT_EQ(csq("\r\n^RSSI: 3\r\n+CSQ: 12,99\r\n"), -89);
  EXPECT_EQ(csq("\r\nX+CSQ: 12,99\r\n"), 12345);
  EXPECT_EQ(csq("\r\nOK\r\n"), 12345);
}

TEST(AtAnswers, OperatorAndNetwork) {
  Cops c = cops("AT+COPS?\r\r\n+COPS: 0,0,\"vodafone UK\",2\r\n\r\nOK\r\n");
  EXPECT_EQ(c.found, 1);
  EXPECT_EQ(c.name, "vodafone UK");
  EXPECT_EQ(c.network, 2);
  c = cops("\r\n+COPS: 0,0,\"T-Mobile, D\",7\r\n");  // a comma in the name
  EXPECT_EQ(c.name, "T-Mobile, D");
  EXPECT_EQ(c.network, 7);
  c = cops("\r\n+COPS: 0,0,\"O2 - UK\"\r\n");  // no access technology
  EXPECT_EQ(c.name, "O2 - UK");
  EXPECT_EQ(c.network, kNetworkUnknown);
  c = cops("\r\n+COPS: 0\r\n");  // not registered: no operator
  EXPECT_EQ(c.found, 1);
  EXPECT_EQ(c.name, "");
  EXPECT_EQ(c.network, kNetworkUnknown);
  // Hostile names: bytes outside printable ASCII dropped, cut at 32.
  c = cops("\r\n+COPS: 0,0,\"Ex\x1b" "[2J\x07\xc3\xa9" "ample\"\r\n");
  EXPECT_EQ(c.name, "Ex[2Jample");
  c = cops("\r\n+COPS: 0,0,\"" + std::string(100, 'A') + "\",2\r\n");
  EXPECT_EQ(c.name, std::string(32, 'A'));
  EXPECT_EQ(c.network, 2);
  c = cops("\r\n+COPS: 0,0,\"$(reboot)';`x`\",0\r\n");  // shown quoted, never run
  EXPECT_EQ(c.name, "$(reboot)';`x`");
  EXPECT_EQ(cops("\r\nOK\r\n").found, 0);
}

TEST(AtAnswers, RegistrationAndSim) {
  EXPECT_EQ(creg("\r\n+CREG: 0,1\r\n"), kRegHome);
  EXPECT_EQ(creg("\r\n+CREG: 2,5,\"00C3\",\"1A2B\",2\r\n"), kRegRoaming);
  EXPECT_EQ(creg("\r\n+CREG: 0,2\r\n"), kRegSearching);
  EXPECT_EQ(creg("\r\n+CREG: 0,3\r\n"), kRegDenied);
  EXPECT_EQ(creg("\r\n+CREG: 0,0\r\n"), kRegNone);
  EXPECT_EQ(creg("\r\n+CREG: 0,4\r\n"), kRegUnknown);
  EXPECT_EQ(creg("\r\n+CREG: 0,9\r\n"), kRegUnknown);
  EXPECT_EQ(creg("\r\n+CREG: 1\r\n"), kRegUnknown);  // an unsolicited report, not the answer
  EXPECT_EQ(cpin("AT+CPIN?\r\r\n+CPIN: READY\r\n\r\nOK\r\n"), kSimReady);
  EXPECT_EQ(cpin("\r\n+CPIN: SIM PIN\r\n"), kSimPin);
  EXPECT_EQ(cpin("\r\n+CPIN: SIM PUK\r\n"), kSimPuk);
  EXPECT_EQ(cpin("\r\n+CPIN: SIM PIN2\r\n"), kSimUnknown);
  EXPECT_EQ(cpin("\r\n+CME ERROR: 10\r\n"), kSimAbsent);
  EXPECT_EQ(cpin("\r\n+CME ERROR: SIM not inserted\r\n"), kSimAbsent);
  EXPECT_EQ(cpin("\r\n+CME ERROR: 13\r\n"), kSimUnknown);
  EXPECT_EQ(cpin("\r\nERROR\r\n"), -1);
}

}  // namespace
