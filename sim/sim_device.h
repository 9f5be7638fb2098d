// One simulated device bootloader: takes the bytes a host sends, answers as a device would, remembers what it was
// programmed with, and misbehaves on request. Pure logic: the pseudo-terminal, pacing and signals live in the runner.
// Not thread-safe; each device belongs to the one thread that serves its port.
#pragma once

#include "package/bytes.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

// What the device reports as itself and as its installed firmware.
struct SimIdentity {
    std::string name = "SIMDEV";   // raw 8-bit characters, at most ten
    std::uint16_t version = 0x0100; // installed firmware version, major in the high byte
    std::uint16_t type = 1;         // installed firmware device type
    std::uint8_t variant = 0;
    std::uint8_t revision = 0;
    std::uint32_t id = 1;
    std::uint16_t bootVersion = 0x0102;
    std::uint16_t bootType = 1;
    std::uint16_t checksum = 0;
    std::uint16_t endProg = 0x3FFF;
    std::uint8_t dateYear = 0x24;   // BCD
    std::uint8_t dateMonth = 0x01;  // BCD
    std::uint32_t infoAddress = 0x400; // byte address of the installed firmware's header in flash
};

// Faults, each off by default. Line numbers count line commands (flash and EEPROM) from 0.
struct SimFaults {
    bool silent = false;            // never answers anything
    int dropLine = -1;              // this flash line (the n-th distinct flash address) is ignored ...
    int dropTimes = 0;              // ... this many times before it is taken
    int stopAfter = -1;             // once this many lines are written, answers no further line command
    int hangupAfter = -1;           // once this many lines are written, the next line command kills the line
    bool shortIdentity = false;     // identity reply of 49 bytes
    bool garbage = false;           // three stray bytes before every reply
    bool wrongFirst = false;        // replies start with 0xE0|command instead of 0xF0|command
    double deafMs = 0;              // after each reply, a frame that starts arriving within this many ms is lost
};

// One frame as received.
struct SimFrame {
    std::uint8_t cmd = 0;     // low four bits of the first byte
    std::uint8_t length = 0;  // the length byte
    bool crcOk = false;
    std::uint32_t address = 0; // flash: byte address; EEPROM: offset; else 0
};

// What to do after a frame.
struct SimOutput {
    ABytes reply;              // bytes to send (empty: stay silent)
    double delayMs = 0;        // device work time before the reply goes out
    bool hangup = false;       // close the line now
    bool reset = false;        // the device has just been reset
};

class SimDevice {
public:
    SimDevice(SimIdentity identity, SimFaults faults, double writeMs);

    // Feeds bytes from the line; returns one output per complete frame found.
    std::vector<SimOutput> Feed(const ABytes& in);

    const SimIdentity& Identity() const { return FIdentity; }
    const std::vector<SimFrame>& Frames() const { return FFrames; }
    // Programmed memory: flash by byte address, EEPROM by offset.
    const std::map<std::uint32_t, std::uint8_t>& Flash() const { return FFlash; }
    const std::map<std::uint32_t, std::uint8_t>& Eeprom() const { return FEeprom; }
    int LinesWritten() const { return FLines; }
    int Resets() const { return FResets; }
    // Flash and EEPROM line commands received, answered or not: the host is still programming while it grows.
    int LineCommands() const { return FLineCommands; }
    bool HungUp() const { return FHungUp; }
    // After each reply, a frame that starts arriving within this many ms is lost (the deaf fault; 0: never).
    double DeafMs() const { return FFaults.deafMs; }
    // Bytes of an unfinished frame are waiting.
    bool HasPartial() const { return !FPending.empty(); }

    // The 56-byte identity payload as the device reports it now.
    ABytes IdentityPayload() const;

private:
    std::optional<SimOutput> Handle(const ABytes& frame);
    ABytes Reply(std::uint8_t cmd, const ABytes& payload) const;
    void TakeHeaderFromFlash();

    SimIdentity FIdentity;
    SimFaults FFaults;
    double FWriteMs;
    ABytes FPending;
    std::vector<SimFrame> FFrames;
    std::map<std::uint32_t, std::uint8_t> FFlash;
    std::map<std::uint32_t, std::uint8_t> FEeprom;
    std::vector<std::uint32_t> FFlashAddresses; // distinct flash addresses in the order first seen
    int FDropped = 0;
    int FLines = 0;
    int FResets = 0;
    int FLineCommands = 0;
    bool FHungUp = false;
    bool FStopped = false;
};
