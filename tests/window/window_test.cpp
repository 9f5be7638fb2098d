// The updater window's behaviour through recording controls, with real workers and simulated devices on ptys.
#include "tests/window/window_fixture.h"

#include "base/error.h"
#include "package/bootimage.h"

#include <filesystem>
#include <unistd.h>

namespace {

// ---- start-up ----

ABytes BrokenChecksum()
{
    ABytes p = SamplePackage();
    // A program word inside the summed range (data area offset 0x100, past the 26-byte table).
    p[2 + 24 + 0x100] ^= 0x01;
    return p;
}

ABytes OnlyEeprom()
{
    THexDataFile f;
    // One block above the flash limit: no header to read.
    return BytesConcat(BytesFromU16s({1}), BytesConcat(BytesFromU32s({0x1E000, 0, 4}), ABytes{1, 0, 2, 0}));
}

TEST_F(WindowTest, StartUpFailuresShowTheCodeInRedInEnglish)
{
    struct Case {
        const char* name;
        ABytes package;
        bool readFails;
        const char* line;
        const char* caption;
    } cases[] = {
        {"no trailer", {}, false, "Error [0x0301]: Data corrupted.", " v.0.00 (isp.0, izm.0)"},
        {"one byte", {0x01}, false, "Error [0x0301]: Data corrupted.", " v.0.00 (isp.0, izm.0)"},
        {"short table", {0x02, 0x00, 0x00}, false, "Error [0x0302]: Data corrupted.", " v.0.00 (isp.0, izm.0)"},
        {"empty container", {0x00, 0x00}, false, "Error [0x0303]: Data corrupted.", " v.0.00 (isp.0, izm.0)"},
        {"no flash block", OnlyEeprom(), false, "Error [0x0306]: Data corrupted.", " v.0.00 (isp.0, izm.0)"},
        // The header was read before the checksum failed: the caption shows it.
        {"checksum", BrokenChecksum(), false, "Error [0x0304]: Data corrupted.", "SAMPLE v.1.05 (isp.2, izm.0)"},
        // Lang is still Russian when the file cannot be opened: the Russian message inside the English line.
        {"unreadable", {}, true, "Error [Нет доступа к данным.]: Data corrupted.", " v.0.00 (isp.0, izm.0)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fc = FakeControls{};
        Lang = 0;
        package = c.package;
        packageFailure = c.readFails;
        Start();
        EXPECT_EQ(fc.lblState.text, c.line);
        EXPECT_EQ(fc.lblState.color, TColor::Rgb(255, 0, 0));
        EXPECT_EQ(fc.window.caption, c.caption);
        EXPECT_EQ(Lang, 1);
        EXPECT_EQ(fc.lblCDevices.text, "Found Devices:");
        EXPECT_EQ(fc.btnCancel.text, "Close");
        EXPECT_TRUE(fc.imgLogoEN.visible);
        EXPECT_FALSE(fc.imgLogoRU.visible);
        EXPECT_FALSE(fc.tmrStartSearch.enabled);
        EXPECT_FALSE(fc.btnProg.enabled);
        fc.btnCancel.Click();
        EXPECT_TRUE(fc.window.closed);
    }
    // Nothing was ever searched.
    EXPECT_EQ(listCalls, 0);
}

TEST_F(WindowTest, LanguageAndCaptionFollowTheDeviceName)
{
    struct Case {
        TSampleFirmware fw;
        std::int32_t lang;
        const char* caption;
        const char* state;
    } cases[] = {
        {{"ABC", 0x0105, 3, 2, 0}, 1, "ABC v.1.05 (isp.2, izm.0)", "Search . . ."},
        {{"\xCC\xD2\xC7-82", 0x0A10, 3, 12, 7}, 0, "МТЗ-82 v.a.10 (исп.12, изм.7)", "Поиск . . ."},
        // A tie gives English.
        {{"ab\xE0\xE1", 0x0001, 1, 0, 0}, 1, "abаб v.0.01 (isp.0, izm.0)", "Search . . ."},
    };
    for (const Case& c : cases) {
        fc = FakeControls{};
        package = SamplePackage(c.fw);
        Start();
        EXPECT_EQ(Lang, c.lang);
        EXPECT_EQ(fc.window.caption, c.caption);
        EXPECT_EQ(fc.lblState.text, c.state);
        EXPECT_EQ(fc.lblState.color, TColor::System(TSysColor::WindowText));
        EXPECT_EQ(fc.imgLogoRU.visible, c.lang == 0);
        EXPECT_EQ(fc.imgLogoEN.visible, c.lang == 1);
        EXPECT_EQ(fc.btnProg.text, c.lang == 0 ? "Продолжить" : "Next");
        EXPECT_TRUE(fc.tmrStartSearch.enabled);
    }
}

TEST_F(WindowTest, StartWaitsBeforeReadingThePackage)
{
    const double t0 = NowMs();
    Start(300);
    EXPECT_GE(NowMs() - t0, 299.0);
}

TEST_F(WindowTest, FrameColourFollowsActivation)
{
    Start();
    window->FormActivate();
    EXPECT_EQ(fc.window.color, TColor::System(TSysColor::ActiveCaptionGradient));
    window->FormDeactivate();
    EXPECT_EQ(fc.window.color, TColor::System(TSysColor::InactiveCaptionGradient));
}

// ---- search ----

TEST_F(WindowTest, SearchListsDevicesWithTheirStatesNewestOnTop)
{
    const TSampleFirmware fw;
    AddMissingPort();
    AddDevice(DeviceLike(fw, 0x0104, fw.Type));  // needs the update
    AddDevice(DeviceLike(fw, 0x0105, fw.Type));  // up to date
    AddDevice(DeviceLike(fw, 0x0200, 9));        // another type
    Lang = 1;
    Start();
    EXPECT_TRUE(fc.tmrStartSearch.enabled);
    ASSERT_TRUE(RunUntil([this] { return Listed(); }, 10000));
    EXPECT_EQ(fc.lblState.text, "Devices found: 3");
    EXPECT_FALSE(fc.pgbMain.marquee);
    EXPECT_EQ(fc.pgbMain.position, 0);
    ASSERT_EQ(window->BLI.size(), 3u);
    ASSERT_EQ(window->AIP.size(), 3u);
    EXPECT_TRUE(window->AST.empty());

    // Each row against the device it shows: rows are built in BLI order and each new one goes on top.
    const auto rows = Rows();
    ASSERT_EQ(rows.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        const TZorelBootLoaderDevIDInfo& dev = window->BLI[i];
        FakeRowPanel* row = rows[2 - i];
        const std::string ident = Format("\"SAMPLE\" %.8x v.%x.%.2x  (isp.2, izm.0)", static_cast<unsigned>(dev.DevID.dID),
                                         dev.DevID.dVerProg >> 8, dev.DevID.dVerProg & 0xFF);
        EXPECT_EQ(row->caption, ident);
        switch (dev.DevID.dVerProg) {
        case 0x0104:
            EXPECT_EQ(row->tag, 1);
            EXPECT_TRUE(row->check->checked);
            EXPECT_EQ(row->check->text, ident);
            break;
        case 0x0105:
            EXPECT_EQ(row->tag, 0);
            EXPECT_FALSE(row->check->checked);
            EXPECT_TRUE(row->check->enabled);
            EXPECT_EQ(row->check->text, ident + "\r\n   update is not required");
            break;
        default:
            EXPECT_EQ(row->tag, -1);
            EXPECT_FALSE(row->check->enabled);
            EXPECT_EQ(row->check->text, ident + "\r\n   update not supported");
        }
        EXPECT_EQ(row->image->picture, "device-icon");
    }
    EXPECT_TRUE(fc.btnProg.enabled);
    // The search is not repeated once devices are listed.
    const int calls = listCalls;
    PumpFor(400);
    EXPECT_EQ(listCalls, calls);

    // Unchecking the only checked row disables Next; checking the up-to-date row enables it again.
    FakeRowPanel* needed = nullptr;
    FakeRowPanel* current = nullptr;
    for (FakeRowPanel* r : rows)
        (r->tag == 1 ? needed : r->tag == 0 ? current : needed) = r->tag == -1 ? needed : r;
    ASSERT_TRUE(needed && current);
    needed->UserClick();
    EXPECT_FALSE(fc.btnProg.enabled);
    current->UserClick();
    EXPECT_TRUE(fc.btnProg.enabled);
}

TEST_F(WindowTest, EmptyPassesRepeatUntilAPortAppears)
{
    Lang = 1;
    Start();
    // No port at all: each pass ends at once and the next starts 100 ms later.
    ASSERT_TRUE(RunUntil([this] { return listCalls >= 3; }, 3000));
    EXPECT_EQ(fc.lblState.text, "Search . . .");
    EXPECT_TRUE(fc.pgbMain.marquee);
    EXPECT_TRUE(window->BLI.empty());
    // A port without a device: the pass ends when its worker reports and the search goes on.
    AddMissingPort();
    const int before = listCalls;
    ASSERT_TRUE(RunUntil([&] { return listCalls >= before + 2; }, 3000));
    EXPECT_TRUE(window->AIP.empty());
    // A device plugged in later is found.
    const TSampleFirmware fw;
    AddDevice(DeviceLike(fw, 0x0100, fw.Type));
    ASSERT_TRUE(RunUntil([this] { return Listed(); }, 10000));
    EXPECT_EQ(fc.lblState.text, "Devices found: 1");
}

// A pass that finds nothing names, under the status, a port this user may not open and what to do; the line goes once
// a device is found. A port that is merely missing says nothing there.
TEST_F(WindowTest, APortRefusedForPermissionIsNamedUnderTheStatusUntilADeviceIsFound)
{
    Lang = 1;
    const std::string port = "/nonexistent/ttyNRU7";
    AddMissingPort(port);
    Start();
    ASSERT_TRUE(RunUntil([this] { return listCalls >= 3; }, 5000));
    EXPECT_EQ(fc.lblAccess.text, "");
    RefusePort(port, "dialout");
    const int before = listCalls;
    ASSERT_TRUE(RunUntil([&] { return listCalls >= before + 2; }, 5000));
    EXPECT_EQ(fc.lblAccess.text,
              "No access to /nonexistent/ttyNRU7: add your user to the group \"dialout\", then log in again.");
    EXPECT_EQ(fc.lblState.text, "Search . . .");
    const TSampleFirmware fw;
    AddDevice(DeviceLike(fw, 0x0100, fw.Type));
    ASSERT_TRUE(RunUntil([this] { return Listed(); }, 10000));
    EXPECT_EQ(fc.lblAccess.text, "");
    EXPECT_EQ(fc.lblState.text, "Devices found: 1");
}

TEST_F(WindowTest, SilentDeviceEndsThePassAfterThreeRequests)
{
    SimFaults silent;
    silent.silent = true;
    SimRunner& sim = AddDevice(SimIdentity{}, silent);
    Start();
    const double t0 = NowMs();
    ASSERT_TRUE(RunUntil([this] { return listCalls >= 2; }, 6000));
    const double pass = NowMs() - t0;
    // Three tries of 300 ms, each followed by a 400 ms pause, plus the two timers.
    EXPECT_GE(pass, 2100.0);
    EXPECT_LT(pass, 4000.0);
    EXPECT_EQ(sim.Device(0).Frames().size(), 3u);
    EXPECT_TRUE(window->AIP.empty());
}

// ---- programming ----

// A smaller image than the shipped one keeps the runs short: 32 flash lines and 8 EEPROM lines.
TSampleFirmware SmallFirmware()
{
    TSampleFirmware fw;
    fw.FlashLength = 0x800;
    return fw;
}

TEST_F(WindowTest, OneDeviceIsProgrammedWithTheBarGoingToTheEnd)
{
    const TSampleFirmware fw = SmallFirmware();
    package = SamplePackage(fw);
    SimRunner& sim = AddDevice(DeviceLike(fw, 0x0104, fw.Type));
    Lang = 1;
    Start();
    ASSERT_TRUE(RunUntil([this] { return Listed(); }, 10000));
    ASSERT_TRUE(fc.btnProg.enabled);
    fc.pgbMain.history.clear();
    fc.btnProg.Click();
    EXPECT_FALSE(fc.btnProg.enabled);
    EXPECT_TRUE(fc.tmrStartProg.enabled);
    ASSERT_TRUE(RunUntil([this] { return fc.lblState.text == "Downloading update . . ."; }, 1000));
    EXPECT_TRUE(window->RunActive());
    ASSERT_TRUE(RunUntil([this] { return Finished(); }, 60000));
    EXPECT_EQ(fc.lblState.text, "Completed successfully");

    FakeRowPanel* row = Rows()[0];
    EXPECT_EQ(row->check->text, row->caption + "\r\n   update successful");
    EXPECT_EQ(row->check->color, TColor::Rgb(0, 128, 0));
    EXPECT_FALSE(row->check->checked);
    EXPECT_FALSE(row->enabled);
    EXPECT_EQ(row->tag, 2);
    EXPECT_FALSE(fc.btnProg.enabled);
    EXPECT_EQ(fc.pgbMain.position, 0);
    // The bar climbs with every line to 1000, then returns to 0.
    const auto& h = fc.pgbMain.history;
    ASSERT_GE(h.size(), 3u);
    EXPECT_EQ(h.back(), 0);
    EXPECT_EQ(h[h.size() - 2], 1000);
    for (std::size_t k = 1; k + 1 < h.size(); ++k)
        EXPECT_LE(h[k - 1], h[k]) << k;
    ExpectHoldsPackage(sim.Device(0), package);
}

TEST_F(WindowTest, TwoDevicesOneFailingEachRowShowsItsResult)
{
    const TSampleFirmware fw = SmallFirmware();
    package = SamplePackage(fw);
    SimFaults dies;
    dies.stopAfter = 20; // stops answering in the middle of the flash lines
    SimRunner& good = AddDevice(DeviceLike(fw, 0x0104, fw.Type));
    SimRunner& bad = AddDevice(DeviceLike(fw, 0x0103, fw.Type), dies);
    Lang = 1;
    Start();
    ASSERT_TRUE(RunUntil([this] { return window->AIP.size() == 2; }, 10000));
    fc.btnProg.Click();
    // While a device is still being programmed, Next stays disabled even when the other one has ended.
    bool enabledDuringRun = false;
    ASSERT_TRUE(RunUntil(
        [&] {
            if (window->RunActive() && fc.btnProg.enabled)
                enabledDuringRun = true;
            return Finished();
        },
        60000));
    EXPECT_FALSE(enabledDuringRun);
    // One device failed: the run does not claim success.
    EXPECT_EQ(fc.lblState.text, "update error");
    for (FakeRowPanel* r : Rows()) {
        const bool isBad = r->caption.find("v.1.03") != std::string::npos;
        EXPECT_EQ(r->tag, isBad ? 3 : 2);
        EXPECT_EQ(r->check->color, isBad ? TColor::Rgb(255, 0, 0) : TColor::Rgb(0, 128, 0));
        EXPECT_EQ(r->check->text, r->caption + (isBad ? "\r\n   update error" : "\r\n   update successful"));
    }
    // The failing device keeps its last percentage in the sum: the bar never reached the end.
    for (int p : fc.pgbMain.history)
        EXPECT_LT(p, 1000);
    ExpectHoldsPackage(good.Device(0), package);
    EXPECT_EQ(bad.Device(0).Resets(), 0);
    EXPECT_EQ(bad.Device(0).LinesWritten(), 20);
}

// A device unplugged after the search, before Next: its row fails at once, the other device is programmed, the run
// ends. The window reaches the device through a link of the test's own, which is what vanishes: a freed pty number
// may soon belong to another program, and the worker must never write to that.
TEST_F(WindowTest, APortThatVanishesAfterTheSearchFailsOnlyItsRow)
{
    const TSampleFirmware fw = SmallFirmware();
    package = SamplePackage(fw);
    AddDevice(DeviceLike(fw, 0x0104, fw.Type));
    AddDevice(DeviceLike(fw, 0x0103, fw.Type));
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("nerid-vanish-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::filesystem::path link = dir / "port";
    {
        std::lock_guard<std::mutex> g(portsLock);
        std::filesystem::create_symlink(ports[1], link);
        ports[1] = link.string();
    }
    Lang = 1;
    Start();
    ASSERT_TRUE(RunUntil([this] { return window->AIP.size() == 2; }, 10000));
    std::filesystem::remove_all(dir);
    SimRunner& good = *sims[0];
    sims[1].reset();
    const double t0 = NowMs();
    fc.btnProg.Click();
    ASSERT_TRUE(RunUntil([this] { return Finished(); }, 60000));
    for (FakeRowPanel* r : Rows()) {
        const bool gone = r->caption.find("v.1.03") != std::string::npos;
        EXPECT_EQ(r->tag, gone ? 3 : 2);
        EXPECT_EQ(r->check->text, r->caption + (gone ? "\r\n   update error" : "\r\n   update successful"));
    }
    EXPECT_LT(NowMs() - t0, 30000.0);
    EXPECT_EQ(fc.lblState.text, "update error");
    ExpectHoldsPackage(good.Device(0), package);
}

TEST_F(WindowTest, ProgressIsTheMeanOfTheWorkersTimesTen)
{
    // Reports as three workers would send them: rows 0..2 at 100, 50 and 0 give 500; a value of 300 keeps 44.
    Start();
    window->APT.assign(3, nullptr);
    window->APTpg.assign(3, 0);
    window->APTpgQ = 3;
    std::uint32_t res = 0x80000000;
    window->ProgThreadEvent(nullptr, (0u << 16) | 1, 100, res);
    EXPECT_EQ(res, 0u);
    window->ProgThreadEvent(nullptr, (1u << 16) | 1, 50, res);
    EXPECT_EQ(fc.pgbMain.position, 500);
    window->ProgThreadEvent(nullptr, (2u << 16) | 1, 300, res);
    EXPECT_EQ(window->APTpg[2], 44);
    EXPECT_EQ(fc.pgbMain.position, (194 * 10) / 3);
    // A result for a row with no slot (a worker of an earlier run) is ignored.
    window->ProgThreadEvent(nullptr, (7u << 16) | 2, 0, res);
    EXPECT_FALSE(fc.tmrStopProg.enabled);
}

// The status line at the end of a Russian run whose one device failed: "ошибка обновления", not text 5.
TEST_F(WindowTest, RussianRunWithAFailedDeviceEndsWithUpdateError)
{
    TSampleFirmware fw = SmallFirmware();
    fw.Name = "\xD2\xE5\xF1\xF2\xE5\xF0-1"; // "Тестер-1"
    package = SamplePackage(fw);
    SimFaults dies;
    dies.stopAfter = 5;
    AddDevice(DeviceLike(fw, 0x0103, fw.Type), dies);
    Start();
    ASSERT_TRUE(RunUntil([this] { return Listed(); }, 10000));
    ASSERT_EQ(Lang, 0);
    fc.btnProg.Click();
    ASSERT_TRUE(RunUntil([this] { return Finished(); }, 60000));
    EXPECT_EQ(fc.lblState.text, "ошибка обновления");
    EXPECT_EQ(Rows()[0]->tag, 3);
}

} // namespace
