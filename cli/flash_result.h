// One device's result of `nerid flash`, shared by the batch (cmd_flash.cpp) and the station (station.cpp): the
// programming worker's reports go in through TakeProgReport and the result comes out through FlashResultJson and
// FlashResultText, so a batch and a station write the same fields in the same words (the words name the line that
// failed, by its index and address in the package's lines FL and EE).
// Main thread only (the workers' reports arrive there through the dispatcher). Times in milliseconds of NowMs().
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "bootloader/devid.h"
#include "package/bootimage.h"

class TZorelProgBootLoaderThreadCtrl;

struct TFlashResult {
    std::string Port;
    TZorelBootLoaderDevID Before;
    std::int32_t State = 0;     // -1 not supported, 0 not required, 1 needed
    bool Absent = false;        // a named port where no device answered; Error holds the search's text
    bool Refused = false;       // ... because this user may not open it; Error says what to do
    bool Chosen = false;        // set out to program it
    bool Started = false;       // its worker reported code 0
    bool Finished = false;      // its worker reported code 2 or 3
    bool Programmed = false;    // code 2
    std::string Error;
    double StartMs = 0, EndMs = 0;
    std::uint8_t Percent = 0;   // the worker's last progress, kept to 8 bits as the window keeps it
    bool Interrupted = false;   // the run was interrupted (Ctrl-C, SIGTERM, SIGHUP) before it ended
    std::optional<std::string> Probe; // after a line failure, what a fresh identity request found ("" answered);
                                      // unset when nobody looked
    std::uint32_t Resends = 0;  // requests sent again because the one before got no answer
    std::optional<std::uint32_t> LatencyMs; // the port driver's latency timer as read at open
};

// Takes one report of r's programming worker w (code: the low 16 bits of wParam; value: lParam). After Ctrl-C it
// ends the line under way, so the worker then fails without a reset. Returns true when the report is the last one.
bool TakeProgReport(TFlashResult& r, TZorelProgBootLoaderThreadCtrl& w, std::uint16_t code, std::uint32_t value);

// r as `nerid flash --json` lists it: one object.
nlohmann::ordered_json FlashResultJson(const TFlashResult& r, const AZorelBootLoaderDataLines& FL,
                                       const AZorelBootLoaderDataLines& EE);
// r as `nerid flash` prints it for a person: one line, without its line end.
std::string FlashResultText(const TFlashResult& r, const AZorelBootLoaderDataLines& FL,
                            const AZorelBootLoaderDataLines& EE);
