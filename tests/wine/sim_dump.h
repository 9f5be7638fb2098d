// Test helpers for Windows programs against a native `nerid sim` behind a mapped COM port: waiting for the bridge,
// and what a simulated device holds, from the JSON dump `nerid sim --dump FILE` writes, as address -> byte maps.
#pragma once

#include "timing/timing.h"
#include "cli/memory_map.h"

#include <windows.h>

#include <cstdint>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

// Waits until file exists (the bridge to the simulator creates its ready file once it runs), at most ms.
inline bool WaitForFile(const std::string& file, double ms)
{
    const double end = NowMs() + ms;
    while (NowMs() < end) {
        if (GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES)
            return true;
        SleepMs(20);
    }
    return false;
}

struct TSimMemory {
    TMemory Flash, Eeprom;
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
    m.Flash = DumpMemory(d.at("flash"), "address");
    m.Eeprom = DumpMemory(d.at("eeprom"), "offset");
    return m;
}
