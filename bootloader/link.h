// The bootloader link: a serial port controller that speaks the bootloader's frame protocol (identity, flash line,
// EEPROM line, reset). Belongs to the one thread that created it; failures are Exception with the protocol's code
// texts ("0x0100".."0x0104").
#pragma once

#include "bootloader/devid.h"
#include "serial/comport.h"

#include <cstdint>

class TZorelBootLoader : public TCustomComPortCtrl {
public:
    using TCustomComPortCtrl::Session;

    // Sends command Cmd with Data as one frame and returns the raw reply (head and check byte included). The link
    // always waits for an answer, whatever NeedAnswer says; sp == nullptr uses SessionParam.
    ABytes Session(std::uint8_t Cmd, const ABytes& Data, PSessionParams sp, bool NeedAnswer);

    // Complete when Recive is a whole reply frame; otherwise raises "0x0100".."0x0103".
    void CheckRecivedData(const ABytes& Send, const ABytes& Recive, bool& Complite) override;

    // Command 0: the device's identity ("0x0104" when the reply is too short to carry every field).
    TZorelBootLoaderDevID DeviceID();
    // Command 2: one flash line at byte address Adr (the device receives the word address).
    void Flash(std::uint16_t Adr, const ABytes& Data);
    // Command 1: one EEPROM line at offset Adr.
    void EEPROM(std::uint8_t Adr, const ABytes& Data);
    // Command 3: the device starts its firmware; it answers first.
    void Reset();
};
