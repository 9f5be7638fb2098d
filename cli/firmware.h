// Firmware input of the tools: an updater (read through its trailer), a block container or Intel HEX text, read
// strictly (cli/hex_check.h) and checked as the updater checks its package, every refusal in words:
// "0xCODE: what is wrong, where, what to do".
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "cli/hex_check.h"
#include "package/bytes.h"
#include "package/validate.h"

enum class TFirmwareKind { Hex, Updater, Container, Executable, Text };

// Intel HEX when the file is text that starts with a record mark (after a UTF-8 byte-order mark and blanks); an
// updater when its last 8 bytes start with the package magic (or a signed Windows updater's trailer lies in front of
// its certificate table); an executable without a package when it starts like
// an ELF or PE file; other text; a block container otherwise.
TFirmwareKind DetectFirmwareKind(const ABytes& File);

// ELF (Linux) or PE (MZ with a PE header: Windows), the kinds of executable an updater is.
enum class TExecutableKind { None, Elf, Pe };
TExecutableKind ExecutableKind(const ABytes& File);
inline bool IsExecutable(const ABytes& File) { return ExecutableKind(File) != TExecutableKind::None; }

struct TFirmware {
    TFirmwareKind Kind = TFirmwareKind::Container;
    ABytes Container;
    std::vector<std::string> Warnings; // "0xCODE: words" of the HEX reading, before the header is known
    std::vector<THexSpan> Data;        // the HEX data records in address order (empty for other kinds)
};

// Reads the firmware a file stands for. Refuses (Exception "0xCODE: words") a file that cannot be read ("0x0310"),
// a HEX file that is not read strictly, an executable without a package ("0x0301", as the updater's window), text
// that is not Intel HEX ("0x0326").
TFirmware ReadFirmware(const std::filesystem::path& Path);

// The block container a firmware file stands for (ReadFirmware, warnings dropped).
ABytes FirmwareContainer(const std::filesystem::path& Path, TFirmwareKind* Kind = nullptr);

// The updater's checks on F (CheckPackage) with the refusal in words; then the warnings of the reading and of the
// flash data against the header, each printed to stderr as "warning 0xCODE: words", or, with Strict, the first of them
// raised as the refusal.
TPackageContents CheckFirmware(const TFirmware& F, TZorelBootLoaderHexDataFile& FH, bool Strict);

// The words for a package refusal CheckPackage raised with Code, given FH as it was left: "0xCODE: words".
std::string PackageRefusal(const std::string& Code, const TZorelBootLoaderHexDataFile& FH, TFirmwareKind Kind);

// Every warning of F against its header (the reading's and the flash data's), in order.
std::vector<std::string> FirmwareWarnings(const TFirmware& F, const TZorelBootLoaderHexDataFile& FH);
