// Setup storage: INI files with our own reader/writer, and the key store.
#include "serial/ini_file.h"
#include "serial/records.h"
#include "serial/reg_store.h"

#include "app/texts/error.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class TempFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/nerid-storage-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string Read(const std::string& file)
    {
        std::ifstream in(file, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    std::string dir;
};

TCPCSetup Odd()
{
    TCPCSetup s;
    s.Default(115200, 0x80004011u);
    s.DCB.ByteSize = 7;
    s.DCB.Parity = 2;
    s.DCB.StopBits = 2;
    s.DCB.XonLim = 100;
    s.DCB.XoffLim = 50;
    s.DCB.XonChar = 0x21;
    s.DCB.XoffChar = 0x22;
    s.DCB.ErrorChar = 0x23;
    s.DCB.EofChar = 0x24;
    s.DCB.EvtChar = 0x25;
    s.TimeOuts(MAXDWORD, 7, 8, 9, 10);
    s.Buffers(4096, 2048);
    return s;
}

void ExpectLineFieldsEqual(const TCPCSetup& a, const TCPCSetup& b)
{
    EXPECT_EQ(a.DCB.BaudRate, b.DCB.BaudRate);
    EXPECT_EQ(a.DCB.Flags, b.DCB.Flags);
    EXPECT_EQ(a.DCB.ByteSize, b.DCB.ByteSize);
    EXPECT_EQ(a.DCB.Parity, b.DCB.Parity);
    EXPECT_EQ(a.DCB.StopBits, b.DCB.StopBits);
    EXPECT_EQ(a.DCB.XonLim, b.DCB.XonLim);
    EXPECT_EQ(a.DCB.XoffLim, b.DCB.XoffLim);
    EXPECT_EQ(a.CTO.ReadIntervalTimeout, b.CTO.ReadIntervalTimeout);
    EXPECT_EQ(a.CTO.ReadTotalTimeoutMultiplier, b.CTO.ReadTotalTimeoutMultiplier);
    EXPECT_EQ(a.CTO.ReadTotalTimeoutConstant, b.CTO.ReadTotalTimeoutConstant);
    EXPECT_EQ(a.CTO.WriteTotalTimeoutMultiplier, b.CTO.WriteTotalTimeoutMultiplier);
    EXPECT_EQ(a.CTO.WriteTotalTimeoutConstant, b.CTO.WriteTotalTimeoutConstant);
    EXPECT_EQ(a.BIN, b.BIN);
    EXPECT_EQ(a.BOU, b.BOU);
}

} // namespace

using IniStorage = TempFolder;

TEST_F(IniStorage, RoundTripKeepsOtherSectionsAndWritesSignedValues)
{
    const std::string file = dir + "/port.ini";
    {
        std::ofstream out(file);
        out << "; kept\n[Other]\nName=x\n[dcb]\nBaudRate=1\nCustom=5\n";
    }
    const TCPCSetup saved = Odd();
    saved.IniSave(file);
    const std::string text = Read(file);
    EXPECT_NE(text.find("; kept"), std::string::npos);
    EXPECT_NE(text.find("Name=x"), std::string::npos);
    EXPECT_NE(text.find("Custom=5"), std::string::npos);
    EXPECT_NE(text.find("ReadIntervalTimeout=-1"), std::string::npos);
    EXPECT_NE(text.find("Flags=-2147467247"), std::string::npos);
    EXPECT_EQ(text.find("BaudRate=1\r"), std::string::npos);  // replaced in place, not duplicated
    EXPECT_LT(text.find("BaudRate=115200"), text.find("Custom=5"));

    TCPCSetup loaded;
    loaded.Default(9600, 1);
    loaded.DCB.DCBlength = 99;
    loaded.DCB.wReserved = 7;
    loaded.IniLoad(file);
    ExpectLineFieldsEqual(loaded, saved);
    EXPECT_EQ(loaded.DCB.XonChar, 0x21);
    EXPECT_EQ(loaded.DCB.EvtChar, 0x25);
    EXPECT_EQ(loaded.DCB.DCBlength, 99u);
    EXPECT_EQ(loaded.DCB.wReserved, 7u);

    TIniFile ini(file);
    EXPECT_EQ(ini.ReadString("OTHER", "name", "?"), "x");
}

TEST_F(IniStorage, MissingOrBadValuesLeaveFields)
{
    TCPCSetup s;
    s.Default(19200, 1);
    s.IniLoad(dir + "/missing.ini");
    EXPECT_EQ(s.DCB.BaudRate, 19200u);

    const std::string file = dir + "/bad.ini";
    {
        std::ofstream out(file);
        out << "[DCB]\nBaudRate=abc\nByteSize=7\nParity=99999999999\n[BUFFERS]\nIn= 512 \n";
    }
    s.IniLoad(file);
    EXPECT_EQ(s.DCB.BaudRate, 19200u);
    EXPECT_EQ(s.DCB.ByteSize, 7);
    EXPECT_EQ(s.DCB.Parity, 0);
    EXPECT_EQ(s.BIN, 512u);
    EXPECT_EQ(s.BOU, 256u);
}

TEST_F(IniStorage, WriteFailureIsReported)
{
    TCPCSetup s;
    s.Default(19200, 1);
    const std::string file = dir + "/no-such-folder/port.ini";
    try {
        s.IniSave(file);
        FAIL() << "no failure";
    } catch (const Exception& e) {
        EXPECT_EQ(std::string(e.what()), "Не удалось записать файл \"" + file + "\"");
    }
}

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
