// The line-rate exchange beside the engine's own, over real pseudo-terminals: the engine's waits stay what they were,
// the line-rate exchange ends as soon as the answer is complete, and both share time-outs, repeats and end rules.
#include "serial/comport.h"

#include "tests/failure_text.h"
#include "tests/serial/pty_peer.h"
#include "tests/serial/test_ctrl.h"
#include "timing/timing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <vector>

namespace {

// A flash-line sized request: 69 bytes, so the engine's send wait is 2 x 67 byte times (55.83 ms at 19200 baud).
ABytes LineRequest()
{
    ABytes r(69, 0x11);
    r[0] = 0xF2;
    r[1] = 66;
    return r;
}

// Every sleep the engine asks for on this thread: the milliseconds asked and the whole milliseconds slept.
class SleepLog {
public:
    struct TSleep {
        double asked;
        std::int64_t slept;
    };
    SleepLog() { SetSleepObserver(&SleepLog::Note, this); }
    ~SleepLog() { SetSleepObserver(nullptr, nullptr); }
    SleepLog(const SleepLog&) = delete;
    SleepLog& operator=(const SleepLog&) = delete;
    std::vector<TSleep> Taken;
    std::vector<std::int64_t> Slept() const
    {
        std::vector<std::int64_t> out;
        for (const TSleep& t : Taken)
            out.push_back(t.slept);
        return out;
    }

private:
    static void Note(double asked, std::int64_t slept, void* self)
    {
        static_cast<SleepLog*>(self)->Taken.push_back({asked, slept});
    }
};

class Exchange : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        ctrl.SetFastExchange(GetParam());
        ctrl.Open(pty.SlavePath());
        TCPCSetup s;
        s.Default(19200, 1);
        ctrl.SetSetup(s);
    }
    void TearDown() override { pty.Stop(); }
    // Answers every request of `size` bytes with `answer` in pieces of `piece` bytes `pauseMs` apart; counts requests.
    void Answer(std::size_t size, ABytes answer, std::size_t piece = 0, int pauseMs = 0)
    {
        pty.Run([this, size, answer, piece, pauseMs](PtyPeer& p) {
            while (!p.Stopping()) {
                if (p.Receive(size, 50).size() != size)
                    continue;
                ++requests;
                const std::size_t step = piece ? piece : answer.size();
                for (std::size_t at = 0; at < answer.size(); at += step) {
                    if (at)
                        SleepMs(pauseMs);
                    lastSend = NowMs();
                    p.Send(ABytes(answer.begin() + at, answer.begin() + std::min(answer.size(), at + step)));
                }
            }
        });
    }
    void Silent(std::size_t size)
    {
        pty.Run([this, size](PtyPeer& p) {
            while (!p.Stopping())
                if (p.Receive(size, 50).size() == size)
                    ++requests;
        });
    }
    PtyPeer pty;
    TestCtrl ctrl;
    std::atomic<int> requests{0};
    std::atomic<double> lastSend{0};
};

} // namespace

// The engine's waits, as asked of the clock: the send wait of the request's length, then one byte time per poll.
// The line-rate exchange asks for neither: it waits on the port's input instead.
TEST_P(Exchange, WaitsAskedOfTheClock)
{
    ctrl.Need = 3;
    Answer(69, {0xF2, 0x00, 0x55});
    TSessionParams p = Params(750, 64, 100, 1, 1000);
    std::vector<SleepLog::TSleep> taken;
    double took = 0;
    {
        SleepLog log;
        const double t0 = NowMs();
        ASSERT_EQ(ctrl.Session(LineRequest(), &p, true), (ABytes{0xF2, 0x00, 0x55}));
        took = NowMs() - t0;
        taken = log.Taken;
    }
    if (!GetParam()) {
        ASSERT_FALSE(taken.empty());
        EXPECT_EQ(taken.front().slept, 56);  // 2 x 8000/19200 x 67 = 55.83 ms, rounded as SleepMs rounds
        for (std::size_t i = 1; i < taken.size(); ++i)
            EXPECT_EQ(taken[i].slept, 1) << "poll " << i;  // one byte time, 0.42 ms: the 1 ms minimum
        EXPECT_GE(took, 56.0);
    } else {
        EXPECT_TRUE(taken.empty()) << taken.size() << " sleeps, the first of " << taken.front().asked << " ms";
        EXPECT_LT(took, 30.0);  // the answer is there at once: no send wait
    }
    EXPECT_EQ(ctrl.Resends(), 0u);
}

// The updater's own exchange (the window's, and `nerid flash` without --fast) asks the clock for exactly what it
// always asked, to the microsecond: 2 x 8000/baud ms per request byte but two (at least one byte's worth) after the
// write, 8000/baud ms before each look at the input, the pause between attempts; then SleepMs's rounding.
TEST(EngineWaits, UnchangedToTheMicrosecond)
{
    struct TCase {
        std::uint32_t baud;
        std::size_t request;  // bytes written
        double sendWaitMs;    // asked after the write
        std::int64_t sendSlept;
        double pollMs;        // asked before each look at the input
    };
    const TCase cases[] = {
        {19200, 69, 2 * 8000.0 / 19200 * 67, 56, 8000.0 / 19200},
        {19200, 3, 2 * 8000.0 / 19200 * 1, 1, 8000.0 / 19200},
        {9600, 4, 2 * 8000.0 / 9600 * 2, 3, 8000.0 / 9600},
        {1200, 10, 2 * 8000.0 / 1200 * 8, 107, 8000.0 / 1200},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.baud) + " baud, " + std::to_string(c.request) + " bytes");
        PtyPeer pty;
        TestCtrl ctrl;
        ctrl.Open(pty.SlavePath());
        TCPCSetup s;
        s.Default(c.baud, 1);
        ctrl.SetSetup(s);
        pty.Run([](PtyPeer& p) {
            while (!p.Stopping())
                p.Receive(1, 50);  // a silent device: every attempt runs to its time-out
        });
        ABytes request(c.request, 0x11);
        request[0] = 0xF0;
        TSessionParams p = Params(30, 64, 20, 1, 40);
        std::vector<SleepLog::TSleep> taken;
        {
            SleepLog log;
            EXPECT_EQ(ErrorOf([&] { ctrl.Session(request, &p, true); }), "Нет ответа.");
            taken = log.Taken;
        }
        pty.Stop();
        // Each attempt: the send wait, polls until the 30 ms time-out, the 40 ms pause.
        std::size_t at = 0;
        for (int attempt = 0; attempt < 2; ++attempt) {
            ASSERT_LT(at, taken.size());
            EXPECT_NEAR(taken[at].asked, c.sendWaitMs, 0.001) << "attempt " << attempt;
            EXPECT_EQ(taken[at].slept, c.sendSlept) << "attempt " << attempt;
            ++at;
            int polls = 0;
            for (; at < taken.size() && taken[at].asked != 40.0; ++at, ++polls) {
                EXPECT_NEAR(taken[at].asked, c.pollMs, 0.001) << "attempt " << attempt << ", poll " << polls;
                EXPECT_EQ(taken[at].slept, SleepRoundMs(c.pollMs));
            }
            EXPECT_GE(polls, 1);
            ASSERT_LT(at, taken.size());
            EXPECT_EQ(taken[at].slept, 40);
            ++at;
        }
        EXPECT_EQ(at, taken.size());
        EXPECT_EQ(ctrl.Resends(), 1u);
    }
}

// A silent device costs the same in both exchanges: each attempt's time-out runs from the end of the send wait.
TEST_P(Exchange, SilentDeviceCostsWhatTheEngineCosts)
{
    Silent(69);
    TSessionParams p = Params(100, 64, 20, 2, 150);
    std::vector<std::int64_t> taken;
    const double t0 = NowMs();
    {
        SleepLog log;
        EXPECT_EQ(ErrorOf([&] { ctrl.Session(LineRequest(), &p, true); }), "Нет ответа.");
        taken = log.Slept();
    }
    const double took = NowMs() - t0;
    EXPECT_GE(took, 3 * (56 + 100 + 150) - 5.0);
    EXPECT_LT(took, 3 * (56 + 100 + 150) + 150.0);
    EXPECT_EQ(ctrl.Resends(), 2u);
    EXPECT_EQ(std::count(taken.begin(), taken.end(), 150), 3);  // the pause after each unanswered attempt
    if (!GetParam())
        EXPECT_EQ(std::count(taken.begin(), taken.end(), 56), 3);
    else
        EXPECT_EQ(taken, (std::vector<std::int64_t>{150, 150, 150}));
    SleepMs(60);
    EXPECT_EQ(requests.load(), 3);
}

// The end rules are the engine's: the gap after the last arrival, the completeness test, the read count.
TEST_P(Exchange, AnswerInPiecesEndsAtTheGap)
{
    Answer(3, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 5, 5);
    TSessionParams p = Params(1000, 256, 100, 0, 0);
    const ABytes r = ctrl.Session({0xF0, 0x00, 0x99}, &p, true);
    const double end = NowMs();
    EXPECT_EQ(r, (ABytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_GE(end - lastSend, 100.0);
    EXPECT_LT(end - lastSend, 400.0);
}

TEST_P(Exchange, CompletenessEndsReadingAtOnce)
{
    ctrl.Need = 4;
    Answer(3, {0xF0, 1, 2, 3, 0xEE, 0xEE, 0xEE, 0xEE}, 4, 300);
    TSessionParams p = Params(1000, 256, 100, 0, 0);
    const double t0 = NowMs();
    EXPECT_EQ(ctrl.Session({0xF0, 0x00, 0x99}, &p, true), (ABytes{0xF0, 1, 2, 3}));
    EXPECT_LT(NowMs() - t0, 250.0);
}

TEST_P(Exchange, ReadCountEndsWithWhatCameTogether)
{
    ABytes hundred(100);
    for (int i = 0; i < 100; ++i)
        hundred[i] = static_cast<std::uint8_t>(i);
    Answer(3, hundred);
    TSessionParams p = Params(1000, 64, 20, 0, 0);
    const double t0 = NowMs();
    const ABytes r = ctrl.Session({0xF0, 0x00, 0x99}, &p, true);
    // Stopped by the count, not by the gap (28.7 ms) nor the time-out; nothing of what arrived is dropped.
    ASSERT_GE(r.size(), 64u);
    EXPECT_EQ(r, ABytes(hundred.begin(), hundred.begin() + static_cast<std::ptrdiff_t>(r.size())));
    EXPECT_LT(NowMs() - t0, 200.0);
}

// An answer that comes only after the engine's send wait is still found, and an early one is not lost to a purge.
TEST_P(Exchange, LateAndEarlyAnswersAreCollected)
{
    ctrl.Need = 3;
    pty.Run([](PtyPeer& p) {
        bool late = false;
        while (!p.Stopping()) {
            if (p.Receive(69, 50).size() != 69)
                continue;
            if (late)
                SleepMs(120);
            late = !late;
            p.Send({0xF2, 0x00, 0x55});
        }
    });
    TSessionParams p = Params(750, 64, 100, 1, 1000);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(ctrl.Session(LineRequest(), &p, true), (ABytes{0xF2, 0x00, 0x55})) << i;
    EXPECT_EQ(ctrl.Resends(), 0u);
}

INSTANTIATE_TEST_SUITE_P(BothModes, Exchange, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "LineRate" : "Engine"; });

// A pseudo-terminal has no low-latency setting (ENOTTY) and no latency timer: the line-rate exchange uses it as it
// is, and closing and reopening it works as ever.
TEST(LineRateOpen, PortWithoutLowLatencyIsUsedAsItIs)
{
    PtyPeer pty;
    TestCtrl c;
    c.SetFastExchange(true);
    c.Open(pty.SlavePath());
    EXPECT_TRUE(c.Opened());
    EXPECT_FALSE(c.DriverLatency().has_value());
    EXPECT_EQ(c.LatencyAllowance(), 1u);
    EXPECT_FALSE(TBasicComPortCtrl::EnterLowLatency(c.Port()));
    c.Close();
    EXPECT_FALSE(c.Opened());
    c.Reopen();
    EXPECT_TRUE(c.Opened());
}

// The wait on the port's input: nothing waiting ends after about the wait asked; a hang-up fails at once.
TEST(ReadWait, WaitsForTheFirstBytesAndNoLonger)
{
    PtyPeer pty;
    TCustomComPortCtrl c;
    c.Open(pty.SlavePath());
    TCPCSetup s;
    s.Default(19200, 1);
    c.SetSetup(s);
    ABytes buf(8);
    double t0 = NowMs();
    EXPECT_EQ(TBasicComPortCtrl::ReadWait(c.Port(), buf, 20), 0u);
    EXPECT_GE(NowMs() - t0, 19.0);
    pty.Run([](PtyPeer& p) {
        SleepMs(10);
        p.Send({1, 2, 3});
    });
    t0 = NowMs();
    const std::uint32_t got = TBasicComPortCtrl::ReadWait(c.Port(), buf, 500);
    EXPECT_LT(NowMs() - t0, 100.0);
    ASSERT_EQ(got, 3u);  // one write of the peer arrives whole
    EXPECT_EQ(ABytes(buf.begin(), buf.begin() + 3), (ABytes{1, 2, 3}));
    pty.Stop();
    pty.CloseMaster();
    t0 = NowMs();
    EXPECT_EQ(ErrorOf([&] { TBasicComPortCtrl::ReadWait(c.Port(), buf, 500); }),
              "TBasicComPortCtrl.Read >> Не удалось выполнить чтение (5: Input/output error).");
    EXPECT_LT(NowMs() - t0, 100.0);
}
