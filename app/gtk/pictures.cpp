// The logos, the device icon and the application icon: vector shapes and text with cairo and Pango, the device icon
// as a grid of design pixels so that it stays crisp at any whole scale.
#include "app/gtk/pictures.h"

#include <pango/pangocairo.h>

#include <memory>

namespace {

struct TRgb {
    double r, g, b;
};
constexpr TRgb Rgb(int r, int g, int b) { return {r / 255.0, g / 255.0, b / 255.0}; }

constexpr TRgb Ink = Rgb(0x17, 0x3f, 0x70);     // chip body and word
constexpr TRgb InkDark = Rgb(0x0f, 0x2b, 0x4d); // chip body, lower end of its gradient
constexpr TRgb Pin = Rgb(0x9a, 0xa4, 0xb0);     // chip pins
constexpr TRgb Arrow = Rgb(0xf2, 0x8a, 0x00);   // the update arrow
constexpr TRgb Sub = Rgb(0x55, 0x5f, 0x6b);     // the line under the word

void Set(cairo_t* cr, TRgb c, double alpha = 1) { cairo_set_source_rgba(cr, c.r, c.g, c.b, alpha); }

void RoundedRect(cairo_t* cr, double x, double y, double w, double h, double r)
{
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -G_PI / 2, 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, G_PI / 2);
    cairo_arc(cr, x + r, y + h - r, r, G_PI / 2, G_PI);
    cairo_arc(cr, x + r, y + r, r, G_PI, 3 * G_PI / 2);
    cairo_close_path(cr);
}

// The mark: a chip with five pins a side and an upward arrow on it, inside a 52 × 52 square at (x, y).
void DrawMark(cairo_t* cr, double x, double y)
{
    Set(cr, Pin);
    for (int i = 0; i < 5; ++i) {
        const double at = 11 + i * 7;
        cairo_rectangle(cr, x + at, y, 3, 6);      // top
        cairo_rectangle(cr, x + at, y + 46, 3, 6); // bottom
        cairo_rectangle(cr, x, y + at, 6, 3);      // left
        cairo_rectangle(cr, x + 46, y + at, 6, 3); // right
    }
    cairo_fill(cr);

    std::unique_ptr<cairo_pattern_t, decltype(&cairo_pattern_destroy)> body(
        cairo_pattern_create_linear(x, y + 5, x, y + 47), cairo_pattern_destroy);
    cairo_pattern_add_color_stop_rgb(body.get(), 0, Ink.r, Ink.g, Ink.b);
    cairo_pattern_add_color_stop_rgb(body.get(), 1, InkDark.r, InkDark.g, InkDark.b);
    cairo_set_source(cr, body.get());
    RoundedRect(cr, x + 5, y + 5, 42, 42, 5);
    cairo_fill(cr);
    // A thin inner ring gives the package some depth.
    cairo_set_source_rgba(cr, 1, 1, 1, 60 / 255.0);
    cairo_set_line_width(cr, 1);
    RoundedRect(cr, x + 8.5, y + 8.5, 35, 35, 3);
    cairo_stroke(cr);

    const double cx = x + 26;
    cairo_move_to(cr, cx, y + 12);
    cairo_line_to(cr, cx + 12, y + 25);
    cairo_line_to(cr, cx + 5, y + 25);
    cairo_line_to(cr, cx + 5, y + 39);
    cairo_line_to(cr, cx - 5, y + 39);
    cairo_line_to(cr, cx - 5, y + 25);
    cairo_line_to(cr, cx - 12, y + 25);
    cairo_close_path(cr);
    Set(cr, Arrow);
    cairo_fill(cr);
}

using TLayout = std::unique_ptr<PangoLayout, decltype(&g_object_unref)>;

// `text` in DejaVu Sans at the largest pixel size up to `start` that fits into `width`; returns its width in pixels.
TLayout FittingText(cairo_t* cr, const char* text, int start, int width, bool bold)
{
    TLayout layout(pango_cairo_create_layout(cr), g_object_unref);
    pango_layout_set_text(layout.get(), text, -1);
    std::unique_ptr<PangoFontDescription, decltype(&pango_font_description_free)> font(
        pango_font_description_from_string("DejaVu Sans"), pango_font_description_free);
    pango_font_description_set_weight(font.get(), bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    for (int size = start; size > 6; --size) {
        pango_font_description_set_absolute_size(font.get(), size * PANGO_SCALE);
        pango_layout_set_font_description(layout.get(), font.get());
        int w = 0, h = 0;
        pango_layout_get_pixel_size(layout.get(), &w, &h);
        if (w <= width)
            break;
    }
    return layout;
}

// Draws `layout` with its first line's baseline at (x, baseline).
void DrawAtBaseline(cairo_t* cr, PangoLayout* layout, double x, double baseline)
{
    cairo_move_to(cr, x, baseline - pango_layout_get_baseline(layout) / double(PANGO_SCALE));
    pango_cairo_show_layout(cr, layout);
}

void DrawLogo(cairo_t* cr, const char* word, const char* line)
{
    DrawMark(cr, 2, 2);
    const int left = 61, width = 159 - left - 2;
    TLayout big = FittingText(cr, word, 27, width, true);
    Set(cr, Ink);
    DrawAtBaseline(cr, big.get(), left, 32);
    TLayout small = FittingText(cr, line, 11, width, false);
    Set(cr, Sub);
    DrawAtBaseline(cr, small.get(), left, 47);
    // An orange underline ties the word to the arrow of the mark.
    int w = 0, h = 0;
    pango_layout_get_pixel_size(big.get(), &w, &h);
    Set(cr, Arrow);
    cairo_rectangle(cr, left, 36, w, 2);
    cairo_fill(cr);
}

// The 15 × 15 device icon, one square per design pixel.
void DrawDeviceIcon(cairo_t* cr)
{
    auto set = [cr](int x, int y, TRgb c) {
        Set(cr, c);
        cairo_rectangle(cr, x, y, 1, 1);
        cairo_fill(cr);
    };
    for (int i = 4; i <= 10; i += 2) {
        for (int d = 1; d <= 2; ++d) {
            set(d, i, Pin);      // left pins
            set(14 - d, i, Pin); // right pins
            set(i, d, Pin);      // top pins
            set(i, 14 - d, Pin); // bottom pins
        }
    }
    Set(cr, Ink);
    cairo_rectangle(cr, 3, 3, 9, 4);
    cairo_fill(cr);
    Set(cr, InkDark);
    cairo_rectangle(cr, 3, 7, 9, 5);
    cairo_fill(cr);
    // The update arrow: a head of three rows and a stem.
    set(7, 4, Arrow);
    for (int x = 6; x <= 8; ++x)
        set(x, 5, Arrow);
    for (int x = 5; x <= 9; ++x)
        set(x, 6, Arrow);
    for (int y = 7; y <= 10; ++y)
        set(7, y, Arrow);
}

} // namespace

int PictureWidth(TPicture p)
{
    switch (p) {
    case TPicture::LogoEN:
    case TPicture::LogoRU:
        return 159;
    case TPicture::Device:
        return 15;
    case TPicture::AppIcon:
        return 64;
    }
    return 0;
}

int PictureHeight(TPicture p)
{
    return p == TPicture::LogoEN || p == TPicture::LogoRU ? 57 : PictureWidth(p);
}

void DrawPicture(cairo_t* cr, TPicture p)
{
    cairo_save(cr);
    // Whole-pixel shapes stay crisp: no antialiasing for the pixel-drawn icon.
    cairo_set_antialias(cr, p == TPicture::Device ? CAIRO_ANTIALIAS_NONE : CAIRO_ANTIALIAS_DEFAULT);
    switch (p) {
    case TPicture::LogoEN:
        DrawLogo(cr, "NERID", "firmware update");
        break;
    case TPicture::LogoRU:
        DrawLogo(cr, "НЕРИД", "обновление прошивки");
        break;
    case TPicture::Device:
        DrawDeviceIcon(cr);
        break;
    case TPicture::AppIcon:
        DrawMark(cr, 6, 6);
        break;
    }
    cairo_restore(cr);
}

bool SavePicturePng(TPicture p, const std::string& path, int scale)
{
    std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> surface(
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, PictureWidth(p) * scale, PictureHeight(p) * scale),
        cairo_surface_destroy);
    std::unique_ptr<cairo_t, decltype(&cairo_destroy)> cr(cairo_create(surface.get()), cairo_destroy);
    cairo_scale(cr.get(), scale, scale);
    DrawPicture(cr.get(), p);
    cairo_surface_flush(surface.get());
    return cairo_surface_write_to_png(surface.get(), path.c_str()) == CAIRO_STATUS_SUCCESS;
}
