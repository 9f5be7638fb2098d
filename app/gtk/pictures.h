// The project's own pictures, drawn with cairo in the design's pixels: the two 159 × 57 logos, the 15 × 15 device icon
// and the 64 × 64 application icon. The Linux window draws them at its screen's scale; nerid_make_pictures writes them
// as PNG files for the Windows build. Any thread; each call draws into the caller's cairo context only.
#pragma once

#include <cairo.h>

#include <string>

enum class TPicture { LogoEN, LogoRU, Device, AppIcon };

// Width and height of a picture in the design's pixels.
int PictureWidth(TPicture p);
int PictureHeight(TPicture p);

// Draws `p` with its top-left corner at the current origin of `cr`, one design pixel per user-space unit: scale the
// context (or the surface's device scale) to draw it larger, as sharp as at its own size.
void DrawPicture(cairo_t* cr, TPicture p);

// Writes `p` at `scale` times its size into the PNG file `path` (ARGB with alpha); false when it cannot be written.
bool SavePicturePng(TPicture p, const std::string& path, int scale = 1);
