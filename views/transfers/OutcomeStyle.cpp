#include "views/transfers/OutcomeStyle.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <array>

namespace {

constexpr int kIconSizes[] = { 16, 32 };
constexpr qreal kStrokeFraction = 0.12;

// The marks, in fractions of the icon's side, each a list of strokes of two or three points.
using Point = std::array<qreal, 2>;
struct Stroke {
    int points;
    Point at[3];
};
struct Mark {
    int strokes;
    Stroke stroke[2];
};

// By Kind: running, done, refused, failed, waiting.
const Mark kMarks[TransferOutcome::kKinds] = {
    { 2, { { 2, { { 0.28, 0.5 }, { 0.68, 0.5 } } },
             { 3, { { 0.52, 0.32 }, { 0.7, 0.5 }, { 0.52, 0.68 } } } } },
    { 1, { { 3, { { 0.28, 0.52 }, { 0.44, 0.68 }, { 0.72, 0.36 } } } } },
    { 1, { { 2, { { 0.3, 0.5 }, { 0.7, 0.5 } } } } },
    { 2, { { 2, { { 0.33, 0.33 }, { 0.67, 0.67 } } },
             { 2, { { 0.67, 0.33 }, { 0.33, 0.67 } } } } },
    { 1, { { 3, { { 0.5, 0.26 }, { 0.5, 0.5 }, { 0.68, 0.62 } } } } },
};

QPixmap drawIcon(TransferOutcome::Kind kind, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(OutcomeStyle::colour(kind));
    painter.drawEllipse(QRectF(0.5, 0.5, size - 1, size - 1));
    painter.setPen(
        QPen(Qt::white, size * kStrokeFraction, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    const auto at = [size](const Point &point) { return QPointF(point[0], point[1]) * size; };
    QPainterPath path;
    const Mark &mark = kMarks[kind];
    for (int s = 0; s < mark.strokes; ++s) {
        const Stroke &stroke = mark.stroke[s];
        path.moveTo(at(stroke.at[0]));
        for (int p = 1; p < stroke.points; ++p)
            path.lineTo(at(stroke.at[p]));
    }
    painter.drawPath(path);
    return pixmap;
}

QIcon makeIcon(TransferOutcome::Kind kind)
{
    QIcon icon;
    for (const int size : kIconSizes)
        icon.addPixmap(drawIcon(kind, size));
    return icon;
}

} // namespace

namespace OutcomeStyle {

QColor colour(TransferOutcome::Kind kind)
{
    return QColor::fromRgba(TransferOutcome::colour(kind));
}

QIcon icon(TransferOutcome::Kind kind)
{
    static const std::array<QIcon, TransferOutcome::kKinds> icons = [] {
        std::array<QIcon, TransferOutcome::kKinds> made;
        for (int kind = 0; kind < TransferOutcome::kKinds; ++kind)
            made[kind] = makeIcon(TransferOutcome::Kind(kind));
        return made;
    }();
    return icons.at(kind);
}

} // namespace OutcomeStyle
