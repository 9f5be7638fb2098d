// GTK 3 controls of the updater window.
#include "app/gtk/gtk_controls.h"

#include <algorithm>

namespace {

GdkRGBA Rgba(int r, int g, int b) { return GdkRGBA{r / 255.0, g / 255.0, b / 255.0, 1.0}; }

// A named colour of the theme; `fallback` where the theme defines none.
GdkRGBA ThemeColor(GtkWidget* w, const char* name, GdkRGBA fallback)
{
    GdkRGBA c;
    if (w && gtk_style_context_lookup_color(gtk_widget_get_style_context(w), name, &c))
        return c;
    return fallback;
}

// Plain text in one colour, bold or not, that the widget's state never changes.
void SetPlainText(GtkWidget* label, const std::string& text, const GdkRGBA* color)
{
    PangoAttrList* attrs = pango_attr_list_new();
    if (color) {
        auto channel = [](double v) { return static_cast<guint16>(std::clamp(v, 0.0, 1.0) * 65535); };
        pango_attr_list_insert(
            attrs, pango_attr_foreground_new(channel(color->red), channel(color->green), channel(color->blue)));
    }
    gtk_label_set_attributes(GTK_LABEL(label), attrs);
    pango_attr_list_unref(attrs);
    gtk_label_set_text(GTK_LABEL(label), DisplayText(text).c_str());
}

template <class F>
void Connect(gpointer instance, const char* signal, F callback, gpointer data)
{
    g_signal_connect(instance, signal, G_CALLBACK(callback), data);
}

} // namespace

GdkRGBA ToRgba(TColor c, GtkWidget* w)
{
    switch (c.sys) {
    case TSysColor::None:
        return Rgba(c.r, c.g, c.b);
    case TSysColor::BtnFace:
        return ThemeColor(w, "theme_bg_color", Rgba(240, 240, 240));
    case TSysColor::WindowText:
        return ThemeColor(w, "theme_fg_color", Rgba(0, 0, 0));
    case TSysColor::GrayText:
        return ThemeColor(w, "insensitive_fg_color", Rgba(109, 109, 109));
    case TSysColor::ActiveCaptionGradient:
        return ThemeColor(w, "theme_selected_bg_color", Rgba(185, 209, 234));
    case TSysColor::InactiveCaptionGradient:
        return ThemeColor(w, "borders", Rgba(215, 228, 242));
    }
    return Rgba(0, 0, 0);
}

GdkRGBA LightColor(GtkWidget* w)
{
    return ThemeColor(w, "theme_base_color", Rgba(255, 255, 255));
}

std::string DisplayText(const std::string& text)
{
    std::string s;
    s.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            s += text[i];
    return s;
}

// ---- label

TGtkLabel::TGtkLabel(const char* name)
    : FLabel(gtk_label_new(nullptr)), FColor(ToRgba(TColor::System(TSysColor::WindowText), nullptr))
{
    gtk_widget_set_name(FLabel, name);
    gtk_label_set_xalign(GTK_LABEL(FLabel), 0);
    gtk_label_set_yalign(GTK_LABEL(FLabel), 0);
}

void TGtkLabel::SetText(const std::string& text)
{
    FText = text;
    gtk_label_set_text(GTK_LABEL(FLabel), DisplayText(text).c_str());
}

void TGtkLabel::SetFontColor(TColor c)
{
    FColor = ToRgba(c, FLabel);
    SetPlainText(FLabel, FText, &FColor);
}

// ---- button

TGtkButton::TGtkButton(const char* name) : FButton(gtk_button_new_with_label(""))
{
    gtk_widget_set_name(FButton, name);
    Connect(FButton, "clicked", +[](GtkButton*, gpointer self) {
        auto* b = static_cast<TGtkButton*>(self);
        if (b->FOnClick)
            b->FOnClick();
    }, this);
}

void TGtkButton::SetText(const std::string& text)
{
    gtk_button_set_label(GTK_BUTTON(FButton), text.c_str());
}

std::string TGtkButton::Label() const
{
    const char* s = gtk_button_get_label(GTK_BUTTON(FButton));
    return s ? s : "";
}

// ---- progress bar

TGtkProgressBar::TGtkProgressBar(const char* name) : FBar(gtk_progress_bar_new())
{
    gtk_widget_set_name(FBar, name);
    gtk_progress_bar_set_pulse_step(GTK_PROGRESS_BAR(FBar), 0.05);
}

TGtkProgressBar::~TGtkProgressBar()
{
    if (FPulse)
        g_source_remove(FPulse);
}

void TGtkProgressBar::SetMarquee(bool on)
{
    if (on == Marquee())
        return;
    if (on) {
        gtk_progress_bar_pulse(GTK_PROGRESS_BAR(FBar));
        FPulse = g_timeout_add(40, +[](gpointer bar) -> gboolean {
            gtk_progress_bar_pulse(GTK_PROGRESS_BAR(bar));
            return G_SOURCE_CONTINUE;
        }, FBar);
    } else {
        g_source_remove(FPulse);
        FPulse = 0;
        gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(FBar), FPosition / 1000.0);
    }
}

void TGtkProgressBar::SetPosition(int position)
{
    FPosition = std::clamp(position, 0, 1000);
    if (!Marquee())
        gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(FBar), FPosition / 1000.0);
}

// ---- timer

TGtkTimer::~TGtkTimer()
{
    SetEnabled(false);
}

void TGtkTimer::SetEnabled(bool on)
{
    if (on && FSource == 0) {
        FSource = g_timeout_add(IntervalMs, &TGtkTimer::OnTimeout, this);
    } else if (!on && FSource != 0) {
        g_source_remove(FSource);
        FSource = 0;
    }
}

gboolean TGtkTimer::OnTimeout(gpointer self)
{
    auto* t = static_cast<TGtkTimer*>(self);
    const guint running = t->FSource;
    if (t->FOnTimer)
        t->FOnTimer();
    // The handler may have disabled the timer (its source is gone then) or disabled and enabled it again (a new
    // source now runs): only a timer left as it was goes on with this source.
    return t->FSource == running ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

// ---- image

TGtkImage::TGtkImage(TPicture picture, bool centred, const char* name)
    : FArea(gtk_drawing_area_new()), FPicture(picture), FCentred(centred)
{
    gtk_widget_set_name(FArea, name);
    // Shown and hidden by SetVisible alone, never by showing the whole window.
    gtk_widget_set_no_show_all(FArea, TRUE);
    gtk_widget_show(FArea);
    gtk_widget_set_size_request(FArea, PictureWidth(picture), PictureHeight(picture));
    Connect(FArea, "draw", &TGtkImage::OnDraw, this);
}

void TGtkImage::SetVisible(bool on)
{
    FVisible = on;
    gtk_widget_set_visible(FArea, on);
}

gboolean TGtkImage::OnDraw(GtkWidget* w, cairo_t* cr, gpointer self)
{
    const auto* img = static_cast<TGtkImage*>(self);
    // The context is in the design's pixels; GTK has scaled its surface for the screen, so the shapes are drawn at
    // the screen's own resolution.
    double x = 0, y = 0;
    if (img->FCentred) {
        x = (gtk_widget_get_allocated_width(w) - PictureWidth(img->FPicture)) / 2;
        y = (gtk_widget_get_allocated_height(w) - PictureHeight(img->FPicture)) / 2;
    }
    cairo_translate(cr, x, y);
    DrawPicture(cr, img->FPicture);
    return FALSE;
}

// ---- check box

TGtkCheckBox::TGtkCheckBox() : FBox(gtk_check_button_new()), FLabel(gtk_label_new(nullptr))
{
    gtk_widget_set_name(FBox, "CheckBox");
    // Right to left puts the box at the right end; the text itself reads left to right.
    gtk_widget_set_direction(FBox, GTK_TEXT_DIR_RTL);
    gtk_widget_set_direction(FLabel, GTK_TEXT_DIR_LTR);
    gtk_label_set_line_wrap(GTK_LABEL(FLabel), TRUE);
    gtk_label_set_line_wrap_mode(GTK_LABEL(FLabel), PANGO_WRAP_WORD_CHAR);
    gtk_label_set_xalign(GTK_LABEL(FLabel), 0);
    gtk_label_set_yalign(GTK_LABEL(FLabel), 0.5);
    gtk_widget_set_hexpand(FLabel, TRUE);
    // A wrapping label asks for the width of its whole text; any width will do, the row decides.
    gtk_label_set_width_chars(GTK_LABEL(FLabel), 1);
    gtk_label_set_max_width_chars(GTK_LABEL(FLabel), 1);
    gtk_container_add(GTK_CONTAINER(FBox), FLabel);
    FColor = ToRgba(TColor::System(TSysColor::WindowText), FLabel);
    Connect(FBox, "toggled", +[](GtkToggleButton*, gpointer self) {
        auto* b = static_cast<TGtkCheckBox*>(self);
        if (b->FOnClick)
            b->FOnClick();
    }, this);
}

void TGtkCheckBox::SetText(const std::string& text)
{
    FText = text;
    SetPlainText(FLabel, FText, FHasColor ? &FColor : nullptr);
}

void TGtkCheckBox::SetChecked(bool on)
{
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(FBox), on);
}

bool TGtkCheckBox::Checked() const
{
    return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(FBox));
}

void TGtkCheckBox::SetFontColor(TColor c)
{
    FColor = ToRgba(c, FLabel);
    FHasColor = true;
    SetPlainText(FLabel, FText, &FColor);
}

// ---- row panel

TGtkRowPanel::TGtkRowPanel(TGtkRowList& list) : FList(list), FRow(gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 0))
{
    gtk_widget_set_name(FRow, "Row");
    gtk_widget_set_size_request(FRow, -1, Height);
}

void TGtkRowPanel::SetTop(int top)
{
    FList.MoveTop(*this, top);
}

IImage* TGtkRowPanel::NewImage(const IImage& source)
{
    FImage = std::make_unique<TGtkImage>(dynamic_cast<const TGtkImage&>(source).Picture(), true, "RowImage");
    gtk_widget_set_margin_end(FImage->Widget(), 5);
    gtk_box_pack_start(GTK_BOX(FRow), FImage->Widget(), FALSE, FALSE, 0);
    return FImage.get();
}

ICheckBox* TGtkRowPanel::NewCheckBox()
{
    FCheck = std::make_unique<TGtkCheckBox>();
    gtk_box_pack_start(GTK_BOX(FRow), FCheck->Widget(), TRUE, TRUE, 0);
    gtk_widget_show_all(FCheck->Widget());
    return FCheck.get();
}

// ---- row list

TGtkRowList::TGtkRowList(const char* name)
    : FScroll(gtk_scrolled_window_new(nullptr, nullptr)), FBox(gtk_box_new(GTK_ORIENTATION_VERTICAL, 0))
{
    gtk_widget_set_name(FScroll, name);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(FScroll), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(FScroll), GTK_SHADOW_NONE);
    // A scroll bar that takes its own room beside the rows, as on the other platform, rather than one that appears
    // over the rows' check boxes.
    gtk_scrolled_window_set_overlay_scrolling(GTK_SCROLLED_WINDOW(FScroll), FALSE);
    gtk_widget_set_margin_end(FBox, 5);
    gtk_widget_set_valign(FBox, GTK_ALIGN_START);
    gtk_container_add(GTK_CONTAINER(FScroll), FBox);
    gtk_viewport_set_shadow_type(GTK_VIEWPORT(gtk_bin_get_child(GTK_BIN(FScroll))), GTK_SHADOW_NONE);
    gtk_container_set_focus_vadjustment(GTK_CONTAINER(FBox),
                                        gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(FScroll)));
}

IRowPanel* TGtkRowList::NewRow()
{
    FRows.push_back(std::make_unique<TGtkRowPanel>(*this));
    GtkWidget* row = FRows.back()->Widget();
    gtk_box_pack_start(GTK_BOX(FBox), row, FALSE, FALSE, 0);
    gtk_widget_show(row);
    return FRows.back().get();
}

std::vector<TGtkRowPanel*> TGtkRowList::Rows() const
{
    std::vector<TGtkRowPanel*> rows;
    GList* children = gtk_container_get_children(GTK_CONTAINER(FBox));
    for (GList* c = children; c; c = c->next)
        for (const auto& r : FRows)
            if (r->Widget() == c->data)
                rows.push_back(r.get());
    g_list_free(children);
    return rows;
}

void TGtkRowList::MoveTop(TGtkRowPanel& row, int top)
{
    // The other rows' tops as they stack now: 0, 41, 82 …; the row goes before the first at or below `top`.
    int index = 0;
    for (TGtkRowPanel* other : Rows()) {
        if (other == &row)
            continue;
        if (index * TGtkRowPanel::Height >= top)
            break;
        ++index;
    }
    gtk_box_reorder_child(GTK_BOX(FBox), row.Widget(), index);
}
