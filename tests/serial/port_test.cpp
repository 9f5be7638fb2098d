// Port primitives on real pseudo-terminals: names, failure texts, line setup, a device that goes away.
#include "serial/comport.h"

#include "base/error.h"
#include "tests/failure_text.h"
#include "tests/serial/pty_peer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

const std::string kNameError = "TBasicComPortCtrl.CheckPortName >> Ошибка имени порта ";
const std::string kNumberError = "TBasicComPortCtrl.CheckPortName >> Ошибка номера порта ";

} // namespace

TEST(PortNames, NormalisesNamesAndNumbers)
{
    const struct {
        const char* in;
        const char* out;
    } cases[] = {{"com3", "COM3"},           {"3", "COM3"},         {"COM9", "COM9"},
                 {"COM10", "\\\\.\\COM10"},  {"COM12", "\\\\.\\COM12"}, {"\\\\.\\COM12", "\\\\.\\COM12"},
                 {"COM03", "COM3"},          {"xCOM5", "COM5"},     {"/dev/ttyNRU0", "/dev/ttyNRU0"},
                 {"/dev/pts/7", "/dev/pts/7"}};
    for (const auto& c : cases)
        EXPECT_EQ(TBasicComPortCtrl::CheckPortName(c.in), c.out) << c.in;
    EXPECT_EQ(TBasicComPortCtrl::CheckPortName(10), "\\\\.\\COM10");
    EXPECT_EQ(TBasicComPortCtrl::CheckPortName(1), "COM1");
    EXPECT_EQ(TBasicComPortCtrl::CheckPortNumber("\\\\.\\COM12"), 12);
    EXPECT_EQ(PortNumberOf("COM0"), 0);
}

TEST(PortNames, FailsWithNameAndNumberTexts)
{
    const struct {
        const char* in;
        std::string text;
    } cases[] = {{"", kNameError + "\"\""},           {"LPT1", kNameError + "\"LPT1\""},
                 {"COM3 ", kNameError + "\"COM3 \""}, {"COMx", kNameError + "\"COMx\""},
                 {"COM0", kNumberError + "\"COM0\""}, {"0", kNumberError + "\"0\""},
                 {"COM-2", kNumberError + "\"COM-2\""}};
    for (const auto& c : cases) {
        EXPECT_EQ(ErrorOf([&] { TBasicComPortCtrl::CheckPortName(c.in); }), c.text) << c.in;
        EXPECT_EQ(ErrorOf([&] { TBasicComPortCtrl::CheckPortNumber(c.in); }), c.text) << c.in;
    }
    EXPECT_EQ(ErrorOf([] { TBasicComPortCtrl::CheckPortName(0); }), kNumberError + "\"0\"");
    EXPECT_EQ(ErrorOf([] { TBasicComPortCtrl::CheckPortName(-4); }), kNumberError + "\"-4\"");
    EXPECT_EQ(ErrorOf([] { PortNumberOf("LPT"); }), kNameError + "\"LPT\"");
}

TEST(PortPrimitives, OpenFailureTexts)
{
    EXPECT_EQ(ErrorOf([] { TBasicComPortCtrl::Open("/dev/nerid-no-such-port", GENERIC_READ_WRITE); }),
              "TBasicComPortCtrl.Open(/dev/nerid-no-such-port) >> Порт не найден.");
    EXPECT_EQ(ErrorOf([] { TBasicComPortCtrl::Open("COM3", GENERIC_READ_WRITE); }),
              "TBasicComPortCtrl.Open(COM3) >> Порт не найден.");
    // Not a terminal: refused before anything could be written to it.
    EXPECT_EQ(ErrorOf([] { TBasicComPortCtrl::Open("/dev/null", GENERIC_READ_WRITE); }),
              "TBasicComPortCtrl.Open(/dev/null) >> 25: Inappropriate ioctl for device");
    char file[] = "/tmp/nerid-port-test-XXXXXX";
    const int fd = mkstemp(file);
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_EQ(ErrorOf([&] { TBasicComPortCtrl::Open(file, GENERIC_READ_WRITE); }),
              std::string("TBasicComPortCtrl.Open(") + file + ") >> 25: Inappropriate ioctl for device");
    unlink(file);
}

TEST(PortPrimitives, SecondOpenOfTheSamePortIsBusy)
{
    PtyPeer pty;
    THandle h = TBasicComPortCtrl::Open(pty.SlavePath(), GENERIC_READ_WRITE);
    EXPECT_EQ(ErrorOf([&] { TBasicComPortCtrl::Open(pty.SlavePath(), GENERIC_READ_WRITE); }),
              "TBasicComPortCtrl.Open(" + pty.SlavePath() + ") >> Порт занят.");
    TBasicComPortCtrl::Close(h);
    EXPECT_EQ(h, 0u);
    // Free again once closed.
    THandle again = TBasicComPortCtrl::Open(pty.SlavePath(), GENERIC_READ_WRITE);
    EXPECT_NE(again, 0u);
    TBasicComPortCtrl::Close(again);
}

TEST(PortPrimitives, CloseLeavesZeroAndIgnoresClosedHandles)
{
    THandle zero = 0, invalid = INVALID_PORT_HANDLE;
    TBasicComPortCtrl::Close(zero);
    TBasicComPortCtrl::Close(invalid);
    EXPECT_EQ(zero, 0u);
    EXPECT_EQ(invalid, 0u);
}

TEST(PortPrimitives, SwitchOperationsAlwaysFail)
{
    EXPECT_EQ(ErrorOf([] { TBasicComPortCtrl::SwitchToRecive(0); }),
              "TBasicComPortCtrl.SwitchToRecive >> SwitchToRecive не работает");
    EXPECT_EQ(ErrorOf([] { TBasicComPortCtrl::SwitchToSend(0); }),
              "TBasicComPortCtrl.SwitchToSend >> SwitchToSend не работает");
}

TEST(PortPrimitives, FailuresOfABadHandleCarryTheSystemText)
{
    // A descriptor number that is surely not open in this process.
    const THandle bad = 1000;
    const std::string ebadf = "(9: Bad file descriptor).";
    EXPECT_EQ(ErrorOf([&] { TBasicComPortCtrl::Write(bad, {1}); }),
              "TBasicComPortCtrl.Write >> Не удалось выполнить запись " + ebadf);
    EXPECT_EQ(ErrorOf([&] { ABytes b(4); TBasicComPortCtrl::Read(bad, b); }),
              "TBasicComPortCtrl.Read >> Не удалось выполнить чтение " + ebadf);
    EXPECT_EQ(ErrorOf([&] { TBasicComPortCtrl::ClearBuffers(bad, false, false); }),
              "TBasicComPortCtrl.ClearBuffers >> Не удалось очистить буффер " + ebadf);
    EXPECT_EQ(ErrorOf([&] { TBasicComPortCtrl::ClearErrors(bad); }),
              "TBasicComPortCtrl.ClearErrors >> Не удалось выполнить чтение ошибки " + ebadf);
    EXPECT_EQ(ErrorOf([&] { TBasicComPortCtrl::GetDCB(bad); }),
              "TBasicComPortCtrl.GetDCB >> Не удалось запрос параметров порта " + ebadf);
    TCPCSetup s;
    s.Default(19200, 1);
    EXPECT_EQ(ErrorOf([&] { TBasicComPortCtrl::SetDCB(bad, s.DCB); }),
              "TBasicComPortCtrl.SetDCB >> Не удалось установить параметры порта " + ebadf);
    EXPECT_EQ(ErrorOf([&] { TBasicComPortCtrl::GetTimeOuts(bad); }),
              "TBasicComPortCtrl.GetTimeOuts >> Не удалось запросить таймауты " + ebadf);
    EXPECT_EQ(ErrorOf([&] { TBasicComPortCtrl::SetTimeOuts(bad, s.CTO); }),
              "TBasicComPortCtrl.SetTimeOuts >> Не удалось установить таймауты " + ebadf);
    EXPECT_EQ(ErrorOf([&] { TBasicComPortCtrl::SetBuffers(bad, 256, 256); }),
              "TBasicComPortCtrl.SetBuffers >> Не удалось установить размер буффера " + ebadf);
    std::uint32_t in = 0, out = 0;
    EXPECT_EQ(ErrorOf([&] { TBasicComPortCtrl::GetBuffers(bad, in, out); }),
              "TBasicComPortCtrl.GetBuffers >> Не удалось установить размер буффера " + ebadf);
}

class OpenPty : public ::testing::Test {
protected:
    void SetUp() override { h = TBasicComPortCtrl::Open(pty.SlavePath(), GENERIC_READ_WRITE); }
    void TearDown() override { TBasicComPortCtrl::Close(h); }
    PtyPeer pty;
    THandle h = 0;
};

TEST_F(OpenPty, LineSetupRoundTripsAnyRate)
{
    for (std::uint32_t baud : {19200u, 250000u, 300u}) {
        TCPCSetup s;
        s.Default(baud, 1);
        s.DCB.StopBits = 2;
        s.DCB.XonChar = 0x21;
        TBasicComPortCtrl::SetDCB(h, s.DCB);
        const DCB d = TBasicComPortCtrl::GetDCB(h);
        EXPECT_EQ(d.BaudRate, baud);
        // A pseudo-terminal always keeps 8 data bits without parity, whatever is asked.
        EXPECT_EQ(d.ByteSize, 8);
        EXPECT_EQ(d.Parity, 0);
        EXPECT_EQ(d.StopBits, 2);
        EXPECT_EQ(d.XonChar, 0x21);
        EXPECT_EQ(d.XoffChar, 0x13);
        EXPECT_EQ(d.DCBlength, 28u);
    }
}

TEST_F(OpenPty, RefusesARateOfZeroAndBadByteSizes)
{
    TCPCSetup s;
    s.Default(0, 1);
    const std::string einval = "(22: Invalid argument).";
    EXPECT_EQ(ErrorOf([&] { TBasicComPortCtrl::SetDCB(h, s.DCB); }),
              "TBasicComPortCtrl.SetDCB >> Не удалось установить параметры порта " + einval);
    s.Default(9600, 1);
    s.DCB.ByteSize = 9;
    EXPECT_EQ(ErrorOf([&] { TBasicComPortCtrl::SetDCB(h, s.DCB); }),
              "TBasicComPortCtrl.SetDCB >> Не удалось установить параметры порта " + einval);
}

TEST_F(OpenPty, TransfersBytesAndReportsQueues)
{
    TCPCSetup s;
    s.Default(19200, 1);
    TBasicComPortCtrl::SetDCB(h, s.DCB);
    TBasicComPortCtrl::SetTimeOuts(h, s.CTO);
    ABytes empty;
    EXPECT_EQ(TBasicComPortCtrl::Read(h, empty), 0u);
    ABytes buf(8);
    EXPECT_EQ(TBasicComPortCtrl::Read(h, buf), 0u);  // immediate return with nothing waiting
    EXPECT_EQ(TBasicComPortCtrl::Write(h, {0xF0, 0x00, 0x99}), 3u);
    EXPECT_EQ(pty.Receive(3), (ABytes{0xF0, 0x00, 0x99}));
    pty.Send({1, 2, 3, 4, 5});
    COMSTAT st;
    for (int i = 0; i < 200 && st.cbInQue < 5; ++i) {
        usleep(1000);
        TBasicComPortCtrl::ClearErrors(h, st);
    }
    EXPECT_EQ(st.cbInQue, 5u);
    ABytes in(5);
    EXPECT_EQ(TBasicComPortCtrl::Read(h, in), 5u);
    EXPECT_EQ(in, (ABytes{1, 2, 3, 4, 5}));
    pty.Send({9, 9});
    usleep(20000);
    TBasicComPortCtrl::ClearBuffers(h, true, true);
    TBasicComPortCtrl::ClearErrors(h, st);
    EXPECT_EQ(st.cbInQue, 0u);
    std::uint32_t inMax = 1, outMax = 1;
    TBasicComPortCtrl::GetBuffers(h, inMax, outMax);
    EXPECT_EQ(inMax, 0u);
    EXPECT_EQ(outMax, 0u);
}

TEST_F(OpenPty, ReadWaitsForTheTotalTimeOut)
{
    TBasicComPortCtrl::SetTimeOuts(h, COMMTIMEOUTS{0, 0, 80, 0, 0});
    EXPECT_EQ(TBasicComPortCtrl::GetTimeOuts(h).ReadTotalTimeoutConstant, 80u);
    ABytes buf(4);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(TBasicComPortCtrl::Read(h, buf), 0u);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GE(ms, 70.0);
    EXPECT_LT(ms, 1000.0);
}

TEST_F(OpenPty, AVanishedDeviceFailsTheNextWriteAndQueueQuery)
{
    pty.CloseMaster();
    const std::string eio = "(5: Input/output error).";
    EXPECT_EQ(ErrorOf([&] { TBasicComPortCtrl::ClearErrors(h); }),
              "TBasicComPortCtrl.ClearErrors >> Не удалось выполнить чтение ошибки " + eio);
    EXPECT_EQ(ErrorOf([&] { TBasicComPortCtrl::Write(h, {1, 2}); }),
              "TBasicComPortCtrl.Write >> Не удалось выполнить запись " + eio);
}
