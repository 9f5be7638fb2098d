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
#include "cli/flash_result.h"
#include "cli/headless.h"
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
    TPhase Phase = TPhase::Idle;
    bool Listed = true;      // in the latest port listing (named ports always are)
    bool Searched = false;   // a search has reported at least once
    bool Present = false;    // a board answered at the last search
    bool Handled = false;    // that board has had its result (programmed, failed, skipped)
    TFlashResult Board;      // the board on the port (Port, Before, State) and, once chosen, its programming
    double SearchAt = 0;     // the next search not before this (NowMs)
    double SearchStartMs = 0;
};

// What a worker reported, queued by its handler and taken by the station's loop. A programming worker's reports go
// into its fixture's result at once (TakeProgReport); the event only wakes the loop.
struct TEvent {
    enum TKind { Found, NotFound, Progress, Finished } Kind;
    std::size_t Fixture = 0;
    TZorelBootLoaderDevID DevID;
    std::string Error;
};

// Shared with the handlers, which may outlive the station if a worker never reports in time.
struct TShared {
    std::deque<TEvent> Queue;
    std::vector<TFixture> Fixtures;
};

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
        FFile = OpenForAppending(path);
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
          FStatus(isatty(STDOUT_FILENO) != 0), FShared(std::make_shared<TShared>()), FFixtures(FShared->Fixtures)
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
    void Record(const TFlashResult& r);
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
    std::shared_ptr<TShared> FShared;
    std::vector<TFixture>& FFixtures; // FShared's
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
        auto it =
            std::find_if(FFixtures.begin(), FFixtures.end(), [&](const TFixture& f) { return f.Board.Port == p; });
        if (it == FFixtures.end()) {
            if (FFixtures.size() >= kMaxWorkersPerRun)
                continue; // the worker index travels in 16 bits
            FFixtures.push_back({});
            FFixtures.back().Board.Port = p;
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
    std::weak_ptr<TShared> shared = FShared;
    w->SetSEvent([shared](TCustomThreadCtrl* sender, std::uint32_t wParam, std::uint32_t lParam, std::uint32_t& res) {
        res = 0;
        const auto q = shared.lock();
        if (!q || (lParam != kSearchFound && lParam != kSearchFailed))
            return;
        auto* s = static_cast<TZorelSearchBootLoaderThreadCtrl*>(sender);
        TEvent e{lParam == kSearchFound ? TEvent::Found : TEvent::NotFound, wParam, {}, {}};
        if (e.Kind == TEvent::Found)
            e.DevID = s->DevID();
        else // the worker keeps a text only for a port it cannot open; anything else is a silent line
            e.Error = s->Error().empty() ? LangText(13) : s->Error();
        q->Queue.push_back(std::move(e));
    });
    w->SetParams(static_cast<std::uint16_t>(i), f.Board.Port);
    std::unique_ptr<TCustomThreadCtrl> base(std::move(w));
    f.SearchStartMs = now;
    try {
        StartWorker(base);
        f.Phase = TPhase::Searching;
    } catch (const std::exception& e) {
        FShared->Queue.push_back({TEvent::NotFound, i, {}, e.what()});
        f.Phase = TPhase::Searching; // its report is the event just queued
    }
}

void TStation::StartProgramming(std::size_t i)
{
    TFixture& f = FFixtures[i];
    auto w = std::make_unique<TZorelProgBootLoaderThreadCtrl>();
    std::weak_ptr<TShared> shared = FShared;
    w->SetSEvent([shared](TCustomThreadCtrl* sender, std::uint32_t wParam, std::uint32_t lParam, std::uint32_t& res) {
        res = 0;
        const auto q = shared.lock();
        const std::size_t i = wParam >> 16;
        if (!q || i >= q->Fixtures.size() || q->Fixtures[i].Board.Finished)
            return;
        const bool last = TakeProgReport(q->Fixtures[i].Board, *static_cast<TZorelProgBootLoaderThreadCtrl*>(sender),
                                         static_cast<std::uint16_t>(wParam & 0xFFFF), lParam);
        q->Queue.push_back({last ? TEvent::Finished : TEvent::Progress, i, {}, {}});
    });
    w->SetParams(static_cast<std::uint16_t>(i), f.Board.Port);
    w->SetData(FFL, FEE);
    w->SetFastExchange(FO.fast);
    std::unique_ptr<TCustomThreadCtrl> base(std::move(w));
    f.Board.Chosen = true;
    try {
        StartWorker(base);
    } catch (const std::exception& e) {
        // As a worker that failed at once: its result is the event queued here.
        f.Board.Finished = true;
        f.Board.Error = e.what();
        FShared->Queue.push_back({TEvent::Finished, i, {}, {}});
    }
    f.Phase = TPhase::Programming;
}

void TStation::Decide(std::size_t i, double now)
{
    TFixture& f = FFixtures[i];
    const std::int32_t state = f.Board.State;
    const bool chosen = state == 1 || (state == 0 && FO.all) || (state < 0 && FO.force);
    if (!chosen) {
        f.Handled = true;
        ++FSkipped;
        Record(f.Board);
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
        if (!f.Present || e.DevID.dID != f.Board.Before.dID) {
            f.Present = true;
            f.Handled = false;
            TFlashResult board;
            board.Port = f.Board.Port;
            board.Before = e.DevID;
            board.State = ClassifyDevice(e.DevID, FB);
            f.Board = std::move(board);
        }
        f.SearchAt = now + kPresentPauseMs;
        if (!f.Handled)
            Decide(e.Fixture, now);
        break;
    case TEvent::Progress:
        break; // only the status line changes
    case TEvent::Finished:
        f.Phase = TPhase::Idle;
        f.Handled = true;
        f.Board.Programmed ? ++FProgrammed : ++FFailed;
        // After Ctrl-C the line under way ended the board's programming: that is the story, not the line.
        f.Board.Interrupted = !f.Board.Programmed && Interrupts() > 0;
        Record(f.Board);
        f.SearchAt = now; // look at once for the board to leave
        break;
    }
}

void TStation::Record(const TFlashResult& r)
{
    const std::string finished = UtcNow();
    nlohmann::ordered_json j = FlashResultJson(r, *FFL, *FEE);
    j["finished"] = finished;
    const std::string line = j.dump();
    ClearStatus();
    if (FO.json)
        std::cout << line << "\n";
    else
        std::cout << finished << " " << FlashResultText(r, *FFL, *FEE) << "\n";
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
            const std::string& port = f.Board.Port;
            const auto slash = port.find_last_of("/\\");
            busy += Format(" %s %u%%", port.substr(slash == std::string::npos ? 0 : slash + 1).c_str(),
                           static_cast<unsigned>(f.Board.Percent));
        } else if (f.Listed && f.Searched && !f.Present) {
            ++absent;
        }
    }
    return Format("programming %zu%s%s | done %d | failed %d | skipped %d | absent %zu", programming,
                  busy.empty() ? "" : ":", busy.c_str(), FProgrammed, FFailed, FSkipped, absent);
}

// The line is rubbed out with spaces rather than an erase sequence, which a console of Windows shows as text unless
// asked to take it.
void TStation::ClearStatus()
{
    if (FStatus && !FShown.empty()) {
        std::cout << '\r' << std::string(FShown.size(), ' ') << '\r';
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
    // A shorter text also covers what is left of the longer one before it.
    std::cout << '\r' << text << std::string(FShown.size() > text.size() ? FShown.size() - text.size() : 0, ' ');
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
        d.PumpUntil([&] { return !FShared->Queue.empty() || Interrupts() != seen; }, waitMs);
        seen = Interrupts();
        now = NowMs();
        while (!FShared->Queue.empty()) {
            const TEvent e = std::move(FShared->Queue.front());
            FShared->Queue.pop_front();
            Take(e, now);
        }
    }
    // Reports that came in with the last pump, then the boards whose workers were abandoned: not programmed, and on
    // the record as such.
    while (!FShared->Queue.empty()) {
        const TEvent e = std::move(FShared->Queue.front());
        FShared->Queue.pop_front();
        Take(e, NowMs());
    }
    for (TFixture& f : FFixtures)
        if (f.Phase == TPhase::Programming && !f.Board.Finished) {
            ++FFailed;
            f.Board.Interrupted = true;
            Record(f.Board);
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
