#include "views/transfers/TransferDelegate.h"

#include "model/TransferStateInfo.h"
#include "views/transfers/RateText.h"

#include <QTreeWidget>
#include <cmath>

namespace {

// The bar's look; the chunk colour differs by outcome.
const QString kBarStyleSheet
    = QStringLiteral("QProgressBar{border:2px solid #347; border-radius:4px; text-align:center;}"
                     "QProgressBar::chunk{background-color: %1;}");

constexpr int kPercent = 100;
constexpr int kRowPadding = 6;

// The fraction done, held to 0..1: a text that is no number, or no finite one (a worker dividing
// by a zero size), reads as nothing done, and a fraction past either end would draw a bar the
// label contradicts.
double fractionDone(const QString &progress)
{
    bool ok = false;
    const double fraction = progress.toDouble(&ok);
    if (!ok || !std::isfinite(fraction))
        return 0.0;
    return qBound(0.0, fraction, 1.0);
}

} // namespace

TransferDelegate::TransferDelegate(QTreeWidget *tree)
    : QItemDelegate(tree)
{
    for (size_t outcome = 0; outcome < m_styleSources.size(); ++outcome)
        m_styleSources[outcome].setStyleSheet(
            kBarStyleSheet.arg(chunkColour(TransferOutcome::Kind(outcome)).name()));
}

void TransferDelegate::paint(
    QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    if (index.column() == TransferStateInfo::Progress)
        paintBar(painter, option, index);
    else if (index.column() == TransferStateInfo::Rate)
        paintRate(painter, option, index);
    else
        QItemDelegate::paint(painter, option, index);
}

QSize TransferDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    return QItemDelegate::sizeHint(option, index) + QSize(0, kRowPadding);
}

QStyleOptionProgressBar TransferDelegate::progressBarOption(
    const QRect &rect, const QString &progress, TransferOutcome::Kind outcome)
{
    const double percent = fractionDone(progress) * kPercent;
    QStyleOptionProgressBar bar;
    bar.state = QStyle::State_Enabled;
    bar.rect = rect;
    bar.minimum = 0;
    bar.maximum = kPercent;
    bar.progress = int(percent);
    bar.text = outcome == TransferOutcome::Running || outcome == TransferOutcome::Done
        ? QString::asprintf("%1.0f%%", percent)
        : TransferOutcome::label(outcome);
    bar.textVisible = true;
    bar.textAlignment = Qt::AlignCenter;
    return bar;
}

QColor TransferDelegate::chunkColour(TransferOutcome::Kind outcome)
{
    return QColor::fromRgba(TransferOutcome::barColour(outcome));
}

void TransferDelegate::paintBar(
    QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const TransferOutcome::Kind outcome = TransferOutcome::ofRow(index);
    // Inset by the padding that sizeHint added, so that each bar keeps to its own row.
    const QRect rect = option.rect.adjusted(0, kRowPadding / 2, 0, -kRowPadding / 2);
    const QStyleOptionProgressBar bar
        = progressBarOption(rect, index.data(Qt::DisplayRole).toString(), outcome);
    const QProgressBar &source = m_styleSources.at(outcome);
    source.style()->drawControl(QStyle::CE_ProgressBar, &bar, painter, &source);
}

void TransferDelegate::paintRate(
    QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const QStyleOptionViewItem cell = setOptions(index, option);
    drawBackground(painter, cell, index);
    const QVariant shown = index.data(kShownRateRole);
    drawDisplay(painter, cell, cell.rect,
        shown.isValid() ? shown.toString()
                        : RateText::whileRunning(index.data(Qt::DisplayRole).toString()));
    drawFocus(painter, cell, cell.rect);
}
