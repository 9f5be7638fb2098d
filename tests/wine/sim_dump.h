// Test helper: what a simulated device holds, from the JSON dump `nerid sim --dump FILE` writes (each memory as
// runs of bytes in hex), as address -> byte maps.
#pragma once

#include "package/bytes.h"

#include <cstdint>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

struct TSimMemory {
    std::map<std::uint32_t, std::uint8_t> Flash, Eeprom;
    int Resets = 0;
    int LinesWritten = 0;
};

// Device Index of the dump in File; throws when the file is missing or not a dump.
inline TSimMemory ReadSimDump(const std::string& File, std::size_t Index = 0)
{
    std::ifstream in(File, std::ios::binary);
    const nlohmann::json dump = nlohmann::json::parse(in);
    const nlohmann::json& d = dump.at("devices").at(Index);
    TSimMemory m;
    m.Resets = d.at("resets").get<int>();
    m.LinesWritten = d.at("lines_written").get<int>();
    const auto fill = [](const nlohmann::json& runs, const char* key, std::map<std::uint32_t, std::uint8_t>& mem) {
        for (const nlohmann::json& r : runs) {
            std::uint32_t at = r.at(key).get<std::uint32_t>();
            const std::string hex = r.at("data").get<std::string>();
            for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
                mem[at++] = static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16));
        }
    };
    fill(d.at("flash"), "address", m.Flash);
    fill(d.at("eeprom"), "offset", m.Eeprom);
    return m;
}
