#pragma once

// The dial configuration this program writes and pppd reads.
constexpr char kOptionsPath[] = "/etc/ppp/options.ppp3g";
constexpr char kOptionsExPath[] = "/etc/ppp/options.ppp3g.ex";
constexpr char kChatPath[] = "/etc/ppp/chat.ppp3g";
constexpr char kMessagesPath[] = "/var/log/messages";
