// Reading the firmware a tool is given, whatever its form.
#include "cli/firmware.h"

#include "base/error.h"
#include "base/utf8_path.h"
#include "package/datafile.h"
#include "package/embedded.h"
#include "package/validate.h"
#include "cli/files.h"

TFirmwareKind DetectFirmwareKind(const ABytes& File)
{
    std::size_t i = 0;
    while (i < File.size() && (File[i] == ' ' || File[i] == '\t' || File[i] == '\r' || File[i] == '\n'))
        ++i;
    bool text = i < File.size() && File[i] == ':';
    for (std::size_t k = i; text && k < File.size(); ++k)
        text = File[k] >= 0x20 ? File[k] < 0x7F : (File[k] == '\r' || File[k] == '\n' || File[k] == '\t');
    if (text)
        return TFirmwareKind::Hex;
    // A trailer at the very end counts even when its length does not fit: such a file is a broken updater.
    const bool trailerAtEnd = File.size() >= kTrailerSize &&
                              BytesToU32(File, static_cast<std::int64_t>(File.size() - kTrailerSize)) == kPackageMagic;
    if (trailerAtEnd || FindPackageTail(BytesReader(File), File.size()))
        return TFirmwareKind::Updater;
    return TFirmwareKind::Container;
}

ABytes HexFileToContainer(const std::filesystem::path& Path)
{
    THexDataFile f;
    f.SetInfo(kFlashLimit, kEepromLimit);
    f.Load(PathUtf8(Path));
    return f.BytesTo();
}

ABytes FirmwareContainer(const std::filesystem::path& Path, TFirmwareKind* Kind)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(Path, ec))
        throw Exception("0x0310");
    const ABytes file = ReadFileBytes(Path);
    const TFirmwareKind kind = DetectFirmwareKind(file);
    if (Kind)
        *Kind = kind;
    switch (kind) {
    case TFirmwareKind::Hex:
        return HexFileToContainer(Path);
    case TFirmwareKind::Updater: {
        ABytes p;
        ReadEmbeddedPackage(Path, p);
        return p;
    }
    case TFirmwareKind::Container:
        break;
    }
    return file;
}
