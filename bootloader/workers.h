// The two background workers of the updater: the search worker (asks one port for a bootloader identity) and the
// programming worker (writes the flash and EEPROM lines to one device and resets it).
// Each owns its own bootloader link and port; reports reach the window's handler on the main thread while the worker
// waits (see workers/thread_ctrl.h), so the handler may read the fields below during a report.
#pragma once

#include "bootloader/devid.h"
#include "package/bootimage.h"
#include "workers/thread_ctrl.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// Report codes of the search worker (lParam; wParam is the worker's index).
enum : std::uint32_t { kSearchStarted = 0, kSearchFound = 2, kSearchFailed = 3 };

// Report codes of the programming worker (low 16 bits of wParam; the high 16 bits are the row index).
enum : std::uint16_t { kProgStarted = 0, kProgProgress = 1, kProgDone = 2, kProgFailed = 3 };

// The most ports a search pass, or rows a programming run, can address: the row index travels in 16 bits.
constexpr std::size_t kMaxWorkersPerRun = 0xFFFF;

class TZorelSearchBootLoaderThreadCtrl : public TCustomThreadCtrl {
public:
    // pIndex: the worker's index in its pass (sent back as wParam); pPort: the port name as discovery lists it.
    void SetParams(std::uint16_t pIndex, const std::string& pPort);

    const TZorelBootLoaderDevID& DevID() const { return FDID; }
    const std::string& Error() const { return FError; }
    const std::string& Port() const { return FPort; }

protected:
    void ExecBefore() override;
    void ExecRepeat() override;
    void ExecAfter() override;
    void ExecError(std::uint8_t pStage, const std::string& pText) override;
    void ExecAction(const TThreadCtrlAction& pAction) override;

private:
    std::string FError;
    std::string FPort;
    std::uint16_t FIndex = 0;
    TZorelBootLoaderDevID FDID;
};

class TZorelProgBootLoaderThreadCtrl : public TCustomThreadCtrl {
public:
    // pIndex: the device row (sent back in the high 16 bits of wParam); pPort: the device's port.
    void SetParams(std::uint16_t pIndex, const std::string& pPort);
    // The lines of the run, shared read-only by every worker of it.
    void SetData(std::shared_ptr<const AZorelBootLoaderDataLines> pFL, std::shared_ptr<const AZorelBootLoaderDataLines> pEE);

    const TZorelBootLoaderDevID& DevID() const { return FDID; }
    const std::string& Port() const { return FPort; }
    std::uint16_t Index() const { return FIndex; }
    // The failure text of the pass ("update error 0xF01A" and the like); empty after a success.
    const std::string& Error() const { return FError; }
    // The line-rate exchange for this worker's link (off, as in the window, unless set before ThreadBegin).
    void SetFastExchange(bool v) { FFast = v; }
    // Requests of the pass sent again because the one before got no answer: the engine's re-sends plus the further
    // tries of a failed line. Final when the pass reports code 2 or 3.
    std::uint32_t Resends() const { return FResends; }
    // The driver's latency timer (ms) as read when the port was opened; none where the port has none.
    std::optional<std::uint32_t> LatencyMs() const { return FLatency; }

protected:
    void ExecBefore() override;
    void ExecRepeat() override;
    void ExecAfter() override;
    void ExecError(std::uint8_t pStage, const std::string& pText) override;
    void ExecAction(const TThreadCtrlAction& pAction) override;

private:
    void ReportState(std::uint16_t Code, std::uint32_t Value);

    std::string FError;
    std::string FPort;
    std::uint16_t FIndex = 0;
    TZorelBootLoaderDevID FDID;
    std::shared_ptr<const AZorelBootLoaderDataLines> FFL;
    std::shared_ptr<const AZorelBootLoaderDataLines> FEE;
    bool FFast = false;
    std::uint32_t FResends = 0;
    std::optional<std::uint32_t> FLatency;
};

// The progress after line i of D+1 lines in all: the nearest integer to i*100/D, halves to even; 100 when there is
// only one line (D = 0).
std::uint32_t ProgPercent(std::size_t i, std::size_t D);

// How a device stands against the package header: -1 not supported (type, variant or revision differ),
// 0 not required (installed version not older), 1 needed.
std::int32_t ClassifyDevice(const TZorelBootLoaderDevID& DevID, const TZorelBootLoaderInfo& B);
