// The updater's main window in Qt 6 Widgets: creates and lays out every control and hands them to the window logic as
// TWindowControls. Main thread only; construct after the QApplication. The window owns all its controls.
#pragma once

#include "app/qt/qt_controls.h"
#include "app/window/controls.h"

#include <QString>
#include <QWidget>

#include <functional>
#include <string>

class QCloseEvent;
class QShowEvent;

// A fixed 576 × 370 client area, not resizable, close button only, always on top, centred on the screen when first
// shown. Widgets carry the design's names as object names (pnlMain, GroupBox1, Panel1 … pnlData, pnlBtns).
//
// Wiring: create the window, build the window logic on Controls(), bind SetOnAppActivate / SetOnAppDeactivate and
// SetOnClose, show(), run the event loop. Closing the window (by the user or by Close()) runs the close handler once,
// then the window goes and, being the last window, ends QApplication::exec().
class TQtMainWindow : public QWidget, public IWindow {
public:
    TQtMainWindow();
    ~TQtMainWindow() override;

    // Every control; the pointers stay valid until this window is destroyed.
    const TWindowControls& Controls() const { return FControls; }

    // Activation of the whole application (any of its windows gaining the focus) and its deactivation (the user
    // switched to another program), from QGuiApplication::applicationStateChanged; each runs once per change.
    void SetOnAppActivate(std::function<void()> handler) { FOnAppActivate = std::move(handler); }
    void SetOnAppDeactivate(std::function<void()> handler) { FOnAppDeactivate = std::move(handler); }
    // Runs when the window closes, before it is gone (the application is then terminating).
    void SetOnClose(std::function<void()> handler) { FOnClose = std::move(handler); }

    // IWindow
    void SetCaption(const std::string& text) override;
    std::string Caption() const override { return FCaption; }
    void SetColor(TColor c) override;
    void Close() override { close(); }

    // The concrete controls, for tests and screenshots.
    TQtRowList& RowList() const { return *FRowList; }
    TQtProgressBar& ProgressBar() const { return *FProgress; }

protected:
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    void OnApplicationState(Qt::ApplicationState state);

    TWindowControls FControls;
    TQtRowList* FRowList = nullptr;
    TQtProgressBar* FProgress = nullptr;
    std::string FCaption;
    std::function<void()> FOnAppActivate, FOnAppDeactivate, FOnClose;
    bool FAppActive; // the application state last seen, so that each handler runs once per change
    bool FCentred = false;
    bool FClosing = false;
};

// The window font: Tahoma at 11 pixels (8 point at 96 pixels per inch, the unit the layout is drawn in). Tahoma comes
// from the system, else from the Tahoma-compatible font of the Windows compatibility layer where one is installed,
// else the default sans-serif font is used at the same size.
QFont WindowFont();

// Renders `w` as it would appear on screen (client area, no frame) into the PNG file `path`. Returns false when the
// file cannot be written.
bool SaveScreenshot(QWidget& w, const QString& path);
