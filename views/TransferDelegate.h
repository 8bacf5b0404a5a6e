#pragma once

#include <QItemDelegate>
#include <QProgressBar>
#include <QStyleOptionProgressBar>

class QTreeWidget;

// Draws the progress column of a status view as a progress bar; other columns as usual.
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

    // The bar for a progress text, the fraction done from "0" to "1".
    static QStyleOptionProgressBar progressBarOption(const QRect &rect, const QString &progress);

private:
    // Never shown: it lends its style sheet to the bars drawn in the cells.
    QProgressBar m_styleSource;
};
