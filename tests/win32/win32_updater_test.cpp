// nerid-programmer.exe end to end under wine, driven from this process with window messages: the failure line of an
// executable without a package, and updaters packed by nerid.exe that find a simulated device on COM5, list it,
// program it when Next is clicked and end "Completed successfully", with the device holding the package; the same
// for an updater signed after packing (made by sign_updater.sh), and an updater, nerid.exe and a station's records
// file in a folder whose name has characters of several scripts. Screenshots of each state go to the build folder's
// screens/.
#include "base/format.h"
#include "base/texts.h"
#include "app/win32/win32_ids.h"
#include "package/bootimage.h"
#include "package/validate.h"
#include "tests/win32/window_driver.h"
#include "cli/firmware.h"
#include "cli/memory_map.h"
#include "cli/sample.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <windows.h>

#include <commctrl.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string kTools = NERID_TOOLS_DIR;       // nerid.exe and nerid-programmer.exe
const std::string kWork = NERID_WORK_DIR;         // this test's files
const std::string kScreens = NERID_SCREENS_DIR;   // screenshots
const std::string kSimDump = NERID_SIM_DUMP;      // what the simulated device holds (JSON)
const std::string kSimStatus = NERID_SIM_STATUS;  // the peer's state: "ready PATH" or "unavailable: why"
const std::string kSigned = NERID_SIGNED_DIR;     // sign_updater.sh's firmware.hex and signed.exe
constexpr COLORREF kGreen = RGB(0, 128, 0);       // a row's text after a successful update

std::string ReadText(const std::string& unixPath)
{
    std::ifstream f(fs::path(WinePath(unixPath)), std::ios::binary);
    return std::string{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

class Win32Updater : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(WinePath(kScreens)); }

    // Starts `exe` and waits for its window to show; a fatal failure otherwise (callers wrap it in
    // ASSERT_NO_FATAL_FAILURE), saying whether the updater still runs or how it ended.
    void Launch(const std::wstring& exe)
    {
        ASSERT_TRUE(process.Start(exe));
        if (!WaitFor([&] { return (window = FindUpdaterWindow(process.pi.dwProcessId)) != nullptr; }, 20000)) {
            const long rc = process.Wait(0);
            FAIL() << "no updater window within 20 s; the updater "
                   << (rc == -1 ? std::string("still runs") : "ended with exit code " + std::to_string(rc));
        }
    }
    HWND Item(int id) const { return GetDlgItem(window, id); }
    std::string State() const { return TextOf(Item(IDC_LBLSTATE)); }
    void Shot(const std::string& name)
    {
        Sleep(300); // the last texts painted
        EXPECT_TRUE(SaveWindowShot(window, WinePath(kScreens + "/" + name + ".png"))) << name;
    }
    // Next, Close and the window's ending: the process leaves at once.
    void CloseAndExpectExit()
    {
        SendMessageW(Item(IDC_BTNCANCEL), BM_CLICK, 0, 0);
        EXPECT_EQ(process.Wait(5000), 0);
    }

    // A package written as a block container, packed by nerid.exe into an updater beside it, with nerid.exe's
    // default base (nerid-programmer.exe beside it).
    std::wstring PackUpdater(const TSampleFirmware& fw, const std::string& name)
    {
        package = BuildSampleImage(fw).BytesTo();
        const std::string fwPath = kWork + "/" + name + ".bin";
        {
            std::ofstream f(fs::path(WinePath(fwPath)), std::ios::binary | std::ios::trunc);
            f.write(reinterpret_cast<const char*>(package.data()), static_cast<std::streamsize>(package.size()));
        }
        const std::wstring exe = WinePath(kWork + "/" + name + ".exe");
        const std::wstring cmd = L"\"" + WinePath(kTools + "/nerid.exe") + L"\" pack \"" + WinePath(fwPath) +
                                 L"\" -o \"" + exe + L"\"";
        EXPECT_EQ(RunAndWait(cmd, 30000), 0);
        return exe;
    }

    // The simulated device behind COM5 (tests/win32/sim_relay.py), or a reason why there is none.
    std::string SimUnavailable()
    {
        std::string status;
        WaitFor([&] { return !(status = ReadText(kSimStatus)).empty(); }, 15000);
        if (status.rfind("ready", 0) == 0)
            return {};
        return status.empty() ? "the simulator peer did not start" : status;
    }

    // The device's memory equals every flash and EEPROM line of the package, and it was reset once.
    void ExpectDeviceHoldsPackage()
    {
        nlohmann::json dump;
        ASSERT_TRUE(WaitFor(
            [&] {
                const std::string text = ReadText(kSimDump);
                dump = nlohmann::json::parse(text, nullptr, false);
                return !dump.is_discarded() && dump.contains("devices") && dump["devices"].size() == 1 &&
                       dump["devices"][0]["resets"] == 1;
            },
            10000))
            << ReadText(kSimDump);
        TZorelBootLoaderHexDataFile fh;
        const TPackageContents p = CheckPackage(fh, package);
        const nlohmann::json& d = dump["devices"][0];
        EXPECT_EQ(DumpMemory(d["flash"], "address"), LinesMemory(p.FL));
        EXPECT_EQ(DumpMemory(d["eeprom"], "offset"), LinesMemory(p.EE));
    }

    // List, program on Next, finish; screenshots named after `lang`.
    void UpdateOneDevice(const TSampleFirmware& fw, const std::string& lang)
    {
        RunUpdater(PackUpdater(fw, "updater_" + lang), lang);
    }

    // The same with an updater that carries `package`.
    void RunUpdater(const std::wstring& exe, const std::string& lang)
    {
        if (const std::string why = SimUnavailable(); !why.empty())
            GTEST_SKIP() << "no simulated device on COM5: " << why;
        ASSERT_NO_FATAL_FAILURE(Launch(exe));
        Lang = lang == "ru" ? 0 : 1;
        EXPECT_EQ(TextOf(Item(IDC_LBLCDEVICES)), LangText(14));
        EXPECT_EQ(TextOf(Item(IDC_BTNPROG)), LangText(17));
        EXPECT_EQ(IsWindowVisible(Item(lang == "ru" ? IDC_IMGLOGORU : IDC_IMGLOGOEN)), TRUE);
        EXPECT_EQ(IsWindowVisible(Item(lang == "ru" ? IDC_IMGLOGOEN : IDC_IMGLOGORU)), FALSE);

        const HWND list = Item(IDC_PNLDATA);
        ASSERT_TRUE(WaitFor([&] { return RowCheckBoxes(list).size() == 1; }, 30000)) << State();
        const HWND row = RowCheckBoxes(list)[0];
        // The device needs the update: its row is checked and Next enabled.
        EXPECT_EQ(State(), Format(LangText(6).c_str(), 1));
        EXPECT_EQ(TextOf(row).rfind("\"SIMDEV\" 00000001 v.1.00", 0), 0u) << TextOf(row);
        EXPECT_EQ(SendMessageW(row, BM_GETCHECK, 0, 0), BST_CHECKED);
        ASSERT_TRUE(IsWindowEnabled(Item(IDC_BTNPROG)));
        Sleep(300); // painted
        EXPECT_EQ(CountScreenPixels(row, kGreen), 0);
        Shot("win32_" + lang + "_listed");

        SendMessageW(Item(IDC_BTNPROG), BM_CLICK, 0, 0);
        ASSERT_TRUE(WaitFor([&] { return State() == LangText(5); }, 60000)) << State();
        const std::string suffix = "\r\n   " + LangText(9);
        const std::string text = TextOf(row);
        ASSERT_GE(text.size(), suffix.size());
        EXPECT_EQ(text.substr(text.size() - suffix.size()), suffix) << text;
        EXPECT_EQ(SendMessageW(row, BM_GETCHECK, 0, 0), BST_UNCHECKED);
        EXPECT_FALSE(IsWindowEnabled(Item(IDC_BTNPROG)));
        Shot("win32_" + lang + "_finished");
        // The row's text is drawn in green.
        EXPECT_GT(CountScreenPixels(row, kGreen), 50);
        ExpectDeviceHoldsPackage();
        CloseAndExpectExit();
    }

    TProcess process;
    HWND window = nullptr;
    ABytes package;
};

TEST_F(Win32Updater, WithoutAPackageShowsTheFailureLineInEnglish)
{
    ASSERT_NO_FATAL_FAILURE(Launch(WinePath(kTools + "/nerid-programmer.exe")));
    ASSERT_TRUE(WaitFor([&] { return !State().empty(); }, 5000));
    EXPECT_EQ(State(), "Error [0x0301]: Data corrupted.");
    EXPECT_EQ(TextOf(window), " v.0.00 (isp.0, izm.0)");
    EXPECT_EQ(TextOf(Item(IDC_LBLCDEVICES)), "Found Devices:");
    EXPECT_EQ(TextOf(Item(IDC_BTNCANCEL)), "Close");
    EXPECT_TRUE(IsWindowVisible(Item(IDC_IMGLOGOEN)));
    EXPECT_FALSE(IsWindowVisible(Item(IDC_IMGLOGORU)));
    EXPECT_FALSE(IsWindowEnabled(Item(IDC_BTNPROG)));
    Sleep(300); // painted
    EXPECT_GT(CountScreenPixels(Item(IDC_LBLSTATE), RGB(255, 0, 0)), 50); // the line is drawn in red
    // No search ever starts: the list stays empty, the bar never turns into a marquee.
    Sleep(500);
    EXPECT_TRUE(RowCheckBoxes(Item(IDC_PNLDATA)).empty());
    EXPECT_FALSE(GetWindowLongPtrW(Item(IDC_PGBMAIN), GWL_STYLE) & PBS_MARQUEE);
    Shot("win32_en_failed");
    CloseAndExpectExit();
}

// The file properties of both programs: the project's version, the description and the product name.
TEST(Win32VersionInfo, BothProgramsCarryTheProjectVersion)
{
    for (const char* program : {"nerid-programmer.exe", "nerid.exe"}) {
        const std::wstring path = WinePath(kTools + "/" + program);
        DWORD ignored = 0;
        std::vector<char> info(GetFileVersionInfoSizeW(path.c_str(), &ignored));
        ASSERT_FALSE(info.empty()) << program;
        ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data())) << program;
        auto value = [&](const wchar_t* name) {
            wchar_t* text = nullptr;
            UINT length = 0;
            const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
            if (!VerQueryValueW(info.data(), key.c_str(), reinterpret_cast<void**>(&text), &length) || !text)
                return std::wstring();
            return std::wstring(text);
        };
        EXPECT_EQ(value(L"FileVersion"), L"" NERID_VERSION) << program;
        EXPECT_EQ(value(L"FileDescription"), L"Firmware updater") << program;
        EXPECT_EQ(value(L"ProductName"), L"nerid") << program;
        // The icon group is there for Explorer.
        const HMODULE m = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(m, nullptr) << program;
        EXPECT_NE(FindResourceW(m, MAKEINTRESOURCEW(IDI_PRODUCT), MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */), nullptr)
            << program;
        FreeLibrary(m);
    }
}

TEST_F(Win32Updater, EnglishUpdaterProgramsTheSimulatedDevice)
{
    TSampleFirmware fw; // SAMPLE v.1.05, type 3, variant 2, revision 0: the simulated device has v.1.00 of it
    fw.FlashLength = 0x800;
    UpdateOneDevice(fw, "en");
}

TEST_F(Win32Updater, RussianUpdaterProgramsTheSimulatedDevice)
{
    TSampleFirmware fw;
    fw.Name = "\xD2\xE5\xF1\xF2\xE5\xF0-1"; // "Тестер-1" in code page 1251
    fw.FlashLength = 0x800;
    fw.Seed = 7;
    UpdateOneDevice(fw, "ru");
}

// Signed after packing: the signer's certificate table follows the package; the updater still finds it.
TEST_F(Win32Updater, SignedUpdaterProgramsTheSimulatedDevice)
{
    package = FirmwareContainer(fs::path(WinePath(kSigned + "/firmware.hex")));
    ASSERT_FALSE(package.empty());
    RunUpdater(WinePath(kSigned + "/signed.exe"), "signed");
}

// Short names are disabled on most volumes: the updater reads itself, and nerid.exe takes its arguments and opens its
// files, through the wide-character path whatever the folder is called; nerid.exe's output to a file is UTF-8.
TEST_F(Win32Updater, UpdaterAndToolInAFolderOfAnyName)
{
    const fs::path folder = fs::path(WinePath(kWork)) / L"Прошивка 固件 ✓";
    std::error_code ec;
    fs::remove_all(folder, ec);
    ASSERT_TRUE(fs::create_directories(folder));
    TSampleFirmware fw;
    fw.Name = "\xD2\xE5\xF1\xF2\xE5\xF0-1"; // "Тестер-1" in code page 1251
    fw.FlashLength = 0x800;
    package = BuildSampleImage(fw).BytesTo();
    {
        std::ofstream f(folder / L"firmware.bin", std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char*>(package.data()), static_cast<std::streamsize>(package.size()));
    }
    const std::wstring nerid = L"\"" + WinePath(kTools + "/nerid.exe") + L"\" ";
    const std::wstring exe = (folder / L"updater.exe").wstring();
    ASSERT_EQ(RunAndWait(nerid + L"pack \"" + (folder / L"firmware.bin").wstring() + L"\" -o \"" + exe + L"\"", 30000,
                         (folder / L"pack.txt").wstring()),
              0);
    ASSERT_EQ(RunAndWait(nerid + L"info \"" + exe + L"\"", 30000, (folder / L"info.txt").wstring()), 0);
    std::ifstream info(folder / L"info.txt", std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(info), std::istreambuf_iterator<char>()};
    EXPECT_NE(text.find("name:          Тестер-1\r\n"), std::string::npos) << text;

    ASSERT_NO_FATAL_FAILURE(Launch(exe));
    // The caption shows the package's header in Russian (chosen by the Cyrillic name): the updater read its own file.
    const std::string version = " v.1.05 (исп.2, изм.0)";
    EXPECT_TRUE(WaitFor(
        [&] {
            const std::string caption = TextOf(window);
            return caption.size() > version.size() && caption.substr(caption.size() - version.size()) == version;
        },
        5000))
        << TextOf(window);
    EXPECT_EQ(State().find("0x0301"), std::string::npos) << State(); // not "Data corrupted"
    CloseAndExpectExit();

    // A production station keeps its records in that folder too: one board programmed, its record written there.
    if (const std::string why = SimUnavailable(); !why.empty())
        GTEST_SKIP() << "no simulated device on COM5 for the station: " << why;
    const fs::path records = folder / L"записи.jsonl";
    const fs::path output = folder / L"station.txt";
    const long rc = RunAndWait(nerid + L"flash \"" + exe + L"\" --port COM5 --watch --count 1 --json --log \"" +
                                   records.wstring() + L"\"",
                               60000, output.wstring());
    std::ifstream out(output, std::ios::binary);
    EXPECT_EQ(rc, 0) << std::string{std::istreambuf_iterator<char>(out), std::istreambuf_iterator<char>()};
    std::ifstream in(records, std::ios::binary);
    ASSERT_TRUE(in) << "no records file in the folder";
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(nlohmann::json::parse(line).value("result", ""), "programmed") << line;
}

// Per-monitor DPI aware: started at 96, 144 and 192 dots per inch, the window and every control in it are that many
// times their size at 96 (exactly at 192, within rounding at 144), each control lies inside its parent, every text fits
// its control in a font of the same scale, and the texts are drawn that much larger. The screen's DPI is set in the
// prefix's registry for the updater only: this process keeps the one it started with (wine maps no coordinates
// between the two). Screenshots at 144 dpi (150 %) of the English and the Russian window.
TEST_F(Win32Updater, ScalesToTheScreenDpi)
{
    TSampleFirmware fw;
    fw.FlashLength = 0x800;
    const std::wstring en = PackUpdater(fw, "updater_dpi_en");
    fw.Name = "\xD2\xE5\xF1\xF2\xE5\xF0-1"; // "Тестер-1" in code page 1251: a Russian window
    const std::wstring ru = PackUpdater(fw, "updater_dpi_ru");
    const std::string why = SimUnavailable();
    const bool device = why.empty(); // with a device, its row is measured too

    struct TControl {
        int id;
        bool bold;   // the text's font
        bool text;   // its text must fit
        bool button; // a push button: one line inside its frame
    };
    const TControl controls[] = {
        {IDC_GROUPBOX1, false, false, false}, {IDC_LBLCDEVICES, true, true, false},
        {IDC_LBLSTATEC, true, true, false},   {IDC_LBLSTATE, false, true, false},
        {IDC_BTNPROG, false, true, true},     {IDC_BTNCANCEL, false, true, true},
        {IDC_PGBMAIN, false, false, false},   {IDC_IMGLOGOEN, false, false, false},
        {IDC_IMGLOGORU, false, false, false}, {IDC_IMGDEV, false, false, false},
        {IDC_PNLDATA, false, false, false},   {IDC_SHAPE1, false, false, false},
        {IDC_SHAPE2, false, false, false},
    };
    std::map<int, RECT> at96;  // control id (the row's box as IDC_ROWCHECK) → its rectangle at 96 dpi
    RECT inkAt96{};            // where the devices' heading is drawn at 96 dpi
    auto fitsText = [](HWND h, int dpi, bool bold, int spareWidth) {
        const RECT r = RectInParent(h);
        HFONT font = CreateFontW(-MulDiv(11, dpi, 96), 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                                 DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                 DEFAULT_PITCH | FF_SWISS, L"Tahoma");
        HDC dc = GetDC(nullptr);
        HGDIOBJ old = SelectObject(dc, font);
        wchar_t text[1024] = {};
        SendMessageW(h, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
        RECT need{0, 0, r.right - r.left - spareWidth, 0};
        DrawTextW(dc, text, -1, &need, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
        SelectObject(dc, old);
        ReleaseDC(nullptr, dc);
        DeleteObject(font);
        return need.right <= r.right - r.left - spareWidth && need.bottom <= r.bottom - r.top;
    };
    auto expectScaled = [](const RECT& got, const RECT& base, int dpi, const std::string& what) {
        // Each docked margin and size is rounded on its own, and a text line is the font's height, which grows a
        // little faster than the DPI (Tahoma: 13 pixels at 96 dpi, 27 at 192): a few pixels either way.
        const int slack = 3;
        const LONG want[4] = {MulDiv(base.left, dpi, 96), MulDiv(base.top, dpi, 96), MulDiv(base.right, dpi, 96),
                              MulDiv(base.bottom, dpi, 96)};
        const LONG have[4] = {got.left, got.top, got.right, got.bottom};
        for (int i = 0; i < 4; ++i)
            EXPECT_LE(std::abs(have[i] - want[i]), slack)
                << what << " at " << dpi << " dpi, edge " << i << ": " << have[i] << " instead of " << want[i];
    };

    for (const int dpi : {96, 144, 192}) {
        SCOPED_TRACE(dpi);
        TScreenDpi screen(dpi);
        ASSERT_TRUE(screen.Set());
        ASSERT_NO_FATAL_FAILURE(Launch(en));
        Lang = 1;
        if (device)
            ASSERT_TRUE(WaitFor([&] { return RowCheckBoxes(Item(IDC_PNLDATA)).size() == 1; }, 30000)) << State();
        else
            ASSERT_TRUE(WaitFor([&] { return !State().empty(); }, 10000));
        Sleep(300); // painted

        RECT client{};
        GetClientRect(window, &client);
        EXPECT_EQ(client.right, MulDiv(576, dpi, 96));
        EXPECT_EQ(client.bottom, MulDiv(370, dpi, 96));
        for (const TControl& c : controls) {
            const HWND h = Item(c.id);
            ASSERT_NE(h, nullptr) << c.id;
            const RECT r = RectInParent(h);
            EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= client.right && r.bottom <= client.bottom)
                << "control " << c.id << " outside the client area at " << dpi << " dpi";
            if (dpi == 96)
                at96[c.id] = r;
            else
                expectScaled(r, at96[c.id], dpi, "control " + std::to_string(c.id));
            if (c.text) {
                EXPECT_TRUE(fitsText(h, dpi, c.bold, c.button ? MulDiv(6, dpi, 96) : 0))
                    << "\"" << TextOf(h) << "\" does not fit control " << c.id << " at " << dpi << " dpi";
            }
        }
        if (device) {
            const HWND box = RowCheckBoxes(Item(IDC_PNLDATA))[0];
            const HWND row = GetParent(box);
            RECT inRow{}, rowClient{};
            GetClientRect(row, &rowClient);
            inRow = RectInParent(box);
            EXPECT_TRUE(inRow.left >= 0 && inRow.top >= 0 && inRow.right <= rowClient.right &&
                        inRow.bottom <= rowClient.bottom);
            if (dpi == 96)
                at96[IDC_ROWCHECK] = inRow;
            else
                expectScaled(inRow, at96[IDC_ROWCHECK], dpi, "the row's check box");
            // The check mark and its gap take about 20 pixels at 96 dpi.
            EXPECT_TRUE(fitsText(box, dpi, false, MulDiv(20, dpi, 96))) << TextOf(box);
        }
        // The heading's letters are that much taller and wider: drawn in a larger font, not left small.
        const RECT ink = InkBounds(Item(IDC_LBLCDEVICES), GetSysColor(COLOR_BTNFACE));
        if (dpi == 96) {
            inkAt96 = ink;
            EXPECT_GT(ink.bottom - ink.top, 6);
        } else {
            const double tall = static_cast<double>(ink.bottom - ink.top) / (inkAt96.bottom - inkAt96.top),
                         wide = static_cast<double>(ink.right - ink.left) / (inkAt96.right - inkAt96.left);
            EXPECT_NEAR(tall, dpi / 96.0, 0.2 * dpi / 96.0) << "text height against 96 dpi";
            EXPECT_NEAR(wide, dpi / 96.0, 0.2 * dpi / 96.0) << "text width against 96 dpi";
        }
        if (dpi == 144)
            Shot("win32_en_150");
        CloseAndExpectExit();
    }

    TScreenDpi screen(144);
    ASSERT_NO_FATAL_FAILURE(Launch(ru));
    if (device) {
        EXPECT_TRUE(WaitFor([&] { return RowCheckBoxes(Item(IDC_PNLDATA)).size() == 1; }, 30000)) << State();
    }
    Shot("win32_ru_150");
    CloseAndExpectExit();
}

// The keys of any dialog box, pressed into the window's queue as the keyboard would: Tab goes round the row, Next and
// Close; the focused button is the default one and Enter presses it; Escape closes the window as Close does.
TEST_F(Win32Updater, KeyboardTabEnterEscape)
{
    TSampleFirmware fw;
    fw.FlashLength = 0x800;
    const std::wstring exe = PackUpdater(fw, "updater_keys");
    if (const std::string why = SimUnavailable(); !why.empty())
        GTEST_SKIP() << "no simulated device on COM5: " << why;
    ASSERT_NO_FATAL_FAILURE(Launch(exe));
    Lang = 1;
    ASSERT_TRUE(WaitFor([&] { return RowCheckBoxes(Item(IDC_PNLDATA)).size() == 1; }, 30000)) << State();
    ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(Item(IDC_BTNPROG)) != FALSE; }, 5000));
    const HWND row = RowCheckBoxes(Item(IDC_PNLDATA))[0];
    const HWND next = Item(IDC_BTNPROG), close = Item(IDC_BTNCANCEL);
    auto focused = [&] {
        GUITHREADINFO gi{};
        gi.cbSize = sizeof(gi);
        return GetGUIThreadInfo(process.pi.dwThreadId, &gi) ? gi.hwndFocus : nullptr;
    };
    // The key goes to the focused control (or the window while none has the focus); the message loop's
    // IsDialogMessageW handles it. The key is only queued: a caller waits for its effect before pressing the next
    // (a message sent meanwhile would be handled before it, so nothing sent can tell that it has been taken).
    auto press = [&](WPARAM key) {
        const HWND to = focused() ? focused() : window;
        PostMessageW(to, WM_KEYDOWN, key, 1);
        PostMessageW(to, WM_KEYUP, key, 0xC0000001);
    };
    for (int k = 0; k < 4 && focused() != row; ++k) {
        const HWND before = focused();
        press(VK_TAB);
        WaitFor([&] { return focused() != before; }, 2000);
    }
    ASSERT_EQ(focused(), row);
    const HWND order[] = {next, close, row, next};
    for (HWND expected : order) {
        press(VK_TAB);
        ASSERT_TRUE(WaitFor([&] { return focused() == expected; }, 2000)) << "focus on " << TextOf(focused());
    }
    // Next has the focus: it is the default button, Close is not.
    EXPECT_TRUE(WaitFor([&] { return (GetWindowLongPtrW(next, GWL_STYLE) & 0xF) == BS_DEFPUSHBUTTON; }, 2000));
    EXPECT_EQ(GetWindowLongPtrW(close, GWL_STYLE) & 0xF, BS_PUSHBUTTON);
    press(VK_RETURN);
    ASSERT_TRUE(WaitFor([&] { return State() == LangText(5); }, 60000)) << State();
    ExpectDeviceHoldsPackage();
    press(VK_ESCAPE);
    EXPECT_EQ(process.Wait(5000), 0);
}

TEST_F(Win32Updater, ClosingDuringAProgrammingRunEndsTheProcessAtOnce)
{
    TSampleFirmware fw; // the full-size image: the run takes a while
    const std::wstring exe = PackUpdater(fw, "updater_close");
    if (const std::string why = SimUnavailable(); !why.empty())
        GTEST_SKIP() << "no simulated device on COM5: " << why;
    ASSERT_NO_FATAL_FAILURE(Launch(exe));
    Lang = 1;
    ASSERT_TRUE(WaitFor([&] { return RowCheckBoxes(Item(IDC_PNLDATA)).size() == 1; }, 30000)) << State();
    SendMessageW(Item(IDC_BTNPROG), BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return SendMessageW(Item(IDC_PGBMAIN), PBM_GETPOS, 0, 0) > 0; }, 30000)) << State();
    EXPECT_EQ(State(), LangText(4));
    // The worker is mid-run: the window neither asks it to stop nor waits for it.
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(process.Wait(3000), 0);
}

} // namespace
