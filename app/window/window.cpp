// The updater window's behaviour: start-up, search passes, device rows and the programming run.
#include "app/window/window.h"

#include "base/cp1251.h"
#include "base/error.h"
#include "base/format.h"
#include "base/texts.h"
#include "package/embedded.h"
#include "package/validate.h"
#include "serial/comport.h"
#include "serial/port_access.h"
#include "timing/timing.h"
#include "workers/main_thread.h"

#include <algorithm>
#include <exception>

ABytes PackageData;

TfrmNeridProgrammer::TfrmNeridProgrammer(const TWindowControls& controls, TWindowServices services)
    : c(controls), FServices(std::move(services)), FAlive(std::make_shared<TfrmNeridProgrammer*>(this))
{
    if (!FServices.listPorts)
        FServices.listPorts = SystemPortLister();
    if (!FServices.readPackage)
        FServices.readPackage = [](ABytes& p) { return ReadEmbeddedPackage(p); };
    if (!FServices.portAccessGroup)
        FServices.portAccessGroup = PortAccessGroup;
    c.btnCancel->SetOnClick([this] { btnCancelClick(); });
    c.btnProg->SetOnClick([this] { btnProgClick(); });
    c.tmrStartSearch->SetOnTimer([this] { tmrStartSearchTimer(); });
    c.tmrStopSearch->SetOnTimer([this] { tmrStopSearchTimer(); });
    c.tmrStartProg->SetOnTimer([this] { tmrStartProgTimer(); });
    c.tmrStopProg->SetOnTimer([this] { tmrStopProgTimer(); });
}

TfrmNeridProgrammer::~TfrmNeridProgrammer()
{
    // Workers still running report into nothing from now on.
    FAlive.reset();
}

TOnThreadCtrlEvent TfrmNeridProgrammer::Bind(void (TfrmNeridProgrammer::*handler)(TCustomThreadCtrl*, std::uint32_t,
                                                                                    std::uint32_t, std::uint32_t&))
{
    std::weak_ptr<TfrmNeridProgrammer*> alive = FAlive;
    return [alive, handler](TCustomThreadCtrl* s, std::uint32_t w, std::uint32_t l, std::uint32_t& r) {
        // Runs on the main thread, where the window is destroyed too: no race between the check and the call.
        if (const auto self = alive.lock())
            ((*self)->*handler)(s, w, l, r);
        else
            r = 0; // the window is gone: let the worker finish its device rather than stop it half-way
    };
}

void TfrmNeridProgrammer::SetTexts()
{
    c.lblCDevices->SetText(LangText(14));
    c.lblStateC->SetText(LangText(15));
    c.lblState->SetText(LangText(16));
    c.btnProg->SetText(LangText(17));
    c.btnCancel->SetText(LangText(18));
    c.imgLogoRU->SetVisible(Lang == 0);
    c.imgLogoEN->SetVisible(Lang != 0);
}

void TfrmNeridProgrammer::ShowFailure(const std::string& message)
{
    Lang = 1;
    SetTexts();
    c.lblState->SetText(Format(LangText(2).c_str(), message.c_str()));
    c.lblState->SetFontColor(TColor::Rgb(255, 0, 0));
    c.tmrStartSearch->SetEnabled(false);
}

void TfrmNeridProgrammer::FormCreate()
{
    try {
        SleepMs(FServices.startDelayMs);
        FServices.readPackage(PackageData);
        FH = std::make_unique<TZorelBootLoaderHexDataFile>();
        FH->SetInfo(kFlashLimit, kEepromLimit);
        FH->BytesFrom(PackageData);
        if (FH->Size() == 0)
            throw Exception("0x0303");
        B = FH->BootLoaderInfo();
        if (FH->CheckSumm() != B.CS)
            throw Exception("0x0304");
        Lang = ChooseLang(B.TX);
        SetTexts();
        c.tmrStartSearch->SetEnabled(true);
    } catch (const std::exception& e) {
        ShowFailure(e.what());
    }
    c.window->SetCaption(Format(LangText(3).c_str(), Cp1251ToUtf8(B.TX).c_str(), static_cast<unsigned>(B.VP >> 8),
                                static_cast<unsigned>(B.VP & 0xFF), static_cast<int>(B.IP), static_cast<int>(B.IZ)));
}

void TfrmNeridProgrammer::FormActivate() { c.window->SetColor(TColor::System(TSysColor::ActiveCaptionGradient)); }

void TfrmNeridProgrammer::FormDeactivate() { c.window->SetColor(TColor::System(TSysColor::InactiveCaptionGradient)); }

void TfrmNeridProgrammer::FormClose() { SetApplicationTerminating(); }

void TfrmNeridProgrammer::btnCancelClick() { c.window->Close(); }

void TfrmNeridProgrammer::tmrStartSearchTimer()
{
    c.tmrStartSearch->SetEnabled(false);
    c.pgbMain->SetMarquee(true);
    Search();
}

void TfrmNeridProgrammer::Search()
{
    std::vector<std::string> ports;
    try {
        ports = FServices.listPorts();
    } catch (const std::exception&) {
        ports.clear(); // a failing lister is an empty pass, repeated like any other
    }
    // The worker index travels in 16 bits; ports past that are not searched in this pass.
    if (ports.size() > kMaxWorkersPerRun)
        ports.resize(kMaxWorkersPerRun);
    BLI.clear();
    FPassPorts = ports;
    AST.assign(ports.size(), nullptr);
    for (std::size_t i = 0; i < ports.size(); ++i) {
        try {
            auto w = std::make_unique<TZorelSearchBootLoaderThreadCtrl>();
            w->SetSEvent(Bind(&TfrmNeridProgrammer::SearchThreadEvent));
            w->SetParams(static_cast<std::uint16_t>(i), ports[i]);
            AST[i] = w.get();
            w->ThreadBegin();
            w.release(); // the worker owns itself now
        } catch (const std::exception&) {
            AST[i] = nullptr; // skipped: it must not hold back the end of the pass
        }
    }
    // A pass without any port (or without any worker) ends at once, so that a port plugged in later is found.
    if (std::all_of(AST.begin(), AST.end(), [](auto* w) { return w == nullptr; })) {
        AST.clear();
        c.tmrStopSearch->SetEnabled(true);
    }
}

void TfrmNeridProgrammer::SearchThreadEvent(TCustomThreadCtrl* Sender, std::uint32_t wParam, std::uint32_t lParam,
                                            std::uint32_t& Res)
{
    Res = 0;
    if (wParam < AST.size() && (lParam == kSearchFound || lParam == kSearchFailed)) {
        if (lParam == kSearchFound) {
            const auto* w = static_cast<TZorelSearchBootLoaderThreadCtrl*>(Sender);
            BLI.push_back(TZorelBootLoaderDevIDInfo{w->Port(), w->DevID()});
        }
        AST[wParam] = nullptr;
    }
    if (!AST.empty() && std::all_of(AST.begin(), AST.end(), [](auto* w) { return w == nullptr; })) {
        AST.clear();
        c.tmrStopSearch->SetEnabled(true);
    }
}

void TfrmNeridProgrammer::tmrStopSearchTimer()
{
    c.tmrStopSearch->SetEnabled(false);
    if (BLI.empty()) {
        ShowAccessProblem();
        c.tmrStartSearch->SetEnabled(true);
        return;
    }
    if (c.lblAccess)
        c.lblAccess->SetText(std::string());
    c.lblState->SetText(Format(LangText(6).c_str(), static_cast<int>(BLI.size())));
    c.pgbMain->SetMarquee(false);
    c.pgbMain->SetPosition(0);
    AIP.assign(BLI.size(), TInfoPanel{});
    for (std::size_t i = 0; i < BLI.size(); ++i) {
        const TZorelBootLoaderDevID& d = BLI[i].DevID;
        // The name keeps its ten characters, zero bytes included; a zero byte would end %s, so it is cut there.
        const std::string name = Cp1251ToUtf8(std::string(d.dName.c_str()));
        const std::string text =
            Format(LangText(7).c_str(), name.c_str(), static_cast<unsigned>(d.dID & 0xFFFFFFFF),
                   static_cast<unsigned>(d.dVerProg >> 8), static_cast<unsigned>(d.dVerProg & 0xFF),
                   static_cast<unsigned>(d.dIspolnenieP), static_cast<unsigned>(d.dPlateIzmP));
        AIP[i].New(c.pnlData, text, c.imgDev, ClassifyDevice(d, B), [this] { CheckBoxesClick(); });
        AIP[i].MoveU();
    }
    CheckBoxesClick();
}

void TfrmNeridProgrammer::ShowAccessProblem()
{
    // A pass that found nothing may have been refused a port for lack of permission: without this line the window
    // would search forever with nothing to say.
    if (!c.lblAccess)
        return;
    std::string line;
    for (const std::string& port : FPassPorts) {
        const std::string group = FServices.portAccessGroup(port);
        if (!group.empty()) {
            line = NoAccessText(port, group);
            break;
        }
    }
    if (line != c.lblAccess->Text())
        c.lblAccess->SetText(line);
}

void TfrmNeridProgrammer::CheckBoxesClick()
{
    bool any = false;
    for (const TInfoPanel& r : AIP)
        if (r.C && r.C->Checked())
            any = true;
    // A second run while devices of the first are still being programmed would fight over their ports.
    c.btnProg->SetEnabled(any && !FRunActive);
}

void TfrmNeridProgrammer::btnProgClick()
{
    FRunActive = true;
    c.tmrStartProg->SetEnabled(true);
    c.btnProg->SetEnabled(false);
    // The selection is fixed from the press on: a row unchecked before the run starts would leave nothing to run.
    for (TInfoPanel& r : AIP)
        if (r.P)
            r.P->SetEnabled(false);
}

void TfrmNeridProgrammer::tmrStartProgTimer()
{
    c.tmrStartProg->SetEnabled(false);
    Prog();
}

void TfrmNeridProgrammer::Prog()
{
    c.lblState->SetText(LangText(4));
    for (TInfoPanel& r : AIP)
        if (r.P)
            r.P->SetEnabled(false);
    try {
        FL = std::make_shared<const AZorelBootLoaderDataLines>(FH->GetFlash());
        EE = std::make_shared<const AZorelBootLoaderDataLines>(FH->GetEEPROM());
    } catch (const std::exception& e) {
        // A package that cannot be cut into lines: nothing is sent to any device.
        c.lblState->SetText(Format(LangText(2).c_str(), e.what()));
        c.lblState->SetFontColor(TColor::Rgb(255, 0, 0));
        return;
    }
    c.pgbMain->SetMarquee(false);
    c.pgbMain->SetPosition(0);
    APTpgQ = 0;
    FRunFailed = false;
    APT.resize(AIP.size(), nullptr);
    APTpg.resize(APT.size(), 0);
    for (std::size_t i = 0; i < BLI.size() && i < AIP.size() && i < kMaxWorkersPerRun; ++i) {
        try {
            APTpg[i] = 0;
            if (AIP[i].C && AIP[i].C->Checked()) {
                auto w = std::make_unique<TZorelProgBootLoaderThreadCtrl>();
                w->SetSEvent(Bind(&TfrmNeridProgrammer::ProgThreadEvent));
                w->SetParams(static_cast<std::uint16_t>(i), BLI[i].Port);
                w->SetData(FL, EE);
                APT[i] = w.get();
                w->ThreadBegin();
                w.release(); // the worker owns itself now
                ++APTpgQ;
            } else {
                APT[i] = nullptr;
            }
        } catch (const std::exception&) {
            // A checked device whose worker could not start is not updated: the run must not end as a success.
            APT[i] = nullptr;
            FRunFailed = true;
        }
    }
    // No worker could be started: the run ends now instead of waiting for reports that never come.
    if (APTpgQ == 0) {
        APT.clear();
        c.tmrStopProg->SetEnabled(true);
    }
}

void TfrmNeridProgrammer::ProgThreadEvent(TCustomThreadCtrl*, std::uint32_t wParam, std::uint32_t lParam,
                                          std::uint32_t& Res)
{
    Res = 0;
    const std::size_t index = (wParam >> 16) & 0xFFFF;
    const std::uint32_t code = wParam & 0xFFFF;
    if (code == kProgProgress) {
        if (index < APTpg.size() && APTpgQ > 0) {
            APTpg[index] = static_cast<std::uint8_t>(lParam & 0xFF);
            c.pgbMain->SetPosition(static_cast<int>((BytesSum(APTpg) * 10u) / APTpgQ));
        }
    } else if (code == kProgDone || code == kProgFailed) {
        if (index >= APT.size())
            return; // a worker of an earlier run
        APT[index] = nullptr;
        AIP[index].SetC(static_cast<std::int32_t>(code));
        FRunFailed = FRunFailed || code == kProgFailed;
        if (std::all_of(APT.begin(), APT.end(), [](auto* w) { return w == nullptr; })) {
            APT.clear();
            c.tmrStopProg->SetEnabled(true);
        }
    }
}

void TfrmNeridProgrammer::tmrStopProgTimer()
{
    c.tmrStopProg->SetEnabled(false);
    c.pgbMain->SetPosition(0);
    // "Completed successfully" only when every device of the run was programmed; else the rows' "update error".
    c.lblState->SetText(LangText(FRunFailed ? 10 : 5));
    FRunActive = false;
    CheckBoxesClick();
}
