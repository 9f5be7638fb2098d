// nerid flash: checks a package, finds the devices, classifies them as the window does and programs those chosen,
// all at once with the window's programming workers; one overall progress bar on a terminal, a result per device.
#include "cli/commands.h"

#include <cstdio>
#include <iostream>
#include <optional>
#include <set>
#include <unistd.h>

#include "base/error.h"
#include "base/utf8_path.h"
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
    bool fast = false;          // the line-rate exchange
    bool watch = false;
    TStationOptions station;    // with --watch
};


const char* StateText(std::int32_t s) { return s < 0 ? "not supported" : s == 0 ? "not required" : "needed"; }

// What happened to one device: everything a result line and a JSON object show, built in one place (ResultOf) and
// formatted in one place (ResultJson, ResultText), so that a field is added once for both.
struct TOutcome {
    std::string Port;
    std::string State;  // needed, not required, not supported
    std::string Result; // programmed, skipped, interrupted, port gone, not answering, refused, busy, absent, failed
    std::string Words;  // what happened as a sentence, with the line where one failed
    std::string Code;   // the worker's line code ("0xF002" flash line 2, "0xE001" EEPROM line 1), or empty
    std::uint64_t Id = 0;
    std::string VersionBefore;
    bool Timed = false;     // its worker ran to its end
    double DurationMs = 0;  // first report to last, when Timed
    std::uint32_t Resends = 0;              // requests sent again because the one before got no answer
    std::optional<std::uint32_t> LatencyMs; // the port driver's latency timer as read at open
};

TOutcome ResultOf(const TFlashResult& r, const AZorelBootLoaderDataLines& FL, const AZorelBootLoaderDataLines& EE)
{
    TOutcome o;
    o.Port = r.Port;
    o.State = r.Absent ? "absent" : StateText(r.State);
    o.Id = r.Before.dID;
    o.VersionBefore = r.Absent ? "" : VersionText(r.Before.dVerProg);
    o.Timed = r.Finished;
    o.DurationMs = r.Finished ? r.EndMs - r.StartMs : 0;
    o.Resends = r.Resends;
    o.LatencyMs = r.LatencyMs;
    auto set = [&o](const char* result, std::string words, std::string code = "") {
        o.Result = result;
        o.Words = std::move(words);
        o.Code = std::move(code);
        return o;
    };
    // A named port where no device answered: the search's words (not available, not responding, busy, no access).
    if (r.Absent)
        return set(r.Refused ? "no access" : "absent", r.Error);
    if (!r.Chosen)
        return set("skipped", "skipped");
    // The worker's text names the last line that failed: "update error 0xF002" (flash) or "... 0xE002" (EEPROM).
    const std::size_t at = r.Error.rfind(" 0x");
    const bool lineCode = at != std::string::npos && r.Error.size() == at + 7 &&
                          (r.Error[at + 3] == 'F' || r.Error[at + 3] == 'E');
    const std::string code = lineCode ? r.Error.substr(at + 1) : "";
    std::string line;
    if (lineCode) {
        const bool flash = r.Error[at + 3] == 'F';
        const std::size_t i = std::stoul(r.Error.substr(at + 4), nullptr, 16);
        const AZorelBootLoaderDataLines& lines = flash ? FL : EE;
        line = Format("%s line %zu", flash ? "flash" : "EEPROM", i);
        if (i < lines.size())
            line += Format(" (%s 0x%.4X)", flash ? "address" : "offset", lines[i].A);
    }
    if (r.Programmed) {
        // A device that needed re-sends has a poor contact, or needs the updater's own pace (see --fast).
        std::string words = "programmed";
        if (r.Resends > 0)
            words += ", after " + Plural(r.Resends, "re-send", "re-sends");
        if (lineCode)
            words += (r.Resends > 0 ? ", the last at " : ", after re-sends of ") + line;
        return set("programmed", words, code);
    }
    if (r.Interrupted)
        return set("interrupted",
                   lineCode ? "interrupted before " + line + "; the device is not reset: program it again"
                            : "interrupted before it started",
                   code);
    if (!r.Started && !r.Error.empty() && !lineCode)
        return set("failed", "not started: " + r.Error);
    if (r.Error == LangText(12)) {
        const std::string probe = r.Probe.value_or("");
        return set(probe.rfind("busy", 0) == 0 ? "busy" : "absent", probe.empty() ? r.Error : probe);
    }
    if (r.Error == LangText(13))
        return set("not answering", "the device did not answer its identity request before the first line");
    if (lineCode && r.Percent == 100)
        return set("failed", "every line was written, but the device did not take the reset command", code);
    if (!lineCode)
        return set("failed", r.Error.empty() ? "failed" : r.Error);
    // Without a look at the port after the failure (a station moves on at once), the line is all there is to say.
    if (!r.Probe)
        return set("failed", "failed at " + line, code);
    if (r.Probe->empty())
        return set("refused", "refused by the device at " + line + ": it still answers, but did not take the line",
                   code);
    if (r.Probe->rfind("absent", 0) == 0 || r.Probe->rfind("busy", 0) == 0)
        return set("port gone", "the port went away at " + line + " (unplugged?)", code);
    return set("not answering", "the device stopped answering at " + line, code);
}

nlohmann::ordered_json ResultJson(const TOutcome& o)
{
    return {{"port", o.Port},
            {"state", o.State},
            {"result", o.Result},
            {"words", o.Words},
            {"code", o.Code},
            {"id", o.Id},
            {"version_before", o.VersionBefore},
            {"duration_ms", o.Timed ? static_cast<std::int64_t>(o.DurationMs + 0.5) : 0},
            {"resends", o.Resends},
            {"latency_ms", o.LatencyMs ? nlohmann::ordered_json(*o.LatencyMs) : nullptr}};
}

// "PORT: WORDS (STATE, ID 00000001, v.1.00, 2.3 s, 0 re-sends, latency 16 ms) [0xF002]"; "PORT: absent: WORDS"
std::string ResultText(const TOutcome& o)
{
    if (o.State == "absent") // nothing answered there: no device to describe
        return o.Port + ": " + o.Result + ": " + o.Words;
    std::string t = o.Port + ": " + o.Words + " (" + o.State +
                    Format(", ID %.8llX, v.", static_cast<unsigned long long>(o.Id)) + o.VersionBefore;
    if (o.Timed)
        t += Format(", %.1f s", o.DurationMs / 1000.0);
    t += ", " + Plural(o.Resends, "re-send", "re-sends");
    if (o.LatencyMs)
        t += Format(", latency %u ms", *o.LatencyMs);
    t += ")";
    if (!o.Code.empty())
        t += " [" + o.Code + "]";
    return t;
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

void PrintResults(const std::vector<TFlashResult>& rows, const TPackageContents& pkg, bool json)
{
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const TFlashResult& r : rows) {
        if (json)
            list.push_back(FlashResultJson(r, pkg.FL, pkg.EE));
        else
            std::cout << FlashResultText(r, pkg.FL, pkg.EE) << "\n";
    }
    if (json)
        std::cout << list.dump(2) << "\n";
}

// After line failures, one identity request to each such port tells a device that still answers (it refused the
// line) from one that stopped and from a port that went away.
void ProbeFailures(std::vector<TFlashResult>& rows)
{
    std::vector<std::string> ports;
    std::vector<std::size_t> index;
    for (std::size_t k = 0; k < rows.size(); ++k)
        if (rows[k].Chosen && rows[k].Finished && !rows[k].Programmed && rows[k].Error != LangText(13)) {
            ports.push_back(rows[k].Port);
            index.push_back(k);
        }
    if (ports.empty())
        return;
    const std::vector<TPortSearch> found = SearchPorts(ports);
    for (std::size_t j = 0; j < found.size(); ++j)
        rows[index[j]].Probe = found[j].Ok ? "" : found[j].Error;
}

// A slow adapter is named once per run of the tool, on the error stream, whatever the results go to.
void AdviseLatencyOnce(const std::string& port, std::uint32_t latencyMs, bool bar)
{
    static std::set<std::string> advised;
    if (!advised.insert(port).second)
        return;
    std::cerr << (bar ? "\n" : "") << LatencyAdvice(port, latencyMs) << "\n";
}

void RunFlash(const TFlashOptions& o)
{
    Lang = 1;
    // The package first: refused exactly as the updater would refuse it, before any port is touched.
    TZorelBootLoaderHexDataFile FH;
    const TPackageContents pkg = CheckFirmware(ReadFirmware(Utf8Path(o.package)), FH, false);
    const auto FL = std::make_shared<const AZorelBootLoaderDataLines>(pkg.FL);
    const auto EE = std::make_shared<const AZorelBootLoaderDataLines>(pkg.EE);

    if (o.watch) {
        TStationOptions so = o.station;
        so.ports = o.ports;
        so.all = o.all;
        so.force = o.force;
        so.json = o.json;
        so.fast = o.fast;
        RunStation(so, pkg.B, FL, EE);
        return;
    }

    InstallInterruptHandler();
    std::vector<TFlashResult> rows;
    std::vector<TPortSearch> refused; // ports this user may not open: the reason a search may find nothing
    std::string why;                  // the ports that gave no device, in words
    for (const TPortSearch& s : SearchPorts(PortsToUse(o.ports))) {
        if (s.Refused)
            refused.push_back(s);
        TFlashResult r;
        r.Port = s.Port;
        if (!s.Ok) {
            // A port the user named is accounted for even when nothing answered there; discovery lists only devices.
            if (!o.ports.empty()) {
                r.Absent = true;
                r.Refused = s.Refused;
                r.Error = s.Error;
                rows.push_back(std::move(r));
            }
            // The access text names its port itself.
            why += (why.empty() ? "" : "; ") + (s.Refused ? s.Error : s.Port + ": " + s.Error);
            continue;
        }
        r.Before = s.DevID;
        r.State = ClassifyDevice(s.DevID, pkg.B);
        r.Chosen = r.State == 1 || (r.State == 0 && o.all) || (r.State < 0 && o.force);
        rows.push_back(std::move(r));
    }
    if (rows.empty()) {
        // A port this user may not open is a row of its own: the one thing here that the user can mend.
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const TPortSearch& s : refused)
            list.push_back({{"port", s.Port}, {"result", "no access"}, {"words", s.Error}, {"code", ""}});
        if (o.json)
            std::cout << list.dump(2) << "\n" << std::flush;
        std::cerr << "no device found" << (why.empty() ? std::string(" (no port to search)") : " (" + why + ")")
                  << "\n";
        throw TExitCode{1};
    }
    if (Interrupts() > 0) {
        for (TFlashResult& r : rows)
            r.Interrupted = true;
        PrintResults(rows, pkg, o.json);
        throw TExitCode{InterruptExitCode()};
    }

    const bool bar = !o.json && isatty(STDOUT_FILENO);
    std::uint32_t workers = 0, left = 0, shown = 0xFFFFFFFF;
    auto handler = [&](TCustomThreadCtrl* sender, std::uint32_t wParam, std::uint32_t lParam, std::uint32_t& res) {
        res = 0;
        const std::size_t index = wParam >> 16;
        const std::uint16_t code = wParam & 0xFFFF;
        if (index >= rows.size() || rows[index].Finished)
            return;
        TFlashResult& r = rows[index];
        if (TakeProgReport(r, *static_cast<TZorelProgBootLoaderThreadCtrl*>(sender), code, lParam)) {
            if (o.fast && r.LatencyMs && *r.LatencyMs > 2)
                AdviseLatencyOnce(r.Port, *r.LatencyMs, bar);
            --left;
        }
    };
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (!rows[i].Chosen)
            continue;
        auto w = std::make_unique<TZorelProgBootLoaderThreadCtrl>();
        w->SetSEvent(handler);
        w->SetParams(static_cast<std::uint16_t>(i), rows[i].Port);
        w->SetData(FL, EE);
        w->SetFastExchange(o.fast);
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
    const bool interrupted = Interrupts() > 0;
    for (TFlashResult& r : rows) {
        if (r.Chosen && !r.Finished && r.Error.empty())
            r.Error = abandoned ? "no report from its worker" : "not started";
        r.Interrupted = interrupted;
    }
    if (!interrupted)
        ProbeFailures(rows);
    PrintResults(rows, pkg, o.json);
    std::cout.flush();
    if (interrupted)
        throw TExitCode{InterruptExitCode()};
    for (const TFlashResult& r : rows)
        if (r.Absent || (r.Chosen && !r.Programmed))
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
        r.Resends = w.Resends();
        r.LatencyMs = w.LatencyMs();
        return true;
    }
    return false;
}

nlohmann::ordered_json FlashResultJson(const TFlashResult& r, const AZorelBootLoaderDataLines& FL,
                                       const AZorelBootLoaderDataLines& EE)
{
    return ResultJson(ResultOf(r, FL, EE));
}

std::string FlashResultText(const TFlashResult& r, const AZorelBootLoaderDataLines& FL,
                            const AZorelBootLoaderDataLines& EE)
{
    return ResultText(ResultOf(r, FL, EE));
}

void AddFlashCommand(CLI::App& app)
{
    auto* cmd = app.add_subcommand(
        "flash", "Checks PACKAGE as the updater does, searches the ports, classifies each device against the package "
                 "as the updater's window does and programs, all at once, every device that needs the update. Exit "
                 "code 0 only when every device it set out to program was programmed; 1 otherwise (also when no "
                 "device was found, a port named with --port had no device, or the package is refused, saying "
                 "why); 130 after Ctrl-C, 143 after SIGTERM, 129 after SIGHUP (a closed terminal or SSH session): "
                 "the lines under way end, no device is reset after a failure, the results so far are printed.");
    auto o = std::make_shared<TFlashOptions>();
    cmd->add_option("PACKAGE", o->package, "updater executable, block container or Intel HEX file")->required();
    cmd->add_option("--port", o->ports, "port to use (repeatable); default: every port discovery lists");
    cmd->add_flag("--all", o->all, "also program devices whose firmware is not older than the package's");
    cmd->add_flag("--force", o->force, "also program devices whose type, variant or revision differ");
    cmd->add_flag("--json", o->json,
                  "print a JSON list, one object per device found and per --port where none answered: port, state "
                  "(needed, not required, not supported, absent), result (programmed, skipped, interrupted, port "
                  "gone, not answering, refused, busy, absent, no access, failed), words, code, id, version_before, "
                  "duration_ms, resends (requests sent again because the one before got no answer), latency_ms (the "
                  "port driver's latency timer as read at open, null where there is none); [] when no device "
                  "answered, {\"error\": {\"code\", \"message\"}} when the package is refused");
    cmd->add_flag("--fast", o->fast,
                  "line-rate exchange: look for each answer from the moment the request is written instead of "
                  "waiting the request's own time first, and ask the port's driver for low latency while it is "
                  "open; the time-outs and re-sends are the updater's. For devices that take a request at any time "
                  "after their answer: a rising resends count means the device needs the updater's pace");
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
