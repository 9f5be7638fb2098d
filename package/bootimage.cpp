// Bootloader image view: header, checksum, flash and EEPROM lines.
#include "package/bootimage.h"

#include "base/error.h"
#include "base/format.h"

std::string TZorelBootLoaderDataLine::ToString() const { return Format("%.4X:", A) + BytesToText(D, "", true); }

std::ptrdiff_t TZorelBootLoaderHexDataFile::FlashBlock() const
{
    for (std::size_t k = 0; k < FBlocks.size(); ++k)
        if (FBlocks[k].A < FFlashLimit)
            return static_cast<std::ptrdiff_t>(k);
    return -1;
}

std::ptrdiff_t TZorelBootLoaderHexDataFile::EepromBlock() const
{
    for (std::size_t k = 0; k < FBlocks.size(); ++k)
        if (FBlocks[k].A > FFlashLimit)
            return static_cast<std::ptrdiff_t>(k);
    return -1;
}

TZorelBootLoaderInfo TZorelBootLoaderHexDataFile::BootLoaderInfo() const
{
    const std::ptrdiff_t k = FlashBlock();
    if (k < 0)
        throw Exception("0x0306");
    const ABytes h = BytesCopy(FData, FBlocks[static_cast<std::size_t>(k)].I, 32);
    if (h.size() < 32)
        throw Exception("0x0306");
    TZorelBootLoaderInfo r;
    r.BL = static_cast<std::int32_t>(k);
    r.EP = BytesToU16(h, 0);
    r.CS = BytesToU16(h, 2);
    r.VP = BytesToU16(h, 4);
    r.TD = BytesToU16(h, 6);
    r.IZ = h[8];
    r.IP = h[9];
    r.DT = BytesToU16(h, 10);
    for (int c = 0; c < 10; ++c)
        if (h[12 + 2 * c] != 0)
            r.TX += static_cast<char>(h[12 + 2 * c]);
    return r;
}

std::uint16_t TZorelBootLoaderHexDataFile::CheckSumm() const
{
    const TZorelBootLoaderInfo info = BootLoaderInfo();
    const std::int64_t base = FBlocks[0].A / 2;
    // Words past the end of the data area read as 0, so no EP or block address makes the sum leave the data.
    const std::int64_t lastInData = static_cast<std::int64_t>(FData.size() / 2) - 1;
    const std::int64_t n = std::min<std::int64_t>(static_cast<std::int64_t>(info.EP) - base, lastInData);
    std::uint16_t sum = 0;
    for (std::int64_t i = n; i >= 2; --i)
        sum = static_cast<std::uint16_t>(sum + BytesToU16(FData, 2 * i));
    return static_cast<std::uint16_t>(((sum - 1) & 0x3FFF) ^ 0x3FFF);
}

AZorelBootLoaderDataLines TZorelBootLoaderHexDataFile::GetFlash() const
{
    const std::ptrdiff_t k = FlashBlock();
    if (k < 0)
        return {};
    const TDataBlock& b = FBlocks[static_cast<std::size_t>(k)];
    const ABytes data = BytesCopy(FData, b.I, b.L);
    // A line address has 16 bits: a byte above that range would be written over the start of the flash.
    if (static_cast<std::uint64_t>(b.A) + data.size() > 0x10000)
        throw Exception("0x0311");
    // The flash command carries a word address (A / 2): from an odd byte address every byte would land one place
    // too low, a corrupted program reported as written.
    if (b.A % 2 != 0)
        throw Exception("0x0314");
    AZorelBootLoaderDataLines lines((data.size() + kFlashLineSize - 1) / kFlashLineSize);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        lines[i].A = static_cast<std::uint16_t>(b.A + kFlashLineSize * i);
        lines[i].D = BytesCopy(data, static_cast<std::int64_t>(kFlashLineSize * i), kFlashLineSize);
        lines[i].D.resize(kFlashLineSize, 0xFF);
    }
    return lines;
}

AZorelBootLoaderDataLines TZorelBootLoaderHexDataFile::GetEEPROM() const
{
    const std::ptrdiff_t k = EepromBlock();
    if (k < 0)
        return {};
    const TDataBlock& b = FBlocks[static_cast<std::size_t>(k)];
    const ABytes data = BytesCopy(FData, b.I, b.L);
    if (data.size() % 2 != 0)
        throw Exception("0x0307");
    ABytes ee(data.size() / 2);
    for (std::size_t i = 0; i < ee.size(); ++i)
        ee[i] = data[2 * i];
    // The EEPROM command carries an 8-bit offset: a line starting above 255 would land at the wrong place.
    if (ee.size() > 256)
        throw Exception("0x0312");
    AZorelBootLoaderDataLines lines((ee.size() + kEepromLineSize - 1) / kEepromLineSize);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        lines[i].A = static_cast<std::uint16_t>(kEepromLineSize * i);
        lines[i].D = BytesCopy(ee, static_cast<std::int64_t>(kEepromLineSize * i), kEepromLineSize);
    }
    return lines;
}
