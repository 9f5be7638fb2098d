// nerid-programmer on Linux: the updater window in Qt 6, with the firmware package appended to this executable.
#include "app/qt/qt_dispatcher.h"
#include "app/qt/qt_main_window.h"
#include "app/window/window.h"

#include <memory>

#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// SIGINT/SIGTERM (Ctrl-C, logout) close the window as the close button would: the handler only writes to a pipe,
// the event loop does the rest.
int gSignalPipe[2] = {-1, -1};

void OnSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(gSignalPipe[1], &c, 1);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    TQtDispatcher dispatcher;
    TQtMainWindow w;
    // Declared after the window: it holds pointers into the window's controls and goes first.
    TfrmNeridProgrammer form(w.Controls(), TWindowServices{});
    form.FormCreate();
    w.SetOnAppActivate([&form] { form.FormActivate(); });
    w.SetOnAppDeactivate([&form] { form.FormDeactivate(); });
    w.SetOnClose([&form] { form.FormClose(); });
    std::unique_ptr<QSocketNotifier> signalNotifier;
    if (::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        signalNotifier = std::make_unique<QSocketNotifier>(gSignalPipe[0], QSocketNotifier::Read);
        QObject::connect(signalNotifier.get(), &QSocketNotifier::activated, &w, [&w] { w.close(); });
        std::signal(SIGINT, OnSignal);
        std::signal(SIGTERM, OnSignal);
    }
    w.show();
    const int rc = app.exec();
    // Workers still running report into nothing from here on; none of them can hold up the exit.
    dispatcher.Stop();
    return rc;
}
