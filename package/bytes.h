// Byte arrays: the one buffer type of packages, lines and frames, with its free functions.
// Multi-byte values are little-endian. All functions are pure except those taking Data by reference; none throws.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

using ABytes = std::vector<std::uint8_t>;

ABytes BytesFromU8s(std::initializer_list<std::uint8_t> values);
ABytes BytesFromU16s(std::initializer_list<std::uint16_t> values);
ABytes BytesFromU32s(std::initializer_list<std::uint32_t> values);

// Data[Start .. Start+n-1]; Count < 0 means to the end. Start outside 0..Length is clamped (empty when past the end).
ABytes BytesCopy(const ABytes& Data, std::int64_t Start, std::int64_t Count);
bool BytesIsEmpty(const ABytes& Data);
bool BytesNotEmpty(const ABytes& Data);
// Inserts Src so that it begins at Pos; Pos < 0 (or past the end) appends.
void BytesInsert(ABytes& Data, const ABytes& Src, std::int64_t Pos);
void BytesInsertByte(ABytes& Data, std::uint8_t Value, std::int64_t Pos);
// Removes Count bytes from Start (Count < 0: to the end); Start past the end changes nothing.
void BytesDelete(ABytes& Data, std::int64_t Start, std::int64_t Count);
ABytes BytesConcat(const ABytes& A, const ABytes& B);
std::uint32_t BytesSum(const ABytes& Data);
// Missing bytes past the end read as 0; a negative Index gives 0.
std::uint16_t BytesToU16(const ABytes& Data, std::int64_t Index);
std::uint32_t BytesToU32(const ABytes& Data, std::int64_t Index);
// Each byte as two upper-case hex digits (Hex) or in decimal, Separator between bytes.
std::string BytesToText(const ABytes& Data, const std::string& Separator, bool Hex);
// The bytes as an 8-bit string, one character per byte.
std::string BytesToAnsi(const ABytes& Data);
// CRC-8/MAXIM (poly x^8+x^5+x^4+1 reflected, init 0, no final XOR): the bootloader frame's check byte.
std::uint8_t BytesCrc8(const ABytes& Data);
