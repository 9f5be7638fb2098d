// The search worker and the programming worker: one pass each, reports to the window, port closed on every path.
#include "bootloader/workers.h"

#include "base/error.h"
#include "base/format.h"
#include "base/texts.h"
#include "bootloader/link.h"
#include "timing/timing.h"
#include "workers/main_thread.h"

#include <cmath>

namespace {

// Opens the link's port as both workers do; the not-available text when the port cannot be had.
void OpenPort(TZorelBootLoader& link, const std::string& port, std::string& error)
{
    try {
        link.Open(port, GENERIC_READ_WRITE, false);
    } catch (const std::exception&) {
        error = LangText(12);
        throw Exception(error);
    }
}

} // namespace

// ---- search worker ----

void TZorelSearchBootLoaderThreadCtrl::SetParams(std::uint16_t pIndex, const std::string& pPort)
{
    FIndex = pIndex;
    FPort = pPort;
}

void TZorelSearchBootLoaderThreadCtrl::ExecBefore() {}
void TZorelSearchBootLoaderThreadCtrl::ExecAfter() {}
void TZorelSearchBootLoaderThreadCtrl::ExecError(std::uint8_t, const std::string&) {}
void TZorelSearchBootLoaderThreadCtrl::ExecAction(const TThreadCtrlAction&) {}

void TZorelSearchBootLoaderThreadCtrl::ExecRepeat()
{
    CallSEvent(FIndex, kSearchStarted);
    FError.clear();
    TCPCSetup setup;
    setup.Default(19200, 1);
    std::uint32_t code = kSearchFound;
    try {
        TZorelBootLoader link;
        link.SessionParam().Init(300, 64, 100, 2, 400);
        OpenPort(link, FPort, FError);
        try {
            link.SetSetup(setup);
            FDID = link.DeviceID();
        } catch (...) {
            link.Close();
            throw;
        }
        link.Close();
    } catch (const std::exception&) {
        code = kSearchFailed;
    }
    CallSEvent(FIndex, code);
    throw Exception(ThreadCtrlBreak);
}

// ---- programming worker ----

std::uint32_t ProgPercent(std::size_t i, std::size_t D)
{
    if (D == 0)
        return 100; // a single line: written means done
    return static_cast<std::uint32_t>(std::nearbyint(static_cast<double>(i) * 100.0 / static_cast<double>(D)));
}

std::int32_t ClassifyDevice(const TZorelBootLoaderDevID& DevID, const TZorelBootLoaderInfo& B)
{
    if (DevID.dBootTypeP != B.TD || DevID.dIspolnenieP != B.IP || DevID.dPlateIzmP != B.IZ)
        return -1;
    return DevID.dVerProg >= B.VP ? 0 : 1;
}

void TZorelProgBootLoaderThreadCtrl::SetParams(std::uint16_t pIndex, const std::string& pPort)
{
    FIndex = pIndex;
    FPort = pPort;
}

void TZorelProgBootLoaderThreadCtrl::SetData(std::shared_ptr<const AZorelBootLoaderDataLines> pFL,
                                             std::shared_ptr<const AZorelBootLoaderDataLines> pEE)
{
    FFL = std::move(pFL);
    FEE = std::move(pEE);
}

void TZorelProgBootLoaderThreadCtrl::ExecBefore() {}
void TZorelProgBootLoaderThreadCtrl::ExecAfter() {}
void TZorelProgBootLoaderThreadCtrl::ExecError(std::uint8_t, const std::string&) {}
void TZorelProgBootLoaderThreadCtrl::ExecAction(const TThreadCtrlAction&) {}

void TZorelProgBootLoaderThreadCtrl::ReportState(std::uint16_t Code, std::uint32_t Value)
{
    CallSEvent((static_cast<std::uint32_t>(FIndex) << 16) | Code, Value);
}

void TZorelProgBootLoaderThreadCtrl::ExecRepeat()
{
    ReportState(kProgStarted, 0);
    TCPCSetup setup;
    setup.Default(19200, 1);
    FError.clear();
    FResends = 0;
    FLatency.reset();
    std::uint32_t lineRetries = 0;
    std::uint16_t code = kProgDone;
    try {
        TZorelBootLoader link;
        link.SetLog(false);
        link.SessionParam().Init(750, 64, 100, 1, 1000);
        link.SetFastExchange(FFast);
        // Whatever way the pass ends, the counts are taken before the report.
        struct TCounts {
            TZorelBootLoader& link;
            const std::uint32_t& retries;
            std::uint32_t& resends;
            std::optional<std::uint32_t>& latency;
            ~TCounts()
            {
                resends = link.Resends() + retries;
                latency = link.DriverLatency();
            }
        } counts{link, lineRetries, FResends, FLatency};
        OpenPort(link, FPort, FError);
        try {
            static const AZorelBootLoaderDataLines kNone;
            const AZorelBootLoaderDataLines& fl = FFL ? *FFL : kNone;
            const AZorelBootLoaderDataLines& ee = FEE ? *FEE : kNone;
            const std::size_t nF = fl.size();
            const std::size_t nE = ee.size();
            const std::size_t D = nF + nE > 0 ? nF + nE - 1 : 0;
            link.SetSetup(setup);
            try {
                FDID = link.DeviceID();
            } catch (const std::exception&) {
                FError = LangText(13);
                throw;
            }
            // One memory: write its lines in order, three tries each; `tag` is 'F' or 'E' in the failure text.
            auto writeLines = [&](const AZorelBootLoaderDataLines& lines, std::size_t before, char tag) {
                int failures = 0;
                for (std::size_t i = 0; i < lines.size();) {
                    // Stopped half-way (the application is closing): the device is left unreset and the pass fails.
                    if (ApplicationTerminating() || Stoped()) {
                        FError = Format("%s 0x%c%.3zX", LangText(10).c_str(), tag, i);
                        throw Exception(FError);
                    }
                    try {
                        if (tag == 'F')
                            link.Flash(lines[i].A, lines[i].D);
                        else
                            link.EEPROM(static_cast<std::uint8_t>(lines[i].A & 0xFF), lines[i].D);
                    } catch (const std::exception&) {
                        FError = Format("%s 0x%c%.3zX", LangText(10).c_str(), tag, i);
                        if (++failures >= 3)
                            throw;
                        ++lineRetries;
                        continue;
                    }
                    ReportState(kProgProgress, ProgPercent(before + i, D));
                    ++i;
                    failures = 0;
                }
            };
            writeLines(fl, 0, 'F');
            writeLines(ee, nF, 'E');
            SleepMs(200);
            link.Reset();
        } catch (...) {
            link.Close();
            throw;
        }
        link.Close();
    } catch (const std::exception&) {
        code = kProgFailed;
    }
    ReportState(code, 0);
    throw Exception(ThreadCtrlBreak);
}
