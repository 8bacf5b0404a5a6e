#include "views/history/FlowLayout.h"

#include <QWidget>
#include <algorithm>

namespace {

bool growsSideways(const QLayoutItem *item) { return item->expandingDirections() & Qt::Horizontal; }

int lineHeight(const QList<QLayoutItem *> &line)
{
    int height = 0;
    for (const QLayoutItem *item : line)
        height = qMax(height, item->sizeHint().height());
    return height;
}

} // namespace

FlowLayout::~FlowLayout() { qDeleteAll(m_items); }

void FlowLayout::addStretch()
{
    addItem(new QSpacerItem(0, 0, QSizePolicy::Expanding, QSizePolicy::Minimum));
}

void FlowLayout::addItem(QLayoutItem *item) { m_items.append(item); }

int FlowLayout::gap() const { return qMax(0, spacing()); }

int FlowLayout::count() const { return m_items.size(); }

QLayoutItem *FlowLayout::itemAt(int index) const { return m_items.value(index); }

QLayoutItem *FlowLayout::takeAt(int index)
{
    return index >= 0 && index < m_items.size() ? m_items.takeAt(index) : nullptr;
}

Qt::Orientations FlowLayout::expandingDirections() const { return {}; }

bool FlowLayout::hasHeightForWidth() const { return true; }

int FlowLayout::heightForWidth(int width) const { return arrange(QRect(0, 0, width, 0), false); }

QSize FlowLayout::minimumSize() const
{
    QSize size;
    for (const QLayoutItem *item : m_items)
        size = size.expandedTo(item->minimumSize());
    const QMargins margins = contentsMargins();
    return size + QSize(margins.left() + margins.right(), margins.top() + margins.bottom());
}

QSize FlowLayout::sizeHint() const
{
    // All on one line.
    const Line line = lines(QWIDGETSIZE_MAX).value(0);
    int width = 0;
    for (const QLayoutItem *item : line)
        width += item->sizeHint().width();
    width += gap() * qMax(0, line.size() - 1);
    const QMargins margins = contentsMargins();
    return QSize(width + margins.left() + margins.right(),
        lineHeight(line) + margins.top() + margins.bottom());
}

void FlowLayout::setGeometry(const QRect &rect)
{
    QLayout::setGeometry(rect);
    arrange(rect, true);
}

QList<FlowLayout::Line> FlowLayout::lines(int width) const
{
    QList<Line> lines;
    Line line;
    int used = 0;
    for (QLayoutItem *item : m_items) {
        // A hidden control takes no room; a stretch does, on whatever line it falls.
        if (item->isEmpty() && !item->spacerItem())
            continue;
        const int itemWidth = item->sizeHint().width();
        const int needed = line.isEmpty() ? itemWidth : used + gap() + itemWidth;
        if (!line.isEmpty() && needed > width) {
            lines << line;
            line = Line { item };
            used = itemWidth;
        } else {
            line << item;
            used = needed;
        }
    }
    if (!line.isEmpty())
        lines << line;
    return lines;
}

int FlowLayout::arrange(const QRect &rect, bool place) const
{
    const QMargins margins = contentsMargins();
    const QRect area = rect.marginsRemoved(margins);
    int y = area.top();
    const QList<Line> all = lines(area.width());
    for (const Line &line : all) {
        const int height = lineHeight(line);
        if (place)
            placeLine(line, area, y, height);
        y += height + gap();
    }
    if (!all.isEmpty())
        y -= gap();
    return y - area.top() + margins.top() + margins.bottom();
}

void FlowLayout::placeLine(const Line &line, const QRect &area, int y, int height) const
{
    int used = gap() * (line.size() - 1);
    int growing = 0;
    for (const QLayoutItem *item : line) {
        used += item->sizeHint().width();
        growing += growsSideways(item) ? 1 : 0;
    }
    const int spare = qMax(0, area.width() - used);
    int x = area.left();
    for (QLayoutItem *item : line) {
        int width = item->sizeHint().width() + (growsSideways(item) ? spare / growing : 0);
        width = qMin(width, item->maximumSize().width());
        const int itemHeight = qMin(height, item->maximumSize().height());
        item->setGeometry(QRect(x, y + (height - itemHeight) / 2, width, itemHeight));
        x += width + gap();
    }
}
