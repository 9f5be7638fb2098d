// Frame bytes, reply completeness and identity decoding of the bootloader protocol.
#include "bootloader/devid.h"

#include "base/error.h"

#include <gtest/gtest.h>

namespace {

std::string CheckText(const ABytes& reply)
{
    bool complite = false;
    try {
        CheckBootLoaderReply(reply, complite);
    } catch (const Exception& e) {
        EXPECT_FALSE(complite);
        return e.what();
    }
    EXPECT_TRUE(complite);
    return "complete";
}

TEST(BootLoaderFrame, BytesOfEachCommand)
{
    EXPECT_EQ(BootLoaderFrame(0, {}), (ABytes{0xF0, 0x00, 0x99}));
    EXPECT_EQ(BootLoaderFrame(3, {}), (ABytes{0xF3, 0x00, 0xCC}));
    // Flash line at byte address 0x0400: word address 0x0200, low byte first, then 64 bytes.
    ABytes flashData = BytesFromU16s({0x0200});
    flashData.resize(66, 0x5A);
    const ABytes flash = BootLoaderFrame(2, flashData);
    ASSERT_EQ(flash.size(), 69u);
    EXPECT_EQ(flash[0], 0xF2);
    EXPECT_EQ(flash[1], 0x42);
    EXPECT_EQ(flash[2], 0x00);
    EXPECT_EQ(flash[3], 0x02);
    EXPECT_EQ(flash.back(), BytesCrc8(BytesCopy(flash, 0, 68)));
    // EEPROM line at offset 224 with 32 bytes: length byte 0x21, address byte 0xE0.
    ABytes eeData{0xE0};
    eeData.resize(33, 0x11);
    const ABytes ee = BootLoaderFrame(1, eeData);
    EXPECT_EQ(ee[0], 0xF1);
    EXPECT_EQ(ee[1], 0x21);
    EXPECT_EQ(ee[2], 0xE0);
    EXPECT_EQ(ee.size(), 36u);
    // A command number keeps to the low four bits; the length keeps to 8 bits.
    EXPECT_EQ(BootLoaderFrame(0x1F, ABytes(256, 0))[0], 0xFF);
    EXPECT_EQ(BootLoaderFrame(1, ABytes(256, 0))[1], 0x00);
}

TEST(CheckBootLoaderReply, EveryOutcome)
{
    struct Case {
        ABytes reply;
        const char* result;
    } cases[] = {
        {{}, "0x0100"},
        {{0xF0}, "0x0101"},
        {{0xF0, 0x00}, "0x0101"},
        {{0xE1, 0x01, 0x00, 0x00}, "0x0102"},
        {{0xEF, 0x00, 0x00}, "0x0102"},
        {{0xF1, 0x01, 0x00, 0x77}, "complete"},            // the check byte is not verified
        {{0xF5, 0x00, 0x00}, "complete"},                  // low four bits are not compared
        {{0xF2, 0x05, 0x00, 0x00}, "0x0103"},
        {{0xF2, 0x05, 0, 0, 0, 0, 0, 0}, "complete"},      // 5 + 3 bytes
        {{0xF2, 0x05, 0, 0, 0, 0, 0}, "0x0103"},
        {{0xF0, 0x00, 0x99, 0xAA, 0xBB}, "complete"},      // bytes beyond the frame are ignored
    };
    for (const Case& c : cases)
        EXPECT_EQ(CheckText(c.reply), c.result) << BytesToText(c.reply, " ", true);
}

// An identity reply: frame head, 56 payload bytes, check byte (59 bytes in all).
ABytes IdentityReply()
{
    ABytes p(56, 0);
    p[0] = 0x34; p[1] = 0x12;           // boot version 0x1234
    p[2] = 0x07; p[3] = 0x00;           // boot type 7
    p[4] = 0x02;                        // board modification
    p[5] = 0x03;                        // variant
    p[6] = 0x23; p[7] = 0x04;           // April 2023
    p[8] = 0x00; p[9] = 0x3E;           // info word 0x3E00 -> byte address 0x7C00
    p[10] = 0xFF; p[11] = 0x3F;         // max word 0x3FFF -> 0x7FFF
    p[12] = 0x20; p[13] = 0x00;         // write block 32 words -> 64 bytes
    p[14] = 0xFF; p[15] = 0x01;         // EEPROM max 0x1FF -> 0x200
    const std::uint8_t id[8] = {0x12, 0xAA, 0x34, 0xBB, 0x56, 0xCC, 0x78, 0xDD};
    for (int k = 0; k < 8; ++k)
        p[16 + k] = id[k];
    p[24] = 0xFF; p[25] = 0x3F;         // end of program
    p[26] = 0x21; p[27] = 0x43;         // checksum
    p[28] = 0x04; p[29] = 0x01;         // version 1.04
    p[30] = 0x07; p[31] = 0x00;         // installed type
    p[32] = 0x05;                       // installed board modification
    p[33] = 0x06;                       // installed variant
    p[34] = 0x19; p[35] = 0x12;         // December 2019
    const char name[] = "DEV";
    for (int k = 0; k < 3; ++k) {
        p[36 + 2 * k] = static_cast<std::uint8_t>(name[k]);
        p[37 + 2 * k] = 0xEE;           // high bytes are ignored
    }
    ABytes reply = BootLoaderFrame(0, p);
    return reply;
}

TEST(DecodeDeviceID, EveryFieldOfAFullReply)
{
    const ABytes reply = IdentityReply();
    ASSERT_EQ(reply.size(), 59u);
    const TZorelBootLoaderDevID d = DecodeDeviceID(reply);
    EXPECT_EQ(d.dBootVersion, 0x1234);
    EXPECT_EQ(d.dBootType, 7);
    EXPECT_EQ(d.dPlateIzm, 2);
    EXPECT_EQ(d.dIspolnenie, 3);
    EXPECT_EQ(d.dDate, (TDateTime{2023, 4, 1, 0, 0, 0}));
    EXPECT_EQ(d.dAdressInf, 0x7C00);
    EXPECT_EQ(d.dAdressMax, 0x7FFF);
    EXPECT_EQ(d.dBlockWrite, 64);
    EXPECT_EQ(d.dEepromMax, 0x200);
    EXPECT_EQ(d.dEEWrite, 16);
    EXPECT_EQ(d.dID, 0x12345678);
    EXPECT_EQ(d.dEndProg, 0x3FFF);
    EXPECT_EQ(d.dCSProg, 0x4321);
    EXPECT_EQ(d.dVerProg, 0x0104);
    EXPECT_EQ(d.dBootTypeP, 7);
    EXPECT_EQ(d.dPlateIzmP, 5);
    EXPECT_EQ(d.dIspolnenieP, 6);
    EXPECT_EQ(d.dDateProg, (TDateTime{2019, 12, 1, 0, 0, 0}));
    // Ten characters: the last seven are zero bytes and stay in the name.
    EXPECT_EQ(d.dName, std::string("DEV\0\0\0\0\0\0\0", 10));
}

TEST(DecodeDeviceID, ShortRepliesAreRefused)
{
    const ABytes full = IdentityReply();
    for (std::size_t len : {0u, 3u, 49u, 50u, 56u}) {
        try {
            DecodeDeviceID(BytesCopy(full, 0, static_cast<std::int64_t>(len)));
            ADD_FAILURE() << len << " bytes accepted";
        } catch (const Exception& e) {
            EXPECT_STREQ(e.what(), "0x0104") << len;
        }
    }
    EXPECT_NO_THROW(DecodeDeviceID(BytesCopy(full, 0, 57)));
}

TEST(DecodeBcdDate, ValidAndFallback)
{
    struct Case {
        std::uint8_t year, month;
        bool ok;
        int y, m;
    } cases[] = {
        {0x23, 0x04, true, 2023, 4}, {0x00, 0x01, true, 2000, 1}, {0x99, 0x12, true, 2099, 12},
        {0x23, 0x13, false, 0, 0},   {0x23, 0x1A, false, 0, 0},   {0x2A, 0x01, false, 0, 0},
        {0x23, 0x00, false, 0, 0},
    };
    for (const Case& c : cases) {
        TDateTime d;
        EXPECT_EQ(DecodeBcdDate(c.year, c.month, d), c.ok) << int(c.year) << "/" << int(c.month);
        if (c.ok) {
            EXPECT_EQ(d, (TDateTime{c.y, c.m, 1, 0, 0, 0}));
        }
    }
    // In a reply, a bad month gives the current date and the fields after it are still decoded.
    ABytes reply = IdentityReply();
    reply[2 + 7] = 0x13;
    const TDateTime before = TDateTime::Now();
    const TZorelBootLoaderDevID d = DecodeDeviceID(reply);
    EXPECT_GE(d.dDate.Year, before.Year);
    EXPECT_NE(d.dDate.Year, 2023);
    EXPECT_EQ(d.dAdressInf, 0x7C00);
}

TEST(DevIDToString, SevenAlignedLines)
{
    TZorelBootLoaderDevID d;
    d.dName = "ABC";
    d.dBootType = 0x1A;
    d.dIspolnenie = 0xB;
    d.dPlateIzm = 2;
    d.dVerProg = 0x0105;
    d.dID = 0x12345678;
    d.dCSProg = 0x3ABC;
    EXPECT_EQ(d.ToString(),
              "Name:          ABC\r\n"
              "Type:          0x001A\r\n"
              "Isp:           B\r\n"
              "Izm:           2\r\n"
              "Version:       1.05\r\n"
              "ID:            0012345678\r\n"
              "CheckSumm:     0x3ABC");
}

} // namespace
