// The tools' strict reading of Intel HEX: every line must parse and the file must end with its end-of-file record,
// so that no damaged file becomes a shipped package. The package's own reader skips what it cannot read; the tools
// check the text here first and hand the reader the records in address order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One data record as it lands in the device's address space.
struct THexSpan {
    std::uint32_t Address = 0; // absolute byte address (extended base + record address)
    std::uint32_t Length = 0;  // bytes
    std::size_t Line = 0;      // 1-based line number in the file
};

struct THexCheck {
    // The same records as the file, grouped under their extended-address records, the groups in the order of their
    // lowest address and the records of a group in address order, ending with the end-of-file record: the package's
    // reader makes the same blocks of it whatever order the file had. Records it would drop (above EepromLimit) are
    // left out.
    std::string Text;
    // Every data record that is kept, in address order.
    std::vector<THexSpan> Data;
    // What the reader would take in silently but looks wrong, each "0xCODE: words".
    std::vector<std::string> Warnings;
};

// Checks Text (a UTF-8 byte-order mark at its start is skipped). Raises Exception("0xCODE: words") naming the line
// for: a line that does not start with ':' or holds a non-hexadecimal digit ("0x0401"), a line shorter than a record
// ("0x030A"), a record cut short ("0x0309"), a checksum mismatch ("0x0308"), characters after the checksum
// ("0x0320"), no end-of-file record ("0x0321"), an extended-address record without exactly two data bytes
// ("0x0322"), records that overlap ("0x0323"), a record that runs past the end of its 64 KiB segment and would wrap
// back to its start ("0x0324"), an unknown record type ("0x0325").
THexCheck CheckHexText(const std::string& Text, std::uint32_t EepromLimit);

// Warnings about flash data (below FlashLimit) against the header's end of program (ProgramEnd: the first byte past
// the last program word): data past it ("0x0330"), and zero-filled gaps of more than one flash line of LineSize
// bytes between records ("0x0331"). Both are the common sign of a record that was shifted.
std::vector<std::string> FlashWarnings(const std::vector<THexSpan>& Data, std::uint32_t FlashLimit,
                                       std::uint32_t ProgramEnd, std::uint32_t LineSize);
