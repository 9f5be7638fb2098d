// Setup storage: INI files with our own reader/writer.
#include "serial/ini_file.h"
#include "serial/records.h"

#include "base/error.h"
#include "tests/serial/setup_fixtures.h"

#include <gtest/gtest.h>

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
