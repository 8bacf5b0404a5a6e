#pragma once

#include "model/FileKey.h"

#include <QDateTime>
#include <QList>
#include <QPair>
#include <QVector>
#include <atomic>

struct _FINDFILEINFO;
struct _SENDPATH_LISTDATA;

// A rule's bookkeeping (sentFiles, pendingFiles, the files waiting to be offered again and the
// files the user stopped), which keeps a file from being handed over twice and lets a file that
// was not sent be offered again. Every call takes sendTaskMutex itself, briefly, and never waits
// for anything else; none is made with it held.
//
// The scanner puts a file into pendingFiles before it hands it over. A worker ends its file with
// exactly one of markSent, release, awaitRetry, refused or stopped. A worker only holds a copy of
// the scanner's record, found again here by its key.
namespace SendLedger {

// ---- The window's requests for one file. Callable from any thread (the GUI thread's row
// actions); they never block beyond the brief hold of sendTaskMutex. A send row knows its file by
// its rule and key (TransferItem::sendRule, TransferItem::fileKey).

enum class Request {
    Stopping, // a worker sends the file: it ends at its next check, its row says so
    Dropped, // the file was waiting to be offered again: nothing runs, the caller ends the row
    Offered, // the next pass of the scanner offers the file
    NotFound, // nothing to do: the file is not pending, waiting or stopped (or already running)
};

// Stops the file's transfer: a running worker ends at once without deleting the file, a waiting
// file is dropped. Either way the file stays in its send directory and is not offered again
// until it changes or retryNow asks for it.
Request cancel(_SENDPATH_LISTDATA *rule, const FileKey &key);

// Offers the file now: one waiting after a failed round skips the rest of its back-off, one the
// user stopped is offered again. A file whose worker is running is left to it (NotFound).
Request retryNow(_SENDPATH_LISTDATA *rule, const FileKey &key);

// ---- The workers' side.

// The file is finished for good (delivered and confirmed): it moves from pendingFiles to
// sentFiles and is never handed over again while its key is unchanged. If a stop emptied
// pendingFiles meanwhile, a copy is recorded instead. With the keep setting on, or when store is
// true (a delivered file that could not be deleted), the key is also stored, so that a restart
// does not send the file again.
void markSent(_SENDPATH_LISTDATA *rule, const _FINDFILEINFO &file, bool store = false);

// The file was not sent and a later pass may hand it over again (it changed while it was being
// sent, or it was empty when opened).
void release(_SENDPATH_LISTDATA *rule, const _FINDFILEINFO &file);

// A round of attempts ended without delivery (the far side offline, the link, a digest mismatch,
// the gap out of reach). The file stays pending, so that no pass hands it over meanwhile, and is
// offered again after a back-off that grows with the rounds that failed (1, 2, 5, 10, then every
// 30 minutes), or, with onGapReturn, as soon as its gap has been reached since (a heartbeat it
// answered, or a file delivered through it). Returns when the back-off ends.
QDateTime awaitRetry(_SENDPATH_LISTDATA *rule, const _FINDFILEINFO &file, bool onGapReturn);

// The file was refused for good and removed. One that could not be removed is held, as if the
// user had stopped it, so that it is not refused again at every pass.
void refused(_SENDPATH_LISTDATA *rule, const _FINDFILEINFO &file, bool removed);

// The worker ended on a stop. A file the user stopped (cancel) leaves pendingFiles; after a stop
// of sending there is nothing left to do.
void stopped(_SENDPATH_LISTDATA *rule, const _FINDFILEINFO &file);

// ---- The scanner's side.

// The keys of files to look at again, with the rounds that failed for each: those released,
// those asked for, and those whose back-off ended or whose gap has been reached since.
QList<QPair<FileKey, int>> takeReoffered(_SENDPATH_LISTDATA *rule);

// Whether each key is pending, sent or stopped by the user, looked up under one hold of the lock.
QVector<bool> findKnown(_SENDPATH_LISTDATA *rule, const QVector<FileKey> &keys);

// These files changed since they were last seen. Those the user had stopped are released and
// returned: they may be offered again.
QVector<FileKey> releaseChanged(_SENDPATH_LISTDATA *rule, const QVector<FileKey> &keys);

enum Admission { Admitted, AlreadyKnown, RuleStopped };
// Records a file about to be handed over in pendingFiles and gives it the flag that stops it.
// Nothing is recorded when the rule was stopped (a stop empties pendingFiles under the same lock,
// and an entry added after it would hold the file back after the next start), or when the key is
// already pending, sent or stopped by the user.
Admission admit(_SENDPATH_LISTDATA *rule, _FINDFILEINFO *file, const std::atomic<bool> &cancelled);

// The keys of the rule's sent files, or none when there are fewer than minimum.
QVector<FileKey> sentKeys(_SENDPATH_LISTDATA *rule, int minimum);

// Forgets the files of these keys, which are gone: sent ones also from the store, stopped ones.
// Returns the keys that are still pending (a worker is finishing them) for a later try.
QVector<FileKey> forget(_SENDPATH_LISTDATA *rule, const QVector<FileKey> &gone);

// Takes in the keys stored for files under the directory, sent and kept in an earlier run, and
// returns them.
QVector<FileKey> loadStored(_SENDPATH_LISTDATA *rule, const QString &directory);

// The unit of the back-off, a minute; tests shorten it.
void setRetryMinute(int ms);

} // namespace SendLedger
