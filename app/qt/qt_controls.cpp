// Qt 6 Widgets controls of the updater window.
#include "app/qt/qt_controls.h"

#include <QFontMetrics>

#include <algorithm>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <QStylePainter>

QColor ToQColor(TColor c, const QPalette& p)
{
    switch (c.sys) {
    case TSysColor::None:
        return QColor(c.r, c.g, c.b);
    case TSysColor::BtnFace:
        return p.color(QPalette::Active, QPalette::Button);
    case TSysColor::WindowText:
        return p.color(QPalette::Active, QPalette::WindowText);
    case TSysColor::GrayText:
        return p.color(QPalette::Disabled, QPalette::WindowText);
    case TSysColor::ActiveCaptionGradient:
        return p.color(QPalette::Active, QPalette::Highlight);
    case TSysColor::InactiveCaptionGradient:
        return p.color(QPalette::Inactive, QPalette::Mid);
    }
    return p.color(QPalette::Active, QPalette::WindowText);
}

static QString FromUtf8(const std::string& s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// Texts carry Windows line breaks ("\r\n"); Qt draws a lone "\r" as a glyph.
static QString DisplayText(const std::string& s)
{
    return FromUtf8(s).replace(QLatin1String("\r\n"), QLatin1String("\n"));
}

// ---- label

TQtLabel::TQtLabel(QWidget* parent) : QLabel(parent)
{
    // Texts include the device's name from the package: never let it be read as markup.
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void TQtLabel::SetText(const std::string& text)
{
    FText = text;
    setText(DisplayText(text));
}

void TQtLabel::SetFontColor(TColor c)
{
    QPalette p = palette();
    p.setColor(QPalette::WindowText, ToQColor(c, p));
    setPalette(p);
}

// ---- button

TQtButton::TQtButton(QWidget* parent) : QPushButton(parent)
{
    connect(this, &QPushButton::clicked, this, [this] {
        if (FOnClick)
            FOnClick();
    });
}

void TQtButton::SetText(const std::string& text)
{
    setText(FromUtf8(text));
}

// ---- progress bar

TQtProgressBar::TQtProgressBar(QWidget* parent) : QProgressBar(parent)
{
    setRange(0, 1000);
    setValue(0);
    setTextVisible(false);
}

void TQtProgressBar::SetMarquee(bool on)
{
    if (on == FMarquee)
        return;
    FMarquee = on;
    if (on) {
        setRange(0, 0);
    } else {
        setRange(0, 1000);
        setValue(FPosition);
    }
}

void TQtProgressBar::SetPosition(int position)
{
    FPosition = std::clamp(position, 0, 1000);
    if (!FMarquee)
        setValue(FPosition);
}

// ---- timer

TQtTimer::TQtTimer(QObject* parent) : QTimer(parent)
{
    setInterval(100);
    // A coarse timer may fire up to 5 % early; the window's steps are "100 ms after".
    setTimerType(Qt::PreciseTimer);
    connect(this, &QTimer::timeout, this, [this] {
        if (FOnTimer)
            FOnTimer();
    });
}

void TQtTimer::SetEnabled(bool on)
{
    if (on && !isActive())
        start();
    else if (!on)
        stop();
}

// ---- image

TQtImage::TQtImage(const QPixmap& picture, QWidget* parent) : QWidget(parent), FPicture(picture)
{
    setFixedWidth(picture.width());
}

void TQtImage::SetAlignment(Qt::Alignment a)
{
    FAlignment = a;
    update();
}

void TQtImage::paintEvent(QPaintEvent*)
{
    const QRect at = QStyle::alignedRect(layoutDirection(), FAlignment, FPicture.size(), rect());
    QPainter(this).drawPixmap(at.topLeft(), FPicture);
}

void TQtImage::SetVisible(bool on)
{
    FVisible = on;
    setVisible(on);
}

// ---- check box

TQtCheckBox::TQtCheckBox(QWidget* parent) : QAbstractButton(parent)
{
    setCheckable(true);
    // Any width: the text wraps to what the row leaves (a button's default policy would not shrink below its text).
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    FColor = palette().color(QPalette::Active, QPalette::WindowText);
    connect(this, &QAbstractButton::toggled, this, [this](bool) {
        if (FOnClick)
            FOnClick();
    });
}

void TQtCheckBox::SetText(const std::string& text)
{
    FText = text;
    setText(DisplayText(text));
    update();
}

void TQtCheckBox::SetFontColor(TColor c)
{
    FColor = ToQColor(c, palette());
    update();
}

QRect TQtCheckBox::IndicatorRect() const
{
    const int w = style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, this);
    const int h = style()->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, this);
    return QRect(width() - w - 1, (height() - h) / 2, w, h);
}

QRect TQtCheckBox::TextRect() const
{
    const int spacing = style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, this);
    QRect r = rect();
    r.setRight(IndicatorRect().left() - 1 - spacing);
    return r;
}

QSize TQtCheckBox::sizeHint() const
{
    const QSize box(style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, this),
                    style()->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, this));
    const QSize t = fontMetrics().size(0, text());
    return {t.width() + box.width() + style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, this) + 1,
            std::max(t.height(), box.height())};
}

QSize TQtCheckBox::minimumSizeHint() const
{
    // Wrapping text fits any width; the row's height is fixed by the panel.
    return {style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, this) + 1, 0};
}

void TQtCheckBox::paintEvent(QPaintEvent*)
{
    QStylePainter p(this);
    QStyleOptionButton box;
    box.initFrom(this);
    box.rect = IndicatorRect();
    box.state |= isChecked() ? QStyle::State_On : QStyle::State_Off;
    if (isDown())
        box.state |= QStyle::State_Sunken;
    p.drawPrimitive(QStyle::PE_IndicatorCheckBox, box);

    const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap;
    p.setPen(FColor);
    QRect used;
    p.drawText(TextRect(), flags, text(), &used);
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = used.adjusted(-1, 0, 1, 0).intersected(rect());
        p.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}

// ---- row panel

TQtRowPanel::TQtRowPanel(TDockLayout* list, QWidget* parent)
    : QWidget(parent), FList(list), FLayout(NewChild<TDockLayout>(this))
{
    setFixedHeight(Height);
}

IImage* TQtRowPanel::NewImage(const IImage& source)
{
    auto* image = NewChild<TQtImage>(dynamic_cast<const TQtImage&>(source).Picture(), this);
    FLayout->AddWidget(image, TDock::Left, QMargins(0, 0, 5, 0));
    image->show();
    return image;
}

ICheckBox* TQtRowPanel::NewCheckBox()
{
    auto* box = NewChild<TQtCheckBox>(this);
    FLayout->AddWidget(box, TDock::Client);
    box->show();
    return box;
}

// ---- row list

TQtRowList::TQtRowList(QWidget* parent) : QScrollArea(parent)
{
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setWidgetResizable(true);
    FContent = NewChild<QWidget>(this); // setWidget below makes it the scrolled content
    FLayout = NewChild<TDockLayout>(FContent, QMargins(0, 0, 5, 0));
    setWidget(FContent);
    // The list shows the panel's colour, not the viewport's base colour.
    viewport()->setAutoFillBackground(false);
    FContent->setAutoFillBackground(false);
}

IRowPanel* TQtRowList::NewRow()
{
    auto* row = NewChild<TQtRowPanel>(FLayout, FContent);
    FLayout->AddWidget(row, TDock::Top);
    row->show();
    return row;
}

std::vector<TQtRowPanel*> TQtRowList::Rows() const
{
    std::vector<TQtRowPanel*> rows;
    for (int i = 0; i < FLayout->count(); ++i)
        if (auto* row = dynamic_cast<TQtRowPanel*>(FLayout->itemAt(i)->widget()))
            rows.push_back(row);
    return rows;
}
