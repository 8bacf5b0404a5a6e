#pragma once

struct _FINDFILEINFO;
struct _SENDPATH_LISTDATA;

// The sending workers' side of a rule's bookkeeping (sentFiles, pendingFiles), which keeps a file
// from being handed over twice. The scanner puts a file into pendingFiles before it hands it over;
// a worker ends its file with exactly one of these calls, all under sendTaskMutex. A worker only
// holds a copy of the scanner's record, found again here by its key.
namespace SendLedger {

// The file is finished for good (delivered and confirmed): it moves from pendingFiles to
// sentFiles and is never handed over again while its key is unchanged. If a stop emptied
// pendingFiles meanwhile, a copy is recorded instead.
void markSent(_SENDPATH_LISTDATA *rule, const _FINDFILEINFO &file);

// The file was not sent and a later pass may hand it over again (it changed while it was being
// sent, or it was empty when opened).
void release(_SENDPATH_LISTDATA *rule, const _FINDFILEINFO &file);

// The file was given up because its gap could not be reached. It stays pending: it is not handed
// over again until sending is restarted.
void awaitGap(_SENDPATH_LISTDATA *rule, const _FINDFILEINFO &file);

} // namespace SendLedger
