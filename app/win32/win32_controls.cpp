// Native Win32 controls of the updater window.
#include "app/win32/win32_controls.h"

#include "app/win32/win32_ids.h"

#include <commctrl.h>
#include <uxtheme.h>
#include <wincodec.h>

#include <algorithm>
#include <map>
#include <mutex>

// ---- dots per inch

int WindowDpi(HWND h)
{
    using TGetDpiForWindow = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<TGetDpiForWindow>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow && h)
        if (const UINT dpi = getDpiForWindow(h); dpi != 0)
            return static_cast<int>(dpi);
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen)
        ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

// ---- text and colours

std::wstring Utf8ToUtf16(const std::string& utf8)
{
    if (utf8.empty())
        return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
    return w;
}

std::string Utf16ToUtf8(const std::wstring& utf16)
{
    if (utf16.empty())
        return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string s(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), s.data(), n, nullptr, nullptr);
    return s;
}

static int SysColorIndex(TSysColor c)
{
    switch (c) {
    case TSysColor::BtnFace:
        return COLOR_BTNFACE;
    case TSysColor::GrayText:
        return COLOR_GRAYTEXT;
    case TSysColor::ActiveCaptionGradient:
        return COLOR_GRADIENTACTIVECAPTION;
    case TSysColor::InactiveCaptionGradient:
        return COLOR_GRADIENTINACTIVECAPTION;
    case TSysColor::WindowText:
    case TSysColor::None:
        break;
    }
    return COLOR_WINDOWTEXT;
}

COLORREF ToColorRef(TColor c)
{
    if (c.sys == TSysColor::None)
        return RGB(c.r, c.g, c.b);
    return GetSysColor(SysColorIndex(c.sys));
}

HBRUSH BrushOf(TColor c)
{
    if (c.sys != TSysColor::None)
        return GetSysColorBrush(SysColorIndex(c.sys));
    // Main thread only, like every control; a handful of colours over the life of the process.
    static std::map<COLORREF, HBRUSH> brushes;
    const COLORREF rgb = ToColorRef(c);
    auto it = brushes.find(rgb);
    if (it == brushes.end())
        it = brushes.emplace(rgb, CreateSolidBrush(rgb)).first;
    return it->second;
}

// ---- pictures

namespace {

// Releases a COM interface at the end of its scope.
template <class T>
class TComRef {
public:
    TComRef() = default;
    ~TComRef()
    {
        if (FPtr)
            FPtr->Release();
    }
    TComRef(const TComRef&) = delete;
    TComRef& operator=(const TComRef&) = delete;
    T** operator&() { return &FPtr; }
    T* operator->() const { return FPtr; }
    T* get() const { return FPtr; }

private:
    T* FPtr = nullptr;
};

} // namespace

std::shared_ptr<TWinBitmap> TWinBitmap::FromResource(int id, int dpi)
{
    std::shared_ptr<TWinBitmap> result(new TWinBitmap());
    result->FResource = id;
    result->Decode(dpi);
    return result;
}

void TWinBitmap::Rescale(int dpi)
{
    Decode(dpi);
}

void TWinBitmap::Decode(int dpi)
{
    if (FBitmap)
        DeleteObject(FBitmap);
    FBitmap = nullptr;
    FWidth = FHeight = 0;
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC res = FindResourceW(self, MAKEINTRESOURCEW(FResource), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    HGLOBAL data = res ? LoadResource(self, res) : nullptr;
    auto* bytes = static_cast<BYTE*>(data ? LockResource(data) : nullptr);
    if (!bytes)
        return;
    TComRef<IWICImagingFactory> factory;
    TComRef<IWICStream> stream;
    TComRef<IWICBitmapDecoder> decoder;
    TComRef<IWICBitmapFrameDecode> frame;
    TComRef<IWICFormatConverter> converter;
    TComRef<IWICBitmapScaler> scaler;
    UINT w = 0, h = 0;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                reinterpret_cast<void**>(&factory))) ||
        FAILED(factory->CreateStream(&stream)) ||
        FAILED(stream->InitializeFromMemory(bytes, SizeofResource(self, res))) ||
        FAILED(factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnLoad, &decoder)) ||
        FAILED(decoder->GetFrame(0, &frame)) || FAILED(factory->CreateFormatConverter(&converter)) ||
        FAILED(converter->Initialize(frame.get(), GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr,
                                     0.0, WICBitmapPaletteTypeCustom)) ||
        FAILED(converter->GetSize(&w, &h)) || w == 0 || h == 0)
        return;
    // Scaled after the conversion: filtering premultiplied pixels keeps the transparent ones' colour out of the edges.
    IWICBitmapSource* source = converter.get();
    if (dpi != 96) {
        const UINT sw = static_cast<UINT>(std::max(1, ScaleToDpi(static_cast<int>(w), dpi)));
        const UINT sh = static_cast<UINT>(std::max(1, ScaleToDpi(static_cast<int>(h), dpi)));
        if (FAILED(factory->CreateBitmapScaler(&scaler)) ||
            FAILED(scaler->Initialize(converter.get(), sw, sh, WICBitmapInterpolationModeFant)))
            return;
        source = scaler.get();
        w = sw;
        h = sh;
    }
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = static_cast<LONG>(w);
    bi.bmiHeader.biHeight = -static_cast<LONG>(h); // top-down, as WIC delivers the rows
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bmp)
        return;
    if (FAILED(source->CopyPixels(nullptr, w * 4, w * h * 4, static_cast<BYTE*>(bits)))) {
        DeleteObject(bmp);
        return;
    }
    FBitmap = bmp;
    FWidth = static_cast<int>(w);
    FHeight = static_cast<int>(h);
}

TWinBitmap::~TWinBitmap()
{
    if (FBitmap)
        DeleteObject(FBitmap);
}

void TWinBitmap::Draw(HDC dc, int x, int y) const
{
    if (!FBitmap)
        return;
    HDC mem = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(mem, FBitmap);
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    AlphaBlend(dc, x, y, FWidth, FHeight, mem, 0, 0, FWidth, FHeight, blend);
    SelectObject(mem, old);
    DeleteDC(mem);
}

// ---- child windows

TWinChild* TWinChild::FromHandle(HWND h)
{
    return h ? reinterpret_cast<TWinChild*>(GetWindowLongPtrW(h, GWLP_USERDATA)) : nullptr;
}

void TWinChild::Attach(HWND h, HFONT font)
{
    FHandle = h;
    SetWindowLongPtrW(h, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    if (font)
        SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
}

LRESULT CtlColorFromChild(HWND parent, UINT msg, WPARAM wParam, LPARAM lParam)
{
    auto dc = reinterpret_cast<HDC>(wParam);
    if (TWinChild* child = TWinChild::FromHandle(reinterpret_cast<HWND>(lParam))) {
        SetTextColor(dc, child->TextColor());
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        SetBkMode(dc, TRANSPARENT);
        return reinterpret_cast<LRESULT>(child->Background());
    }
    return DefWindowProcW(parent, msg, wParam, lParam);
}

static HWND NewChildWindow(const wchar_t* cls, const wchar_t* text, DWORD style, HWND parent, int id, RECT r,
                           DWORD exStyle = 0)
{
    return CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_CLIPSIBLINGS | style, r.left, r.top, r.right - r.left,
                           r.bottom - r.top, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           GetModuleHandleW(nullptr), nullptr);
}

// ---- label

TWinLabel::TWinLabel(HWND parent, int id, RECT r, HFONT font, DWORD align)
{
    Attach(NewChildWindow(L"STATIC", L"", WS_VISIBLE | SS_NOPREFIX | align, parent, id, r), font);
}

void TWinLabel::SetText(const std::string& text)
{
    FText = text;
    SetWindowTextW(FHandle, Utf8ToUtf16(text).c_str());
}

void TWinLabel::SetFontColor(TColor c)
{
    FColor = c;
    InvalidateRect(FHandle, nullptr, TRUE);
}

TWinLine::TWinLine(HWND parent, int id, RECT r, TColor color) : FColor(color)
{
    Attach(NewChildWindow(L"STATIC", L"", WS_VISIBLE | SS_LEFT, parent, id, r), nullptr);
}

// ---- button

TWinButton::TWinButton(HWND parent, int id, RECT r, HFONT font)
{
    // BS_NOTIFY: focus changes arrive as BN_SETFOCUS / BN_KILLFOCUS (below).
    Attach(NewChildWindow(L"BUTTON", L"", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON | BS_NOTIFY, parent, id, r), font);
}

void TWinButton::SetText(const std::string& text)
{
    SetWindowTextW(FHandle, Utf8ToUtf16(text).c_str());
}

void TWinButton::OnCommand(WORD code)
{
    // As in a dialog box, the focused push button is the default one: it shows the heavy border that says Enter
    // presses it. The window is no dialog (no DefDlgProc moves that border), so the button does it itself.
    if (code == BN_SETFOCUS || code == BN_KILLFOCUS)
        SendMessageW(FHandle, BM_SETSTYLE, code == BN_SETFOCUS ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
    if (code == BN_CLICKED && Enabled() && FOnClick)
        FOnClick();
}

// ---- progress bar

TWinProgressBar::TWinProgressBar(HWND parent, int id, RECT r)
{
    Attach(NewChildWindow(PROGRESS_CLASSW, L"", WS_VISIBLE, parent, id, r), nullptr);
    SendMessageW(FHandle, PBM_SETRANGE32, 0, 1000);
    SendMessageW(FHandle, PBM_SETPOS, 0, 0);
}

void TWinProgressBar::SetMarquee(bool on)
{
    if (on == FMarquee)
        return;
    FMarquee = on;
    const LONG_PTR style = GetWindowLongPtrW(FHandle, GWL_STYLE);
    if (on) {
        SetWindowLongPtrW(FHandle, GWL_STYLE, style | PBS_MARQUEE);
        SendMessageW(FHandle, PBM_SETMARQUEE, TRUE, 30);
    } else {
        SendMessageW(FHandle, PBM_SETMARQUEE, FALSE, 0);
        SetWindowLongPtrW(FHandle, GWL_STYLE, style & ~static_cast<LONG_PTR>(PBS_MARQUEE));
        SendMessageW(FHandle, PBM_SETRANGE32, 0, 1000);
        SendMessageW(FHandle, PBM_SETPOS, static_cast<WPARAM>(FPosition), 0);
    }
    InvalidateRect(FHandle, nullptr, TRUE);
}

void TWinProgressBar::SetPosition(int position)
{
    FPosition = std::clamp(position, 0, 1000);
    if (!FMarquee)
        SendMessageW(FHandle, PBM_SETPOS, static_cast<WPARAM>(FPosition), 0);
}

// ---- timer

TWinTimer::~TWinTimer()
{
    if (FEnabled && IsWindow(FOwner))
        KillTimer(FOwner, FId);
}

void TWinTimer::SetEnabled(bool on)
{
    if (on == FEnabled)
        return;
    FEnabled = on;
    if (on)
        SetTimer(FOwner, FId, 100, nullptr);
    else
        KillTimer(FOwner, FId);
}

void TWinTimer::Fire()
{
    // A WM_TIMER already queued when the timer was disabled must not run the handler.
    if (FEnabled && FOnTimer)
        FOnTimer();
}

// ---- image

static LRESULT CALLBACK ImageProc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_ERASEBKGND:
        return 1; // WM_PAINT fills the whole area
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(h, &ps);
        if (auto* image = dynamic_cast<TWinImage*>(TWinChild::FromHandle(h)))
            image->Paint(dc);
        EndPaint(h, &ps);
        return 0;
    }
    case WM_NCHITTEST:
        return HTTRANSPARENT; // clicks go to the row or the window beneath
    }
    return DefWindowProcW(h, msg, wParam, lParam);
}

TWinImage::TWinImage(HWND parent, int id, RECT r, std::shared_ptr<TWinBitmap> picture, bool centred)
    : FPicture(std::move(picture)), FCentred(centred)
{
    Attach(NewChildWindow(NERID_IMAGE_CLASS, L"", WS_VISIBLE, parent, id, r), nullptr);
}

void TWinImage::SetVisible(bool on)
{
    FVisible = on;
    ShowWindow(FHandle, on ? SW_SHOWNA : SW_HIDE);
}

void TWinImage::Paint(HDC dc)
{
    RECT r;
    GetClientRect(FHandle, &r);
    FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
    if (!FPicture)
        return;
    int x = 0, y = 0;
    if (FCentred) {
        x = (r.right - FPicture->Width()) / 2;
        y = (r.bottom - FPicture->Height()) / 2;
    }
    FPicture->Draw(dc, x, y);
}

// ---- check box

TWinCheckBox::TWinCheckBox(TWinRowPanel& row, RECT r, HFONT font) : FRow(row)
{
    Attach(NewChildWindow(L"BUTTON", L"",
                          WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX | BS_MULTILINE | BS_LEFTTEXT | BS_RIGHTBUTTON |
                              BS_VCENTER,
                          row.Handle(), IDC_ROWCHECK, r),
           font);
    // Themed check boxes draw their text in the theme's colour; unthemed ones take WM_CTLCOLORSTATIC's.
    SetWindowTheme(FHandle, L"", L"");
    SetWindowSubclass(FHandle, Subclass, 1, reinterpret_cast<DWORD_PTR>(this));
}

TWinCheckBox::~TWinCheckBox()
{
    if (IsWindow(FHandle))
        RemoveWindowSubclass(FHandle, Subclass, 1);
}

LRESULT CALLBACK TWinCheckBox::Subclass(HWND h, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR self)
{
    switch (msg) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_LBUTTONUP:
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_CHAR:
    case BM_CLICK:
        if (!reinterpret_cast<TWinCheckBox*>(self)->Reacts())
            return 0;
        break;
    }
    return DefSubclassProc(h, msg, wParam, lParam);
}

void TWinCheckBox::SetText(const std::string& text)
{
    FText = text;
    SetWindowTextW(FHandle, Utf8ToUtf16(text).c_str());
}

bool TWinCheckBox::Checked() const
{
    return SendMessageW(FHandle, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TWinCheckBox::SetChecked(bool on)
{
    if (on == Checked())
        return;
    SendMessageW(FHandle, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
    if (FOnClick)
        FOnClick();
}

void TWinCheckBox::SetEnabled(bool on)
{
    FEnabled = on;
    Sync();
}

bool TWinCheckBox::Reacts() const
{
    return FEnabled && FRow.Enabled();
}

void TWinCheckBox::Sync()
{
    EnableWindow(FHandle, FEnabled || !FRow.Enabled());
}

void TWinCheckBox::SetFontColor(TColor c)
{
    FColor = c;
    InvalidateRect(FHandle, nullptr, TRUE);
}

COLORREF TWinCheckBox::TextColor() const
{
    return ToColorRef(FColor);
}

void TWinCheckBox::OnCommand(WORD code)
{
    // An auto check box has already changed its state when it notifies.
    if (code == BN_CLICKED && FOnClick)
        FOnClick();
}

// ---- row panel

LRESULT CALLBACK TWinRowPanel::Proc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_COMMAND:
        if (TWinChild* child = TWinChild::FromHandle(reinterpret_cast<HWND>(lParam)))
            child->OnCommand(HIWORD(wParam));
        return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        return CtlColorFromChild(h, msg, wParam, lParam);
    case WM_SIZE:
        if (auto* row = dynamic_cast<TWinRowPanel*>(TWinChild::FromHandle(h)))
            row->LayOut();
        return 0;
    }
    return DefWindowProcW(h, msg, wParam, lParam);
}

TWinRowPanel::TWinRowPanel(TWinRowList& list, HFONT font) : FList(list), FFont(font)
{
    Attach(NewChildWindow(NERID_ROW_CLASS, L"", WS_VISIBLE | WS_CLIPCHILDREN, list.Handle(), 0,
                          RECT{0, 0, 0, list.RowHeight()},
                          WS_EX_CONTROLPARENT),
           nullptr);
}

TWinRowPanel::~TWinRowPanel()
{
    FCheck.reset();
    FImage.reset();
    if (IsWindow(FHandle))
        SetWindowLongPtrW(FHandle, GWLP_USERDATA, 0);
}

void TWinRowPanel::SetEnabled(bool on)
{
    FEnabled = on;
    EnableWindow(FHandle, on);
    if (FCheck)
        FCheck->Sync();
}

void TWinRowPanel::SetTop(int top)
{
    FList.MoveTop(this, top);
}

IImage* TWinRowPanel::NewImage(const IImage& source)
{
    FImage = std::make_unique<TWinImage>(FHandle, IDC_ROWIMAGE, RECT{}, dynamic_cast<const TWinImage&>(source).Picture(),
                                         true);
    LayOut();
    return FImage.get();
}

ICheckBox* TWinRowPanel::NewCheckBox()
{
    FCheck = std::make_unique<TWinCheckBox>(*this, RECT{}, FFont);
    LayOut();
    return FCheck.get();
}

void TWinRowPanel::SetFont(HFONT font)
{
    FFont = font;
    if (FCheck)
        SendMessageW(FCheck->Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    LayOut();
}

void TWinRowPanel::LayOut()
{
    RECT r;
    GetClientRect(FHandle, &r);
    int x = 0;
    if (FImage) {
        const int w = FImage->Picture() ? FImage->Picture()->Width() : 0;
        MoveWindow(FImage->Handle(), 0, 0, w, r.bottom, TRUE);
        x = w + ScaleToDpi(5, FList.Dpi());
    }
    if (FCheck)
        MoveWindow(FCheck->Handle(), x, 0, std::max(0, static_cast<int>(r.right) - x), r.bottom, TRUE);
}

// ---- row list

LRESULT CALLBACK TWinRowList::Proc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam)
{
    auto* list = dynamic_cast<TWinRowList*>(TWinChild::FromHandle(h));
    switch (msg) {
    case WM_SIZE:
        if (list)
            list->LayOut();
        return 0;
    case WM_VSCROLL:
        if (list) {
            SCROLLINFO si{};
            si.cbSize = sizeof(si);
            si.fMask = SIF_ALL;
            GetScrollInfo(h, SB_VERT, &si);
            int pos = si.nPos;
            switch (LOWORD(wParam)) {
            case SB_LINEUP: pos -= list->RowHeight() / 2; break;
            case SB_LINEDOWN: pos += list->RowHeight() / 2; break;
            case SB_PAGEUP: pos -= static_cast<int>(si.nPage); break;
            case SB_PAGEDOWN: pos += static_cast<int>(si.nPage); break;
            case SB_THUMBTRACK:
            case SB_THUMBPOSITION: pos = si.nTrackPos; break;
            case SB_TOP: pos = 0; break;
            case SB_BOTTOM: pos = si.nMax; break;
            }
            list->ScrollTo(pos);
        }
        return 0;
    case WM_MOUSEWHEEL:
        if (list)
            list->ScrollTo(list->FScroll - GET_WHEEL_DELTA_WPARAM(wParam) * list->RowHeight() / WHEEL_DELTA);
        return 0;
    }
    return DefWindowProcW(h, msg, wParam, lParam);
}

TWinRowList::TWinRowList(HWND parent, int id, RECT r, HFONT font) : FFont(font)
{
    Attach(NewChildWindow(NERID_ROWLIST_CLASS, L"", WS_VISIBLE | WS_CLIPCHILDREN | WS_VSCROLL, parent, id, r,
                          WS_EX_CONTROLPARENT),
           nullptr);
    LayOut();
}

TWinRowList::~TWinRowList()
{
    FRows.clear();
    if (IsWindow(FHandle))
        SetWindowLongPtrW(FHandle, GWLP_USERDATA, 0);
}

void TWinRowList::SetDpi(int dpi, HFONT font)
{
    FScroll = MulDiv(FScroll, dpi, FDpi);
    FDpi = dpi;
    FFont = font;
    for (auto& row : FRows)
        row->SetFont(font);
    LayOut();
}

IRowPanel* TWinRowList::NewRow()
{
    FRows.push_back(std::make_unique<TWinRowPanel>(*this, FFont));
    LayOut();
    return FRows.back().get();
}

std::vector<TWinRowPanel*> TWinRowList::Rows() const
{
    std::vector<TWinRowPanel*> rows;
    for (const auto& r : FRows)
        rows.push_back(r.get());
    return rows;
}

void TWinRowList::MoveTop(TWinRowPanel* row, int top)
{
    auto it = std::find_if(FRows.begin(), FRows.end(), [row](const auto& r) { return r.get() == row; });
    if (it == FRows.end())
        return;
    std::unique_ptr<TWinRowPanel> moved = std::move(*it);
    const int oldIndex = static_cast<int>(it - FRows.begin());
    FRows.erase(it);
    // The others' tops as they are laid out now (the moved row's slot still counted).
    size_t at = FRows.size();
    for (size_t i = 0; i < FRows.size(); ++i) {
        const int index = static_cast<int>(i) < oldIndex ? static_cast<int>(i) : static_cast<int>(i) + 1;
        if (index * TWinRowPanel::Height >= top) {
            at = i;
            break;
        }
    }
    FRows.insert(FRows.begin() + static_cast<std::ptrdiff_t>(at), std::move(moved));
    LayOut();
}

void TWinRowList::ScrollTo(int pos)
{
    RECT r;
    GetClientRect(FHandle, &r);
    const int content = static_cast<int>(FRows.size()) * RowHeight();
    FScroll = std::clamp(pos, 0, std::max(0, content - static_cast<int>(r.bottom)));
    LayOut();
}

void TWinRowList::LayOut()
{
    if (FLayingOut)
        return;
    FLayingOut = true;
    RECT r;
    GetClientRect(FHandle, &r);
    const int content = static_cast<int>(FRows.size()) * RowHeight();
    // Showing or hiding the scroll bar changes the client width: set it first, then measure again.
    SCROLLINFO si{};
    si.cbSize = sizeof(si);
    si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    if (content > r.bottom) {
        si.nMax = content - 1;
        si.nPage = static_cast<UINT>(r.bottom);
    }
    FScroll = std::clamp(FScroll, 0, std::max(0, content - static_cast<int>(r.bottom)));
    si.nPos = FScroll;
    SetScrollInfo(FHandle, SB_VERT, &si, TRUE);
    GetClientRect(FHandle, &r);
    const int width = std::max(0, static_cast<int>(r.right) - ScaleToDpi(5, FDpi));
    for (size_t i = 0; i < FRows.size(); ++i)
        MoveWindow(FRows[i]->Handle(), 0, static_cast<int>(i) * RowHeight() - FScroll, width, RowHeight(), TRUE);
    FLayingOut = false;
}

// ---- classes

void RegisterWinControlClasses()
{
    static std::once_flag once;
    std::call_once(once, [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512) /* IDC_ARROW */);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpfnWndProc = ImageProc;
        wc.lpszClassName = NERID_IMAGE_CLASS;
        RegisterClassExW(&wc);
        wc.lpfnWndProc = TWinRowPanel::Proc;
        wc.lpszClassName = NERID_ROW_CLASS;
        RegisterClassExW(&wc);
        wc.lpfnWndProc = TWinRowList::Proc;
        wc.lpszClassName = NERID_ROWLIST_CLASS;
        RegisterClassExW(&wc);
    });
}
