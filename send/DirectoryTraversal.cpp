#include "send/DirectoryTraversal.h"

#include "model/GlobalData.h"
#include "model/HandOver.h"
#include "send/ScanTree.h"
#include "send/SendAudit.h"
#include "send/SendLedger.h"
#include "send/SendSlots.h"
#include "send/WriterCheck.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QThreadPool>
#include <QtDebug>
#include <algorithm>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>

namespace {

constexpr int kPassPauseMs = 500;
// Events start a pass at once, but never sooner than this after the last one began: a file being
// written raises events all the time, and a burst of events is one pass.
constexpr int kEventPassGapMs = 20;
// A pass looks at every file still waiting for a place in the pool; with thousands of them it
// costs tens of milliseconds. Events then wait this many times the last pass's cost, so that the
// scanner takes at most about a fifth of a core from the workers it feeds (queued files go to
// free workers between passes, without one).
constexpr qint64 kPassCostFactor = 4;
constexpr int kPurgeThreshold = 5;
constexpr qint32 kSearchingState = 2;
constexpr qint32 kDirectoryMissingState = 4;
constexpr qint32 kDirectoryUnavailableState = 5;
// The purge of one walk stops after this long; what is left waits for the next walk.
constexpr qint64 kPurgeBudgetNs = 20 * 1000 * 1000;
const QString kTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

int poolCapacity() { return QThreadPool::globalInstance()->maxThreadCount(); }

std::unique_ptr<_FINDFILEINFO> makeRecord(
    const QString &filePath, const QByteArray &nativePath, const ScanEntry &entry)
{
    const FileIdentity &seen = entry.seen;
    auto file = std::make_unique<_FINDFILEINFO>();
    file->filePath = filePath;
    file->nativePath = nativePath;
    const QString name = filePath.mid(filePath.lastIndexOf('/') + 1);
    const int dot = name.lastIndexOf('.');
    file->suffix = dot < 0 ? QString() : name.mid(dot + 1);
    if (seen.bornNs != 0)
        file->createdTime
            = QDateTime::fromMSecsSinceEpoch(seen.bornNs / 1000000).toString(kTimeFormat);
    file->size = seen.size;
    file->identity = seen;
    file->failedRounds = entry.failedRounds;
    file->offeredAgain = entry.offeredAgain;
    return file;
}

} // namespace

// What the scanner knows of one rule.
struct DirectoryTraversal::RuleScan {
    RuleScan(const QString &directory, DirectoryWatch &watch)
        : tree(directory, watch)
    {
    }

    ScanTree tree;
    bool storeLoaded = false;
    // Sent keys not forgotten until the directory has shown content: an empty directory may be a
    // mount point whose mount is not up (yet), and its files are not gone.
    QSet<FileKey> protectedKeys;
    QVector<FileKey> sweep; // keys of sent files being checked, a share per walk
    int swept = 0;
};

DirectoryTraversal::DirectoryTraversal(QObject *parent)
    : QObject(parent)
{
    qDebug() << "DirectoryTraversal 线程 Current thread ID:" << QThread::currentThreadId();
}

DirectoryTraversal::~DirectoryTraversal() { qDebug() << "遍历结束"; }

void DirectoryTraversal::checkSendPath()
{
    for (;;) {
        const QDeadlineTimer passStart(
            qBound<qint64>(kEventPassGapMs, kPassCostFactor * m_lastPassMs, kPassPauseMs));
        QElapsedTimer passClock;
        passClock.start();
        const QList<_SENDPATH_LISTDATA *> rules = g_SendPathList.snapshot();
        if (rules.isEmpty())
            return;
        // Stable files that found no place are weighed again by this pass, in offering order.
        m_queued.clear();
        forgetRemovedRules(rules);
        placeRuleDirectories(rules);
        for (_SENDPATH_LISTDATA *rule : rules) {
            if (!scanRule(rule))
                return;
        }
        m_lastPassMs = passClock.elapsed();
        // A pass that events or a request brought on does not count towards the safety net.
        m_timedPass = !waitForNextPass(passStart);
        if (m_cancelled)
            return;
    }
}

// Notes where every rule's directory is, so that a rule inside another one's directory (allowed by
// older versions) has its files to itself, and a second rule of the same directory sends none.
void DirectoryTraversal::placeRuleDirectories(const QList<_SENDPATH_LISTDATA *> &rules)
{
    QSet<ScanTree::DirectoryId> directories;
    QSet<_SENDPATH_LISTDATA *> shadowed;
    for (_SENDPATH_LISTDATA *rule : rules) {
        QString dir;
        {
            QMutexLocker lock(&sendTaskMutex); // a rule is changed in place under it
            dir = rule->SendPath;
        }
        quint32 type = 0;
        const FileIdentity seen
            = FileIdentity::ofEntry(AT_FDCWD, QFile::encodeName(dir).constData(), true, &type);
        if (!seen.isValid() || type != S_IFDIR)
            continue;
        const ScanTree::DirectoryId id { seen.device, seen.inode };
        if (directories.contains(id))
            shadowed.insert(rule);
        directories.insert(id);
    }
    m_ruleDirectories = directories;
    m_shadowed = shadowed;
}

void DirectoryTraversal::noteShadowed(_SENDPATH_LISTDATA *rule, const QString &dir)
{
    if (m_shadowReported.contains(rule))
        return;
    m_shadowReported.insert(rule);
    qWarning().noquote() << QStringLiteral("发送目录已由另一条发送规则使用，本规则不再扫描：")
            + dir;
}

void DirectoryTraversal::forgetRemovedRules(const QList<_SENDPATH_LISTDATA *> &rules)
{
    for (auto it = m_rules.begin(); it != m_rules.end();) {
        if (rules.contains(it->first))
            ++it;
        else
            it = m_rules.erase(it);
    }
}

// Walks one rule's directory; false when a stop ends the whole scan.
bool DirectoryTraversal::scanRule(_SENDPATH_LISTDATA *rule)
{
    QString dir;
    {
        QMutexLocker lock(&sendTaskMutex); // a rule is changed in place under it
        dir = rule->SendPath;
    }
    const bool present = QFileInfo(dir).isDir();
    bool serving = false;
    {
        // Decided under the lock a stop takes, so that a stopped rule never reads as scanned. A
        // change of the rule takes it too, and is refused once the rule reads as scanned; one
        // made since the directory was read leaves the rule to the next pass.
        QMutexLocker lock(&sendTaskMutex);
        serving = !isStopped(rule) && rule->SendPath == dir;
        if (serving) {
            rule->scanStarted = true;
            rule->sendState = present ? kSearchingState : kDirectoryMissingState;
        }
    }
    if (serving && m_shadowed.contains(rule))
        noteShadowed(rule, dir);
    else if (serving)
        findFile(dir, rule);
    if (!isStopped(rule))
        return true;
    if (rule->stopFlag) {
        QMutexLocker lock(&sendTaskMutex);
        rule->scanStarted = false;
    }
    return false;
}

int DirectoryTraversal::findFile(const QString &dir, _SENDPATH_LISTDATA *rule)
{
    RuleScan &scan = ruleScan(rule, dir);
    readEvents();
    const bool safetyNet = scan.tree.beginWalk(m_timedPass);
    scan.tree.setSettleTime(qint64(g_sysbaseconf.settleSeconds) * 1000);
    scan.tree.setExcluded(m_ruleDirectories);
    if (!scan.storeLoaded) {
        const QVector<FileKey> stored = SendLedger::loadStored(rule, ScanTree::rootPath(dir));
        scan.protectedKeys = QSet<FileKey>(stored.cbegin(), stored.cend());
        scan.storeLoaded = true;
        startSweep(scan, rule);
    }
    takeReoffered(scan.tree, rule);
    const ScanTree::RootState root = scan.tree.placeRoot();
    switch (root) {
    case ScanTree::Missing:
        qDebug() << "文件路径不存在";
        return 0;
    case ScanTree::Unavailable: {
        // Nothing is walked or forgotten until the mount is back.
        QMutexLocker lock(&sendTaskMutex);
        rule->sendState = kDirectoryUnavailableState;
        return 0;
    }
    case ScanTree::Remounted: {
        // Another file system: the files sent from the one before are not gone.
        const QVector<FileKey> sent = SendLedger::sentKeys(rule, 0);
        scan.protectedKeys = QSet<FileKey>(sent.cbegin(), sent.cend());
        break;
    }
    case ScanTree::Replaced:
    case ScanTree::Placed:
        break;
    }
    if (safetyNet || root == ScanTree::Replaced)
        startSweep(scan, rule);
    const int result = walk(scan.tree.root(), scan.tree, rule) ? 1 : 0;
    if (scan.tree.hasContent())
        scan.protectedKeys.clear();
    purge(scan, rule);
    return result;
}

// The rule's scan, for a tree of dir. Files queued by an earlier walk of the rule are dropped:
// this walk weighs them again, and may change the nodes they point into.
DirectoryTraversal::RuleScan &DirectoryTraversal::ruleScan(
    _SENDPATH_LISTDATA *rule, const QString &dir)
{
    m_queued.erase(std::remove_if(m_queued.begin(), m_queued.end(),
                       [rule](const Queued &queued) { return queued.rule == rule; }),
        m_queued.end());
    std::unique_ptr<RuleScan> &scan = m_rules[rule];
    if (!scan || scan->tree.directory() != dir)
        scan = std::make_unique<RuleScan>(dir, m_watch);
    return *scan;
}

void DirectoryTraversal::readEvents()
{
    const bool complete = m_watch.readEvents(
        [](ScanNode &node, DirectoryWatch::Subject subject, const QByteArray &name, quint32 mask) {
            if (subject != DirectoryWatch::Entry) {
                node.relist = ScanNode::Everything;
                return;
            }
            if (ScanTree::isTemporaryName(name))
                return;
            // The event's name points into the read buffer, which the next read reuses.
            EntryNews &news = node.dirty[QByteArray(name.constData(), name.size())];
            if (mask & (IN_CREATE | IN_MODIFY)) {
                news.writeOpen = 1;
                news.movedIn = 0;
            }
            if (mask & IN_CLOSE_WRITE)
                news.writeOpen = 0;
            if (mask & IN_MOVED_TO) {
                news.writeOpen = 0;
                news.movedIn = 1;
            }
        });
    if (complete)
        return;
    for (const auto &rule : m_rules)
        rule.second->tree.relistEverything();
}

void DirectoryTraversal::takeReoffered(ScanTree &tree, _SENDPATH_LISTDATA *rule)
{
    const QList<QPair<FileKey, int>> keys = SendLedger::takeReoffered(rule);
    for (const auto &key : keys)
        tree.reoffer(key.first, key.second);
}

// Visits a directory, then its subdirectories in order, then hands over the stable files of this
// level; false when a stop cut the walk short.
bool DirectoryTraversal::walk(ScanNode &node, ScanTree &tree, _SENDPATH_LISTDATA *rule)
{
    if (isStopped(rule))
        return false;
    ScanTree::Visit visit;
    visit.stopped = [this, rule] { return isStopped(rule); };
    tree.visit(node, visit);
    if (!visit.fresh.isEmpty()) {
        // Looked up all at once, under one hold of the bookkeeping's lock.
        const QVector<FileKey> keys = ScanTree::keysOf(node, visit.fresh);
        tree.settleFresh(node, visit, keys, SendLedger::findKnown(rule, keys));
    }
    for (const UnsendableFile &file : qAsConst(visit.unsendable))
        tellUnsendable(rule, file);
    if (!visit.changedKnown.isEmpty()) {
        // Those the user had stopped are let go, and looked at again as new ones.
        const QVector<FileKey> released
            = SendLedger::releaseChanged(rule, ScanTree::keysOf(node, visit.changedKnown));
        for (const FileKey &key : released)
            tree.reoffer(key, 0);
    }
    for (size_t i = 0; i < node.children.size(); ++i) {
        if (isStopped(rule))
            return false;
        walk(*node.children[i].node, tree, rule);
    }
    std::sort(visit.ready.begin(), visit.ready.end());
    for (const auto &ready : qAsConst(visit.ready)) {
        if (isStopped(rule)) {
            qDebug() << "发送线程已被暂停 ";
            return false;
        }
        if (!handOver(rule, node, ready.second, ready.first))
            return false;
    }
    return true;
}

// Once one file has had to wait for a place in the pool, the later ones wait behind it.
bool DirectoryTraversal::handOver(
    _SENDPATH_LISTDATA *rule, ScanNode &node, const QByteArray &name, const QString &filePath)
{
    if (!m_queued.isEmpty() || !SendSlots::tryTake(poolCapacity())) {
        m_queued.append({ rule, &node, name, filePath });
        return true;
    }
    return deliver(rule, node, name, filePath);
}

// Hands a stable file over, its place in the pool already taken; false when the rule stopped.
bool DirectoryTraversal::deliver(
    _SENDPATH_LISTDATA *rule, ScanNode &node, const QByteArray &name, const QString &filePath)
{
    const auto entry = node.files.find(name);
    if (entry == node.files.end() || entry->state != ScanEntry::Waiting) {
        SendSlots::giveBack();
        return true;
    }
    const QByteArray nativePath = node.nativePath + '/' + name;
    if (!isWriterDone(rule, node, entry.key(), *entry, filePath, nativePath)) {
        SendSlots::giveBack();
        return true;
    }
    std::unique_ptr<_FINDFILEINFO> file = makeRecord(filePath, nativePath, *entry);
    const SendLedger::Admission admission = SendLedger::admit(rule, file.get(), m_cancelled);
    if (admission != SendLedger::Admitted)
        SendSlots::giveBack();
    if (admission == SendLedger::RuleStopped)
        return false;
    ScanTree::setState(node, entry.key(), *entry, ScanEntry::Known);
    if (admission == SendLedger::Admitted)
        work(file.release(), rule);
    return true;
}

// Whether no program holds the file open for writing any more; a file that cannot be read or is
// not a regular file is set aside until it changes.
bool DirectoryTraversal::isWriterDone(_SENDPATH_LISTDATA *rule, ScanNode &node,
    const QByteArray &name, ScanEntry &entry, const QString &filePath, const QByteArray &nativePath)
{
    const char *refusal = nullptr;
    switch (WriterCheck::check(nativePath)) {
    case WriterCheck::NoWriter:
        return true;
    case WriterCheck::Unknown:
        // Where leases do not work, the events tell whether the last writer has closed it.
        return !entry.writeOpen;
    case WriterCheck::Writing:
        return false;
    case WriterCheck::Unreadable:
        // Looked at again once its permissions change, and at every safety-net listing.
        ScanTree::setState(node, name, entry, ScanEntry::Unreadable);
        refusal = UnsendableReason::kUnreadable;
        break;
    case WriterCheck::NotRegular:
        ScanTree::setState(node, name, entry, ScanEntry::Refused);
        refusal = UnsendableReason::kNotRegular;
        break;
    }
    if (ScanTree::takeRefusalRow(entry))
        tellUnsendable(rule, { filePath, entry.seen.size, QString::fromUtf8(refusal) });
    return false;
}

// One row and one log line for a file that stays where it is; a name that cannot be read is
// also an audit event, as the file never reaches a worker that would write one.
void DirectoryTraversal::tellUnsendable(_SENDPATH_LISTDATA *rule, const UnsendableFile &file)
{
    qWarning().noquote() << QStringLiteral("文件名:") + file.filePath + QStringLiteral("，")
            + file.reason;
    if (file.reason == QLatin1String(UnsendableReason::kNameEncoding))
        SendAudit::recordForRule(
            rule, file.filePath.mid(file.filePath.lastIndexOf('/') + 1), file.reason);
    emit unsendable(rule, file.filePath, file.size, file.reason);
}

void DirectoryTraversal::handOverQueued()
{
    while (!m_queued.isEmpty()) {
        if (isStopped(m_queued.first().rule)) {
            m_queued.removeFirst();
            continue;
        }
        if (!SendSlots::tryTake(poolCapacity()))
            return;
        const Queued next = m_queued.takeFirst();
        deliver(next.rule, *next.node, next.name, next.filePath);
    }
}

// The pause between passes, during which every worker that ends makes room for a queued file.
// It ends early, true, on events in the watched directories or a request (a file asked for).
bool DirectoryTraversal::waitForNextPass(const QDeadlineTimer &soonest)
{
    const QDeadlineTimer deadline(kPassPauseMs);
    for (;;) {
        handOverQueued();
        if (m_cancelled || deadline.hasExpired())
            return false;
        const bool eventsCount = soonest.hasExpired();
        if (SendSlots::wait(eventsCount ? deadline : soonest, poolCapacity(), !m_queued.isEmpty(),
                m_cancelled, eventsCount ? m_watch.descriptor() : -1))
            return true;
    }
}

// Forgets the sent files that are gone: those the walks saw disappear, and a share of a sweep
// over all sent files, which catches what no walk saw (files removed while sending was off).
// Bounded in time; at most once per walk.
void DirectoryTraversal::purge(RuleScan &scan, _SENDPATH_LISTDATA *rule)
{
    // After a stop a worker may still hold a record it is moving from pendingFiles (now emptied)
    // into sentFiles: a stopped rule's sent files wait for the purge of a later run.
    if (isStopped(rule))
        return;
    QElapsedTimer clock;
    clock.start();
    QVector<FileKey> &forgetting = scan.tree.forgetting();
    QVector<FileKey> gone;
    int checked = 0;
    for (; checked < forgetting.size() && clock.nsecsElapsed() < kPurgeBudgetNs; ++checked) {
        if (scan.tree.isGone(forgetting.at(checked)))
            gone.append(forgetting.at(checked));
    }
    forgetting.remove(0, checked);
    for (; scan.swept < scan.sweep.size() && clock.nsecsElapsed() < kPurgeBudgetNs; ++scan.swept) {
        if (scan.tree.isGone(scan.sweep.at(scan.swept)))
            gone.append(scan.sweep.at(scan.swept));
    }
    if (scan.swept >= scan.sweep.size()) {
        scan.sweep.clear();
        scan.swept = 0;
    }
    gone.erase(std::remove_if(gone.begin(), gone.end(),
                   [&scan](const FileKey &key) { return scan.protectedKeys.contains(key); }),
        gone.end());
    if (!gone.isEmpty())
        forgetting += SendLedger::forget(rule, gone);
}

void DirectoryTraversal::startSweep(RuleScan &scan, _SENDPATH_LISTDATA *rule)
{
    scan.sweep = SendLedger::sentKeys(rule, kPurgeThreshold);
    scan.swept = 0;
}

void DirectoryTraversal::work(_FINDFILEINFO *file, _SENDPATH_LISTDATA *rule)
{
    // The record crosses to the GUI thread through Qt's event queue; Controller takes it over.
    HandOver::release(file);
    emit insertItem(file, rule);
}

bool DirectoryTraversal::isStopped(const _SENDPATH_LISTDATA *rule) const
{
    return m_cancelled || rule->stopFlag;
}

void DirectoryTraversal::cancel()
{
    m_cancelled = true;
    SendSlots::wake();
}
