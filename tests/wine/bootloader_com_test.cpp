// The bootloader link on a COM port mapped under wine, with the native `nerid sim` on the far end (through
// dev/wine/sim_bridge.py): identity, a flash line, an EEPROM line and the reset reach the device, and the
// device's dump holds what was written.
#include "tests/serial/win32/wine_check.h"

#include "bootloader/link.h"

#include "base/error.h"
#include "tests/wine/sim_dump.h"
#include "timing/timing.h"

#include <gtest/gtest.h>

namespace {

class BootLoaderOnComPort : public ::testing::Test {
protected:
    void SetUp() override
    {
        port = MappedComPort();
        if (port.empty())
            GTEST_SKIP() << "needs a COM port connected by dev/wine/with_com_port.py to nerid sim";
        ASSERT_TRUE(WaitForFile(NERID_SIM_READY, 10000)) << "the simulator bridge did not start";
        link.Open(port);
        TCPCSetup s;
        s.Default(19200, 1);
        link.SetSetup(s);
        // The programming worker's timing.
        link.SessionParam().Init(750, 64, 100, 1, 1000);
    }
    std::string port;
    TZorelBootLoader link;
};

} // namespace

TEST_F(BootLoaderOnComPort, IdentityLinesAndResetReachTheDevice)
{
    const TZorelBootLoaderDevID id = link.DeviceID();
    // The identity the simulator was started with (see tests/wine/CMakeLists.txt).
    EXPECT_EQ(id.dBootVersion, 0x0102);
    EXPECT_EQ(id.dBootTypeP, 7);
    EXPECT_EQ(id.dVerProg, 0x0104);
    EXPECT_EQ(id.dIspolnenieP, 2);

    ABytes flash(64), eeprom(32);
    for (std::size_t i = 0; i < flash.size(); ++i)
        flash[i] = static_cast<std::uint8_t>(0xA0 + i);
    for (std::size_t i = 0; i < eeprom.size(); ++i)
        eeprom[i] = static_cast<std::uint8_t>(0x11 * (i % 16));
    link.Flash(0x0800, flash);
    link.EEPROM(0x40, eeprom);
    link.Reset();  // the device writes its dump on a reset

    ASSERT_TRUE(WaitForFile(NERID_SIM_DUMP, 5000));
    TSimMemory m;
    for (int i = 0; i < 50; ++i) {  // the dump follows the reset's answer closely
        m = ReadSimDump(NERID_SIM_DUMP);
        if (m.Resets > 0)
            break;
        SleepMs(20);
    }
    EXPECT_EQ(m.Resets, 1);
    EXPECT_EQ(m.LinesWritten, 2);
    for (std::size_t i = 0; i < flash.size(); ++i)
        EXPECT_EQ(m.Flash[0x0800 + static_cast<std::uint32_t>(i)], flash[i]) << "flash byte " << i;
    for (std::size_t i = 0; i < eeprom.size(); ++i)
        EXPECT_EQ(m.Eeprom[0x40 + static_cast<std::uint32_t>(i)], eeprom[i]) << "EEPROM byte " << i;
}
