// printf-style formatting into a std::string (the toolchain's libstdc++ has no std::format).
#pragma once

#include <cstdarg>
#include <string>

#if defined(__MINGW_PRINTF_FORMAT)
// mingw-w64: the C runtime's own checks (ms_printf) unless its C99 printf is in use, as with libstdc++.
#define NERID_PRINTF(fmt, args) __attribute__((format(__MINGW_PRINTF_FORMAT, fmt, args)))
#elif defined(__GNUC__)
#define NERID_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define NERID_PRINTF(fmt, args)
#endif

// Formats like snprintf; never truncates.
std::string Format(const char* fmt, ...) NERID_PRINTF(1, 2);
std::string FormatV(const char* fmt, va_list args);
