#include "send/ScanTree.h"

#include "send/DirectoryWatch.h"
#include "send/NativeName.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
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

// The longest path below the send directory that the receiver takes, in bytes of UTF-8.
constexpr int kMaxWirePathBytes = 254;
// Every so many timed walks (about 30 s) the tree is listed again, in case an event was missed.
constexpr quint64 kRelistEveryWalks = 60;
constexpr qint64 kNsPerMs = 1000 * 1000;
// An unwatched directory changed this recently may change again within the same tick of its
// modification time: it is listed again until it has been quiet for longer.
constexpr qint64 kRecentChangeNs = 2000LL * 1000 * 1000;

// File systems on which changes made by other machines raise no inotify event.
constexpr quint32 kRemoteFileSystems[] = {
    0x6969, // NFS
    0x517B, // SMB
    0xFF534D42, // CIFS
    0xFE534D42, // SMB2
    0x65735546, // FUSE (every fuse.* file system)
    0x01021997, // 9P
    0x00C36400, // Ceph
    0x5346414F, // AFS
    0x73757245, // Coda
    0x6A656A63, // virtiofs
    0x786F4256, // vboxsf
    0x0BD00BD0, // Lustre
    0x47504653, // GPFS
    0x01161970, // GFS2
    0x7461636F, // OCFS2
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

QString directoryOf(const QString &path)
{
    const int slash = path.lastIndexOf('/');
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

// Only a file the system says is not there, or that its path now names another file, is gone:
// one that cannot be looked at now (a directory without permission) would be sent again once it
// can, if it were forgotten. Each form the path's bytes may have is looked at.
bool isGoneOnDisk(const FileKey &key)
{
    for (const QByteArray &path : NativeName::encodings(key.path)) {
        errno = 0;
        const FileIdentity now = FileIdentity::ofEntry(AT_FDCWD, path.constData(), true, nullptr);
        if (!now.isValid() && errno != ENOENT && errno != ENOTDIR)
            return false;
        // A key recorded without an identity stands for whatever file has its path.
        if (now.isValid()
            && (key.inode == 0 || (now.inode == key.inode && now.bornNs == key.bornNs)))
            return false;
    }
    return true;
}

// A name as shown and sent; one that cannot be read whole is shown with its unreadable parts
// replaced (and never sent).
QString textOf(const QByteArray &name)
{
    const QString text = NativeName::decode(name);
    return text.isNull() ? NativeName::shown(name) : text;
}

FileKey keyOf(const ScanNode &node, const QByteArray &name, const FileIdentity &seen)
{
    return { joined(node.path, textOf(name)), seen.bornNs, seen.inode };
}

// Whether the directory lies on the same file system as its parent: not a mount point.
bool liesOnItsParent(const QByteArray &nativePath, const FileIdentity &seen)
{
    const QByteArray parent = nativePath + "/..";
    return FileIdentity::ofEntry(AT_FDCWD, parent.constData(), true, nullptr).device == seen.device;
}

bool isSpecial(quint32 type)
{
    return type == S_IFIFO || type == S_IFSOCK || type == S_IFCHR || type == S_IFBLK;
}

qint64 monotonicMs() { return QDeadlineTimer::current().deadline(); }

// What the events tell of the entry's writers since its last look.
void takeNews(ScanEntry &entry, const EntryNews &news)
{
    if (news.writeOpen >= 0)
        entry.writeOpen = news.writeOpen != 0;
    if (news.movedIn >= 0)
        entry.movedIn = news.movedIn != 0;
}

void markForRelisting(ScanNode &node, ScanNode::Relist watched)
{
    node.relist = node.watch >= 0 ? watched : ScanNode::Everything;
    for (ScanNode::Child &child : node.children)
        markForRelisting(*child.node, watched);
}

// Closes the directory a visit opened, whichever way the visit ends.
struct OpenDirectory {
    DIR *dir = nullptr;
    ~OpenDirectory()
    {
        if (dir)
            ::closedir(dir);
    }
};

} // namespace

ScanTree::ScanTree(const QString &directory, DirectoryWatch &watch)
    : m_directory(directory)
    , m_watch(watch)
{
}

ScanTree::~ScanTree()
{
    if (m_root)
        dropTree(*m_root, false);
}

bool ScanTree::beginWalk(bool timed)
{
    ++m_walks;
    if (timed)
        ++m_timedWalks;
    if (!timed || m_timedWalks % kRelistEveryWalks != 0 || !m_root)
        return false;
    markForRelisting(*m_root, ScanNode::Names);
    return true;
}

ScanTree::RootState ScanTree::placeRoot()
{
    quint32 type = 0;
    const QByteArray nativePath = QFile::encodeName(m_directory);
    const FileIdentity seen = FileIdentity::ofEntry(AT_FDCWD, nativePath.constData(), true, &type);
    if (!seen.isValid() || type != S_IFDIR)
        return Missing;
    RootState state = Placed;
    // A mount that failed or went: the path names the empty directory it was mounted on. What is
    // known of the tree holds again once the mount is back.
    if (m_root && m_root->device != seen.device && liesOnItsParent(nativePath, seen))
        return Unavailable;
    // Another directory under the rule's path: nothing known of the old one holds for it.
    if (m_root && (m_root->device != seen.device || m_root->inode != seen.inode)) {
        state = m_root->device != seen.device ? Remounted : Replaced;
        dropTree(*m_root, false);
        m_root.reset();
    }
    if (!m_root) {
        const QString path = rootPath(m_directory);
        m_root = newNode(path, QFile::encodeName(path), seen);
        m_nodes.insert(path, m_root.get());
    }
    return state;
}

bool ScanTree::isTemporaryName(const QByteArray &name)
{
    // Hidden names (and "." and "..", and LibreOffice's ".~lock.NAME#"), and the names under
    // which downloads, copies and editors write a file before it gets its own.
    static const char *const kSuffixes[] = { ".part", ".tmp", ".crdownload", ".partial" };
    if (name.startsWith('.') || name.startsWith("~$"))
        return true;
    return std::any_of(std::begin(kSuffixes), std::end(kSuffixes), [&name](const char *suffix) {
        const int length = int(qstrlen(suffix));
        return name.size() > length
            && qstrnicmp(name.constData() + name.size() - length, suffix, uint(length)) == 0;
    });
}

QString ScanTree::rootPath(const QString &directory)
{
    return directory.size() > 1 && directory.endsWith('/') ? directory.chopped(1) : directory;
}

void ScanTree::setExcluded(const QSet<DirectoryId> &directories)
{
    if (directories == m_excluded)
        return;
    m_excluded = directories;
    if (m_root)
        dropExcluded(*m_root);
}

void ScanTree::dropExcluded(ScanNode &node)
{
    for (auto it = node.children.begin(); it != node.children.end();) {
        if (m_excluded.contains({ it->node->device, it->node->inode })) {
            dropTree(*it->node, true);
            it = node.children.erase(it);
        } else {
            dropExcluded(*it->node);
            ++it;
        }
    }
}

bool ScanTree::hasContent() const
{
    return m_root && m_root->listing > 0 && (!m_root->files.isEmpty() || !m_root->children.empty());
}

void ScanTree::relistEverything()
{
    for (ScanNode *node : qAsConst(m_nodes))
        node->relist = ScanNode::Everything;
}

// The entry a key names in the tree, or none.
ScanNode::Files::iterator ScanTree::entryOf(const FileKey &key, ScanNode **node) const
{
    *node = m_nodes.value(directoryOf(key.path));
    if (!*node)
        return {};
    const QString name = key.path.mid(key.path.lastIndexOf('/') + 1);
    for (const QByteArray &form : NativeName::encodings(name)) {
        const auto entry = (*node)->files.find(form);
        if (entry != (*node)->files.end())
            return entry;
    }
    return (*node)->files.end();
}

void ScanTree::reoffer(const FileKey &key, int failedRounds)
{
    ScanNode *node = nullptr;
    const auto entry = entryOf(key, &node);
    if (!node || entry == node->files.end() || entry->state != ScanEntry::Known
        || entry->seen.inode != key.inode || entry->seen.bornNs != key.bornNs)
        return;
    const QByteArray name = entry.key();
    entry->failedRounds = failedRounds;
    entry->offeredAgain = true;
    setState(*node, entry.key(), *entry, ScanEntry::Fresh);
    node->dirty[name];
}

// Looks at what changed in the directory since its last visit, and at the candidates.
void ScanTree::visit(ScanNode &node, Visit &visit)
{
    if (node.watch < 0 && node.relist == ScanNode::None && listingChanged(node))
        node.relist = ScanNode::Names;
    if (node.relist == ScanNode::None && node.dirty.isEmpty() && node.polled.isEmpty())
        return;
    // Below the root, a directory replaced by a link is not followed: its parent drops it.
    const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (&node == m_root.get() ? 0 : O_NOFOLLOW);
    const int fd = ::open(node.nativePath.constData(), flags);
    OpenDirectory open { fd < 0 ? nullptr : ::fdopendir(fd) };
    if (!open.dir) {
        if (fd >= 0)
            ::close(fd);
        return;
    }
    if (node.relist != ScanNode::None) {
        list(node, open.dir, visit);
    } else {
        const QList<QByteArray> dirty = node.dirty.keys();
        for (const QByteArray &name : dirty)
            lookAt(node, fd, name, visit);
    }
    const QSet<QByteArray> polled = node.polled;
    for (const QByteArray &name : polled) {
        const auto entry = node.files.constFind(name);
        if (entry != node.files.constEnd() && entry->seenWalk != m_walks)
            lookAt(node, fd, name, visit);
    }
}

// A listing cut short by a stop forgets nothing: entries it did not reach are not gone.
void ScanTree::list(ScanNode &node, DIR *dir, Visit &visit)
{
    // Watched before the listing, so that no change falls between the two.
    if (!node.remote)
        m_watch.watch(node, &node == m_root.get());
    const int fd = ::dirfd(dir);
    const bool everything = node.relist == ScanNode::Everything;
    node.modifiedNs = FileIdentity::ofDescriptor(fd).modifiedNs;
    const quint32 listing = ++node.listing;
    while (const struct dirent *entry = ::readdir(dir)) {
        const QByteArray name = QByteArray::fromRawData(entry->d_name, int(strlen(entry->d_name)));
        if (isTemporaryName(name))
            continue;
        if (visit.stopped())
            return;
        // A name the events reported is looked at whatever the listing says of it: its inode
        // stays the same while it is written to.
        if (everything || node.dirty.contains(name) || !takeAsListed(node, name, entry->d_ino))
            lookAt(node, fd, name, visit);
    }
    node.relist = ScanNode::None;
    // Names reported but not listed are gone.
    node.dirty.clear();
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
        dropName(node, name);
}

// For a directory without a watch: whether its entries may have changed since its listing.
bool ScanTree::listingChanged(ScanNode &node)
{
    const FileIdentity now
        = FileIdentity::ofEntry(AT_FDCWD, node.nativePath.constData(), true, nullptr);
    const qint64 nowNs = QDateTime::currentMSecsSinceEpoch() * 1000000;
    return !now.isValid() || now.modifiedNs != node.modifiedNs
        || nowNs - node.modifiedNs < kRecentChangeNs;
}

// An entry a listing names with the inode it had is taken as it was, without a stat; one whose
// content may have come without an event here (empty or unreadable, filled or opened up through
// another link to it) is looked at again.
bool ScanTree::takeAsListed(ScanNode &node, const QByteArray &name, quint64 entryInode)
{
    const auto entry = node.files.find(name);
    if (entry != node.files.end()) {
        const bool mayHaveChanged = entry->state == ScanEntry::Fresh
            || entry->state == ScanEntry::Empty || entry->state == ScanEntry::Unreadable;
        if (entry->viaLink || mayHaveChanged || entry->entryInode != entryInode)
            return false;
        entry->listing = node.listing;
        return true;
    }
    for (ScanNode::Child &child : node.children) {
        if (child.nativeName == name) {
            if (child.node->inode != entryInode)
                return false;
            child.listing = node.listing;
            return true;
        }
    }
    return false;
}

// One stat (two for a link): what the entry is now.
void ScanTree::lookAt(ScanNode &node, int dirFd, const QByteArray &name, Visit &visit)
{
    const EntryNews news = node.dirty.take(name);
    quint32 type = 0;
    errno = 0;
    FileIdentity seen = FileIdentity::ofEntry(dirFd, name.constData(), false, &type);
    if (!seen.isValid()) {
        if (errno == ENOENT || errno == ENOTDIR)
            dropName(node, name);
        return;
    }
    if (type == S_IFDIR && m_excluded.contains({ seen.device, seen.inode })) {
        // Another rule's directory: its files are that rule's.
        dropName(node, name);
        return;
    }
    if (type == S_IFDIR && !NativeName::decode(name).isNull()) {
        dropFile(node, name);
        ensureChild(node, name, seen);
        return;
    }
    dropChild(node, name);
    if (type == S_IFDIR || isSpecial(type)) {
        // A directory is not entered when its name cannot be sent; a FIFO or a device is no file.
        const QString reason
            = type == S_IFDIR ? UnsendableReason::kNameEncoding : UnsendableReason::kNotRegular;
        seeUnsendable(node, name, seen, reason, visit);
        return;
    }
    const quint64 entryInode = seen.inode;
    const bool viaLink = type == S_IFLNK;
    // A linked file is sent; a linked directory is not entered: it may lead back up the tree.
    if (viaLink)
        seen = FileIdentity::ofEntry(dirFd, name.constData(), true, &type);
    if (seen.isValid() && type == S_IFREG)
        seeFile(node, name, seen, entryInode, viaLink, news, visit);
    else
        dropFile(node, name);
}

void ScanTree::seeFile(ScanNode &node, const QByteArray &name, const FileIdentity &seen,
    quint64 entryInode, bool viaLink, const EntryNews &news, Visit &visit)
{
    auto it = node.files.find(name);
    if (it == node.files.end())
        it = node.files.insert(QByteArray(name.constData(), name.size()), ScanEntry());
    ScanEntry &entry = *it;
    const QByteArray &stored = it.key();
    const FileIdentity last = entry.seen;
    if (!last.sameVersion(seen)) {
        entry.stableSinceMs = monotonicMs();
        entry.refusalShown = false;
    }
    takeNews(entry, news);
    entry.seen = seen;
    entry.seenWalk = m_walks;
    entry.entryInode = entryInode;
    entry.listing = node.listing;
    entry.viaLink = viaLink;
    if (entry.state != ScanEntry::Fresh && !sameFile(last, seen)) {
        // Another file under this name: the key of the old one may be forgotten.
        if (entry.state == ScanEntry::Known)
            m_forgetting.append(keyOf(node, stored, last));
        setState(node, stored, entry, ScanEntry::Fresh);
    }
    switch (entry.state) {
    case ScanEntry::Known:
        // A file the user stopped is offered again once it changes.
        if (!last.sameVersion(seen))
            visit.changedKnown.append(stored);
        return;
    case ScanEntry::Fresh:
        visit.fresh.append(stored);
        return;
    default:
        weigh(node, stored, entry, QString(), visit);
    }
}

void ScanTree::seeUnsendable(ScanNode &node, const QByteArray &name, const FileIdentity &seen,
    const QString &reason, Visit &visit)
{
    auto it = node.files.find(name);
    if (it == node.files.end())
        it = node.files.insert(QByteArray(name.constData(), name.size()), ScanEntry());
    if (!it->seen.sameVersion(seen))
        it->refusalShown = false;
    it->seen = seen;
    it->seenWalk = m_walks;
    it->entryInode = seen.inode;
    it->listing = node.listing;
    refuse(node, it.key(), *it, joined(node.path, textOf(name)), reason, visit);
}

void ScanTree::refuse(ScanNode &node, const QByteArray &name, ScanEntry &entry,
    const QString &filePath, const QString &reason, Visit &visit)
{
    setState(node, name, entry, ScanEntry::Refused);
    if (takeRefusalRow(entry))
        visit.unsendable.append({ filePath, qMax<qint64>(entry.seen.size, 0), reason });
}

bool ScanTree::takeRefusalRow(ScanEntry &entry) { return !std::exchange(entry.refusalShown, true); }

// A candidate is handed over once its writer is done, so that it is never sent cut short: renamed
// into the directory whole, or unchanged for the settle time. Whether a program still holds it
// open for writing is asked once it looks settled, where it is handed over.
void ScanTree::weigh(ScanNode &node, const QByteArray &name, ScanEntry &entry,
    const QString &knownPath, Visit &visit)
{
    if (entry.seen.size <= 0) {
        setState(node, name, entry, ScanEntry::Empty);
        return;
    }
    const QString filePath = knownPath.isNull() ? joined(node.path, textOf(name)) : knownPath;
    const char *refusal = nullptr;
    if (NativeName::decode(name).isNull())
        refusal = UnsendableReason::kNameEncoding;
    else if (filePath.mid(m_root->path.size() + 1).toUtf8().size() > kMaxWirePathBytes)
        refusal = UnsendableReason::kPathTooLong;
    if (refusal) {
        refuse(node, name, entry, filePath, QString::fromUtf8(refusal), visit);
        return;
    }
    setState(node, name, entry, ScanEntry::Waiting);
    if (isSettled(entry))
        visit.ready.append({ filePath, name });
}

// Unchanged for the settle time by its change time, or by what the walks saw, whichever says so
// first: the clock of a network file system's server may run ahead of ours.
bool ScanTree::isSettled(const ScanEntry &entry) const
{
    if (entry.movedIn && !entry.writeOpen)
        return true;
    const qint64 quietMs
        = (QDateTime::currentMSecsSinceEpoch() * kNsPerMs - entry.seen.changedNs) / kNsPerMs;
    return quietMs >= m_settleMs || monotonicMs() - entry.stableSinceMs >= m_settleMs;
}

QVector<FileKey> ScanTree::keysOf(const ScanNode &node, const QVector<QByteArray> &names)
{
    QVector<FileKey> keys;
    keys.reserve(names.size());
    for (const QByteArray &name : names)
        keys.append(keyOf(node, name, node.files.value(name).seen));
    return keys;
}

void ScanTree::settleFresh(
    ScanNode &node, Visit &visit, const QVector<FileKey> &keys, const QVector<bool> &known)
{
    for (int i = 0; i < keys.size(); ++i) {
        const auto entry = node.files.find(visit.fresh.at(i));
        if (entry == node.files.end())
            continue;
        if (known.at(i))
            setState(node, entry.key(), *entry, ScanEntry::Known);
        else
            weigh(node, entry.key(), *entry, keys.at(i).path, visit);
    }
}

bool ScanTree::isGone(const FileKey &key) const
{
    ScanNode *node = nullptr;
    const auto entry = entryOf(key, &node);
    if (!node || node->relist != ScanNode::None || node->listing == 0)
        return isGoneOnDisk(key);
    if (entry == node->files.end())
        return true;
    return key.inode != 0 && (entry->seen.inode != key.inode || entry->seen.bornNs != key.bornNs);
}

// Files whose state may change without an event in their directory are looked at in every
// visit: candidates on their way to becoming stable, and links whose target lies elsewhere.
void ScanTree::setState(
    ScanNode &node, const QByteArray &name, ScanEntry &entry, ScanEntry::State state)
{
    entry.state = state;
    if (state == ScanEntry::Waiting || (entry.viaLink && state != ScanEntry::Known))
        node.polled.insert(name);
    else
        node.polled.remove(name);
}

void ScanTree::ensureChild(ScanNode &node, const QByteArray &name, const FileIdentity &seen)
{
    auto it = std::find_if(node.children.begin(), node.children.end(),
        [&name](const ScanNode::Child &child) { return child.nativeName == name; });
    if (it != node.children.end()) {
        if (it->node->device == seen.device && it->node->inode == seen.inode) {
            it->listing = node.listing;
            return;
        }
        dropTree(*it->node, true);
        node.children.erase(it);
    }
    ScanNode::Child child;
    child.name = NativeName::decode(name);
    child.nativeName = QByteArray(name.constData(), name.size());
    child.listing = node.listing;
    child.node
        = newNode(joined(node.path, child.name), joined(node.nativePath, child.nativeName), seen);
    m_nodes.insert(child.node->path, child.node.get());
    const auto place = std::lower_bound(node.children.begin(), node.children.end(), child.name,
        [](const ScanNode::Child &one, const QString &name) { return one.name < name; });
    node.children.insert(place, std::move(child));
}

std::unique_ptr<ScanNode> ScanTree::newNode(
    const QString &path, const QByteArray &nativePath, const FileIdentity &seen)
{
    auto node = std::make_unique<ScanNode>();
    node->path = path;
    node->nativePath = nativePath;
    node->device = seen.device;
    node->inode = seen.inode;
    node->remote = isRemote(node->nativePath);
    return node;
}

void ScanTree::dropName(ScanNode &node, const QByteArray &name)
{
    dropFile(node, name);
    dropChild(node, name);
}

void ScanTree::dropFile(ScanNode &node, const QByteArray &name)
{
    const auto entry = node.files.find(name);
    if (entry == node.files.end())
        return;
    if (entry->state == ScanEntry::Known)
        m_forgetting.append(keyOf(node, entry.key(), entry->seen));
    node.polled.remove(name);
    node.files.erase(entry);
}

void ScanTree::dropChild(ScanNode &node, const QByteArray &name)
{
    const auto it = std::find_if(node.children.begin(), node.children.end(),
        [&name](const ScanNode::Child &child) { return child.nativeName == name; });
    if (it == node.children.end())
        return;
    dropTree(*it->node, true);
    node.children.erase(it);
}

// Unwatches a tree that is about to be dropped; with forgetKnown, its known files are gone and
// their keys may be forgotten.
void ScanTree::dropTree(ScanNode &node, bool forgetKnown)
{
    for (ScanNode::Child &child : node.children)
        dropTree(*child.node, forgetKnown);
    if (forgetKnown) {
        for (auto it = node.files.cbegin(); it != node.files.cend(); ++it) {
            if (it->state == ScanEntry::Known)
                m_forgetting.append(keyOf(node, it.key(), it->seen));
        }
    }
    m_watch.unwatch(node);
    m_nodes.remove(node.path);
}
