#pragma once

#include <QObject>

class DirectoryTraversal;
class QThread;
struct _FINDFILEINFO;
struct _SENDPATH_LISTDATA;

// The send-directory scanner while sending is on: a DirectoryTraversal in a thread of its own,
// whose hand-overs this object relays to the GUI thread as insertItem.
//
// Who owns a found file (_FINDFILEINFO):
// - The scanner creates the record and puts it into its rule's pendingFiles before it hands it
//   over. From then on the record belongs to the rule's bookkeeping; the transfer item and the
//   sending worker only borrow it and never free it.
// - A worker that has finished a file moves the record from pendingFiles into sentFiles under
//   one hold of sendTaskMutex (or puts it into sentFiles before it takes it out of pendingFiles),
//   so that the scanner always finds the key in one of the two and never hands the file over
//   twice.
// - The scanner's purge frees a sentFiles record whose file is gone, unless its key is still in
//   pendingFiles (its worker is still finishing it) or the rule is stopped.
// - A file a worker gives back leaves pendingFiles, and its record is freed, as the worker works
//   on a copy: at once (SendLedger::release), or once it is offered again after a failed round
//   (awaitRetry), or when the user stops it (cancel).
// - Stopping a rule (stopRule) empties pendingFiles but frees nothing: a worker of that run may
//   still hold a record, and may still move it into sentFiles. The records are kept aside until
//   the thread pool has run dry; releaseRetiredFiles() then frees those that did not end up in
//   their rule's sentFiles.
class Controller : public QObject
{
    Q_OBJECT

public:
    explicit Controller(QObject *parent = nullptr);
    // Ends the scan and waits for the thread a short while; a thread stuck in the file system is
    // left to delete itself when it returns, so that the window never hangs on it.
    ~Controller() override;

    void start();
    // Relays no further hand-over and ends the scan at its next entry, and then its thread
    // (scanEnded). Queued hand-overs of this run are dropped: their records went aside with the
    // rule's pendingFiles.
    void stop();

    // Under sendTaskMutex: sets the rule's stopFlag, clears scanStarted, moves its pendingFiles
    // aside (see above) and forgets the files given back to it.
    static void stopRule(_SENDPATH_LISTDATA *rule);
    // Frees the records the stops moved aside. Only once no sending worker runs.
    static void releaseRetiredFiles();

public slots:
    void insertItemRequst(_FINDFILEINFO *file, _SENDPATH_LISTDATA *rule);

signals:
    void startFileTraversal();
    // The scan's thread has ended: the controller can be deleted without waiting.
    void scanEnded();
    void insertItem(_FINDFILEINFO *file, _SENDPATH_LISTDATA *rule);
    // A file that stays in its send directory, and why (DirectoryTraversal::unsendable), relayed
    // to the GUI thread.
    void unsendable(
        _SENDPATH_LISTDATA *rule, const QString &filePath, qint64 size, const QString &reason);

private:
    void endScan();

    QThread *m_scanThread;
    DirectoryTraversal *m_traversal;
    bool m_stopped = false;
    bool m_scanEnding = false;
};
