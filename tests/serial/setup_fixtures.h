// Test helpers for the setup storage: a temporary folder per test and a line setup with every field off default.
#pragma once

#include "serial/records.h"
#include "tests/package/test_files.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

class TempFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = MakeTempFolder("nerid-storage-").string();
        ASSERT_FALSE(dir.empty());
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


inline TCPCSetup Odd()
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

inline void ExpectLineFieldsEqual(const TCPCSetup& a, const TCPCSetup& b)
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
