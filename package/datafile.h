// Data-file classes: a block table over one data area (the firmware package in memory), its container form,
// and the file frame that hands a stream to a format reader or writer (Intel HEX in THexDataFile).
// Objects are used by one thread at a time; they own their data area and block table.
#pragma once

#include <cstdint>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "package/bytes.h"

// One block: start address in the device's address space, offset of its first byte in the data area, length (bytes).
struct TDataBlock {
    std::uint32_t A = 0;
    std::uint32_t I = 0;
    std::uint32_t L = 0;
    bool operator==(const TDataBlock&) const = default;
};
using ADataBlocks = std::vector<TDataBlock>;

// Base data file: a data area and a name (UTF-8); Load/SaveAs run the format reader/writer of the derived class.
class TCustomDataFile {
public:
    TCustomDataFile() = default;
    virtual ~TCustomDataFile() = default;
    TCustomDataFile(const TCustomDataFile&) = default;
    TCustomDataFile& operator=(const TCustomDataFile&) = default;

    // Format reader: parses the whole stream into Data (and the derived class's own fields).
    virtual void ReadStream(std::istream& Stream, ABytes& Data);
    // Format writer: writes Data (and the derived class's own fields) to the stream.
    virtual void WriteStream(std::ostream& Stream, const ABytes& Data);

    // Reads the named file with ReadStream into FData. "0x0310" when it does not exist or cannot be opened.
    void Load(const std::string& pName);
    // SaveAs(Name).
    void Save();
    // Writes the file with WriteStream; an existing file is truncated first. "0x0313" when it cannot be written.
    void SaveAs(const std::string& pName);

    const std::string& Name() const { return FName; }
    void SetName(const std::string& pName) { FName = pName; }
    std::int64_t Size() const { return static_cast<std::int64_t>(FData.size()); }
    const ABytes& Data() const { return FData; }
    void SetData(const ABytes& pData) { FData = pData; }

protected:
    ABytes FData;
    std::string FName;
};

// Data file with a block table: the block container (BytesFrom/BytesTo) and Intel HEX text (ReadStream/WriteStream).
class THexDataFile : public TCustomDataFile {
public:
    // Intel HEX reader: fills Data and the block table; lines that do not parse are skipped. Data records above the
    // EEPROM limit are dropped, so call SetInfo first.
    void ReadStream(std::istream& Stream, ABytes& Data) override;
    // Intel HEX writer: per block an extended linear address record (and another at each 64 KiB page it crosses),
    // data records of up to 16 bytes, then the end-of-file record. Blocks of length 0 are not written.
    void WriteStream(std::ostream& Stream, const ABytes& Data) override;

    void SetInfo(std::uint32_t pFlash, std::uint32_t pEeprom);
    // Replaces the blocks and the data from a block container: "0x0301" shorter than 2 bytes, "0x0302" shorter than
    // its block table. A rejected container changes nothing.
    void BytesFrom(const ABytes& D);
    // The block container of the blocks and the data (the count field takes the low 16 bits of the table length).
    ABytes BytesTo() const;

    std::uint32_t Flash() const { return FFlashLimit; }
    std::uint32_t EEPROM() const { return FEepromLimit; }
    const ADataBlocks& Blocks() const { return FBlocks; }
    const std::string& Errors() const { return FErrors; }

protected:
    std::string FErrors;
    ADataBlocks FBlocks;
    std::uint32_t FFlashLimit = 0;
    std::uint32_t FEepromLimit = 0;
};
