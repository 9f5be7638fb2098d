// The simulated bootloader's frame parser, command handling, memory and faults.
#include "sim/sim_device.h"

#include <algorithm>

SimDevice::SimDevice(SimIdentity identity, SimFaults faults, double writeMs)
    : FIdentity(std::move(identity)), FFaults(faults), FWriteMs(writeMs)
{
}

std::vector<SimOutput> SimDevice::Feed(const ABytes& in)
{
    std::vector<SimOutput> out;
    BytesInsert(FPending, in, -1);
    for (;;) {
        // A frame starts with a byte of 0xF0 or above; anything before one is line noise.
        const auto start = std::find_if(FPending.begin(), FPending.end(), [](std::uint8_t b) { return b >= 0xF0; });
        FPending.erase(FPending.begin(), start);
        if (FPending.size() < 3)
            break;
        const std::size_t need = static_cast<std::size_t>(FPending[1]) + 3;
        if (FPending.size() < need)
            break;
        const ABytes frame(FPending.begin(), FPending.begin() + static_cast<std::ptrdiff_t>(need));
        FPending.erase(FPending.begin(), FPending.begin() + static_cast<std::ptrdiff_t>(need));
        if (FHungUp)
            continue;
        if (std::optional<SimOutput> o = Handle(frame))
            out.push_back(std::move(*o));
    }
    return out;
}

ABytes SimDevice::IdentityPayload() const
{
    const SimIdentity& i = FIdentity;
    ABytes p(56, 0);
    auto put16 = [&](int off, std::uint16_t v) {
        p[off] = static_cast<std::uint8_t>(v);
        p[off + 1] = static_cast<std::uint8_t>(v >> 8);
    };
    put16(0, i.bootVersion);
    put16(2, i.bootType);
    p[4] = i.revision;
    p[5] = i.variant;
    p[6] = i.dateYear;
    p[7] = i.dateMonth;
    put16(8, static_cast<std::uint16_t>(i.infoAddress / 2));
    put16(10, 0x7FFF);  // word address of the last flash word of a 64 KiB part
    put16(12, 32);      // write block: 32 words
    put16(14, 0x1FF);   // 512 bytes of EEPROM
    for (int k = 0; k < 4; ++k)
        p[16 + 2 * k] = static_cast<std::uint8_t>(i.id >> (24 - 8 * k));
    put16(24, i.endProg);
    put16(26, i.checksum);
    put16(28, i.version);
    put16(30, i.type);
    p[32] = i.revision;
    p[33] = i.variant;
    p[34] = i.dateYear;
    p[35] = i.dateMonth;
    for (std::size_t k = 0; k < 10 && k < i.name.size(); ++k)
        p[36 + 2 * k] = static_cast<std::uint8_t>(i.name[k]);
    return p;
}

ABytes SimDevice::Reply(std::uint8_t cmd, const ABytes& payload) const
{
    ABytes head{static_cast<std::uint8_t>((FFaults.wrongFirst ? 0xE0 : 0xF0) | cmd),
                static_cast<std::uint8_t>(payload.size())};
    ABytes r = BytesConcat(head, payload);
    BytesInsertByte(r, BytesCrc8(r), -1);
    if (FFaults.garbage)
        r.insert(r.begin(), {0x00, 0x55, 0x13});
    return r;
}

void SimDevice::TakeHeaderFromFlash()
{
    // After a reset the device reports the firmware now in flash, read from its header.
    ABytes h;
    for (std::uint32_t a = FIdentity.infoAddress; a < FIdentity.infoAddress + 32; ++a) {
        const auto it = FFlash.find(a);
        if (it == FFlash.end())
            return;
        h.push_back(it->second);
    }
    FIdentity.endProg = BytesToU16(h, 0);
    FIdentity.checksum = BytesToU16(h, 2);
    FIdentity.version = BytesToU16(h, 4);
    FIdentity.type = BytesToU16(h, 6);
    FIdentity.revision = h[8];
    FIdentity.variant = h[9];
    FIdentity.dateYear = h[10];
    FIdentity.dateMonth = h[11];
    FIdentity.name.clear();
    for (int k = 0; k < 10; ++k)
        if (h[12 + 2 * k] != 0)
            FIdentity.name += static_cast<char>(h[12 + 2 * k]);
}

std::optional<SimOutput> SimDevice::Handle(const ABytes& frame)
{
    SimFrame f;
    f.cmd = frame[0] & 0x0F;
    f.length = frame[1];
    f.crcOk = BytesCrc8(BytesCopy(frame, 0, static_cast<std::int64_t>(frame.size()) - 1)) == frame.back();
    const ABytes data = BytesCopy(frame, 2, f.length);
    if (f.cmd == 2 && data.size() >= 2)
        f.address = static_cast<std::uint32_t>(BytesToU16(data, 0)) * 2;
    else if (f.cmd == 1 && !data.empty())
        f.address = data[0];
    FFrames.push_back(f);
    if (f.cmd == 1 || f.cmd == 2)
        ++FLineCommands;

    // A frame that fails its check byte is ignored, as a bootloader would.
    if (!f.crcOk || FFaults.silent || FStopped)
        return std::nullopt;

    SimOutput o;
    switch (f.cmd) {
    case 0: {
        ABytes payload = IdentityPayload();
        if (FFaults.shortIdentity)
            payload.resize(46); // 49 bytes with head and check byte
        o.reply = Reply(0, payload);
        return o;
    }
    case 1:
    case 2: {
        if (FFaults.hangupAfter >= 0 && FLines >= FFaults.hangupAfter) {
            FHungUp = true; // unplugged: the line goes dead before this line is taken
            o.hangup = true;
            return o;
        }
        if (FFaults.stopAfter >= 0 && FLines >= FFaults.stopAfter) {
            FStopped = true;
            return std::nullopt;
        }
        if (f.cmd == 2) {
            if (std::find(FFlashAddresses.begin(), FFlashAddresses.end(), f.address) == FFlashAddresses.end())
                FFlashAddresses.push_back(f.address);
            const int lineNo = static_cast<int>(
                std::find(FFlashAddresses.begin(), FFlashAddresses.end(), f.address) - FFlashAddresses.begin());
            if (lineNo == FFaults.dropLine && FDropped < FFaults.dropTimes) {
                ++FDropped;
                return std::nullopt;
            }
            for (std::size_t k = 2; k < data.size(); ++k)
                FFlash[f.address + static_cast<std::uint32_t>(k - 2)] = data[k];
        } else {
            for (std::size_t k = 1; k < data.size(); ++k)
                FEeprom[f.address + static_cast<std::uint32_t>(k - 1)] = data[k];
        }
        ++FLines;
        o.delayMs = FWriteMs;
        o.reply = Reply(f.cmd, {});
        return o;
    }
    case 3:
        ++FResets;
        TakeHeaderFromFlash();
        o.reply = Reply(3, {});
        o.reset = true;
        return o;
    default:
        return std::nullopt; // unknown commands get no answer
    }
}
