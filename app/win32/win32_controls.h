// Native Win32 implementations of the window's control interfaces (app/window/controls.h): static texts, push buttons,
// the progress bar, one-shot timers, PNG images, the device rows and their scrolling list.
// Main thread only (the thread that created the main window). Texts are UTF-8 at the interface and UTF-16 towards the
// system. Each object owns its window handle's C++ side; the handles themselves are destroyed with their parent
// window. Every child window stores its object in GWLP_USERDATA, so the parent's WM_COMMAND and WM_CTLCOLORSTATIC
// reach the object (TWinChild::FromHandle).
#pragma once

#include "app/window/controls.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

std::wstring Utf8ToUtf16(const std::string& utf8);
std::string Utf16ToUtf8(const std::wstring& utf16);

// The colour `c` stands for: system colours through GetSysColor (BtnFace COLOR_BTNFACE, WindowText COLOR_WINDOWTEXT,
// GrayText COLOR_GRAYTEXT, the caption gradients COLOR_GRADIENTACTIVECAPTION / COLOR_GRADIENTINACTIVECAPTION).
COLORREF ToColorRef(TColor c);

// A solid brush of a colour, cached for the life of the process (brushes of system colours come from the system).
HBRUSH BrushOf(TColor c);

// Registers the window classes of this adapter (idempotent); the main window calls it before creating children.
void RegisterWinControlClasses();

// Scales a length in pixels at 96 dots per inch to `dpi` (rounded to the nearest pixel).
inline int ScaleToDpi(int pixelsAt96, int dpi)
{
    return MulDiv(pixelsAt96, dpi, 96);
}

// The dots per inch of the monitor window `h` is on: GetDpiForWindow where the system has it (looked up at run time,
// Windows 10 1607 and later), else the screen's LOGPIXELSY.
int WindowDpi(HWND h);

// A premultiplied 32-bit picture with alpha, decoded from a PNG resource through WIC. Needs COM on the thread.
class TWinBitmap {
public:
    // The RCDATA resource `id` of the executable, drawn for `dpi` dots per inch (the PNG's own size at 96, scaled
    // from it with WIC's Fant filter otherwise); an empty picture (0 × 0) when it is missing or undecodable.
    static std::shared_ptr<TWinBitmap> FromResource(int id, int dpi = 96);
    // Decodes the picture again for `dpi`; every image showing it shows the new size once repainted.
    void Rescale(int dpi);
    ~TWinBitmap();
    TWinBitmap(const TWinBitmap&) = delete;
    TWinBitmap& operator=(const TWinBitmap&) = delete;

    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    // Blends the picture onto `dc` with its top-left corner at x, y.
    void Draw(HDC dc, int x, int y) const;

private:
    TWinBitmap() = default;
    void Decode(int dpi);
    int FResource = 0;
    HBITMAP FBitmap = nullptr;
    int FWidth = 0, FHeight = 0;
};

// The C++ side of a child window, found from its handle.
class TWinChild {
public:
    virtual ~TWinChild() = default;
    HWND Handle() const { return FHandle; }
    static TWinChild* FromHandle(HWND h);

    // A notification (WM_COMMAND code) from this control, delivered by its parent.
    virtual void OnCommand(WORD) {}
    // Text colour and background brush the parent answers WM_CTLCOLORSTATIC with.
    virtual COLORREF TextColor() const { return GetSysColor(COLOR_WINDOWTEXT); }
    virtual HBRUSH Background() const { return GetSysColorBrush(COLOR_BTNFACE); }

protected:
    // Takes over a created handle (stores this object in its GWLP_USERDATA) and gives it `font` when not null.
    void Attach(HWND h, HFONT font);
    HWND FHandle = nullptr;
};

// Answers WM_CTLCOLORSTATIC for a child of `parent`'s kind: colour and brush from the child's object.
LRESULT CtlColorFromChild(HWND parent, UINT msg, WPARAM wParam, LPARAM lParam);

// A static text (word-wrapped, no prefix characters) in its own colour on the button face.
class TWinLabel : public TWinChild, public ILabel {
public:
    TWinLabel(HWND parent, int id, RECT r, HFONT font, DWORD align = SS_LEFT);
    void SetText(const std::string& text) override;
    std::string Text() const override { return FText; }
    void SetFontColor(TColor c) override;
    COLORREF TextColor() const override { return ToColorRef(FColor); }

private:
    std::string FText;
    TColor FColor = TColor::System(TSysColor::WindowText);
};

// A one-pixel line in a fixed colour (one half of an etched separator).
class TWinLine : public TWinChild {
public:
    TWinLine(HWND parent, int id, RECT r, TColor color);
    HBRUSH Background() const override { return BrushOf(FColor); }

private:
    TColor FColor;
};

class TWinButton : public TWinChild, public IButton {
public:
    TWinButton(HWND parent, int id, RECT r, HFONT font);
    void SetText(const std::string& text) override;
    void SetEnabled(bool on) override { EnableWindow(FHandle, on); }
    bool Enabled() const override { return IsWindowEnabled(FHandle) != FALSE; }
    void SetOnClick(std::function<void()> handler) override { FOnClick = std::move(handler); }
    // BN_CLICKED runs the handler only while the button is enabled (a message sent to a disabled button does not);
    // BN_SETFOCUS / BN_KILLFOCUS make the button the default one while it has the focus.
    void OnCommand(WORD code) override;

private:
    std::function<void()> FOnClick;
};

// The progress bar (0..1000); marquee mode through PBS_MARQUEE (common controls 6). The position is kept across
// marquee mode and shown again when it ends.
class TWinProgressBar : public TWinChild, public IProgressBar {
public:
    TWinProgressBar(HWND parent, int id, RECT r);
    void SetMarquee(bool on) override;
    bool Marquee() const override { return FMarquee; }
    void SetPosition(int position) override;
    int Position() const override { return FPosition; }

private:
    bool FMarquee = false;
    int FPosition = 0;
};

// A 100 ms timer of the main window (SetTimer with its own id); WM_TIMER of the owner runs Fire(). Enabling a running
// timer leaves it running.
class TWinTimer : public ITimer {
public:
    TWinTimer(HWND owner, UINT_PTR id) : FOwner(owner), FId(id) {}
    ~TWinTimer() override;
    void SetEnabled(bool on) override;
    bool Enabled() const override { return FEnabled; }
    void SetOnTimer(std::function<void()> handler) override { FOnTimer = std::move(handler); }
    UINT_PTR Id() const { return FId; }
    void Fire();

private:
    HWND FOwner;
    UINT_PTR FId;
    bool FEnabled = false;
    std::function<void()> FOnTimer;
};

// A picture drawn with its alpha over the button face, centred in the image's area or at its top-left corner; never
// greyed. Visible() is the image's own flag (true once shown, even while its window is not on screen yet).
class TWinImage : public TWinChild, public IImage {
public:
    TWinImage(HWND parent, int id, RECT r, std::shared_ptr<TWinBitmap> picture, bool centred);
    void SetVisible(bool on) override;
    bool Visible() const override { return FVisible; }
    const std::shared_ptr<TWinBitmap>& Picture() const { return FPicture; }
    void Paint(HDC dc);

private:
    std::shared_ptr<TWinBitmap> FPicture;
    bool FCentred;
    bool FVisible = true;
};

class TWinRowPanel;

// The row's check box: BS_AUTOCHECKBOX | BS_MULTILINE | BS_LEFTTEXT | BS_RIGHTBUTTON, unthemed so that the text takes
// the row's colour. Every change of state (click, BM_CLICK, keyboard, SetChecked) runs the click handler once; setting
// the state it already has runs nothing. While the box or its row is disabled it ignores clicks and keys; in a
// disabled row the box's window itself stays enabled, so a result keeps its green or red.
class TWinCheckBox : public TWinChild, public ICheckBox {
public:
    TWinCheckBox(TWinRowPanel& row, RECT r, HFONT font);
    ~TWinCheckBox() override;
    void SetText(const std::string& text) override;
    std::string Text() const override { return FText; }
    void SetChecked(bool on) override;
    bool Checked() const override;
    void SetEnabled(bool on) override;
    bool Enabled() const override { return FEnabled; }
    void SetFontColor(TColor c) override;
    void SetOnClick(std::function<void()> handler) override { FOnClick = std::move(handler); }
    void OnCommand(WORD code) override;
    COLORREF TextColor() const override;

    // Whether clicks and keys act: the box and its row are both enabled.
    bool Reacts() const;
    // Brings the window's enabled state in line with the box's and the row's (see the class comment).
    void Sync();
    TColor FontColor() const { return FColor; }

private:
    static LRESULT CALLBACK Subclass(HWND h, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR self);

    TWinRowPanel& FRow;
    std::string FText;
    TColor FColor = TColor::System(TSysColor::WindowText);
    bool FEnabled = true;
    std::function<void()> FOnClick;
};

class TWinRowList;

// One device row, 41 pixels high at 96 dpi (the window logic's unit for SetTop), scaled by the list: the icon on the left (right margin 5), the check box filling the rest.
class TWinRowPanel : public TWinChild, public IRowPanel {
public:
    TWinRowPanel(TWinRowList& list, HFONT font);
    // The check box's font (the row does not own it); lays the row out again.
    void SetFont(HFONT font);
    ~TWinRowPanel() override;
    void SetCaption(const std::string& text) override { FCaption = text; }
    std::string Caption() const override { return FCaption; }
    void SetTag(std::int32_t tag) override { FTag = tag; }
    std::int32_t Tag() const override { return FTag; }
    void SetEnabled(bool on) override;
    bool Enabled() const override { return FEnabled; }
    void SetTop(int top) override;
    // `source` must be one of this adapter's images.
    IImage* NewImage(const IImage& source) override;
    ICheckBox* NewCheckBox() override;

    TWinCheckBox* CheckBox() const { return FCheck.get(); }
    // Places the icon and the check box for the row's current width.
    void LayOut();
    static LRESULT CALLBACK Proc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam);
    static constexpr int Height = 41;

private:
    TWinRowList& FList;
    HFONT FFont;
    std::string FCaption;
    std::int32_t FTag = 0;
    bool FEnabled = true;
    std::unique_ptr<TWinImage> FImage;
    std::unique_ptr<TWinCheckBox> FCheck;
};

// The scrolling device list: no border, no horizontal scroll bar, 5 pixels (at 96 dpi) of inner spacing on the right; the rows
// stack from the top in their order, and a vertical scroll bar appears as soon as they need more than its height.
class TWinRowList : public TWinChild, public IRowList {
public:
    TWinRowList(HWND parent, int id, RECT r, HFONT font);
    ~TWinRowList() override;
    IRowPanel* NewRow() override;
    // Scales the rows to `dpi` dots per inch and gives their check boxes `font` (not owned; it must outlive the
    // rows or be replaced again).
    void SetDpi(int dpi, HFONT font);
    // A row's height in pixels at the list's DPI.
    int RowHeight() const { return ScaleToDpi(TWinRowPanel::Height, FDpi); }
    int Dpi() const { return FDpi; }

    // The rows from the top down.
    std::vector<TWinRowPanel*> Rows() const;
    // Moves `row` before the first other row whose top is at or below `top` (content coordinates), else last.
    void MoveTop(TWinRowPanel* row, int top);
    void LayOut();
    static LRESULT CALLBACK Proc(HWND h, UINT msg, WPARAM wParam, LPARAM lParam);

private:
    void ScrollTo(int pos);

    HFONT FFont;
    int FDpi = 96;
    std::vector<std::unique_ptr<TWinRowPanel>> FRows; // in display order
    int FScroll = 0;                                  // pixels scrolled down
    bool FLayingOut = false;
};
