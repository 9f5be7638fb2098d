// nerid search: asks every port (or the given ones) at once for a bootloader identity, with the window's workers.
#include "cli/commands.h"

#include <iostream>

#include "base/error.h"
#include "base/format.h"
#include "base/texts.h"
#include "cli/headless.h"

namespace {

void PrintText(const std::vector<TPortSearch>& results)
{
    for (const TPortSearch& r : results) {
        if (!r.Ok) {
            std::cout << r.Port << ": " << r.Error << "\n";
            continue;
        }
        const TZorelBootLoaderDevID& d = r.DevID;
        std::cout << r.Port << ": \"" << NameText(d.dName) << "\" v." << VersionText(d.dVerProg)
                  << Format(", ID %.8llX, type %u, variant %u, revision %u, checksum 0x%.4X, date %s",
                            static_cast<unsigned long long>(d.dID), d.dBootTypeP, d.dIspolnenieP, d.dPlateIzmP,
                            d.dCSProg, d.dDateProg.DateText().c_str())
                  << Format("; bootloader v.%s, type 0x%.4X\n", VersionText(d.dBootVersion).c_str(), d.dBootType);
    }
}

} // namespace

void AddSearchCommand(CLI::App& app)
{
    auto* cmd = app.add_subcommand("search", "Asks every port discovery lists (or each --port) at once for a device "
                                             "bootloader's identity, as the updater's search does. Exit code 0 when "
                                             "a device answered, 1 otherwise.");
    auto ports = std::make_shared<std::vector<std::string>>();
    auto json = std::make_shared<bool>(false);
    cmd->add_option("--port", *ports, "port to ask (repeatable); default: every port discovery lists");
    cmd->add_flag("--json", *json,
                  "print a JSON list, one object per port: port, ok, error and, for a device, name, version, "
                  "boot_version, boot_type, type, variant, revision, id, checksum, date");
    cmd->callback([ports, json] {
        Lang = 1;
        InstallInterruptHandler();
        const std::vector<TPortSearch> results = SearchPorts(PortsToUse(*ports));
        bool any = false;
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const TPortSearch& r : results) {
            any = any || r.Ok;
            nlohmann::ordered_json j = {{"port", r.Port}, {"ok", r.Ok}, {"error", r.Error}};
            if (r.Ok)
                j.update(DevIDJson(r.DevID));
            list.push_back(j);
        }
        if (*json)
            std::cout << list.dump(2) << "\n";
        else if (results.empty())
            std::cout << "no port to search\n";
        else
            PrintText(results);
        std::cout.flush();
        if (!any) {
            std::cerr << "no device answered\n"; // stdout already has its one document
            throw TExitCode{1};
        }
    });
}
