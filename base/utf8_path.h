// File names as UTF-8 text: the one form in which the programs pass names around, on every platform. On Windows a
// std::filesystem::path made from a narrow string reads it in the ANSI code page and path::string() writes that
// code page (or throws); these two convert through UTF-8 instead, so that any character survives. Pure. On POSIX
// the bytes pass unchanged; on Windows invalid UTF-8 raises std::filesystem::filesystem_error.
#pragma once

#include <filesystem>
#include <string>

std::filesystem::path Utf8Path(const std::string& Utf8);
std::string PathUtf8(const std::filesystem::path& Path);
