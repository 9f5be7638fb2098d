// The bootloader image view of a package: the 32-byte header at the start of the flash image, the image checksum,
// and the flash (64-byte) and EEPROM (32-byte) lines the bootloader is sent. Used by one thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "package/datafile.h"

// The image header. TX is the raw 8-bit name (code page 1251); ID is never read from the header.
struct TZorelBootLoaderInfo {
    std::string TX;
    std::uint32_t ID = 0;
    std::uint16_t EP = 0; // word address of the last program word
    std::uint16_t CS = 0; // image checksum, 14 bits
    std::uint16_t VP = 0; // version: high byte major, low byte minor
    std::uint16_t TD = 0; // device type
    std::uint16_t DT = 0; // date: low byte year, high byte month, BCD
    std::uint8_t IP = 0;  // variant
    std::uint8_t IZ = 0;  // board modification
    std::int32_t BL = 0;  // index of the block that held the header
};

// One line to program: A is the byte address of a flash line or the offset of an EEPROM line.
struct TZorelBootLoaderDataLine {
    std::uint16_t A = 0;
    ABytes D;
    // A as four upper-case hex digits, ":", then the bytes as hex digit pairs.
    std::string ToString() const;
    bool operator==(const TZorelBootLoaderDataLine&) const = default;
};
using AZorelBootLoaderDataLines = std::vector<TZorelBootLoaderDataLine>;

constexpr std::size_t kFlashLineSize = 64;
constexpr std::size_t kEepromLineSize = 32;

class TZorelBootLoaderHexDataFile : public THexDataFile {
public:
    // The header of the flash block (first block below the flash limit). "0x0306" without one or when shorter than 32.
    TZorelBootLoaderInfo BootLoaderInfo() const;
    // The 14-bit checksum of program words 2 .. EP; never reads outside the data area (missing words count as 0).
    std::uint16_t CheckSumm() const;
    // The flash block in 64-byte lines, the last one padded with 0xFF (the erased value); empty without a flash block.
    // "0x0311" when a byte of the block lies above the 16-bit address range of a flash line, "0x0314" when the
    // block starts at an odd byte address (the device is given word addresses).
    AZorelBootLoaderDataLines GetFlash() const;
    // The EEPROM block (first block above the flash limit; each EEPROM byte is the low byte of a word) in 32-byte
    // lines; empty without one. "0x0307" for an odd length, "0x0312" when a line would start above offset 255.
    AZorelBootLoaderDataLines GetEEPROM() const;

private:
    // Index of the flash or EEPROM block, -1 when there is none.
    std::ptrdiff_t FlashBlock() const;
    std::ptrdiff_t EepromBlock() const;
};
