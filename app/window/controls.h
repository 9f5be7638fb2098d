// The small control interfaces the updater window drives; each toolkit adapter (GTK, Win32) implements them and lays
// the controls out. All calls happen on the main (GUI) thread. Texts are UTF-8.
// Ownership: the adapter owns every control; the window logic holds plain non-owning pointers that stay valid until
// the window is destroyed (rows included: they live as long as the window).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// A colour: either one of the system's colours or a fixed RGB value.
enum class TSysColor { None, BtnFace, WindowText, GrayText, ActiveCaptionGradient, InactiveCaptionGradient };

struct TColor {
    TSysColor sys = TSysColor::None; // None: use r, g, b
    std::uint8_t r = 0, g = 0, b = 0;

    static TColor System(TSysColor c) { return TColor{c, 0, 0, 0}; }
    static TColor Rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) { return TColor{TSysColor::None, r, g, b}; }
    bool operator==(const TColor&) const = default;
};

class ILabel {
public:
    virtual ~ILabel() = default;
    virtual void SetText(const std::string& text) = 0;
    virtual std::string Text() const = 0;
    virtual void SetFontColor(TColor c) = 0;
};

class IButton {
public:
    virtual ~IButton() = default;
    virtual void SetText(const std::string& text) = 0;
    virtual void SetEnabled(bool on) = 0;
    virtual bool Enabled() const = 0;
    // Called on a user's click (only while enabled).
    virtual void SetOnClick(std::function<void()> handler) = 0;
};

// Range 0..1000. In marquee mode the bar moves endlessly and shows no position.
class IProgressBar {
public:
    virtual ~IProgressBar() = default;
    virtual void SetMarquee(bool on) = 0;
    virtual bool Marquee() const = 0;
    virtual void SetPosition(int position) = 0;
    virtual int Position() const = 0;
};

// A 100 ms timer; its handler runs from the event loop while it is enabled. The window's handlers disable their own
// timer first, which makes each a one-shot.
class ITimer {
public:
    virtual ~ITimer() = default;
    virtual void SetEnabled(bool on) = 0;
    virtual bool Enabled() const = 0;
    virtual void SetOnTimer(std::function<void()> handler) = 0;
};

// An image holding a picture (a logo, the device icon).
class IImage {
public:
    virtual ~IImage() = default;
    virtual void SetVisible(bool on) = 0;
    virtual bool Visible() const = 0;
};

// The row's check box: its text wraps, sits left of the box and takes the font colour; a click on the text toggles it.
class ICheckBox {
public:
    virtual ~ICheckBox() = default;
    virtual void SetText(const std::string& text) = 0;
    virtual std::string Text() const = 0;
    // A change of state (by the user or by this call) runs the click handler; setting the same state runs nothing.
    virtual void SetChecked(bool on) = 0;
    virtual bool Checked() const = 0;
    virtual void SetEnabled(bool on) = 0;
    virtual bool Enabled() const = 0;
    virtual void SetFontColor(TColor c) = 0;
    virtual void SetOnClick(std::function<void()> handler) = 0;
};

// One row panel (41 pixels high, docked to the top of the list). Its caption and tag are stored, not drawn.
class IRowPanel {
public:
    virtual ~IRowPanel() = default;
    virtual void SetCaption(const std::string& text) = 0;
    virtual std::string Caption() const = 0;
    virtual void SetTag(std::int32_t tag) = 0;
    virtual std::int32_t Tag() const = 0;
    // A disabled panel makes the whole row inert.
    virtual void SetEnabled(bool on) = 0;
    virtual bool Enabled() const = 0;
    // Top coordinate; docking keeps rows ordered by it (-10 puts a row above all others).
    virtual void SetTop(int top) = 0;
    // The row's icon: a copy of the picture of `source`, left, vertically centred, right margin 5.
    virtual IImage* NewImage(const IImage& source) = 0;
    // The check box filling the rest of the row.
    virtual ICheckBox* NewCheckBox() = 0;
};

// The scrolling device list; rows stack from the top and a vertical scroll bar appears when they overflow.
class IRowList {
public:
    virtual ~IRowList() = default;
    virtual IRowPanel* NewRow() = 0;
};

// The main window itself.
class IWindow {
public:
    virtual ~IWindow() = default;
    virtual void SetCaption(const std::string& text) = 0;
    virtual std::string Caption() const = 0;
    // The window's own background: shows as the thin frame around the content.
    virtual void SetColor(TColor c) = 0;
    virtual void Close() = 0;
};

// Every control of the window, created by the adapter before the window logic; all pointers but lblAccess are non-null.
struct TWindowControls {
    IWindow* window = nullptr;
    ILabel* lblCDevices = nullptr;
    ILabel* lblStateC = nullptr;
    ILabel* lblState = nullptr;
    IButton* btnProg = nullptr;
    IButton* btnCancel = nullptr;
    IProgressBar* pgbMain = nullptr;
    IImage* imgLogoEN = nullptr;
    IImage* imgLogoRU = nullptr;
    IImage* imgDev = nullptr;
    IRowList* pnlData = nullptr;
    ITimer* tmrStartSearch = nullptr;
    ITimer* tmrStopSearch = nullptr;
    ITimer* tmrStartProg = nullptr;
    ITimer* tmrStopProg = nullptr;
    // Optional (nullptr: not shown). The line under the status for a port this user may not open; empty text when
    // there is none. Only the Linux window has it: elsewhere a refused port reads as busy.
    ILabel* lblAccess = nullptr;
};
