// Reading the firmware a tool is given, whatever its form, and saying in words why it is refused.
#include "cli/firmware.h"

#include <iostream>
#include <sstream>

#include "base/error.h"
#include "base/utf8_path.h"
#include "base/format.h"
#include "package/datafile.h"
#include "package/embedded.h"
#include "cli/files.h"

namespace {

bool StartsWith(const ABytes& f, std::initializer_list<std::uint8_t> magic)
{
    return f.size() >= magic.size() && std::equal(magic.begin(), magic.end(), f.begin());
}

// The code at the start of a failure text ("0x0304" or "0x0304: words"), empty when it has none.
std::string CodeOf(const std::string& text)
{
    if (text.size() >= 6 && text.compare(0, 2, "0x") == 0 && (text.size() == 6 || text[6] == ':'))
        return text.substr(0, 6);
    return {};
}

std::string Where(TFirmwareKind kind)
{
    switch (kind) {
    case TFirmwareKind::Updater:
        return "the updater's package";
    case TFirmwareKind::Hex:
        return "the HEX file";
    default:
        return "the container";
    }
}

} // namespace

TExecutableKind ExecutableKind(const ABytes& File)
{
    if (StartsWith(File, {0x7F, 'E', 'L', 'F'}))
        return TExecutableKind::Elf;
    if (!StartsWith(File, {'M', 'Z'}) || File.size() < 0x40)
        return TExecutableKind::None;
    const std::uint32_t pe = BytesToU32(File, 0x3C);
    const bool isPe = static_cast<std::uint64_t>(pe) + 4 <= File.size() && File[pe] == 'P' && File[pe + 1] == 'E' &&
                      File[pe + 2] == 0 && File[pe + 3] == 0;
    return isPe ? TExecutableKind::Pe : TExecutableKind::None;
}

TFirmwareKind DetectFirmwareKind(const ABytes& File)
{
    std::size_t i = StartsWith(File, {0xEF, 0xBB, 0xBF}) ? 3 : 0;
    const std::size_t textStart = i;
    while (i < File.size() && (File[i] == ' ' || File[i] == '\t' || File[i] == '\r' || File[i] == '\n'))
        ++i;
    bool text = i < File.size();
    for (std::size_t k = textStart; text && k < File.size(); ++k)
        text = File[k] >= 0x20 ? File[k] < 0x7F : (File[k] == '\r' || File[k] == '\n' || File[k] == '\t');
    if (text)
        return File[i] == ':' ? TFirmwareKind::Hex : TFirmwareKind::Text;
    // A trailer at the very end counts even when its length does not fit: such a file is a broken updater. A
    // Windows updater signed after packing carries its trailer in front of the certificate table.
    const bool trailerAtEnd = File.size() >= kTrailerSize &&
                              BytesToU32(File, static_cast<std::int64_t>(File.size() - kTrailerSize)) == kPackageMagic;
    if (trailerAtEnd || FindPackageTail(BytesReader(File), File.size()))
        return TFirmwareKind::Updater;
    if (IsExecutable(File))
        return TFirmwareKind::Executable;
    return TFirmwareKind::Container;
}

TFirmware ReadFirmware(const std::filesystem::path& Path)
{
    std::error_code ec;
    if (!std::filesystem::exists(Path, ec))
        throw Exception("0x0310: " + PathUtf8(Path) + " does not exist");
    ABytes file;
    try {
        file = ReadFileBytes(Path);
    } catch (const Exception& e) {
        throw Exception(std::string("0x0310: ") + e.what());
    }
    TFirmware f;
    f.Kind = DetectFirmwareKind(file);
    switch (f.Kind) {
    case TFirmwareKind::Hex: {
        THexCheck c = CheckHexText(std::string(file.begin(), file.end()), kEepromLimit);
        THexDataFile h;
        h.SetInfo(kFlashLimit, kEepromLimit);
        std::istringstream s(c.Text);
        ABytes data;
        h.ReadStream(s, data);
        h.SetData(data);
        f.Container = h.BytesTo();
        f.Warnings = std::move(c.Warnings);
        f.Data = std::move(c.Data);
        break;
    }
    case TFirmwareKind::Updater:
        ReadEmbeddedPackage(Path, f.Container);
        break;
    case TFirmwareKind::Executable:
        // What the updater's window says of its own file without a package.
        throw Exception("0x0301: " + PathUtf8(Path) +
                        " is an executable without a firmware package (a cut-off copy of an updater, or a base "
                        "executable: make an updater with nerid pack)");
    case TFirmwareKind::Text:
        throw Exception("0x0326: " + PathUtf8(Path) +
                        " is text but not Intel HEX (its first line does not start with ':')");
    case TFirmwareKind::Container:
        f.Container = std::move(file);
        break;
    }
    return f;
}

ABytes FirmwareContainer(const std::filesystem::path& Path, TFirmwareKind* Kind)
{
    TFirmware f = ReadFirmware(Path);
    if (Kind)
        *Kind = f.Kind;
    return std::move(f.Container);
}

std::string PackageRefusal(const std::string& Code, const TZorelBootLoaderHexDataFile& FH, TFirmwareKind Kind)
{
    const std::string where = Where(Kind);
    const ADataBlocks& b = FH.Blocks();
    std::string words;
    if (Code == "0x0301") {
        words = Kind == TFirmwareKind::Updater
                    ? "the updater's package is empty or its trailer is damaged (a cut-off copy?)"
                    : where + " is shorter than its 2-byte block count (an empty or cut-off file?)";
    } else if (Code == "0x0302") {
        words = where + " is shorter than its block table (a cut-off file, or not a firmware package)";
    } else if (Code == "0x0303") {
        words = where + " holds no data (a file without firmware?)";
    } else if (Code == "0x0304") {
        std::uint16_t stored = 0, computed = 0;
        try {
            stored = FH.BootLoaderInfo().CS;
            computed = FH.CheckSumm();
        } catch (const Exception&) {
        }
        words = Format("the program's checksum is 0x%.4X, its header says 0x%.4X (damaged firmware, or a header "
                       "not updated after a change)",
                       computed, stored);
    } else if (Code == "0x0306") {
        words = where + " has no flash block with a 32-byte firmware header (a file without flash data?)";
    } else if (Code == "0x0307") {
        words = where + " has an EEPROM block of odd length (each EEPROM byte takes two bytes)";
    } else if (Code == "0x0311") {
        words = where + "'s flash block runs past address 0xFFFF, the highest a flash line can reach";
    } else if (Code == "0x0312") {
        words = where + "'s EEPROM block holds more than the 256 bytes the device's EEPROM lines can reach";
    } else if (Code == "0x0314") {
        for (const TDataBlock& k : b)
            if (k.A < kFlashLimit) {
                words = Format("%s's flash block starts at the odd address 0x%.4X; the device takes word addresses",
                               where.c_str(), k.A);
                break;
            }
    }
    return words.empty() ? Code : Code + ": " + words;
}

std::vector<std::string> FirmwareWarnings(const TFirmware& F, const TZorelBootLoaderHexDataFile& FH)
{
    std::vector<std::string> w = F.Warnings;
    if (F.Kind == TFirmwareKind::Hex) {
        // The header's end of program is the word address of the last program word.
        const std::uint32_t end = (static_cast<std::uint32_t>(FH.BootLoaderInfo().EP) + 1) * 2;
        for (const std::string& s : FlashWarnings(F.Data, kFlashLimit, end, kFlashLineSize))
            w.push_back(s);
    }
    return w;
}

TPackageContents CheckFirmware(const TFirmware& F, TZorelBootLoaderHexDataFile& FH, bool Strict)
{
    TPackageContents c;
    try {
        c = CheckPackage(FH, F.Container);
    } catch (const Exception& e) {
        const std::string code = CodeOf(e.what());
        if (code.empty())
            throw;
        throw Exception(PackageRefusal(code, FH, F.Kind));
    }
    for (const std::string& w : FirmwareWarnings(F, FH)) {
        if (Strict)
            throw Exception(w + " (refused: --strict)");
        std::cerr << "warning " << w << "\n";
    }
    return c;
}
