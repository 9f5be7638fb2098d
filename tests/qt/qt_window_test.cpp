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

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace {

QApplication& App()
{
    return *static_cast<QApplication*>(QCoreApplication::instance());
}

class QtWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
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

// Text is antialiased: a pixel "of" a font colour is one whose hue leans clearly that way.
bool Greenish(QColor c) { return c.green() > c.red() + 40 && c.green() > c.blue() + 40; }
bool Reddish(QColor c) { return c.red() > c.green() + 60 && c.red() > c.blue() + 60; }

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
    // A device name is shown as it is, markup included.
    auto* label = static_cast<QLabel*>(Named("lblState"));
    C.lblState->SetText("x");
    const int plain = label->sizeHint().width();
    C.lblState->SetText("<b>x</b>");
    EXPECT_GT(label->sizeHint().width(), plain * 3);
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
    EXPECT_GE(clock.elapsed(), 99); // whole milliseconds
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

// ---- device rows

TEST_F(QtWindow, RowHasIconCentredThenWrappingTextLeftOfTheBox)
{
    Show();
    TQtCheckBox* box = AddRow("\"Device\" 00000001 v.1.05  (isp.2, izm.0)\r\n   update is not required");
    Settle();
    const std::vector<TQtRowPanel*> rows = W->RowList().Rows();
    ASSERT_EQ(rows.size(), 1u);
    TQtRowPanel* row = rows[0];
    EXPECT_EQ(row->height(), 41);
    EXPECT_EQ(row->width(), 352 - 5) << "the list keeps 5 pixels free on the right";
    auto* icon = row->findChild<TQtImage*>();
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(icon->geometry(), QRect(0, 0, 15, 41));
    EXPECT_EQ(icon->Picture().toImage(), static_cast<TQtImage*>(Named("imgDev"))->Picture().toImage());
    EXPECT_EQ(box->geometry(), QRect(20, 0, 347 - 20, 41)) << "right margin 5 after the icon";
    // The box at the right end, vertically centred; the text (with the line break) left of it.
    const QRect ind = box->IndicatorRect();
    EXPECT_GE(ind.right(), box->width() - 2);
    EXPECT_LE(std::abs(ind.center().y() - box->height() / 2), 1);
    EXPECT_EQ(box->text(), QStringLiteral("\"Device\" 00000001 v.1.05  (isp.2, izm.0)\n   update is not required"));
    EXPECT_EQ(box->Text(), "\"Device\" 00000001 v.1.05  (isp.2, izm.0)\r\n   update is not required");

    // Text drawn in the font colour, and only left of the box; kept while disabled (a finished row).
    box->SetFontColor(TColor::Rgb(0, 128, 0));
    box->SetEnabled(false);
    row->SetEnabled(false);
    EXPECT_FALSE(box->Enabled());
    EXPECT_FALSE(row->Enabled());
    const QImage img = box->grab().toImage();
    int left = 0, right = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (Greenish(img.pixelColor(x, y)))
                ++(x < ind.left() - 2 ? left : right);
    EXPECT_GT(left, 100);
    EXPECT_EQ(right, 0);
    EXPECT_EQ(box->FontColor(), QColor(0, 128, 0));
    // The icon is drawn as it is, vertically centred, not greyed by the disabled row.
    const QImage pic = icon->Picture().toImage().convertToFormat(QImage::Format_ARGB32);
    const QImage drawn = icon->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < 15; ++y)
        for (int x = 0; x < 15; ++x)
            if (pic.pixelColor(x, y).alpha() == 255) {
                ASSERT_EQ(drawn.pixelColor(x, 13 + y), pic.pixelColor(x, y)) << x << "," << y;
            }
}

// A long text wraps onto more lines instead of running under the box.
TEST_F(QtWindow, LongRowTextWraps)
{
    Show();
    TQtCheckBox* box = AddRow("\"A device with a rather long name\" 0000ABCD v.12.34  (isp.255, izm.255)");
    Settle();
    box->SetFontColor(TColor::Rgb(255, 0, 0));
    const QImage img = box->grab().toImage();
    int top = img.height(), bottom = -1;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < box->IndicatorRect().left(); ++x)
            if (Reddish(img.pixelColor(x, y))) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    EXPECT_GT(bottom - top, QFontMetrics(box->font()).height()) << "two lines of text";
}

TEST_F(QtWindow, ClickOnTheTextTogglesAndRunsTheHandlerOnce)
{
    Show();
    int clicks = 0;
    TQtCheckBox* box = AddRow("\"Device\" 00000001", &clicks);
    Settle();
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(10, box->height() / 2));
    EXPECT_TRUE(box->Checked());
    EXPECT_EQ(clicks, 1);
    QTest::mouseClick(box, Qt::LeftButton, {}, box->IndicatorRect().center());
    EXPECT_FALSE(box->Checked());
    EXPECT_EQ(clicks, 2);
    box->SetChecked(false);
    EXPECT_EQ(clicks, 2) << "the same state runs nothing";
    box->SetChecked(true);
    EXPECT_EQ(clicks, 3);
    box->SetChecked(true);
    EXPECT_EQ(clicks, 3);
    // A disabled row is inert, its check box included.
    W->RowList().Rows()[0]->SetEnabled(false);
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(10, box->height() / 2));
    EXPECT_TRUE(box->Checked());
    EXPECT_EQ(clicks, 3);
    EXPECT_TRUE(box->Enabled()) << "its own flag is untouched";
}

// The search builds each row and moves it to -10: the newest row is on top. 1000 sends a row to the bottom.
TEST_F(QtWindow, RowsStayOrderedByTheirTop)
{
    Show();
    std::vector<IRowPanel*> made;
    for (const char* name : {"A", "B", "C"}) {
        IRowPanel* row = C.pnlData->NewRow();
        row->SetCaption(name);
        row->NewImage(*C.imgDev);
        row->NewCheckBox()->SetText(name);
        row->SetTop(-10);
        made.push_back(row);
    }
    Settle();
    auto captionsByY = [&] {
        std::vector<TQtRowPanel*> rows = W->RowList().Rows();
        std::sort(rows.begin(), rows.end(), [](auto* a, auto* b) { return a->y() < b->y(); });
        std::string s;
        for (auto* r : rows)
            s += r->Caption();
        return s;
    };
    EXPECT_EQ(captionsByY(), "CBA");
    std::vector<int> tops;
    for (TQtRowPanel* r : W->RowList().Rows())
        tops.push_back(r->y());
    EXPECT_EQ(tops, (std::vector<int>{0, 41, 82}));
    made[2]->SetTop(1000);
    made[0]->SetTop(-10);
    Settle();
    EXPECT_EQ(captionsByY(), "ABC");
    made[2]->SetTop(41); // between the rows now at 0 and 41: goes before the one at 41
    Settle();
    EXPECT_EQ(captionsByY(), "ACB");
}

// 158 pixels hold three 41-pixel rows; the fourth brings up the vertical scroll bar, never a horizontal one.
TEST_F(QtWindow, FourRowsOverflowIntoAVerticalScrollBar)
{
    Show();
    EXPECT_EQ(W->RowList().viewport()->size(), QSize(352, 158));
    for (int i = 0; i < 3; ++i)
        AddRow("\"Device\" " + std::to_string(i) + " with a name long enough to wrap at this width of the list");
    Settle();
    EXPECT_FALSE(W->RowList().verticalScrollBar()->isVisible());
    AddRow("\"Device\" 3");
    Settle();
    EXPECT_TRUE(W->RowList().verticalScrollBar()->isVisible());
    EXPECT_FALSE(W->RowList().horizontalScrollBar()->isVisible());
    EXPECT_EQ(W->RowList().verticalScrollBar()->maximum(), 4 * 41 - 158);
    // The rows narrow to the viewport instead of running under the scroll bar.
    for (TQtRowPanel* r : W->RowList().Rows())
        EXPECT_EQ(r->width(), W->RowList().viewport()->width() - 5);
}

// ---- screenshots

struct TSampleRow {
    std::string text;
    int state; // as the rows show it: 1 checked, 0 unchecked, 2 programmed, 3 failed, -1 not supported
};

struct TSample {
    const char* file;
    bool russian;
    std::vector<std::string> texts; // lblCDevices, lblStateC, lblState, btnProg, btnCancel, caption
    std::vector<TSampleRow> rows;
    bool marquee;
    int position;
};

// Renders the window in the states a user sees, with the texts the window logic sets, into
// build/<preset>/screens/*.png for the eye (and the README); checks what a broken rendering would lose.
TEST_F(QtWindow, SampleScreenshots)
{
    const QString dir = QStringLiteral(NERID_SCREENS_DIR);
    ASSERT_TRUE(QDir().mkpath(dir));
    const std::string id1 = "\"Nerid-4\" 0012A0F3 v.1.04  (isp.2, izm.1)", id2 = "\"Nerid-4\" 0012A107 v.1.05  (isp.2, izm.1)";
    const std::string id3 = "\"Other\" 00000042 v.3.00  (isp.1, izm.0)";
    const std::vector<TSample> samples = {
        {"qt_window_ru_listed.png", true,
         {"Найденые устройства:", "Состояние обновления:", "Найдено: 3", "Продолжить", "Закрыть",
          "Nerid-4 v.1.05 (исп.2, изм.1)"},
         {{id3 + "\r\n   обновление не поддерживается", -1}, {id2 + "\r\n   обновление не требуется", 0}, {id1, 1}},
         false, 0},
        {"qt_window_en_finished.png", false,
         {"Found Devices:", "Firmware update status:", "Completed successfully", "Next", "Close",
          "Nerid-4 v.1.05 (isp.2, izm.1)"},
         {{id3 + "\r\n   update not supported", -1}, {id2 + "\r\n   update error", 3}, {id1 + "\r\n   update successful", 2},
          {"\"Nerid-4\" 0012A111 v.1.05  (isp.2, izm.1)\r\n   update is not required", 0}},
         false, 0},
        {"qt_window_en_searching.png", false,
         {"Found Devices:", "Firmware update status:", "Search . . .", "Next", "Close", "Nerid-4 v.1.05 (isp.2, izm.1)"},
         {}, true, 0},
    };
    for (const TSample& s : samples) {
        SCOPED_TRACE(s.file);
        W = std::make_unique<TQtMainWindow>();
        C = W->Controls();
        C.lblCDevices->SetText(s.texts[0]);
        C.lblStateC->SetText(s.texts[1]);
        C.lblState->SetText(s.texts[2]);
        C.btnProg->SetText(s.texts[3]);
        C.btnCancel->SetText(s.texts[4]);
        W->SetCaption(s.texts[5]);
        (s.russian ? C.imgLogoRU : C.imgLogoEN)->SetVisible(true);
        C.pgbMain->SetMarquee(s.marquee);
        bool any = false;
        for (const TSampleRow& r : s.rows) {
            IRowPanel* row = C.pnlData->NewRow();
            row->SetCaption(r.text);
            row->NewImage(*C.imgDev);
            ICheckBox* box = row->NewCheckBox();
            box->SetText(r.text);
            box->SetChecked(r.state == 1);
            box->SetEnabled(r.state == 0 || r.state == 1);
            row->SetEnabled(r.state != 2 && r.state != 3);
            if (r.state == 2)
                box->SetFontColor(TColor::Rgb(0, 128, 0));
            else if (r.state == 3)
                box->SetFontColor(TColor::Rgb(255, 0, 0));
            else if (r.state == -1)
                box->SetFontColor(TColor::System(TSysColor::GrayText));
            row->SetTop(-10);
            any = any || r.state == 1;
        }
        C.btnProg->SetEnabled(any);
        Show();
        W->SetColor(TColor::System(TSysColor::ActiveCaptionGradient));
        const QString path = dir + QLatin1Char('/') + QLatin1String(s.file);
        ASSERT_TRUE(SaveScreenshot(*W, path));
        const QImage img(path);
        ASSERT_EQ(img.size(), QSize(576, 370));
        // The logo of the language is drawn where the design puts it: its orange arrow shows in the mark.
        int orange = 0;
        for (int y = 24; y < 24 + 57; ++y)
            for (int x = 22; x < 22 + 60; ++x)
                orange += img.pixelColor(x, y).red() > 200 && img.pixelColor(x, y).blue() < 60;
        EXPECT_GT(orange, 100);
    }
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

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // CTest sets the platform; test discovery and a hand run without a display get the same one.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
