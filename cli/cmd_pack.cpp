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

// The updater executable that ships beside nerid. Found through the own file's wide-character path on Windows
// (not the ANSI or 8.3 form), so that a folder of any name works.
fs::path DefaultBase()
{
    std::error_code ec;
    const fs::path self = fs::canonical(OwnExecutableFile(), ec);
    // Named like nerid itself: nerid-programmer.exe beside nerid.exe on Windows.
    fs::path base = self.parent_path() / "nerid-programmer";
    base += self.extension();
    if (self.empty() || !fs::is_regular_file(base, ec))
        throw Exception("no updater executable " + PathUtf8(base) + " beside nerid: pass --base EXE");
    return base;
}

} // namespace

void AddPackCommand(CLI::App& app)
{
    auto* cmd = app.add_subcommand(
        "pack", "Makes an updater: a copy of the base executable followed by the firmware package and its trailer. "
                "Refuses firmware the updater would refuse, printing the updater's code text.");
    auto firmware = std::make_shared<std::string>();
    auto out = std::make_shared<std::string>();
    auto base = std::make_shared<std::string>();
    cmd->add_option("FIRMWARE", *firmware, "Intel HEX file or block container")->required();
    cmd->add_option("-o,--output", *out, "updater executable to write (replaced if it exists)")->required();
    cmd->add_option("--base", *base, "updater executable without a package (default: nerid-programmer beside nerid)");
    cmd->callback([firmware, out, base] {
        const ABytes container = FirmwareContainer(Utf8Path(*firmware));
        TZorelBootLoaderHexDataFile FH;
        CheckPackage(FH, container);
        if (container.size() > 0xFFFFFFFFu)
            throw Exception("firmware package too large");
        const fs::path basePath = base->empty() ? DefaultBase() : Utf8Path(*base);
        ABytes exe = ReadFileBytes(basePath);
        // A signature covers the file as it is: appending the package would break it. The vendor signs the updater.
        if (StripPeCertificateTable(exe))
            std::cout << "removed the signature of " << PathUtf8(basePath)
                      << " (it cannot cover the appended package): sign the updater itself\n";
        exe.insert(exe.end(), container.begin(), container.end());
        const ABytes trailer = PackageTrailer(static_cast<std::uint32_t>(container.size()));
        exe.insert(exe.end(), trailer.begin(), trailer.end());
        WriteFileReplacing(Utf8Path(*out), exe, fs::status(basePath).permissions() & fs::perms::all);
    });
}
