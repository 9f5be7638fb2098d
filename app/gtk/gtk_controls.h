// GTK 3 implementations of the window's control interfaces (app/window/controls.h).
// Main thread only. The GTK widgets belong to the window's widget tree; the C++ objects belong to TGtkMainWindow (rows
// to their list) and hold plain pointers into that tree, which the window keeps alive until its own destructor.
// Texts are UTF-8 at the interface; sizes are in the design's pixels (GTK scales them for a high-DPI screen).
#pragma once

#include "app/gtk/pictures.h"
#include "app/window/controls.h"

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// The colour `c` stands for; system colours come from the theme of `w`:
//   BtnFace → theme_bg_color, WindowText → theme_fg_color, GrayText → insensitive_fg_color,
//   ActiveCaptionGradient → theme_selected_bg_color, InactiveCaptionGradient → borders.
GdkRGBA ToRgba(TColor c, GtkWidget* w);
// A light shade of the theme (the bright half of etched lines).
GdkRGBA LightColor(GtkWidget* w);

// Texts carry Windows line breaks ("\r\n"); GTK would show the "\r".
std::string DisplayText(const std::string& text);

// A GtkLabel showing plain text (never markup: texts include the device's name from the package).
class TGtkLabel : public ILabel {
public:
    explicit TGtkLabel(const char* name);
    void SetText(const std::string& text) override;
    std::string Text() const override { return FText; }
    void SetFontColor(TColor c) override;

    GtkWidget* Widget() const { return FLabel; }
    // The colour the text is drawn in (set by SetFontColor; the theme's text colour before).
    GdkRGBA FontColor() const { return FColor; }

private:
    GtkWidget* FLabel;
    std::string FText;
    GdkRGBA FColor;
};

class TGtkButton : public IButton {
public:
    explicit TGtkButton(const char* name);
    void SetText(const std::string& text) override;
    void SetEnabled(bool on) override { gtk_widget_set_sensitive(FButton, on); }
    bool Enabled() const override { return gtk_widget_get_sensitive(FButton); }
    void SetOnClick(std::function<void()> handler) override { FOnClick = std::move(handler); }

    GtkWidget* Widget() const { return FButton; }
    std::string Label() const;

private:
    GtkWidget* FButton;
    std::function<void()> FOnClick;
};

// Normal mode shows the position in 0..1000; marquee mode pulses (every 40 ms) and shows no position, which is kept
// and shown again when the marquee ends.
class TGtkProgressBar : public IProgressBar {
public:
    explicit TGtkProgressBar(const char* name);
    ~TGtkProgressBar() override;
    void SetMarquee(bool on) override;
    bool Marquee() const override { return FPulse != 0; }
    void SetPosition(int position) override;
    int Position() const override { return FPosition; }

    GtkWidget* Widget() const { return FBar; }

private:
    GtkWidget* FBar;
    guint FPulse = 0; // the pulse timer while in marquee mode
    int FPosition = 0;
};

// A 100 ms GLib timeout on the main context; a timeout never fires before its interval has passed. Enabling a running
// timer leaves it running (it does not restart the interval); the handler runs every 100 ms while enabled.
class TGtkTimer : public ITimer {
public:
    TGtkTimer() = default;
    ~TGtkTimer() override;
    TGtkTimer(const TGtkTimer&) = delete;
    TGtkTimer& operator=(const TGtkTimer&) = delete;
    void SetEnabled(bool on) override;
    bool Enabled() const override { return FSource != 0; }
    void SetOnTimer(std::function<void()> handler) override { FOnTimer = std::move(handler); }

    static constexpr guint IntervalMs = 100;

private:
    static gboolean OnTimeout(gpointer self);
    guint FSource = 0;
    std::function<void()> FOnTimer;
};

// A picture drawn with cairo at the widget's scale (sharp on a high-DPI screen), top-left or centred in its area, never
// greyed (a disabled row keeps its icon). Visible() is the image's own flag, whether or not its window is shown.
class TGtkImage : public IImage {
public:
    TGtkImage(TPicture picture, bool centred, const char* name);
    void SetVisible(bool on) override;
    bool Visible() const override { return FVisible; }

    TPicture Picture() const { return FPicture; }
    GtkWidget* Widget() const { return FArea; }

private:
    static gboolean OnDraw(GtkWidget* w, cairo_t* cr, gpointer self);
    GtkWidget* FArea;
    TPicture FPicture;
    bool FCentred;
    bool FVisible = true;
};

// The row's check box: the wrapped text on the left in the font colour (kept while disabled: a finished row shows its
// result in green or red), the box at the right end, vertically centred. The whole area is the button, so a click on
// the text toggles the box; every change of state (click, keyboard, SetChecked) runs the click handler once, and
// setting the state it already has runs nothing.
class TGtkCheckBox : public ICheckBox {
public:
    TGtkCheckBox();
    void SetText(const std::string& text) override;
    std::string Text() const override { return FText; }
    void SetChecked(bool on) override;
    bool Checked() const override;
    void SetEnabled(bool on) override { gtk_widget_set_sensitive(FBox, on); }
    bool Enabled() const override { return gtk_widget_get_sensitive(FBox); }
    void SetFontColor(TColor c) override;
    void SetOnClick(std::function<void()> handler) override { FOnClick = std::move(handler); }

    GtkWidget* Widget() const { return FBox; }
    GtkWidget* TextLabel() const { return FLabel; }
    GdkRGBA FontColor() const { return FColor; }
    bool HasFontColor() const { return FHasColor; }

private:
    GtkWidget* FBox;
    GtkWidget* FLabel;
    std::string FText;
    GdkRGBA FColor{0, 0, 0, 1};
    bool FHasColor = false;
    std::function<void()> FOnClick;
};

class TGtkRowList;

// One device row: 41 pixels high; the icon on the left (right margin 5), the check box filling the rest.
class TGtkRowPanel : public IRowPanel {
public:
    explicit TGtkRowPanel(TGtkRowList& list);
    void SetCaption(const std::string& text) override { FCaption = text; }
    std::string Caption() const override { return FCaption; }
    void SetTag(std::int32_t tag) override { FTag = tag; }
    std::int32_t Tag() const override { return FTag; }
    void SetEnabled(bool on) override { gtk_widget_set_sensitive(FRow, on); }
    bool Enabled() const override { return gtk_widget_get_sensitive(FRow); }
    void SetTop(int top) override;
    // `source` must be one of this adapter's images.
    IImage* NewImage(const IImage& source) override;
    ICheckBox* NewCheckBox() override;

    GtkWidget* Widget() const { return FRow; }
    TGtkImage* Image() const { return FImage.get(); }
    TGtkCheckBox* CheckBox() const { return FCheck.get(); }

    static constexpr int Height = 41;

private:
    TGtkRowList& FList;
    GtkWidget* FRow;
    std::unique_ptr<TGtkImage> FImage;
    std::unique_ptr<TGtkCheckBox> FCheck;
    std::string FCaption;
    std::int32_t FTag = 0;
};

// The scrolling device list: no frame, no horizontal scroll bar, 5 pixels of inner spacing on the right; a vertical
// scroll bar (a classic one, beside the rows) appears as soon as the rows need more than its height. Keyboard focus
// moving through the rows scrolls the focused row into view.
class TGtkRowList : public IRowList {
public:
    explicit TGtkRowList(const char* name);
    IRowPanel* NewRow() override;

    GtkWidget* Widget() const { return FScroll; }
    // The rows from the top down.
    std::vector<TGtkRowPanel*> Rows() const;
    // Moves `row` before the first other row whose top is at or below `top` (rows are all the same height).
    void MoveTop(TGtkRowPanel& row, int top);

private:
    GtkWidget* FScroll;
    GtkWidget* FBox;
    std::vector<std::unique_ptr<TGtkRowPanel>> FRows;
};
