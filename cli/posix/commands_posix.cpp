// The subcommands only POSIX builds have (the device simulator needs pseudo-terminals), and the console session:
// arguments and output are UTF-8 already.
#include "cli/commands.h"

void AddPlatformCommands(CLI::App& app) { AddSimCommand(app); }

TConsoleSession::TConsoleSession(int argc, char** argv) : FArgs(argv, argv + argc)
{
    for (std::string& a : FArgs)
        FArgv.push_back(a.data());
}

TConsoleSession::~TConsoleSession() = default;
