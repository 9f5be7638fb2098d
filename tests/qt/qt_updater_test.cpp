// The whole updater in the real Qt window, offscreen: it lists simulated devices, a click on Next programs them, and
// each row ends green or red as its device did. Also screenshots of each state, in Russian and English.
#include "app/qt/qt_dispatcher.h"
#include "app/qt/qt_main_window.h"
#include "base/texts.h"
#include "app/window/window.h"
#include "cli/sample.h"
#include "sim/sim_runner.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTest>

#include <functional>
#include <memory>

namespace {

bool WaitFor(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeoutMs)
        QTest::qWait(5);
    return done();
}

SimIdentity DeviceLike(const TSampleFirmware& s, std::uint16_t version)
{
    SimIdentity id;
    id.name = s.Name;
    id.version = version;
    id.type = s.Type;
    id.variant = s.Variant;
    id.revision = s.Revision;
    return id;
}

class QtUpdater : public ::testing::Test {
protected:
    void Run(const TSampleFirmware& fw, const char* shotPrefix)
    {
        // Two devices that need the update; the second stops answering half-way through its flash lines.
        SimConfig good;
        good.identity = DeviceLike(fw, 0x0100);
        SimConfig bad = good;
        bad.identity.id = 2;
        SimFaults dies;
        dies.stopAfter = 10;
        bad.faults[0] = dies;
        SimRunner simGood(good), simBad(bad);
        const std::vector<std::string> ports = {simGood.Open()[0], simBad.Open()[0]};
        simGood.Start();
        simBad.Start();

        TQtDispatcher dispatcher;
        TQtMainWindow w;
        TWindowServices s;
        s.listPorts = [ports] { return ports; };
        const ABytes package = BuildSampleImage(fw).BytesTo();
        s.readPackage = [package](ABytes& p) {
            p = package;
            return true;
        };
        s.startDelayMs = 0;
        TfrmNeridProgrammer form(w.Controls(), s);
        form.FormCreate();
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        const QString dir = QStringLiteral(NERID_SCREENS_DIR);
        QDir().mkpath(dir);
        auto shot = [&](const char* state) {
            SaveScreenshot(w, dir + "/" + shotPrefix + "_" + state + ".png");
        };
        shot("searching");

        ASSERT_TRUE(WaitFor([&] { return form.AIP.size() == 2; }, 15000));
        QTest::qWait(50);
        shot("listed");
        auto* next = w.findChild<QPushButton*>(QStringLiteral("btnProg"));
        ASSERT_NE(next, nullptr);
        ASSERT_TRUE(next->isEnabled());
        EXPECT_EQ(next->text().toStdString(), LangText(17));
        QTest::mouseClick(next, Qt::LeftButton);
        ASSERT_TRUE(WaitFor([&] { return form.RunActive() && w.Controls().pgbMain->Position() > 0; }, 15000));
        shot("programming");
        ASSERT_TRUE(WaitFor([&] { return w.Controls().lblState->Text() == LangText(5); }, 60000));
        QTest::qWait(50);
        shot("finished");

        // Each row against its device: the good one green, the dying one red.
        for (const TInfoPanel& row : form.AIP) {
            auto* box = dynamic_cast<TQtCheckBox*>(row.C);
            ASSERT_NE(box, nullptr);
            const bool isBad = row.P->Caption().find("00000002") != std::string::npos;
            EXPECT_EQ(box->FontColor(), isBad ? QColor(255, 0, 0) : QColor(0, 128, 0)) << row.P->Caption();
            EXPECT_EQ(box->Text(), row.P->Caption() + "\r\n   " + LangText(isBad ? 10 : 9));
            EXPECT_FALSE(box->Checked());
        }
        EXPECT_FALSE(next->isEnabled());
        EXPECT_EQ(simGood.Device(0).Resets(), 1);
        EXPECT_EQ(simBad.Device(0).Resets(), 0);
        w.close();
        dispatcher.Stop();
    }
};

TEST_F(QtUpdater, EnglishRunEndsWithOneGreenAndOneRedRow)
{
    TSampleFirmware fw;
    fw.FlashLength = 0x800;
    Run(fw, "qt_en");
    EXPECT_EQ(Lang, 1);
}

TEST_F(QtUpdater, RussianRunEndsWithOneGreenAndOneRedRow)
{
    TSampleFirmware fw;
    fw.Name = "\xD2\xE5\xF1\xF2\xE5\xF0-1"; // "Тестер-1"
    fw.FlashLength = 0x800;
    Run(fw, "qt_ru");
    EXPECT_EQ(Lang, 0);
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
