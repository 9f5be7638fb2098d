// Test helper for Windows programs: whether they run under wine, which does not enforce exclusive opens, has no
// ports in its device tree and words system messages its own way; such checks are Windows-only.
#pragma once

#include "serial/win32/win32_api.h"

#include <cstdlib>
#include <string>

inline bool UnderWine()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// The COM port dev/wine/with_com_port.py connected for this program, or "".
inline std::string MappedComPort()
{
    const char* p = std::getenv("NERID_TEST_COM_PORT");
    return p ? p : "";
}
