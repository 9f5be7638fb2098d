// Device memory maps from package lines and from simulator dumps.
#include "cli/memory_map.h"

#include "package/hex.h"

#include <nlohmann/json.hpp>

#include <string>

TMemory LinesMemory(const AZorelBootLoaderDataLines& lines)
{
    TMemory m;
    for (const TZorelBootLoaderDataLine& l : lines)
        for (std::size_t k = 0; k < l.D.size(); ++k)
            m[l.A + static_cast<std::uint32_t>(k)] = l.D[k];
    return m;
}

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
