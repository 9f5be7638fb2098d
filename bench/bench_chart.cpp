// The chart of nerid-bench: one horizontal bar per figure, its value as a share of its goal (the line at 100 %),
// green when the goal is met; drawn with QPainter into a PNG.
#include "bench/bench.h"

#include <QFont>
#include <QImage>
#include <QPainter>

#include <algorithm>

bool DrawChart(const nlohmann::ordered_json& figures, const std::string& pngPath)
{
    const int rowH = 34, left = 360, barW = 420, top = 50;
    const int n = static_cast<int>(figures.size());
    QImage img(left + barW + 190, top + n * rowH + 40, QImage::Format_ARGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QFont f = p.font();
    f.setPixelSize(13);
    p.setFont(f);
    p.drawText(10, 24, QStringLiteral("nerid-bench: each figure as a share of its goal (lower is better; line = goal)"));
    const double scaleMax = 1.5; // the bar's full width
    const int goalX = left + static_cast<int>(barW / scaleMax);
    int y = top;
    for (const auto& fig : figures) {
        const double value = fig.value("value", 0.0);
        const double goal = fig.value("goal", 1.0);
        const double share = goal > 0 ? value / goal : 0;
        const bool met = fig.value("met", false);
        p.setPen(Qt::black);
        p.drawText(QRect(10, y, left - 20, rowH - 6), Qt::AlignVCenter | Qt::AlignLeft,
                   QString::fromStdString(fig.value("name", std::string())));
        const int w = static_cast<int>(std::clamp(share, 0.0, scaleMax) / scaleMax * barW);
        p.fillRect(left, y + 4, std::max(w, 1), rowH - 14, met ? QColor(60, 170, 80) : QColor(210, 60, 50));
        p.drawText(QRect(left + barW + 8, y, 180, rowH - 6), Qt::AlignVCenter | Qt::AlignLeft,
                   QString::fromStdString(fig.value("label", std::string())));
        y += rowH;
    }
    p.setPen(QPen(Qt::black, 2, Qt::DashLine));
    p.drawLine(goalX, top - 4, goalX, y);
    p.end();
    return img.save(QString::fromStdString(pngPath), "PNG");
}
