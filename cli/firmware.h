// Firmware input of the tools: an updater (read through its trailer), a block container or Intel HEX text.
#pragma once

#include <filesystem>
#include <string>

#include "package/bytes.h"

enum class TFirmwareKind { Hex, Updater, Container };

// Intel HEX when the file is text that starts with a record mark; an updater when its last 8 bytes start with the
// package magic; a block container otherwise.
TFirmwareKind DetectFirmwareKind(const ABytes& File);

// The block container a firmware file stands for: Intel HEX read with the updater's limits, an updater's payload,
// or the file itself. Raises "0x0310" (and the reader's texts) like the updater's own readers.
ABytes FirmwareContainer(const std::filesystem::path& Path, TFirmwareKind* Kind = nullptr);

// Intel HEX file to container, with the updater's flash and EEPROM limits.
ABytes HexFileToContainer(const std::filesystem::path& Path);
