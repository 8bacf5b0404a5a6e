#pragma once

#include "views/transfers/TransferStatusView.h"

class QPushButton;
class SendDrop;
class TransferItem;
struct FileKey;
struct _FINDFILEINFO;
struct _SENDPATH_LISTDATA;

// The page that lists the files being sent, newest first. A row whose file failed or waits to be
// sent again can be retried at once or cancelled; deleting a row that runs stops its transfer.
// Files and folders dropped on the page, or added with "添加文件…", go into a send directory.
class SendStatusView : public TransferStatusView
{
    Q_OBJECT

public:
    explicit SendStatusView(QWidget *parent = nullptr);

    // True while sending is switched on; the main window sets and clears it. The list cannot be
    // cleared meanwhile.
    bool isSending = false;

    SendDrop *drop() const { return m_drop; }
    QPushButton *addFilesButton() const { return m_addFilesButton; }

    // Sending was stopped: rows that waited for their file to be offered again end, as the stop
    // forgets those files (the next start looks at them afresh).
    void endWaitingRows();
    // The row of the file of this key that no worker runs for, or null.
    TransferItem *idleRowOf(const FileKey &key) const;

    // "立即重试": the row's file is offered now, ahead of any back-off.
    void retryNow(TransferItem *item);
    // "取消发送": the row's file is not sent until it changes or is asked for again.
    void cancelSend(TransferItem *item);

public slots:
    // A file the scanner handed over: starts sending it, in a row of its own, or in the row where
    // it waited to be offered again.
    void onInsertItem(_FINDFILEINFO *file, _SENDPATH_LISTDATA *rule);
    // A file the scanner cannot hand over: a row that says why, with nothing to run.
    void onUnsendable(
        _SENDPATH_LISTDATA *rule, const QString &filePath, qint64 size, const QString &reason);

protected:
    QString clearRefusal() const override;
    void addFileActions(QMenu *menu, TransferItem *item) override;
    bool canDeleteRunning() const override { return true; }
    // Asks, then stops the file's transfer: the file stays in its send directory.
    bool stopBeforeDelete(TransferItem *item) override;

private:
    SendDrop *m_drop;
    QPushButton *m_addFilesButton;
};
