// The updater's main window in GTK 3: the controls at their design places, the painted panels and lines, the keyboard
// and the application-level events.
#include "app/gtk/gtk_main_window.h"

#include <cstring>

namespace {

// Where the design puts things, in the client area (x, y, width, height).
struct TRect {
    int x, y, w, h;
};
constexpr TRect Face{2, 1, 572, 367};       // pnlMain: the button face inside the window's coloured frame
constexpr TRect GroupBox{10, 9, 556, 312};  // GroupBox1, its frame half a text line lower
constexpr int GroupFrameDrop = 6;           // half the height of the window font's line
constexpr TRect Shape1{22, 99, 532, 1};     // the etched separator: a dark line over a light one
constexpr TRect Shape2{22, 100, 532, 1};

// The window's look that the theme does not give: the design's font (Tahoma 8 pt at 96 dpi is 11 pixels; fontconfig
// picks the nearest where Tahoma is missing), bold headings, a 25-pixel progress bar, buttons that fit their
// 31-pixel height and a list that shows the panel's face. Installed once for the screen, scoped to this window.
constexpr const char* WindowCss = R"css(
#frmNeridProgrammer, #frmNeridProgrammer * { font-family: Tahoma, "DejaVu Sans", sans-serif; font-size: 11px; }
#frmNeridProgrammer #lblStateC, #frmNeridProgrammer #lblCDevices { font-weight: bold; }
#frmNeridProgrammer #pgbMain trough, #frmNeridProgrammer #pgbMain progress { min-height: 23px; }
#frmNeridProgrammer #btnProg, #frmNeridProgrammer #btnCancel { min-height: 0; padding: 2px 8px; }
#frmNeridProgrammer #pnlData, #frmNeridProgrammer #pnlData viewport { background: transparent; }
)css";

void InstallCss()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css, WindowCss, -1, nullptr);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);
}

void Fill(cairo_t* cr, const GdkRGBA& c, TRect r)
{
    gdk_cairo_set_source_rgba(cr, &c);
    cairo_rectangle(cr, r.x, r.y, r.w, r.h);
    cairo_fill(cr);
}

// A one-pixel outline along the inside of r.
void Outline(cairo_t* cr, const GdkRGBA& c, TRect r)
{
    gdk_cairo_set_source_rgba(cr, &c);
    cairo_set_line_width(cr, 1);
    cairo_rectangle(cr, r.x + 0.5, r.y + 0.5, r.w - 1, r.h - 1);
    cairo_stroke(cr);
}

GtkWidget* FindNamed(GtkWidget* w, const char* name)
{
    if (std::strcmp(gtk_widget_get_name(w), name) == 0)
        return w;
    if (!GTK_IS_CONTAINER(w))
        return nullptr;
    GtkWidget* found = nullptr;
    GList* children = gtk_container_get_children(GTK_CONTAINER(w));
    for (GList* c = children; c && !found; c = c->next)
        found = FindNamed(static_cast<GtkWidget*>(c->data), name);
    g_list_free(children);
    return found;
}

// The application icon for the window's frame and the task bar, drawn at 64 × 64.
GdkPixbuf* AppIcon()
{
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 64, 64);
    cairo_t* cr = cairo_create(s);
    DrawPicture(cr, TPicture::AppIcon);
    cairo_destroy(cr);
    GdkPixbuf* icon = gdk_pixbuf_get_from_surface(s, 0, 0, 64, 64);
    cairo_surface_destroy(s);
    return icon;
}

} // namespace

TGtkMainWindow::TGtkMainWindow()
    : FWindow(gtk_window_new(GTK_WINDOW_TOPLEVEL)), FContent(gtk_fixed_new()),
      FCDevices(std::make_unique<TGtkLabel>("lblCDevices")), FStateC(std::make_unique<TGtkLabel>("lblStateC")),
      FState(std::make_unique<TGtkLabel>("lblState")), FAccess(std::make_unique<TGtkLabel>("lblAccess")),
      FProg(std::make_unique<TGtkButton>("btnProg")),
      FCancel(std::make_unique<TGtkButton>("btnCancel")), FProgress(std::make_unique<TGtkProgressBar>("pgbMain")),
      FLogoEN(std::make_unique<TGtkImage>(TPicture::LogoEN, false, "imgLogoEN")),
      FLogoRU(std::make_unique<TGtkImage>(TPicture::LogoRU, false, "imgLogoRU")),
      FDev(std::make_unique<TGtkImage>(TPicture::Device, true, "imgDev")),
      FRowList(std::make_unique<TGtkRowList>("pnlData"))
{
    InstallCss();
    gtk_widget_set_name(FWindow, "frmNeridProgrammer");
    gtk_window_set_resizable(GTK_WINDOW(FWindow), FALSE);
    gtk_window_set_keep_above(GTK_WINDOW(FWindow), TRUE);
    gtk_window_set_position(GTK_WINDOW(FWindow), GTK_WIN_POS_CENTER);
    if (GdkPixbuf* icon = AppIcon()) {
        gtk_window_set_icon(GTK_WINDOW(FWindow), icon);
        g_object_unref(icon);
    }
    // A window manager that honours the hints offers neither minimise nor maximise; the window only moves and closes.
    g_signal_connect(FWindow, "realize", G_CALLBACK(+[](GtkWidget* w, gpointer) {
        gdk_window_set_functions(gtk_widget_get_window(w),
                                 static_cast<GdkWMFunction>(GDK_FUNC_MOVE | GDK_FUNC_CLOSE));
    }), nullptr);
    gtk_widget_set_name(FContent, "pnlMain");
    gtk_widget_set_size_request(FContent, ClientWidth, ClientHeight);
    gtk_container_add(GTK_CONTAINER(FWindow), FContent);
    FColor = ToRgba(TColor::System(TSysColor::BtnFace), FWindow);

    // Panel1: the language's logo on the left (Panel5); at the bottom of Panel4 (10 pixels above its end) the status
    // heading, the status line and, only while there is one, the access line under them.
    for (TGtkImage* logo : {FLogoEN.get(), FLogoRU.get()}) {
        logo->SetVisible(false);
        Place(logo->Widget(), 22, 24, 159, 65);
    }
    GtkWidget* panel4 = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_widget_set_name(panel4, "Panel4");
    // Its texts end 10 pixels above the logo's end; the box reaches 10 pixels above the logo, so that a two-line
    // access line pushes the heading up instead of the box past its end.
    Place(panel4, 202, 24 - 10, 352, 65);
    for (TGtkLabel* l : {FState.get(), FStateC.get()})
        gtk_label_set_ellipsize(GTK_LABEL(l->Widget()), PANGO_ELLIPSIZE_END);
    GtkWidget* access = FAccess->Widget();
    gtk_label_set_line_wrap(GTK_LABEL(access), TRUE);
    gtk_widget_set_no_show_all(access, TRUE);
    g_signal_connect(access, "notify::label", G_CALLBACK(+[](GtkWidget* l, GParamSpec*, gpointer) {
        gtk_widget_set_visible(l, *gtk_label_get_text(GTK_LABEL(l)) != '\0');
    }), nullptr);
    gtk_box_pack_end(GTK_BOX(panel4), access, FALSE, FALSE, 0);
    gtk_box_pack_end(GTK_BOX(panel4), FState->Widget(), FALSE, FALSE, 0);
    gtk_box_pack_end(GTK_BOX(panel4), FStateC->Widget(), FALSE, FALSE, 0);

    // Panel2: the found-devices heading and picture (Panel3) left of the list.
    GtkLabel* devices = GTK_LABEL(FCDevices->Widget());
    gtk_label_set_xalign(devices, 1);
    gtk_label_set_justify(devices, GTK_JUSTIFY_RIGHT);
    gtk_label_set_line_wrap(devices, TRUE);
    Place(FCDevices->Widget(), 22, 126, 160, 143);
    FDev->SetVisible(false);
    Place(FDev->Widget(), 37, 171, 26, 31);
    Place(FRowList->Widget(), 202, 111, 352, 158);

    Place(FProgress->Widget(), 22, 279, 532, 25);
    FProg->SetEnabled(false);
    Place(FProg->Widget(), 341, 329, 100, 31);
    Place(FCancel->Widget(), 446, 329, 85, 31);
    // The rows, Next and Close in this order for Tab: GTK's tab order goes top to bottom, then left to right, and
    // the design puts them so.

    g_signal_connect(FContent, "draw", G_CALLBACK(&TGtkMainWindow::OnDrawContent), this);
    g_signal_connect(FWindow, "delete-event", G_CALLBACK(&TGtkMainWindow::OnDelete), this);
    g_signal_connect(FWindow, "key-press-event", G_CALLBACK(&TGtkMainWindow::OnKey), this);
    g_signal_connect(FWindow, "notify::is-active", G_CALLBACK(&TGtkMainWindow::OnActive), this);

    FControls.window = this;
    FControls.lblCDevices = FCDevices.get();
    FControls.lblStateC = FStateC.get();
    FControls.lblState = FState.get();
    FControls.lblAccess = FAccess.get();
    FControls.btnProg = FProg.get();
    FControls.btnCancel = FCancel.get();
    FControls.pgbMain = FProgress.get();
    FControls.imgLogoEN = FLogoEN.get();
    FControls.imgLogoRU = FLogoRU.get();
    FControls.imgDev = FDev.get();
    FControls.pnlData = FRowList.get();
    for (auto& t : FTimers)
        t = std::make_unique<TGtkTimer>();
    FControls.tmrStartSearch = FTimers[0].get();
    FControls.tmrStopSearch = FTimers[1].get();
    FControls.tmrStartProg = FTimers[2].get();
    FControls.tmrStopProg = FTimers[3].get();
}

TGtkMainWindow::~TGtkMainWindow()
{
    // Timers and the pulse stop with their objects; the widgets go with the window (the controls only point at them).
    for (auto& t : FTimers)
        t->SetEnabled(false);
    FProgress->SetMarquee(false);
    g_signal_handlers_disconnect_by_data(FWindow, this);
    gtk_widget_destroy(FWindow);
}

void TGtkMainWindow::Place(GtkWidget* w, int x, int y, int width, int height)
{
    gtk_widget_set_size_request(w, width, height);
    gtk_fixed_put(GTK_FIXED(FContent), w, x, y);
}

void TGtkMainWindow::Show()
{
    gtk_widget_show_all(FWindow);
}

GtkWidget* TGtkMainWindow::Named(const char* name) const
{
    return FindNamed(FWindow, name);
}

void TGtkMainWindow::SetCaption(const std::string& text)
{
    FCaption = text;
    gtk_window_set_title(GTK_WINDOW(FWindow), text.c_str());
}

void TGtkMainWindow::SetColor(TColor c)
{
    FColor = ToRgba(c, FWindow);
    gtk_widget_queue_draw(FContent);
}

void TGtkMainWindow::Close()
{
    // At once, as a close by the user: the handler runs before Close returns.
    OnDelete(FWindow, nullptr, this);
}

gboolean TGtkMainWindow::OnDrawContent(GtkWidget* w, cairo_t* cr, gpointer self)
{
    const auto* win = static_cast<TGtkMainWindow*>(self);
    const GdkRGBA face = ToRgba(TColor::System(TSysColor::BtnFace), w);
    const GdkRGBA dark = ToRgba(TColor::System(TSysColor::InactiveCaptionGradient), w);
    const GdkRGBA light = LightColor(w);
    Fill(cr, win->FColor, {0, 0, ClientWidth, ClientHeight});
    Fill(cr, face, Face);
    // The group box's etched frame: a shadow line with a light line inside and below it.
    const TRect frame{GroupBox.x, GroupBox.y + GroupFrameDrop, GroupBox.w, GroupBox.h - GroupFrameDrop};
    Outline(cr, light, {frame.x + 1, frame.y + 1, frame.w - 1, frame.h - 1});
    Outline(cr, dark, {frame.x, frame.y, frame.w - 1, frame.h - 1});
    Fill(cr, dark, Shape1);
    Fill(cr, light, Shape2);
    return FALSE; // the controls draw on top
}

gboolean TGtkMainWindow::OnDelete(GtkWidget*, GdkEvent*, gpointer self)
{
    auto* win = static_cast<TGtkMainWindow*>(self);
    // Close() from inside the handler must not run it twice.
    if (!win->FClosed) {
        win->FClosed = true;
        if (win->FOnClose)
            win->FOnClose();
    }
    gtk_widget_hide(win->FWindow);
    return TRUE; // hidden, not destroyed: the controls stay valid until the window object goes
}

gboolean TGtkMainWindow::OnKey(GtkWidget*, GdkEventKey* e, gpointer self)
{
    auto* win = static_cast<TGtkMainWindow*>(self);
    if (e->keyval != GDK_KEY_Escape)
        return FALSE; // Tab, Enter and Space: GTK's own handling
    if (win->FCancel->Enabled())
        gtk_button_clicked(GTK_BUTTON(win->FCancel->Widget()));
    return TRUE;
}

void TGtkMainWindow::OnActive(GObject*, GParamSpec*, gpointer self)
{
    auto* win = static_cast<TGtkMainWindow*>(self);
    const bool active = gtk_window_is_active(GTK_WINDOW(win->FWindow));
    if (active == win->FAppActive)
        return;
    win->FAppActive = active;
    const auto& handler = active ? win->FOnAppActivate : win->FOnAppDeactivate;
    if (handler)
        handler();
}

bool SaveScreenshot(const TGtkMainWindow& w, const std::string& path)
{
    GtkWidget* win = w.Widget();
    if (!gtk_widget_get_visible(win) || !gtk_widget_get_realized(win))
        return false;
    const int scale = gtk_widget_get_scale_factor(win);
    const int width = gtk_widget_get_allocated_width(win), height = gtk_widget_get_allocated_height(win);
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width * scale, height * scale);
    cairo_surface_set_device_scale(s, scale, scale);
    cairo_t* cr = cairo_create(s);
    gtk_widget_draw(win, cr);
    cairo_destroy(cr);
    const bool ok = cairo_surface_write_to_png(s, path.c_str()) == CAIRO_STATUS_SUCCESS;
    cairo_surface_destroy(s);
    return ok;
}

bool InitGtk(int* argc, char*** argv)
{
    g_setenv("GDK_GL", "disable", FALSE);
    return gtk_init_check(argc, argv);
}
