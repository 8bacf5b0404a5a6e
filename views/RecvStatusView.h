#pragma once

#include <QWidget>

class QTreeWidget;

// The page that lists the files being received, newest first. The receiving worker behind each
// row comes later: for now a row records the connection and closes it.
class RecvStatusView : public QWidget
{
    Q_OBJECT

public:
    explicit RecvStatusView(QWidget *parent = nullptr);

    QTreeWidget *tree() const { return m_tree; }

public slots:
    void onInsertItem(qintptr socketDescriptor);

private:
    QTreeWidget *m_tree;
};
