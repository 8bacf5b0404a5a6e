#include "send/SendLedger.h"

#include "model/BaseFunction.h"
#include "model/GlobalData.h"
#include "send/SendSlots.h"
#include "send/SentFileStore.h"

#include <QDeadlineTimer>
#include <iterator>

namespace SendLedger {

namespace {

// Minutes to wait after the first, second, third, fourth and every later failed round.
constexpr int kBackoffMinutes[] = { 1, 2, 5, 10, 30 };
constexpr int kMinuteMs = 60 * 1000;

std::atomic<int> retryMinuteMs { kMinuteMs };

qint64 backoffMs(int failedRounds)
{
    const int last = int(std::size(kBackoffMinutes)) - 1;
    return qint64(kBackoffMinutes[qBound(0, failedRounds - 1, last)]) * retryMinuteMs;
}

qint64 monotonicNowMs() { return QDeadlineTimer::current().deadline(); }

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

// Takes a released file out of the list of files to look at again; true when it was there.
bool takeReofferedLocked(_SENDPATH_LISTDATA *rule, const FileKey &key)
{
    for (auto it = rule->reoffered.begin(); it != rule->reoffered.end(); ++it) {
        if (it->first == key) {
            rule->reoffered.erase(it);
            return true;
        }
    }
    return false;
}

} // namespace

Request cancel(_SENDPATH_LISTDATA *rule, const FileKey &key)
{
    Request answer = Request::NotFound;
    {
        QMutexLocker lock(&sendTaskMutex);
        if (_FINDFILEINFO *pending = rule->pendingFiles.value(key)) {
            rule->held.insert(key);
            if (rule->waiting.remove(key) > 0) {
                delete rule->pendingFiles.take(key);
                answer = Request::Dropped;
            } else {
                if (pending->cancelled)
                    *pending->cancelled = true;
                answer = Request::Stopping;
            }
        } else if (takeReofferedLocked(rule, key) || rule->held.contains(key)) {
            rule->held.insert(key);
            answer = Request::Dropped;
        }
    }
    // A worker that waits between its attempts notices the flag at its next look.
    SendSlots::wake();
    return answer;
}

Request retryNow(_SENDPATH_LISTDATA *rule, const FileKey &key)
{
    Request answer = Request::NotFound;
    {
        QMutexLocker lock(&sendTaskMutex);
        const auto waiting = rule->waiting.find(key);
        if (waiting != rule->waiting.end()) {
            waiting->dueMs = 0;
            answer = Request::Offered;
        } else if (rule->held.remove(key)) {
            // A worker that is still ending on the user's stop leaves it pending: the scanner's
            // next pass finds it pending and leaves it, so it is offered once the worker has gone.
            if (!rule->pendingFiles.contains(key))
                rule->reoffered.append({ key, 0 });
            answer = Request::Offered;
        }
    }
    if (answer == Request::Offered)
        SendSlots::wake();
    return answer;
}

void markSent(_SENDPATH_LISTDATA *rule, const _FINDFILEINFO &file, bool store)
{
    const FileKey key = file.fileKey();
    {
        QMutexLocker lock(&sendTaskMutex);
        _FINDFILEINFO *record = rule->pendingFiles.take(key);
        if (!record)
            record = new _FINDFILEINFO(file);
        rule->sentFiles.insert(key, record);
        rule->held.remove(key);
        rule->waiting.remove(key);
    }
    if (store || g_sysbaseconf.ifDelSendFile)
        SentFileStore::instance().add(key);
}

void release(_SENDPATH_LISTDATA *rule, const _FINDFILEINFO &file)
{
    // The record is no longer needed: its transfer item used it only to start the worker, and
    // the worker works on its own copy.
    const FileKey key = file.fileKey();
    QMutexLocker lock(&sendTaskMutex);
    delete rule->pendingFiles.take(key);
    rule->held.remove(key);
    rule->reoffered.append({ key, file.failedRounds });
}

QDateTime awaitRetry(_SENDPATH_LISTDATA *rule, const _FINDFILEINFO &file, bool onGapReturn)
{
    const quint32 mark = reachMark(rule);
    const int failedRounds = file.failedRounds + 1;
    const qint64 delayMs = backoffMs(failedRounds);
    const FileKey key = file.fileKey();
    {
        QMutexLocker lock(&sendTaskMutex);
        if (rule->held.contains(key)) {
            // The user stopped it while its last attempt ended.
            delete rule->pendingFiles.take(key);
        } else if (rule->pendingFiles.contains(key)) {
            // Not pending: a stop of sending emptied the lists, and the next start looks afresh.
            rule->waiting.insert(
                key, { monotonicNowMs() + delayMs, mark, onGapReturn, failedRounds });
        }
    }
    return QDateTime::currentDateTime().addMSecs(delayMs);
}

void refused(_SENDPATH_LISTDATA *rule, const _FINDFILEINFO &file, bool removed)
{
    const FileKey key = file.fileKey();
    QMutexLocker lock(&sendTaskMutex);
    delete rule->pendingFiles.take(key);
    rule->waiting.remove(key);
    if (removed)
        rule->held.remove(key);
    else
        rule->held.insert(key);
}

void stopped(_SENDPATH_LISTDATA *rule, const _FINDFILEINFO &file)
{
    const FileKey key = file.fileKey();
    QMutexLocker lock(&sendTaskMutex);
    // After a stop of sending the file is no longer pending: the next start looks afresh.
    if (!rule->pendingFiles.contains(key))
        return;
    if (rule->held.contains(key)) {
        delete rule->pendingFiles.take(key);
    } else if (file.cancelled && *file.cancelled) {
        // The user stopped it and asked for it again before the worker had ended.
        delete rule->pendingFiles.take(key);
        rule->reoffered.append({ key, file.failedRounds });
    }
}

QList<QPair<FileKey, int>> takeReoffered(_SENDPATH_LISTDATA *rule)
{
    QList<QPair<FileKey, int>> keys;
    bool waiting = false;
    {
        QMutexLocker lock(&sendTaskMutex);
        keys.swap(rule->reoffered);
        waiting = !rule->waiting.isEmpty();
    }
    if (!waiting)
        return keys;
    const quint32 mark = reachMark(rule);
    const qint64 now = monotonicNowMs();
    QMutexLocker lock(&sendTaskMutex);
    for (auto it = rule->waiting.begin(); it != rule->waiting.end();) {
        const bool due = now >= it->dueMs || (it->onGapReturn && it->gapMark != mark);
        if (!due) {
            ++it;
            continue;
        }
        delete rule->pendingFiles.take(it.key());
        keys.append({ it.key(), it->failedRounds });
        it = rule->waiting.erase(it);
    }
    return keys;
}

QVector<bool> findKnown(_SENDPATH_LISTDATA *rule, const QVector<FileKey> &keys)
{
    QVector<bool> known(keys.size());
    QMutexLocker lock(&sendTaskMutex);
    for (int i = 0; i < keys.size(); ++i) {
        const FileKey &key = keys.at(i);
        known[i] = rule->sentFiles.contains(key) || rule->pendingFiles.contains(key)
            || rule->held.contains(key);
    }
    return known;
}

QVector<FileKey> releaseChanged(_SENDPATH_LISTDATA *rule, const QVector<FileKey> &keys)
{
    QVector<FileKey> released;
    QMutexLocker lock(&sendTaskMutex);
    for (const FileKey &key : keys) {
        // One whose worker is still ending stays held until the worker has gone.
        if (!rule->pendingFiles.contains(key) && rule->held.remove(key))
            released.append(key);
    }
    return released;
}

Admission admit(_SENDPATH_LISTDATA *rule, _FINDFILEINFO *file, const std::atomic<bool> &cancelled)
{
    const FileKey key = file->fileKey();
    QMutexLocker lock(&sendTaskMutex);
    if (cancelled || rule->stopFlag)
        return RuleStopped;
    if (rule->sentFiles.contains(key) || rule->pendingFiles.contains(key)
        || rule->held.contains(key))
        return AlreadyKnown;
    file->cancelled = std::make_shared<std::atomic<bool>>(false);
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
            rule->held.remove(key);
            if (rule->waiting.remove(key) > 0) {
                // Nothing runs for it: it waited to be offered again.
                delete rule->pendingFiles.take(key);
            } else if (rule->pendingFiles.contains(key)) {
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

QVector<FileKey> loadStored(_SENDPATH_LISTDATA *rule, const QString &directory)
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
    return stored;
}

void setRetryMinute(int ms) { retryMinuteMs = ms; }

} // namespace SendLedger
