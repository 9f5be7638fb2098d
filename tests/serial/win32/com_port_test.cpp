// The port primitives, the controller and its exchange engine on a real COM port (mapped to a pseudo-terminal under
// wine), with the scripted device tests/serial/win32/line_peer.py on the native side.
#include "tests/failure_text.h"
#include "tests/serial/test_ctrl.h"
#include "tests/serial/win32/wine_check.h"

#include "serial/comport.h"
#include "serial/exchange_log.h"

#include "base/error.h"
#include "base/utf8_path.h"
#include "timing/timing.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <regex>
#include <sstream>

namespace {

// A request for the peer: command, length, payload.
ABytes Request(char cmd, const ABytes& payload = {})
{
    ABytes r(2 + payload.size());
    r[0] = static_cast<std::uint8_t>(cmd);
    r[1] = static_cast<std::uint8_t>(payload.size());
    std::copy(payload.begin(), payload.end(), r.begin() + 2);
    return r;
}

class ComPort : public ::testing::Test {
protected:
    void SetUp() override
    {
        port = MappedComPort();
        if (port.empty())
            GTEST_SKIP() << "needs a COM port connected by dev/wine/with_com_port.py";
        ctrl.Open(port);
        TCPCSetup s;
        s.Default(19200, 1);
        ctrl.SetSetup(s);
    }
    // Everything the peer still sends is read and dropped.
    void Drain()
    {
        SleepMs(60);
        ctrl.ClearBuffers(true, true);
    }
    std::string port;
    TestCtrl ctrl;
};

} // namespace

TEST_F(ComPort, LineSetupReachesTheLineAndReadsBack)
{
    for (std::uint32_t baud : {19200u, 115200u, 9600u}) {
        TCPCSetup s;
        s.Default(baud, 1);
        ctrl.SetSetup(s);
        EXPECT_EQ(ctrl.GetDCB().BaudRate, baud);
        ctrl.Need = 0;
        TSessionParams p = Params(3000, 256, 60, 0, 0);
        const ABytes r = ctrl.Session(Request('L'), &p, true);
        EXPECT_EQ(std::string(r.begin(), r.end()), std::to_string(baud)) << "the peer sees another speed";
    }
    const COMMTIMEOUTS cto = ctrl.GetTimeOuts();
    EXPECT_EQ(cto.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(cto.ReadTotalTimeoutConstant, 0u);
}

TEST_F(ComPort, PrimitivesMoveBytesAndReportTheQueue)
{
    ABytes payload(200);
    for (std::size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<std::uint8_t>(i * 7);  // control characters and 0x11/0x13 included
    ASSERT_TRUE(ctrl.Write(Request('E', payload)));
    std::uint32_t queued = 0;
    for (int i = 0; i < 200 && queued < payload.size(); ++i) {
        SleepMs(5);
        queued = ctrl.GetQueueSize();
    }
    EXPECT_EQ(queued, payload.size());
    EXPECT_EQ(ctrl.GetOutputSize(), 0u);
    // Immediate-return reads: asking for more than is there gives what is there, at once.
    const double t0 = NowMs();
    const ABytes got = ctrl.Read(1000);
    EXPECT_LT(NowMs() - t0, 50.0);
    EXPECT_EQ(got, payload);
    EXPECT_TRUE(ctrl.Read(0).empty());
    EXPECT_TRUE(ctrl.Read(10).empty());
    EXPECT_EQ(ctrl.ClearErrors(), 0u);

    // Purging the input drops what arrived.
    ASSERT_TRUE(ctrl.Write(Request('E', {1, 2, 3})));
    SleepMs(100);
    ctrl.ClearBuffers(true, false);
    EXPECT_EQ(ctrl.GetQueueSize(), 0u);
    ctrl.ClearBuffers(false, false);  // flags 0: still a valid call
}

TEST_F(ComPort, OpenReadsTheSetupAndTheDefaultTimings)
{
    ctrl.Close();
    EXPECT_FALSE(ctrl.Opened());
    EXPECT_EQ(ctrl.PortName(), port);
    ctrl.Open(port);
    EXPECT_EQ(ctrl.Setup().DCB.BaudRate, 19200u);  // read back from the port
    EXPECT_EQ(ctrl.Setup().DCB.ByteSize, 8);
    // The mapped port has no device key with driver values: latency 1, buffer 256.
    EXPECT_EQ(ctrl.LatencyAllowance(), 1u);
    EXPECT_EQ(ctrl.BufferSize(), 256u);
    EXPECT_NEAR(ctrl.GapTime(), 28.667, 1e-3);
    EXPECT_EQ(ctrl.PortState(""), 2);
    EXPECT_EQ(ctrl.PortState(port), 2);
    EXPECT_TRUE(ctrl.Registred());
}

TEST_F(ComPort, ASecondOpenIsBusy)
{
    if (UnderWine())
        GTEST_SKIP() << "Windows only: wine does not enforce exclusive opens";
    EXPECT_EQ(ErrorOf([&] { TBasicComPortCtrl::Open(TBasicComPortCtrl::CheckPortName(port), GENERIC_READ_WRITE); }),
              "TBasicComPortCtrl.Open(" + port + ") >> Порт занят.");
}

TEST_F(ComPort, AnswerInPiecesIsCollectedWholeUntilTheGap)
{
    const ABytes payload = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    TSessionParams p = Params(1000, 256, 150, 0, 0);
    const double t0 = NowMs();
    const ABytes r = ctrl.Session(Request('P', payload), &p, true);
    const double took = NowMs() - t0;
    EXPECT_EQ(r, payload);
    EXPECT_GE(took, 30 + 150 - 5);  // the second piece, then at least the gap
    EXPECT_LT(took, 1000);
    EXPECT_GE(ctrl.Calls, 1);
    EXPECT_EQ(ctrl.FinalCalls, 1);
}

TEST_F(ComPort, CompletenessEndsReadingAtOnce)
{
    ctrl.Need = 4;
    TSessionParams p = Params(1000, 256, 500, 0, 0);
    const double t0 = NowMs();
    const ABytes r = ctrl.Session(Request('E', {0xF0, 1, 2, 0xAA}), &p, true);
    EXPECT_EQ(r, (ABytes{0xF0, 1, 2, 0xAA}));
    EXPECT_LT(NowMs() - t0, 300.0);  // far below the 500 ms gap
}

TEST_F(ComPort, SilentDeviceIsAskedAgainWithPauses)
{
    TSessionParams p = Params(150, 256, 20, 2, 100);
    const double t0 = NowMs();
    EXPECT_EQ(ErrorOf([&] { ctrl.Session(Request('S'), &p, true); }), "Нет ответа.");
    const double took = NowMs() - t0;
    EXPECT_EQ(ctrl.LastError(), 0x80000002u);
    EXPECT_GE(took, 3 * (150 + 100) - 10);
    EXPECT_LT(took, 3 * (150 + 100) + 600);
    // The device saw every attempt.
    ctrl.Need = 1;
    TSessionParams q = Params(3000, 256, 20, 0, 0);
    EXPECT_EQ(ctrl.Session(Request('C'), &q, true), (ABytes{3}));
}

TEST_F(ComPort, ReadCountEndsAnAnswerThatWouldOutlastTheGap)
{
    // 100 bytes at once, 64 asked for: reading stops on the count with all that was queued, not after the gap. The gap
    // is long enough that waiting for it (600 ms or more) stays apart from a prompt end on a loaded machine.
    TSessionParams p = Params(1000, 64, 600, 0, 0);
    const double t0 = NowMs();
    const ABytes r = ctrl.Session(Request('B', {1}), &p, true);
    EXPECT_GE(r.size(), 64u);
    EXPECT_LE(r.size(), 100u);
    EXPECT_LT(NowMs() - t0, 500.0);
    Drain();
}

// The wait on the port's input: the driver's own wait for the first byte, and the handle's time-outs as before.
TEST_F(ComPort, ReadWaitWaitsOnTheInputAndKeepsTheTimeOuts)
{
    const COMMTIMEOUTS before = ctrl.GetTimeOuts();
    ABytes buf(16);
    double t0 = NowMs();
    EXPECT_EQ(TBasicComPortCtrl::ReadWait(ctrl.Port(), buf, 30), 0u);
    EXPECT_GE(NowMs() - t0, 25.0);
    ASSERT_TRUE(ctrl.Write(Request('P', {1, 2, 3, 4})));
    t0 = NowMs();
    const std::uint32_t got = TBasicComPortCtrl::ReadWait(ctrl.Port(), buf, 1000);
    // The first piece (the peer's first half), not the second 30 ms after it, and long before the whole wait; how
    // soon the peer's first half comes is the host's business, hence the loose bound.
    EXPECT_LT(NowMs() - t0, 500.0);
    EXPECT_GE(got, 1u);
    EXPECT_LE(got, 2u);
    const COMMTIMEOUTS after = ctrl.GetTimeOuts();
    EXPECT_EQ(after.ReadIntervalTimeout, before.ReadIntervalTimeout);
    EXPECT_EQ(after.ReadTotalTimeoutMultiplier, before.ReadTotalTimeoutMultiplier);
    EXPECT_EQ(after.ReadTotalTimeoutConstant, before.ReadTotalTimeoutConstant);
    Drain();
}

// The line-rate exchange on a COM port: an echo of 60 bytes is complete well before the engine's send wait (48 ms)
// would have ended; a silent device costs what it costs the engine.
TEST_F(ComPort, LineRateExchangeEndsWithTheAnswer)
{
    ABytes payload(58, 0x33);
    payload[0] = 0xF0;
    ctrl.Need = payload.size();
    TSessionParams p = Params(500, 256, 100, 0, 0);
    double t0 = NowMs();
    EXPECT_EQ(ctrl.Session(Request('E', payload), &p, true), payload);
    const double engine = NowMs() - t0;
    ctrl.SetFastExchange(true);
    t0 = NowMs();
    EXPECT_EQ(ctrl.Session(Request('E', payload), &p, true), payload);
    const double fast = NowMs() - t0;
    EXPECT_GE(engine, 48.0);
    EXPECT_LT(fast, engine);
    TSessionParams silent = Params(150, 256, 20, 1, 100);
    t0 = NowMs();
    EXPECT_EQ(ErrorOf([&] { ctrl.Session(Request('S'), &silent, true); }), "Нет ответа.");
    EXPECT_GE(NowMs() - t0, 2 * (1 + 150 + 100) - 10.0);
    EXPECT_EQ(ctrl.Resends(), 1u);
}

TEST_F(ComPort, WithoutAnswerSendsOnceAndNeverChecks)
{
    TSessionParams p = Params(100, 256, 20, 3, 100);
    const ABytes r = ctrl.Session(Request('S'), &p, false);
    EXPECT_TRUE(r.empty());
    EXPECT_EQ(ctrl.Calls, 0);
    EXPECT_EQ(ctrl.FinalCalls, 0);
    // The next session purges the port first, which would also discard a request not yet written out (wine's serial
    // writes finish asynchronously): the request gets its time on the line before the count is asked.
    SleepMs(50);
    ctrl.Need = 1;
    TSessionParams q = Params(3000, 256, 20, 0, 0);
    EXPECT_EQ(ctrl.Session(Request('C'), &q, true), (ABytes{1}));
}

TEST_F(ComPort, DriverPropertiesAndDefaultConfig)
{
    const COMMPROP prop = ctrl.GetProperties();
    EXPECT_GT(prop.wPacketLength, 0);
    EXPECT_NE(prop.dwMaxBaud, 0u);
    std::uint32_t in = 1, out = 1;
    ctrl.GetBuffers(in, out);
    EXPECT_EQ(in, prop.dwMaxRxQueue);
    EXPECT_EQ(out, prop.dwMaxTxQueue);
    const COMMCONFIG cfg = ctrl.GetConfig();
    EXPECT_GT(cfg.dwSize, 0u);
    EXPECT_EQ(cfg.dcb.DCBlength, sizeof(DCB));
    EXPECT_NE(cfg.dcb.BaudRate, 0u);

    ctrl.Close();
    EXPECT_EQ(ErrorOf([&] { ctrl.GetProperties(); }), "Error Message");
}

class ComPortLog : public ComPort {
protected:
    void SetUp() override
    {
        ComPort::SetUp();
        if (port.empty())
            return;
        const TLocalTime t = LocalNow();
        char date[32];
        std::snprintf(date, sizeof date, "-%.4d-%.2d-%.2d.log", t.Year, t.Month, t.Day);
        file = LogFolder() + "/" + port + date;
        std::remove(file.c_str());
    }
    void TearDown() override
    {
        if (!file.empty())
            std::remove(file.c_str());
    }
    std::string file;
};

TEST_F(ComPortLog, EntriesGoIntoTheLogFolderBesideTheExecutable)
{
    // The folder is beside this program's own file.
    wchar_t self[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    ASSERT_GT(n, 0u);
    std::string folder = PathUtf8(std::wstring(self, n));
    folder = folder.substr(0, folder.find_last_of('\\') + 1) + "Log";
    EXPECT_EQ(LogFolder(), folder);

    ctrl.SetLog(true);
    ctrl.Need = 3;
    TSessionParams p = Params(500, 256, 20, 0, 0);
    p.Loged = false; // the entries alone, without the engine's traces
    ctrl.Session(Request('E', {0xF0, 0x00, 0x99}), &p, true);
    EXPECT_EQ(ErrorOf([&] { ctrl.Session(Request('S'), &p, true); }), "Нет ответа.");
    std::ifstream in(file, std::ios::binary);
    ASSERT_TRUE(in) << file;
    std::stringstream ss;
    ss << in.rdbuf();
    const std::regex entries(R"(\d\d:\d\d:\d\d\.\d{3}: >> 45 03 F0 00 99 << F0 00 99 \[0-\d+\.\d\d: \]\r\n)"
                             R"(\d\d:\d\d:\d\d\.\d{3}: >> 53 00 <<  \[1-\d+\.\d\d: Нет ответа\]\r\n)");
    EXPECT_TRUE(std::regex_match(ss.str(), entries)) << ss.str();
}
