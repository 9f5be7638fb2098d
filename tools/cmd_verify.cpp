// nerid verify: compares what simulated devices hold (a `nerid sim --dump` file) with a package's flash and EEPROM
// lines, so a demo or a vendor's test line can tell that an update really landed.
#include "tools/commands.h"

#include <fstream>
#include <iostream>
#include <map>

#include <nlohmann/json.hpp>

#include "app/texts/error.h"
#include "app/texts/format.h"
#include "package/hex.h"
#include "package/validate.h"
#include "tools/firmware.h"

namespace {

using TMemory = std::map<std::uint32_t, std::uint8_t>;

TMemory LinesMemory(const AZorelBootLoaderDataLines& lines)
{
    TMemory m;
    for (const TZorelBootLoaderDataLine& l : lines)
        for (std::size_t k = 0; k < l.D.size(); ++k)
            m[l.A + static_cast<std::uint32_t>(k)] = l.D[k];
    return m;
}

// The dump's runs of programmed bytes: [{KEY: start, "data": "HEX"}].
TMemory DumpMemory(const nlohmann::json& runs, const char* key)
{
    TMemory m;
    for (const auto& r : runs) {
        const std::uint32_t start = r.at(key).get<std::uint32_t>();
        const ABytes data = HexToBytes(r.at("data").get<std::string>());
        for (std::size_t k = 0; k < data.size(); ++k)
            m[start + static_cast<std::uint32_t>(k)] = data[k];
    }
    return m;
}

void Verify(const std::string& dumpPath, const std::string& packagePath, bool json)
{
    TZorelBootLoaderHexDataFile fh;
    const TPackageContents pkg = CheckPackage(fh, FirmwareContainer(packagePath));
    const TMemory flash = LinesMemory(pkg.FL);
    const TMemory eeprom = LinesMemory(pkg.EE);

    std::ifstream f(dumpPath);
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
