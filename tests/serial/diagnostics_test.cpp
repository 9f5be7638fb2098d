// Port diagnostics: registration by number or path, port state 0/1/2, driver properties and default config.
#include "serial/comport.h"

#include "base/error.h"
#include "tests/failure_text.h"
#include "tests/serial/pty_peer.h"

#include <gtest/gtest.h>

namespace {

TPortLister Fixed(std::vector<std::string> names)
{
    return [names] { return names; };
}

} // namespace

TEST(Diagnostics, IsRegistredComparesNumbersOrWholePaths)
{
    EXPECT_TRUE(TCustomComPortCtrl::IsRegistred("COM12", Fixed({"COM1", "\\\\.\\COM12"})));
    EXPECT_TRUE(TCustomComPortCtrl::IsRegistred("\\\\.\\COM12", Fixed({"COM12"})));
    EXPECT_TRUE(TCustomComPortCtrl::IsRegistred("COM65539", Fixed({"COM3"})));  // 16-bit comparison
    EXPECT_FALSE(TCustomComPortCtrl::IsRegistred("COM4", Fixed({"COM3"})));
    EXPECT_FALSE(TCustomComPortCtrl::IsRegistred("COM4", Fixed({})));
    EXPECT_TRUE(TCustomComPortCtrl::IsRegistred("/dev/ttyNRU0", Fixed({"COM3", "/dev/ttyNRU0"})));
    EXPECT_FALSE(TCustomComPortCtrl::IsRegistred("/dev/ttyNRU1", Fixed({"/dev/ttyNRU0"})));
    EXPECT_TRUE(TCustomComPortCtrl::IsRegistred("COM3", Fixed({"COM3", "BAD"})));  // match before the bad name
    EXPECT_EQ(ErrorOf([] { TCustomComPortCtrl::IsRegistred("COM4", Fixed({"BAD", "COM4"})); }),
              "TBasicComPortCtrl.CheckPortName >> Ошибка имени порта \"BAD\"");
}

TEST(Diagnostics, PortStates)
{
    PtyPeer pty, other;
    TCustomComPortCtrl c;
    c.SetPortLister(Fixed({pty.SlavePath(), other.SlavePath()}));
    EXPECT_EQ(c.PortState(""), 0);  // never opened, empty name, nothing matches
    c.Open(pty.SlavePath());
    EXPECT_EQ(c.PortState(""), 2);
    EXPECT_EQ(c.PortState(pty.SlavePath()), 2);
    EXPECT_EQ(c.PortState(other.SlavePath()), 1);
    EXPECT_EQ(c.PortState("/dev/nerid-absent"), 0);
    EXPECT_TRUE(c.Registred());
    c.Close();
    EXPECT_EQ(c.PortState(""), 1);
    c.SetPortLister(Fixed({}));
    EXPECT_EQ(c.PortState(""), 0);
    EXPECT_FALSE(c.Registred());
    EXPECT_EQ(ErrorOf([&] { c.PortState("COM0"); }), "TBasicComPortCtrl.CheckPortName >> Ошибка номера порта \"COM0\"");

    // COM names compare by number.
    c.SetPortLister(Fixed({"COM3", "COM4"}));
    EXPECT_EQ(c.PortState("com4"), 1);
    EXPECT_EQ(c.PortState("COM9"), 0);
}

TEST(Diagnostics, PropertiesAndConfig)
{
    PtyPeer pty;
    TCustomComPortCtrl c;
    EXPECT_EQ(ErrorOf([&] { c.GetProperties(); }), "Error Message");
    EXPECT_EQ(ErrorOf([&] { c.GetConfig(); }), "Error Message");
    c.Open(pty.SlavePath());
    const COMMPROP p = c.GetProperties();
    EXPECT_EQ(p.wPacketLength, sizeof(COMMPROP));
    EXPECT_EQ(p.dwMaxTxQueue, 0u);
    EXPECT_EQ(p.dwMaxRxQueue, 0u);
    const COMMCONFIG cfg = c.GetConfig();
    EXPECT_EQ(cfg.dwSize, sizeof(COMMCONFIG));
    EXPECT_EQ(cfg.dcb.BaudRate, 9600u);
}
