// A layout that docks its widgets to the sides of the parent, each with its own outer margins, the way the window's
// design is drawn: top items stack downward, bottom items upward, then left, right, and the client item takes the rest.
// Main thread only. The layout owns its QLayoutItems (not the widgets, which belong to their parent widget).
#pragma once

#include <QLayout>
#include <QMargins>
#include <QRect>
#include <QSize>
#include <QWidget>

#include <memory>
#include <vector>

enum class TDock { Top, Bottom, Left, Right, Client };

class TDockLayout : public QLayout {
public:
    // `padding`: inner spacing between the parent's edges and the docked items (pixels, left, top, right, bottom).
    explicit TDockLayout(QWidget* parent, QMargins padding = {});
    ~TDockLayout() override;

    // Docks `w` (a child of the parent widget) to `side` with outer margins `m`. Among items of one side the first
    // added is nearest to that side. A hidden widget takes no space.
    void AddWidget(QWidget* w, TDock side, QMargins m = {});
    // Moves a top-docked widget so that it comes before the first other top item whose current top coordinate is at
    // or below `top` (a top above all others puts it first, one below all others last).
    void MoveTop(QWidget* w, int top);

    // QLayout
    void addItem(QLayoutItem* item) override; // docks to the top with no margins
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    int count() const override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    void setGeometry(const QRect& r) override;
    Qt::Orientations expandingDirections() const override { return Qt::Horizontal | Qt::Vertical; }

private:
    struct TItem {
        std::unique_ptr<QLayoutItem> item;
        TDock side;
        QMargins margins;
    };
    // Space the docked items need: top/bottom heights and left/right widths summed, plus the client's hint.
    QSize Needed(bool minimum) const;

    std::vector<TItem> FItems;
};
