#include "views/table/SeparatedHeader.h"

#include <QPainter>

namespace {

// The line keeps clear of the section's top and bottom edges by this much.
constexpr int kSeparatorInset = 6;

} // namespace

SeparatedHeader::SeparatedHeader(Qt::Orientation orientation, QWidget *parent)
    : QHeaderView(orientation, parent)
{
}

const QColor &SeparatedHeader::separatorColour()
{
    static const QColor colour(0xA9, 0xB6, 0xD9);
    return colour;
}

void SeparatedHeader::paintSection(QPainter *painter, const QRect &rect, int logicalIndex) const
{
    QHeaderView::paintSection(painter, rect, logicalIndex);
    painter->save();
    // A style sheet's drawing of the section may leave the painter clipped to nothing.
    painter->setClipRect(rect);
    painter->setPen(separatorColour());
    painter->drawLine(
        rect.right(), rect.top() + kSeparatorInset, rect.right(), rect.bottom() - kSeparatorInset);
    painter->restore();
}
