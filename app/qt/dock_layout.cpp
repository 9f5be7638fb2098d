// Docking layout of the Qt window: places items side by side in the order top, bottom, left, right, client.
#include "app/qt/dock_layout.h"

#include <algorithm>

TDockLayout::TDockLayout(QWidget* parent, QMargins padding) : QLayout(parent)
{
    setContentsMargins(padding);
    setSpacing(0);
}

TDockLayout::~TDockLayout() = default;

void TDockLayout::AddWidget(QWidget* w, TDock side, QMargins m)
{
    addChildWidget(w);
    FItems.push_back({std::make_unique<QWidgetItem>(w), side, m});
    invalidate();
}

void TDockLayout::MoveTop(QWidget* w, int top)
{
    auto moved = std::find_if(FItems.begin(), FItems.end(), [w](const TItem& i) { return i.item->widget() == w; });
    if (moved == FItems.end() || moved->side != TDock::Top)
        return;
    TItem item = std::move(*moved);
    FItems.erase(moved);
    // Tops as the current stacking gives them, so that consecutive moves act like the design's realignment after
    // each move even when no layout pass ran in between.
    int y = contentsMargins().top();
    auto at = FItems.begin();
    for (; at != FItems.end(); ++at) {
        if (at->side != TDock::Top || at->item->isEmpty())
            continue;
        if (y + at->margins.top() >= top)
            break;
        y += at->margins.top() + at->item->sizeHint().height() + at->margins.bottom();
    }
    FItems.insert(at, std::move(item));
    invalidate();
}

void TDockLayout::addItem(QLayoutItem* item)
{
    FItems.push_back({std::unique_ptr<QLayoutItem>(item), TDock::Top, {}});
    invalidate();
}

QLayoutItem* TDockLayout::itemAt(int index) const
{
    return index >= 0 && index < count() ? FItems[static_cast<size_t>(index)].item.get() : nullptr;
}

QLayoutItem* TDockLayout::takeAt(int index)
{
    if (index < 0 || index >= count())
        return nullptr;
    QLayoutItem* item = FItems[static_cast<size_t>(index)].item.release();
    FItems.erase(FItems.begin() + index);
    invalidate();
    return item;
}

int TDockLayout::count() const
{
    return static_cast<int>(FItems.size());
}

QSize TDockLayout::Needed(bool minimum) const
{
    int w = 0, h = 0, clientW = 0, clientH = 0;
    for (const TItem& i : FItems) {
        if (i.item->isEmpty())
            continue;
        const QSize s = minimum ? i.item->minimumSize() : i.item->sizeHint();
        const int mw = i.margins.left() + i.margins.right(), mh = i.margins.top() + i.margins.bottom();
        switch (i.side) {
        case TDock::Top:
        case TDock::Bottom:
            h += s.height() + mh;
            w = std::max(w, s.width() + mw);
            break;
        case TDock::Left:
        case TDock::Right:
            clientW += s.width() + mw;
            clientH = std::max(clientH, s.height() + mh);
            break;
        case TDock::Client:
            clientW += s.width() + mw;
            clientH = std::max(clientH, s.height() + mh);
            break;
        }
    }
    const QMargins p = contentsMargins();
    return {std::max(w, clientW) + p.left() + p.right(), h + clientH + p.top() + p.bottom()};
}

QSize TDockLayout::sizeHint() const
{
    return Needed(false);
}

QSize TDockLayout::minimumSize() const
{
    return Needed(true);
}

void TDockLayout::setGeometry(const QRect& r)
{
    QLayout::setGeometry(r);
    QRect free = r.marginsRemoved(contentsMargins());
    // Each side takes its items' sizes from what the sides before it left free.
    for (TDock side : {TDock::Top, TDock::Bottom, TDock::Left, TDock::Right, TDock::Client}) {
        for (TItem& i : FItems) {
            if (i.side != side || i.item->isEmpty())
                continue;
            const QMargins& m = i.margins;
            const QSize hint = i.item->sizeHint();
            QRect g;
            switch (side) {
            case TDock::Top:
                g = QRect(free.left() + m.left(), free.top() + m.top(), free.width() - m.left() - m.right(), hint.height());
                free.setTop(g.bottom() + 1 + m.bottom());
                break;
            case TDock::Bottom:
                g = QRect(free.left() + m.left(), free.bottom() + 1 - m.bottom() - hint.height(),
                          free.width() - m.left() - m.right(), hint.height());
                free.setBottom(g.top() - 1 - m.top());
                break;
            case TDock::Left:
                g = QRect(free.left() + m.left(), free.top() + m.top(), hint.width(), free.height() - m.top() - m.bottom());
                free.setLeft(g.right() + 1 + m.right());
                break;
            case TDock::Right:
                g = QRect(free.right() + 1 - m.right() - hint.width(), free.top() + m.top(), hint.width(),
                          free.height() - m.top() - m.bottom());
                free.setRight(g.left() - 1 - m.left());
                break;
            case TDock::Client:
                g = free.marginsRemoved(m);
                break;
            }
            // A docked widget takes the whole docked area, whatever its size policy says.
            g.setSize(g.size().expandedTo(QSize(0, 0)));
            if (QWidget* w = i.item->widget())
                w->setGeometry(g);
            else
                i.item->setGeometry(g);
        }
    }
}
