// The subcommands only POSIX builds have: the device simulator needs pseudo-terminals.
#include "cli/commands.h"

#include "base/format.h"

void AddPlatformCommands(CLI::App& app) { AddSimCommand(app); }

std::string LatencyAdvice(const std::string& port, std::uint32_t latencyMs)
{
    const auto slash = port.rfind('/');
    const std::string tty = slash == std::string::npos ? port : port.substr(slash + 1);
    return Format("%s: the adapter's driver holds answers back for up to %u ms (its latency timer) and did not take "
                  "the low-latency request; each line pays for it. To lower it until the adapter is plugged in again: "
                  "echo 1 | sudo tee /sys/class/tty/%s/device/latency_timer",
                  port.c_str(), latencyMs, tty.c_str());
}
