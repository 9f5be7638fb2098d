// The controller and its exchange engine over real pseudo-terminals, with a scripted device on the master side.
#include "serial/comport.h"
#include "serial/exchange_log.h"

#include "base/error.h"
#include "tests/failure_text.h"
#include "tests/serial/pty_peer.h"
#include "tests/serial/test_ctrl.h"
#include "timing/timing.h"

#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <mutex>
#include <regex>
#include <sstream>
#include <sys/ioctl.h>
#include <vector>

namespace {

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        const auto crlf = text.find("\r\n", start);
        out.push_back(text.substr(start, crlf - start));
        if (crlf == std::string::npos)
            return out;
        start = crlf + 2;
    }
}

int CountArrivals(const std::string& trace)
{
    static const std::regex arrival(R"(^\d+\.\d\d - \d+\.\d\d:  \d+$)");
    int n = 0;
    for (const auto& l : Lines(trace))
        n += std::regex_match(l, arrival);
    return n;
}

const ABytes kRequest{0xF0, 0x00, 0x99};
const std::string kNotOpen = "TCustomComPortCtrl.GetOpenRaised >> Подключение не установлено.";

// Request times seen by the peer, in NowMs().
struct Seen {
    std::mutex Lock;
    std::vector<double> Times;
    void Add()
    {
        std::lock_guard<std::mutex> l(Lock);
        Times.push_back(NowMs());
    }
    std::vector<double> Get()
    {
        std::lock_guard<std::mutex> l(Lock);
        return Times;
    }
};

class Session : public ::testing::Test {
protected:
    void SetUp() override
    {
        ctrl.Open(pty.SlavePath());
        TCPCSetup s;
        s.Default(19200, 1);
        ctrl.SetSetup(s);
    }
    // The peer thread uses `seen` and `lastSend`: stop it before the members go.
    void TearDown() override { pty.Stop(); }
    // The device answers each 3-byte request with `answer`, in pieces of `piece` bytes `pauseMs` apart.
    void Answer(ABytes answer, std::size_t piece = 0, int pauseMs = 0)
    {
        pty.Run([this, answer, piece, pauseMs](PtyPeer& p) {
            while (!p.Stopping()) {
                if (p.Receive(3, 50).size() != 3)
                    continue;
                seen.Add();
                const std::size_t step = piece ? piece : answer.size();
                for (std::size_t at = 0; at < answer.size(); at += step) {
                    if (at)
                        SleepMs(pauseMs);
                    lastSend = NowMs();  // before the bytes can arrive, so the gap is never overstated
                    p.Send(ABytes(answer.begin() + at, answer.begin() + std::min(answer.size(), at + step)));
                }
            }
        });
    }
    PtyPeer pty;
    TestCtrl ctrl;
    Seen seen;
    std::atomic<double> lastSend{0};
};

} // namespace

TEST_F(Session, OpenReadsTheLineAndItsTimings)
{
    EXPECT_EQ(ctrl.PortName(), pty.SlavePath());
    EXPECT_TRUE(ctrl.Opened());
    // No driver values for a pty: latency 1, buffer 256.
    EXPECT_EQ(ctrl.LatencyAllowance(), 1u);
    EXPECT_EQ(ctrl.BufferSize(), 256u);
    EXPECT_NEAR(ctrl.ByteTime(), 0.41667, 1e-4);
    EXPECT_NEAR(ctrl.GapTime(), 28.667, 1e-3);
    ctrl.Close();
    EXPECT_FALSE(ctrl.Opened());
    EXPECT_EQ(ctrl.PortName(), pty.SlavePath());  // kept after Close
    ctrl.Open(pty.SlavePath());
    EXPECT_EQ(ctrl.Setup().DCB.BaudRate, 19200u);  // read back from the port
}

TEST(Controller, FastOpenKeepsTimingsAndNameIsSetOnFailure)
{
    PtyPeer pty;
    TCustomComPortCtrl c;
    c.Open(pty.SlavePath(), GENERIC_READ_WRITE, true);
    EXPECT_EQ(c.ByteTime(), 0.0);
    EXPECT_EQ(c.GapTime(), 0.0);
    TCPCSetup s;
    s.Default(19200, 1);
    c.SetSetup(s);
    EXPECT_NEAR(c.ByteTime(), 0.41667, 1e-4);
    // A failing open leaves the controller closed with the new name.
    EXPECT_EQ(ErrorOf([&] { c.Open("/dev/nerid-none"); }), "TBasicComPortCtrl.Open(/dev/nerid-none) >> Порт не найден.");
    EXPECT_FALSE(c.Opened());
    EXPECT_EQ(c.PortName(), "/dev/nerid-none");
    // A bad name keeps the old one.
    EXPECT_NE(ErrorOf([&] { c.Open("LPT1"); }), "<no failure>");
    EXPECT_EQ(c.PortName(), "/dev/nerid-none");
}

TEST(Controller, ClosedWrappersAndRateZero)
{
    TCustomComPortCtrl c;
    EXPECT_EQ(ErrorOf([&] { c.Write({1}); }), kNotOpen);
    EXPECT_EQ(ErrorOf([&] { c.Read(4); }), kNotOpen);
    EXPECT_EQ(ErrorOf([&] { c.GetQueueSize(); }), kNotOpen);
    EXPECT_EQ(ErrorOf([&] { c.GetDCB(); }), kNotOpen);
    EXPECT_EQ(ErrorOf([&] { c.SwitchToSend(); }), kNotOpen);

    PtyPeer pty;
    c.Open(pty.SlavePath());
    TCPCSetup s;
    s.Default(19200, 1);
    c.SetSetup(s);
    const double before = c.ByteTime();
    TCPCSetup zero;
    zero.Default(0, 1);
    EXPECT_EQ(ErrorOf([&] { c.SetSetup(zero); }), "TCustomComPortCtrl.SetSetup >> Недопустимая скорость порта (0).");
    EXPECT_EQ(ErrorOf([&] { c.SetDCB(zero.DCB); }), "TCustomComPortCtrl.SetDCB >> Недопустимая скорость порта (0).");
    EXPECT_EQ(c.Setup().DCB.BaudRate, 19200u);
    EXPECT_EQ(c.ByteTime(), before);
    EXPECT_EQ(c.GetDCB().BaudRate, 19200u);  // the port was not touched
    EXPECT_EQ(ErrorOf([&] { c.SwitchToRecive(); }), "TBasicComPortCtrl.SwitchToRecive >> SwitchToRecive не работает");
}

TEST_F(Session, AnswerInPiecesEndsAtTheGap)
{
    Answer({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 5, 5);
    TSessionParams p = Params(1000, 256, 100, 0, 0);
    const ABytes r = ctrl.Session(kRequest, &p, true);
    const double end = NowMs();
    EXPECT_EQ(r, (ABytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_GE(end - lastSend, 100.0);
    EXPECT_LT(end - lastSend, 400.0);
    const auto lines = Lines(ctrl.LogStr());
    EXPECT_EQ(lines.front(), "W3, T100.00-28.67");
    EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(W\d+\.\d\d)"))) << lines[1];
    EXPECT_EQ(lines.back(), "R10");
    EXPECT_GE(CountArrivals(ctrl.LogStr()), 1);
    EXPECT_GE(ctrl.Calls.load(), 1);
    EXPECT_EQ(ctrl.FinalCalls.load(), 1);
}

TEST_F(Session, CompletenessEndsReadingAtOnce)
{
    ctrl.Need = 4;
    Answer({0xF0, 1, 2, 3, 0xEE, 0xEE, 0xEE, 0xEE}, 4, 300);
    TSessionParams p = Params(1000, 256, 100, 0, 0);
    const double t0 = NowMs();
    const ABytes r = ctrl.Session(kRequest, &p, true);
    EXPECT_EQ(r, (ABytes{0xF0, 1, 2, 3}));
    EXPECT_LT(NowMs() - t0, 250.0);
    EXPECT_EQ(CountArrivals(ctrl.LogStr()), 1);
}

TEST_F(Session, SilentDeviceIsAskedAgainWithPauses)
{
    pty.Run([this](PtyPeer& p) {
        while (!p.Stopping())
            if (p.Receive(3, 50).size() == 3)
                seen.Add();
    });
    TSessionParams p = Params(100, 256, 20, 2, 150);
    const double t0 = NowMs();
    EXPECT_EQ(ErrorOf([&] { ctrl.Session(kRequest, &p, true); }), "Нет ответа.");
    const double took = NowMs() - t0;
    EXPECT_EQ(ctrl.LastError(), 0x80000002u);
    EXPECT_GE(took, 3 * (100 + 150) - 5.0);
    EXPECT_LT(took, 1500.0);
    SleepMs(60);
    const auto times = seen.Get();
    ASSERT_EQ(times.size(), 3u);
    for (std::size_t i = 1; i < times.size(); ++i) {
        EXPECT_GE(times[i] - times[i - 1], 245.0);
        EXPECT_LT(times[i] - times[i - 1], 600.0);
    }
    const auto lines = Lines(ctrl.LogStr());
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "R0"), 3);
    EXPECT_EQ(CountArrivals(ctrl.LogStr()), 0);
}

TEST_F(Session, ReadCountStopsWithEverythingQueued)
{
    TCPCSetup slow;
    slow.Default(300, 1);  // a long send wait: the whole answer is queued by the first poll
    ctrl.SetSetup(slow);
    ABytes hundred(100);
    for (int i = 0; i < 100; ++i)
        hundred[i] = static_cast<std::uint8_t>(i);
    Answer(hundred);
    TSessionParams p = Params(1000, 64, 20, 0, 0);
    const double t0 = NowMs();
    const ABytes r = ctrl.Session(kRequest, &p, true);
    EXPECT_EQ(r, hundred);
    EXPECT_EQ(CountArrivals(ctrl.LogStr()), 1);
    EXPECT_LT(NowMs() - t0, 600.0);  // far below the gap of this line (about 1.7 s)
}

TEST_F(Session, WithoutAnswerSendsOnceAndNeverChecks)
{
    pty.Run([this](PtyPeer& p) {
        while (!p.Stopping())
            if (p.Receive(3, 50).size() == 3)
                seen.Add();
    });
    TSessionParams p = Params(100, 256, 20, 3, 50);
    const ABytes r = ctrl.Session(kRequest, &p, false);
    EXPECT_TRUE(r.empty());
    const auto lines = Lines(ctrl.LogStr());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "W3, T28.67-28.67");
    EXPECT_EQ(lines[2], "R0");
    EXPECT_EQ(ctrl.Calls.load() + ctrl.FinalCalls.load(), 0);
    SleepMs(150);
    EXPECT_EQ(seen.Get().size(), 1u);
}

TEST_F(Session, NullParamsUseTheControllersOwn)
{
    Answer({7, 7});
    ctrl.SessionParam().Init(500, 2, 20, 0, 0);
    const ABytes r = ctrl.Session(kRequest, true);
    EXPECT_EQ(r, (ABytes{7, 7}));
    EXPECT_TRUE(ctrl.LogStr().empty());  // Loged false in the controller's own timing
}

TEST(SessionClosed, FinalCheckReplacesTheOpenFailure)
{
    TestCtrl c;
    EXPECT_EQ(ErrorOf([&] { c.Session(kRequest, true); }), "Нет ответа.");
    EXPECT_EQ(c.LastError(), 0x80000002u);
    EXPECT_EQ(ErrorOf([&] { c.Session(kRequest, false); }), "TCustomComPortCtrl.Session: \"" + kNotOpen + "\"");
    EXPECT_EQ(c.Calls.load(), 0);
}

TEST_F(Session, FailedSendReopensAndTheNextAttemptIsAnswered)
{
    Answer({0xF0, 0x01, 0x02, 0xAA});
    // The port's descriptor turns bad behind the controller's back, as when a device glitches.
    const int fd = static_cast<int>(ctrl.Port());
    ioctl(fd, TIOCNXCL);
    const int bad = open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(bad, 0);
    ASSERT_EQ(dup2(bad, fd), fd);
    close(bad);
    TSessionParams p = Params(100, 256, 20, 1, 0);
    const ABytes r = ctrl.Session(kRequest, &p, true);
    EXPECT_EQ(r, (ABytes{0xF0, 0x01, 0x02, 0xAA}));
    EXPECT_TRUE(ctrl.Opened());
    const auto lines = Lines(ctrl.LogStr());
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "R0"), 1);
    EXPECT_EQ(lines.back(), "R4");
    EXPECT_EQ(seen.Get().size(), 1u);
}

TEST_F(Session, VanishedDeviceFailsTheSendAndTheReopen)
{
    pty.CloseMaster();
    TSessionParams p = Params(100, 256, 20, 2, 0);
    const std::string text = ErrorOf([&] { ctrl.Session(kRequest, &p, false); });
    EXPECT_EQ(ctrl.LastError(), 0x80000001u);
    EXPECT_EQ(text, "TCustomComPortCtrl.Session: \"TBasicComPortCtrl.ClearBuffers >> Не удалось очистить буффер "
                    "(5: Input/output error).(TBasicComPortCtrl.Open(" +
                        pty.SlavePath() + ") >> Порт не найден.)\"");
    EXPECT_FALSE(ctrl.Opened());
}

class SessionLog : public Session {
protected:
    void SetUp() override
    {
        Session::SetUp();
        const TLocalTime t = LocalNow();
        char date[32];
        std::snprintf(date, sizeof date, "-%.4d-%.2d-%.2d.log", t.Year, t.Month, t.Day);
        file = LogFolder() + "/" + LogFileStem(pty.SlavePath()) + date;
        std::remove(file.c_str());
    }
    void TearDown() override
    {
        Session::TearDown();
        std::remove(file.c_str());
    }
    std::string Contents()
    {
        std::ifstream in(file, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    std::string file;
};

TEST_F(SessionLog, EntriesCarryRequestAnswerAndTrace)
{
    Answer({0xF0, 0x01, 0x02, 0xAA});
    ctrl.Need = 4;
    TSessionParams p = Params(300, 256, 20, 0, 0);
    ctrl.Session(kRequest, &p, false);  // Log off: nothing written
    SleepMs(50);                        // let the unread answer arrive before the next purge
    ctrl.SetLog(true);
    ctrl.Session(kRequest, &p, true);
    EXPECT_EQ(ctrl.LogStr().substr(0, 2), "\r\n");
    ctrl.Session(kRequest, &p, false);  // no answer read: an empty answer field
    SleepMs(50);
    p.Loged = false;
    ctrl.Session(kRequest, &p, true);
    EXPECT_TRUE(ctrl.LogStr().empty());

    const std::string log = Contents();
    const std::regex first(R"(\d\d:\d\d:\d\d\.\d{3}: >> F0 00 99 << F0 01 02 AA \[0-\d+\.\d\d: \]\r\n)"
                           R"(W3, T28\.67-28\.67\r\nW\d+\.\d\d\r\n\d+\.\d\d - \d+\.\d\d:  4\r\nR4\r\n)"
                           R"(\d\d:\d\d:\d\d\.\d{3}: >> F0 00 99 <<  \[0-\d+\.\d\d: \]\r\n)"
                           R"(W3, T28\.67-28\.67\r\nW\d+\.\d\d\r\nR0\r\n)"
                           R"(\d\d:\d\d:\d\d\.\d{3}: >> F0 00 99 << F0 01 02 AA \[0-\d+\.\d\d: \]\r\n)");
    EXPECT_TRUE(std::regex_match(log, first)) << log;
}

TEST_F(SessionLog, UnansweredEntryAndLogOff)
{
    pty.Run([](PtyPeer& p) {
        while (!p.Stopping())
            p.Receive(3, 50);
    });
    TSessionParams p = Params(50, 256, 20, 2, 0);
    p.Loged = false;
    ctrl.SetLog(true);
    EXPECT_EQ(ErrorOf([&] { ctrl.Session(kRequest, &p, true); }), "Нет ответа.");
    ctrl.SetLog(false);
    EXPECT_EQ(ErrorOf([&] { ctrl.Session(kRequest, &p, true); }), "Нет ответа.");
    const std::string log = Contents();
    EXPECT_TRUE(std::regex_match(log, std::regex(R"(\d\d:\d\d:\d\d\.\d{3}: >> F0 00 99 <<  \[3-\d+\.\d\d: Нет ответа\]\r\n)")))
        << log;
}

TEST_F(Session, MeasuredPollPeriodAndExchangeOverhead)
{
    // Poll period: the engine sleeps one byte time (0.42 ms at 19200, so 1 ms) between queue queries.
    const int polls = 200;
    double t0 = NowMs();
    for (int i = 0; i < polls; ++i)
        SleepMs(ctrl.ByteTime());
    const double poll = (NowMs() - t0) / polls;

    ctrl.Need = 4;
    Answer({0xF0, 0x01, 0x02, 0xAA});
    TSessionParams p = Params(500, 256, 20, 0, 0);
    p.Loged = false;
    const int rounds = 50;
    t0 = NowMs();
    for (int i = 0; i < rounds; ++i)
        ASSERT_EQ(ctrl.Session(kRequest, &p, true).size(), 4u);
    const double exchange = (NowMs() - t0) / rounds;
    std::cout << "poll period " << poll << " ms; exchange " << exchange << " ms (send wait "
              << 2 * ctrl.ByteTime() << " ms asked, byte time " << ctrl.ByteTime() << " ms, gap " << ctrl.GapTime()
              << " ms)\n";
    RecordProperty("poll_period_ms", std::to_string(poll));
    RecordProperty("exchange_ms", std::to_string(exchange));
    EXPECT_GE(poll, 0.9);
    EXPECT_LT(poll, 5.0);
    EXPECT_LT(exchange, 20.0);  // an instant device: send wait + about one poll, far below the 28.7 ms gap
}
