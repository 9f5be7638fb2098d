// The chart of nerid-bench: one horizontal bar per figure, its value as a share of its goal (the line at 100 %),
// green when the goal is met; drawn with cairo and Pango into a PNG.
#include "bench/bench.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <memory>

namespace {

// `text` in 13-pixel sans-serif, vertically centred in a row of height h whose top is y.
void Text(cairo_t* cr, const std::string& text, double x, double y, double h)
{
    std::unique_ptr<PangoLayout, decltype(&g_object_unref)> layout(pango_cairo_create_layout(cr), g_object_unref);
    std::unique_ptr<PangoFontDescription, decltype(&pango_font_description_free)> font(
        pango_font_description_from_string("sans-serif"), pango_font_description_free);
    pango_font_description_set_absolute_size(font.get(), 13 * PANGO_SCALE);
    pango_layout_set_font_description(layout.get(), font.get());
    pango_layout_set_text(layout.get(), text.c_str(), -1);
    int w = 0, th = 0;
    pango_layout_get_pixel_size(layout.get(), &w, &th);
    cairo_move_to(cr, x, y + (h - th) / 2);
    pango_cairo_show_layout(cr, layout.get());
}

} // namespace

bool DrawChart(const nlohmann::ordered_json& figures, const std::string& pngPath)
{
    const int rowH = 34, left = 360, barW = 420, top = 50;
    const int n = static_cast<int>(figures.size());
    std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> surface(
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, left + barW + 190, top + n * rowH + 40), cairo_surface_destroy);
    std::unique_ptr<cairo_t, decltype(&cairo_destroy)> owner(cairo_create(surface.get()), cairo_destroy);
    cairo_t* cr = owner.get();
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_set_source_rgb(cr, 0, 0, 0);
    Text(cr, "nerid-bench: each figure as a share of its goal (lower is better; line = goal)", 10, 6, 24);
    const double scaleMax = 1.5; // the bar's full width
    const int goalX = left + static_cast<int>(barW / scaleMax);
    int y = top;
    for (const auto& fig : figures) {
        const double value = fig.value("value", 0.0);
        const double goal = fig.value("goal", 1.0);
        const double share = goal > 0 ? value / goal : 0;
        const bool met = fig.value("met", false);
        cairo_set_source_rgb(cr, 0, 0, 0);
        Text(cr, fig.value("name", std::string()), 10, y, rowH - 6);
        const int w = static_cast<int>(std::clamp(share, 0.0, scaleMax) / scaleMax * barW);
        if (met)
            cairo_set_source_rgb(cr, 60 / 255.0, 170 / 255.0, 80 / 255.0);
        else
            cairo_set_source_rgb(cr, 210 / 255.0, 60 / 255.0, 50 / 255.0);
        cairo_rectangle(cr, left, y + 4, std::max(w, 1), rowH - 14);
        cairo_fill(cr);
        cairo_set_source_rgb(cr, 0, 0, 0);
        Text(cr, fig.value("label", std::string()), left + barW + 8, y, rowH - 6);
        y += rowH;
    }
    const double dash[] = {6, 4};
    cairo_set_dash(cr, dash, 2, 0);
    cairo_set_line_width(cr, 2);
    cairo_move_to(cr, goalX, top - 4);
    cairo_line_to(cr, goalX, y);
    cairo_stroke(cr);
    cairo_surface_flush(surface.get());
    return cairo_surface_write_to_png(surface.get(), pngPath.c_str()) == CAIRO_STATUS_SUCCESS;
}
