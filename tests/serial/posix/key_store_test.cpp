// The Linux key store behind RegSave/RegLoad: one folder per key under $XDG_CONFIG_HOME/nerid/registry.
#include "serial/records.h"
#include "serial/reg_store.h"

#include "base/error.h"
#include "tests/serial/setup_fixtures.h"

#include <cstdlib>
#include <gtest/gtest.h>

class KeyStore : public TempFolder {
protected:
    void SetUp() override
    {
        TempFolder::SetUp();
        setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    }
    std::string KeyFile(const std::string& rel) { return dir + "/nerid/registry/HKEY_CURRENT_USER/" + rel + "/values.txt"; }
};

TEST_F(KeyStore, RoundTripLeavesSpecialCharacters)
{
    const TCPCSetup saved = Odd();
    saved.RegSave(TRegRoot::CurrentUser, "Software\\Nerid\\Port");
    EXPECT_TRUE(fs::exists(KeyFile("Software/Nerid/Port/DCB")));
    EXPECT_TRUE(fs::exists(KeyFile("Software/Nerid/Port/CTO")));
    EXPECT_TRUE(fs::exists(KeyFile("Software/Nerid/Port")));

    TCPCSetup loaded;
    loaded.Default(9600, 1);
    EXPECT_TRUE(loaded.RegLoad(TRegRoot::CurrentUser, "Software\\Nerid\\Port\\\\"));
    ExpectLineFieldsEqual(loaded, saved);
    EXPECT_EQ(loaded.DCB.XonChar, 0x11);  // not stored: the loading record's values stay
    EXPECT_EQ(loaded.DCB.XoffChar, 0x13);
    EXPECT_EQ(loaded.DCB.ErrorChar, 0);
}

TEST_F(KeyStore, PartialKeysLoadWhatIsThereAndReturnFalse)
{
    {
        auto k = RegOpenOrCreateKey(TRegRoot::CurrentUser, "Only\\DCB");
        ASSERT_TRUE(k);
        k->WriteInteger("BaudRate", 57600);
        k->WriteInteger("ByteSize", 0x107);  // low bits only
    }
    TCPCSetup s;
    s.Default(9600, 1);
    EXPECT_FALSE(s.RegLoad(TRegRoot::CurrentUser, "Only"));
    EXPECT_EQ(s.DCB.BaudRate, 57600u);
    EXPECT_EQ(s.DCB.ByteSize, 7);
    EXPECT_EQ(s.BIN, 256u);
    // Loading creates the keys it looked for.
    EXPECT_TRUE(fs::is_directory(dir + "/nerid/registry/HKEY_CURRENT_USER/Only/CTO"));

    TCPCSetup t;
    t.Default(9600, 1);
    EXPECT_FALSE(t.RegLoad(TRegRoot::CurrentUser, "Nowhere"));
    EXPECT_EQ(t.DCB.BaudRate, 9600u);
}

TEST_F(KeyStore, AValueOfAnotherTypeFailsTheLoad)
{
    TCPCSetup saved = Odd();
    saved.RegSave(TRegRoot::CurrentUser, "Typed");
    {
        std::ofstream out(KeyFile("Typed/DCB"), std::ios::trunc);
        out << "BaudRate=dword:4800\nStopBits=sz:two\n";
    }
    TCPCSetup s;
    s.Default(9600, 1);
    try {
        s.RegLoad(TRegRoot::CurrentUser, "Typed");
        FAIL() << "no failure";
    } catch (const Exception& e) {
        EXPECT_EQ(std::string(e.what()), "Invalid data type for 'StopBits'");
    }
    EXPECT_EQ(s.DCB.BaudRate, 4800u);  // read before the failure
}
