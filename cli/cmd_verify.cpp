// nerid verify: compares what simulated devices hold (a `nerid sim --dump` file) with a package's flash and EEPROM
// lines, so a demo or a vendor's test line can tell that an update really landed.
#include "cli/commands.h"

#include <iostream>

#include <nlohmann/json.hpp>

#include "base/error.h"
#include "base/utf8_path.h"
#include "base/format.h"
#include "package/validate.h"
#include "cli/files.h"
#include "cli/firmware.h"
#include "cli/headless.h"
#include "cli/memory_map.h"

namespace {

void Verify(const std::string& dumpPath, const std::string& packagePath, bool json)
{
    TZorelBootLoaderHexDataFile fh;
    const TPackageContents pkg = CheckFirmware(ReadFirmware(Utf8Path(packagePath)), fh, false);
    const TMemory flash = LinesMemory(pkg.FL);
    const TMemory eeprom = LinesMemory(pkg.EE);

    const ABytes text = ReadFileBytes(Utf8Path(dumpPath));
    const nlohmann::json dump = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
    const std::string notADump = dumpPath + " is not a simulator dump (nerid sim --dump writes one)";
    if (dump.is_discarded() || !dump.is_object() || !dump.contains("devices") || !dump["devices"].is_array())
        throw Exception(notADump);
    if (dump["devices"].empty())
        throw Exception(dumpPath + " holds no device: was the simulator started with --count 0, or the dump taken "
                                   "from another run?");
    bool all = true;
    nlohmann::ordered_json out = nlohmann::ordered_json::array();
    try {
        for (const auto& d : dump["devices"]) {
            const bool holds = DumpMemory(d.at("flash"), "address") == flash &&
                               DumpMemory(d.at("eeprom"), "offset") == eeprom;
            all = all && holds;
            const int resets = d.at("resets").get<int>();
            const int lines = d.at("lines_written").get<int>();
            const std::string port = d.at("path").get<std::string>();
            if (json)
                out.push_back({{"port", port}, {"holds_firmware", holds}, {"resets", resets},
                               {"lines_written", lines}});
            else
                std::cout << Format("%s: %s (%s written, %s)\n", port.c_str(),
                                    holds ? "holds the firmware" : "does not hold the firmware",
                                    Plural(lines, "line", "lines").c_str(), Plural(resets, "reset", "resets").c_str());
        }
    } catch (const nlohmann::json::exception&) {
        throw Exception(notADump);
    } catch (const Exception&) { // a run whose data is not hexadecimal
        throw Exception(notADump);
    }
    if (json)
        std::cout << out.dump(2) << "\n";
    if (!all)
        throw TExitCode{1};
}

} // namespace

void AddVerifyCommand(CLI::App& app)
{
    auto* cmd = app.add_subcommand(
        "verify", "Compares the memory of simulated devices (a `nerid sim --dump` file) with a package's flash and "
                  "EEPROM lines. Exit code 0 only when every device holds the whole package.");
    auto dump = std::make_shared<std::string>();
    auto package = std::make_shared<std::string>();
    auto json = std::make_shared<bool>(false);
    cmd->add_option("DUMP", *dump, "the simulator's --dump file")->required();
    cmd->add_option("PACKAGE", *package, "updater executable, block container or Intel HEX file")->required();
    cmd->add_flag("--json", *json, "print a JSON list, one object per device: port, holds_firmware, resets, lines_written");
    cmd->callback([=] { Verify(*dump, *package, *json); });
}
