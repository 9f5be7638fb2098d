// The updater's main window in GTK 3: creates and lays out every control and hands them to the window logic as
// TWindowControls. Main thread only; construct after gtk_init. The window owns all its controls and its GTK widgets.
#pragma once

#include "app/gtk/gtk_controls.h"
#include "app/window/controls.h"

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <string>

// A fixed 576 × 370 client area (design pixels), not resizable, close button only, always on top, centred on the
// screen when first shown. Widgets carry the design's names as widget names (lblState, btnProg, pnlData …); the
// panels, the group box and the etched lines are painted by the window's content area.
//
// Keyboard: Tab goes through the rows, then Next, then Close; Enter or Space activates the focused button; Escape
// does what Close does.
//
// Wiring: create the window, build the window logic on Controls(), bind SetOnAppActivate / SetOnAppDeactivate and
// SetOnClose, Show(), run the main loop. Closing the window (by the user, Escape or Close()) runs the close handler
// once and hides the window; the widgets live on until this object goes.
class TGtkMainWindow : public IWindow {
public:
    TGtkMainWindow();
    ~TGtkMainWindow() override;
    TGtkMainWindow(const TGtkMainWindow&) = delete;
    TGtkMainWindow& operator=(const TGtkMainWindow&) = delete;

    // Every control; the pointers stay valid until this window is destroyed.
    const TWindowControls& Controls() const { return FControls; }

    // Activation of the application (its window gaining the keyboard focus) and its deactivation (the user switched
    // to another program); each runs once per change.
    void SetOnAppActivate(std::function<void()> handler) { FOnAppActivate = std::move(handler); }
    void SetOnAppDeactivate(std::function<void()> handler) { FOnAppDeactivate = std::move(handler); }
    // Runs once when the window closes, before it is hidden (the application is then terminating).
    void SetOnClose(std::function<void()> handler) { FOnClose = std::move(handler); }

    void Show();
    bool Closed() const { return FClosed; }

    // IWindow
    void SetCaption(const std::string& text) override;
    std::string Caption() const override { return FCaption; }
    void SetColor(TColor c) override;
    void Close() override;

    GtkWidget* Widget() const { return FWindow; }
    // The widget of the window named `name` (a control or a panel), nullptr when there is none.
    GtkWidget* Named(const char* name) const;
    GdkRGBA Color() const { return FColor; }
    // The concrete controls, for tests and screenshots.
    TGtkRowList& RowList() const { return *FRowList; }
    TGtkProgressBar& ProgressBar() const { return *FProgress; }
    TGtkButton& NextButton() const { return *FProg; }
    TGtkButton& CloseButton() const { return *FCancel; }

    static constexpr int ClientWidth = 576, ClientHeight = 370;

private:
    static gboolean OnDrawContent(GtkWidget* w, cairo_t* cr, gpointer self);
    static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer self);
    static gboolean OnKey(GtkWidget*, GdkEventKey* e, gpointer self);
    static void OnActive(GObject*, GParamSpec*, gpointer self);
    void Place(GtkWidget* w, int x, int y, int width, int height);

    GtkWidget* FWindow;
    GtkWidget* FContent; // a GtkFixed: every control at its design place
    std::unique_ptr<TGtkLabel> FCDevices, FStateC, FState, FAccess;
    std::unique_ptr<TGtkButton> FProg, FCancel;
    std::unique_ptr<TGtkProgressBar> FProgress;
    std::unique_ptr<TGtkImage> FLogoEN, FLogoRU, FDev;
    std::unique_ptr<TGtkRowList> FRowList;
    std::unique_ptr<TGtkTimer> FTimers[4];
    TWindowControls FControls;
    std::string FCaption;
    GdkRGBA FColor;
    std::function<void()> FOnAppActivate, FOnAppDeactivate, FOnClose;
    bool FAppActive = false; // the state last seen, so that each handler runs once per change
    bool FClosed = false;
};

// Renders the window's client area as it appears on screen, at the screen's scale, into the PNG file `path`.
// Returns false when the window is not shown or the file cannot be written.
bool SaveScreenshot(const TGtkMainWindow& w, const std::string& path);

// gtk_init_check for the updater's window: false when no display can be opened. The window draws with cairo only, so
// GDK is told to leave OpenGL alone (unless GDK_GL is set already): otherwise it opens GLX at start to choose visuals,
// which loads the GL driver (with Mesa's software one, LLVM) and triples the updater's memory.
bool InitGtk(int* argc, char*** argv);
