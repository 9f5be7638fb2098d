// Windows builds have no subcommand of their own: the device simulator needs pseudo-terminals, so Windows tests reach
// it through wine's mapping of a COM port to a Linux pseudo-terminal instead.
#include "cli/commands.h"

#include "base/format.h"

void AddPlatformCommands(CLI::App&) {}

std::string LatencyAdvice(const std::string& port, std::uint32_t latencyMs)
{
    // The value lives in the driver's device key, which only an administrator may change.
    return Format("%s: the adapter's driver holds answers back for up to %u ms (its latency timer); each line pays "
                  "for it. To lower it, as an administrator: Device Manager > Ports (COM & LPT) > %s > Properties > "
                  "Port Settings > Advanced > Latency Timer (msec): 1, then plug the adapter in again.",
                  port.c_str(), latencyMs, port.c_str());
}
