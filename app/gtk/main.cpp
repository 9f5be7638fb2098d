// nerid-programmer on Linux: the updater window in GTK 3, with the firmware package appended to this executable.
#include "app/gtk/gtk_dispatcher.h"
#include "app/gtk/gtk_main_window.h"
#include "app/window/window.h"

#include <glib-unix.h>
#include <gtk/gtk.h>

#include <csignal>
#include <cstdio>

int main(int argc, char** argv)
{
    if (!InitGtk(&argc, &argv)) {
        std::fprintf(stderr, "nerid-programmer: cannot open a display; start it from a desktop session (DISPLAY or "
                             "WAYLAND_DISPLAY must be set)\n");
        return 1;
    }
    TGtkDispatcher dispatcher;
    TGtkMainWindow w;
    // Declared after the window: it holds pointers into the window's controls and goes first.
    TfrmNeridProgrammer form(w.Controls(), TWindowServices{});
    form.FormCreate();
    w.SetOnAppActivate([&form] { form.FormActivate(); });
    w.SetOnAppDeactivate([&form] { form.FormDeactivate(); });
    w.SetOnClose([&form] {
        form.FormClose();
        gtk_main_quit();
    });
    // SIGINT/SIGTERM (Ctrl-C, logout) close the window as the close button would; GLib turns them into main-loop
    // events, so the close runs on the main thread.
    for (int sig : {SIGINT, SIGTERM})
        g_unix_signal_add(sig, +[](gpointer window) -> gboolean {
            static_cast<TGtkMainWindow*>(window)->Close();
            return G_SOURCE_CONTINUE;
        }, &w);
    w.Show();
    gtk_main();
    // Workers still running report into nothing from here on; none of them can hold up the exit.
    dispatcher.Stop();
    return 0;
}
