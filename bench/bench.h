// Shared by the parts of nerid-bench: the window harness and the chart. Main thread only.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

// The updater window as nerid-programmer runs it (same controls, window logic, dispatcher, 300 ms start wait and
// package read from the tail of this executable), searching only the ports listed in portsFile (one a line) and
// reporting as JSON into reportPath. mode "idle": shown, then left alone for a few seconds; mode "run": waits for
// every listed port to show as a row, presses Next, waits for the end of the run; screenshots go into shotDir.
// Returns the exit code.
int WindowHarness(int argc, char** argv, const std::string& mode, const std::string& portsFile,
                  const std::string& reportPath, const std::string& shotDir);

// Draws the figures' ratios beside their goals into a PNG; false when it cannot be written.
bool DrawChart(const nlohmann::ordered_json& figures, const std::string& pngPath);

// Peak and current resident set of this process from /proc/self/status, in kB.
long ProcStatusKb(const char* key);
