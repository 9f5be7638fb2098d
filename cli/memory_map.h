// Device memory as address -> byte maps, to compare what a package's lines put where with what a simulator dump
// (`nerid sim --dump`) says a device holds. Used by `nerid verify`, the benchmark and the tests.
#pragma once

#include "package/bootimage.h"

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <map>

using TMemory = std::map<std::uint32_t, std::uint8_t>;

// What the lines write: line address (flash byte address or EEPROM offset) plus position -> byte.
TMemory LinesMemory(const AZorelBootLoaderDataLines& lines);

// A dump's runs of programmed bytes, [{KEY: start, "data": "HEX"}], KEY "address" (flash) or "offset" (EEPROM).
// Throws nlohmann::json::exception when a run lacks either field.
TMemory DumpMemory(const nlohmann::json& runs, const char* key);
