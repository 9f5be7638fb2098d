// Building the sample firmware image.
#include "cli/sample.h"

#include "base/error.h"
#include "package/bootimage.h"
#include "package/validate.h"

namespace {

constexpr std::uint32_t kFlashAddress = 0x400;
constexpr std::uint32_t kEepromAddress = 0x1E000;

void PutU16(ABytes& d, std::size_t at, std::uint16_t v)
{
    d[at] = static_cast<std::uint8_t>(v);
    d[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

} // namespace

THexDataFile BuildSampleImage(const TSampleFirmware& S)
{
    const std::uint32_t flashLength = S.FlashLength;
    const std::uint32_t eepromLength = S.EepromLength;
    if (flashLength < 32 || flashLength % 2 != 0 || kFlashAddress + flashLength > kFlashLimit ||
        eepromLength % 2 != 0 || eepromLength > 0x200)
        throw Exception("sample firmware: flash length must be even, 32..0xFC00; EEPROM length even, 0..0x200");
    ABytes data(flashLength + eepromLength);
    std::uint32_t x = S.Seed * 2654435761u + 12345u; // a small LCG: program bytes that differ from word to word
    for (std::uint32_t i = 32; i < flashLength; ++i) {
        x = x * 1103515245u + 12345u;
        data[i] = static_cast<std::uint8_t>(x >> 16);
    }
    for (std::uint32_t i = 0; i < eepromLength; i += 2)
        data[flashLength + i] = static_cast<std::uint8_t>(i / 2 * 7 + S.Seed);
    // EP: the last program word of the flash block (word address).
    PutU16(data, 0, static_cast<std::uint16_t>((kFlashAddress + flashLength) / 2 - 1));
    PutU16(data, 4, S.Version);
    PutU16(data, 6, S.Type);
    data[8] = S.Revision;
    data[9] = S.Variant;
    PutU16(data, 10, S.Date);
    for (std::size_t k = 0; k < 10 && k < S.Name.size(); ++k)
        data[12 + 2 * k] = static_cast<std::uint8_t>(S.Name[k]);

    TZorelBootLoaderHexDataFile image;
    image.SetInfo(kFlashLimit, kEepromLimit);
    const ABytes table = eepromLength ? BytesFromU32s({kFlashAddress, 0, flashLength, kEepromAddress, flashLength,
                                                        eepromLength})
                                       : BytesFromU32s({kFlashAddress, 0, flashLength});
    image.BytesFrom(BytesConcat(BytesFromU16s({static_cast<std::uint16_t>(eepromLength ? 2 : 1)}),
                                BytesConcat(table, data)));
    PutU16(data, 2, image.CheckSumm());
    image.SetData(data);
    return image;
}
