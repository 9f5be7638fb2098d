// nerid verify: compares what simulated devices hold (a `nerid sim --dump` file) with a package's flash and EEPROM
// lines, so a demo or a vendor's test line can tell that an update really landed.
#include "cli/commands.h"

#include <fstream>
#include <iostream>

#include <nlohmann/json.hpp>

#include "base/error.h"
#include "base/format.h"
#include "base/utf8_path.h"
#include "package/validate.h"
#include "cli/firmware.h"
#include "cli/memory_map.h"

namespace {

void Verify(const std::string& dumpPath, const std::string& packagePath, bool json)
{
    TZorelBootLoaderHexDataFile fh;
    const TPackageContents pkg = CheckPackage(fh, FirmwareContainer(Utf8Path(packagePath)));
    const TMemory flash = LinesMemory(pkg.FL);
    const TMemory eeprom = LinesMemory(pkg.EE);

    std::ifstream f(Utf8Path(dumpPath));
    if (!f)
        throw Exception("cannot read " + dumpPath);
    nlohmann::json dump;
    try {
        dump = nlohmann::json::parse(f);
    } catch (const std::exception& e) {
        throw Exception(dumpPath + " is not a simulator dump: " + e.what());
    }
    bool all = true;
    nlohmann::ordered_json out = nlohmann::ordered_json::array();
    try {
        for (const auto& d : dump.at("devices")) {
            const bool holds = DumpMemory(d.at("flash"), "address") == flash &&
                               DumpMemory(d.at("eeprom"), "offset") == eeprom;
            all = all && holds;
            const int resets = d.at("resets").get<int>();
            const int lines = d.at("lines_written").get<int>();
            if (json)
                out.push_back({{"path", d.at("path")}, {"holds_firmware", holds}, {"resets", resets},
                               {"lines_written", lines}});
            else
                std::cout << Format("%s: %s (%d lines written, %d resets)\n",
                                    d.at("path").get<std::string>().c_str(),
                                    holds ? "holds the firmware" : "does not hold the firmware", lines, resets);
        }
    } catch (const nlohmann::json::exception& e) {
        throw Exception(dumpPath + " is not a simulator dump: " + e.what());
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
    cmd->add_flag("--json", *json, "one JSON object per device: path, holds_firmware, resets, lines_written");
    cmd->callback([=] { Verify(*dump, *package, *json); });
}
