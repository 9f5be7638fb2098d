// The Windows API for the serial backend. The port layer declares its own DCB, COMMTIMEOUTS, COMSTAT, COMMPROP and
// COMMCONFIG records, so <windows.h> is included with its records of those names renamed to Win32DCB etc.;
// include this header before any project header in a serial/win32 file. Also: UTF-8 <-> UTF-16 at the API edge.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#define DCB Win32DCB
#define COMMTIMEOUTS Win32COMMTIMEOUTS
#define COMSTAT Win32COMSTAT
#define COMMPROP Win32COMMPROP
#define COMMCONFIG Win32COMMCONFIG
#include <windows.h>
#undef DCB
#undef COMMTIMEOUTS
#undef COMSTAT
#undef COMMPROP
#undef COMMCONFIG
#undef MAXDWORD  // the port layer has its own constant of that name

#include <string>

// UTF-8 text (the project's) as UTF-16 (the API's), and back. Invalid sequences become U+FFFD.
inline std::wstring Widen(const std::string& s)
{
    if (s.empty())
        return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

inline std::string Narrow(const std::wstring& w)
{
    if (w.empty())
        return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}
