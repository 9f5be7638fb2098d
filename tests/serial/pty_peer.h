// Test helper: a pseudo-terminal whose master side is driven by a scripted peer thread, standing in for a device.
// The test owns the pty; the controller under test opens SlavePath(). The script runs on its own thread and only
// touches the master descriptor.
#pragma once

#include "package/bytes.h"

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <stdexcept>
#include <stdlib.h>
#include <string>
#include <thread>
#include <unistd.h>

class PtyPeer {
public:
    PtyPeer()
    {
        FMaster = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (FMaster < 0 || grantpt(FMaster) != 0 || unlockpt(FMaster) != 0)
            throw std::runtime_error("no pseudo-terminal");
        char name[128];
        if (ptsname_r(FMaster, name, sizeof name) != 0)
            throw std::runtime_error("no pts name");
        FSlave = name;
    }
    ~PtyPeer()
    {
        Stop();
        CloseMaster();
    }
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    const std::string& SlavePath() const { return FSlave; }
    int Master() const { return FMaster; }

    // Runs script(*this) on the peer thread until it returns or Stop() is called.
    void Run(std::function<void(PtyPeer&)> script)
    {
        FThread = std::thread([this, script] { script(*this); });
    }
    void Stop()
    {
        FStop = true;
        if (FThread.joinable())
            FThread.join();
    }
    bool Stopping() const { return FStop; }

    // Reads exactly n bytes, or fewer when the wait ends (ms) or Stop() is called.
    ABytes Receive(std::size_t n, int waitMs = 2000)
    {
        ABytes out;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        while (out.size() < n && !FStop && std::chrono::steady_clock::now() < end) {
            pollfd p{FMaster, POLLIN, 0};
            if (poll(&p, 1, 5) <= 0 || !(p.revents & POLLIN))
                continue;
            std::uint8_t buf[512];
            const ssize_t k = ::read(FMaster, buf, std::min(sizeof buf, n - out.size()));
            if (k > 0)
                out.insert(out.end(), buf, buf + k);
        }
        return out;
    }
    void Send(const ABytes& data)
    {
        if (!data.empty() && ::write(FMaster, data.data(), data.size()) != static_cast<ssize_t>(data.size()))
            throw std::runtime_error("peer write failed");
    }
    // The device goes away: the slave side sees a hang-up and the node disappears.
    void CloseMaster()
    {
        if (FMaster >= 0)
            ::close(FMaster);
        FMaster = -1;
    }

private:
    int FMaster = -1;
    std::string FSlave;
    std::thread FThread;
    std::atomic<bool> FStop{false};
};
