// Fuzz target: the bootloader image view (header, checksum, lines) and the updater's package checks.
#include <cstdint>
#include <cstdlib>

#include "base/error.h"
#include "package/validate.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const ABytes d(data, data + size);
    TZorelBootLoaderHexDataFile FH;
    try {
        const TPackageContents c = CheckPackage(FH, d);
        for (const auto& line : c.FL)
            if (line.D.size() != 64)
                std::abort();
        for (const auto& line : c.EE)
            if (line.D.empty() || line.D.size() > 32 || line.A > 255)
                std::abort();
    } catch (const Exception&) {
    }
    // each view on its own, whatever the checks before it said
    try {
        (void)FH.BootLoaderInfo();
        (void)FH.CheckSumm();
    } catch (const Exception&) {
    }
    try {
        for (const auto& line : FH.GetFlash())
            (void)line.ToString();
    } catch (const Exception&) {
    }
    try {
        (void)FH.GetEEPROM();
    } catch (const Exception&) {
    }
    return 0;
}
