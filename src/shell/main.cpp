// The process entry: the command line first, then everything happens in
// client_main. Help, the version and a refused command line are printed and
// end the process before the terminal is taken or the single-instance rule
// is looked at. The terminal is taken when the main screen first runs, and
// given back when it ends.
#include <cstdio>

#include "platform/display.h"
#include "shell/command_line.h"
#include "shell/startup.h"

int main(int argc, char** argv) {
    static CommandLine command;  // its fields are large enough to keep off the stack
    switch (parse_command_line(argc, argv, &command)) {
    case COMMAND_HELP:
        fputs(command_help_text(), stdout);
        return fflush(stdout) == 0 ? 0 : 1;
    case COMMAND_VERSION:
        fputs(command_version_text(), stdout);
        return fflush(stdout) == 0 ? 0 : 1;
    case COMMAND_ERROR:
        fprintf(stderr, "%s\n", command.error);
        return COMMAND_EXIT_USAGE;
    default:
        break;
    }
    if (display_prefer_terminal() != 0) return 1;
    int result = client_main(KIVO_INSTANCE, command.has_hub ? &command.hub : nullptr);
    display_stop();
    return result;
}
