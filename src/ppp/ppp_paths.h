#pragma once

// The dial configuration this program writes and pppd reads.
constexpr char kOptionsPath[] = "/etc/ppp/options.ppp3g";
constexpr char kOptionsExPath[] = "/etc/ppp/options.ppp3g.ex";
constexpr char kChatPath[] = "/etc/ppp/chat.ppp3g";
constexpr char kMessagesPath[] = "/var/log/messages";

// Where each is written before it is renamed into place.
constexpr char kOptionsTempPath[] = "/etc/ppp/options.ppp3g.new";
constexpr char kOptionsExTempPath[] = "/etc/ppp/options.ppp3g.ex.new";
constexpr char kChatTempPath[] = "/etc/ppp/chat.ppp3g.new";
