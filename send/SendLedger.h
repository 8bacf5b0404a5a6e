#pragma once

#include "model/FileKey.h"

#include <QList>
#include <QVector>
#include <atomic>

struct _FINDFILEINFO;
struct _SENDPATH_LISTDATA;

// A rule's bookkeeping (sentFiles, pendingFiles and the files given back), which keeps a file from
// being handed over twice and lets a file that was not sent be offered again. Every call takes
// sendTaskMutex itself; none is made with it held.
//
// The scanner puts a file into pendingFiles before it hands it over. A worker ends its file with
// exactly one of markSent, release or awaitGap. A worker only holds a copy of the scanner's record,
// found again here by its key.
namespace SendLedger {

// The file is finished for good (delivered and confirmed): it moves from pendingFiles to
// sentFiles and is never handed over again while its key is unchanged. If a stop emptied
// pendingFiles meanwhile, a copy is recorded instead. With the keep setting on, the key is also
// stored, so that a restart does not send the kept file again.
void markSent(_SENDPATH_LISTDATA *rule, const _FINDFILEINFO &file);

// The file was not sent and a later pass may hand it over again (it changed while it was being
// sent, or it was empty when opened).
void release(_SENDPATH_LISTDATA *rule, const _FINDFILEINFO &file);

// The file was given up because its gap could not be reached. It stays pending until the gap has
// been reached since (it answered a heartbeat, or a file went through it), and is then offered
// again, without a restart of sending.
void awaitGap(_SENDPATH_LISTDATA *rule, const _FINDFILEINFO &file);

// The scanner's side.

// The keys of files to look at again: those released, and those given up for their gap once the
// gap has been reached since.
QList<FileKey> takeReoffered(_SENDPATH_LISTDATA *rule);

// Whether each key is pending or sent, looked up under one hold of the lock.
QVector<bool> findKnown(_SENDPATH_LISTDATA *rule, const QVector<FileKey> &keys);

enum Admission { Admitted, AlreadyKnown, RuleStopped };
// Records a file about to be handed over in pendingFiles. Nothing is recorded when the rule was
// stopped (a stop empties pendingFiles under the same lock, and an entry added after it would
// hold the file back after the next start), or when the key is already pending or sent.
Admission admit(_SENDPATH_LISTDATA *rule, _FINDFILEINFO *file, const std::atomic<bool> &cancelled);

// The keys of the rule's sent files, or none when there are fewer than minimum.
QVector<FileKey> sentKeys(_SENDPATH_LISTDATA *rule, int minimum);

// Forgets the sent files of these keys, whose files are gone, also from the store; returns the
// keys that are still pending (a worker is finishing them) for a later try.
QVector<FileKey> forget(_SENDPATH_LISTDATA *rule, const QVector<FileKey> &gone);

// Takes in the keys stored for files under the directory, sent and kept in an earlier run.
void loadStored(_SENDPATH_LISTDATA *rule, const QString &directory);

} // namespace SendLedger
