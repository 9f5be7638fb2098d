// The exchange log: one text file per port and day in the folder "Log" beside the executable, one entry per
// exchange. Each call opens, appends and closes; no handle is kept. Safe from any thread as long as two threads do
// not write the same file (each port has its own file, and a port opens exclusively).
#pragma once

#include "package/bytes.h"

#include <cstdint>
#include <string>

// Appends pText and a CR LF line end to pFileName (created when missing), prefixed with "HH:MM:SS.mmm: " local time
// when pTimeStamp. Throws Exception when the file cannot be opened or written.
void WriteLogLine(const std::string& pFileName, const std::string& pText, bool pTimeStamp);
// WriteLogLine into LogFolder() + "/" + LogFileStem(pPortName) + "-YYYY-MM-DD.log"; the folder is created when missing.
void WriteLog(const std::string& pPortName, const std::string& pText, bool pTimeStamp);
// The folder of the running executable + "Log".
std::string LogFolder();
// One exchange's entry: ">> sent << received [repeats-wait ms: error]" followed by pTrace as it is (the caller's
// trace lines, each behind a CR LF). pWaitReciveUs is the exchange's duration in microseconds.
std::string SessionLogEntry(const ABytes& pSend, const ABytes& pRecive, std::uint32_t pWaitReciveUs,
                            std::uint32_t pDubls, const std::string& pErrorText, const std::string& pTrace);
// The part of a log file name a port gives: COM3 for COM3 and \\.\COM3; a device path without "/dev/", with each
// remaining '/' as '_' (/dev/ttyUSB0 -> ttyUSB0, /dev/pts/4 -> pts_4).
std::string LogFileStem(const std::string& pPortName);

// Platform parts.
struct TLocalTime {
    int Year, Month, Day, Hour, Minute, Second, Milli;
};
TLocalTime LocalNow();
// Folder of the running executable, with a trailing separator. Paths here are UTF-8 text (base/utf8_path.h).
std::string ExecutableFolder();
// Creates the folder when missing; failures are not reported (the file open reports them).
void EnsureFolder(const std::string& pFolder);
