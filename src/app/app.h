// The process frame: option parsing, dispatch on the command word and the
// signal set-up of the 3g daemon.
#pragma once

#include <getopt.h>
#include <stddef.h>

#include "app/option_table.h"

// The command line's values: filled while the options are parsed,
// read-only afterwards (the 3g daemon hands the six dial values to the
// supervisor once, which gives them to every bring-up it runs). Each is
// NUL-terminated within its width.
constexpr size_t kOptionWidth = 64;
constexpr size_t kQosBufWidth = 256;
constexpr size_t kLanHWidth = 24;

// cmd, n3g_CardName, n3g_Apn, n3g_Dial, n3g_User, n3g_Pass, n3g_Pin (64
// bytes each), qosBuf (256) and LanH (24), as app/option_table.h lists them.
#define LINK3G_DECLARE_BUFFER(name, letter, buffer, width, forms, what) extern char buffer[width];
LINK3G_OPTIONS(LINK3G_DECLARE_BUFFER)
#undef LINK3G_DECLARE_BUFFER

// The long options that fill the option buffers, ended by an all-zero
// entry; each value is the option's short letter. The parser reads them
// together with --help and --version, which fill nothing.
extern const struct option longopts[];

enum ParsedAction {
  kRunCommand,   // the job of the command word
  kShowHelp,     // --help was given (it wins over --version)
  kShowVersion,  // --version was given
};

// Fills the option buffers from the command line. Anything the parser does
// not accept, and a value longer than its buffer holds, prints
// "msg error.\n" and leaves that buffer as it was; parsing goes on.
ParsedAction parse_options(int argc, char** argv);

// Runs the job of the command word in cmd and returns the exit status;
// returns for the one-shot commands and for unknown words (status 0).
int dispatch_command();

// --help: the commands, the options and their limits, the manual.
void print_usage();
// --version: "link3g VERSION".
void print_version();

// SIGINT to its default action: it ends the daemon, even when whoever
// started it left it ignored (a shell does so for a background command).
void RestoreStopSignal();
void InstallSignalHandlers();
void Term_Sig_entry(int sig);
void Bad_Sig_entry(int sig);
