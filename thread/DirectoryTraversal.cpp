#include "thread/DirectoryTraversal.h"

#include "model/GlobalData.h"
#include "thread/ScanNode.h"
#include "thread/SendLedger.h"
#include "thread/SendSlots.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QThreadPool>
#include <QtDebug>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace {

constexpr int kMaxPathLength = 260;
constexpr int kPassPauseMs = 500;
constexpr int kPurgeThreshold = 5;
constexpr qint32 kSearchingState = 2;
constexpr qint32 kDirectoryMissingState = 4;
// Every so many walks (about 30 s) a rule's tree is listed in full and its sent files are checked,
// in case an event was missed.
constexpr quint64 kRelistEveryWalks = 60;
// The purge of one walk stops after this long; what is left waits for the next walk.
constexpr qint64 kPurgeBudgetNs = 20 * 1000 * 1000;
const QString kTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

// File systems on which changes made by other machines raise no inotify event.
constexpr quint32 kRemoteFileSystems[] = {
    0x6969, // NFS
    0x517B, // SMB
    0xFF534D42, // CIFS
    0xFE534D42, // SMB2
    0x65735546, // FUSE
    0x01021997, // 9P
    0x00C36400, // Ceph
    0x5346414F, // AFS
    0x73757245, // Coda
};

bool isRemote(const QByteArray &nativePath)
{
    struct statfs status;
    if (::statfs(nativePath.constData(), &status) != 0)
        return false;
    const auto type = quint32(status.f_type);
    return std::find(std::begin(kRemoteFileSystems), std::end(kRemoteFileSystems), type)
        != std::end(kRemoteFileSystems);
}

// The same file, as far as its key goes: whatever was written to it.
bool sameFile(const FileIdentity &a, const FileIdentity &b)
{
    return a.sameFile(b) && a.bornNs == b.bornNs;
}

template <typename Text> Text joined(const Text &directory, const Text &name)
{
    return directory.endsWith('/') ? directory + name : directory + '/' + name;
}

// Only a file the system says is not there, or that its path now names another file, is gone:
// one that cannot be looked at now (a directory without permission) would be sent again once it
// can, if it were forgotten.
bool isGone(const FileKey &key)
{
    errno = 0;
    const QByteArray path = QFile::encodeName(key.path);
    const FileIdentity now = FileIdentity::ofEntry(path.constData(), true, nullptr);
    if (!now.isValid())
        return errno == ENOENT || errno == ENOTDIR;
    // A key recorded without an identity stands for whatever file has its path.
    return key.inode != 0 && (now.inode != key.inode || now.bornNs != key.bornNs);
}

bool canRead(const char *path)
{
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

bool isSpecial(unsigned char type)
{
    return type == DT_FIFO || type == DT_SOCK || type == DT_CHR || type == DT_BLK;
}

int poolCapacity() { return QThreadPool::globalInstance()->maxThreadCount(); }

std::unique_ptr<_FINDFILEINFO> makeRecord(const QString &filePath, const FileIdentity &seen)
{
    auto file = std::make_unique<_FINDFILEINFO>();
    file->filePath = filePath;
    const QString name = filePath.mid(filePath.lastIndexOf('/') + 1);
    const int dot = name.lastIndexOf('.');
    file->suffix = dot < 0 ? QString() : name.mid(dot + 1);
    if (seen.bornNs != 0)
        file->createdTime
            = QDateTime::fromMSecsSinceEpoch(seen.bornNs / 1000000).toString(kTimeFormat);
    file->size = seen.size;
    file->identity = seen;
    return file;
}

FileKey keyOf(const ScanNode &node, const QByteArray &name, const FileIdentity &seen)
{
    return { joined(node.path, QFile::decodeName(name)), seen.bornNs, seen.inode };
}

// Files whose state may change without an event in their directory are looked at in every
// visit: candidates on their way to becoming stable, and links whose target lies elsewhere.
void setState(ScanNode &node, const QByteArray &name, ScanEntry &entry, ScanEntry::State state)
{
    entry.state = state;
    if (state == ScanEntry::Waiting || (entry.viaLink && state != ScanEntry::Known))
        node.polled.insert(name);
    else
        node.polled.remove(name);
}

void markForRelisting(ScanNode &node)
{
    node.relist = true;
    for (ScanNode::Child &child : node.children)
        markForRelisting(*child.node);
}

} // namespace

// What the scanner knows of one rule's directory.
struct DirectoryTraversal::RuleScan {
    QString directory; // the rule's SendPath this tree was built for
    std::unique_ptr<ScanNode> root;
    QHash<QString, ScanNode *> nodes; // by path, to find a file given back by its key
    quint64 walks = 0;
    bool storeLoaded = false;
    QVector<FileKey> forgetting; // keys of known files that a walk no longer found
    QVector<FileKey> sweep; // keys of sent files being checked, a share per walk
    int swept = 0;
};

// What one visit of a directory collects before it acts.
struct DirectoryTraversal::Visit {
    const _SENDPATH_LISTDATA *rule;
    QVector<QByteArray> fresh; // names to look up in the rule's bookkeeping
    QVector<QPair<QString, QByteArray>> ready; // stable candidates: path and native name
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
        const QList<_SENDPATH_LISTDATA *> rules = g_SendPathList.snapshot();
        if (rules.isEmpty())
            return;
        // Stable files that found no place are weighed again by this pass, in offering order.
        m_queued.clear();
        forgetRemovedRules(rules);
        for (_SENDPATH_LISTDATA *rule : rules) {
            if (!scanRule(rule))
                return;
        }
        waitForNextPass();
        if (m_cancelled)
            return;
    }
}

void DirectoryTraversal::forgetRemovedRules(const QList<_SENDPATH_LISTDATA *> &rules)
{
    for (auto it = m_rules.begin(); it != m_rules.end();) {
        if (rules.contains(it->first)) {
            ++it;
            continue;
        }
        if (it->second->root)
            dropTree(*it->second->root, *it->second, false);
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
    if (serving)
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
    ++scan.walks;
    if (!scan.storeLoaded) {
        SendLedger::loadStored(rule, QDir::cleanPath(dir));
        scan.storeLoaded = true;
        startSweep(scan, rule);
    }
    takeReoffered(scan, rule);
    int result = 0;
    if (!placeRoot(scan, rule)) {
        qDebug() << "文件路径不存在";
    } else {
        if (scan.walks % kRelistEveryWalks == 0) {
            markForRelisting(*scan.root);
            startSweep(scan, rule);
        }
        result = walk(*scan.root, scan, rule) ? 1 : 0;
    }
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
    if (!scan)
        scan = std::make_unique<RuleScan>();
    if (scan->directory != dir) {
        if (scan->root)
            dropTree(*scan->root, *scan, false);
        scan->root.reset();
        scan->directory = dir;
        scan->storeLoaded = false;
    }
    return *scan;
}

// False when the rule's directory is missing. A directory created anew under the rule's path is
// a new tree: nothing known of the old one holds for it.
bool DirectoryTraversal::placeRoot(RuleScan &scan, _SENDPATH_LISTDATA *rule)
{
    quint32 type = 0;
    const FileIdentity seen
        = FileIdentity::ofEntry(QFile::encodeName(scan.directory).constData(), true, &type);
    if (!seen.isValid() || type != S_IFDIR)
        return false;
    if (scan.root && (scan.root->device != seen.device || scan.root->inode != seen.inode)) {
        dropTree(*scan.root, scan, false);
        scan.root.reset();
        startSweep(scan, rule);
    }
    if (!scan.root) {
        // Named as a listing of the directory names its entries: without a trailing "/".
        QString path = scan.directory;
        if (path.size() > 1 && path.endsWith('/'))
            path.chop(1);
        scan.root = newNode(path, seen);
        scan.nodes.insert(path, scan.root.get());
    }
    return true;
}

void DirectoryTraversal::readEvents()
{
    const bool complete
        = m_watch.readEvents([this](int watch, DirectoryWatch::Subject subject,
                                 const QByteArray &name) { onEvent(watch, subject, name); });
    if (!complete)
        relistAll();
}

void DirectoryTraversal::onEvent(int watch, DirectoryWatch::Subject subject, const QByteArray &name)
{
    ScanNode *node = m_watched.value(watch);
    if (!node)
        return;
    switch (subject) {
    case DirectoryWatch::Entry:
        // The event's name points into the read buffer, which the next read reuses.
        if (!name.startsWith('.'))
            node->dirty.insert(QByteArray(name.constData(), name.size()));
        break;
    case DirectoryWatch::Directory:
        node->relist = true;
        break;
    case DirectoryWatch::WatchEnded:
        m_watched.remove(watch);
        node->watch = -1;
        node->relist = true;
        break;
    }
}

void DirectoryTraversal::relistAll()
{
    for (const auto &rule : m_rules) {
        if (rule.second->root)
            markForRelisting(*rule.second->root);
    }
}

// Files a worker gave back are looked at again as if they were new.
void DirectoryTraversal::takeReoffered(RuleScan &scan, _SENDPATH_LISTDATA *rule)
{
    const QList<FileKey> keys = SendLedger::takeReoffered(rule);
    for (const FileKey &key : keys) {
        const int slash = key.path.lastIndexOf('/');
        ScanNode *node = scan.nodes.value(slash == 0 ? QStringLiteral("/") : key.path.left(slash));
        if (!node)
            continue;
        const QByteArray name = QFile::encodeName(key.path.mid(slash + 1));
        const auto entry = node->files.find(name);
        if (entry == node->files.end() || entry->state != ScanEntry::Known
            || entry->seen.inode != key.inode || entry->seen.bornNs != key.bornNs)
            continue;
        setState(*node, entry.key(), *entry, ScanEntry::Fresh);
        node->dirty.insert(name);
    }
}

// Visits a directory, then its subdirectories in order, then hands over the stable files of this
// level; false when a stop cut the walk short.
bool DirectoryTraversal::walk(ScanNode &node, RuleScan &scan, _SENDPATH_LISTDATA *rule)
{
    if (isStopped(rule))
        return false;
    Visit visit { rule, {}, {} };
    if (node.relist) {
        listAll(node, scan, visit);
    } else {
        const QSet<QByteArray> dirty = node.dirty;
        node.dirty.clear();
        for (const QByteArray &name : dirty)
            lookAt(node, name, DT_UNKNOWN, scan, visit);
    }
    const QSet<QByteArray> polled = node.polled;
    for (const QByteArray &name : polled) {
        const auto entry = node.files.constFind(name);
        if (entry != node.files.constEnd() && entry->seenWalk != scan.walks)
            lookAt(node, name, DT_UNKNOWN, scan, visit);
    }
    lookUp(node, rule, scan, visit);
    for (size_t i = 0; i < node.children.size(); ++i) {
        if (isStopped(rule))
            return false;
        walk(*node.children[i].node, scan, rule);
    }
    return handOverReady(node, rule, visit);
}

// Lists every entry. A listing cut short by a stop forgets nothing: entries it did not reach
// are not gone.
void DirectoryTraversal::listAll(ScanNode &node, RuleScan &scan, Visit &visit)
{
    // Watched before the listing, so that no change falls between the two.
    watch(node, &node == scan.root.get());
    DIR *dir = ::opendir(node.nativePath.constData());
    if (!dir)
        return;
    const quint32 listing = ++node.listing;
    node.dirty.clear();
    bool complete = true;
    while (const struct dirent *entry = ::readdir(dir)) {
        // Hidden names (and "." and "..") are not listed.
        if (entry->d_name[0] == '.')
            continue;
        if (isStopped(visit.rule)) {
            complete = false;
            break;
        }
        const QByteArray name = QByteArray::fromRawData(entry->d_name, int(strlen(entry->d_name)));
        lookAt(node, name, entry->d_type, scan, visit);
    }
    ::closedir(dir);
    if (!complete)
        return;
    node.relist = node.watch < 0;
    QVector<QByteArray> gone;
    for (auto it = node.files.cbegin(); it != node.files.cend(); ++it) {
        if (it->listing != listing)
            gone.append(it.key());
    }
    for (const ScanNode::Child &child : node.children) {
        if (child.listing != listing)
            gone.append(child.nativeName);
    }
    for (const QByteArray &name : qAsConst(gone))
        dropName(node, name, scan);
}

// One stat (two for a link): what the entry is now.
void DirectoryTraversal::lookAt(
    ScanNode &node, const QByteArray &name, unsigned char typeHint, RuleScan &scan, Visit &visit)
{
    const char *path = entryPath(node, name);
    if (isSpecial(typeHint) || !path) {
        dropName(node, name, scan);
        return;
    }
    quint32 type = 0;
    errno = 0;
    FileIdentity seen = FileIdentity::ofEntry(path, false, &type);
    if (!seen.isValid()) {
        if (errno == ENOENT || errno == ENOTDIR)
            dropName(node, name, scan);
        return;
    }
    if (type == S_IFDIR) {
        dropFile(node, name, scan);
        ensureChild(node, name, seen, scan);
        return;
    }
    dropChild(node, name, scan);
    const bool viaLink = type == S_IFLNK;
    // A linked file is sent; a linked directory is not entered: it may lead back up the tree.
    if (viaLink)
        seen = FileIdentity::ofEntry(path, true, &type);
    if (seen.isValid() && type == S_IFREG)
        seeFile(node, name, seen, viaLink, scan, visit);
    else
        dropFile(node, name, scan);
}

void DirectoryTraversal::seeFile(ScanNode &node, const QByteArray &name, const FileIdentity &seen,
    bool viaLink, RuleScan &scan, Visit &visit)
{
    auto it = node.files.find(name);
    if (it == node.files.end())
        it = node.files.insert(QByteArray(name.constData(), name.size()), ScanEntry());
    ScanEntry &entry = *it;
    const QByteArray &stored = it.key();
    const FileIdentity last = entry.seen;
    const quint64 lastWalk = entry.seenWalk;
    entry.seen = seen;
    entry.seenWalk = scan.walks;
    entry.listing = node.listing;
    entry.viaLink = viaLink;
    if (entry.state != ScanEntry::Fresh && !sameFile(last, seen)) {
        // Another file under this name: the key of the old one may be forgotten.
        if (entry.state == ScanEntry::Known)
            scan.forgetting.append(keyOf(node, stored, last));
        setState(node, stored, entry, ScanEntry::Fresh);
    }
    switch (entry.state) {
    case ScanEntry::Known:
        return;
    case ScanEntry::Fresh:
        visit.fresh.append(stored);
        return;
    default:
        weigh(node, stored, entry, last, lastWalk, QString(), scan, visit);
    }
}

// A candidate is handed over once two consecutive walks saw the same size and modification time:
// a file still being written would otherwise be sent cut short.
void DirectoryTraversal::weigh(ScanNode &node, const QByteArray &name, ScanEntry &entry,
    const FileIdentity &last, quint64 lastWalk, const QString &knownPath, RuleScan &scan,
    Visit &visit)
{
    if (entry.seen.size <= 0) {
        setState(node, name, entry, ScanEntry::Empty);
        return;
    }
    const QString filePath
        = knownPath.isNull() ? joined(node.path, QFile::decodeName(name)) : knownPath;
    if (filePath.size() >= kMaxPathLength) {
        qDebug() << filePath.mid(filePath.lastIndexOf('/') + 1) << "文件路径过长";
        setState(node, name, entry, ScanEntry::Skipped);
        return;
    }
    const bool stable = entry.state == ScanEntry::Waiting && lastWalk + 1 == scan.walks
        && last.sameVersion(entry.seen);
    setState(node, name, entry, ScanEntry::Waiting);
    if (stable)
        visit.ready.append({ filePath, name });
}

// New names are looked up in the rule's bookkeeping all at once, under one hold of its lock.
void DirectoryTraversal::lookUp(
    ScanNode &node, _SENDPATH_LISTDATA *rule, RuleScan &scan, Visit &visit)
{
    if (visit.fresh.isEmpty())
        return;
    QVector<FileKey> keys;
    keys.reserve(visit.fresh.size());
    for (const QByteArray &name : qAsConst(visit.fresh))
        keys.append(keyOf(node, name, node.files.value(name).seen));
    const QVector<bool> known = SendLedger::findKnown(rule, keys);
    for (int i = 0; i < keys.size(); ++i) {
        const auto entry = node.files.find(visit.fresh.at(i));
        if (entry == node.files.end())
            continue;
        if (known.at(i))
            setState(node, entry.key(), *entry, ScanEntry::Known);
        else
            weigh(node, entry.key(), *entry, FileIdentity(), 0, keys.at(i).path, scan, visit);
    }
}

// In name order. Once one file has had to wait for a place in the pool, the later ones wait
// behind it.
bool DirectoryTraversal::handOverReady(ScanNode &node, _SENDPATH_LISTDATA *rule, Visit &visit)
{
    std::sort(visit.ready.begin(), visit.ready.end());
    for (const auto &ready : qAsConst(visit.ready)) {
        if (isStopped(rule))
            return false;
        if (!m_queued.isEmpty() || !SendSlots::tryTake(poolCapacity())) {
            m_queued.append({ rule, &node, ready.second, ready.first });
            continue;
        }
        if (!deliver(rule, node, ready.second, ready.first))
            return false;
    }
    return true;
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
    // A file that cannot be read yet is picked up once its permissions change.
    if (!canRead(entryPath(node, name))) {
        SendSlots::giveBack();
        setState(node, entry.key(), *entry, ScanEntry::Unreadable);
        return true;
    }
    std::unique_ptr<_FINDFILEINFO> file = makeRecord(filePath, entry->seen);
    switch (SendLedger::admit(rule, file.get(), m_cancelled)) {
    case SendLedger::RuleStopped:
        SendSlots::giveBack();
        return false;
    case SendLedger::AlreadyKnown:
        SendSlots::giveBack();
        setState(node, entry.key(), *entry, ScanEntry::Known);
        return true;
    case SendLedger::Admitted:
        setState(node, entry.key(), *entry, ScanEntry::Known);
        work(file.release(), rule);
        return true;
    }
    return true;
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
void DirectoryTraversal::waitForNextPass()
{
    const QDeadlineTimer deadline(kPassPauseMs);
    for (;;) {
        handOverQueued();
        if (m_cancelled || deadline.hasExpired())
            return;
        SendSlots::wait(deadline, poolCapacity(), !m_queued.isEmpty(), m_cancelled);
    }
}

// Directories below a path of 260 characters or more are not entered.
void DirectoryTraversal::ensureChild(
    ScanNode &node, const QByteArray &name, const FileIdentity &seen, RuleScan &scan)
{
    if (node.path.size() >= kMaxPathLength)
        return;
    auto it = std::find_if(node.children.begin(), node.children.end(),
        [&name](const ScanNode::Child &child) { return child.nativeName == name; });
    if (it != node.children.end()) {
        if (it->node->device == seen.device && it->node->inode == seen.inode) {
            it->listing = node.listing;
            return;
        }
        dropTree(*it->node, scan, true);
        node.children.erase(it);
    }
    ScanNode::Child child;
    child.name = QFile::decodeName(name);
    child.nativeName = QByteArray(name.constData(), name.size());
    child.listing = node.listing;
    child.node = newNode(joined(node.path, child.name), seen);
    scan.nodes.insert(child.node->path, child.node.get());
    const auto place = std::lower_bound(node.children.begin(), node.children.end(), child.name,
        [](const ScanNode::Child &one, const QString &name) { return one.name < name; });
    node.children.insert(place, std::move(child));
}

std::unique_ptr<ScanNode> DirectoryTraversal::newNode(const QString &path, const FileIdentity &seen)
{
    auto node = std::make_unique<ScanNode>();
    node->path = path;
    node->nativePath = QFile::encodeName(path);
    node->device = seen.device;
    node->inode = seen.inode;
    node->remote = isRemote(node->nativePath);
    return node;
}

void DirectoryTraversal::dropName(ScanNode &node, const QByteArray &name, RuleScan &scan)
{
    dropFile(node, name, scan);
    dropChild(node, name, scan);
}

void DirectoryTraversal::dropFile(ScanNode &node, const QByteArray &name, RuleScan &scan)
{
    const auto entry = node.files.find(name);
    if (entry == node.files.end())
        return;
    if (entry->state == ScanEntry::Known)
        scan.forgetting.append(keyOf(node, entry.key(), entry->seen));
    node.polled.remove(name);
    node.files.erase(entry);
}

void DirectoryTraversal::dropChild(ScanNode &node, const QByteArray &name, RuleScan &scan)
{
    const auto it = std::find_if(node.children.begin(), node.children.end(),
        [&name](const ScanNode::Child &child) { return child.nativeName == name; });
    if (it == node.children.end())
        return;
    dropTree(*it->node, scan, true);
    node.children.erase(it);
}

// Unwatches a tree that is about to be dropped; with forgetKnown, its known files are gone and
// their keys may be forgotten.
void DirectoryTraversal::dropTree(ScanNode &node, RuleScan &scan, bool forgetKnown)
{
    for (ScanNode::Child &child : node.children)
        dropTree(*child.node, scan, forgetKnown);
    if (forgetKnown) {
        for (auto it = node.files.cbegin(); it != node.files.cend(); ++it) {
            if (it->state == ScanEntry::Known)
                scan.forgetting.append(keyOf(node, it.key(), it->seen));
        }
    }
    if (node.watch >= 0) {
        m_watched.remove(node.watch);
        m_watch.remove(node.watch);
        node.watch = -1;
    }
    scan.nodes.remove(node.path);
}

// A directory moved within the tree keeps its watch, which then belongs to its new node.
void DirectoryTraversal::watch(ScanNode &node, bool followLink)
{
    if (node.watch >= 0 || node.remote)
        return;
    const int watch = m_watch.add(node.nativePath, followLink);
    if (watch < 0)
        return;
    ScanNode *previous = m_watched.value(watch);
    if (previous && previous != &node) {
        previous->watch = -1;
        previous->relist = true;
    }
    m_watched.insert(watch, &node);
    node.watch = watch;
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
    QVector<FileKey> gone;
    int checked = 0;
    for (; checked < scan.forgetting.size() && clock.nsecsElapsed() < kPurgeBudgetNs; ++checked) {
        if (isGone(scan.forgetting.at(checked)))
            gone.append(scan.forgetting.at(checked));
    }
    scan.forgetting.remove(0, checked);
    for (; scan.swept < scan.sweep.size() && clock.nsecsElapsed() < kPurgeBudgetNs; ++scan.swept) {
        if (isGone(scan.sweep.at(scan.swept)))
            gone.append(scan.sweep.at(scan.swept));
    }
    if (scan.swept >= scan.sweep.size()) {
        scan.sweep.clear();
        scan.swept = 0;
    }
    if (!gone.isEmpty())
        scan.forgetting += SendLedger::forget(rule, gone);
}

void DirectoryTraversal::startSweep(RuleScan &scan, _SENDPATH_LISTDATA *rule)
{
    scan.sweep = SendLedger::sentKeys(rule, kPurgeThreshold);
    scan.swept = 0;
}

// The entry's encoded path, in a buffer reused for every entry; null when it does not fit.
const char *DirectoryTraversal::entryPath(const ScanNode &node, const QByteArray &name)
{
    const QByteArray &dir = node.nativePath;
    const bool slash = !dir.endsWith('/');
    const size_t size = size_t(dir.size()) + (slash ? 1 : 0) + size_t(name.size());
    if (size >= m_entryPath.size())
        return nullptr;
    char *out = m_entryPath.data();
    std::memcpy(out, dir.constData(), size_t(dir.size()));
    out += dir.size();
    if (slash)
        *out++ = '/';
    std::memcpy(out, name.constData(), size_t(name.size()));
    out[name.size()] = '\0';
    return m_entryPath.data();
}

void DirectoryTraversal::work(_FINDFILEINFO *file, _SENDPATH_LISTDATA *rule)
{
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
