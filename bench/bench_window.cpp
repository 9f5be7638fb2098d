// The window harness of nerid-bench: nerid-programmer's start-up sequence with a few observers attached (first
// paint, rows, scroll bar, progress, memory) and a press of Next once the devices are listed.
#include "bench/bench.h"

#include "app/gtk/gtk_dispatcher.h"
#include "app/gtk/gtk_main_window.h"
#include "base/texts.h"
#include "app/window/window.h"
#include "timing/timing.h"

#include <gtk/gtk.h>

#include <sys/resource.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <vector>

namespace {

double CpuMs()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}

} // namespace

long ProcStatusKb(const char* key)
{
    std::ifstream f("/proc/self/status");
    std::string line;
    const std::string k = std::string(key) + ":";
    while (std::getline(f, line))
        if (line.rfind(k, 0) == 0)
            return std::atol(line.c_str() + k.size());
    return -1;
}

int WindowHarness(int argc, char** argv, const std::string& mode, const std::string& portsFile,
                  const std::string& reportPath, const std::string& shotDir)
{
    // The spawn time of this process on the shared monotonic clock, from the parent.
    const char* t0Text = std::getenv("NERID_BENCH_T0");
    const double t0 = t0Text ? std::atof(t0Text) : NowMs();
    std::vector<std::string> ports;
    {
        std::ifstream f(portsFile);
        for (std::string p; std::getline(f, p);)
            if (!p.empty())
                ports.push_back(p);
    }

    if (!InitGtk(&argc, &argv))
        throw std::runtime_error("the window harness cannot open the display");
    TGtkDispatcher dispatcher;
    TGtkMainWindow w;
    TWindowServices s; // the package from this executable's tail, the 300 ms wait: as shipped
    s.listPorts = [ports] { return ports; };
    TfrmNeridProgrammer form(w.Controls(), s);
    const double createStart = NowMs();
    form.FormCreate();
    const double createEnd = NowMs();
    w.SetOnClose([&form] {
        form.FormClose();
        gtk_main_quit();
    });
    // The first paint of the window: the moment the user first sees it.
    double shownMs = 0;
    g_signal_connect(w.Widget(), "draw", G_CALLBACK(+[](GtkWidget*, cairo_t*, gpointer shown) {
        double& ms = *static_cast<double*>(shown);
        if (ms == 0)
            ms = NowMs();
        return FALSE;
    }), &shownMs);
    w.Show();

    nlohmann::ordered_json r;
    r["mode"] = mode;
    r["devices"] = ports.size();
    r["status"] = "timeout";
    IButton* next = w.Controls().btnProg;
    double listedMs = 0, clickMs = 0, fullMs = 0, cpuAtClick = 0;
    int maxBar = 0;
    bool scrollBar = false, shotTaken = false;
    long rssListed = 0;
    const double deadline = NowMs() + 120000;

    std::function<void()> tick = [&] {
        const double now = NowMs();
        if (shownMs == 0)
            return;
        if (now > deadline) {
            w.Close();
            return;
        }
        if (mode == "idle") {
            if (now - shownMs > 3000) {
                r["status"] = "ok";
                w.Close();
            }
            return;
        }
        if (clickMs == 0) {
            if (listedMs == 0 && form.AIP.size() == ports.size() && next && next->Enabled())
                listedMs = now;
            // The last row's layout is a posted request: the scroll bar and the rows' places are only right once
            // the event loop has run it, so the look is taken a few ticks after the rows are all there.
            if (listedMs > 0 && now - listedMs >= 50) {
                rssListed = ProcStatusKb("VmHWM");
                GtkScrolledWindow* list = GTK_SCROLLED_WINDOW(w.RowList().Widget());
                GtkAdjustment* range = gtk_scrolled_window_get_vadjustment(list);
                scrollBar = gtk_widget_get_child_visible(gtk_scrolled_window_get_vscrollbar(list)) &&
                            gtk_adjustment_get_upper(range) > gtk_adjustment_get_page_size(range);
                SaveScreenshot(w, shotDir + "/window_64_listed.png");
                cpuAtClick = CpuMs();
                clickMs = NowMs();
                gtk_button_clicked(GTK_BUTTON(w.NextButton().Widget()));
            }
            return;
        }
        const int pos = w.ProgressBar().Position();
        if (pos > maxBar)
            maxBar = pos;
        if (pos == 1000 && fullMs == 0)
            fullMs = now;
        // Every row green with the bar still full: the 100 ms before the run's end timer empties the bar.
        if (pos == 1000 && !shotTaken) {
            bool allGreen = true;
            for (const TInfoPanel& row : form.AIP)
                allGreen = allGreen && row.P->Tag() == kStateProgrammed;
            if (allGreen)
                shotTaken = SaveScreenshot(w, shotDir + "/window_64_programmed.png");
        }
        if (form.RunActive() == false && w.Controls().lblState->Text() == LangText(5)) {
            int programmed = 0;
            for (const TInfoPanel& row : form.AIP)
                programmed += row.P->Tag() == kStateProgrammed;
            r["status"] = "ok";
            r["programmed"] = programmed;
            r["run_ms"] = now - clickMs;
            r["full_bar_after_ms"] = fullMs > 0 ? fullMs - clickMs : -1;
            r["bar_max"] = maxBar;
            r["screenshot_all_programmed"] = shotTaken;
            r["scroll_bar"] = scrollBar;
            r["listed_after_ms"] = listedMs - t0;
            r["cpu_ms_run"] = CpuMs() - cpuAtClick;
            r["rss_peak_listed_kb"] = rssListed;
            w.Close();
        }
    };
    const guint ticker = g_timeout_add(2, +[](gpointer f) -> gboolean {
        (*static_cast<std::function<void()>*>(f))();
        return G_SOURCE_CONTINUE;
    }, &tick);
    gtk_main();
    g_source_remove(ticker);
    dispatcher.Stop();
    r["shown_after_ms"] = shownMs - t0;
    r["form_create_ms"] = createEnd - createStart;
    r["start_wait_ms"] = s.startDelayMs;
    r["caption"] = w.Caption();
    r["rss_peak_kb"] = ProcStatusKb("VmHWM");
    r["cpu_ms_total"] = CpuMs();
    std::ofstream(reportPath) << r.dump(1) << "\n";
    return 0;
}
