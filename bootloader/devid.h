// The bootloader's frame format and the identity record a device reports, independent of any port.
// Pure functions on byte arrays; safe on any thread.
#pragma once

#include "package/bytes.h"

#include <cstdint>
#include <string>
#include <vector>

// A calendar date and time of day (local time); the bootloader's dates are the first of a month at midnight.
struct TDateTime {
    int Year = 0;
    int Month = 0;
    int Day = 0;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;

    static TDateTime Now();
    // "YYYY-MM-DD"
    std::string DateText() const;
    bool operator==(const TDateTime&) const = default;
};

// What a device's bootloader reports about itself and the firmware installed in it.
struct TZorelBootLoaderDevID {
    std::uint16_t dBootVersion = 0;
    std::uint16_t dBootType = 0;
    std::uint8_t dIspolnenie = 0;
    std::uint8_t dPlateIzm = 0;
    TDateTime dDate;
    std::uint16_t dAdressInf = 0;
    std::uint16_t dAdressMax = 0;
    std::uint16_t dBlockWrite = 0;
    std::uint16_t dEepromMax = 0;
    std::uint16_t dEEWrite = 0;
    std::uint16_t dEndProg = 0;
    std::uint16_t dCSProg = 0;
    std::uint16_t dVerProg = 0;
    std::uint16_t dBootTypeP = 0;
    std::uint8_t dIspolnenieP = 0;
    std::uint8_t dPlateIzmP = 0;
    TDateTime dDateProg;
    std::int64_t dID = 0;
    std::string dName; // raw 8-bit characters (code page 1251), ten of them, zero bytes kept

    // Seven caption lines joined by CR LF (the last without a line end).
    std::string ToString() const;
};

// A port name paired with the identity found on it.
struct TZorelBootLoaderDevIDInfo {
    std::string Port;
    TZorelBootLoaderDevID DevID;
};
using AZorelBootLoaderDevsIDInfo = std::vector<TZorelBootLoaderDevIDInfo>;

// Shortest identity reply that carries every field, all ten name characters included.
constexpr std::size_t kDeviceIDReplyMin = 57;

// Request frame: 0xF0|Cmd, data length (low 8 bits), data, CRC-8 over everything before it.
ABytes BootLoaderFrame(std::uint8_t Cmd, const ABytes& Data);

// Reply completeness: sets Complite when Recive is a whole reply frame, else raises "0x0100".."0x0103".
void CheckBootLoaderReply(const ABytes& Recive, bool& Complite);

// Decodes a whole identity reply (frame head included); raises "0x0104" when it is too short to hold every field.
TZorelBootLoaderDevID DecodeDeviceID(const ABytes& Reply);

// Reads a BCD year (+2000) and month as the first of that month; false when a digit is not decimal or the month is
// not 1..12.
bool DecodeBcdDate(std::uint8_t Year, std::uint8_t Month, TDateTime& Out);
