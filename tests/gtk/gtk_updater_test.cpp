// The packed Linux updater as a customer runs it, on a virtual display of the test's own: `nerid sim` plays the
// devices, the pointer and keyboard go through the X server (xdotool), the window is read back as pixels (import),
// and what the devices hold afterwards is compared with the package.
#include "cli/firmware.h"
#include "cli/memory_map.h"
#include "dev/child/child_process.h"
#include "dev/child/virtual_display.h"
#include "package/validate.h"
#include "tests/package/test_files.h"
#include "timing/timing.h"

#include <cairo.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <grp.h>
#include <signal.h>
#include <unistd.h>
#include <sys/stat.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <thread>

namespace fs = std::filesystem;

namespace {

const fs::path kTools = NERID_TOOLS_DIR;

std::string ReadText(const fs::path& p)
{
    std::ifstream f(p, std::ios::binary);
    return std::string{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// The window's client area as pixels (0xRRGGBB).
struct TPixels {
    int W = 0, H = 0;
    std::vector<std::uint32_t> P;
    std::uint32_t At(int x, int y) const { return P[static_cast<std::size_t>(y * W + x)] & 0xFFFFFF; }
    // Pixels in [x0, x1) × [y0, y1) for which pred holds.
    template <class F>
    int Count(int x0, int y0, int x1, int y1, F pred) const
    {
        int n = 0;
        for (int y = y0; y < y1 && y < H; ++y)
            for (int x = x0; x < x1 && x < W; ++x)
                n += pred(At(x, y));
        return n;
    }
};
int R(std::uint32_t p) { return p >> 16 & 0xFF; }
int G(std::uint32_t p) { return p >> 8 & 0xFF; }
int B(std::uint32_t p) { return p & 0xFF; }
bool Greenish(std::uint32_t p) { return G(p) > R(p) + 40 && G(p) > B(p) + 40; }
bool Reddish(std::uint32_t p) { return R(p) > G(p) + 60 && R(p) > B(p) + 60; }
bool Dark(std::uint32_t p) { return R(p) < 110 && G(p) < 110 && B(p) < 110; }

// The device list's area in the window, where the rows' texts show.
constexpr int ListX0 = 222, ListY0 = 111, ListX1 = 540, ListY1 = 269;

class GtkUpdater : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        const std::string runtime = PathOf("run");
        ASSERT_EQ(::mkdir(runtime.c_str(), 0700), 0);
        ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        ASSERT_EQ(Run({(kTools / "nerid-sample-firmware").string(), "-o", PathOf("fw.hex"), "--flash-bytes", "4096",
                       "--eeprom-bytes", "256"}),
                  0);
        ASSERT_EQ(Run({(kTools / "nerid").string(), "pack", PathOf("fw.hex"), "-o", PathOf("updater")}), 0);
    }
    void TearDown() override
    {
        Updater.reset();
        Sim.reset();
        TempDirTest::TearDown();
    }

    int Run(const std::vector<std::string>& argv)
    {
        TChild c(argv, PathOf("run.out"), PathOf("run.err"));
        const int rc = c.Wait().Rc;
        if (rc != 0)
            ADD_FAILURE() << argv[0] << ": " << ReadText(PathOf("run.err"));
        return rc;
    }
    // Output of a helper program (xdotool, import), empty when it failed.
    std::string Output(const std::vector<std::string>& argv)
    {
        std::vector<std::string> a = argv;
        a[0] = FindProgram(a[0]);
        if (a[0].empty())
            return {};
        TChild c(a, PathOf("tool.out"), PathOf("tool.err"));
        return c.Wait().Rc == 0 ? ReadText(PathOf("tool.out")) : std::string();
    }

    std::vector<std::string> StartSim(int count, const std::vector<std::string>& extra = {})
    {
        std::vector<std::string> a = {(kTools / "nerid").string(), "sim", "--count", std::to_string(count), "--dump",
                                      PathOf("dump.json")};
        a.insert(a.end(), extra.begin(), extra.end());
        Sim = std::make_unique<TChild>(a, "", PathOf("sim.err"));
        return Sim->ReadLines(static_cast<std::size_t>(count), 5000);
    }
    nlohmann::json Dump() const
    {
        try {
            return nlohmann::json::parse(ReadText(PathOf("dump.json")));
        } catch (const std::exception&) {
            return {};
        }
    }
    int Resets()
    {
        int n = 0;
        const nlohmann::json d = Dump();
        if (d.contains("devices"))
            for (const auto& dev : d["devices"])
                n += dev.value("resets", 0);
        return n;
    }

    // Starts the packed updater and waits for its window (its caption has the package's version).
    // prefix: a program that runs it, as another user for instance.
    void StartUpdater(std::vector<std::string> prefix = {})
    {
        prefix.push_back(PathOf("updater"));
        Updater = std::make_unique<TChild>(prefix, PathOf("updater.out"), PathOf("updater.err"));
        Window.clear();
        const double end = NowMs() + 15000;
        while (Window.empty() && NowMs() < end) {
            const std::string ids = Output({"xdotool", "search", "--name", " v\\."});
            Window = ids.substr(0, ids.find('\n'));
            if (Window.empty())
                Sleep(50);
        }
        ASSERT_FALSE(Window.empty()) << "no updater window; its errors: " << ReadText(PathOf("updater.err"));
    }
    TPixels Shot(const std::string& keepAs = {})
    {
        const std::string png = keepAs.empty() ? PathOf("shot.png") : std::string(NERID_SCREENS_DIR) + "/" + keepAs;
        TPixels px;
        if (!Do({"import", "-window", Window, png}))
            return px;
        std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> s(
            cairo_image_surface_create_from_png(png.c_str()), cairo_surface_destroy);
        if (cairo_surface_status(s.get()) != CAIRO_STATUS_SUCCESS)
            return px;
        cairo_surface_t* img = cairo_surface_map_to_image(s.get(), nullptr);
        px.W = cairo_image_surface_get_width(img);
        px.H = cairo_image_surface_get_height(img);
        const int stride = cairo_image_surface_get_stride(img);
        px.P.resize(static_cast<std::size_t>(px.W * px.H));
        for (int y = 0; y < px.H; ++y)
            std::memcpy(&px.P[static_cast<std::size_t>(y * px.W)], cairo_image_surface_get_data(img) + y * stride,
                        static_cast<std::size_t>(px.W) * 4);
        cairo_surface_unmap_image(s.get(), img);
        return px;
    }
    // Waits until the rows' texts show in the list.
    bool WaitListed(int rows)
    {
        const double end = NowMs() + 20000;
        while (NowMs() < end) {
            if (Shot().Count(ListX0, ListY0, ListX1, ListY0 + rows * 41 - 20, Dark) > 100 * rows)
                return true;
            Sleep(100);
        }
        return false;
    }
    // Runs a helper program; true when it succeeded.
    bool Do(const std::vector<std::string>& argv)
    {
        std::vector<std::string> a = argv;
        a[0] = FindProgram(a[0]);
        if (a[0].empty())
            return false;
        TChild c(a, "/dev/null", PathOf("tool.err"));
        return c.Wait().Rc == 0;
    }
    // A click of the pointer at (x, y) of the client area.
    bool Click(int x, int y)
    {
        return Do({"xdotool", "mousemove", "--window", Window, std::to_string(x), std::to_string(y), "click", "1"});
    }
    bool WaitFor(const std::function<bool()>& done, double ms)
    {
        const double end = NowMs() + ms;
        while (!done() && NowMs() < end)
            Sleep(50);
        return done();
    }
    // Ends the updater as the desktop does at logout; true when it went at once and cleanly.
    bool StopUpdater()
    {
        Updater->Signal(SIGTERM);
        const TChildEnd e = Updater->Wait();
        Updater.reset();
        return e.Rc == 0 && e.WallMs < 60000;
    }
    // Ends the simulator, which writes its final dump.
    void StopSim()
    {
        Sim->Signal(SIGTERM);
        EXPECT_EQ(Sim->Wait().Rc, 0);
        Sim.reset();
    }

    std::unique_ptr<TChild> Sim, Updater;
    std::string Window;
};

TEST_F(GtkUpdater, NextProgramsEveryDeviceWithThePackage)
{
    ASSERT_EQ(StartSim(2).size(), 2u);
    StartUpdater();
    ASSERT_TRUE(WaitListed(2)) << "the two devices never showed";
    Shot("gtk_updater_listed.png");
    // Next sits at 341, 329 (100 × 31) in the client area.
    ASSERT_TRUE(Click(390, 344));
    ASSERT_TRUE(WaitFor([&] { return Resets() == 2; }, 60000)) << "the run did not reset both devices";
    Sleep(400); // the run's end timer
    const TPixels end = Shot("gtk_updater_finished.png");
    EXPECT_GT(end.Count(ListX0, ListY0, ListX1, ListY1, Greenish), 200) << "two green rows";
    EXPECT_EQ(end.Count(ListX0, ListY0, ListX1, ListY1, Reddish), 0);
    EXPECT_TRUE(StopUpdater());
    StopSim();

    TZorelBootLoaderHexDataFile fh;
    const TPackageContents pkg = CheckPackage(fh, FirmwareContainer(PathOf("fw.hex")));
    const nlohmann::json d = Dump();
    ASSERT_EQ(d["devices"].size(), 2u);
    for (const auto& dev : d["devices"]) {
        EXPECT_EQ(dev["resets"], 1);
        EXPECT_EQ(DumpMemory(dev["flash"], "address"), LinesMemory(pkg.FL));
        EXPECT_EQ(DumpMemory(dev["eeprom"], "offset"), LinesMemory(pkg.EE));
    }
}

// One device stops answering half-way: its row ends red, the other's green, and Escape then closes the updater, as
// the Close button would.
TEST_F(GtkUpdater, AFailingDeviceEndsRedAndEscapeCloses)
{
    ASSERT_EQ(StartSim(2, {"--fault", "2:stop=10"}).size(), 2u);
    StartUpdater();
    ASSERT_TRUE(WaitListed(2));
    ASSERT_TRUE(Click(390, 344));
    ASSERT_TRUE(WaitFor([&] { return Resets() == 1; }, 60000));
    TPixels end;
    ASSERT_TRUE(WaitFor([&] {
        end = Shot();
        return end.Count(ListX0, ListY0, ListX1, ListY1, Reddish) > 100;
    }, 30000)) << "no red row";
    EXPECT_GT(end.Count(ListX0, ListY0, ListX1, ListY1, Greenish), 100);
    // The key as typed: the window takes the keyboard focus, then the X server delivers the key to it.
    ASSERT_TRUE(Do({"xdotool", "windowfocus", "--sync", Window}));
    ASSERT_TRUE(Do({"xdotool", "key", "Escape"}));
    const double t0 = NowMs();
    const TChildEnd e = Updater->Wait();
    Updater.reset();
    EXPECT_EQ(e.Rc, 0);
    EXPECT_LT(NowMs() - t0, 5000);
}

// A port whose node this user may not open (a serial port of the group dialout, the user not in it): the window's
// search finds nothing and says so under the status line, naming the group; `nerid search` and `flash` say the same.
// Root opens any node, so the test drops to the unprivileged user nobody for the simulator, the tool and the updater.
TEST_F(GtkUpdater, APortThisUserMayNotOpenIsNamedWithTheGroupToJoin)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run the programs as another user";
    const std::string setpriv = FindProgram("setpriv");
    ASSERT_FALSE(setpriv.empty()) << "setpriv (util-linux) is missing";
    const group* dialout = ::getgrnam("dialout");
    ASSERT_NE(dialout, nullptr) << "no group dialout on this machine";
    const gid_t dialoutGid = dialout->gr_gid;
    const std::vector<std::string> asNobody = {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups"};
    auto as = [&](std::vector<std::string> argv) {
        argv.insert(argv.begin(), asNobody.begin(), asNobody.end());
        return argv;
    };
    // The simulator's ports and the updater's files, reachable by that user.
    ASSERT_EQ(::chmod(Dir.c_str(), 0777), 0);
    ASSERT_EQ(::chown(PathOf("run").c_str(), 65534, 65534), 0);
    Sim = std::make_unique<TChild>(
        as({(kTools / "nerid").string(), "sim", "--count", "1", "--dump", PathOf("dump.json")}), "", PathOf("sim.err"));
    const std::vector<std::string> ports = Sim->ReadLines(1, 5000);
    ASSERT_EQ(ports.size(), 1u) << ReadText(PathOf("sim.err"));
    const std::string port = ports[0];
    // The node as a serial port's: root's, group dialout, read and write for that group only.
    const std::string node = fs::canonical(port).string();
    ASSERT_EQ(::chown(node.c_str(), 0, dialoutGid), 0);
    ASSERT_EQ(::chmod(node.c_str(), 0660), 0);
    const std::string expected = "No access to " + port + ": add your user to the group \"dialout\", then log in again.";

    {
        TChild search(as({(kTools / "nerid").string(), "search", "--port", port, "--json"}), PathOf("search.out"),
                      PathOf("search.err"));
        EXPECT_EQ(search.Wait().Rc, 1);
        const nlohmann::json j = nlohmann::json::parse(ReadText(PathOf("search.out")), nullptr, false);
        ASSERT_TRUE(j.is_array() && j.size() == 1) << ReadText(PathOf("search.out"));
        EXPECT_EQ(j[0].value("ok", true), false);
        EXPECT_EQ(j[0].value("error", ""), expected);
    }
    {
        TChild search(as({(kTools / "nerid").string(), "search", "--port", port}), PathOf("search.out"),
                      PathOf("search.err"));
        EXPECT_EQ(search.Wait().Rc, 1);
        EXPECT_EQ(ReadText(PathOf("search.out")), port + ": " + expected + "\n");
    }
    {
        TChild flash(as({(kTools / "nerid").string(), "flash", PathOf("fw.hex"), "--port", port}), PathOf("flash.out"),
                     PathOf("flash.err"));
        EXPECT_EQ(flash.Wait().Rc, 1);
        EXPECT_EQ(ReadText(PathOf("flash.out")), port + ": no access: " + expected + "\n");
    }
    {
        TChild flash(as({(kTools / "nerid").string(), "flash", PathOf("fw.hex"), "--port", port, "--json"}),
                     PathOf("flash.out"), PathOf("flash.err"));
        EXPECT_EQ(flash.Wait().Rc, 1);
        const nlohmann::json j = nlohmann::json::parse(ReadText(PathOf("flash.out")), nullptr, false);
        ASSERT_TRUE(j.is_array() && j.size() == 1) << ReadText(PathOf("flash.out"));
        EXPECT_EQ(j[0].value("port", ""), port);
        EXPECT_EQ(j[0].value("result", ""), "no access");
        EXPECT_EQ(j[0].value("words", ""), expected);
    }

    // The window: the access line under the status pushes the status heading up into Panel4's upper part, where a
    // search without that line has nothing drawn.
    constexpr int X0 = 202, Y0 = 16, X1 = 554, Y1 = 44;
    StartUpdater(asNobody);
    TPixels px;
    EXPECT_TRUE(WaitFor([&] {
        px = Shot();
        return px.Count(X0, Y0, X1, Y1, Dark) > 200;
    }, 15000)) << "no access line; the updater's errors: " << ReadText(PathOf("updater.err"));
    Shot("gtk_updater_no_access.png");
    EXPECT_TRUE(StopUpdater());
    // Once the user may open the port, the line goes and the device is listed.
    ASSERT_EQ(::chmod(node.c_str(), 0666), 0);
    StartUpdater(asNobody);
    ASSERT_TRUE(WaitListed(1));
    EXPECT_LT(Shot().Count(X0, Y0, X1, Y1, Dark), 20);
    EXPECT_TRUE(StopUpdater());
    StopSim();
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    try {
        const TVirtualDisplay display(std::string(NERID_SCREENS_DIR) + "/../gtk_updater_test-xvfb.log");
        return RUN_ALL_TESTS();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
