// Device rows: what New and SetC show for each state, and when the click handler runs.
#include "app/window/info_panel.h"

#include "base/texts.h"
#include "tests/window/fake_controls.h"

#include <gtest/gtest.h>

namespace {

class InfoPanelTest : public ::testing::Test {
protected:
    void SetUp() override { Lang = 1; }
    void TearDown() override { Lang = 0; }

    FakeRowPanel& Row(const TInfoPanel& r) { return *static_cast<FakeRowPanel*>(r.P); }
    FakeCheckBox& Box(const TInfoPanel& r) { return *static_cast<FakeCheckBox*>(r.C); }

    FakeRowList list;
    FakeImage icon;
    int clicks = 0;
};

TEST_F(InfoPanelTest, NewShowsEachState)
{
    struct Case {
        std::int32_t state;
        bool checked, enabled;
        const char* text;
        int handlerRuns;
    } cases[] = {
        {kStateNeeded, true, true, "\"A\" id", 1},
        {kStateNotRequired, false, true, "\"A\" id\r\n   update is not required", 0},
        {kStateNotSupported, false, false, "\"A\" id\r\n   update not supported", 0},
        {7, false, false, "\"A\" id\r\n   update not supported", 0},
        {kStateProgrammed, false, false, "\"A\" id\r\n   update not supported", 0},
    };
    icon.picture = "icon";
    for (const Case& c : cases) {
        clicks = 0;
        TInfoPanel row;
        row.New(&list, "\"A\" id", &icon, c.state, [this] { ++clicks; });
        EXPECT_EQ(Box(row).checked, c.checked) << c.state;
        EXPECT_EQ(Box(row).enabled, c.enabled) << c.state;
        EXPECT_EQ(Box(row).text, c.text) << c.state;
        EXPECT_EQ(clicks, c.handlerRuns) << c.state;
        EXPECT_EQ(Row(row).tag, c.state);
        EXPECT_EQ(Row(row).caption, "\"A\" id");
        EXPECT_EQ(static_cast<FakeImage*>(row.I)->picture, "icon");
        EXPECT_EQ(row.P1, nullptr);
        EXPECT_EQ(row.L, nullptr);
    }
}

TEST_F(InfoPanelTest, SetCShowsResultsAndLocksTheRow)
{
    struct Case {
        std::int32_t state;
        bool checked, boxEnabled, rowEnabled;
        TColor color;
        const char* suffix;
    } cases[] = {
        {kStateNotRequired, false, true, true, TColor::System(TSysColor::WindowText), "\r\n   update is not required"},
        {kStateNeeded, true, true, true, TColor::System(TSysColor::WindowText), ""},
        {kStateProgrammed, false, false, false, TColor::Rgb(0, 128, 0), "\r\n   update successful"},
        {kStateFailed, false, false, false, TColor::Rgb(255, 0, 0), "\r\n   update error"},
        {-1, false, false, true, TColor::System(TSysColor::GrayText), "\r\n   update not supported"},
        {42, false, false, true, TColor::System(TSysColor::GrayText), "\r\n   update not supported"},
    };
    for (const Case& c : cases) {
        TInfoPanel row;
        row.New(&list, "dev", &icon, kStateNeeded, [this] { ++clicks; });
        clicks = 0;
        row.SetC(c.state);
        EXPECT_EQ(Box(row).checked, c.checked) << c.state;
        EXPECT_EQ(Box(row).enabled, c.boxEnabled) << c.state;
        EXPECT_EQ(Row(row).enabled, c.rowEnabled) << c.state;
        EXPECT_EQ(Box(row).color, c.color) << c.state;
        EXPECT_EQ(Box(row).text, std::string("dev") + c.suffix) << c.state;
        EXPECT_EQ(Row(row).tag, c.state);
        // The handler runs only when the check state changed (the row started checked).
        EXPECT_EQ(clicks, c.checked ? 0 : 1) << c.state;
    }
}

TEST_F(InfoPanelTest, MoveUPutsTheNewestRowOnTop)
{
    TInfoPanel a, b, c;
    a.New(&list, "a", &icon, kStateNeeded, [] {});
    a.MoveU();
    b.New(&list, "b", &icon, kStateNeeded, [] {});
    b.MoveU();
    c.New(&list, "c", &icon, kStateNeeded, [] {});
    c.MoveU();
    const auto screen = list.OnScreen();
    ASSERT_EQ(screen.size(), 3u);
    EXPECT_EQ(screen[0]->caption, "c");
    EXPECT_EQ(screen[1]->caption, "b");
    EXPECT_EQ(screen[2]->caption, "a");
    a.MoveD();
    EXPECT_EQ(list.OnScreen().back()->caption, "a");
}

TEST_F(InfoPanelTest, RussianTexts)
{
    Lang = 0;
    TInfoPanel row;
    row.New(&list, "x", &icon, kStateNotRequired, [] {});
    EXPECT_EQ(Box(row).text, "x\r\n   обновление не требуется");
    row.SetC(kStateFailed);
    EXPECT_EQ(Box(row).text, "x\r\n   ошибка обновления");
}

} // namespace
