// nerid container: Intel HEX to block container.
#include "cli/commands.h"

#include "base/error.h"
#include "base/utf8_path.h"
#include "cli/files.h"
#include "cli/firmware.h"

void AddContainerCommand(CLI::App& app)
{
    auto* cmd = app.add_subcommand("container", "Reads Intel HEX strictly, with the updater's limits (flash 0x10000, "
                                                "EEPROM 0x20000), checks it as the updater checks its package and "
                                                "writes the block container.");
    auto hex = std::make_shared<std::string>();
    auto out = std::make_shared<std::string>();
    auto strict = std::make_shared<bool>(false);
    cmd->add_option("FIRMWARE", *hex, "Intel HEX file (or a block container, checked and copied)")->required();
    cmd->add_option("-o,--output", *out,
                    "block container to write (a regular file, replaced if it exists; a symbolic link's target is "
                    "written)")
        ->required();
    cmd->add_flag("--strict", *strict, "refuse firmware that reading only warns about");
    cmd->callback([hex, out, strict] {
        const std::filesystem::path target = CheckOutput(Utf8Path(*out), {Utf8Path(*hex)});
        const TFirmware fw = ReadFirmware(Utf8Path(*hex));
        if (fw.Kind != TFirmwareKind::Hex && fw.Kind != TFirmwareKind::Container)
            throw Exception(*hex + " is an updater executable, not Intel HEX or a block container: nerid info shows "
                                   "its package");
        TZorelBootLoaderHexDataFile FH;
        CheckFirmware(fw, FH, *strict);
        WriteFileReplacing(target, fw.Container,
                           std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                               std::filesystem::perms::group_read | std::filesystem::perms::others_read);
    });
}
