// The subcommands only POSIX builds have (the device simulator needs pseudo-terminals), and the console session:
// arguments and output are UTF-8 already.
#include "cli/commands.h"

#include "base/format.h"

void AddPlatformCommands(CLI::App& app) { AddSimCommand(app); }

TConsoleSession::TConsoleSession(int argc, char** argv) : FArgs(argv, argv + argc)
{
    for (std::string& a : FArgs)
        FArgv.push_back(a.data());
}

TConsoleSession::~TConsoleSession() = default;

std::string LatencyAdvice(const std::string& port, std::uint32_t latencyMs)
{
    const auto slash = port.rfind('/');
    const std::string tty = slash == std::string::npos ? port : port.substr(slash + 1);
    return Format("%s: the adapter's driver holds answers back for up to %u ms (its latency timer) and did not take "
                  "the low-latency request; each line pays for it. To lower it until the adapter is plugged in again: "
                  "echo 1 | sudo tee /sys/class/tty/%s/device/latency_timer",
                  port.c_str(), latencyMs, tty.c_str());
}
