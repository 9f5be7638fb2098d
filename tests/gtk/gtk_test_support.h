// Shared by the GTK window's tests: a virtual display started before GTK, main-loop waits, real pointer clicks and key
// presses through the X server (xdotool), and the look of the window as pixels. Main thread only.
#pragma once

#include "app/gtk/gtk_main_window.h"
#include "dev/child/child_process.h"
#include "dev/child/virtual_display.h"
#include "timing/timing.h"

#include <gtk/gtk.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// Runs the main loop until done() or timeoutMs has passed; returns done().
inline bool WaitFor(const std::function<bool()>& done, double timeoutMs)
{
    const double end = NowMs() + timeoutMs;
    while (!done() && NowMs() < end) {
        if (!g_main_context_iteration(nullptr, FALSE))
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return done();
}

// Runs the main loop for ms milliseconds.
inline void Settle(double ms = 30)
{
    WaitFor([] { return false; }, ms);
}

// Runs xdotool with args against the virtual display; true when it succeeded.
inline bool XDo(const std::vector<std::string>& args)
{
    std::vector<std::string> argv = {FindProgram("xdotool")};
    if (argv[0].empty())
        return false;
    argv.insert(argv.end(), args.begin(), args.end());
    TChild c(argv, "/dev/null", "/dev/null");
    return c.Wait().Rc == 0;
}

// A left click through the X server at (x, y) of `w` (widget coordinates), as a user's pointer would.
inline bool ClickAt(GtkWidget* w, int x, int y)
{
    GtkWidget* top = gtk_widget_get_toplevel(w);
    int wx = 0, wy = 0, ox = 0, oy = 0;
    if (!gtk_widget_translate_coordinates(w, top, x, y, &wx, &wy))
        return false;
    gdk_window_get_origin(gtk_widget_get_window(top), &ox, &oy);
    const bool ok = XDo({"mousemove", "--sync", std::to_string(ox + wx), std::to_string(oy + wy), "click", "1"});
    Settle(60);
    return ok;
}

// A key press and release through the X server (X keysym name: "Tab", "Return", "Escape", "space").
inline bool PressKey(const std::string& key)
{
    const bool ok = XDo({"key", key});
    Settle(60);
    return ok;
}

// A widget's place in its window's client area.
struct TBox {
    int x, y, w, h;
    bool operator==(const TBox&) const = default;
};
inline std::ostream& operator<<(std::ostream& o, const TBox& b)
{
    return o << "(" << b.x << ", " << b.y << ", " << b.w << " x " << b.h << ")";
}
inline TBox InWindow(GtkWidget* w)
{
    int x = 0, y = 0;
    gtk_widget_translate_coordinates(w, gtk_widget_get_toplevel(w), 0, 0, &x, &y);
    return {x, y, gtk_widget_get_allocated_width(w), gtk_widget_get_allocated_height(w)};
}

// The window's client area as an image surface at the screen's scale.
struct TShot {
    std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> Surface{nullptr, cairo_surface_destroy};
    int Scale = 1;
    int Width() const { return cairo_image_surface_get_width(Surface.get()); }
    int Height() const { return cairo_image_surface_get_height(Surface.get()); }
    // The pixel at (x, y) in device pixels as 0xRRGGBB (the window is opaque).
    unsigned Pixel(int x, int y) const
    {
        const unsigned char* data = cairo_image_surface_get_data(Surface.get());
        const int stride = cairo_image_surface_get_stride(Surface.get());
        std::uint32_t v = 0;
        std::memcpy(&v, data + y * stride + x * 4, 4);
        return v & 0xFFFFFF;
    }
};
inline TShot Grab(const TGtkMainWindow& w)
{
    TShot s;
    GtkWidget* win = w.Widget();
    s.Scale = gtk_widget_get_scale_factor(win);
    s.Surface.reset(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, gtk_widget_get_allocated_width(win) * s.Scale,
                                               gtk_widget_get_allocated_height(win) * s.Scale));
    cairo_surface_set_device_scale(s.Surface.get(), s.Scale, s.Scale);
    cairo_t* cr = cairo_create(s.Surface.get());
    gtk_widget_draw(win, cr);
    cairo_destroy(cr);
    cairo_surface_flush(s.Surface.get());
    return s;
}
inline unsigned Hex(const GdkRGBA& c)
{
    auto ch = [](double v) { return static_cast<unsigned>(v * 255 + 0.5); };
    return ch(c.red) << 16 | ch(c.green) << 8 | ch(c.blue);
}
inline int Red(unsigned p) { return p >> 16 & 0xFF; }
inline int Green(unsigned p) { return p >> 8 & 0xFF; }
inline int Blue(unsigned p) { return p & 0xFF; }
// Text is antialiased: a pixel "of" a font colour is one whose hue leans clearly that way.
inline bool Greenish(unsigned p) { return Green(p) > Red(p) + 40 && Green(p) > Blue(p) + 40; }
inline bool Reddish(unsigned p) { return Red(p) > Green(p) + 60 && Red(p) > Blue(p) + 60; }
inline bool Orange(unsigned p) { return Red(p) > 200 && Blue(p) < 60 && Green(p) > 90; }

// main() of a GTK test program: a virtual display of its own (none when only listing the tests), then GTK.
inline int RunGtkTests(int argc, char** argv, const char* xvfbLog)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    std::unique_ptr<TVirtualDisplay> display;
    try {
        display = std::make_unique<TVirtualDisplay>(xvfbLog);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    if (!InitGtk(&argc, &argv)) {
        std::fprintf(stderr, "GTK cannot open the virtual display %s\n", display->Name().c_str());
        return 1;
    }
    const int rc = RUN_ALL_TESTS();
    // Let go of the display before its server stops.
    gdk_display_close(gdk_display_get_default());
    return rc;
}
