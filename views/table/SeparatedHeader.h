#pragma once

#include <QHeaderView>

// A header that draws a thin line between its sections whatever its style sheet says, so that
// the columns of an empty list still read apart.
class SeparatedHeader : public QHeaderView
{
    Q_OBJECT

public:
    SeparatedHeader(Qt::Orientation orientation, QWidget *parent);

    static const QColor &separatorColour();

protected:
    void paintSection(QPainter *painter, const QRect &rect, int logicalIndex) const override;
};
