// nerid pack: an updater executable = base executable + block container + trailer, after the updater's own checks.
#include "cli/commands.h"

#include <iostream>

#include "base/error.h"
#include "base/utf8_path.h"
#include "package/embedded.h"
#include "package/pe.h"
#include "package/validate.h"
#include "cli/files.h"
#include "cli/firmware.h"

namespace fs = std::filesystem;

namespace {

// The platform an updater is made for: the base's file name and executable kind.
struct TTarget {
    const char* Name;     // as --target takes it
    const char* BaseName; // the updater executable without a package
    TExecutableKind Kind;
};
constexpr TTarget kLinux{"linux", "nerid-programmer", TExecutableKind::Elf};
constexpr TTarget kWindows{"windows", "nerid-programmer.exe", TExecutableKind::Pe};

const TTarget& TargetNamed(const std::string& name)
{
    if (name == kWindows.Name)
        return kWindows;
    if (name == kLinux.Name)
        return kLinux;
#ifdef _WIN32
    return kWindows;
#else
    return kLinux;
#endif
}

// The base of Target that ships with nerid: beside nerid (a build, or the Windows zip), then under ../share/nerid
// relative to nerid (where the Linux package installs the Windows base, and so wherever that package is unpacked).
// Found through the own file's real, wide-character path, so that a folder of any name works.
fs::path DefaultBase(const TTarget& Target)
{
    std::error_code ec;
    const fs::path self = fs::canonical(OwnExecutableFile(), ec);
    const fs::path dir = self.parent_path();
    const fs::path candidates[] = {dir / Target.BaseName, dir.parent_path() / "share" / "nerid" / Target.BaseName};
    if (!self.empty())
        for (const fs::path& c : candidates)
            if (fs::is_regular_file(c, ec))
                return c;
    throw Exception(std::string("no updater executable for ") + Target.Name + " (looked for " +
                    PathUtf8(candidates[0]) + " and " + PathUtf8(candidates[1]) + "): pass --base EXE");
}

// The base executable without any package: refused unless it is an executable (of Target's kind, when one is
// named). An updater given as the base (signed or not) is cut back to the executable it was made from, so that an
// updater never carries two packages and packing the same firmware again gives the same bytes. A signature is taken
// off: it could not cover the appended package. Says in one line what was taken off.
ABytes ReadBase(const fs::path& path, const TTarget* Target)
{
    ABytes exe = ReadFileBytes(path);
    const TExecutableKind kind = ExecutableKind(exe);
    if (kind == TExecutableKind::None)
        throw Exception("--base " + PathUtf8(path) +
                        " is not an executable (ELF or PE): pass the updater executable without a package");
    if (Target && kind != Target->Kind)
        throw Exception("--base " + PathUtf8(path) + " is " +
                        (kind == TExecutableKind::Pe ? "a Windows" : "a Linux") + " executable, not one for " +
                        Target->Name + ": pass the matching --base or --target");
    if (DetectFirmwareKind(exe) == TFirmwareKind::Updater) {
        const auto tail = FindPackageTail(BytesReader(exe), exe.size());
        if (!tail)
            throw Exception("--base " + PathUtf8(path) +
                            " ends with a damaged firmware package (its trailer's length does not fit the file): "
                            "pass the updater executable without a package");
        StripPeCertificateTable(exe); // a signed updater: clears the directory entry too
        exe.resize(static_cast<std::size_t>(tail->Offset));
        std::cout << "replaced the firmware package that " << PathUtf8(path) << " carried\n";
    } else if (StripPeCertificateTable(exe)) {
        std::cout << "removed the signature of " << PathUtf8(path)
                  << " (it cannot cover the appended package): sign the updater itself\n";
    }
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
    auto target = std::make_shared<std::string>();
    cmd->add_option("FIRMWARE", *firmware, "Intel HEX file or block container")->required();
    cmd->add_option("-o,--output", *out,
                    "updater executable to write (a regular file, replaced if it exists; a symbolic link's target is "
                    "written)")
        ->required();
    cmd->add_option("--target", *target,
                    "the platform of the updater: its base is nerid-programmer (linux) or nerid-programmer.exe "
                    "(windows) beside nerid, else in ../share/nerid (default: the platform nerid runs on)")
        ->check(CLI::IsMember({kLinux.Name, kWindows.Name}));
    cmd->add_option("--base", *base,
                    "updater executable, ELF or PE, wins over --target's; an updater's own package is replaced");
    cmd->add_flag("--strict", *strict, "refuse firmware that reading only warns about");
    cmd->callback([firmware, out, base, strict, target] {
        // --base alone is taken for whatever platform it is built for.
        const TTarget* t = target->empty() && !base->empty() ? nullptr : &TargetNamed(*target);
        const fs::path basePath = base->empty() ? DefaultBase(*t) : Utf8Path(*base);
        const fs::path output = CheckOutput(Utf8Path(*out), {Utf8Path(*firmware), basePath});
        const TFirmware fw = ReadFirmware(Utf8Path(*firmware));
        TZorelBootLoaderHexDataFile FH;
        CheckFirmware(fw, FH, *strict);
        const ABytes& container = fw.Container;
        if (container.size() > 0xFFFFFFFFu)
            throw Exception("the firmware package is larger than 4 GiB");
        ABytes exe = ReadBase(basePath, t);
        exe.insert(exe.end(), container.begin(), container.end());
        const ABytes trailer = PackageTrailer(static_cast<std::uint32_t>(container.size()));
        exe.insert(exe.end(), trailer.begin(), trailer.end());
        WriteFileReplacing(output, exe, fs::status(basePath).permissions() & fs::perms::all);
    });
}
