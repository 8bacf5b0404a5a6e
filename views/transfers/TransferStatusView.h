#pragma once

#include "views/transfers/TransferOutcome.h"

#include <QTimer>
#include <QWidget>

class QAbstractButton;
class QButtonGroup;
class QModelIndex;
class QPoint;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class TransferItem;

// What the send and receive status views share: a tree with one row per transfer, newest first,
// the progress column drawn as a bar that tells the row's outcome, a filter by outcome above it,
// a context menu to delete a row, a button to clear the finished rows and one to clear the list
// once no transfer runs.
class TransferStatusView : public QWidget
{
    Q_OBJECT

public:
    // Rows past this index are dropped, oldest first, when a new row comes in: a view holds at
    // most this many plus one rows.
    static constexpr int kOldestRowKept = 4096;

    // Which rows the view shows; refused rows count with the failed ones.
    enum Filter { ShowAll, ShowRunning, ShowDone, ShowFailed };

    QTreeWidget *tree() const { return m_tree; }
    QAbstractButton *filterButton(Filter filter) const;
    QPushButton *clearFinishedButton() const { return m_clearFinishedButton; }
    Filter filter() const { return m_filter; }
    void setFilter(Filter filter);
    static bool passes(Filter filter, TransferOutcome::Kind outcome);

    // Puts a row on top, dropping the oldest first when the list is full. Does not start it.
    void addRow(TransferItem *item);

public slots:
    void onMenuRequest(const QPoint &position);
    void onMenuDelete();
    void clearTableData();
    // Removes the rows that are done, refused or failed, after asking; running rows stay.
    void clearFinished();
    // Writes the number of rows of each kind into the filter's buttons.
    void updateCounts();

protected:
    explicit TransferStatusView(QWidget *parent);

    // The text that refuses clearing now, or an empty text when the list may be cleared.
    virtual QString clearRefusal() const = 0;

private:
    void init();
    void tableStyleInit();
    QWidget *createFilterBar();
    void addButtonRow();
    // Shows or hides the rows of the range by the filter, and counts them again soon.
    void onRowsChanged(const QModelIndex &first, const QModelIndex &last);
    void applyFilter(QTreeWidgetItem *item) const;
    bool ask(const QString &question);

    QTreeWidget *m_tree;
    QPushButton *m_clearButton;
    QPushButton *m_clearFinishedButton;
    QButtonGroup *m_filterButtons;
    Filter m_filter = ShowAll;
    // Rows change several times a second each: their counts are redrawn once the burst settles.
    QTimer m_countTimer;
};
