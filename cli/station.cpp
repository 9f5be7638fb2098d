// The production station of `nerid flash --watch`: every fixture has its own cycle of search and programming, so no
// fixture waits for another; a board is programmed once per placement and each result is written as it happens.
#include "cli/station.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <iostream>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "base/error.h"
#include "base/format.h"
#include "base/texts.h"
#include "bootloader/workers.h"
#include "cli/commands.h"
#include "cli/headless.h"
#include "serial/comport.h"
#include "timing/timing.h"
#include "workers/main_thread.h"

namespace {

// Discovery is read afresh this often, so that adapters plugged in later are found and unplugged ones let go.
constexpr double kListEveryMs = 1000;
// A board that answered and has had its result is asked again after this pause, to notice when it leaves.
constexpr double kPresentPauseMs = 250;
// The shortest cycle of a port where nothing answers: a port that cannot be opened fails at once.
constexpr double kAbsentCycleMs = 500;
// After Ctrl-C (or the last board of --count) the workers under way are waited for this long at most: a dead line's
// three attempts take about 10.5 s, a search pass about 2.1 s.
constexpr double kStopWaitMs = 20000;

enum class TPhase { Idle, Searching, Programming };

// One fixture: a port and the board on it.
struct TFixture {
    std::string Port;
    TPhase Phase = TPhase::Idle;
    bool Listed = true;      // in the latest port listing (named ports always are)
    bool Searched = false;   // a search has reported at least once
    bool Present = false;    // a board answered at the last search
    bool Handled = false;    // that board has had its result (programmed, failed, skipped)
    TZorelBootLoaderDevID Board;
    std::int32_t State = 0;  // -1 not supported, 0 not required, 1 needed
    double SearchAt = 0;     // the next search not before this (NowMs)
    double SearchStartMs = 0;
    double StartMs = 0;      // the programming worker's start report
    bool Started = false;
    std::uint8_t Percent = 0;
};

// What a worker reported, queued by its handler and taken by the station's loop.
struct TEvent {
    enum TKind { Found, NotFound, Started, Progress, Done, Failed } Kind;
    std::size_t Fixture = 0;
    TZorelBootLoaderDevID DevID;
    std::string Error;
    std::uint8_t Percent = 0;
};

// Shared with the handlers, which may outlive the station if a worker never reports in time.
struct TEvents {
    std::deque<TEvent> Queue;
};

const char* StateText(std::int32_t s) { return s < 0 ? "not supported" : s == 0 ? "not required" : "needed"; }

// Now as ISO 8601 UTC with milliseconds: "2026-03-04T05:06:07.089Z".
std::string UtcNow()
{
    using namespace std::chrono;
    const auto now = floor<milliseconds>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day ymd{day};
    const hh_mm_ss<milliseconds> t{now - day};
    return Format("%.4d-%.2u-%.2uT%.2lld:%.2lld:%.2lld.%.3lldZ", static_cast<int>(ymd.year()),
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                  static_cast<long long>(t.hours().count()), static_cast<long long>(t.minutes().count()),
                  static_cast<long long>(t.seconds().count()), static_cast<long long>(t.subseconds().count()));
}

// The records file: opened for appending once, each record one write of a whole line, flushed and synced, so that a
// crash of the station leaves whole lines only and a crash of the machine loses none that were reported.
class TRecordsFile {
public:
    explicit TRecordsFile(const std::string& path) : FPath(path)
    {
        if (path.empty())
            return;
        FFile = std::fopen(path.c_str(), "ab");
        if (!FFile)
            throw Exception(Format("cannot open the records file %s: %s", path.c_str(), std::strerror(errno)));
    }
    ~TRecordsFile()
    {
        if (FFile)
            std::fclose(FFile);
    }
    TRecordsFile(const TRecordsFile&) = delete;
    TRecordsFile& operator=(const TRecordsFile&) = delete;

    void Append(const std::string& line)
    {
        if (!FFile)
            return;
        const std::string text = line + "\n";
        if (std::fwrite(text.data(), 1, text.size(), FFile) != text.size() || std::fflush(FFile) != 0) {
            // The station goes on (the boards must not wait for a disk), but says so once on every record lost.
            std::cerr << "cannot write the records file " << FPath << ": " << std::strerror(errno) << "\n";
            return;
        }
        SyncFileToDisk(FFile);
    }

private:
    std::string FPath;
    std::FILE* FFile = nullptr;
};

class TStation {
public:
    TStation(const TStationOptions& o, const TZorelBootLoaderInfo& B,
             std::shared_ptr<const AZorelBootLoaderDataLines> FL, std::shared_ptr<const AZorelBootLoaderDataLines> EE)
        : FO(o), FB(B), FFL(std::move(FL)), FEE(std::move(EE)), FRecords(o.log),
          FStatus(isatty(STDOUT_FILENO) != 0), FEvents(std::make_shared<TEvents>())
    {
    }

    // Returns the exit code.
    int Run();

private:
    void ListPorts(double now);
    void StartSearch(std::size_t i, double now);
    void StartProgramming(std::size_t i);
    // A board that answered and has no result yet: programmed at once if chosen and --count allows, else reported.
    void Decide(std::size_t i, double now);
    void Take(const TEvent& e, double now);
    void Record(const TFixture& f, const char* result, const std::string& error, double durationMs);
    bool Stopping() const;
    std::size_t Busy() const;
    std::string StatusText() const;
    void ClearStatus();
    void DrawStatus();

    const TStationOptions& FO;
    const TZorelBootLoaderInfo& FB;
    std::shared_ptr<const AZorelBootLoaderDataLines> FFL, FEE;
    TRecordsFile FRecords;
    const bool FStatus; // a live status line on the terminal
    std::string FShown; // the status line on the screen
    std::shared_ptr<TEvents> FEvents;
    std::vector<TFixture> FFixtures;
    double FListAt = 0;
    int FProgrammed = 0, FFailed = 0, FSkipped = 0;
};

bool TStation::Stopping() const { return Interrupts() > 0 || (FO.count > 0 && FProgrammed >= FO.count); }

std::size_t TStation::Busy() const
{
    std::size_t n = 0;
    for (const TFixture& f : FFixtures)
        n += f.Phase != TPhase::Idle;
    return n;
}

void TStation::ListPorts(double now)
{
    FListAt = now + kListEveryMs;
    const std::vector<std::string> ports = PortsToUse(FO.ports);
    for (TFixture& f : FFixtures)
        f.Listed = false;
    for (const std::string& p : ports) {
        auto it = std::find_if(FFixtures.begin(), FFixtures.end(), [&](const TFixture& f) { return f.Port == p; });
        if (it == FFixtures.end()) {
            if (FFixtures.size() >= kMaxWorkersPerRun)
                continue; // the worker index travels in 16 bits
            FFixtures.push_back({});
            FFixtures.back().Port = p;
            it = FFixtures.end() - 1;
        }
        it->Listed = true;
    }
    // An adapter that is gone has taken its board with it.
    for (TFixture& f : FFixtures)
        if (!f.Listed && f.Phase == TPhase::Idle)
            f.Present = false;
}

void TStation::StartSearch(std::size_t i, double now)
{
    TFixture& f = FFixtures[i];
    auto w = std::make_unique<TZorelSearchBootLoaderThreadCtrl>();
    std::weak_ptr<TEvents> events = FEvents;
    w->SetSEvent([events](TCustomThreadCtrl* sender, std::uint32_t wParam, std::uint32_t lParam, std::uint32_t& res) {
        res = 0;
        const auto q = events.lock();
        if (!q || (lParam != kSearchFound && lParam != kSearchFailed))
            return;
        auto* s = static_cast<TZorelSearchBootLoaderThreadCtrl*>(sender);
        TEvent e{lParam == kSearchFound ? TEvent::Found : TEvent::NotFound, wParam, {}, {}, 0};
        if (e.Kind == TEvent::Found)
            e.DevID = s->DevID();
        else // the worker keeps a text only for a port it cannot open; anything else is a silent line
            e.Error = s->Error().empty() ? LangText(13) : s->Error();
        q->Queue.push_back(std::move(e));
    });
    w->SetParams(static_cast<std::uint16_t>(i), f.Port);
    std::unique_ptr<TCustomThreadCtrl> base(std::move(w));
    f.SearchStartMs = now;
    try {
        StartWorker(base);
        f.Phase = TPhase::Searching;
    } catch (const std::exception& e) {
        FEvents->Queue.push_back({TEvent::NotFound, i, {}, e.what(), 0});
        f.Phase = TPhase::Searching; // its report is the event just queued
    }
}

void TStation::StartProgramming(std::size_t i)
{
    TFixture& f = FFixtures[i];
    auto w = std::make_unique<TZorelProgBootLoaderThreadCtrl>();
    std::weak_ptr<TEvents> events = FEvents;
    w->SetSEvent([events](TCustomThreadCtrl* sender, std::uint32_t wParam, std::uint32_t lParam, std::uint32_t& res) {
        res = 0;
        auto* worker = static_cast<TZorelProgBootLoaderThreadCtrl*>(sender);
        if (Interrupts() > 0)
            worker->ThreadEnd(); // Ctrl-C: the line under way ends; the worker then fails without a reset
        const auto q = events.lock();
        if (!q)
            return;
        const std::uint16_t code = wParam & 0xFFFF;
        TEvent e{TEvent::Started, wParam >> 16, {}, {}, 0};
        if (code == kProgStarted)
            e.Kind = TEvent::Started;
        else if (code == kProgProgress) {
            e.Kind = TEvent::Progress;
            e.Percent = static_cast<std::uint8_t>(lParam & 0xFF);
        } else if (code == kProgDone || code == kProgFailed) {
            e.Kind = code == kProgDone ? TEvent::Done : TEvent::Failed;
            e.Error = worker->Error();
        } else
            return;
        q->Queue.push_back(std::move(e));
    });
    w->SetParams(static_cast<std::uint16_t>(i), f.Port);
    w->SetData(FFL, FEE);
    std::unique_ptr<TCustomThreadCtrl> base(std::move(w));
    f.Started = false;
    f.Percent = 0;
    try {
        StartWorker(base);
        f.Phase = TPhase::Programming;
    } catch (const std::exception& e) {
        FEvents->Queue.push_back({TEvent::Failed, i, {}, e.what(), 0});
        f.Phase = TPhase::Programming; // its report is the event just queued
    }
}

void TStation::Decide(std::size_t i, double now)
{
    TFixture& f = FFixtures[i];
    const bool chosen = f.State == 1 || (f.State == 0 && FO.all) || (f.State < 0 && FO.force);
    if (!chosen) {
        f.Handled = true;
        ++FSkipped;
        Record(f, "skipped", "", 0);
        return;
    }
    if (Stopping())
        return;
    std::size_t underWay = 0;
    for (const TFixture& x : FFixtures)
        underWay += x.Phase == TPhase::Programming;
    // --count: no more boards under way than are still to be programmed; the others wait on their fixtures.
    if (FO.count > 0 && FProgrammed + static_cast<int>(underWay) >= FO.count) {
        f.SearchAt = now + kPresentPauseMs;
        return;
    }
    StartProgramming(i);
}

void TStation::Take(const TEvent& e, double now)
{
    if (e.Fixture >= FFixtures.size())
        return;
    TFixture& f = FFixtures[e.Fixture];
    switch (e.Kind) {
    case TEvent::NotFound:
        f.Phase = TPhase::Idle;
        f.Searched = true;
        f.Present = false; // the board has left: the next one to answer is a new placement
        f.SearchAt = std::max(now, f.SearchStartMs + kAbsentCycleMs);
        break;
    case TEvent::Found:
        f.Phase = TPhase::Idle;
        f.Searched = true;
        // Another ID on the port is another board, even when the swap was quicker than a search.
        if (!f.Present || e.DevID.dID != f.Board.dID) {
            f.Present = true;
            f.Handled = false;
            f.Board = e.DevID;
            f.State = ClassifyDevice(e.DevID, FB);
        }
        f.SearchAt = now + kPresentPauseMs;
        if (!f.Handled)
            Decide(e.Fixture, now);
        break;
    case TEvent::Started:
        f.Started = true;
        f.StartMs = now;
        break;
    case TEvent::Progress:
        f.Percent = e.Percent;
        break;
    case TEvent::Done:
    case TEvent::Failed: {
        f.Phase = TPhase::Idle;
        f.Handled = true;
        const bool ok = e.Kind == TEvent::Done;
        ok ? ++FProgrammed : ++FFailed;
        Record(f, ok ? "programmed" : "failed", e.Error, f.Started ? now - f.StartMs : 0);
        f.SearchAt = now; // look at once for the board to leave
        break;
    }
    }
}

void TStation::Record(const TFixture& f, const char* result, const std::string& error, double durationMs)
{
    const std::string finished = UtcNow();
    nlohmann::ordered_json j = {{"port", f.Port},
                                {"state", StateText(f.State)},
                                {"result", result},
                                {"error", error},
                                {"id", f.Board.dID},
                                {"version_before", VersionText(f.Board.dVerProg)},
                                {"duration_ms", static_cast<std::int64_t>(durationMs + 0.5)},
                                {"finished", finished}};
    const std::string line = j.dump();
    ClearStatus();
    if (FO.json) {
        std::cout << line << "\n";
    } else {
        std::cout << finished << " " << f.Port << ": " << result << " (" << StateText(f.State) << ", ID "
                  << Format("%.8llX", static_cast<unsigned long long>(f.Board.dID)) << ", v."
                  << VersionText(f.Board.dVerProg);
        if (durationMs > 0)
            std::cout << Format(", %.1f s", durationMs / 1000.0);
        std::cout << ")";
        if (!error.empty())
            std::cout << ": " << error;
        std::cout << "\n";
    }
    std::cout.flush();
    FRecords.Append(line);
}

std::string TStation::StatusText() const
{
    std::string busy;
    std::size_t programming = 0, absent = 0;
    for (const TFixture& f : FFixtures) {
        if (f.Phase == TPhase::Programming) {
            ++programming;
            const auto slash = f.Port.find_last_of("/\\");
            busy += Format(" %s %u%%", f.Port.substr(slash == std::string::npos ? 0 : slash + 1).c_str(), f.Percent);
        } else if (f.Listed && f.Searched && !f.Present) {
            ++absent;
        }
    }
    return Format("programming %zu%s%s | done %d | failed %d | skipped %d | absent %zu", programming,
                  busy.empty() ? "" : ":", busy.c_str(), FProgrammed, FFailed, FSkipped, absent);
}

void TStation::ClearStatus()
{
    if (FStatus && !FShown.empty()) {
        std::cout << "\r\033[K";
        FShown.clear();
    }
}

void TStation::DrawStatus()
{
    if (!FStatus)
        return;
    const std::string text = StatusText();
    if (text == FShown)
        return;
    std::cout << "\r\033[K" << text;
    std::cout.flush();
    FShown = text;
}

int TStation::Run()
{
    TPumpedDispatcher& d = ToolDispatcher();
    double stopDeadline = 0;
    bool abandoned = false;
    int seen = 0;
    for (;;) {
        double now = NowMs();
        const bool stopping = Stopping();
        if (!stopping) {
            if (now >= FListAt)
                ListPorts(now);
            for (std::size_t i = 0; i < FFixtures.size(); ++i) {
                TFixture& f = FFixtures[i];
                if (f.Phase == TPhase::Idle && f.Listed && now >= f.SearchAt)
                    StartSearch(i, now);
            }
        } else {
            if (stopDeadline == 0)
                stopDeadline = now + kStopWaitMs;
            if (Busy() == 0)
                break;
            // A second Ctrl-C, or workers that do not come back: stop waiting for them.
            if (Interrupts() > 1 || now > stopDeadline) {
                SetApplicationTerminating();
                abandoned = true;
                break;
            }
        }
        DrawStatus();
        // Until a worker reports, a Ctrl-C arrives or the next search is due.
        double wake = FListAt;
        for (const TFixture& f : FFixtures)
            if (f.Phase == TPhase::Idle && f.Listed)
                wake = std::min(wake, f.SearchAt);
        const double waitMs = std::clamp(wake - now, 1.0, 100.0);
        d.PumpUntil([&] { return !FEvents->Queue.empty() || Interrupts() != seen; }, waitMs);
        seen = Interrupts();
        now = NowMs();
        while (!FEvents->Queue.empty()) {
            const TEvent e = std::move(FEvents->Queue.front());
            FEvents->Queue.pop_front();
            Take(e, now);
        }
    }
    // Boards whose workers were abandoned: not programmed, and on the record as such.
    for (TFixture& f : FFixtures)
        if (f.Phase == TPhase::Programming) {
            ++FFailed;
            Record(f, "failed", "interrupted", f.Started ? NowMs() - f.StartMs : 0);
        }
    ClearStatus();
    (FO.json ? std::cerr : std::cout) << Format("programmed %d, failed %d, skipped %d\n", FProgrammed, FFailed,
                                                FSkipped);
    std::cout.flush();
    if (abandoned && Interrupts() > 1)
        return 130;
    return FFailed > 0 ? 1 : 0;
}

} // namespace

void RunStation(const TStationOptions& o, const TZorelBootLoaderInfo& B,
                std::shared_ptr<const AZorelBootLoaderDataLines> FL,
                std::shared_ptr<const AZorelBootLoaderDataLines> EE)
{
    TStation station(o, B, std::move(FL), std::move(EE));
    InstallInterruptHandler();
    throw TExitCode{station.Run()};
}
