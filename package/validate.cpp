// The updater's package checks.
#include "package/validate.h"

#include "base/error.h"

TZorelBootLoaderInfo CheckPackageStart(const TZorelBootLoaderHexDataFile& FH)
{
    if (FH.Data().empty())
        throw Exception("0x0303");
    TZorelBootLoaderInfo B = FH.BootLoaderInfo();
    if (FH.CheckSumm() != B.CS)
        throw Exception("0x0304");
    return B;
}

TPackageContents CheckPackage(TZorelBootLoaderHexDataFile& FH, const ABytes& PackageData)
{
    FH.SetInfo(kFlashLimit, kEepromLimit);
    FH.BytesFrom(PackageData);
    TPackageContents r;
    r.B = CheckPackageStart(FH);
    r.FL = FH.GetFlash();
    r.EE = FH.GetEEPROM();
    return r;
}
