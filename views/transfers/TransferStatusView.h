#pragma once

#include "views/transfers/TransferOutcome.h"

#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

class QAbstractButton;
class QAction;
class QButtonGroup;
class QMenu;
class QModelIndex;
class QPoint;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class TransferItem;

// What the send and receive status views share: a tree with one row per transfer, newest first,
// the progress column drawn as a bar that tells the row's outcome, a filter by outcome above it,
// a context menu with what can be done with a row's file (a double-click does the first), a
// button to clear the finished rows and one to clear the list once no transfer runs.
class TransferStatusView : public QWidget
{
    Q_OBJECT

public:
    // Rows past this index are dropped, oldest first, when a new row comes in: a view holds at
    // most this many plus one rows.
    static constexpr int kOldestRowKept = 4096;

    // Which rows the view shows; rows waiting to be sent again count as running.
    enum Filter { ShowAll, ShowRunning, ShowDone, ShowRefused, ShowFailed };

    QTreeWidget *tree() const { return m_tree; }
    QAbstractButton *filterButton(Filter filter) const;
    QPushButton *clearFinishedButton() const { return m_clearFinishedButton; }
    Filter filter() const { return m_filter; }
    void setFilter(Filter filter);
    static bool passes(Filter filter, TransferOutcome::Kind outcome);

    // Puts a row on top, dropping the oldest first when the list is full. Does not start it.
    void addRow(TransferItem *item);

    // The menu of a row: the actions on its file, the first of them the double-click's,
    // "复制路径" and "删除". A row that no transfer made offers "删除" only.
    std::unique_ptr<QMenu> createContextMenu(QTreeWidgetItem *item);
    // What a double-click does: the first action of the row's menu, when it can be done.
    void runFirstAction(QTreeWidgetItem *item);
    // Called by a row whose outcome changed.
    void onOutcomeChanged(TransferItem *item);

signals:
    // A row's outcome changed to this one (its transfer ended, or waits to be sent again, or
    // runs again).
    void outcomeChanged(
        TransferOutcome::Kind outcome, const QString &fileName, const QString &status);

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
    // Adds the actions of this view's rows that come before "复制路径".
    virtual void addFileActions(QMenu *menu, TransferItem *item) = 0;
    // Whether "删除" is offered for a row whose transfer has not ended.
    virtual bool canDeleteRunning() const = 0;
    // Stops the transfer of a row that has not ended, after asking; false to keep the row.
    virtual bool stopBeforeDelete(TransferItem *item) = 0;
    bool ask(const QString &question);
    // Adds an action on the row to the menu. It acts only if the row is still listed when it is
    // chosen: rows come and go while a menu is open.
    QAction *addRowAction(QMenu *menu, const QString &text, TransferItem *item,
        const std::function<void(TransferItem *)> &act);

private:
    void init();
    void tableStyleInit();
    QWidget *createFilterBar();
    void addButtonRow();
    // Shows or hides the rows of the range by the filter, and counts them again soon.
    void onRowsChanged(const QModelIndex &first, const QModelIndex &last);
    void applyFilter(QTreeWidgetItem *item) const;
    void deleteRow(QTreeWidgetItem *item);

    QTreeWidget *m_tree;
    QPushButton *m_clearButton;
    QPushButton *m_clearFinishedButton;
    QButtonGroup *m_filterButtons;
    Filter m_filter = ShowAll;
    // Rows change several times a second each: their counts are redrawn once the burst settles.
    QTimer m_countTimer;
};
