// The pppd options files and the comgt chat script the script writers
// leave, byte for byte, as the writer tests and the daemon's scenarios both
// expect them.
#pragma once

#include <string>

namespace dial_files {

const std::string kCommonOptions =
    "460800\n";  // follows the tty line
const std::string kPlainOptions =
    "modem\ncrtscts\ndebug\nnoauth\nnodetach\nnopcomp\nnoaccomp\nnovj\npersist\nmtu 1454\n"
    "nobsdcomp\nipcp-accept-local\nipcp-accept-remote\nusepeerdns\ndefaultroute\nnodeflate\n";
const std::string kDefaultOnly = "noipdefault\nlcp-echo-interval 6\nlcp-echo-failure 12\nnodeflate\n";

inline std::string connect_lines(const std::string& tty) {
  return "connect \"/bin/comgt -d " + tty + " -s /etc/ppp/chat.ppp3g\"\n" +
         "disconnect \"/bin/comgt -d " + tty + " -s /etc/disconn.scr\"\n";
}

inline std::string step(const std::string& send, const std::string& reply, const std::string& label) {
  return "send \"" + send + "^m\"\nwaitfor 10 \"" + reply +
         "\",\"ERR\",\"ERROR\"\nif % = -1 goto timeerror\nif % = 0 goto " + label +
         "\nif % = 1 goto error\nif % = 2 goto error\n:" + label + "\n";
}

const std::string kChatHead = "opengt\nset com 460800n81\nset senddelay 0.05\nwaitquiet 1 0.2\n";
const std::string kChatTail =
    "print \"CONNECTED\\n\"\nexit 0\n:error\nprint \"CONNECT ERROR\\n\"\nexit 1\n"
    ":timeerror\nprint \"CONNECT TIMEOUT\\n\"\nexit 1\n";

struct Files {
  std::string options_ex, options, chat;
};

// The GSM/HSDPA family (1) with plain values (no quoting needed).
inline Files gsm(const std::string& tty, const std::string& apn, const std::string& dial,
                 const std::string& user, const std::string& password) {
  std::string head = tty + "\n" + kCommonOptions + "user " + user + "\npassword " + password + "\n" +
                     kPlainOptions + kDefaultOnly;
  std::string chat = kChatHead + step("AT", "OK", "next1") + step("AT+CFUN=1", "OK", "next2") +
                     step("AT+CGDCONT=1,\\\"IP\\\",\\\"" + apn + "\\\",,0,0", "OK", "next3") +
                     step("ATDT" + dial, "CONNECT", "next4") + kChatTail;
  return {head, head + connect_lines(tty), chat};
}

}  // namespace dial_files
