// nerid-programmer on Linux: the updater window in Qt 6, with the firmware package appended to this executable.
#include "app/qt/qt_dispatcher.h"
#include "app/qt/qt_main_window.h"
#include "app/window/window.h"

#include <QApplication>

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
    w.show();
    const int rc = app.exec();
    // Workers still running report into nothing from here on; none of them can hold up the exit.
    dispatcher.Stop();
    return rc;
}
