// Intel HEX records: the hex-digit routines and the conversions between a text line and a record.
#pragma once

#include <cstdint>
#include <string>

#include "package/bytes.h"

// Value of one hex digit, in the low four bits when Low is set, else in the high four bits. "0x0401" for a non-digit.
std::uint8_t HexNibble(char c, bool Low);
// Digit pairs to bytes; a last unpaired character is ignored. "0x0401" for a non-digit among the converted ones.
ABytes HexToBytes(const std::string& Text);

// One record: data length, type, checksum as read, 16-bit address, data bytes.
struct THexRec {
    std::uint8_t L = 0;
    std::uint8_t T = 0;
    std::uint8_t S = 0;
    std::uint16_t A = 0;
    ABytes D;

    // Parses one line (its first character, the record mark, is not examined): "0x030A" shorter than 11 characters,
    // "0x0401" a non-digit, "0x0309" fewer bytes than the length needs, "0x0308" checksum mismatch.
    static THexRec FromText(const std::string& vl);
    // ":" then L, A, T, D and the computed checksum, upper-case digits; L is written as stored.
    std::string ToText() const;
};
