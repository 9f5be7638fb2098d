// The sample firmware for demos and tests: a flash image at 0x400 of 0x7C00 bytes with a valid header and
// checksum, and an EEPROM image at 0x1E000 of 0x200 bytes (256 EEPROM bytes, each the low byte of a word); both
// sizes can be made smaller for quick tests.
#pragma once

#include <cstdint>
#include <string>

#include "package/datafile.h"

struct TSampleFirmware {
    std::string Name = "SAMPLE";  // raw 8-bit (cp1251) name, at most 10 characters are stored
    std::uint16_t Version = 0x0105; // high byte major, low byte minor
    std::uint16_t Type = 3;
    std::uint8_t Variant = 2;
    std::uint8_t Revision = 0;
    std::uint16_t Date = 0x0624;    // low byte year, high byte month, BCD
    std::uint32_t Seed = 1;         // varies the program bytes
    std::uint32_t FlashLength = 0x7C00; // bytes of the flash block, even, at least the 32-byte header
    std::uint32_t EepromLength = 0x200; // bytes of the EEPROM block (two per EEPROM byte), even; 0: no EEPROM block
};

// The image as blocks and data, ready for BytesTo (container) or SaveAs (Intel HEX).
THexDataFile BuildSampleImage(const TSampleFirmware& S);
