// The subcommands only POSIX builds have: the device simulator needs pseudo-terminals.
#include "cli/commands.h"

void AddPlatformCommands(CLI::App& app) { AddSimCommand(app); }
