// Tests of the Qt window adapter: the real widgets lay out as designed and the controls behave as the window logic
// expects. Runs on the offscreen platform; writes sample screenshots under the build folder.
#include "app/qt/qt_main_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QScrollBar>
#include <QTest>

#include <cstdlib>
#include <memory>

namespace {

QApplication& App()
{
    static int argc = 1;
    static char name[] = "qt_window_test";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

class QtWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        App();
        W = std::make_unique<TQtMainWindow>();
        C = W->Controls();
    }

    // Shows the window and lets every pending layout and paint run.
    void Show()
    {
        W->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(W.get()));
        Settle();
    }
    static void Settle()
    {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }
    QWidget* Named(const char* name) const
    {
        QWidget* w = W->findChild<QWidget*>(QLatin1String(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    // Geometry of a named widget in window coordinates.
    QRect InWindow(const char* name) const
    {
        QWidget* w = Named(name);
        return QRect(w->mapTo(W.get(), QPoint(0, 0)), w->size());
    }
    TQtCheckBox* AddRow(const std::string& text, int* clicks = nullptr)
    {
        IRowPanel* row = C.pnlData->NewRow();
        row->NewImage(*C.imgDev);
        auto* box = static_cast<TQtCheckBox*>(row->NewCheckBox());
        box->SetText(text);
        if (clicks)
            box->SetOnClick([clicks] { ++*clicks; });
        row->SetCaption(text);
        return box;
    }

    std::unique_ptr<TQtMainWindow> W;
    TWindowControls C;
};

TEST_F(QtWindow, FixedStayOnTopWindowWithCloseButtonOnly)
{
    Show();
    EXPECT_EQ(W->size(), QSize(576, 370));
    EXPECT_EQ(W->minimumSize(), W->maximumSize());
    const Qt::WindowFlags f = W->windowFlags();
    EXPECT_TRUE(f & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(f & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(f & Qt::WindowSystemMenuHint);
    EXPECT_FALSE(f & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(f & Qt::WindowMaximizeButtonHint);
    // Centred on the screen's free area.
    const QRect area = W->screen()->availableGeometry();
    EXPECT_LE(std::abs(W->geometry().center().x() - area.center().x()), 1);
    EXPECT_LE(std::abs(W->geometry().center().y() - area.center().y()), 1);
    EXPECT_EQ(W->font().pixelSize(), 11);
    EXPECT_TRUE(Named("lblStateC")->font().bold());
    EXPECT_TRUE(Named("lblCDevices")->font().bold());
    EXPECT_FALSE(Named("lblState")->font().bold());
}

// The design's figures: every margin and size along the way adds up to these rectangles.
TEST_F(QtWindow, ControlsSitWhereTheDesignPutsThem)
{
    Show();
    EXPECT_EQ(InWindow("pnlMain"), QRect(2, 1, 572, 367));
    EXPECT_EQ(InWindow("pnlBtns"), QRect(10, 329, 556, 31));
    EXPECT_EQ(InWindow("btnCancel"), QRect(446, 329, 85, 31));
    EXPECT_EQ(InWindow("btnProg"), QRect(341, 329, 100, 31));
    EXPECT_EQ(InWindow("GroupBox1"), QRect(10, 9, 556, 312));
    EXPECT_EQ(InWindow("Panel1"), QRect(22, 24, 532, 65));
    EXPECT_EQ(InWindow("Panel5"), QRect(22, 24, 170, 65));
    EXPECT_EQ(InWindow("Shape1"), QRect(22, 99, 532, 1));
    EXPECT_EQ(InWindow("Shape2"), QRect(22, 100, 532, 1));
    EXPECT_EQ(InWindow("pgbMain"), QRect(22, 279, 532, 25));
    EXPECT_EQ(InWindow("Panel3"), QRect(22, 111, 160, 158));
    EXPECT_EQ(InWindow("pnlData"), QRect(202, 111, 352, 158));
    // lblState at the very bottom of Panel4 (10 above its end), lblStateC right above it.
    const QRect panel4 = InWindow("Panel4"), state = InWindow("lblState"), heading = InWindow("lblStateC");
    EXPECT_EQ(panel4, QRect(202, 24, 352, 65));
    EXPECT_EQ(state.bottom(), panel4.bottom() - 10);
    EXPECT_EQ(heading.bottom() + 1, state.top());
    EXPECT_FALSE(C.btnProg->Enabled());
    EXPECT_TRUE(C.btnCancel->Enabled());
}

// pnlMain paints its own button face; the window colour shows only in the 2, 1, 2, 2 frame and follows SetColor.
TEST_F(QtWindow, WindowColourShowsAsThinFrameAroundTheFace)
{
    Show();
    const QPalette& pal = W->palette();
    const QColor face = ToQColor(TColor::System(TSysColor::BtnFace), pal);
    const QColor active = ToQColor(TColor::System(TSysColor::ActiveCaptionGradient), pal);
    ASSERT_NE(face, active);
    W->SetColor(TColor::System(TSysColor::ActiveCaptionGradient));
    const QImage img = W->grab().toImage();
    ASSERT_EQ(img.size(), QSize(576, 370));
    struct Probe { int x, y; bool frame; };
    for (const Probe& p : {Probe{1, 200, true}, Probe{2, 200, false}, Probe{574, 200, true}, Probe{573, 200, false},
                           Probe{300, 0, true}, Probe{300, 1, false}, Probe{300, 368, true}, Probe{300, 367, false}})
        EXPECT_EQ(img.pixelColor(p.x, p.y), p.frame ? active : face) << p.x << "," << p.y;
    // The list and the space between controls keep the face colour too.
    EXPECT_EQ(img.pixelColor(400, 200), face);
    EXPECT_EQ(img.pixelColor(300, 325), face);
}

TEST_F(QtWindow, ProgressBarRangeAndMarquee)
{
    IProgressBar& bar = *C.pgbMain;
    TQtProgressBar& q = W->ProgressBar();
    EXPECT_EQ(q.minimum(), 0);
    EXPECT_EQ(q.maximum(), 1000);
    bar.SetPosition(640);
    EXPECT_EQ(q.value(), 640);
    bar.SetMarquee(true);
    EXPECT_TRUE(bar.Marquee());
    EXPECT_EQ(q.maximum(), 0) << "Qt's busy indicator";
    bar.SetPosition(700); // kept for when the marquee ends
    bar.SetMarquee(false);
    EXPECT_FALSE(bar.Marquee());
    EXPECT_EQ(q.maximum(), 1000);
    EXPECT_EQ(q.value(), 700);
    EXPECT_EQ(bar.Position(), 700);
}

TEST_F(QtWindow, TextsAndCaptionRoundTripUtf8)
{
    const std::string ru = "Поиск . . .";
    C.lblState->SetText(ru);
    EXPECT_EQ(C.lblState->Text(), ru);
    EXPECT_EQ(static_cast<QLabel*>(Named("lblState"))->text(), QString::fromUtf8(ru.c_str()));
    W->SetCaption("ABC v.1.05 (исп.2, изм.0)");
    EXPECT_EQ(W->windowTitle(), QStringLiteral("ABC v.1.05 (исп.2, изм.0)"));
    EXPECT_EQ(W->Caption(), "ABC v.1.05 (исп.2, изм.0)");
    C.lblState->SetFontColor(TColor::Rgb(255, 0, 0));
    EXPECT_EQ(Named("lblState")->palette().color(QPalette::WindowText), QColor(255, 0, 0));
}

// Images report their own visibility, whether or not the window is on screen yet; logos start hidden.
TEST_F(QtWindow, ImagesAndTheirPictures)
{
    EXPECT_FALSE(C.imgLogoEN->Visible());
    EXPECT_FALSE(C.imgLogoRU->Visible());
    EXPECT_FALSE(C.imgDev->Visible());
    C.imgLogoRU->SetVisible(true);
    EXPECT_TRUE(C.imgLogoRU->Visible());
    Show();
    EXPECT_TRUE(Named("imgLogoRU")->isVisible());
    EXPECT_FALSE(Named("imgLogoEN")->isVisible());
    EXPECT_EQ(InWindow("imgLogoRU"), QRect(22, 24, 159, 65));
    for (const char* name : {"imgLogoEN", "imgLogoRU"}) {
        const QImage pic = static_cast<TQtImage*>(Named(name))->Picture().toImage();
        EXPECT_EQ(pic.size(), QSize(159, 57)) << name;
        EXPECT_TRUE(pic.hasAlphaChannel()) << name;
        EXPECT_EQ(pic.pixelColor(0, 0).alpha(), 0) << name << ": transparent corner";
    }
    EXPECT_EQ(static_cast<TQtImage*>(Named("imgDev"))->Picture().size(), QSize(15, 15));
}

TEST_F(QtWindow, TimerFiresFromTheEventLoopAfterItsInterval)
{
    auto* timer = static_cast<TQtTimer*>(C.tmrStartSearch);
    EXPECT_EQ(timer->interval(), 100);
    EXPECT_FALSE(C.tmrStartSearch->Enabled());
    int runs = 0;
    // The handlers disable their own timer first: a one-shot.
    C.tmrStartSearch->SetOnTimer([&] {
        C.tmrStartSearch->SetEnabled(false);
        ++runs;
    });
    QElapsedTimer clock;
    clock.start();
    C.tmrStartSearch->SetEnabled(true);
    EXPECT_EQ(runs, 0) << "never from inside SetEnabled";
    ASSERT_TRUE(QTest::qWaitFor([&] { return runs > 0; }, 2000));
    EXPECT_GE(clock.elapsed(), 95);
    QTest::qWait(250);
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(C.tmrStartSearch->Enabled());
}

TEST_F(QtWindow, CloseRunsTheCloseHandlerOnce)
{
    int closes = 0;
    W->SetOnClose([&] {
        ++closes;
        W->Close(); // a handler that closes again must not recurse
    });
    Show();
    C.btnCancel->SetOnClick([&] { C.window->Close(); });
    QTest::mouseClick(static_cast<QWidget*>(Named("btnCancel")), Qt::LeftButton);
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(W->isVisible());
}

// The offscreen platform never takes the focus away from the application, so the test plays the platform's part and
// emits the application's state changes itself: each change reaches one handler once, repeats reach none.
TEST_F(QtWindow, ApplicationActivationReachesTheHandlers)
{
    std::vector<std::string> events;
    W->SetOnAppActivate([&] { events.push_back("activate"); });
    W->SetOnAppDeactivate([&] { events.push_back("deactivate"); });
    Show();
    W->activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([] { return QGuiApplication::applicationState() == Qt::ApplicationActive; }, 2000));
    Settle();
    events.clear();
    auto* app = static_cast<QGuiApplication*>(&App());
    for (Qt::ApplicationState s : {Qt::ApplicationInactive, Qt::ApplicationHidden, Qt::ApplicationActive,
                                   Qt::ApplicationActive, Qt::ApplicationSuspended})
        emit app->applicationStateChanged(s);
    EXPECT_EQ(events, (std::vector<std::string>{"deactivate", "activate", "deactivate"}));
}

} // namespace
