// The command line (see command_line.h).
//
// Reaches g_state: nothing.
#include "shell/command_line.h"

#include <cstring>

#include "platform/platform.h"

namespace {

const char DEFAULT_HUB_PORT[] = "411";  // NMDC's port, as favourites take it
constexpr int ARGUMENT_SHOWN_BYTES = 100;  // of a refused argument, in its error line
const char ARGUMENT_TAIL[] = " (see kivo --help)";

const char HELP_TEXT[] =
    "Usage: kivo [ADDRESS]\n"
    "       kivo --help | --version\n"
    "\n"
    "Kivo is a small Direct Connect (NMDC) client for the terminal: one hub at a\n"
    "time, public and private chat, the hub's users, search and downloads.\n"
    "With ADDRESS it connects to that hub at start; without it, Menu > Connect\n"
    "connects to the first hub in Favorites.xml.\n"
    "\n"
    "Options:\n"
    "  -h, --help      print this text and exit\n"
    "  -V, --version   print the version and exit\n"
    "\n"
    "ADDRESS (port 411 when none is given):\n"
    "  host[:port]  dchub://host[:port]  nmdc://host[:port]     plain NMDC\n"
    "  nmdcs://host[:port][?kp=SHA256/<52 base32 characters>]   NMDC over TLS,\n"
    "                  refused when the hub's certificate has another keyprint\n"
    "\n"
    "Keys:\n"
    "  F1 menu (left soft key)       F2 search (right soft key)\n"
    "  Enter   send, choose, act     Esc back (closes)  Backspace delete\n"
    "  Up/Down fields and lists      PageUp/PageDown/End  scroll the chat\n"
    "  Ctrl-C  close the screen on top   digits choose in a menu\n"
    "  A chat line \">nick text\" goes to that user privately.\n"
    "\n"
    "Files:\n"
    "  Favorites.xml   the hubs, read once at start: the one beside the\n"
    "                  executable when there is one; otherwise, when that folder\n"
    "                  is in /usr or cannot be written, $XDG_CONFIG_HOME/kivo/\n"
    "                  (~/.config/kivo/ when XDG_CONFIG_HOME is unset or not an\n"
    "                  absolute path). Created empty when absent.\n"
    "  ./              downloads go to the current directory, each through a\n"
    "                  part file; an existing file is never replaced.\n"
    "\n"
    "Exit status: 0, 1 when the terminal or the single-instance lock cannot be\n"
    "used, 2 for a bad command line.\n";

const char VERSION_TEXT[] = "kivo " KIVO_VERSION_TEXT "\n";

void refuse(CommandLine* out, const char* what, const char* text) {
    out->action = COMMAND_ERROR;
    text_copy(out->error, COMMAND_ERROR_BYTES, "kivo: ");
    text_append(out->error, COMMAND_ERROR_BYTES, what);
    // The argument as given, cut, its control bytes shown as '?': the line
    // stays one line and carries no terminal escape.
    int at = text_append(out->error, COMMAND_ERROR_BYTES, "");
    int room = COMMAND_ERROR_BYTES - (int)sizeof ARGUMENT_TAIL - at;
    for (int i = 0; text[i] != '\0' && i < room && i < ARGUMENT_SHOWN_BYTES; i++) {
        unsigned char c = (unsigned char)text[i];
        out->error[at++] = c < 0x20 || c == 0x7f ? '?' : (char)c;
    }
    out->error[at] = '\0';
    text_append(out->error, COMMAND_ERROR_BYTES, ARGUMENT_TAIL);
}

}  // namespace

int parse_command_address(const char* text, HubAddress* address) {
    // No cut (-1): an address longer than its fields is refused below, never
    // shortened. The parser checks the host's characters and the port's range.
    bool whole = parse_hub_address(text, DEFAULT_HUB_PORT, -1, address) == 1;
    // A field filled to its capacity may have been cut.
    whole = whole && (int)strlen(address->host) < HUB_HOST_BYTES - 1;
    if (!whole) *address = HubAddress{};
    return whole ? 1 : 0;
}

int parse_command_line(int argc, const char* const* argv, CommandLine* out) {
    *out = CommandLine{};
    bool options_end = false;
    CommandLine error{};  // the first fault found, kept apart until help and version are ruled out
    for (int i = 1; i < argc; i++) {
        const char* arg = argv[i];
        bool error_seen = error.action == COMMAND_ERROR;
        if (!options_end && arg[0] == '-' && arg[1] != '\0') {
            if (strcmp(arg, "--") == 0) options_end = true;
            else if (strcmp(arg, "-h") == 0 || strcmp(arg, "--help") == 0) out->action = COMMAND_HELP;
            else if (strcmp(arg, "-V") == 0 || strcmp(arg, "--version") == 0) {
                if (out->action != COMMAND_HELP) out->action = COMMAND_VERSION;
            } else if (!error_seen) {
                refuse(&error, "unknown option: ", arg);
            }
            continue;
        }
        if (out->has_hub) {
            if (!error_seen) refuse(&error, "only one hub address may be given: ", arg);
        } else if (parse_command_address(arg, &out->hub)) {
            out->has_hub = 1;
        } else if (!error_seen) {
            refuse(&error, "not a hub address: ", arg);
        }
    }
    if (out->action == COMMAND_HELP || out->action == COMMAND_VERSION) return out->action;
    if (error.action == COMMAND_ERROR) *out = error;
    return out->action;
}

const char* command_help_text() { return HELP_TEXT; }
const char* command_version_text() { return VERSION_TEXT; }
