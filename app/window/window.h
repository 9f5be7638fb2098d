// The updater's main window logic, toolkit-free: start-up checks of the embedded package, the search passes, the
// device rows and the programming run. It drives the controls through app/window/controls.h.
// Threading: every member runs on the main thread (handlers from the event loop, worker reports through the
// dispatcher). The window owns the package object, the rows' records and its arrays; it creates workers but never
// frees them (each frees itself); its slots in AST/APT are plain references dropped when a worker reports its end.
#pragma once

#include "app/window/controls.h"
#include "app/window/info_panel.h"
#include "bootloader/devid.h"
#include "bootloader/workers.h"
#include "package/bootimage.h"
#include "package/bytes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// What the window takes from the system; tests stand in their own.
struct TWindowServices {
    // The serial ports to search (default: the system's list).
    std::function<std::vector<std::string>()> listPorts;
    // Reads the package appended to the executable (default: ReadEmbeddedPackage of the running executable).
    std::function<bool(ABytes&)> readPackage;
    // The group owning a port's device node when this user may not open it, else empty (default: PortAccessGroup).
    std::function<std::string(const std::string&)> portAccessGroup;
    // The pause before the package is read, milliseconds.
    double startDelayMs = 300;
};

// The payload read from the end of the executable at start; kept until the program ends.
extern ABytes PackageData;

class TfrmNeridProgrammer {
public:
    TfrmNeridProgrammer(const TWindowControls& controls, TWindowServices services);
    ~TfrmNeridProgrammer();
    TfrmNeridProgrammer(const TfrmNeridProgrammer&) = delete;
    TfrmNeridProgrammer& operator=(const TfrmNeridProgrammer&) = delete;

    // Start-up: package, header, checksum, language, texts, caption; on failure the red error line.
    void FormCreate();
    // The whole application gained or lost the focus: the window's frame colour follows.
    void FormActivate();
    void FormDeactivate();
    // The user closes the window: from now on no worker waits for the main thread.
    void FormClose();
    void btnCancelClick();

    // Search (one pass per tmrStartSearch; repeated until a device answers).
    void tmrStartSearchTimer();
    void Search();
    void SearchThreadEvent(TCustomThreadCtrl* Sender, std::uint32_t wParam, std::uint32_t lParam, std::uint32_t& Res);
    void tmrStopSearchTimer();

    // Rows: keeps btnProg enabled exactly while some row is checked and no run is under way.
    void CheckBoxesClick();

    // Programming run.
    void btnProgClick();
    void tmrStartProgTimer();
    void Prog();
    void ProgThreadEvent(TCustomThreadCtrl* Sender, std::uint32_t wParam, std::uint32_t lParam, std::uint32_t& Res);
    void tmrStopProgTimer();

    // A programming run has been started and has not ended yet.
    bool RunActive() const { return FRunActive; }

    // Fields (read by tests and the adapters).
    std::vector<TZorelSearchBootLoaderThreadCtrl*> AST; // search workers of the pass; nullptr once reported
    std::vector<TZorelProgBootLoaderThreadCtrl*> APT;   // programming workers by row; nullptr once reported
    ABytes APTpg;                                       // last percentage per row
    std::uint32_t APTpgQ = 0;                           // workers started in the run
    AZorelBootLoaderDevsIDInfo BLI;                     // devices found, in report order
    AInfoPanels AIP;                                    // rows, same index as BLI
    std::int32_t gtc = 0;                               // kept for layout compatibility; unused
    std::unique_ptr<TZorelBootLoaderHexDataFile> FH;    // the package
    std::shared_ptr<const AZorelBootLoaderDataLines> FL; // flash lines of the run
    std::shared_ptr<const AZorelBootLoaderDataLines> EE; // EEPROM lines of the run
    TZorelBootLoaderInfo B;                             // the image header

private:
    void ShowFailure(const std::string& message);
    // After a pass without devices: the access line names the first port of the pass refused for lack of permission.
    void ShowAccessProblem();
    void SetTexts();
    // A report handler that stays safe after the window is gone (it then lets the worker go on).
    TOnThreadCtrlEvent Bind(void (TfrmNeridProgrammer::*handler)(TCustomThreadCtrl*, std::uint32_t, std::uint32_t,
                                                                   std::uint32_t&));

    TWindowControls c;
    TWindowServices FServices;
    std::shared_ptr<TfrmNeridProgrammer*> FAlive; // reset on destruction; reports check it
    bool FRunActive = false;
    std::vector<std::string> FPassPorts; // the ports of the current search pass
    bool FRunFailed = false; // a device of the current (or last) run failed or its worker could not start
};
