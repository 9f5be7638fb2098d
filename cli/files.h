// File helpers of the tools: whole-file reads, the check of an output name before anything is made, and a
// replace-by-rename write that never leaves a partial file and never replaces anything but a regular file. Names in
// messages are UTF-8 (base/utf8_path.h).
#pragma once

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "package/bytes.h"

// The whole file; only a regular file is read (a FIFO or device is refused, not waited on). Raises
// Exception("cannot read FILE: reason").
ABytes ReadFileBytes(const std::filesystem::path& Path);

// The file an output name stands for: the name itself, or, for a symbolic link, the file at the end of its chain of
// links. Refuses (Exception "cannot write NAME: reason") an output that exists and is not a regular file (folder,
// device, FIFO, socket), whose folder does not exist, whose name is too long, or that is one of Inputs (the same
// file under any name). Writes nothing.
std::filesystem::path CheckOutput(const std::filesystem::path& Output, const std::vector<std::filesystem::path>& Inputs);

// Writes Data to a temporary file in Path's folder, gives it Perms, then renames it over Path. Pass the result of
// CheckOutput. On any failure the temporary file is removed and Exception("cannot write FILE: reason") is raised;
// Path is then untouched.
void WriteFileReplacing(const std::filesystem::path& Path, const ABytes& Data, std::filesystem::perms Perms);

// A system error in words for a file operation: "no such folder", "permission denied", "the disk is full", ...
std::string FileErrorText(const std::error_code& ec);
