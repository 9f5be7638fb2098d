// Serves simulated devices on real pseudo-terminals: one pty and one thread per device, optional line-rate pacing,
// boards replugged one after another on a device's line, and a JSON dump of what each board received and holds.
// Used by `nerid sim` and by tests in-process.
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
    // 0: each line has one board for good. Otherwise a board leaves its line after its reset, or once the host has
    // given up programming it (no line command for kStallMs after the first), stays away this long (the line is
    // silent, the pty stays: the fixture's adapter remains plugged in) and the next board answers: the next ID
    // (identity.id + index + count * board), the configured firmware, and the line's faults.
    double replugMs = 0;
    // Faults of one board only, by (device index, board index), both from 0; they replace the line's faults.
    std::map<std::pair<int, int>, SimFaults> boardFaults;
};

// How long a board waits for the next line command, once its programming began, before the operator swaps it.
constexpr double kStallMs = 3000;

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

    // Snapshot of a line's board, for in-process tests (taken under the line's lock): the one on the line, or while
    // the line is between boards, the one that left last.
    SimDevice Device(int index);
    // The device has hung up its line (its pty is closed); any thread.
    bool HungUp(int index);
    const std::vector<std::string>& Paths() const { return FPaths; }

private:
    struct Port {
        int master = -1;
        int slave = -1;  // kept open so the line discipline stays raw and the master never sees a hang-up
        std::string path;
        std::unique_ptr<SimDevice> device; // the board on the line; null while between boards
        std::vector<SimDevice> gone;       // the boards that have left, in order
        double backAtMs = 0;               // while between boards: when the next one answers
        int lineCommands = 0;              // the board's line commands seen, and when the last one came
        double lastLineMs = 0;
        int index = 0;
        double burstZero = 0;              // start of the port's burst grid (NowMs)
        std::mutex lock;
        std::thread thread;
    };

    void Serve(Port& port);
    void SendPaced(Port& port, const ABytes& bytes);
    // The first tick of the port's burst grid at or after t (NowMs); latencyMs > 0.
    double NextBurst(const Port& port, double t) const;
    void HangUp(Port& port);
    std::unique_ptr<SimDevice> NewBoard(int index, int board) const;
    // Replugging: the board leaves the line now; the next one comes when its time has come.
    void Leave(Port& port);
    void ReplugIfDue(Port& port);
    std::string DumpText();

    SimConfig FConfig;
    std::vector<std::unique_ptr<Port>> FPorts;
    std::vector<std::string> FPaths;
    std::atomic<bool> FStop{false};
    std::atomic<bool> FDumpDue{false};
    std::mutex FDumpLock;
};
