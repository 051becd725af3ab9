#pragma once

// Exit statuses of the status command, as init scripts use them.
constexpr int kStatusLinkUp = 0;
constexpr int kStatusLinkNotUp = 1;
constexpr int kStatusNoDaemon = 3;

// `link3g --cmd status`: prints what the running 3g daemon's status file
// says, with ppp0's byte counters, and returns kStatusLinkUp,
// kStatusLinkNotUp or kStatusNoDaemon. The file is outside input: it is
// parsed strictly, never run. A file whose pid is not the lock holder's is
// not taken.
int run_status_command();
