// The bootloader link: frames out, replies checked, identity decoded.
#include "bootloader/link.h"

ABytes TZorelBootLoader::Session(std::uint8_t Cmd, const ABytes& Data, PSessionParams sp, bool)
{
    return TCustomComPortCtrl::Session(BootLoaderFrame(Cmd, Data), sp, true);
}

void TZorelBootLoader::CheckRecivedData(const ABytes&, const ABytes& Recive, bool& Complite)
{
    CheckBootLoaderReply(Recive, Complite);
}

TZorelBootLoaderDevID TZorelBootLoader::DeviceID() { return DecodeDeviceID(Session(0, ABytes{}, nullptr, true)); }

void TZorelBootLoader::Flash(std::uint16_t Adr, const ABytes& Data)
{
    Session(2, BytesConcat(BytesFromU16s({static_cast<std::uint16_t>(Adr / 2)}), Data), nullptr, true);
}

void TZorelBootLoader::EEPROM(std::uint8_t Adr, const ABytes& Data)
{
    Session(1, BytesConcat(BytesFromU8s({Adr}), Data), nullptr, true);
}

void TZorelBootLoader::Reset() { Session(3, ABytes{}, nullptr, true); }
