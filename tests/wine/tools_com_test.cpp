// nerid.exe on a COM port mapped under wine, with the native `nerid sim` on the far end (through
// dev/wine/sim_bridge.py): the search finds the simulated device, and flash programs it so that the device's
// memory equals the package's lines.
#include "tests/serial/win32/wine_check.h"

#include "package/bootimage.h"
#include "package/validate.h"
#include "tests/package/test_files.h"
#include "tests/cli/process.h"
#include "tests/wine/sim_dump.h"
#include "timing/timing.h"
#include "cli/firmware.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

using json = nlohmann::json;

class NeridOnComPort : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        port = MappedComPort();
        if (port.empty())
            GTEST_SKIP() << "needs a COM port connected by dev/wine/with_com_port.py to nerid sim";
        ASSERT_TRUE(WaitForFile(NERID_SIM_READY, 10000)) << "the simulator bridge did not start";
        tools = ToolsFolder();
    }
    TRun Run(const std::string& tool, const std::vector<std::string>& args)
    {
        return RunProgram(tools + "\\" + ToolName(tool), args, PathOf("out.txt"), PathOf("err.txt"));
    }
    std::string port, tools;
};

} // namespace

// One program, one simulator: the search first, then the programming run, in this order.
TEST_F(NeridOnComPort, SearchFindsTheDeviceAndFlashProgramsIt)
{
    const TRun s = Run("nerid", {"search", "--port", port, "--json"});
    ASSERT_EQ(s.Rc, 0) << s.Out << s.Err;
    const json found = json::parse(s.Out);
    ASSERT_EQ(found.size(), 1u) << s.Out;
    EXPECT_EQ(found[0]["port"], port);
    EXPECT_EQ(found[0]["id"], 1);
    EXPECT_EQ(found[0]["type"], 7) << s.Out;

    // A newer firmware of the same type: 4 flash lines and 2 EEPROM lines.
    const std::string hex = PathOf("fw.hex");
    const TRun g = Run("nerid-sample-firmware", {"-o", hex, "--type", "7", "--variant", "2", "--version", "1.05",
                                                 "--flash-bytes", "256", "--eeprom-bytes", "128"});
    ASSERT_EQ(g.Rc, 0) << g.Err;
    TZorelBootLoaderHexDataFile FH;
    const TPackageContents lines = CheckPackage(FH, FirmwareContainer(hex));
    ASSERT_EQ(lines.FL.size(), 4u);
    ASSERT_EQ(lines.EE.size(), 2u);

    const TRun f = Run("nerid", {"flash", hex, "--port", port, "--json"});
    ASSERT_EQ(f.Rc, 0) << f.Out << f.Err;
    const json done = json::parse(f.Out);
    ASSERT_EQ(done.size(), 1u) << f.Out;
    EXPECT_EQ(done[0]["port"], port);
    EXPECT_EQ(done[0]["state"], "needed");
    EXPECT_EQ(done[0]["result"], "programmed");

    // The device writes its dump on the reset that ends the run.
    TSimMemory m;
    for (int i = 0; i < 100 && m.Resets == 0; ++i) {
        if (GetFileAttributesA(NERID_SIM_DUMP) != INVALID_FILE_ATTRIBUTES)
            m = ReadSimDump(NERID_SIM_DUMP);
        if (m.Resets == 0)
            SleepMs(20);
    }
    EXPECT_EQ(m.Resets, 1);
    EXPECT_EQ(m.Flash, LinesMemory(lines.FL));
    EXPECT_EQ(m.Eeprom, LinesMemory(lines.EE));
}
