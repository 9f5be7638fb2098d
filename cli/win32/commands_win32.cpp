// Windows builds have no subcommand of their own: the device simulator needs pseudo-terminals, so Windows tests reach
// it through wine's mapping of a COM port to a Linux pseudo-terminal instead.
#include "cli/commands.h"

void AddPlatformCommands(CLI::App&) {}
