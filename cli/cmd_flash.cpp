// nerid flash: checks a package, finds the devices, classifies them as the window does and programs those chosen,
// all at once with the window's programming workers; one overall progress bar on a terminal, a result per device.
#include "cli/commands.h"

#include <cstdio>
#include <iostream>
#include <unistd.h>

#include "base/error.h"
#include "base/format.h"
#include "base/texts.h"
#include "bootloader/workers.h"
#include "package/validate.h"
#include "timing/timing.h"
#include "cli/firmware.h"
#include "cli/flash_result.h"
#include "cli/headless.h"
#include "cli/station.h"

namespace {

// After the first Ctrl-C the workers finish the line under way and stop; this bounds the wait for their last
// report (a dead line's three attempts, each a frame and one re-send, take about 10.5 s at the updater's timing).
constexpr double kStopWaitMs = 20000;

struct TFlashOptions {
    std::string package;
    std::vector<std::string> ports;
    bool all = false, force = false, json = false;
    bool watch = false;
    TStationOptions station; // with --watch
};

const char* StateText(const TFlashResult& r)
{
    return r.Absent ? "absent" : r.State < 0 ? "not supported" : r.State == 0 ? "not required" : "needed";
}

const char* ResultText(const TFlashResult& r)
{
    return r.Absent ? "absent" : !r.Chosen ? "skipped" : r.Programmed ? "programmed" : "failed";
}

// The window's bar: the mean of the workers' percentages times ten, 0..1000.
std::uint32_t BarPosition(const std::vector<TFlashResult>& rows, std::uint32_t workers)
{
    std::uint32_t sum = 0;
    for (const TFlashResult& r : rows)
        sum += r.Percent;
    return workers ? sum * 10u / workers : 0;
}

void DrawBar(std::uint32_t pos)
{
    constexpr int kWidth = 40;
    const int full = static_cast<int>(pos * kWidth / 1000);
    std::printf("\r[%s%s] %5.1f%%", std::string(static_cast<std::size_t>(full), '#').c_str(),
                std::string(static_cast<std::size_t>(kWidth - full), '-').c_str(), pos / 10.0);
    std::fflush(stdout);
}

void PrintResults(const std::vector<TFlashResult>& rows, bool json)
{
    if (json) {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const TFlashResult& r : rows)
            list.push_back(FlashResultJson(r));
        std::cout << list.dump(2) << "\n";
        return;
    }
    for (const TFlashResult& r : rows)
        std::cout << FlashResultText(r) << "\n";
}

void RunFlash(const TFlashOptions& o)
{
    Lang = 1;
    // The package first: refused exactly as the updater would refuse it, before any port is touched.
    const ABytes container = FirmwareContainer(o.package);
    TZorelBootLoaderHexDataFile FH;
    const TPackageContents pkg = CheckPackage(FH, container);
    const auto FL = std::make_shared<const AZorelBootLoaderDataLines>(pkg.FL);
    const auto EE = std::make_shared<const AZorelBootLoaderDataLines>(pkg.EE);
    if (o.watch) {
        TStationOptions so = o.station;
        so.ports = o.ports;
        so.all = o.all;
        so.force = o.force;
        so.json = o.json;
        RunStation(so, pkg.B, FL, EE);
        return;
    }

    InstallInterruptHandler();
    std::vector<TFlashResult> rows;
    for (const TPortSearch& s : SearchPorts(PortsToUse(o.ports))) {
        TFlashResult r;
        r.Port = s.Port;
        if (!s.Ok) {
            // A port the user named is accounted for even when nothing answered there; discovery lists only devices.
            if (o.ports.empty())
                continue;
            r.Absent = true;
            r.Error = s.Error;
            rows.push_back(std::move(r));
            continue;
        }
        r.Before = s.DevID;
        r.State = ClassifyDevice(s.DevID, pkg.B);
        r.Chosen = r.State == 1 || (r.State == 0 && o.all) || (r.State < 0 && o.force);
        rows.push_back(std::move(r));
    }
    if (rows.empty())
        throw Exception("no device found");
    if (Interrupts() > 0) {
        for (TFlashResult& r : rows)
            if (r.Chosen)
                r.Error = "interrupted";
        PrintResults(rows, o.json);
        throw TExitCode{130};
    }

    const bool bar = !o.json && isatty(STDOUT_FILENO);
    std::uint32_t workers = 0, left = 0, shown = 0xFFFFFFFF;
    auto handler = [&](TCustomThreadCtrl* sender, std::uint32_t wParam, std::uint32_t lParam, std::uint32_t& res) {
        res = 0;
        const std::size_t index = wParam >> 16;
        const std::uint16_t code = wParam & 0xFFFF;
        if (index >= rows.size() || rows[index].Finished)
            return;
        if (TakeProgReport(rows[index], *static_cast<TZorelProgBootLoaderThreadCtrl*>(sender), code, lParam))
            --left;
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (!rows[i].Chosen)
            continue;
        auto w = std::make_unique<TZorelProgBootLoaderThreadCtrl>();
        w->SetSEvent(handler);
        w->SetParams(static_cast<std::uint16_t>(i), rows[i].Port);
        w->SetData(FL, EE);
        std::unique_ptr<TCustomThreadCtrl> base(std::move(w));
        try {
            StartWorker(base);
            ++workers;
            ++left;
        } catch (const std::exception& e) {
            rows[i].Error = e.what();
        }
    }

    TPumpedDispatcher& d = ToolDispatcher();
    double stopDeadline = 0;
    bool abandoned = false;
    int seen = 0; // interrupts already acted on
    while (left > 0) {
        d.PumpUntil([&] { return left == 0 || Interrupts() != seen || (bar && BarPosition(rows, workers) != shown); },
                    100);
        if (bar && BarPosition(rows, workers) != shown)
            DrawBar(shown = BarPosition(rows, workers));
        seen = Interrupts();
        if (seen > 0 && stopDeadline == 0)
            stopDeadline = NowMs() + kStopWaitMs;
        // A second Ctrl-C, or workers that do not come back: stop waiting for them.
        if (seen > 1 || (stopDeadline > 0 && NowMs() > stopDeadline)) {
            SetApplicationTerminating();
            abandoned = true;
            break;
        }
    }
    if (bar)
        std::printf("\n");
    for (TFlashResult& r : rows)
        if (r.Chosen && !r.Finished && r.Error.empty())
            r.Error = abandoned ? "interrupted" : "not started";
    PrintResults(rows, o.json);
    std::cout.flush();
    if (Interrupts() > 0)
        throw TExitCode{130};
    for (const TFlashResult& r : rows)
        if ((r.Chosen && !r.Programmed) || r.Absent)
            throw TExitCode{1};
}

} // namespace

bool TakeProgReport(TFlashResult& r, TZorelProgBootLoaderThreadCtrl& w, std::uint16_t code, std::uint32_t value)
{
    if (Interrupts() > 0)
        w.ThreadEnd(); // the line under way ends; the worker then fails without a reset
    if (code == kProgStarted) {
        r.Started = true;
        r.StartMs = NowMs();
    } else if (code == kProgProgress) {
        r.Percent = static_cast<std::uint8_t>(value & 0xFF);
    } else if (code == kProgDone || code == kProgFailed) {
        r.Finished = true;
        r.EndMs = NowMs();
        r.Programmed = code == kProgDone;
        r.Error = w.Error();
        return true;
    }
    return false;
}

nlohmann::ordered_json FlashResultJson(const TFlashResult& r)
{
    return {{"port", r.Port},
            {"state", StateText(r)},
            {"result", ResultText(r)},
            {"error", r.Error},
            {"id", r.Before.dID},
            {"version_before", r.Absent ? "" : VersionText(r.Before.dVerProg)},
            {"duration_ms", r.Finished ? static_cast<std::int64_t>(r.EndMs - r.StartMs + 0.5) : 0}};
}

std::string FlashResultText(const TFlashResult& r)
{
    if (r.Absent)
        return r.Port + ": absent: " + r.Error;
    std::string s = r.Port + ": " + ResultText(r) + " (" + StateText(r) + ", ID " +
                    Format("%.8llX", static_cast<unsigned long long>(r.Before.dID)) + ", v." +
                    VersionText(r.Before.dVerProg);
    if (r.Finished)
        s += Format(", %.1f s", (r.EndMs - r.StartMs) / 1000.0);
    s += ")";
    if (!r.Error.empty())
        s += ": " + r.Error;
    return s;
}

void AddFlashCommand(CLI::App& app)
{
    auto* cmd = app.add_subcommand(
        "flash", "Checks PACKAGE as the updater does, searches the ports, classifies each device against the package "
                 "as the updater's window does and programs, all at once, every device that needs the update. Exit "
                 "code 0 only when every device it set out to program was programmed; 1 otherwise (also when no "
                 "device was found, a port named with --port had no device, or the package is refused, with its "
                 "code text); 130 after Ctrl-C (the lines under way end, no device is reset after a failure, the "
                 "results so far are printed).");
    auto o = std::make_shared<TFlashOptions>();
    cmd->add_option("PACKAGE", o->package, "updater executable, block container or Intel HEX file")->required();
    cmd->add_option("--port", o->ports, "port to use (repeatable); default: every port discovery lists");
    cmd->add_flag("--all", o->all, "also program devices whose firmware is not older than the package's");
    cmd->add_flag("--force", o->force, "also program devices whose type, variant or revision differ");
    cmd->add_flag("--json", o->json,
                  "print a JSON list, one object per device found and per --port where none answered: port, state "
                  "(needed, not required, not supported, absent), result (programmed, failed, skipped, absent), "
                  "error, id, version_before, duration_ms");
    auto* watch = cmd->add_flag("--watch", o->watch,
                                "production station: search the ports again and again and program each board as it "
                                "is plugged in, once per placement, one result line (with --json one JSON object, "
                                "with finished as ISO 8601 UTC) per board as it happens; runs until Ctrl-C, then "
                                "prints a summary. Exit code 0 when no board failed, 1 otherwise, 130 on a second "
                                "Ctrl-C");
    cmd->add_option("--count", o->station.count, "with --watch: stop once N boards are programmed")
        ->check(CLI::Range(1, 1000000))
        ->needs(watch);
    cmd->add_option("--log", o->station.log,
                    "with --watch: also append each result as a JSON line to FILE, synced to the disk at once")
        ->needs(watch);
    cmd->callback([o] { RunFlash(*o); });
}
