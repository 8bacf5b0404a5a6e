#pragma once

#include "views/transfers/TransferStatusView.h"

class TransferItem;
struct FileKey;
struct _FINDFILEINFO;
struct _SENDPATH_LISTDATA;

// The page that lists the files being sent, newest first.
class SendStatusView : public TransferStatusView
{
    Q_OBJECT

public:
    explicit SendStatusView(QWidget *parent = nullptr);

    // True while sending is switched on; the main window sets and clears it. The list cannot be
    // cleared meanwhile.
    bool isSending = false;

    // Sending was stopped: rows that waited for their file to be offered again end, as the stop
    // forgets those files (the next start looks at them afresh).
    void endWaitingRows();
    // The row of the file of this key that no worker runs for, or null.
    TransferItem *idleRowOf(const FileKey &key) const;

public slots:
    // A file the scanner handed over: starts sending it, in a row of its own, or in the row where
    // it waited to be offered again.
    void onInsertItem(_FINDFILEINFO *file, _SENDPATH_LISTDATA *rule);
    // A file the scanner cannot hand over: a row that says why, with nothing to run.
    void onUnsendable(
        _SENDPATH_LISTDATA *rule, const QString &filePath, qint64 size, const QString &reason);

protected:
    QString clearRefusal() const override;
};
