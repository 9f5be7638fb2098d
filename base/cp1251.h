// Code page 1251 (the firmware's 8-bit device names) to UTF-8 for display; the same table on every platform.
#pragma once

#include <string>

// Converts raw cp1251 bytes to UTF-8. The one undefined byte (0x98) becomes U+FFFD.
std::string Cp1251ToUtf8(const std::string& raw);
// The reverse, for tools that take a name from the command line: characters outside cp1251 become '?'.
std::string Utf8ToCp1251(const std::string& utf8);
