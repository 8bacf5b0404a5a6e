#pragma once

#include <QWidget>

class QPoint;
class QPushButton;
class QTreeWidget;
class TransferItem;

// What the send and receive status views share: a tree with one row per transfer, newest first,
// the progress column drawn as a bar, a context menu to delete a row and a button to clear the
// list once no transfer runs.
class TransferStatusView : public QWidget
{
    Q_OBJECT

public:
    // Rows past this index are dropped, oldest first, when a new row comes in: a view holds at
    // most this many plus one rows.
    static constexpr int kOldestRowKept = 4096;

    QTreeWidget *tree() const { return m_tree; }

    // Puts a row on top, dropping the oldest first when the list is full. Does not start it.
    void addRow(TransferItem *item);

public slots:
    void onMenuRequest(const QPoint &position);
    void onMenuDelete();
    void clearTableData();

protected:
    explicit TransferStatusView(QWidget *parent);

    // The text that refuses clearing now, or an empty text when the list may be cleared.
    virtual QString clearRefusal() const = 0;

private:
    void init();
    void tableStyleInit();

    QTreeWidget *m_tree;
    QPushButton *m_clearButton;
};
