// Serves simulated devices on real pseudo-terminals: one pty and one thread per device, optional line-rate pacing,
// and a JSON dump of what each device received and holds. Used by `nerid sim` and by tests in-process.
// Threading: Start() spawns the device threads; Stop() (any thread) ends them; the dump is written under a lock.
#pragma once

#include "sim/sim_device.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct SimConfig {
    int count = 1;
    SimIdentity identity;            // device k gets identity.id + k
    std::map<int, SimFaults> faults; // by device index, from 0
    double writeMs = 0;              // device write time per line, milliseconds
    std::uint32_t baud = 0;          // 0: answer at once; else pace both directions at 10 bits a byte
    double latencyMs = 0;            // an adapter's latency timer: what a device sends reaches the host in bursts,
                                     // on a grid of this many ms per port (0: as it leaves the line)
    std::string dumpPath;            // empty: no dump
};

class SimRunner {
public:
    explicit SimRunner(SimConfig config);
    ~SimRunner(); // stops the threads and closes the ptys

    SimRunner(const SimRunner&) = delete;
    SimRunner& operator=(const SimRunner&) = delete;

    // Opens the pseudo-terminals (raw mode) and returns the path of each device's port (/dev/pts/N), in device
    // order. Throws Exception with the system's message when a pty cannot be made.
    std::vector<std::string> Open();
    // Starts serving every device.
    void Start();
    // Ends every device thread (idempotent); writes the dump once more.
    void Stop();
    // Writes the dump now (no-op without a dump path). False when the file could not be written.
    bool Dump();
    // Writes the dump if a device has been reset or has hung up since the last one; the owner calls it now and then.
    // False when that write failed.
    bool DumpIfDue();

    // Snapshot of a device, for in-process tests (taken under the device's lock).
    SimDevice Device(int index);
    // The device has hung up its line (its pty is closed); any thread.
    bool HungUp(int index);
    const std::vector<std::string>& Paths() const { return FPaths; }

private:
    struct Port {
        int master = -1;
        int slave = -1;  // kept open so the line discipline stays raw and the master never sees a hang-up
        std::string path;
        std::unique_ptr<SimDevice> device;
        double deafMs = 0;      // the device's deafness after a reply (its fault)
        double burstZero = 0;   // start of the port's burst grid (NowMs)
        std::mutex lock;
        std::thread thread;
    };

    void Serve(Port& port);
    void SendPaced(Port& port, const ABytes& bytes);
    // The first tick of the port's burst grid at or after t (NowMs); latencyMs > 0.
    double NextBurst(const Port& port, double t) const;
    void HangUp(Port& port);
    std::string DumpText();

    SimConfig FConfig;
    std::vector<std::unique_ptr<Port>> FPorts;
    std::vector<std::string> FPaths;
    std::atomic<bool> FStop{false};
    std::atomic<bool> FDumpDue{false};
    std::mutex FDumpLock;
};
