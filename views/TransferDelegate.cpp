#include "views/TransferDelegate.h"

#include "model/TransferStateInfo.h"

#include <QTreeWidget>
#include <cmath>

namespace {

const QString kBarStyleSheet
    = QStringLiteral("QProgressBar{border:2px solid #347; border-radius:4px; text-align:center;}"
                     "QProgressBar::chunk{background-color: #77AAEE;}");

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
    m_styleSource.setStyleSheet(kBarStyleSheet);
}

void TransferDelegate::paint(
    QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    if (index.column() != TransferStateInfo::Progress) {
        QItemDelegate::paint(painter, option, index);
        return;
    }
    // Inset by the padding that sizeHint added, so that each bar keeps to its own row.
    const QRect rect = option.rect.adjusted(0, kRowPadding / 2, 0, -kRowPadding / 2);
    const QStyleOptionProgressBar bar
        = progressBarOption(rect, index.data(Qt::DisplayRole).toString());
    m_styleSource.style()->drawControl(QStyle::CE_ProgressBar, &bar, painter, &m_styleSource);
}

QSize TransferDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    return QItemDelegate::sizeHint(option, index) + QSize(0, kRowPadding);
}

QStyleOptionProgressBar TransferDelegate::progressBarOption(
    const QRect &rect, const QString &progress)
{
    const double percent = fractionDone(progress) * kPercent;
    QStyleOptionProgressBar bar;
    bar.state = QStyle::State_Enabled;
    bar.rect = rect;
    bar.minimum = 0;
    bar.maximum = kPercent;
    bar.progress = int(percent);
    bar.text = QString::asprintf("%1.0f%%", percent);
    bar.textVisible = true;
    bar.textAlignment = Qt::AlignCenter;
    return bar;
}
