// The updater's main window in Win32: the control tree, its docking and the application-level events.
#include "app/win32/win32_main_window.h"

#include "app/win32/win32_ids.h"

#include <commctrl.h>

#include <algorithm>

namespace {

constexpr UINT_PTR kTimerIds[4] = {1, 2, 3, 4}; // tmrStartSearch, tmrStopSearch, tmrStartProg, tmrStopProg

// A rectangle that hands out docked parts of itself, the way the design is drawn: each Top/Bottom/Left/Right takes a
// strip of the given size with the item's own margins (left, top, right, bottom) and leaves the rest; Client takes
// what remains, less its margins.
struct TDock {
    RECT r;

    RECT Top(int h, RECT m)
    {
        RECT x{r.left + m.left, r.top + m.top, r.right - m.right, r.top + m.top + h};
        r.top = x.bottom + m.bottom;
        return x;
    }
    RECT Bottom(int h, RECT m)
    {
        RECT x{r.left + m.left, r.bottom - m.bottom - h, r.right - m.right, r.bottom - m.bottom};
        r.bottom = x.top - m.top;
        return x;
    }
    RECT Left(int w, RECT m)
    {
        RECT x{r.left + m.left, r.top + m.top, r.left + m.left + w, r.bottom - m.bottom};
        r.left = x.right + m.right;
        return x;
    }
    RECT Right(int w, RECT m)
    {
        RECT x{r.right - m.right - w, r.top + m.top, r.right - m.right, r.bottom - m.bottom};
        r.right = x.left - m.left;
        return x;
    }
    RECT Client(RECT m) const { return RECT{r.left + m.left, r.top + m.top, r.right - m.right, r.bottom - m.bottom}; }
};

// The group box's interior shows the button face whatever the window's colour.
LRESULT CALLBACK GroupBoxSubclass(HWND h, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    if (msg == WM_ERASEBKGND) {
        RECT r;
        GetClientRect(h, &r);
        FillRect(reinterpret_cast<HDC>(wParam), &r, GetSysColorBrush(COLOR_BTNFACE));
        return 1;
    }
    return DefSubclassProc(h, msg, wParam, lParam);
}

HFONT WindowFont(bool bold, int dpi)
{
    // 8 point: a character height of 11 pixels at 96 pixels per inch.
    return CreateFontW(-ScaleToDpi(11, dpi), 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Tahoma");
}

// The height of a line of `font` in pixels (ascent and descent).
int LineHeight(HFONT font)
{
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    return static_cast<int>(tm.tmHeight);
}

// The frame around a client area of the given size at `dpi`: AdjustWindowRectExForDpi where the system has it (looked
// up at run time), else AdjustWindowRectEx, whose frame is the system's.
SIZE FrameSize(int clientWidth, int clientHeight, DWORD style, DWORD exStyle, int dpi)
{
    RECT frame{0, 0, clientWidth, clientHeight};
    using TAdjust = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    static const auto adjust = reinterpret_cast<TAdjust>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi")));
    if (!adjust || !adjust(&frame, style, FALSE, exStyle, static_cast<UINT>(dpi)))
        AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    return SIZE{frame.right - frame.left, frame.bottom - frame.top};
}

// The program's icon at the system's large or small icon size, or none in a program without the icon resource (a
// test). LR_SHARED: the system owns the handle.
HICON ProductIcon(bool small)
{
    return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_PRODUCT), IMAGE_ICON,
                                         GetSystemMetrics(small ? SM_CXSMICON : SM_CXICON),
                                         GetSystemMetrics(small ? SM_CYSMICON : SM_CYICON), LR_SHARED));
}

constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_TOPMOST | WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;

} // namespace

TWinMainWindow::TWinMainWindow()
{
    RegisterWinControlClasses();
    static bool registered = false;
    if (!registered) {
        registered = true;
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512) /* IDC_ARROW */);
        wc.lpfnWndProc = Proc;
        wc.lpszClassName = NERID_WINDOW_CLASS;
        wc.hIcon = ProductIcon(false);
        wc.hIconSm = ProductIcon(true);
        RegisterClassExW(&wc);
    }
    // Created at its size for 96 dpi, then sized for the monitor it landed on.
    const SIZE frame = FrameSize(ClientWidth, ClientHeight, kStyle, kExStyle, 96);
    FHandle = CreateWindowExW(kExStyle, NERID_WINDOW_CLASS, L"", kStyle, CW_USEDEFAULT, CW_USEDEFAULT, frame.cx,
                              frame.cy, nullptr, nullptr, GetModuleHandleW(nullptr), this);
    // The caption's and the taskbar's icon, also for a window of a class registered earlier.
    SendMessageW(FHandle, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(ProductIcon(false)));
    SendMessageW(FHandle, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(ProductIcon(true)));
    FDpi = WindowDpi(FHandle);
    FFont = WindowFont(false, FDpi);
    FBold = WindowFont(true, FDpi);
    CreateControls();
    const SIZE scaled = FrameSize(ScaleToDpi(ClientWidth, FDpi), ScaleToDpi(ClientHeight, FDpi), kStyle, kExStyle, FDpi);
    SetWindowPos(FHandle, nullptr, 0, 0, scaled.cx, scaled.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    LayOut();
}

TWinMainWindow::~TWinMainWindow()
{
    if (IsWindow(FHandle)) {
        SetWindowLongPtrW(FHandle, GWLP_USERDATA, 0);
        DestroyWindow(FHandle);
    }
    DeleteObject(FFont);
    DeleteObject(FBold);
}

void TWinMainWindow::CreateControls()
{
    const HWND h = FHandle;
    // Created in place; LayOut() gives every control its rectangle.
    FBtnCancel = std::make_unique<TWinButton>(h, IDC_BTNCANCEL, RECT{}, FFont);
    FBtnProg = std::make_unique<TWinButton>(h, IDC_BTNPROG, RECT{}, FFont);
    FBtnProg->SetEnabled(false);

    FGroupBox = CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | BS_GROUPBOX, 0, 0, 0, 0,
                                h, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_GROUPBOX1)),
                                GetModuleHandleW(nullptr), nullptr);
    SendMessageW(FGroupBox, WM_SETFONT, reinterpret_cast<WPARAM>(FFont), FALSE);
    SetWindowSubclass(FGroupBox, GroupBoxSubclass, 1, 0);

    FLogoEN = std::make_unique<TWinImage>(h, IDC_IMGLOGOEN, RECT{}, TWinBitmap::FromResource(IDR_LOGO_EN, FDpi), false);
    FLogoRU = std::make_unique<TWinImage>(h, IDC_IMGLOGORU, RECT{}, TWinBitmap::FromResource(IDR_LOGO_RU, FDpi), false);
    FLogoEN->SetVisible(false);
    FLogoRU->SetVisible(false);
    FLblState = std::make_unique<TWinLabel>(h, IDC_LBLSTATE, RECT{}, FFont);
    FLblStateC = std::make_unique<TWinLabel>(h, IDC_LBLSTATEC, RECT{}, FBold);

    // The etched separator: a dark line over a light one.
    FShape1 = std::make_unique<TWinLine>(h, IDC_SHAPE1, RECT{}, TColor::System(TSysColor::InactiveCaptionGradient));
    FShape2 = std::make_unique<TWinLine>(h, IDC_SHAPE2, RECT{},
                                         TColor::Rgb(GetRValue(GetSysColor(COLOR_BTNHIGHLIGHT)),
                                                     GetGValue(GetSysColor(COLOR_BTNHIGHLIGHT)),
                                                     GetBValue(GetSysColor(COLOR_BTNHIGHLIGHT))));

    FProgress = std::make_unique<TWinProgressBar>(h, IDC_PGBMAIN, RECT{});
    FLblCDevices = std::make_unique<TWinLabel>(h, IDC_LBLCDEVICES, RECT{}, FBold, SS_RIGHT);
    FImgDev = std::make_unique<TWinImage>(h, IDC_IMGDEV, RECT{}, TWinBitmap::FromResource(IDR_DEVICE, FDpi), true);
    FImgDev->SetVisible(false);
    FRowList = std::make_unique<TWinRowList>(h, IDC_PNLDATA, RECT{}, FFont);
    FRowList->SetDpi(FDpi, FFont);

    // Tab order follows the Z order: the list, then Next, then Close.
    SetWindowPos(FRowList->Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SetWindowPos(FBtnProg->Handle(), FRowList->Handle(), 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SetWindowPos(FBtnCancel->Handle(), FBtnProg->Handle(), 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    // The group box beneath all its siblings (each new child goes below the earlier ones): it clips them out, and
    // they draw over its interior.
    SetWindowPos(FGroupBox, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    for (size_t i = 0; i < FTimers.size(); ++i)
        FTimers[i] = std::make_unique<TWinTimer>(h, kTimerIds[i]);

    FControls.window = this;
    FControls.lblCDevices = FLblCDevices.get();
    FControls.lblStateC = FLblStateC.get();
    FControls.lblState = FLblState.get();
    FControls.btnProg = FBtnProg.get();
    FControls.btnCancel = FBtnCancel.get();
    FControls.pgbMain = FProgress.get();
    FControls.imgLogoEN = FLogoEN.get();
    FControls.imgLogoRU = FLogoRU.get();
    FControls.imgDev = FImgDev.get();
    FControls.pnlData = FRowList.get();
    FControls.tmrStartSearch = FTimers[0].get();
    FControls.tmrStopSearch = FTimers[1].get();
    FControls.tmrStartProg = FTimers[2].get();
    FControls.tmrStopProg = FTimers[3].get();
}

void TWinMainWindow::LayOut()
{
    // Docked in the design's pixels at 96 dpi; each resulting edge is scaled on its own, so no edge is more than half
    // a pixel from its exact place at any DPI.
    const auto s = [this](int v) { return ScaleToDpi(v, FDpi); };
    const auto scaled = [&s](const RECT& r) { return RECT{s(r.left), s(r.top), s(r.right), s(r.bottom)}; };
    const auto place = [](HWND c, const RECT& r) {
        MoveWindow(c, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
    };
    const RECT none{0, 0, 0, 0};

    TDock window{RECT{0, 0, ClientWidth, ClientHeight}};
    const RECT mainPanel = window.Client({2, 1, 2, 2});
    FMainPanel = scaled(mainPanel);
    TDock pnlMain{mainPanel};

    // Buttons along the bottom, docked right: the first docked is the rightmost.
    TDock pnlBtns{pnlMain.Bottom(31, {8, 8, 8, 8})};
    pnlBtns.r.right -= 35;
    place(FBtnCancel->Handle(), scaled(pnlBtns.Right(85, {5, 0, 0, 0})));
    place(FBtnProg->Handle(), scaled(pnlBtns.Right(100, {5, 0, 0, 0})));

    const RECT groupRect = pnlMain.Client({8, 8, 8, 0});
    place(FGroupBox, scaled(groupRect));
    // The frame of a captionless group box sits half a text line down; its client area starts below that line.
    TDock group{RECT{groupRect.left + 2, groupRect.top + 15, groupRect.right - 2, groupRect.bottom - 2}};

    TDock panel1{group.Top(65, {10, 0, 10, 5})};
    TDock panel5{panel1.Left(170, {0, 0, 10, 0})};
    const RECT logo{panel5.r.left, panel5.r.top, panel5.r.left + 159, panel5.r.top + 57};
    place(FLogoEN->Handle(), scaled(logo));
    place(FLogoRU->Handle(), scaled(logo));
    // The two state lines stack up from 10 pixels above the panel's bottom, each one line of Tahoma 8 pt high: 13
    // pixels at 96 dpi, or the font's own line where that grows faster than the DPI (27 pixels at 192).
    TDock panel4{panel1.Client(none)};
    const RECT state = scaled(panel4.Bottom(13, {0, 0, 0, 10}));
    const int line = std::max(static_cast<int>(state.bottom - state.top),
                              std::max(LineHeight(FFont), LineHeight(FBold)));
    place(FLblState->Handle(), RECT{state.left, state.bottom - line, state.right, state.bottom});
    place(FLblStateC->Handle(), RECT{state.left, state.bottom - 2 * line, state.right, state.bottom - line});

    // The etched separator: a dark line over a light one.
    place(FShape1->Handle(), scaled(group.Top(1, {10, 5, 10, 0})));
    place(FShape2->Handle(), scaled(group.Top(1, {10, 0, 10, 5})));

    place(FProgress->Handle(), scaled(group.Bottom(25, {10, 5, 10, 15})));

    TDock panel2{group.Client({10, 5, 10, 5})};
    TDock panel3{panel2.Left(160, {0, 0, 20, 0})};
    place(FLblCDevices->Handle(), scaled(panel3.Client({0, 15, 0, 0})));
    const RECT dev{panel3.r.left + 15, panel3.r.top + 60, panel3.r.left + 15 + 26, panel3.r.top + 60 + 31};
    place(FImgDev->Handle(), scaled(dev));
    place(FRowList->Handle(), scaled(panel2.Client(none)));
}

void TWinMainWindow::ChangeDpi(int dpi, const RECT& suggested)
{
    FDpi = dpi;
    HFONT font = WindowFont(false, dpi), bold = WindowFont(true, dpi);
    for (HWND c : {FBtnCancel->Handle(), FBtnProg->Handle(), FGroupBox, FLblState->Handle()})
        SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    for (HWND c : {FLblStateC->Handle(), FLblCDevices->Handle()})
        SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(bold), FALSE);
    FRowList->SetDpi(dpi, font);
    // The old fonts go only when nothing uses them any more.
    DeleteObject(FFont);
    DeleteObject(FBold);
    FFont = font;
    FBold = bold;
    // The device picture is shared with every row's icon: one rescale serves them all.
    for (const TWinImage* image : {FLogoEN.get(), FLogoRU.get(), FImgDev.get()})
        if (image->Picture())
            image->Picture()->Rescale(dpi);
    SetWindowPos(FHandle, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    LayOut();
    FRowList->LayOut();
    for (TWinRowPanel* row : FRowList->Rows())
        row->LayOut();
    InvalidateRect(FHandle, nullptr, TRUE);
}

void TWinMainWindow::Show(int cmdShow)
{
    RECT work, w;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    GetWindowRect(FHandle, &w);
    const int width = w.right - w.left, height = w.bottom - w.top;
    // On a work area smaller than the window the caption stays on it, where it can be grabbed.
    SetWindowPos(FHandle, HWND_TOPMOST, std::max(work.left, work.left + (work.right - work.left - width) / 2),
                 std::max(work.top, work.top + (work.bottom - work.top - height) / 2), 0, 0, SWP_NOSIZE);
    ShowWindow(FHandle, cmdShow);
    UpdateWindow(FHandle);
}

int TWinMainWindow::RunMessageLoop(HWND dialog)
{
    MSG msg;
    BOOL got;
    while ((got = GetMessageW(&msg, nullptr, 0, 0)) != 0) {
        if (got == -1)
            return 1;
        // Tab, the space bar, Enter and Escape move between and press the controls, as in a dialog box.
        if (dialog && IsWindow(dialog) && IsDialogMessageW(dialog, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

void TWinMainWindow::SetCaption(const std::string& text)
{
    FCaption = text;
    SetWindowTextW(FHandle, Utf8ToUtf16(text).c_str());
}

void TWinMainWindow::SetColor(TColor c)
{
    FColor = c;
    InvalidateRect(FHandle, nullptr, TRUE);
}

void TWinMainWindow::Close()
{
    PostMessageW(FHandle, WM_CLOSE, 0, 0);
}

void TWinMainWindow::PaintBackground(HDC dc)
{
    RECT r;
    GetClientRect(FHandle, &r);
    FillRect(dc, &r, BrushOf(FColor));
    FillRect(dc, &FMainPanel, GetSysColorBrush(COLOR_BTNFACE));
}

LRESULT CALLBACK TWinMainWindow::Proc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_NCCREATE) {
        auto* self = static_cast<TWinMainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->FHandle = h;
        SetWindowLongPtrW(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    if (auto* self = reinterpret_cast<TWinMainWindow*>(GetWindowLongPtrW(h, GWLP_USERDATA)))
        return self->OnMessage(msg, wParam, lParam);
    return DefWindowProcW(h, msg, wParam, lParam);
}

LRESULT TWinMainWindow::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_ERASEBKGND:
        PaintBackground(reinterpret_cast<HDC>(wParam));
        return 1;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        return CtlColorFromChild(FHandle, msg, wParam, lParam);
    case DM_GETDEFID: {
        // IsDialogMessageW asks this when Enter is pressed on a push button: the focused one is the default.
        const HWND focus = GetFocus();
        for (const TWinButton* b : {FBtnProg.get(), FBtnCancel.get()})
            if (b && focus == b->Handle())
                return MAKELRESULT(GetDlgCtrlID(focus), DC_HASDEFID);
        return 0;
    }
    case WM_COMMAND:
        // Escape: IsDialogMessageW sends IDCANCEL with no control (no child has that identifier); it does what the
        // Close button does.
        if (LOWORD(wParam) == IDCANCEL && lParam == 0) {
            FBtnCancel->OnCommand(BN_CLICKED);
            return 0;
        }
        if (TWinChild* child = TWinChild::FromHandle(reinterpret_cast<HWND>(lParam)))
            child->OnCommand(HIWORD(wParam));
        return 0;
    case WM_TIMER:
        for (auto& t : FTimers)
            if (t->Id() == wParam)
                t->Fire();
        return 0;
    case WM_ACTIVATEAPP: {
        const bool active = wParam != FALSE;
        if (active != FAppActive) {
            FAppActive = active;
            const auto& handler = active ? FOnAppActivate : FOnAppDeactivate;
            if (handler)
                handler();
        }
        return 0;
    }
    case WM_CLOSE:
        if (!FClosing) {
            FClosing = true;
            if (FOnClose)
                FOnClose();
        }
        DestroyWindow(FHandle);
        return 0;
    case WM_GETMINMAXINFO: {
        // The window has one size, its design's at its DPI, even where the screen is smaller: the system's default
        // limit (the screen plus the frame) would cut off the buttons.
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        const SIZE frame = FrameSize(ScaleToDpi(ClientWidth, FDpi), ScaleToDpi(ClientHeight, FDpi), kStyle, kExStyle,
                                     FDpi);
        info->ptMaxTrackSize.x = std::max(info->ptMaxTrackSize.x, frame.cx);
        info->ptMaxTrackSize.y = std::max(info->ptMaxTrackSize.y, frame.cy);
        return 0;
    }
    case WM_DPICHANGED:
        // Moved to a monitor of another DPI, or its scale changed: the system suggests the new frame.
        ChangeDpi(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(FHandle, msg, wParam, lParam);
}
