#include "send/SendLedger.h"

#include "model/BaseFunction.h"
#include "model/GlobalData.h"
#include "send/SentFileStore.h"

namespace SendLedger {

namespace {

// The gap the rule's files go through. Its address is read under sendTaskMutex, as a rule is
// changed in place under it, and looked up without, as g_Mutex is never nested.
_VKGAPIP_CONF *gapOf(const _SENDPATH_LISTDATA *rule)
{
    QString address;
    {
        QMutexLocker lock(&sendTaskMutex);
        address = QString::fromLatin1(rule->GapIP, int(strnlen(rule->GapIP, sizeof rule->GapIP)));
    }
    return BaseFunction::findVkgapinfo(address);
}

// Moves once the rule's gap has been reached: a heartbeat it answered, or a file delivered through
// it (the heartbeat leaves a gap alone while its rules are sending).
quint32 reachMark(const _SENDPATH_LISTDATA *rule)
{
    const _VKGAPIP_CONF *ruleGap = nullptr;
    {
        QMutexLocker lock(&sendTaskMutex);
        ruleGap = rule->gapConf;
    }
    const _VKGAPIP_CONF *gap = gapOf(rule);
    const quint32 answers = gap ? gap->heartbeatAnswers.load() : 0;
    return answers + quint32(ruleGap ? ruleGap->sendFileNum.load() : 0);
}

} // namespace

void markSent(_SENDPATH_LISTDATA *rule, const _FINDFILEINFO &file)
{
    const FileKey key = file.fileKey();
    {
        QMutexLocker lock(&sendTaskMutex);
        _FINDFILEINFO *record = rule->pendingFiles.take(key);
        if (!record)
            record = new _FINDFILEINFO(file);
        rule->sentFiles.insert(key, record);
    }
    if (g_sysbaseconf.ifDelSendFile)
        SentFileStore::instance().add(key);
}

void release(_SENDPATH_LISTDATA *rule, const _FINDFILEINFO &file)
{
    // The record is no longer needed: its transfer item used it only to start the worker, and
    // the worker works on its own copy.
    const FileKey key = file.fileKey();
    QMutexLocker lock(&sendTaskMutex);
    delete rule->pendingFiles.take(key);
    rule->reoffered.append(key);
}

void awaitGap(_SENDPATH_LISTDATA *rule, const _FINDFILEINFO &file)
{
    const quint32 mark = reachMark(rule);
    const FileKey key = file.fileKey();
    QMutexLocker lock(&sendTaskMutex);
    // It stays pending meanwhile, so that no pass hands it over again before the gap is back. A
    // stop empties both lists.
    if (rule->pendingFiles.contains(key))
        rule->awaitingGap.append({ key, mark });
}

QList<FileKey> takeReoffered(_SENDPATH_LISTDATA *rule)
{
    bool awaiting = false;
    QList<FileKey> keys;
    {
        QMutexLocker lock(&sendTaskMutex);
        keys.swap(rule->reoffered);
        awaiting = !rule->awaitingGap.isEmpty();
    }
    if (!awaiting)
        return keys;
    const quint32 mark = reachMark(rule);
    QMutexLocker lock(&sendTaskMutex);
    for (auto it = rule->awaitingGap.begin(); it != rule->awaitingGap.end();) {
        if (it->second == mark) {
            ++it;
            continue;
        }
        delete rule->pendingFiles.take(it->first);
        keys.append(it->first);
        it = rule->awaitingGap.erase(it);
    }
    return keys;
}

QVector<bool> findKnown(_SENDPATH_LISTDATA *rule, const QVector<FileKey> &keys)
{
    QVector<bool> known(keys.size());
    QMutexLocker lock(&sendTaskMutex);
    for (int i = 0; i < keys.size(); ++i)
        known[i] = rule->sentFiles.contains(keys.at(i)) || rule->pendingFiles.contains(keys.at(i));
    return known;
}

Admission admit(_SENDPATH_LISTDATA *rule, _FINDFILEINFO *file, const std::atomic<bool> &cancelled)
{
    const FileKey key = file->fileKey();
    QMutexLocker lock(&sendTaskMutex);
    if (cancelled || rule->stopFlag)
        return RuleStopped;
    if (rule->sentFiles.contains(key) || rule->pendingFiles.contains(key))
        return AlreadyKnown;
    rule->pendingFiles.insert(key, file);
    return Admitted;
}

QVector<FileKey> sentKeys(_SENDPATH_LISTDATA *rule, int minimum)
{
    QMutexLocker lock(&sendTaskMutex);
    if (rule->sentFiles.size() < minimum)
        return {};
    return rule->sentFiles.keys().toVector();
}

QVector<FileKey> forget(_SENDPATH_LISTDATA *rule, const QVector<FileKey> &gone)
{
    QVector<FileKey> pending;
    QVector<FileKey> forgotten;
    {
        QMutexLocker lock(&sendTaskMutex);
        for (const FileKey &key : gone) {
            if (rule->pendingFiles.contains(key)) {
                pending.append(key);
            } else if (_FINDFILEINFO *record = rule->sentFiles.take(key)) {
                delete record;
                forgotten.append(key);
            }
        }
    }
    SentFileStore::instance().remove(forgotten);
    return pending;
}

void loadStored(_SENDPATH_LISTDATA *rule, const QString &directory)
{
    const QVector<FileKey> stored = SentFileStore::instance().load(directory);
    QMutexLocker lock(&sendTaskMutex);
    for (const FileKey &key : stored) {
        if (rule->sentFiles.contains(key))
            continue;
        auto *record = new _FINDFILEINFO;
        record->filePath = key.path;
        record->identity.bornNs = key.bornNs;
        record->identity.inode = key.inode;
        rule->sentFiles.insert(key, record);
    }
}

} // namespace SendLedger
