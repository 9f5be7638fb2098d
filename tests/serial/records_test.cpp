// Setup records: the house setup, the flag word packing, the timing record.
#include "serial/records.h"

#include <cstring>
#include <gtest/gtest.h>

TEST(SetupRecords, DefaultIsTheHouseSetup)
{
    TCPCSetup s;
    std::memset(static_cast<void*>(&s.DCB), 0x5A, sizeof s.DCB);
    s.Default(19200, 1);
    const std::uint8_t expected[28] = {28, 0, 0, 0, 0x00, 0x4B, 0, 0, 1, 0, 0, 0, 0, 0, 0x00, 0x08,
                                       0x00, 0x02, 8, 0, 0, 0x11, 0x13, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(&s.DCB, expected, 28), 0);
    EXPECT_EQ(s.CTO.ReadIntervalTimeout, 0xFFFFFFFFu);
    EXPECT_EQ(s.CTO.ReadTotalTimeoutMultiplier + s.CTO.ReadTotalTimeoutConstant + s.CTO.WriteTotalTimeoutMultiplier +
                  s.CTO.WriteTotalTimeoutConstant,
              0u);
    EXPECT_EQ(s.BIN, 256u);
    EXPECT_EQ(s.BOU, 256u);
    s.Default(9600, 0xFFFF8001u);
    EXPECT_EQ(s.DCB.Flags, 0xFFFF8001u);
}

TEST(SetupRecords, FlagsPackInTheDcbBitOrder)
{
    TCPCSetup s;
    s.Default(9600, 1);
    s.DCB.BaudRate = 1234;
    s.Flags(true, false, false, false, false, false, false, false, false, false, false, 0, 0);
    EXPECT_EQ(s.DCB.Flags, 1u);
    s.Flags(false, false, true, false, false, false, false, false, false, false, false, 0, 0);
    EXPECT_EQ(s.DCB.Flags, 4u);
    s.Flags(false, false, false, false, false, false, false, false, false, false, false, 2, 1);
    EXPECT_EQ(s.DCB.Flags, 0x2010u);
    s.Flags(false, false, false, false, true, false, false, false, false, false, true, 0, 0);
    EXPECT_EQ(s.DCB.Flags, (1u << 6) | (1u << 14));
    s.Flags(true, true, true, true, true, true, true, true, true, true, true, 3, 3);
    EXPECT_EQ(s.DCB.Flags, 0x7FFFu);
    EXPECT_EQ(s.DCB.BaudRate, 1234u);  // nothing else changes
}

TEST(SetupRecords, TimeOutsBuffersAndInit)
{
    TCPCSetup s;
    s.TimeOuts(1, 2, 3, 4, 5);
    EXPECT_EQ(s.CTO.ReadIntervalTimeout, 1u);
    EXPECT_EQ(s.CTO.ReadTotalTimeoutMultiplier, 2u);
    EXPECT_EQ(s.CTO.ReadTotalTimeoutConstant, 3u);
    EXPECT_EQ(s.CTO.WriteTotalTimeoutMultiplier, 4u);
    EXPECT_EQ(s.CTO.WriteTotalTimeoutConstant, 5u);
    s.Buffers(1024, 512);
    EXPECT_EQ(s.BIN, 1024u);
    EXPECT_EQ(s.BOU, 512u);

    TSessionParams p;
    p.Loged = true;
    const TSessionParams copy = p.Init(300, 64, 100, 2, 400);
    EXPECT_FALSE(p.Loged);
    EXPECT_EQ(p.TimeOut, 300u);
    EXPECT_EQ(p.ReadCount, 64u);
    EXPECT_EQ(p.BetPacks, 100u);
    EXPECT_EQ(p.Dublicate, 2u);
    EXPECT_EQ(p.DublWait, 400u);
    EXPECT_EQ(copy.TimeOut, 300u);
    EXPECT_FALSE(copy.Loged);
}
