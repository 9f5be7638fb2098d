// The updater's main window in native Win32 controls: creates and lays out every control and hands them to the window
// logic as TWindowControls. Main thread only; COM must be initialised on it (the pictures are decoded through WIC) and
// the common controls registered (InitCommonControlsEx). The window owns all its controls.
#pragma once

#include "app/win32/win32_controls.h"
#include "app/window/controls.h"

#include <windows.h>

#include <array>
#include <functional>
#include <memory>
#include <string>

// A fixed 576 × 370 client area at 96 dpi with a single border, the system menu as the only caption button, always on
// top, centred on the work area when shown (its caption kept on it where the work area is smaller than the window);
// Tahoma 8 pt. Children carry the identifiers of app/win32/win32_ids.h.
// Per-monitor DPI aware (the manifest says so): sizes, margins, fonts and pictures are scaled to the DPI of the monitor
// the window is on (WindowDpi) when it is created, and again on WM_DPICHANGED, into the rectangle the system suggests.
// Keys as in a dialog box: Tab goes through the rows, then Next, then Close; Enter presses the focused button; Escape
// does what Close does.
//
// Wiring: create the window (hidden), build the window logic on Controls(), bind SetOnAppActivate /
// SetOnAppDeactivate (WM_ACTIVATEAPP) and SetOnClose, Show(), then RunMessageLoop(). Closing the window (by the user,
// WM_CLOSE from anywhere, or Close()) runs the close handler once, then destroys the window, which ends the loop.
class TWinMainWindow : public IWindow {
public:
    TWinMainWindow();
    ~TWinMainWindow() override;
    TWinMainWindow(const TWinMainWindow&) = delete;
    TWinMainWindow& operator=(const TWinMainWindow&) = delete;

    HWND Handle() const { return FHandle; }
    // Every control; the pointers stay valid until this object is destroyed.
    const TWindowControls& Controls() const { return FControls; }

    void SetOnAppActivate(std::function<void()> handler) { FOnAppActivate = std::move(handler); }
    void SetOnAppDeactivate(std::function<void()> handler) { FOnAppDeactivate = std::move(handler); }
    // Runs when the window closes, before it is destroyed.
    void SetOnClose(std::function<void()> handler) { FOnClose = std::move(handler); }

    // Centres the window on the work area and shows it (nCmdShow of WinMain).
    void Show(int cmdShow);
    // Runs the thread's message loop until the window is destroyed; returns the WM_QUIT code.
    static int RunMessageLoop(HWND dialog);

    // IWindow
    void SetCaption(const std::string& text) override;
    std::string Caption() const override { return FCaption; }
    void SetColor(TColor c) override;
    // Posts WM_CLOSE: the window closes from the message loop, after the calling handler has returned.
    void Close() override;

    TColor Color() const { return FColor; }
    TWinRowList& RowList() const { return *FRowList; }
    TWinProgressBar& ProgressBar() const { return *FProgress; }

    // The client area at 96 dpi, in pixels; Dpi() scales it.
    static constexpr int ClientWidth = 576, ClientHeight = 370;
    int Dpi() const { return FDpi; }

private:
    static LRESULT CALLBACK Proc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    void CreateControls();
    // Places every control for FDpi.
    void LayOut();
    // Takes on new fonts, pictures and sizes for `dpi`, the frame at `suggested` (screen coordinates).
    void ChangeDpi(int dpi, const RECT& suggested);
    void PaintBackground(HDC dc);

    HWND FHandle = nullptr;
    int FDpi = 96;
    HFONT FFont = nullptr, FBold = nullptr; // owned, for FDpi
    RECT FMainPanel{}; // pnlMain, painted in the button face; the window's own colour shows around it
    std::string FCaption;
    TColor FColor = TColor::System(TSysColor::BtnFace);
    std::function<void()> FOnAppActivate, FOnAppDeactivate, FOnClose;
    bool FAppActive = false;
    bool FClosing = false;

    HWND FGroupBox = nullptr;
    std::unique_ptr<TWinLabel> FLblCDevices, FLblStateC, FLblState;
    std::unique_ptr<TWinLine> FShape1, FShape2;
    std::unique_ptr<TWinButton> FBtnProg, FBtnCancel;
    std::unique_ptr<TWinProgressBar> FProgress;
    std::unique_ptr<TWinImage> FLogoEN, FLogoRU, FImgDev;
    std::unique_ptr<TWinRowList> FRowList;
    std::array<std::unique_ptr<TWinTimer>, 4> FTimers;
    TWindowControls FControls;
};
