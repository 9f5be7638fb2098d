// A window under test: recording controls, a pumped main loop, the sample package and simulated devices on ptys.
#pragma once

#include "base/error.h"
#include "base/format.h"
#include "base/texts.h"
#include "app/window/window.h"
#include "package/validate.h"
#include "tests/window/fake_controls.h"
#include "cli/sample.h"
#include "sim/sim_runner.h"
#include "workers/main_thread.h"
#include "workers/pumped_dispatcher.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The sample package as the window reads it from its executable.
inline ABytes SamplePackage(const TSampleFirmware& s = {}) { return BuildSampleImage(s).BytesTo(); }

// The identity of a device that holds firmware like the sample's, at the given version and type.
inline SimIdentity DeviceLike(const TSampleFirmware& s, std::uint16_t version, std::uint16_t type)
{
    SimIdentity id;
    id.name = s.Name;
    id.version = version;
    id.type = type;
    id.variant = s.Variant;
    id.revision = s.Revision;
    return id;
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Lang = 0;
        dispatcher = std::make_shared<TPumpedDispatcher>();
        SetMainThreadDispatcher(dispatcher);
        package = SamplePackage();
    }

    void TearDown() override
    {
        window.reset();
        // Reports of workers still running go nowhere now; let them finish before the ptys go away.
        PumpFor(0);
        SetMainThreadDispatcher(nullptr);
        dispatcher->Stop();
        sims.clear();
        Lang = 0;
    }

    // Builds the window (not yet created) with the current package and port list.
    void MakeWindow(double startDelayMs = 0)
    {
        TWindowServices s;
        s.listPorts = [this] {
            std::lock_guard<std::mutex> g(portsLock);
            ++listCalls;
            return ports;
        };
        s.readPackage = [this](ABytes& p) {
            if (packageFailure)
                throw Exception(LangText(1));
            p = package;
            return !p.empty();
        };
        s.portAccessGroup = [this](const std::string& port) {
            std::lock_guard<std::mutex> g(portsLock);
            const auto it = refusedPorts.find(port);
            return it == refusedPorts.end() ? std::string() : it->second;
        };
        s.startDelayMs = startDelayMs;
        window = std::make_unique<TfrmNeridProgrammer>(fc.Controls(), s);
    }

    void Start(double startDelayMs = 0)
    {
        MakeWindow(startDelayMs);
        window->FormCreate();
    }

    // Adds a simulated device and puts its port on the list; returns its runner.
    SimRunner& AddDevice(const SimIdentity& id, const SimFaults& faults = {})
    {
        SimConfig cfg;
        cfg.identity = id;
        cfg.faults[0] = faults;
        sims.push_back(std::make_unique<SimRunner>(cfg));
        const auto paths = sims.back()->Open();
        sims.back()->Start();
        std::lock_guard<std::mutex> g(portsLock);
        ports.push_back(paths[0]);
        return *sims.back();
    }

    // A port this user may not open: the group owning its node, as the permission check would read it.
    void RefusePort(const std::string& path, const std::string& group)
    {
        std::lock_guard<std::mutex> g(portsLock);
        refusedPorts[path] = group;
    }
    void AddMissingPort(const std::string& path = "/nonexistent/nerid-port")
    {
        std::lock_guard<std::mutex> g(portsLock);
        ports.push_back(path);
    }

    // Runs the main loop (reports, timers) until done() or timeoutMs; returns done().
    bool RunUntil(const std::function<bool()>& done, double timeoutMs)
    {
        const double end = NowMs() + timeoutMs;
        while (NowMs() < end) {
            dispatcher->Pump();
            fc.FireDueTimers();
            if (done())
                return true;
            SleepMs(1);
        }
        return done();
    }

    void PumpFor(double ms)
    {
        RunUntil([] { return false; }, ms);
    }

    bool Listed() { return !window->AIP.empty(); }
    // The run's end: the status line says how it went (text 5 when every device was programmed, else text 10).
    bool Finished() { return !window->RunActive() && (fc.lblState.text == LangText(5) || fc.lblState.text == LangText(10)); }

    // The rows as the user sees them, top first.
    std::vector<FakeRowPanel*> Rows() { return fc.pnlData.OnScreen(); }

    // What a device must hold after a successful update: every flash and EEPROM line of the package.
    static void ExpectHoldsPackage(const SimDevice& d, const ABytes& pkg)
    {
        TZorelBootLoaderHexDataFile fh;
        const TPackageContents p = CheckPackage(fh, pkg);
        std::map<std::uint32_t, std::uint8_t> flash, eeprom;
        for (const auto& l : p.FL)
            for (std::size_t k = 0; k < l.D.size(); ++k)
                flash[l.A + static_cast<std::uint32_t>(k)] = l.D[k];
        for (const auto& l : p.EE)
            for (std::size_t k = 0; k < l.D.size(); ++k)
                eeprom[l.A + static_cast<std::uint32_t>(k)] = l.D[k];
        EXPECT_EQ(d.Flash(), flash);
        EXPECT_EQ(d.Eeprom(), eeprom);
        EXPECT_EQ(d.Resets(), 1);
    }

    FakeControls fc;
    std::shared_ptr<TPumpedDispatcher> dispatcher;
    std::unique_ptr<TfrmNeridProgrammer> window;
    ABytes package;
    bool packageFailure = false;
    std::mutex portsLock;
    std::vector<std::string> ports;
    std::map<std::string, std::string> refusedPorts; // port -> the group owning its node
    int listCalls = 0;
    std::vector<std::unique_ptr<SimRunner>> sims;
};
