// The numbered UI texts (ids 1..18) in Russian and English, the language value and its choice from a device name.
// All texts are UTF-8. LangText may be called from any thread: Lang is written once at start, before any worker runs.
#pragma once

#include <cstdint>
#include <string>

// 0 = Russian, 1 = English; any other value makes every lookup empty. Starts at 0.
extern std::int32_t Lang;

// UI text Id in the current language; empty for an Id outside 1..18 or an unknown Lang.
std::string LangText(std::int32_t Id);

// The line for a port this user may not open (Linux: the device node's group is not one of the user's), in the current
// language: what is wrong and what to do. Empty for an unknown Lang.
std::string NoAccessText(const std::string& Port, const std::string& Group);

// 1 (English) when the raw 8-bit name has at least as many Latin letters as cp1251 Cyrillic letters, else 0 (Russian).
std::int32_t ChooseLang(const std::string& Name);

// S followed by blanks: always at least one, until the length in characters (UTF-8 code points) exceeds Width.
std::string PadText(const std::string& S, std::int32_t Width);
