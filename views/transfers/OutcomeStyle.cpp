#include "views/transfers/OutcomeStyle.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

constexpr int kIconSizes[] = { 16, 32 };
constexpr qreal kStrokeFraction = 0.12;
// The marks, in fractions of the icon's side: a tick of two strokes, a cross of two lines.
constexpr qreal kTick[][2] = { { 0.28, 0.52 }, { 0.44, 0.68 }, { 0.72, 0.36 } };
constexpr qreal kCross[][2][2]
    = { { { 0.33, 0.33 }, { 0.67, 0.67 } }, { { 0.67, 0.33 }, { 0.33, 0.67 } } };

QPixmap drawIcon(bool success, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(OutcomeStyle::colour(success));
    painter.drawEllipse(QRectF(0.5, 0.5, size - 1, size - 1));
    QPen mark(Qt::white, size * kStrokeFraction, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(mark);
    painter.setBrush(Qt::NoBrush);
    const auto at = [size](const qreal *point) { return QPointF(point[0], point[1]) * size; };
    QPainterPath path;
    if (success) {
        path.moveTo(at(kTick[0]));
        for (const qreal *point : { kTick[1], kTick[2] })
            path.lineTo(at(point));
    } else {
        for (const auto &line : kCross) {
            path.moveTo(at(line[0]));
            path.lineTo(at(line[1]));
        }
    }
    painter.drawPath(path);
    return pixmap;
}

QIcon makeIcon(bool success)
{
    QIcon icon;
    for (const int size : kIconSizes)
        icon.addPixmap(drawIcon(success, size));
    return icon;
}

} // namespace

namespace OutcomeStyle {

QColor colour(bool success) { return QColor::fromRgba(success ? kSuccessColour : kFailureColour); }

QIcon icon(bool success)
{
    static const QIcon successIcon = makeIcon(true);
    static const QIcon failureIcon = makeIcon(false);
    return success ? successIcon : failureIcon;
}

} // namespace OutcomeStyle
