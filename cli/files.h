// File helpers of the tools: whole-file reads and a replace-by-rename write that never leaves a partial file. Names in
// messages are UTF-8 (base/utf8_path.h).
#pragma once

#include <filesystem>
#include <string>

#include "package/bytes.h"

// The whole file. Raises Exception("cannot read FILE: reason").
ABytes ReadFileBytes(const std::filesystem::path& Path);

// Writes Data to a temporary file in Path's folder, gives it Perms, then renames it over Path. On any failure the
// temporary file is removed and Exception("cannot write FILE: reason") is raised; Path is then untouched.
void WriteFileReplacing(const std::filesystem::path& Path, const ABytes& Data, std::filesystem::perms Perms);
