// Qt 6 Widgets implementations of the window's control interfaces (app/window/controls.h).
// Main thread only. Every control is a widget created with a parent, so Qt's object tree owns it: the pointers handed
// to the window logic stay valid until the main window is destroyed. Texts are UTF-8 at the interface.
#pragma once

#include "app/qt/dock_layout.h"
#include "app/window/controls.h"

#include <QAbstractButton>
#include <QColor>
#include <QLabel>
#include <QPalette>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <string>
#include <utility>
#include <vector>

// The colour `c` stands for, system colours taken from `p`:
//   BtnFace → Button, WindowText → WindowText, GrayText → WindowText of the Disabled group,
//   ActiveCaptionGradient → Highlight of the Active group, InactiveCaptionGradient → Mid of the Inactive group.
QColor ToQColor(TColor c, const QPalette& p);

// Qt's owning `new`: one of `args` is the parent, which takes ownership of the new widget, layout or timer; it lives
// until the parent goes. The one place where the adapter allocates.
template <class T, class... Args>
T* NewChild(Args&&... args)
{
    return new T(std::forward<Args>(args)...);
}

class TQtLabel : public QLabel, public ILabel {
public:
    explicit TQtLabel(QWidget* parent);
    void SetText(const std::string& text) override;
    std::string Text() const override { return FText; }
    void SetFontColor(TColor c) override;

private:
    std::string FText;
};

class TQtButton : public QPushButton, public IButton {
public:
    explicit TQtButton(QWidget* parent);
    void SetText(const std::string& text) override;
    void SetEnabled(bool on) override { setEnabled(on); }
    bool Enabled() const override { return !testAttribute(Qt::WA_ForceDisabled); }
    void SetOnClick(std::function<void()> handler) override { FOnClick = std::move(handler); }

private:
    std::function<void()> FOnClick;
};

// Normal mode shows the position in 0..1000; marquee mode is Qt's busy indicator (range 0..0). The position is kept
// across marquee mode and shown again when it ends.
class TQtProgressBar : public QProgressBar, public IProgressBar {
public:
    explicit TQtProgressBar(QWidget* parent);
    void SetMarquee(bool on) override;
    bool Marquee() const override { return FMarquee; }
    void SetPosition(int position) override;
    int Position() const override { return FPosition; }

private:
    bool FMarquee = false;
    int FPosition = 0;
};

// A 100 ms QTimer that never fires early. Enabling a running timer leaves it running (it does not restart the interval).
class TQtTimer : public QTimer, public ITimer {
public:
    explicit TQtTimer(QObject* parent);
    void SetEnabled(bool on) override;
    bool Enabled() const override { return isActive(); }
    void SetOnTimer(std::function<void()> handler) override { FOnTimer = std::move(handler); }

private:
    std::function<void()> FOnTimer;
};

// A picture drawn in the image's area, centred unless SetAlignment says otherwise, never greyed (a disabled row keeps
// its icon). Visible() is the image's own flag (true once shown, even while its window is not on screen yet).
class TQtImage : public QWidget, public IImage {
public:
    TQtImage(const QPixmap& picture, QWidget* parent);
    void SetVisible(bool on) override;
    bool Visible() const override { return FVisible; }
    const QPixmap& Picture() const { return FPicture; }
    void SetAlignment(Qt::Alignment a);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    Qt::Alignment FAlignment = Qt::AlignCenter;
    QPixmap FPicture;
    bool FVisible = true;
};

// The row's check box: the wrapped text on the left in the font colour, the box at the right end, vertically centred.
// The whole area is the button, so a click on the text toggles the box; every change of state (click, keyboard,
// SetChecked) runs the click handler once, and setting the state it already has runs nothing. The text keeps its
// colour while disabled (a finished row shows its result in green or red).
class TQtCheckBox : public QAbstractButton, public ICheckBox {
public:
    explicit TQtCheckBox(QWidget* parent);
    void SetText(const std::string& text) override;
    std::string Text() const override { return FText; }
    void SetChecked(bool on) override { setChecked(on); }
    bool Checked() const override { return isChecked(); }
    void SetEnabled(bool on) override { setEnabled(on); }
    bool Enabled() const override { return !testAttribute(Qt::WA_ForceDisabled); }
    void SetFontColor(TColor c) override;
    void SetOnClick(std::function<void()> handler) override { FOnClick = std::move(handler); }

    QColor FontColor() const { return FColor; }
    // Where the box is drawn, in widget coordinates.
    QRect IndicatorRect() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QRect TextRect() const;

    std::string FText;
    QColor FColor;
    std::function<void()> FOnClick;
};

// One device row: 41 pixels high, docked to the top of the list; the icon on the left, the check box filling the rest.
class TQtRowPanel : public QWidget, public IRowPanel {
public:
    // `list` is the layout of the list's content widget (the parent), which keeps the rows in order.
    TQtRowPanel(TDockLayout* list, QWidget* parent);
    void SetCaption(const std::string& text) override { FCaption = text; }
    std::string Caption() const override { return FCaption; }
    void SetTag(std::int32_t tag) override { FTag = tag; }
    std::int32_t Tag() const override { return FTag; }
    void SetEnabled(bool on) override { setEnabled(on); }
    bool Enabled() const override { return !testAttribute(Qt::WA_ForceDisabled); }
    void SetTop(int top) override { FList->MoveTop(this, top); }
    // `source` must be one of this adapter's images.
    IImage* NewImage(const IImage& source) override;
    ICheckBox* NewCheckBox() override;

    static constexpr int Height = 41;

private:
    TDockLayout* FList;
    TDockLayout* FLayout;
    std::string FCaption;
    std::int32_t FTag = 0;
};

// The scrolling device list: no frame, no horizontal scroll bar, 5 pixels of inner spacing on the right; a vertical
// scroll bar appears as soon as the rows need more than its height.
class TQtRowList : public QScrollArea, public IRowList {
public:
    explicit TQtRowList(QWidget* parent);
    IRowPanel* NewRow() override;
    // The rows from the top down.
    std::vector<TQtRowPanel*> Rows() const;

private:
    QWidget* FContent;
    TDockLayout* FLayout;
};
