// Shared by `nerid search` and `nerid flash`: the tool's main loop for the window's workers (a pumped dispatcher on
// the main thread), the search of many ports at once, Ctrl-C handling and the identity as text and JSON.
// Everything here runs on the tool's main thread; the workers report to it through the dispatcher.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "bootloader/devid.h"
#include "workers/pumped_dispatcher.h"
#include "workers/thread_ctrl.h"

// Ctrl-C (SIGINT, SIGTERM, SIGHUP; the console's Ctrl-C and Ctrl-Break on Windows) counts instead of ending the
// tool; call once, before any worker starts. A closed pipe no longer ends the tool either (SIGPIPE ignored): a write
// to it fails instead. Platform part (posix/, win32/).
void InstallInterruptHandler();
// How many interrupts have arrived.
int Interrupts();
// The exit code of a run the first interrupt ended: 128 + its signal number (130 Ctrl-C, 143 SIGTERM, 129 SIGHUP).
int InterruptExitCode();

// Why a port cannot be opened, in words: "busy (held by another program)", "absent (no such port)" or the system's
// reason; "device is not available" when it opens now. Opens and closes the port; main thread.
std::string PortTrouble(const std::string& port);

// The dispatcher the workers report through, installed on first use; pumped by the tool's main thread.
TPumpedDispatcher& ToolDispatcher();

// Starts a worker whose thread never takes the interrupt (the main thread does). On success the worker owns itself
// and the pointer is released; on failure w still owns it and the error is rethrown. Platform part.
void StartWorker(std::unique_ptr<TCustomThreadCtrl>& w);

// The given ports, else every port discovery lists.
std::vector<std::string> PortsToUse(const std::vector<std::string>& given);

struct TPortSearch {
    std::string Port;
    bool Ok = false;       // an identity was read
    std::string Error;     // failure text; empty when Ok
    bool Refused = false;  // this user may not open the port (Linux: not in the node's group); Error says what to do
    TZorelBootLoaderDevID DevID;
};

// One search worker per port, all at once, as the window's search pass; returns when every worker has reported,
// in port order.
std::vector<TPortSearch> SearchPorts(const std::vector<std::string>& ports);

// A count with its noun: "1 reset", "2 resets".
std::string Plural(long long n, const char* one, const char* many);

// Version word as the window shows it: "1.04".
std::string VersionText(std::uint16_t v);
// The raw name without its trailing zero bytes, as UTF-8.
std::string NameText(const std::string& raw);
// The identity fields of a search result.
nlohmann::ordered_json DevIDJson(const TZorelBootLoaderDevID& d);
