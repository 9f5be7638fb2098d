// nerid info: the header, checksums, blocks and line counts of an updater, a block container or Intel HEX.
#include "cli/commands.h"

#include <iostream>

#include <nlohmann/json.hpp>

#include "base/cp1251.h"
#include "base/error.h"
#include "base/utf8_path.h"
#include "base/format.h"
#include "package/validate.h"
#include "cli/firmware.h"

namespace {

struct TInfo {
    TZorelBootLoaderInfo B;
    std::uint16_t Computed = 0;
    ADataBlocks Blocks;
    std::size_t FlashLines = 0;
    std::size_t EepromLines = 0;
};

// Version the way the window's caption writes it: major in hex, minor as two hex digits.
std::string VersionText(std::uint16_t vp) { return Format("%x.%.2x", vp >> 8, vp & 0xFF); }

// The header's date word (low byte year, high byte month, BCD) as an ISO 8601 year and month, "2024-06"; empty when
// the word holds no BCD date.
std::string HeaderDate(std::uint16_t dt)
{
    const unsigned y = dt & 0xFF, m = dt >> 8;
    auto bcd = [](unsigned b) { return (b >> 4) < 10 && (b & 0x0F) < 10; };
    if (!bcd(y) || !bcd(m) || m == 0 || m > 0x12)
        return {};
    return Format("20%.2X-%.2X", y, m);
}

void PrintJson(const TInfo& s)
{
    nlohmann::ordered_json blocks = nlohmann::ordered_json::array();
    for (const TDataBlock& b : s.Blocks)
        blocks.push_back({{"address", b.A}, {"offset", b.I}, {"length", b.L}});
    const nlohmann::ordered_json j = {{"name", Cp1251ToUtf8(s.B.TX)},
                              {"version", VersionText(s.B.VP)},
                              {"type", s.B.TD},
                              {"variant", s.B.IP},
                              {"revision", s.B.IZ},
                              {"date", HeaderDate(s.B.DT).empty() ? nlohmann::ordered_json()
                                                                  : nlohmann::ordered_json(HeaderDate(s.B.DT))},
                              {"date_word", s.B.DT},
                              {"end", s.B.EP},
                              {"checksum", s.B.CS},
                              {"checksum_computed", s.Computed},
                              {"checksum_ok", s.Computed == s.B.CS},
                              {"flash_lines", s.FlashLines},
                              {"eeprom_lines", s.EepromLines},
                              {"blocks", blocks}};
    std::cout << j.dump(2) << "\n";
}

void PrintText(const TInfo& s)
{
    std::cout << "name:          " << Cp1251ToUtf8(s.B.TX) << "\n"
              << "version:       " << VersionText(s.B.VP) << "\n"
              << Format("type:          %u\n", s.B.TD) << Format("variant:       %u\n", s.B.IP)
              << Format("revision:      %u\n", s.B.IZ)
              << Format("date:          %s (word 0x%.4X)\n",
                        HeaderDate(s.B.DT).empty() ? "not a BCD date" : HeaderDate(s.B.DT).c_str(), s.B.DT)
              << Format("end:           0x%.4X (word address)\n", s.B.EP)
              << Format("checksum:      0x%.4X stored, 0x%.4X computed (%s)\n", s.B.CS, s.Computed,
                        s.Computed == s.B.CS ? "ok" : "differs")
              << Format("blocks:        %zu\n", s.Blocks.size());
    for (std::size_t k = 0; k < s.Blocks.size(); ++k)
        std::cout << Format("  %zu: address 0x%.8X, offset 0x%.8X, length 0x%.8X (%u bytes)\n", k, s.Blocks[k].A,
                            s.Blocks[k].I, s.Blocks[k].L, s.Blocks[k].L);
    std::cout << "flash lines:   " << s.FlashLines << "\n"
              << "eeprom lines:  " << s.EepromLines << "\n";
}

} // namespace

void AddInfoCommand(CLI::App& app)
{
    auto* cmd = app.add_subcommand("info", "Shows the firmware header, the stored and computed checksum, the blocks "
                                           "and the number of flash and EEPROM lines of an updater, a block "
                                           "container or Intel HEX; a package the updater would refuse prints its "
                                           "code text and exits with 1.");
    auto file = std::make_shared<std::string>();
    auto json = std::make_shared<bool>(false);
    auto strict = std::make_shared<bool>(false);
    cmd->add_option("FILE", *file, "updater executable, block container or Intel HEX file")->required();
    cmd->add_flag("--json", *json, "print one JSON object");
    cmd->add_flag("--strict", *strict, "refuse firmware that reading only warns about");
    cmd->callback([file, json, strict] {
        const TFirmware fw = ReadFirmware(Utf8Path(*file));
        TZorelBootLoaderHexDataFile FH;
        TInfo s;
        std::string failure;
        try {
            const TPackageContents c = CheckFirmware(fw, FH, *strict);
            s.B = c.B;
            s.FlashLines = c.FL.size();
            s.EepromLines = c.EE.size();
        } catch (const Exception& e) {
            // A checksum that differs still leaves a readable package: show it, then fail with the refusal.
            if (std::string(e.what()).rfind("0x0304:", 0) != 0)
                throw;
            failure = e.what();
            s.B = FH.BootLoaderInfo();
            try {
                s.FlashLines = FH.GetFlash().size();
                s.EepromLines = FH.GetEEPROM().size();
            } catch (const Exception&) {
                throw Exception(failure); // the first failure is the one the updater reports
            }
        }
        s.Computed = FH.CheckSumm();
        s.Blocks = FH.Blocks();
        if (*json)
            PrintJson(s);
        else
            PrintText(s);
        if (!failure.empty()) {
            std::cout.flush(); // stdout already has its one document
            std::cerr << failure << "\n";
            throw TExitCode{1};
        }
    });
}
