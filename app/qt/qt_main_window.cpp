// The updater's main window in Qt 6 Widgets: the control tree, its docking and the application-level events.
#include "app/qt/qt_main_window.h"

#include <QCloseEvent>
#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QScreen>

// Pictures built into the library (pictures.qrc); a static library needs the explicit call.
static void InitPictures()
{
    Q_INIT_RESOURCE(pictures);
}

namespace {

constexpr int ClientWidth = 576, ClientHeight = 370;

// A panel whose background is its own button-face colour, whatever colour the window takes; its children inherit
// that palette, so no child shows the window's colour either.
class TFacePanel : public QWidget {
public:
    explicit TFacePanel(QWidget* parent) : QWidget(parent)
    {
        QPalette p = palette();
        p.setColor(QPalette::Window, ToQColor(TColor::System(TSysColor::BtnFace), p));
        setPalette(p);
        setAutoFillBackground(true);
    }
};

// A group box without caption: an etched frame (a shadow line with a light line inside and below it) whose top edge
// sits half a text line down, like a captioned one. Drawn by hand: styles fill group boxes with their own shade, and
// the box must show the panel's face.
class TGroupBox : public QWidget {
public:
    explicit TGroupBox(QWidget* parent) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        const QRect r = rect().adjusted(0, fontMetrics().height() / 2, 0, 0);
        p.setPen(palette().color(QPalette::Active, QPalette::Light));
        p.drawRect(r.adjusted(1, 1, -1, -1));
        p.setPen(palette().color(QPalette::Active, QPalette::Mid));
        p.drawRect(r.adjusted(0, 0, -2, -2));
    }
};

// A one-pixel horizontal line in a fixed colour.
class TLine : public QWidget {
public:
    TLine(QColor color, QWidget* parent) : QWidget(parent), FColor(color) { setFixedHeight(1); }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), FColor); }

private:
    QColor FColor;
};

template <class T, class... Args>
T* Named(const char* name, Args&&... args)
{
    T* w = NewChild<T>(std::forward<Args>(args)...);
    w->setObjectName(QLatin1String(name));
    return w;
}

QWidget* Panel(const char* name, QWidget* parent, QMargins padding = {})
{
    auto* w = Named<QWidget>(name, parent);
    NewChild<TDockLayout>(w, padding);
    return w;
}

TDockLayout& Dock(QWidget* w)
{
    return *static_cast<TDockLayout*>(w->layout());
}

QFont BoldFont(QFont f)
{
    f.setBold(true);
    return f;
}

} // namespace

QFont WindowFont()
{
    static const QString family = [] {
        const QString tahoma = QStringLiteral("Tahoma");
        if (QFontDatabase::hasFamily(tahoma))
            return tahoma;
        const char* files[] = {"/usr/share/wine/fonts/tahoma.ttf", "/usr/share/wine/fonts/tahomabd.ttf"};
        for (const char* f : files)
            if (QFile::exists(QLatin1String(f)))
                QFontDatabase::addApplicationFont(QLatin1String(f));
        return QFontDatabase::hasFamily(tahoma) ? tahoma : QString();
    }();
    QFont f;
    if (!family.isEmpty())
        f.setFamily(family);
    else
        f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(11);
    return f;
}

TQtMainWindow::TQtMainWindow()
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint),
      FAppActive(QGuiApplication::applicationState() == Qt::ApplicationActive)
{
    InitPictures();
    setObjectName(QStringLiteral("frmNeridProgrammer"));
    setFont(WindowFont());
    setFixedSize(ClientWidth, ClientHeight);
    setAutoFillBackground(true);
    SetColor(TColor::System(TSysColor::BtnFace));
    const QFont bold = BoldFont(font());
    const QPalette pal = palette();

    NewChild<TDockLayout>(this);
    auto* pnlMain = Named<TFacePanel>("pnlMain", this);
    NewChild<TDockLayout>(pnlMain);
    Dock(this).AddWidget(pnlMain, TDock::Client, {2, 1, 2, 2});

    // Buttons along the bottom, docked right: the first docked is the rightmost.
    auto* pnlBtns = Panel("pnlBtns", pnlMain, {0, 0, 35, 0});
    pnlBtns->setFixedHeight(31);
    Dock(pnlMain).AddWidget(pnlBtns, TDock::Bottom, {8, 8, 8, 8});
    auto* btnCancel = Named<TQtButton>("btnCancel", pnlBtns);
    btnCancel->setFixedWidth(85);
    Dock(pnlBtns).AddWidget(btnCancel, TDock::Right, {5, 0, 0, 0});
    auto* btnProg = Named<TQtButton>("btnProg", pnlBtns);
    btnProg->setFixedWidth(100);
    btnProg->setEnabled(false);
    Dock(pnlBtns).AddWidget(btnProg, TDock::Right, {5, 0, 0, 0});

    // The group box's client area starts under the text line its frame leaves room for.
    auto* group = Named<TGroupBox>("GroupBox1", pnlMain);
    NewChild<TDockLayout>(group, QMargins(2, 15, 2, 2));
    Dock(pnlMain).AddWidget(group, TDock::Client, {8, 8, 8, 0});

    auto* panel1 = Panel("Panel1", group);
    panel1->setFixedHeight(65);
    Dock(group).AddWidget(panel1, TDock::Top, {10, 0, 10, 5});
    auto* panel5 = Panel("Panel5", panel1);
    panel5->setFixedWidth(170);
    Dock(panel1).AddWidget(panel5, TDock::Left, {0, 0, 10, 0});
    auto* logoEN = Named<TQtImage>("imgLogoEN", QPixmap(QStringLiteral(":/nerid/logo_en.png")), panel5);
    auto* logoRU = Named<TQtImage>("imgLogoRU", QPixmap(QStringLiteral(":/nerid/logo_ru.png")), panel5);
    for (TQtImage* logo : {logoEN, logoRU}) {
        logo->setFixedWidth(logo->Picture().width());
        logo->SetAlignment(Qt::AlignLeft | Qt::AlignTop);
        logo->SetVisible(false);
        Dock(panel5).AddWidget(logo, TDock::Left);
    }
    auto* panel4 = Panel("Panel4", panel1);
    Dock(panel1).AddWidget(panel4, TDock::Client);
    auto* lblState = Named<TQtLabel>("lblState", panel4);
    Dock(panel4).AddWidget(lblState, TDock::Bottom, {0, 0, 0, 10});
    auto* lblStateC = Named<TQtLabel>("lblStateC", panel4);
    lblStateC->setFont(bold);
    Dock(panel4).AddWidget(lblStateC, TDock::Bottom);

    // The etched separator: a dark line over a light one.
    auto* shape1 = Named<TLine>("Shape1", ToQColor(TColor::System(TSysColor::InactiveCaptionGradient), pal), group);
    Dock(group).AddWidget(shape1, TDock::Top, {10, 5, 10, 0});
    auto* shape2 = Named<TLine>("Shape2", pal.color(QPalette::Active, QPalette::Light), group);
    Dock(group).AddWidget(shape2, TDock::Top, {10, 0, 10, 5});

    FProgress = Named<TQtProgressBar>("pgbMain", group);
    FProgress->setFixedHeight(25);
    Dock(group).AddWidget(FProgress, TDock::Bottom, {10, 5, 10, 15});

    auto* panel2 = Panel("Panel2", group);
    Dock(group).AddWidget(panel2, TDock::Client, {10, 5, 10, 5});
    auto* panel3 = Panel("Panel3", panel2);
    panel3->setFixedWidth(160);
    Dock(panel2).AddWidget(panel3, TDock::Left, {0, 0, 20, 0});
    auto* lblCDevices = Named<TQtLabel>("lblCDevices", panel3);
    lblCDevices->setFont(bold);
    lblCDevices->setAlignment(Qt::AlignRight | Qt::AlignTop);
    lblCDevices->setWordWrap(true);
    Dock(panel3).AddWidget(lblCDevices, TDock::Client, {0, 15, 0, 0});
    auto* imgDev = Named<TQtImage>("imgDev", QPixmap(QStringLiteral(":/nerid/device.png")), panel3);
    imgDev->setFixedSize(26, 31);
    imgDev->move(15, 60);
    imgDev->SetVisible(false);
    FRowList = Named<TQtRowList>("pnlData", panel2);
    Dock(panel2).AddWidget(FRowList, TDock::Client);

    // Qt's default tab order is creation order; the user expects the list, then Next, then Close.
    setTabOrder(FRowList, btnProg);
    setTabOrder(btnProg, btnCancel);

    FControls.window = this;
    FControls.lblCDevices = lblCDevices;
    FControls.lblStateC = lblStateC;
    FControls.lblState = lblState;
    FControls.btnProg = btnProg;
    FControls.btnCancel = btnCancel;
    FControls.pgbMain = FProgress;
    FControls.imgLogoEN = logoEN;
    FControls.imgLogoRU = logoRU;
    FControls.imgDev = imgDev;
    FControls.pnlData = FRowList;
    const char* timers[] = {"tmrStartSearch", "tmrStopSearch", "tmrStartProg", "tmrStopProg"};
    ITimer** timerSlots[] = {&FControls.tmrStartSearch, &FControls.tmrStopSearch, &FControls.tmrStartProg,
                        &FControls.tmrStopProg};
    for (int i = 0; i < 4; ++i)
        *timerSlots[i] = Named<TQtTimer>(timers[i], this);

    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState s) { OnApplicationState(s); });
}

TQtMainWindow::~TQtMainWindow() = default;

void TQtMainWindow::SetCaption(const std::string& text)
{
    FCaption = text;
    setWindowTitle(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

void TQtMainWindow::SetColor(TColor c)
{
    QPalette p = palette();
    p.setColor(QPalette::Window, ToQColor(c, p));
    setPalette(p);
}

void TQtMainWindow::OnApplicationState(Qt::ApplicationState state)
{
    const bool active = state == Qt::ApplicationActive;
    if (active == FAppActive)
        return;
    FAppActive = active;
    const auto& handler = active ? FOnAppActivate : FOnAppDeactivate;
    if (handler)
        handler();
}

void TQtMainWindow::closeEvent(QCloseEvent* e)
{
    // close() from inside the handler must not run it twice.
    if (!FClosing) {
        FClosing = true;
        if (FOnClose)
            FOnClose();
    }
    e->accept();
}

void TQtMainWindow::showEvent(QShowEvent* e)
{
    if (!FCentred) {
        FCentred = true;
        if (const QScreen* s = screen()) {
            const QRect area = s->availableGeometry();
            move(area.center() - QPoint(width() / 2, height() / 2));
        }
    }
    QWidget::showEvent(e);
}

bool SaveScreenshot(QWidget& w, const QString& path)
{
    if (QLayout* l = w.layout())
        l->activate();
    return w.grab().save(path, "PNG");
}
