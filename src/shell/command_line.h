// The command line: options and the hub to connect to at start.
//
//   kivo [ADDRESS]        ADDRESS: host[:port], dchub://host[:port],
//                         nmdc://host[:port], nmdcs://host[:port][?kp=SHA256/...]
//   kivo -h | --help      the keys, the files, the address forms (stdout, 0)
//   kivo -V | --version   the version (stdout, 0)
//
// "--" ends the options. An unknown option, a second address or an address
// that is not a whole hub address is one line on stderr and exit status 2.
// Nothing here touches the terminal or the ClientState.
#pragma once

#include <cstdint>

#include "config/hub_address.h"

constexpr int COMMAND_EXIT_USAGE = 2;  // the exit status of a command line refused
constexpr int COMMAND_ERROR_BYTES = 200;  // one line, cut

enum CommandAction : uint8_t {
    COMMAND_RUN = 0,
    COMMAND_HELP = 1,
    COMMAND_VERSION = 2,
    COMMAND_ERROR = 3,
};

struct CommandLine {
    uint8_t action;  // a CommandAction
    uint8_t has_hub;  // 1 when an address was given: hub holds it
    HubAddress hub;
    char error[COMMAND_ERROR_BYTES];  // COMMAND_ERROR: the line to print, without its newline
};

// Reads argv[1..argc-1] into *out; returns out->action. Help and version win
// over an address given with them; the first fault found is the error.
int parse_command_line(int argc, const char* const* argv, CommandLine* out);

// A hub address as a person gives it on the command line: parse_hub_address
// (port 411 when none is given) held to a whole address: a host of letters,
// digits, '.', '-' and '_' that does not start with '-', a port of 1 to
// 65535, and neither cut to its field. 1, or 0 with *address emptied.
int parse_command_address(const char* text, HubAddress* address);

// The texts printed for --help and --version, each ending in a newline.
const char* command_help_text();
const char* command_version_text();
