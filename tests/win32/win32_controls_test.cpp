// The Win32 window adapter on its own, in this process: geometry and styles of the control tree, texts and colours as
// the controls answer WM_GETTEXT and WM_CTLCOLORSTATIC, the rows' check boxes, scrolling, timers, marquee, pictures,
// closing, and the main-thread dispatcher. Runs under wine (or Windows); no window logic involved.
#include "app/win32/win32_dispatcher.h"
#include "app/win32/win32_ids.h"
#include "app/win32/win32_main_window.h"
#include "workers/main_thread.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <iterator>
#include <vector>
#include <thread>

namespace {

// Handles the thread's messages until done() or timeoutMs.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs)
{
    const DWORD start = GetTickCount();
    while (!done() && GetTickCount() - start < static_cast<DWORD>(timeoutMs)) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(2);
    }
    return done();
}

RECT ChildRect(HWND parent, HWND child)
{
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

std::wstring WindowText(HWND h)
{
    wchar_t buf[512] = {};
    SendMessageW(h, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(buf));
    return buf;
}

// The text colour a control gets from its parent, as it would be drawn.
COLORREF DrawnTextColor(HWND control)
{
    HDC dc = CreateCompatibleDC(nullptr);
    SetTextColor(dc, RGB(1, 2, 3));
    SendMessageW(GetParent(control), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(control));
    const COLORREF c = GetTextColor(dc);
    DeleteDC(dc);
    return c;
}

class Win32Window : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&icc);
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    }

    HWND Child(int id) const { return GetDlgItem(w.Handle(), id); }

    TWinMainWindow w;
};

TEST_F(Win32Window, FixedSizeStayOnTopWindowWithOnlyTheSystemMenu)
{
    RECT client;
    GetClientRect(w.Handle(), &client);
    EXPECT_EQ(client.right, 576);
    EXPECT_EQ(client.bottom, 370);
    const LONG_PTR style = GetWindowLongPtrW(w.Handle(), GWL_STYLE);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(style & WS_CAPTION);
    EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
    EXPECT_TRUE(GetWindowLongPtrW(w.Handle(), GWL_EXSTYLE) & WS_EX_TOPMOST);

    w.Show(SW_SHOWNORMAL);
    RECT work, frame;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    GetWindowRect(w.Handle(), &frame);
    EXPECT_NEAR((frame.left + frame.right) / 2, (work.left + work.right) / 2, 1);
    EXPECT_NEAR((frame.top + frame.bottom) / 2, (work.top + work.bottom) / 2, 1);
}

TEST_F(Win32Window, ControlTreeGeometry)
{
    struct Case {
        int id;
        RECT r;
    } cases[] = {
        {IDC_BTNCANCEL, {446, 329, 446 + 85, 329 + 31}},
        {IDC_BTNPROG, {341, 329, 341 + 100, 329 + 31}},
        {IDC_PNLDATA, {202, 111, 202 + 352, 111 + 158}},
        {IDC_PGBMAIN, {22, 279, 554, 304}},
        {IDC_GROUPBOX1, {10, 9, 566, 321}},
        {IDC_IMGLOGOEN, {22, 24, 22 + 159, 24 + 57}},
        {IDC_IMGDEV, {37, 171, 37 + 26, 171 + 31}},
        {IDC_SHAPE1, {22, 99, 554, 100}},
        {IDC_SHAPE2, {22, 100, 554, 101}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        const RECT r = ChildRect(w.Handle(), Child(c.id));
        EXPECT_EQ(r.left, c.r.left);
        EXPECT_EQ(r.top, c.r.top);
        EXPECT_EQ(r.right, c.r.right);
        EXPECT_EQ(r.bottom, c.r.bottom);
    }
    // The status line sits 10 pixels above the bottom of its 65-pixel panel, its heading right above it.
    const RECT state = ChildRect(w.Handle(), Child(IDC_LBLSTATE));
    const RECT heading = ChildRect(w.Handle(), Child(IDC_LBLSTATEC));
    EXPECT_EQ(state.bottom, 24 + 65 - 10);
    EXPECT_EQ(heading.bottom, state.top);
    EXPECT_EQ(state.left, 202);

    EXPECT_FALSE(IsWindowEnabled(Child(IDC_BTNPROG)));
    EXPECT_EQ(GetWindowLongPtrW(Child(IDC_GROUPBOX1), GWL_STYLE) & BS_TYPEMASK, BS_GROUPBOX);
    EXPECT_EQ(GetWindowLongPtrW(Child(IDC_LBLCDEVICES), GWL_STYLE) & SS_TYPEMASK, SS_RIGHT);
    EXPECT_FALSE(IsWindowVisible(Child(IDC_IMGDEV)));
}

TEST_F(Win32Window, TahomaEightPointAndBoldHeadings)
{
    struct Case {
        int id;
        LONG weight;
    } cases[] = {{IDC_LBLSTATE, FW_NORMAL}, {IDC_LBLSTATEC, FW_BOLD}, {IDC_LBLCDEVICES, FW_BOLD}, {IDC_BTNPROG, FW_NORMAL}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        auto font = reinterpret_cast<HFONT>(SendMessageW(Child(c.id), WM_GETFONT, 0, 0));
        ASSERT_NE(font, nullptr);
        LOGFONTW lf{};
        ASSERT_NE(GetObjectW(font, sizeof(lf), &lf), 0);
        EXPECT_STREQ(lf.lfFaceName, L"Tahoma");
        EXPECT_EQ(lf.lfHeight, -11);
        EXPECT_EQ(lf.lfWeight, c.weight);
    }
}

TEST_F(Win32Window, LabelsShowTheirTextInTheirOwnColour)
{
    ILabel* state = w.Controls().lblState;
    state->SetText("Ошибка & [0x0301]");
    EXPECT_EQ(state->Text(), "Ошибка & [0x0301]");
    EXPECT_EQ(WindowText(Child(IDC_LBLSTATE)), L"Ошибка & [0x0301]");
    EXPECT_TRUE(GetWindowLongPtrW(Child(IDC_LBLSTATE), GWL_STYLE) & SS_NOPREFIX);
    EXPECT_EQ(DrawnTextColor(Child(IDC_LBLSTATE)), GetSysColor(COLOR_WINDOWTEXT));
    state->SetFontColor(TColor::Rgb(255, 0, 0));
    EXPECT_EQ(DrawnTextColor(Child(IDC_LBLSTATE)), RGB(255, 0, 0));
    EXPECT_EQ(DrawnTextColor(Child(IDC_LBLSTATEC)), GetSysColor(COLOR_WINDOWTEXT));

    w.SetCaption("Прибор v.1.05");
    EXPECT_EQ(WindowText(w.Handle()), L"Прибор v.1.05");
    EXPECT_EQ(w.Caption(), "Прибор v.1.05");
}

TEST_F(Win32Window, ButtonRunsItsHandlerOnlyWhileEnabled)
{
    int clicks = 0;
    IButton* prog = w.Controls().btnProg;
    prog->SetOnClick([&] { ++clicks; });
    SendMessageW(Child(IDC_BTNPROG), BM_CLICK, 0, 0);
    EXPECT_EQ(clicks, 0);
    prog->SetEnabled(true);
    EXPECT_TRUE(prog->Enabled());
    SendMessageW(Child(IDC_BTNPROG), BM_CLICK, 0, 0);
    EXPECT_EQ(clicks, 1);
    prog->SetText("Далее");
    EXPECT_EQ(WindowText(Child(IDC_BTNPROG)), L"Далее");
}

TEST_F(Win32Window, ProgressBarRangeAndMarquee)
{
    IProgressBar* bar = w.Controls().pgbMain;
    HWND h = Child(IDC_PGBMAIN);
    EXPECT_EQ(SendMessageW(h, PBM_GETRANGE, TRUE, 0), 0); // low limit
    EXPECT_EQ(SendMessageW(h, PBM_GETRANGE, FALSE, 0), 1000); // high limit
    bar->SetPosition(640);
    EXPECT_EQ(SendMessageW(h, PBM_GETPOS, 0, 0), 640);
    bar->SetMarquee(true);
    EXPECT_TRUE(bar->Marquee());
    EXPECT_TRUE(GetWindowLongPtrW(h, GWL_STYLE) & PBS_MARQUEE);
    bar->SetPosition(1500); // kept, clamped, shown when the marquee ends
    EXPECT_EQ(bar->Position(), 1000);
    bar->SetMarquee(false);
    EXPECT_FALSE(GetWindowLongPtrW(h, GWL_STYLE) & PBS_MARQUEE);
    EXPECT_EQ(SendMessageW(h, PBM_GETPOS, 0, 0), 1000);
}

TEST_F(Win32Window, PicturesComeFromTheResourcesWithTheirSizes)
{
    auto* en = dynamic_cast<TWinImage*>(w.Controls().imgLogoEN);
    auto* dev = dynamic_cast<TWinImage*>(w.Controls().imgDev);
    ASSERT_TRUE(en && dev);
    EXPECT_EQ(en->Picture()->Width(), 159);
    EXPECT_EQ(en->Picture()->Height(), 57);
    EXPECT_EQ(dev->Picture()->Width(), 15);
    EXPECT_EQ(dev->Picture()->Height(), 15);
    EXPECT_FALSE(en->Visible());
    en->SetVisible(true);
    EXPECT_TRUE(en->Visible());
    EXPECT_TRUE(GetWindowLongPtrW(en->Handle(), GWL_STYLE) & WS_VISIBLE);
}

TEST_F(Win32Window, RowCheckBoxStylesClicksAndColours)
{
    IRowPanel* row = w.Controls().pnlData->NewRow();
    IImage* icon = row->NewImage(*w.Controls().imgDev);
    ICheckBox* box = row->NewCheckBox();
    int clicks = 0;
    box->SetOnClick([&] { ++clicks; });
    HWND hb = dynamic_cast<TWinChild*>(box)->Handle();
    HWND hr = dynamic_cast<TWinChild*>(row)->Handle();
    const LONG_PTR style = GetWindowLongPtrW(hb, GWL_STYLE);
    EXPECT_EQ(style & BS_TYPEMASK, BS_AUTOCHECKBOX);
    EXPECT_TRUE(style & BS_MULTILINE);
    EXPECT_TRUE(style & BS_LEFTTEXT);
    EXPECT_TRUE(style & BS_RIGHTBUTTON);

    // Icon on the left, vertically the row's height; the box fills the rest after a 5-pixel gap.
    RECT rr;
    GetClientRect(hr, &rr);
    EXPECT_EQ(rr.bottom, 41);
    EXPECT_EQ(rr.right, 352 - 5);
    const RECT ri = ChildRect(hr, dynamic_cast<TWinChild*>(icon)->Handle());
    EXPECT_EQ(ri.right - ri.left, 15);
    const RECT rb = ChildRect(hr, hb);
    EXPECT_EQ(rb.left, 20);
    EXPECT_EQ(rb.right, rr.right);

    box->SetText("COM5: SAMPLE\r\n   обновление не требуется");
    EXPECT_EQ(WindowText(hb), L"COM5: SAMPLE\r\n   обновление не требуется");

    box->SetChecked(true);
    EXPECT_EQ(clicks, 1);
    box->SetChecked(true);
    EXPECT_EQ(clicks, 1);
    SendMessageW(hb, BM_CLICK, 0, 0);
    EXPECT_EQ(clicks, 2);
    EXPECT_FALSE(box->Checked());

    // A disabled box ignores clicks.
    box->SetEnabled(false);
    EXPECT_FALSE(IsWindowEnabled(hb));
    SendMessageW(hb, BM_CLICK, 0, 0);
    EXPECT_EQ(clicks, 2);
    EXPECT_FALSE(box->Checked());

    // A finished row: inert, yet its text keeps the result's colour (its window stays enabled to draw it).
    box->SetEnabled(true);
    row->SetEnabled(false);
    box->SetEnabled(false);
    box->SetFontColor(TColor::Rgb(0, 128, 0));
    EXPECT_FALSE(row->Enabled());
    EXPECT_FALSE(box->Enabled());
    EXPECT_FALSE(IsWindowEnabled(hr));
    EXPECT_TRUE(IsWindowEnabled(hb));
    SendMessageW(hb, BM_CLICK, 0, 0);
    SendMessageW(hb, WM_KEYDOWN, VK_SPACE, 0);
    SendMessageW(hb, WM_KEYUP, VK_SPACE, 0);
    EXPECT_EQ(clicks, 2);
    EXPECT_FALSE(box->Checked());
    EXPECT_EQ(DrawnTextColor(hb), RGB(0, 128, 0));

    row->SetCaption("COM5: SAMPLE");
    row->SetTag(3);
    EXPECT_EQ(row->Caption(), "COM5: SAMPLE");
    EXPECT_EQ(row->Tag(), 3);
}

TEST_F(Win32Window, RowsStackMoveUpAndScroll)
{
    IRowList* list = w.Controls().pnlData;
    auto& rows = w.RowList();
    HWND hl = Child(IDC_PNLDATA);
    IRowPanel* first = list->NewRow();
    IRowPanel* second = list->NewRow();
    second->SetTop(-10);
    ASSERT_EQ(rows.Rows().size(), 2u);
    EXPECT_EQ(rows.Rows()[0], second);
    EXPECT_EQ(ChildRect(hl, rows.Rows()[0]->Handle()).top, 0);
    EXPECT_EQ(ChildRect(hl, rows.Rows()[1]->Handle()).top, 41);
    first->SetTop(1000);
    EXPECT_EQ(rows.Rows()[1], first);

    RECT r;
    GetClientRect(hl, &r);
    EXPECT_EQ(r.right, 352); // no scroll bar yet
    list->NewRow();
    list->NewRow(); // four rows: 164 pixels in 158
    GetClientRect(hl, &r);
    EXPECT_LT(r.right, 352);
    const RECT last = ChildRect(hl, rows.Rows()[0]->Handle());
    EXPECT_EQ(last.right - last.left, r.right - 5);
    SendMessageW(hl, WM_VSCROLL, SB_BOTTOM, 0);
    EXPECT_EQ(ChildRect(hl, rows.Rows()[3]->Handle()).bottom, r.bottom);
    SendMessageW(hl, WM_VSCROLL, SB_TOP, 0);
    EXPECT_EQ(ChildRect(hl, rows.Rows()[0]->Handle()).top, 0);
}

// Moved to a monitor of twice the DPI (WM_DPICHANGED with the system's suggested frame) and back: the client area, every
// control, the fonts, the pictures and the rows double, and return to their sizes at 96 dpi.
TEST_F(Win32Window, RescalesWhenMovedToAMonitorOfAnotherDpi)
{
    ASSERT_EQ(w.Dpi(), 96);
    IRowPanel* row = w.Controls().pnlData->NewRow();
    row->NewImage(*w.Controls().imgDev);
    row->NewCheckBox();
    const HWND rowHandle = dynamic_cast<TWinChild*>(row)->Handle();
    const HWND box = GetDlgItem(rowHandle, IDC_ROWCHECK);
    const int ids[] = {IDC_GROUPBOX1, IDC_LBLCDEVICES, IDC_LBLSTATEC, IDC_LBLSTATE, IDC_BTNPROG, IDC_BTNCANCEL,
                       IDC_PGBMAIN,   IDC_IMGLOGOEN,   IDC_IMGLOGORU, IDC_IMGDEV,   IDC_PNLDATA, IDC_SHAPE1,
                       IDC_SHAPE2};
    std::vector<RECT> at96;
    for (int id : ids)
        at96.push_back(ChildRect(w.Handle(), Child(id)));
    const RECT rowAt96 = ChildRect(Child(IDC_PNLDATA), rowHandle), boxAt96 = ChildRect(rowHandle, box);

    auto moveTo = [&](int dpi) {
        RECT frame{0, 0, MulDiv(576, dpi, 96), MulDiv(370, dpi, 96)};
        AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(w.Handle(), GWL_STYLE)), FALSE,
                           static_cast<DWORD>(GetWindowLongPtrW(w.Handle(), GWL_EXSTYLE)));
        RECT suggested{10, 20, 10 + frame.right - frame.left, 20 + frame.bottom - frame.top};
        SendMessageW(w.Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
        RECT now;
        GetWindowRect(w.Handle(), &now);
        EXPECT_EQ(now.left, 10);
        EXPECT_EQ(now.top, 20);
    };
    auto fontHeight = [](HWND h) {
        LOGFONTW lf{};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(h, WM_GETFONT, 0, 0)), sizeof(lf), &lf);
        return lf.lfHeight;
    };
    auto* en = dynamic_cast<TWinImage*>(w.Controls().imgLogoEN);
    auto* dev = dynamic_cast<TWinImage*>(w.Controls().imgDev);

    moveTo(192);
    EXPECT_EQ(w.Dpi(), 192);
    RECT client;
    GetClientRect(w.Handle(), &client);
    EXPECT_EQ(client.right, 1152);
    EXPECT_EQ(client.bottom, 740);
    for (size_t i = 0; i < std::size(ids); ++i) {
        SCOPED_TRACE(ids[i]);
        const RECT r = ChildRect(w.Handle(), Child(ids[i]));
        // The state lines are the font's line high: Tahoma's grows from 13 to 27 pixels, not 26.
        const int slack = ids[i] == IDC_LBLSTATE || ids[i] == IDC_LBLSTATEC ? 2 : 0;
        EXPECT_NEAR(r.left, 2 * at96[i].left, slack);
        EXPECT_NEAR(r.top, 2 * at96[i].top, slack);
        EXPECT_NEAR(r.right, 2 * at96[i].right, slack);
        EXPECT_NEAR(r.bottom, 2 * at96[i].bottom, slack);
    }
    for (int id : {IDC_LBLSTATE, IDC_LBLSTATEC, IDC_LBLCDEVICES, IDC_BTNPROG, IDC_BTNCANCEL, IDC_GROUPBOX1})
        EXPECT_EQ(fontHeight(Child(id)), -22) << id;
    EXPECT_EQ(fontHeight(box), -22);
    EXPECT_EQ(en->Picture()->Width(), 318);
    EXPECT_EQ(en->Picture()->Height(), 114);
    EXPECT_EQ(dev->Picture()->Width(), 30);
    const RECT rowAt192 = ChildRect(Child(IDC_PNLDATA), rowHandle), boxAt192 = ChildRect(rowHandle, box);
    EXPECT_EQ(rowAt192.bottom - rowAt192.top, 82);
    EXPECT_EQ(boxAt192.left, 30 + 10); // after the doubled icon and gap
    EXPECT_EQ(boxAt192.bottom, 82);

    moveTo(96);
    for (size_t i = 0; i < std::size(ids); ++i) {
        const RECT r = ChildRect(w.Handle(), Child(ids[i]));
        EXPECT_TRUE(EqualRect(&r, &at96[i])) << ids[i];
    }
    EXPECT_EQ(fontHeight(Child(IDC_LBLSTATE)), -11);
    EXPECT_EQ(en->Picture()->Width(), 159);
    const RECT rowBack = ChildRect(Child(IDC_PNLDATA), rowHandle), boxBack = ChildRect(rowHandle, box);
    EXPECT_TRUE(EqualRect(&rowBack, &rowAt96));
    EXPECT_TRUE(EqualRect(&boxBack, &boxAt96));
}

TEST_F(Win32Window, TimersFireFromTheMessageLoopNotEarly)
{
    ITimer* t = w.Controls().tmrStartSearch;
    int fired = 0;
    DWORD firedAt = 0;
    t->SetOnTimer([&] {
        t->SetEnabled(false); // one-shot, as the window's handlers do
        ++fired;
        firedAt = GetTickCount();
    });
    const DWORD armed = GetTickCount();
    t->SetEnabled(true);
    EXPECT_TRUE(t->Enabled());
    EXPECT_TRUE(PumpUntil([&] { return fired > 0; }, 2000));
    PumpUntil([] { return false; }, 300);
    EXPECT_EQ(fired, 1);
    EXPECT_FALSE(t->Enabled());
    EXPECT_GE(firedAt - armed, 90u); // the tick count's own granularity
}

TEST_F(Win32Window, ActivationOfTheApplicationRunsEachHandlerOncePerChange)
{
    int on = 0, off = 0;
    w.SetOnAppActivate([&] { ++on; });
    w.SetOnAppDeactivate([&] { ++off; });
    SendMessageW(w.Handle(), WM_ACTIVATEAPP, TRUE, 0);
    SendMessageW(w.Handle(), WM_ACTIVATEAPP, TRUE, 0);
    SendMessageW(w.Handle(), WM_ACTIVATEAPP, FALSE, 0);
    EXPECT_EQ(on, 1);
    EXPECT_EQ(off, 1);
    w.SetColor(TColor::System(TSysColor::ActiveCaptionGradient));
    EXPECT_EQ(ToColorRef(w.Color()), GetSysColor(COLOR_GRADIENTACTIVECAPTION));
    EXPECT_EQ(ToColorRef(TColor::System(TSysColor::InactiveCaptionGradient)), GetSysColor(COLOR_GRADIENTINACTIVECAPTION));
}

TEST_F(Win32Window, ClosingRunsTheHandlerOnceAndEndsTheLoop)
{
    int closes = 0;
    w.SetOnClose([&] { ++closes; });
    w.Close();
    w.Close();
    EXPECT_EQ(TWinMainWindow::RunMessageLoop(w.Handle()), 0);
    EXPECT_EQ(closes, 1);
    EXPECT_FALSE(IsWindow(w.Handle()));
}

TEST(Win32Dispatcher, WorkerReportsRunOnTheMainThreadAndNeverHangAfterStop)
{
    TWinDispatcher dispatcher;
    const DWORD main = GetCurrentThreadId();
    // A report made on the main thread runs at once.
    bool direct = false;
    EXPECT_TRUE(RunOnMainThread([&] { direct = GetCurrentThreadId() == main; }));
    EXPECT_TRUE(direct);

    std::atomic<bool> done{false}, ranOnMain{false}, result{false};
    std::thread worker([&] {
        result = RunOnMainThread([&] { ranOnMain = GetCurrentThreadId() == main; });
        done = true;
    });
    EXPECT_TRUE(PumpUntil([&] { return done.load(); }, 5000));
    worker.join();
    EXPECT_TRUE(result);
    EXPECT_TRUE(ranOnMain);

    // Once the loop is over, a report neither runs nor waits.
    dispatcher.Stop();
    std::atomic<bool> ran{false};
    const auto t0 = std::chrono::steady_clock::now();
    std::thread late([&] { result = RunOnMainThread([&] { ran = true; }); });
    late.join();
    EXPECT_FALSE(result);
    EXPECT_FALSE(ran);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
}

} // namespace
