// The checks the updater makes on its package, at start (container, data, header, checksum) and before programming
// (flash and EEPROM lines), in one place so that the tools refuse exactly what the updater would refuse.
#pragma once

#include <cstdint>

#include "package/bootimage.h"

// The bounds the updater gives the package: blocks below kFlashLimit are flash, above it EEPROM; Intel HEX data
// above kEepromLimit is dropped.
constexpr std::uint32_t kFlashLimit = 0x10000;
constexpr std::uint32_t kEepromLimit = 0x20000;

struct TPackageContents {
    TZorelBootLoaderInfo B;
    AZorelBootLoaderDataLines FL;
    AZorelBootLoaderDataLines EE;
};

// Start-up checks on FH, which already holds the container: "0x0303" empty data area, "0x0306" no usable header,
// "0x0304" checksum differs from the header's. Returns the header.
TZorelBootLoaderInfo CheckPackageStart(const TZorelBootLoaderHexDataFile& FH);

// All checks, in the updater's order, on a package as read from an updater's tail: FH gets the limits and the
// container ("0x0301", "0x0302"), then the start-up checks, then the line cuts ("0x0307", "0x0311", "0x0312",
// "0x0314"). Raises the first failure's code text.
TPackageContents CheckPackage(TZorelBootLoaderHexDataFile& FH, const ABytes& PackageData);
