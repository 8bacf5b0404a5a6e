#pragma once

#include <QWidget>

class QTreeWidget;
struct _FINDFILEINFO;
struct _SENDPATH_LISTDATA;

// The page that lists the files being sent, newest first. The sending worker behind each row
// comes later: for now a row only names the file and its rule.
class SendStatusView : public QWidget
{
    Q_OBJECT

public:
    explicit SendStatusView(QWidget *parent = nullptr);

    QTreeWidget *tree() const { return m_tree; }

    // True while sending is switched on; the main window sets and clears it.
    bool isSending = false;

public slots:
    void onInsertItem(_FINDFILEINFO *file, _SENDPATH_LISTDATA *rule);

private:
    QTreeWidget *m_tree;
};
