// nerid pack: an updater executable = base executable + block container + trailer, after the updater's own checks.
#include "cli/commands.h"

#include "base/error.h"
#include "package/embedded.h"
#include "package/validate.h"
#include "cli/files.h"
#include "cli/firmware.h"

namespace fs = std::filesystem;

namespace {

// The updater executable that ships beside nerid.
fs::path DefaultBase()
{
    const std::string self = OwnExecutablePath();
    // Named like nerid itself: nerid-programmer.exe beside nerid.exe on Windows.
    const fs::path base = fs::path(self).parent_path() / ("nerid-programmer" + fs::path(self).extension().string());
    std::error_code ec;
    if (self.empty() || !fs::is_regular_file(base, ec))
        throw Exception("no updater executable " + base.string() + " beside nerid: pass --base EXE");
    return base;
}

// The base executable, refused unless it is an executable of the kinds an updater is and carries no package yet.
ABytes ReadBase(const fs::path& path)
{
    const ABytes exe = ReadFileBytes(path);
    if (!IsExecutable(exe))
        throw Exception("--base " + path.string() +
                        " is not an executable (ELF or PE): pass the updater executable without a package");
    if (DetectFirmwareKind(exe) == TFirmwareKind::Updater)
        throw Exception("--base " + path.string() +
                        " already carries a firmware package: re-packing an updater is not supported; pass the "
                        "updater executable without a package");
    return exe;
}

} // namespace

void AddPackCommand(CLI::App& app)
{
    auto* cmd = app.add_subcommand(
        "pack", "Makes an updater: a copy of the base executable followed by the firmware package and its trailer. "
                "Reads Intel HEX strictly and refuses firmware the updater would refuse, saying what is wrong.");
    auto firmware = std::make_shared<std::string>();
    auto out = std::make_shared<std::string>();
    auto base = std::make_shared<std::string>();
    auto strict = std::make_shared<bool>(false);
    cmd->add_option("FIRMWARE", *firmware, "Intel HEX file or block container")->required();
    cmd->add_option("-o,--output", *out,
                    "updater executable to write (a regular file, replaced if it exists; a symbolic link's target is "
                    "written)")
        ->required();
    cmd->add_option("--base", *base,
                    "updater executable without a package, ELF or PE (default: nerid-programmer beside nerid)");
    cmd->add_flag("--strict", *strict, "refuse firmware that reading only warns about");
    cmd->callback([firmware, out, base, strict] {
        const fs::path basePath = base->empty() ? DefaultBase() : fs::path(*base);
        const fs::path target = CheckOutput(*out, {*firmware, basePath});
        const TFirmware fw = ReadFirmware(*firmware);
        TZorelBootLoaderHexDataFile FH;
        CheckFirmware(fw, FH, *strict);
        const ABytes& container = fw.Container;
        if (container.size() > 0xFFFFFFFFu)
            throw Exception("the firmware package is larger than 4 GiB");
        ABytes exe = ReadBase(basePath);
        exe.insert(exe.end(), container.begin(), container.end());
        const ABytes trailer = PackageTrailer(static_cast<std::uint32_t>(container.size()));
        exe.insert(exe.end(), trailer.begin(), trailer.end());
        WriteFileReplacing(target, exe, fs::status(basePath).permissions() & fs::perms::all);
    });
}
