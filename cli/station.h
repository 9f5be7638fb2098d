// `nerid flash --watch`: a production station that searches its fixtures again and again and programs each board as
// it is plugged in, once per placement, writing a record per board as it happens.
// Runs on the tool's main thread; the window's search and programming workers report to it through the dispatcher.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "package/bootimage.h"

struct TStationOptions {
    std::vector<std::string> ports; // the fixtures; empty: every port discovery lists, read afresh every second
    bool all = false, force = false, json = false;
    bool fast = false;              // the line-rate exchange (nerid flash --fast)
    int count = 0;                  // stop once this many boards are programmed; 0: run until Ctrl-C
    std::string log;                // JSON lines appended here as well; empty: none
};

// Runs the station until Ctrl-C or `count` boards programmed, then prints a summary. Ends with TExitCode: 0 when no
// board failed, 1 when one did, 130 after a second Ctrl-C. Raises Exception when the records file cannot be opened.
// B is the package's header (to classify boards); FL and EE its lines, shared read-only by the workers.
void RunStation(const TStationOptions& o, const TZorelBootLoaderInfo& B,
                std::shared_ptr<const AZorelBootLoaderDataLines> FL,
                std::shared_ptr<const AZorelBootLoaderDataLines> EE);

// Platform parts. Opens the records file (a UTF-8 name, whatever its characters) for appending; null with errno set
// when it cannot. Forces what was written to f onto the disk, so that a record survives a crash of the machine.
std::FILE* OpenForAppending(const std::string& Utf8Path);
void SyncFileToDisk(std::FILE* f);
