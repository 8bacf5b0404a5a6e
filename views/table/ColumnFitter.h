#pragma once

#include <QHeaderView>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QVector>

class QAbstractItemView;
class QModelIndex;

// Lays out the columns of a list the one way every list of this client does: each column gets
// at least what its texts need (its header, its sample texts and, for a column that follows its
// contents, every text it has shown), and the columns with a share split what width is left. In
// a list narrower than the sum of the minima, the columns that say least give way, in their
// order, so that the ones that carry the meaning stay in view; narrower still, it scrolls
// sideways instead of cutting texts.
class ColumnFitter : public QObject
{
    Q_OBJECT

public:
    struct Column {
        // Texts the column must show whole.
        QStringList samples;
        // Width below which the column is of no use, whatever its texts.
        int floor = 0;
        // Part of the spare width the column takes; 0 keeps it at its minimum.
        int share = 0;
        // Grows with the widest text shown in it since the list was last emptied.
        bool followsContents = false;
        // Room taken beside the text, such as an icon.
        int extra = 0;
        // 0: always shown. Otherwise hidden while the list is too narrow for the columns shown,
        // those of order 1 first.
        int giveWayOrder = 0;
    };

    // Fits the columns of the view's horizontal header from now on; owned by the view.
    ColumnFitter(QAbstractItemView *view, QHeaderView *header, const QVector<Column> &columns);

    // The width of each column in the given width: the minima, plus the spare width split by the
    // shares (what rounding leaves goes to the last column with a share).
    static QVector<int> widths(
        int available, const QVector<int> &minima, const QVector<int> &shares);

    // The width each column needs now.
    QVector<int> minima() const;
    // Which columns give way in the given width, for these minima.
    QVector<bool> givingWay(int available, const QVector<int> &minima) const;
    void fit();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void noteContents(const QModelIndex &topLeft, const QModelIndex &bottomRight);
    void forgetContents();
    int textWidth(const QString &text) const;

    QAbstractItemView *m_view;
    // The view's parts go one by one as it is destroyed, while its model still reports changes.
    QPointer<QWidget> m_viewport;
    QPointer<QHeaderView> m_header;
    QVector<Column> m_columns;
    QVector<int> m_contentsWidth;
};
