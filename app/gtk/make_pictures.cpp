// Draws the project's own pictures into a folder as PNG with alpha: the two logos, the device icon and the application
// icon (64 and 256 pixels). Usage: nerid_make_pictures <folder>. The results are committed in app/pictures (the
// Windows window's resources and icon, and the desktop icon).
#include "app/gtk/pictures.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: nerid_make_pictures <folder>\n");
        return 2;
    }
    const std::string dir = argv[1];
    const bool ok = SavePicturePng(TPicture::LogoEN, dir + "/logo_en.png") &&
                    SavePicturePng(TPicture::LogoRU, dir + "/logo_ru.png") &&
                    SavePicturePng(TPicture::Device, dir + "/device.png") &&
                    SavePicturePng(TPicture::AppIcon, dir + "/nerid-programmer.png") &&
                    // The Windows icon's 256-pixel image: the drawing itself at four times the scale.
                    SavePicturePng(TPicture::AppIcon, dir + "/nerid-programmer-256.png", 4);
    if (!ok) {
        std::fprintf(stderr, "nerid_make_pictures: cannot write into %s; check that the folder exists and is writable\n",
                     argv[1]);
        return 1;
    }
    return 0;
}
