#include "thread/SendLedger.h"

#include "model/GlobalData.h"

namespace SendLedger {

void markSent(_SENDPATH_LISTDATA *rule, const _FINDFILEINFO &file)
{
    const QString key = file.fileKey();
    QMutexLocker lock(&sendTaskMutex);
    _FINDFILEINFO *record = rule->pendingFiles.take(key);
    if (!record)
        record = new _FINDFILEINFO(file);
    rule->sentFiles.insert(key, record);
}

void release(_SENDPATH_LISTDATA *rule, const _FINDFILEINFO &file)
{
    // The record is no longer needed: its transfer item used it only to start the worker, and
    // the worker works on its own copy.
    QMutexLocker lock(&sendTaskMutex);
    delete rule->pendingFiles.take(file.fileKey());
}

void awaitGap(_SENDPATH_LISTDATA *rule, const _FINDFILEINFO &file)
{
    Q_UNUSED(rule)
    Q_UNUSED(file)
}

} // namespace SendLedger
