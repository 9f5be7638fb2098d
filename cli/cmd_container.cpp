// nerid container: Intel HEX to block container.
#include "cli/commands.h"

#include "base/utf8_path.h"
#include "cli/files.h"
#include "cli/firmware.h"

void AddContainerCommand(CLI::App& app)
{
    auto* cmd = app.add_subcommand("container", "Reads Intel HEX with the updater's limits (flash 0x10000, EEPROM "
                                                "0x20000) and writes the block container.");
    auto hex = std::make_shared<std::string>();
    auto out = std::make_shared<std::string>();
    cmd->add_option("FIRMWARE", *hex, "Intel HEX file")->required();
    cmd->add_option("-o,--output", *out, "block container to write (replaced if it exists)")->required();
    cmd->callback([hex, out] {
        WriteFileReplacing(Utf8Path(*out), HexFileToContainer(Utf8Path(*hex)),
                           std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                               std::filesystem::perms::group_read | std::filesystem::perms::others_read);
    });
}
