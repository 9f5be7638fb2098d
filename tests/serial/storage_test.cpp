// Setup storage (INI files with our own reader/writer) and the exchange log's files.
#include "serial/exchange_log.h"
#include "serial/ini_file.h"
#include "serial/records.h"

#include "base/error.h"
#include "base/utf8_path.h"
#include "tests/serial/setup_fixtures.h"

#include <gtest/gtest.h>

#include <iterator>
#include <regex>

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

using ExchangeLogFile = TempFolder;

// A log file goes where its UTF-8 name says, whatever the characters (the folder beside an updater may be called
// anything); each call appends one line with a CR LF end; a file that cannot be opened is reported by its name.
TEST_F(ExchangeLogFile, AppendsUnderAnyNameAndReportsAMissingFolder)
{
    const std::string folder = dir + "/Журнал 固件 ✓"; // "Журнал 固件 ✓"
    EnsureFolder(folder);
    EnsureFolder(folder); // already there: nothing happens
    const std::string file = folder + "/COM3-2026-12-11.log";
    WriteLogLine(file, ">> F0 00 99", false);
    WriteLogLine(file, "<< F0 01", true);
    std::ifstream in(Utf8Path(file), std::ios::binary);
    ASSERT_TRUE(in) << "the log is not where its name says";
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_TRUE(std::regex_match(text, std::regex(R"(>> F0 00 99\r\n\d\d:\d\d:\d\d\.\d{3}: << F0 01\r\n)"))) << text;

    const std::string missing = dir + "/no-such-folder/COM3.log";
    try {
        WriteLogLine(missing, "x", false);
        FAIL() << "no failure";
    } catch (const Exception& e) {
        EXPECT_EQ(std::string(e.what()), "Не удалось открыть файл \"" + missing + "\"");
    }
}
