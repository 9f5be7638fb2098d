// Tests of the GTK window adapter on a virtual display of the test's own: the real widgets sit where the design puts
// them, the controls behave as the window logic expects, pointer and keyboard work through the X server, and sample
// screenshots are written under the build folder.
#include "tests/gtk/gtk_test_support.h"

#include "app/gtk/gtk_dispatcher.h"
#include "workers/main_thread.h"

#include <glib/gstdio.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>

namespace {

class GtkFace : public ::testing::Test {
protected:
    void SetUp() override { Make(); }
    void TearDown() override
    {
        W.reset();
        Settle(10);
    }
    void Make()
    {
        W.reset();
        W = std::make_unique<TGtkMainWindow>();
        C = W->Controls();
    }
    // Shows the window and lets every pending layout and paint run.
    void Show()
    {
        W->Show();
        ASSERT_TRUE(WaitFor([&] { return gtk_widget_get_mapped(W->Widget()); }, 5000));
        Settle(50);
    }
    GtkWidget* Named(const char* name) const
    {
        GtkWidget* w = W->Named(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    TGtkCheckBox* AddRow(const std::string& text, int* clicks = nullptr)
    {
        IRowPanel* row = C.pnlData->NewRow();
        row->NewImage(*C.imgDev);
        auto* box = static_cast<TGtkCheckBox*>(row->NewCheckBox());
        box->SetText(text);
        if (clicks)
            box->SetOnClick([clicks] { ++*clicks; });
        row->SetCaption(text);
        return box;
    }

    std::unique_ptr<TGtkMainWindow> W;
    TWindowControls C;
};

TEST_F(GtkFace, FixedStayOnTopWindowCentredOnTheScreen)
{
    Show();
    EXPECT_EQ(gtk_widget_get_allocated_width(W->Widget()), 576);
    EXPECT_EQ(gtk_widget_get_allocated_height(W->Widget()), 370);
    EXPECT_FALSE(gtk_window_get_resizable(GTK_WINDOW(W->Widget())));
    // Keep-above and the window functions reach the X server as the window's state and hints.
    GdkWindow* g = gtk_widget_get_window(W->Widget());
    EXPECT_TRUE(gdk_window_get_state(g) & GDK_WINDOW_STATE_ABOVE);
    int x = 0, y = 0;
    gdk_window_get_origin(g, &x, &y);
    EXPECT_LE(std::abs(x + 576 / 2 - 1024 / 2), 1);
    EXPECT_LE(std::abs(y + 370 / 2 - 768 / 2), 1);
    PangoFontDescription* f = pango_context_get_font_description(gtk_widget_get_pango_context(Named("lblState")));
    // 11 pixels at 96 dpi: GTK hands Pango the size in points, 8.25.
    EXPECT_EQ(pango_font_description_get_size(f), 11 * PANGO_SCALE * 72 / 96);
    auto weight = [&](const char* name) {
        return pango_font_description_get_weight(
            pango_context_get_font_description(gtk_widget_get_pango_context(Named(name))));
    };
    EXPECT_EQ(weight("lblStateC"), PANGO_WEIGHT_BOLD);
    EXPECT_EQ(weight("lblCDevices"), PANGO_WEIGHT_BOLD);
    EXPECT_EQ(weight("lblState"), PANGO_WEIGHT_NORMAL);
}

// The design's figures: the controls land on these rectangles of the client area.
TEST_F(GtkFace, ControlsSitWhereTheDesignPutsThem)
{
    C.lblStateC->SetText("Firmware update status:");
    C.lblState->SetText("Search . . .");
    C.imgLogoEN->SetVisible(true);
    C.imgDev->SetVisible(true);
    Show();
    EXPECT_EQ(InWindow(Named("btnCancel")), (TBox{446, 329, 85, 31}));
    EXPECT_EQ(InWindow(Named("btnProg")), (TBox{341, 329, 100, 31}));
    EXPECT_EQ(InWindow(Named("pgbMain")), (TBox{22, 279, 532, 25}));
    EXPECT_EQ(InWindow(Named("pnlData")), (TBox{202, 111, 352, 158}));
    EXPECT_EQ(InWindow(Named("imgLogoEN")), (TBox{22, 24, 159, 65}));
    EXPECT_EQ(InWindow(Named("imgDev")), (TBox{37, 171, 26, 31}));
    EXPECT_EQ(InWindow(Named("lblCDevices")), (TBox{22, 126, 160, 143}));
    // lblState at the bottom of Panel4 (10 above its end), lblStateC right above it; the access line, while it has a
    // text, under lblState, which moves up.
    const TBox panel4 = InWindow(Named("Panel4")), state = InWindow(Named("lblState")),
               heading = InWindow(Named("lblStateC"));
    EXPECT_EQ(panel4, (TBox{202, 14, 352, 65}));
    EXPECT_EQ(state.y + state.h, 24 + 65 - 10);
    EXPECT_EQ(heading.y + heading.h, state.y);
    EXPECT_EQ(state.x, 202);
    EXPECT_FALSE(gtk_widget_get_visible(Named("lblAccess")));
    ASSERT_NE(C.lblAccess, nullptr);
    C.lblAccess->SetText("No access to /dev/ttyNRU0: add your user to the group \"dialout\", then log in again.");
    Settle(300);
    const TBox access = InWindow(Named("lblAccess")), moved = InWindow(Named("lblState"));
    EXPECT_TRUE(gtk_widget_get_visible(Named("lblAccess")));
    EXPECT_EQ(access.y + access.h, 24 + 65 - 10);
    EXPECT_EQ(moved.y + moved.h, access.y);
    EXPECT_LE(access.w, 352);
    EXPECT_GT(access.h, moved.h) << "a long line wraps inside the panel";
    C.lblAccess->SetText("");
    Settle();
    EXPECT_FALSE(gtk_widget_get_visible(Named("lblAccess")));
    EXPECT_EQ(InWindow(Named("lblState")), state);
    EXPECT_FALSE(C.btnProg->Enabled());
    EXPECT_TRUE(C.btnCancel->Enabled());
}

// The face covers the client area but a 2, 1, 2, 2 frame of the window's colour, which follows SetColor.
TEST_F(GtkFace, WindowColourShowsAsThinFrameAroundTheFace)
{
    Show();
    const unsigned face = Hex(ToRgba(TColor::System(TSysColor::BtnFace), W->Widget()));
    const unsigned active = Hex(ToRgba(TColor::System(TSysColor::ActiveCaptionGradient), W->Widget()));
    ASSERT_NE(face, active);
    W->SetColor(TColor::System(TSysColor::ActiveCaptionGradient));
    const TShot img = Grab(*W);
    ASSERT_EQ(img.Width(), 576);
    ASSERT_EQ(img.Height(), 370);
    struct Probe { int x, y; bool frame; };
    for (const Probe& p : {Probe{1, 200, true}, Probe{2, 200, false}, Probe{574, 200, true}, Probe{573, 200, false},
                           Probe{300, 0, true}, Probe{300, 1, false}, Probe{300, 368, true}, Probe{300, 367, false}})
        EXPECT_EQ(img.Pixel(p.x, p.y), p.frame ? active : face) << p.x << "," << p.y;
    // The list and the space between controls keep the face colour too.
    EXPECT_EQ(img.Pixel(400, 200), face);
    EXPECT_EQ(img.Pixel(300, 325), face);
    W->SetColor(TColor::Rgb(10, 20, 30));
    EXPECT_EQ(Grab(*W).Pixel(1, 200), 0x0A141Eu);
}

TEST_F(GtkFace, ProgressBarPositionAndMarquee)
{
    IProgressBar& bar = *C.pgbMain;
    GtkProgressBar* g = GTK_PROGRESS_BAR(W->ProgressBar().Widget());
    Show();
    bar.SetPosition(640);
    EXPECT_DOUBLE_EQ(gtk_progress_bar_get_fraction(g), 0.64);
    bar.SetPosition(5000);
    EXPECT_EQ(bar.Position(), 1000);
    bar.SetMarquee(true);
    EXPECT_TRUE(bar.Marquee());
    // The marquee moves by itself: the bar's look changes from one moment to the next.
    const TShot a = Grab(*W);
    Settle(200);
    const TShot b = Grab(*W);
    int changed = 0;
    for (int x = 22; x < 22 + 532; ++x)
        changed += a.Pixel(x, 291) != b.Pixel(x, 291);
    EXPECT_GT(changed, 10);
    bar.SetPosition(700); // kept for when the marquee ends
    bar.SetMarquee(false);
    EXPECT_FALSE(bar.Marquee());
    EXPECT_DOUBLE_EQ(gtk_progress_bar_get_fraction(g), 0.7);
    EXPECT_EQ(bar.Position(), 700);
}

TEST_F(GtkFace, TextsAndCaptionRoundTripUtf8AsPlainText)
{
    const std::string ru = "Поиск . . .";
    C.lblState->SetText(ru);
    EXPECT_EQ(C.lblState->Text(), ru);
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(Named("lblState"))), ru.c_str());
    W->SetCaption("ABC v.1.05 (исп.2, изм.0)");
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(W->Widget())), "ABC v.1.05 (исп.2, изм.0)");
    EXPECT_EQ(W->Caption(), "ABC v.1.05 (исп.2, изм.0)");
    // A device name is shown as it is, markup included; Windows line breaks become plain ones.
    C.lblState->SetText("<b>x</b>\r\ny");
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(Named("lblState"))), "<b>x</b>\ny");
    EXPECT_EQ(C.lblState->Text(), "<b>x</b>\r\ny");
    C.lblState->SetFontColor(TColor::Rgb(255, 0, 0));
    EXPECT_EQ(Hex(static_cast<TGtkLabel*>(C.lblState)->FontColor()), 0xFF0000u);
    C.btnProg->SetText("Продолжить");
    EXPECT_EQ(W->NextButton().Label(), "Продолжить");
}

// Images report their own visibility, whether or not the window is on screen yet; logos start hidden; each picture is
// drawn where its image is, and nothing where it is hidden.
TEST_F(GtkFace, ImagesShowTheirPictures)
{
    EXPECT_FALSE(C.imgLogoEN->Visible());
    EXPECT_FALSE(C.imgLogoRU->Visible());
    EXPECT_FALSE(C.imgDev->Visible());
    C.imgLogoRU->SetVisible(true);
    EXPECT_TRUE(C.imgLogoRU->Visible());
    Show();
    EXPECT_TRUE(gtk_widget_get_visible(Named("imgLogoRU")));
    EXPECT_FALSE(gtk_widget_get_visible(Named("imgLogoEN")));
    auto orangeInMark = [&] {
        const TShot img = Grab(*W);
        int orange = 0;
        for (int y = 24; y < 24 + 57; ++y)
            for (int x = 22; x < 22 + 60; ++x)
                orange += Orange(img.Pixel(x, y));
        return orange;
    };
    EXPECT_GT(orangeInMark(), 100) << "the mark's arrow";
    C.imgLogoRU->SetVisible(false);
    Settle();
    EXPECT_EQ(orangeInMark(), 0);
}

TEST_F(GtkFace, TimerFiresFromTheMainLoopAfterItsInterval)
{
    EXPECT_FALSE(C.tmrStartSearch->Enabled());
    int runs = 0;
    double firedAfter = 0;
    // The handlers disable their own timer first: a one-shot.
    const double start = NowMs();
    C.tmrStartSearch->SetOnTimer([&] {
        C.tmrStartSearch->SetEnabled(false);
        firedAfter = NowMs() - start;
        ++runs;
    });
    C.tmrStartSearch->SetEnabled(true);
    C.tmrStartSearch->SetEnabled(true); // enabling a running timer does not restart it
    EXPECT_EQ(runs, 0) << "never from inside SetEnabled";
    ASSERT_TRUE(WaitFor([&] { return runs > 0; }, 2000));
    EXPECT_GE(firedAfter, 100);
    Settle(250);
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(C.tmrStartSearch->Enabled());

    // Left enabled, it fires every 100 ms; disabled and enabled again from its handler, it waits a full interval.
    int ticks = 0;
    C.tmrStopProg->SetOnTimer([&] { ++ticks; });
    C.tmrStopProg->SetEnabled(true);
    Settle(450);
    C.tmrStopProg->SetEnabled(false);
    EXPECT_GE(ticks, 3);
    EXPECT_LE(ticks, 4);
}

TEST_F(GtkFace, CloseRunsTheCloseHandlerOnceAndHidesTheWindow)
{
    int closes = 0;
    W->SetOnClose([&] {
        ++closes;
        W->Close(); // a handler that closes again must not recurse
    });
    C.btnCancel->SetOnClick([&] { C.window->Close(); });
    Show();
    ASSERT_TRUE(ClickAt(Named("btnCancel"), 40, 15));
    EXPECT_EQ(closes, 1);
    EXPECT_TRUE(W->Closed());
    EXPECT_FALSE(gtk_widget_get_visible(W->Widget()));
    // Closing by the window manager (a delete event) after that runs nothing more.
    W->Close();
    EXPECT_EQ(closes, 1);
}

// ---- device rows

TEST_F(GtkFace, RowHasIconCentredThenWrappingTextLeftOfTheBox)
{
    Show();
    TGtkCheckBox* box = AddRow("\"Device\" 00000001 v.1.05  (isp.2, izm.0)\r\n   update is not required");
    Settle();
    const std::vector<TGtkRowPanel*> rows = W->RowList().Rows();
    ASSERT_EQ(rows.size(), 1u);
    TGtkRowPanel* row = rows[0];
    const TBox r = InWindow(row->Widget());
    EXPECT_EQ(r, (TBox{202, 111, 347, 41})) << "the list keeps 5 pixels free on the right";
    EXPECT_EQ(InWindow(row->Image()->Widget()), (TBox{202, 111, 15, 41}));
    EXPECT_EQ(InWindow(box->Widget()), (TBox{202 + 20, 111, 347 - 20, 41})) << "right margin 5 after the icon";
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(box->TextLabel())),
                 "\"Device\" 00000001 v.1.05  (isp.2, izm.0)\n   update is not required");
    EXPECT_EQ(box->Text(), "\"Device\" 00000001 v.1.05  (isp.2, izm.0)\r\n   update is not required");
    // The text left of the box: the label ends before the box's right end.
    const TBox text = InWindow(box->TextLabel());
    EXPECT_EQ(text.x, 202 + 20 + (text.x - 222));
    EXPECT_LT(text.x + text.w, 202 + 347 - 10);

    // Text drawn in the font colour, left of the box only; kept while disabled (a finished row).
    box->SetFontColor(TColor::Rgb(0, 128, 0));
    box->SetEnabled(false);
    row->SetEnabled(false);
    EXPECT_FALSE(box->Enabled());
    EXPECT_FALSE(row->Enabled());
    Settle();
    const TShot img = Grab(*W);
    int left = 0, right = 0;
    for (int y = 111; y < 111 + 41; ++y)
        for (int x = 222; x < 202 + 347; ++x)
            if (Greenish(img.Pixel(x, y)))
                ++(x < text.x + text.w ? left : right);
    EXPECT_GT(left, 100);
    EXPECT_EQ(right, 0);
    // The icon, vertically centred and not greyed by the disabled row: its orange arrow stem at x 7, y 13 + 7..10.
    for (int y = 13 + 7; y <= 13 + 10; ++y)
        EXPECT_TRUE(Orange(img.Pixel(202 + 7, 111 + y))) << y;
}

// A long text wraps onto more lines instead of running under the box.
TEST_F(GtkFace, LongRowTextWraps)
{
    Show();
    TGtkCheckBox* box = AddRow("\"A device with a rather long name\" 0000ABCD v.12.34  (isp.255, izm.255)");
    box->SetFontColor(TColor::Rgb(255, 0, 0));
    Settle();
    const TShot img = Grab(*W);
    int top = 1000, bottom = -1;
    for (int y = 111; y < 111 + 41; ++y)
        for (int x = 222; x < 202 + 347; ++x)
            if (Reddish(img.Pixel(x, y))) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    EXPECT_GT(bottom - top, 14) << "two lines of text";
}

TEST_F(GtkFace, ClickOnTheTextTogglesAndRunsTheHandlerOnce)
{
    Show();
    int clicks = 0;
    TGtkCheckBox* box = AddRow("\"Device\" 00000001", &clicks);
    Settle();
    ASSERT_TRUE(ClickAt(box->Widget(), 10, 20));
    EXPECT_TRUE(box->Checked());
    EXPECT_EQ(clicks, 1);
    ASSERT_TRUE(ClickAt(box->Widget(), gtk_widget_get_allocated_width(box->Widget()) - 8, 20));
    EXPECT_FALSE(box->Checked()) << "a click on the box";
    EXPECT_EQ(clicks, 2);
    box->SetChecked(false);
    EXPECT_EQ(clicks, 2) << "the same state runs nothing";
    box->SetChecked(true);
    EXPECT_EQ(clicks, 3);
    box->SetChecked(true);
    EXPECT_EQ(clicks, 3);
    // A disabled row is inert, its check box included.
    W->RowList().Rows()[0]->SetEnabled(false);
    ASSERT_TRUE(ClickAt(box->Widget(), 10, 20));
    EXPECT_TRUE(box->Checked());
    EXPECT_EQ(clicks, 3);
    EXPECT_TRUE(box->Enabled()) << "its own flag is untouched";
}

// The search builds each row and moves it to -10: the newest row is on top. 1000 sends a row to the bottom.
TEST_F(GtkFace, RowsStayOrderedByTheirTop)
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
        std::vector<TGtkRowPanel*> rows = W->RowList().Rows();
        std::sort(rows.begin(), rows.end(),
                  [](auto* a, auto* b) { return InWindow(a->Widget()).y < InWindow(b->Widget()).y; });
        std::string s;
        for (auto* r : rows)
            s += r->Caption();
        return s;
    };
    EXPECT_EQ(captionsByY(), "CBA");
    std::vector<int> tops;
    for (TGtkRowPanel* r : W->RowList().Rows())
        tops.push_back(InWindow(r->Widget()).y - 111);
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
TEST_F(GtkFace, FourRowsOverflowIntoAVerticalScrollBar)
{
    Show();
    GtkScrolledWindow* list = GTK_SCROLLED_WINDOW(W->RowList().Widget());
    for (int i = 0; i < 3; ++i)
        AddRow("\"Device\" " + std::to_string(i));
    Settle();
    EXPECT_FALSE(gtk_widget_get_child_visible(gtk_scrolled_window_get_vscrollbar(list)));
    AddRow("\"Device\" 3");
    Settle(100);
    GtkWidget* bar = gtk_scrolled_window_get_vscrollbar(list);
    // GTK 3 shows and hides a scrolled window's bars by their child visibility.
    EXPECT_TRUE(gtk_widget_get_child_visible(bar));
    EXPECT_FALSE(gtk_widget_get_child_visible(gtk_scrolled_window_get_hscrollbar(list)));
    GtkAdjustment* range = gtk_scrolled_window_get_vadjustment(list);
    EXPECT_DOUBLE_EQ(gtk_adjustment_get_upper(range) - gtk_adjustment_get_page_size(range), 4 * 41 - 158);
    // The rows narrow to the room beside the scroll bar instead of running under it.
    const int barWidth = gtk_widget_get_allocated_width(bar);
    for (TGtkRowPanel* r : W->RowList().Rows())
        EXPECT_EQ(gtk_widget_get_allocated_width(r->Widget()), 352 - barWidth - 5);
}

// ---- reports from workers

// A worker's report runs on the main thread when the GLib main loop turns, and the worker waits for it; a report
// still waiting when the dispatcher stops (the main loop has ended) is let go without running.
TEST_F(GtkFace, DispatcherRunsAReportInTheMainLoopAndLetsAWaitingOneGoOnStop)
{
    TGtkDispatcher dispatcher;
    const std::thread::id mainThread = std::this_thread::get_id();
    std::thread::id ranOn;
    std::atomic<bool> ran{false}, returned{false};
    std::thread worker([&] {
        const bool ok = RunOnMainThread([&] {
            ranOn = std::this_thread::get_id();
            ran = true;
        });
        EXPECT_TRUE(ok);
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(ran.load()) << "ran before the main loop turned";
    EXPECT_FALSE(returned.load()) << "the worker did not wait";
    EXPECT_TRUE(WaitFor([&] { return returned.load(); }, 3000));
    worker.join();
    EXPECT_TRUE(ran.load());
    EXPECT_EQ(ranOn, mainThread);

    std::atomic<bool> lateRan{false};
    std::atomic<int> lateResult{-1};
    std::thread late([&] { lateResult = RunOnMainThread([&] { lateRan = true; }) ? 1 : 0; });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    dispatcher.Stop();
    late.join();
    EXPECT_EQ(lateResult.load(), 0);
    EXPECT_FALSE(lateRan.load());
    Settle(50); // the idle call queued for that report finds nothing to run
    EXPECT_FALSE(lateRan.load());
}

// ---- keyboard

// Tab goes through the rows top down, then Next, then Close; Enter activates the focused button; Escape closes.
TEST_F(GtkFace, TabOrderRowsThenNextThenCloseEnterAndEscape)
{
    int nexts = 0, closes = 0, checks = 0;
    C.btnProg->SetOnClick([&] { ++nexts; });
    C.btnCancel->SetOnClick([&] { C.window->Close(); });
    W->SetOnClose([&] { ++closes; });
    TGtkCheckBox* first = AddRow("\"Device\" 1", &checks);
    TGtkCheckBox* second = AddRow("\"Device\" 2", &checks);
    C.btnProg->SetEnabled(true);
    Show();
    gtk_window_present(GTK_WINDOW(W->Widget()));
    ASSERT_TRUE(WaitFor([&] { return gtk_window_is_active(GTK_WINDOW(W->Widget())); }, 3000))
        << "the window takes the keyboard focus";
    GtkWindow* win = GTK_WINDOW(W->Widget());
    // A shown window puts the focus on its first control, or on the first Tab when nothing has it yet.
    if (!gtk_window_get_focus(win)) {
        ASSERT_TRUE(PressKey("Tab"));
    }
    std::vector<GtkWidget*> order = {gtk_window_get_focus(win)};
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(PressKey("Tab"));
        order.push_back(gtk_window_get_focus(win));
    }
    const std::vector<GtkWidget*> expected = {first->Widget(), second->Widget(), W->NextButton().Widget(),
                                              W->CloseButton().Widget(), first->Widget()};
    EXPECT_EQ(order, expected);
    // Space toggles the focused row; Enter on Next presses it.
    ASSERT_TRUE(PressKey("space"));
    EXPECT_TRUE(first->Checked());
    EXPECT_EQ(checks, 1);
    gtk_widget_grab_focus(W->NextButton().Widget());
    ASSERT_TRUE(PressKey("Return"));
    EXPECT_EQ(nexts, 1);
    EXPECT_EQ(closes, 0);
    ASSERT_TRUE(PressKey("Escape"));
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(nexts, 1);
}

// The keyboard focus leaving the application and coming back reaches one handler once per change.
TEST_F(GtkFace, ApplicationActivationReachesTheHandlers)
{
    std::vector<std::string> events;
    W->SetOnAppActivate([&] { events.push_back("activate"); });
    W->SetOnAppDeactivate([&] { events.push_back("deactivate"); });
    Show();
    gtk_window_present(GTK_WINDOW(W->Widget()));
    ASSERT_TRUE(WaitFor([&] { return !events.empty(); }, 3000));
    // Another program's window takes the focus (played by a second top-level window), then the user comes back.
    GtkWidget* other = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_widget_show(other);
    Settle(50);
    gtk_window_present(GTK_WINDOW(other));
    ASSERT_TRUE(WaitFor([&] { return events.size() >= 2; }, 3000));
    gtk_window_present(GTK_WINDOW(W->Widget()));
    ASSERT_TRUE(WaitFor([&] { return events.size() >= 3; }, 3000));
    gtk_window_present(GTK_WINDOW(W->Widget()));
    Settle(100);
    // The X server may pass the focus around more than once on the way; each change still arrives once, so the
    // events alternate, and they end with the window active.
    ASSERT_GE(events.size(), 3u);
    for (std::size_t i = 0; i < events.size(); ++i)
        EXPECT_EQ(events[i], i % 2 == 0 ? "activate" : "deactivate") << i;
    EXPECT_EQ(events.back(), "activate");
    gtk_widget_destroy(other);
}

// ---- screenshots and scale

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
};

// Renders the window in the states a user sees, with the texts the window logic sets, into
// build/<preset>/screens/*.png for the eye; checks what a broken rendering would lose.
TEST_F(GtkFace, SampleScreenshots)
{
    const std::string dir = NERID_SCREENS_DIR;
    std::filesystem::create_directories(dir);
    const std::string id1 = "\"Nerid-4\" 0012A0F3 v.1.04  (isp.2, izm.1)", id2 = "\"Nerid-4\" 0012A107 v.1.05  (isp.2, izm.1)";
    const std::string id3 = "\"Other\" 00000042 v.3.00  (isp.1, izm.0)";
    const std::vector<TSample> samples = {
        {"gtk_window_ru_listed.png", true,
         {"Найденые устройства:", "Состояние обновления:", "Найдено: 3", "Продолжить", "Закрыть",
          "Nerid-4 v.1.05 (исп.2, изм.1)"},
         {{id3 + "\r\n   обновление не поддерживается", -1}, {id2 + "\r\n   обновление не требуется", 0}, {id1, 1}},
         false},
        {"gtk_window_en_finished.png", false,
         {"Found Devices:", "Firmware update status:", "update error", "Next", "Close", "Nerid-4 v.1.05 (isp.2, izm.1)"},
         {{id3 + "\r\n   update not supported", -1}, {id2 + "\r\n   update error", 3}, {id1 + "\r\n   update successful", 2},
          {"\"Nerid-4\" 0012A111 v.1.05  (isp.2, izm.1)\r\n   update is not required", 0}},
         false},
        {"gtk_window_en_searching.png", false,
         {"Found Devices:", "Firmware update status:", "Search . . .", "Next", "Close", "Nerid-4 v.1.05 (isp.2, izm.1)"},
         {}, true},
    };
    for (const TSample& s : samples) {
        SCOPED_TRACE(s.file);
        Make();
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
        Settle();
        const std::string path = dir + "/" + s.file;
        ASSERT_TRUE(SaveScreenshot(*W, path));
        cairo_surface_t* png = cairo_image_surface_create_from_png(path.c_str());
        EXPECT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS);
        EXPECT_EQ(cairo_image_surface_get_width(png), 576 * gtk_widget_get_scale_factor(W->Widget()));
        cairo_surface_destroy(png);
    }
}

// Under GDK_SCALE=2 (run so by CTest as its own case) every design pixel is two screen pixels, and the pictures are
// drawn at that resolution, not enlarged: the logo's text has edges a single design pixel could not show.
TEST_F(GtkFace, ScaleTwoDrawsPicturesAtTheScreensResolution)
{
    const char* scale = std::getenv("GDK_SCALE");
    if (!scale || std::string(scale) != "2")
        GTEST_SKIP() << "runs with GDK_SCALE=2 (its own CTest case)";
    C.imgLogoEN->SetVisible(true);
    Show();
    ASSERT_EQ(gtk_widget_get_scale_factor(W->Widget()), 2);
    const TShot img = Grab(*W);
    ASSERT_EQ(img.Width(), 1152);
    ASSERT_EQ(img.Height(), 740);
    EXPECT_EQ(InWindow(Named("btnCancel")), (TBox{446, 329, 85, 31})) << "layout in design pixels";
    // Enlarged, every 2 × 2 block of the logo would be one colour; drawn at scale 2, many blocks are not.
    int mixed = 0;
    for (int y = 24 * 2; y < (24 + 57) * 2; y += 2)
        for (int x = 22 * 2; x < (22 + 159) * 2; x += 2)
            mixed += img.Pixel(x, y) != img.Pixel(x + 1, y) || img.Pixel(x, y) != img.Pixel(x, y + 1);
    EXPECT_GT(mixed, 200);
    ASSERT_TRUE(SaveScreenshot(*W, std::string(NERID_SCREENS_DIR) + "/gtk_window_scale2.png"));
}

} // namespace

int main(int argc, char** argv)
{
    return RunGtkTests(argc, argv, NERID_SCREENS_DIR "/../gtk_window_test-xvfb.log");
}
