#include "receive/RecvTarget.h"

#include "receive/RecvPathResolver.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QSet>
#include <QtDebug>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

constexpr mode_t kDirMode = 0777; // narrowed by the umask, as QDir::mkpath does
// Received files leave this share of the receive file system free, for everything else on it.
constexpr qint64 kReservePercent = 1;

// The receive directory is the operator's choice, reached by its path as configured: one that has
// gone missing is made again.
UniqueFd openRecvDir(const QString &recvDir)
{
    const QByteArray path = QFile::encodeName(recvDir);
    UniqueFd dir(::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.isValid() && errno == ENOENT && QDir().mkpath(recvDir))
        dir.reset(::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return dir;
}

UniqueFd openDirBelow(int parentFd, const QByteArray &name)
{
    return UniqueFd(
        ::openat(parentFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

bool isLink(int dirFd, const QByteArray &name)
{
    struct stat entry {
    };
    return ::fstatat(dirFd, name.constData(), &entry, AT_SYMLINK_NOFOLLOW) == 0
        && S_ISLNK(entry.st_mode);
}

// Any entry takes a name, a dangling link included: naming through it would create its target.
bool isTaken(int dirFd, const QByteArray &name)
{
    struct stat entry {
    };
    return ::fstatat(dirFd, name.constData(), &entry, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT;
}

int nameMaxOf(int dirFd)
{
    struct statvfs fs {
    };
    if (::fstatvfs(dirFd, &fs) != 0 || fs.f_namemax == 0)
        return RecvPathResolver::kMaxNameBytes;
    return int(qMin<unsigned long>(fs.f_namemax, RecvPathResolver::kMaxNameBytes));
}

// Whether size bytes fit the free space of the directory's file system, less the reserve. A file
// system that does not say is given the benefit of the doubt: a write that fails still ends the
// transfer cleanly.
bool hasRoom(int dirFd, qint64 size)
{
    struct statvfs fs {
    };
    if (::fstatvfs(dirFd, &fs) != 0)
        return true;
    const qint64 blockSize = qint64(fs.f_frsize ? fs.f_frsize : fs.f_bsize);
    const qint64 available = qint64(fs.f_bavail) * blockSize;
    const qint64 reserve = qint64(fs.f_blocks) * blockSize * kReservePercent / 100;
    return size <= available - reserve;
}

// Some file systems (CIFS before Linux 4.17, Ceph, some FUSE ones) cannot sync a directory: the
// names made there are as durable as the file system makes them, said once per file system.
void noteNoDirectorySync(int dirFd, int error)
{
    static QMutex mutex;
    static QSet<quint64> devices;
    struct stat dir {
    };
    ::fstat(dirFd, &dir);
    QMutexLocker lock(&mutex);
    if (!devices.contains(quint64(dir.st_dev))) {
        devices.insert(quint64(dir.st_dev));
        qWarning().noquote() << "directories cannot be synced on the file system of device"
                             << quint64(dir.st_dev) << "(errno" << error
                             << "): received names there are on disk when the file system "
                                "writes them";
    }
}

} // namespace

RecvTarget::~RecvTarget() { discard(); }

RecvTarget::Outcome RecvTarget::prepare(
    const QString &recvDir, const QByteArray &relativePath, qint64 size, const QDateTime &now)
{
    discard();
    m_recvDir = recvDir;
    m_walked.clear();
    m_missing.clear();
    m_stamped = false;
    QList<QByteArray> dirNames = relativePath.split('/');
    m_baseName = dirNames.takeLast();
    m_name = m_baseName;
    m_recvDirFd = openRecvDir(recvDir);
    if (!m_recvDirFd.isValid())
        return fail(errno);

    const Outcome walked = walkExisting(dirNames);
    if (walked != Ready)
        return walked;
    if (m_baseName.size() > nameMaxOf(homeFd())) {
        qDebug() << "name longer than its file system holds:" << QString::fromUtf8(relativePath);
        return Refused;
    }
    if (!hasRoom(homeFd(), size))
        return NoSpace;
    if (m_missing.isEmpty() && isTaken(homeFd(), m_name) && !chooseStampedName(now))
        return fail(EEXIST);
    return m_content.create(homeFd(), walkedPath()) ? Ready : fail(errno);
}

// Descends through the directories of the path that exist, holding only the deepest; the rest
// are left for the commit.
RecvTarget::Outcome RecvTarget::walkExisting(QList<QByteArray> dirNames)
{
    while (!dirNames.isEmpty()) {
        UniqueFd child = openDirBelow(homeFd(), dirNames.first());
        if (!child.isValid()) {
            const int error = errno;
            if (isLink(homeFd(), dirNames.first())) {
                qDebug() << "path leads through a link:" << walkedPath() << dirNames.first();
                return Refused;
            }
            if (error != ENOENT)
                return fail(error);
            m_missing = dirNames;
            return Ready;
        }
        m_deepest = std::move(child);
        m_walked.append(dirNames.takeFirst());
    }
    return Ready;
}

QFileDevice::FileError RecvTarget::fileError() const
{
    // As QFile reports an open that fails.
    return m_error == EMFILE || m_error == ENFILE ? QFileDevice::ResourceError
                                                  : QFileDevice::OpenError;
}

QString RecvTarget::finalPath() const { return walkedPath() + '/' + QString::fromUtf8(m_name); }

QString RecvTarget::contentPath() const
{
    const QByteArray part = m_content.partName();
    return walkedPath() + '/'
        + (part.isEmpty() ? QStringLiteral("(unnamed)") : QString::fromLatin1(part));
}

bool RecvTarget::syncContent()
{
    if (m_content.sync())
        return true;
    m_error = errno;
    return false;
}

bool RecvTarget::commit(const QDateTime &now)
{
    Placement placement = m_stamped ? Blocked : placeUnderPath();
    if (placement == Blocked) {
        if (!m_stamped)
            qDebug() << "path or name taken by now:" << finalPath() << "errno" << m_error;
        placement = placeStamped(now) ? Placed : PlacementFailed;
    }
    const int namedIn = m_created.isValid() ? m_created.get() : homeFd();
    if (placement == Placed && !syncDirectory(namedIn)) {
        // Not known to survive a power loss: the sender, unconfirmed, keeps its copy and sends
        // it again, so the file is better gone than possibly there twice.
        ::unlinkat(namedIn, m_name.constData(), 0);
        placement = PlacementFailed;
    }
    discard();
    return placement == Placed;
}

void RecvTarget::discard()
{
    m_content.discard();
    m_created.reset();
    m_deepest.reset();
    m_recvDirFd.reset();
}

RecvTarget::Outcome RecvTarget::fail(int error)
{
    m_error = error;
    return Failed;
}

int RecvTarget::homeFd() const { return m_deepest.isValid() ? m_deepest.get() : m_recvDirFd.get(); }

// The stamped name lies directly in the receive directory: the directories of the path are
// dropped, and the content is written there.
bool RecvTarget::chooseStampedName(const QDateTime &now)
{
    m_deepest.reset();
    m_walked.clear();
    const int nameMax = nameMaxOf(homeFd());
    for (int attempt = 1; attempt < RecvPathResolver::kMaxNameAttempts; ++attempt) {
        const QByteArray stamped = RecvPathResolver::stampedName(m_baseName, now, attempt, nameMax);
        if (!isTaken(homeFd(), stamped)) {
            m_name = stamped;
            m_stamped = true;
            qDebug() << "附带时间戳的文件名" << QString::fromUtf8(m_name);
            return true;
        }
    }
    return false;
}

// Creates the path's missing directories from the deepest existing one downwards and names the
// content in the last. A directory that cannot be made or is no directory by now (a file, a link
// put there meanwhile), or a name taken meanwhile, blocks the path.
RecvTarget::Placement RecvTarget::placeUnderPath()
{
    for (const QByteArray &name : qAsConst(m_missing)) {
        const int parent = m_created.isValid() ? m_created.get() : homeFd();
        if (::mkdirat(parent, name.constData(), kDirMode) != 0 && errno != EEXIST) {
            m_error = errno;
            return Blocked;
        }
        UniqueFd child = openDirBelow(parent, name);
        if (!child.isValid()) {
            m_error = errno;
            return Blocked;
        }
        // Without its directories the file's name would not survive a power loss either.
        if (!syncDirectory(parent))
            return PlacementFailed;
        m_created = std::move(child);
        m_walked.append(name);
    }
    if (m_content.nameAs(m_created.isValid() ? m_created.get() : homeFd(), m_name))
        return Placed;
    m_error = errno;
    return m_error == EEXIST ? Blocked : PlacementFailed;
}

bool RecvTarget::placeStamped(const QDateTime &now)
{
    m_created.reset();
    m_walked.clear();
    const int nameMax = nameMaxOf(m_recvDirFd.get());
    for (int attempt = 1; attempt < RecvPathResolver::kMaxNameAttempts; ++attempt) {
        const QByteArray stamped = RecvPathResolver::stampedName(m_baseName, now, attempt, nameMax);
        if (m_content.nameAs(m_recvDirFd.get(), stamped)) {
            m_name = stamped;
            m_deepest.reset(); // the name lies in the receive directory
            return true;
        }
        if (errno != EEXIST) {
            m_error = errno;
            return false;
        }
    }
    m_error = EEXIST;
    return false;
}

bool RecvTarget::syncDirectory(int dirFd)
{
    if (::fsync(dirFd) == 0)
        return true;
    const int error = errno;
    if (error == EINVAL || error == ENOTSUP) {
        noteNoDirectorySync(dirFd, error);
        return true;
    }
    m_error = error;
    return false;
}

QString RecvTarget::walkedPath() const
{
    QString path = m_recvDir;
    for (const QByteArray &name : m_walked)
        path += '/' + QString::fromUtf8(name);
    return path;
}
