// Draws the project's own pictures into a folder: the two 159 × 57 logos (Russian and English) and the 15 × 15 device
// icon, PNG with alpha. Usage: nerid_make_pictures <folder>. The results are committed in app/pictures.
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QString>

#include <cstdio>

namespace {

const QColor Ink(0x17, 0x3f, 0x70);     // chip body and word
const QColor InkDark(0x0f, 0x2b, 0x4d); // chip body, lower end of its gradient
const QColor Pin(0x9a, 0xa4, 0xb0);     // chip pins
const QColor Arrow(0xf2, 0x8a, 0x00);   // the update arrow
const QColor Sub(0x55, 0x5f, 0x6b);     // the line under the word

// The mark: a chip with five pins a side and an upward arrow on it, inside a 52 × 52 square at (x, y).
void DrawMark(QPainter& p, int x, int y)
{
    p.setPen(Qt::NoPen);
    p.setBrush(Pin);
    for (int i = 0; i < 5; ++i) {
        const int at = 11 + i * 7;
        p.drawRect(x + at, y, 3, 6);       // top
        p.drawRect(x + at, y + 46, 3, 6);  // bottom
        p.drawRect(x, y + at, 6, 3);       // left
        p.drawRect(x + 46, y + at, 6, 3);  // right
    }
    QLinearGradient body(x, y + 5, x, y + 47);
    body.setColorAt(0, Ink);
    body.setColorAt(1, InkDark);
    p.setBrush(body);
    p.drawRoundedRect(QRectF(x + 5, y + 5, 42, 42), 5, 5);
    // A thin inner ring gives the package some depth.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 255, 255, 60), 1));
    p.drawRoundedRect(QRectF(x + 8.5, y + 8.5, 35, 35), 3, 3);

    QPainterPath arrow;
    const double cx = x + 26;
    arrow.moveTo(cx, y + 12);
    arrow.lineTo(cx + 12, y + 25);
    arrow.lineTo(cx + 5, y + 25);
    arrow.lineTo(cx + 5, y + 39);
    arrow.lineTo(cx - 5, y + 39);
    arrow.lineTo(cx - 5, y + 25);
    arrow.lineTo(cx - 12, y + 25);
    arrow.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(Arrow);
    p.drawPath(arrow);
}

// The largest pixel size up to `start` at which `text` fits into `width`.
QFont Fitting(const QString& text, int start, int width, bool bold)
{
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setBold(bold);
    for (int size = start; size > 6; --size) {
        f.setPixelSize(size);
        if (QFontMetrics(f).horizontalAdvance(text) <= width)
            break;
    }
    return f;
}

QImage Logo(const QString& word, const QString& line)
{
    QImage img(159, 57, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    DrawMark(p, 2, 2);

    const int left = 61, width = 159 - left - 2;
    const QFont big = Fitting(word, 27, width, true);
    p.setFont(big);
    p.setPen(Ink);
    p.drawText(left, 32, word);
    const QFont small = Fitting(line, 11, width, false);
    p.setFont(small);
    p.setPen(Sub);
    p.drawText(left, 47, line);
    // An orange underline ties the word to the arrow of the mark.
    p.fillRect(QRect(left, 36, QFontMetrics(big).horizontalAdvance(word), 2), Arrow);
    return img;
}

// The 15 × 15 device icon, drawn pixel by pixel so it stays crisp at its size.
QImage DeviceIcon()
{
    QImage img(15, 15, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    auto set = [&img](int x, int y, QColor c) { img.setPixelColor(x, y, c); };
    for (int i = 4; i <= 10; i += 2) {
        for (int d = 1; d <= 2; ++d) {
            set(d, i, Pin);        // left pins
            set(14 - d, i, Pin);   // right pins
            set(i, d, Pin);        // top pins
            set(i, 14 - d, Pin);   // bottom pins
        }
    }
    for (int y = 3; y <= 11; ++y)
        for (int x = 3; x <= 11; ++x)
            set(x, y, y < 7 ? Ink : InkDark);
    // The update arrow: a head of three rows and a stem.
    set(7, 4, Arrow);
    for (int x = 6; x <= 8; ++x)
        set(x, 5, Arrow);
    for (int x = 5; x <= 9; ++x)
        set(x, 6, Arrow);
    for (int y = 7; y <= 10; ++y)
        set(7, y, Arrow);
    return img;
}

// The application icon for the desktop's menu: the mark alone on a transparent 64 × 64 square.
// The mark is drawn on a 64-pixel grid; larger sizes scale the drawing itself, not its pixels (the Windows icon's
// 256-pixel image is made from the large one).
QImage AppIcon(int size)
{
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    DrawMark(p, 6, 6);
    return img;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: nerid_make_pictures <folder>\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString dir = QString::fromLocal8Bit(argv[1]);
    const bool ok = Logo(QStringLiteral("NERID"), QStringLiteral("firmware update")).save(dir + "/logo_en.png", "PNG") &&
                    Logo(QStringLiteral("НЕРИД"), QStringLiteral("обновление прошивки")).save(dir + "/logo_ru.png", "PNG") &&
                    DeviceIcon().save(dir + "/device.png", "PNG") &&
                    AppIcon(64).save(dir + "/nerid-programmer.png", "PNG") &&
                    AppIcon(256).save(dir + "/nerid-programmer-256.png", "PNG");
    if (!ok) {
        std::fprintf(stderr, "nerid_make_pictures: cannot write into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
