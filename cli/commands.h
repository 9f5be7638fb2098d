// The nerid subcommands: each cmd_*.cpp adds one to the application; nerid_main.cpp calls them in help order.
// A subcommand's callback raises Exception with the text to print; nerid_main prints it and exits with 1. A callback
// that has printed its results and only needs a non-zero exit code raises TExitCode.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <string>
#include <vector>

void AddContainerCommand(CLI::App& app);
void AddPackCommand(CLI::App& app);
void AddInfoCommand(CLI::App& app);
void AddSearchCommand(CLI::App& app);
void AddFlashCommand(CLI::App& app);
void AddVerifyCommand(CLI::App& app);
void AddSimCommand(CLI::App& app); // POSIX builds only
// The subcommands of this platform (posix/ or win32/).
void AddPlatformCommands(CLI::App& app);
// For a person: the port's driver holds answers back for latencyMs, and how to lower it on this platform.
std::string LatencyAdvice(const std::string& port, std::uint32_t latencyMs);

// For the lifetime of main (platform member, posix/ or win32/): the program's arguments as UTF-8, and output that
// reads as UTF-8. On Windows the arguments come from the UTF-16 command line (argv is in the ANSI code page, which
// loses every character outside it) and a console shows UTF-8 output until the tool ends; a file or pipe gets the
// UTF-8 bytes unchanged. Elsewhere argv is passed through.
class TConsoleSession {
public:
    TConsoleSession(int argc, char** argv);
    ~TConsoleSession();
    TConsoleSession(const TConsoleSession&) = delete;
    TConsoleSession& operator=(const TConsoleSession&) = delete;
    int Argc() const { return static_cast<int>(FArgv.size()); }
    char** Argv() { return FArgv.data(); }

private:
    std::vector<std::string> FArgs;
    std::vector<char*> FArgv;
    unsigned FConsoleCodePage = 0; // to restore; 0: left as it was
};

// Ends the tool with this exit code once a subcommand has printed all it has to say.
struct TExitCode {
    int Code;
};
