#pragma once

#include "views/transfers/TransferOutcome.h"

#include <QItemDelegate>
#include <QProgressBar>
#include <QStyleOptionProgressBar>
#include <array>

class QTreeWidget;

// Draws a status row the way it reads at a glance: the progress column as a bar whose colour and
// label say whether the transfer runs, is done, was refused or failed, and the rate in one family
// of units with a fixed precision. The row's texts stay the workers' own.
class TransferDelegate : public QItemDelegate
{
    Q_OBJECT

public:
    // Owned by the tree it serves.
    explicit TransferDelegate(QTreeWidget *tree);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
        const QModelIndex &index) const override;
    // Rows a little taller than the text, so that the bars of adjacent rows do not touch.
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

    // The bar for a progress text, the fraction done from "0" to "1". A refused, failed or waiting
    // row's bar is labelled with its outcome instead of a percentage that would read as success.
    static QStyleOptionProgressBar progressBarOption(const QRect &rect, const QString &progress,
        TransferOutcome::Kind outcome = TransferOutcome::Running);
    // The chunk colour of the bar of a row with that outcome.
    static QColor chunkColour(TransferOutcome::Kind outcome);
    // Where a row keeps the text its rate cell shows (TransferPace::shownRate); a row without it
    // shows its rate text in fixed precision.
    static constexpr int kShownRateRole = Qt::UserRole + 1;

private:
    void paintBar(
        QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const;
    void paintRate(
        QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const;

    // Never shown: each lends the style sheet of one outcome to the bars drawn in the cells.
    std::array<QProgressBar, TransferOutcome::kKinds> m_styleSources;
};
