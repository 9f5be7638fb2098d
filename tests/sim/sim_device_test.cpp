// The simulated bootloader: its answers decode with the host's protocol code, memory and faults behave.
#include "sim/sim_device.h"

#include "bootloader/devid.h"

#include <gtest/gtest.h>

namespace {

ABytes FlashLine(std::uint32_t byteAddress, std::uint8_t fill)
{
    ABytes data = BytesFromU16s({static_cast<std::uint16_t>(byteAddress / 2)});
    data.resize(66, fill);
    return BootLoaderFrame(2, data);
}

ABytes EepromLine(std::uint8_t offset, std::uint8_t fill, std::size_t n = 32)
{
    ABytes data{offset};
    data.resize(1 + n, fill);
    return BootLoaderFrame(1, data);
}

// Feeds one frame and returns the single output, or none.
std::optional<SimOutput> Send(SimDevice& dev, const ABytes& frame)
{
    const std::vector<SimOutput> out = dev.Feed(frame);
    EXPECT_LE(out.size(), 1u);
    if (out.empty())
        return std::nullopt;
    return out.front();
}

TEST(SimDevice, IdentityDecodesWithTheHostDecoder)
{
    SimIdentity id;
    id.name = "\xCC\xD2\xC7";
    id.version = 0x0104;
    id.type = 7;
    id.variant = 2;
    id.revision = 3;
    id.id = 0xA1B2C3D4;
    SimDevice dev(id, {}, 0);
    const auto o = Send(dev, BootLoaderFrame(0, {}));
    ASSERT_TRUE(o);
    ASSERT_EQ(o->reply.size(), 59u);
    bool complite = false;
    CheckBootLoaderReply(o->reply, complite);
    EXPECT_TRUE(complite);
    const TZorelBootLoaderDevID d = DecodeDeviceID(o->reply);
    EXPECT_EQ(d.dVerProg, 0x0104);
    EXPECT_EQ(d.dBootTypeP, 7);
    EXPECT_EQ(d.dIspolnenieP, 2);
    EXPECT_EQ(d.dPlateIzmP, 3);
    EXPECT_EQ(d.dID, 0xA1B2C3D4);
    EXPECT_EQ(d.dName.substr(0, 3), "\xCC\xD2\xC7");
    EXPECT_EQ(d.dAdressInf, 0x400);
}

TEST(SimDevice, FramesSplitAcrossReadsAndNoiseBeforeThem)
{
    SimDevice dev({}, {}, 0);
    const ABytes frame = BootLoaderFrame(3, {});
    EXPECT_TRUE(dev.Feed({0x00, 0x12, frame[0]}).empty());
    const std::vector<SimOutput> out = dev.Feed({frame[1], frame[2]});
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].reply, (ABytes{0xF3, 0x00, 0xCC}));
    EXPECT_TRUE(out[0].reset);
    ASSERT_EQ(dev.Frames().size(), 1u);
    EXPECT_TRUE(dev.Frames()[0].crcOk);
}

TEST(SimDevice, ProgramsMemoryAndReportsTheNewHeaderAfterReset)
{
    SimDevice dev({}, {}, 5);
    ABytes line = BytesFromU16s({0x0200});
    ABytes header(64, 0);
    header[4] = 0x05; header[5] = 0x02; // version 2.05
    header[6] = 0x09;                   // type 9
    header[12] = 'N'; header[14] = 'E'; header[16] = 'W';
    BytesInsert(line, header, -1);
    auto o = Send(dev, BootLoaderFrame(2, line));
    ASSERT_TRUE(o);
    EXPECT_EQ(o->reply, BootLoaderFrame(2, {}));
    EXPECT_DOUBLE_EQ(o->delayMs, 5);
    ASSERT_TRUE(Send(dev, EepromLine(0xE0, 0x42, 3)));
    EXPECT_EQ(dev.Flash().at(0x400 + 4), 0x05);
    EXPECT_EQ(dev.Flash().size(), 64u);
    EXPECT_EQ(dev.Eeprom().at(0xE0), 0x42);
    EXPECT_EQ(dev.Eeprom().size(), 3u);
    ASSERT_TRUE(Send(dev, BootLoaderFrame(3, {})));
    const TZorelBootLoaderDevID d = DecodeDeviceID(Send(dev, BootLoaderFrame(0, {}))->reply);
    EXPECT_EQ(d.dVerProg, 0x0205);
    EXPECT_EQ(d.dBootTypeP, 9);
    EXPECT_EQ(d.dName.substr(0, 3), "NEW");
    EXPECT_EQ(dev.Resets(), 1);
}

TEST(SimDevice, BadCheckByteIsRecordedAndIgnored)
{
    SimDevice dev({}, {}, 0);
    ABytes frame = BootLoaderFrame(0, {});
    frame.back() ^= 0xFF;
    EXPECT_FALSE(Send(dev, frame));
    ASSERT_EQ(dev.Frames().size(), 1u);
    EXPECT_FALSE(dev.Frames()[0].crcOk);
}

TEST(SimDevice, Faults)
{
    {
        SimFaults f;
        f.silent = true;
        SimDevice dev({}, f, 0);
        EXPECT_FALSE(Send(dev, BootLoaderFrame(0, {})));
    }
    {
        SimFaults f;
        f.dropLine = 1;
        f.dropTimes = 2;
        SimDevice dev({}, f, 0);
        EXPECT_TRUE(Send(dev, FlashLine(0x400, 1)));
        EXPECT_FALSE(Send(dev, FlashLine(0x440, 2)));
        EXPECT_FALSE(Send(dev, FlashLine(0x440, 2)));
        EXPECT_TRUE(Send(dev, FlashLine(0x440, 2)));
        EXPECT_TRUE(Send(dev, FlashLine(0x480, 3)));
        EXPECT_EQ(dev.LinesWritten(), 3);
    }
    {
        SimFaults f;
        f.stopAfter = 2;
        SimDevice dev({}, f, 0);
        EXPECT_TRUE(Send(dev, FlashLine(0x400, 1)));
        EXPECT_TRUE(Send(dev, FlashLine(0x440, 1)));
        EXPECT_FALSE(Send(dev, FlashLine(0x480, 1)));
        EXPECT_FALSE(Send(dev, BootLoaderFrame(3, {})));
        EXPECT_EQ(dev.Resets(), 0);
    }
    {
        SimFaults f;
        f.hangupAfter = 1;
        SimDevice dev({}, f, 0);
        EXPECT_TRUE(Send(dev, FlashLine(0x400, 1)));
        const auto o = Send(dev, FlashLine(0x440, 1));
        ASSERT_TRUE(o);
        EXPECT_TRUE(o->hangup);
        EXPECT_TRUE(o->reply.empty());
        EXPECT_TRUE(dev.HungUp());
        EXPECT_TRUE(dev.Feed(BootLoaderFrame(3, {})).empty());
    }
    {
        SimFaults f;
        f.shortIdentity = true;
        SimDevice dev({}, f, 0);
        EXPECT_EQ(Send(dev, BootLoaderFrame(0, {}))->reply.size(), 49u);
    }
    {
        SimFaults f;
        f.garbage = true;
        SimDevice dev({}, f, 0);
        const ABytes r = Send(dev, BootLoaderFrame(3, {}))->reply;
        EXPECT_EQ(r, (ABytes{0x00, 0x55, 0x13, 0xF3, 0x00, 0xCC}));
    }
    {
        SimFaults f;
        f.wrongFirst = true;
        SimDevice dev({}, f, 0);
        EXPECT_EQ(Send(dev, BootLoaderFrame(3, {}))->reply[0], 0xE3);
    }
}

} // namespace
