#pragma once

#include "model/GlobalData.h"
#include "model/TransferStateInfo.h"
#include "send/SendLog.h"
#include "send/SendStatusInfo.h"
#include "send/SendStop.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QRunnable>
#include <memory>

class DataBuff;
class QFile;
class QTcpSocket;
class SendChannel;
struct _PACKET_FILE_END;
struct _PACKET_META_RESPONSE;

// Sends one file found by the scanner through the gap of its send rule, retrying failed attempts,
// and reports the row of its transfer item through updataRequset. Runs once on the global thread
// pool, which deletes it afterwards.
//
// A round is at most five attempts (one when the gap cannot be reached at all). A round that ends
// without delivery is recorded with its reason and leaves the file waiting in the rule's
// bookkeeping, whose scanner offers it again after a back-off or once the gap is back
// (SendLedger::awaitRetry): no file is stranded. The worker ends early when its rule is stopped or
// the user stops its file (SendLedger::cancel).
//
// Ownership of the file record: the _FINDFILEINFO belongs to the rule's bookkeeping
// (pendingFiles, later sentFiles), never to the worker. The worker copies the record in its
// constructor (GUI thread, where the record was made) and never dereferences the pointer again,
// so a record that a stop discards or a purge frees while the worker runs is never touched. The
// worker ends its file through SendLedger, which finds the record again by its fileKey. It frees
// nothing.
//
// One version of the file: an attempt reads, hashes and sends through one open handle, and notes
// the file's identity (device, inode, size, modification time) when it opens it. A file that is
// no longer that version after the last read, or whose path names another file by the time the
// far side confirmed, is neither deleted nor recorded as sent: the attempt ends as Released and a
// later pass of the scanner offers what is there now.
class SendWorkThread : public QObject, public QRunnable
{
    Q_OBJECT

public:
    // Results of one attempt. Released: not sent, given back to the scanner (the file was empty
    // or changed while it was being sent).
    enum Result {
        Done = 2,
        Retry = 1,
        Refused = 3,
        Released = 4,
        Stopped = -1,
        GapUnreachable = -3
    };

    // The parent is ignored: the pool owns and deletes the worker.
    SendWorkThread(
        _SENDPATH_LISTDATA *sendPath, _FINDFILEINFO *fileInfo, QObject *parent = nullptr);
    ~SendWorkThread() override;

    void run() override;
    // The retry loop; returns the result of the last attempt.
    int sendFileProc(_SENDPATH_LISTDATA *rule);
    // One attempt: open, digest, filter, connect, exchange; returns a Result.
    int sendThisFile(const _FINDFILEINFO &file, _SENDPATH_LISTDATA *rule, TransferStateInfo &info);

    // The level of a file's security label, 0 (strictest) to 3 (no label); the file is left at
    // its start.
    int getSecurityByFileName(QFile *file);
    // 0 when the sending and the receiving user may both handle the file, 1 (row published) when
    // not.
    int fileSecurityFilter(
        QFile *file, _SENDPATH_LISTDATA *rule, _VKGAPIP_CONF *gap, TransferStateInfo &info);

signals:
    void updataRequset(TransferStateInfo info);

private:
    struct Attempt;

    SendStop stopOf(const _SENDPATH_LISTDATA *rule) const
    {
        return { rule->stopFlag, *m_cancelled };
    }
    // Sending switched off for the rule, or the user stopped this file.
    bool stopRequested(const _SENDPATH_LISTDATA *rule) const { return stopOf(rule).requested(); }
    // Ends a failed round: the audit event and the row say why, and the file waits in the rule's
    // bookkeeping to be offered again.
    void awaitNextRound(_SENDPATH_LISTDATA *rule, const QString &reason, bool onGapReturn);
    // Retry, noting why the attempt failed.
    int retryFor(const QString &reason);
    // Copies the settings and the rule's fields the attempt uses, as they are now.
    void readRule(Attempt &attempt, _SENDPATH_LISTDATA *rule);
    void describeRow(Attempt &attempt);
    void showChecking(Attempt &attempt);
    QString fileName() const;
    // Done when the digest of the opened version is known; else the attempt's end.
    int ensureDigest(Attempt &attempt, _SENDPATH_LISTDATA *rule);
    // Done once connected; Stopped or GapUnreachable otherwise.
    int connectToGap(Attempt &attempt, _SENDPATH_LISTDATA *rule);
    // The names of the audit record; the addresses once connected, the gap's address before.
    void fillAuditRecord(Attempt &attempt);
    // The stages from the descriptor to the confirmation; Done once the far side confirmed.
    int exchange(Attempt &attempt, _SENDPATH_LISTDATA *rule);
    // A confirmed file: audit, the gap's counters, then removal unless kept and sentFiles, as
    // long as the path still names the version that was delivered.
    int recordDelivery(Attempt &attempt, _SENDPATH_LISTDATA *rule);
    int sendFileDiscription(Attempt &attempt, _SENDPATH_LISTDATA *rule);
    int checkFileType(Attempt &attempt, _SENDPATH_LISTDATA *rule);
    int recvDescriptorResponse(
        Attempt &attempt, _SENDPATH_LISTDATA *rule, _PACKET_META_RESPONSE *response);
    int checkMetaResponse(
        Attempt &attempt, const _PACKET_META_RESPONSE *response, _SENDPATH_LISTDATA *rule);
    int sendFileData(Attempt &attempt, _SENDPATH_LISTDATA *rule);
    qint64 readIntoBurst(Attempt &attempt, qint64 wanted);
    int sendThisBuffer(Attempt &attempt, _SENDPATH_LISTDATA *rule);
    int recvSerRes(Attempt &attempt, _SENDPATH_LISTDATA *rule);
    int sendFileEnd(Attempt &attempt, _SENDPATH_LISTDATA *rule);
    int recvConfirType(Attempt &attempt, _SENDPATH_LISTDATA *rule);
    int endAsUserStop(Attempt &attempt, const char *logText);
    // Gives the file back to the scanner unsent, with the reason in the row.
    int endUnsent(Attempt &attempt, _SENDPATH_LISTDATA *rule, const QString &status);
    // Whether the path still names the version the attempt opened.
    bool isSameVersion(const FileIdentity &identity) const;
    // A refused file is deleted only if it is still the version that was refused.
    void removeRefused(_SENDPATH_LISTDATA *rule);

    void writeAudit(const _SEND_LOG &log, const QString &message, int result);
    void publish(const TransferStateInfo &info);
    // Progress while data flows: published at most about ten times a second.
    void publishProgress(const TransferStateInfo &info);
    void finishRow(TransferStateInfo &info, const QString &status);

    std::unique_ptr<QTcpSocket> m_socket;
    _SENDPATH_LISTDATA *m_sendPath;
    _FINDFILEINFO m_file; // the worker's own copy of the scanner's record
    bool m_hasFile;
    QByteArray m_fileMd5; // 32 upper-case hexadecimal characters once computed
    FileIdentity m_md5Identity; // the version m_fileMd5 was computed for
    TransferStateInfo m_info;
    std::shared_ptr<std::atomic<bool>> m_cancelled; // the file's own stop, shared with the ledger
    _SEND_LOG m_auditRecord; // as the last attempt filled it, for the event that ends a round
    QString m_failure; // why the last attempt failed
    QElapsedTimer m_sinceProgress;
};
