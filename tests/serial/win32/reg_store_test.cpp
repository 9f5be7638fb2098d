// RegSave/RegLoad on the real registry, under a key of this test program's own in HKEY_CURRENT_USER.
#include "tests/serial/win32/wine_check.h"

#include "serial/records.h"
#include "serial/reg_store.h"

#include "base/error.h"
#include "tests/serial/setup_fixtures.h"

#include <gtest/gtest.h>

namespace {

class RegistryStore : public ::testing::Test {
protected:
    void SetUp() override { root = "Software\\nerid-tests\\" + std::to_string(GetCurrentProcessId()); }
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, Wide(root).c_str()); }

    static std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }  // ASCII paths
    // The type of a value, or REG_NONE when it is missing.
    DWORD TypeOf(const std::string& key, const std::string& name)
    {
        DWORD type = REG_NONE;
        if (RegGetValueW(HKEY_CURRENT_USER, Wide(key).c_str(), Wide(name).c_str(), RRF_RT_ANY, &type, nullptr,
                         nullptr) != ERROR_SUCCESS)
            return REG_NONE;
        return type;
    }
    DWORD DwordOf(const std::string& key, const std::string& name)
    {
        DWORD v = 0, size = sizeof v;
        EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, Wide(key).c_str(), Wide(name).c_str(), RRF_RT_REG_DWORD, nullptr,
                               &v, &size),
                  ERROR_SUCCESS)
            << key << " " << name;
        return v;
    }
    bool KeyExists(const std::string& key)
    {
        HKEY k = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, Wide(key).c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS)
            return false;
        RegCloseKey(k);
        return true;
    }
    std::string root;
};

} // namespace

TEST_F(RegistryStore, RoundTripWritesDwordsAndLeavesSpecialCharacters)
{
    const TCPCSetup saved = Odd();
    saved.RegSave(TRegRoot::CurrentUser, root + "\\Port");
    EXPECT_EQ(TypeOf(root + "\\Port\\DCB", "BaudRate"), static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(DwordOf(root + "\\Port\\DCB", "BaudRate"), 115200u);
    EXPECT_EQ(DwordOf(root + "\\Port\\DCB", "Flags"), 0x80004011u);
    EXPECT_EQ(DwordOf(root + "\\Port\\CTO", "ReadIntervalTimeout"), MAXDWORD);
    EXPECT_EQ(DwordOf(root + "\\Port", "BufferIn"), 4096u);
    EXPECT_EQ(DwordOf(root + "\\Port", "BufferOut"), 2048u);
    EXPECT_EQ(TypeOf(root + "\\Port\\DCB", "XonChar"), static_cast<DWORD>(REG_NONE));

    TCPCSetup loaded;
    loaded.Default(9600, 1);
    EXPECT_TRUE(loaded.RegLoad(TRegRoot::CurrentUser, root + "\\Port\\\\"));
    ExpectLineFieldsEqual(loaded, saved);
    EXPECT_EQ(loaded.DCB.XonChar, 0x11);
    EXPECT_EQ(loaded.DCB.ErrorChar, 0);
}

TEST_F(RegistryStore, PartialKeysLoadWhatIsThereAndCreateTheRest)
{
    {
        auto k = RegOpenOrCreateKey(TRegRoot::CurrentUser, root + "\\Only\\DCB");
        ASSERT_TRUE(k);
        k->WriteInteger("BaudRate", 57600);
        k->WriteInteger("ByteSize", 0x107);  // low bits only
        EXPECT_TRUE(k->ValueExists("bytesize"));  // registry names match in any case
    }
    TCPCSetup s;
    s.Default(9600, 1);
    EXPECT_FALSE(s.RegLoad(TRegRoot::CurrentUser, root + "\\Only"));
    EXPECT_EQ(s.DCB.BaudRate, 57600u);
    EXPECT_EQ(s.DCB.ByteSize, 7);
    EXPECT_EQ(s.BIN, 256u);
    EXPECT_TRUE(KeyExists(root + "\\Only\\CTO"));
}

TEST_F(RegistryStore, AValueOfAnotherTypeFailsTheLoad)
{
    Odd().RegSave(TRegRoot::CurrentUser, root + "\\Typed");
    const wchar_t two[] = L"two";
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, Wide(root + "\\Typed\\DCB").c_str(), L"StopBits", REG_SZ, two,
                              sizeof two),
              ERROR_SUCCESS);
    TCPCSetup s;
    s.Default(9600, 1);
    EXPECT_THROW(
        {
            try {
                s.RegLoad(TRegRoot::CurrentUser, root + "\\Typed");
            } catch (const Exception& e) {
                EXPECT_EQ(std::string(e.what()), "Invalid data type for 'StopBits'");
                throw;
            }
        },
        Exception);
    EXPECT_EQ(s.DCB.BaudRate, 115200u);  // read before the failure
}
