#include "receive/RecvTarget.h"

#include "receive/RecvPartFiles.h"
#include "receive/RecvPathResolver.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QtDebug>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t kDirMode = 0777; // narrowed by the umask, as QDir::mkpath does

// The receive directory is the operator's choice, reached by its path as configured: one that has
// gone missing is made again, like any missing directory of a file's path.
UniqueFd openRecvDir(const QString &recvDir)
{
    const QByteArray path = QFile::encodeName(recvDir);
    UniqueFd dir(::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.isValid() && errno == ENOENT && QDir().mkpath(recvDir))
        dir.reset(::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return dir;
}

} // namespace

RecvTarget::~RecvTarget() { discard(); }

RecvTarget::Outcome RecvTarget::prepare(
    const QString &recvDir, const QByteArray &relativePath, const QDateTime &now)
{
    discard();
    m_recvDir = recvDir;
    m_dirNames.clear();
    m_firstCreated = -1;
    m_nameIndex = 0;
    QList<QByteArray> dirNames = relativePath.split('/');
    m_baseName = dirNames.takeLast();
    m_name = m_baseName;
    m_dirs.push_back(openRecvDir(recvDir));
    if (!m_dirs.back().isValid())
        return fail(errno);

    Outcome outcome = Ready;
    while (!dirNames.isEmpty() && outcome == Ready) {
        outcome = openOrRefuse(m_dirs.back().get(), dirNames.first());
        if (outcome == Ready)
            dirNames.removeFirst();
    }
    if (outcome == Failed && m_error == ENOENT)
        outcome = createMutiDir(dirNames); // the name is free where its directory is new
    else if (outcome == Ready && isTaken(m_dirs.back().get(), m_name))
        outcome = chooseStampedName(now);
    if (outcome != Ready)
        return outcome;

    m_nameIndex = int(m_dirs.size()) - 1;
    m_part.reset(
        RecvPartFiles::createLocked(m_dirs.back().get(), dirPath(m_nameIndex), &m_partName));
    return m_part.isValid() ? Ready : fail(errno);
}

QFileDevice::FileError RecvTarget::fileError() const
{
    // As QFile reports an open that fails.
    return m_error == EMFILE || m_error == ENFILE ? QFileDevice::ResourceError
                                                  : QFileDevice::OpenError;
}

QString RecvTarget::finalPath() const
{
    return dirPath(m_nameIndex) + '/' + QString::fromUtf8(m_name);
}

QString RecvTarget::partPath() const
{
    return dirPath(m_dirNames.size()) + '/' + QString::fromLatin1(m_partName);
}

bool RecvTarget::syncContent()
{
    if (::fdatasync(m_part.get()) == 0)
        return true;
    m_error = errno;
    return false;
}

bool RecvTarget::commit(const QDateTime &now)
{
    bool placed = place(m_nameIndex, m_name);
    for (int attempt = 1;
         !placed && m_error == EEXIST && attempt < RecvPathResolver::kMaxNameAttempts; ++attempt)
        placed = place(0, RecvPathResolver::stampedName(m_baseName, now, attempt));
    if (!placed) {
        discard();
        return false;
    }
    m_partName.clear(); // the content lives under its name now
    if (!syncDirectories(m_nameIndex)) {
        // Not known to survive a power loss: the sender, unconfirmed, keeps its copy and sends
        // it again, so the file is better gone than possibly there twice.
        ::unlinkat(m_dirs[size_t(m_nameIndex)].get(), m_name.constData(), 0);
        discard();
        return false;
    }
    m_part.reset();
    m_dirs.clear();
    return true;
}

void RecvTarget::discard()
{
    if (m_part.isValid() && !m_partName.isEmpty())
        ::unlinkat(m_dirs.back().get(), m_partName.constData(), 0);
    m_part.reset();
    m_partName.clear();
    m_dirs.clear();
}

RecvTarget::Outcome RecvTarget::fail(int error)
{
    m_error = error;
    return Failed;
}

// Opens a directory of the path below its parent; a link there is refused, whatever it points to.
RecvTarget::Outcome RecvTarget::openOrRefuse(int parentFd, const QByteArray &name)
{
    UniqueFd dir(
        ::openat(parentFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (dir.isValid()) {
        m_dirs.push_back(std::move(dir));
        m_dirNames.append(name);
        return Ready;
    }
    const int error = errno;
    struct stat entry {
    };
    if (::fstatat(parentFd, name.constData(), &entry, AT_SYMLINK_NOFOLLOW) == 0
        && S_ISLNK(entry.st_mode))
        return Escapes;
    return fail(error);
}

// Any entry takes a name, a dangling link included: writing through it would create its target.
bool RecvTarget::isTaken(int dirFd, const QByteArray &name) const
{
    struct stat entry {
    };
    return ::fstatat(dirFd, name.constData(), &entry, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT;
}

// The stamped name lies directly in the receive directory: the directories of the path are
// dropped.
RecvTarget::Outcome RecvTarget::chooseStampedName(const QDateTime &now)
{
    m_dirs.resize(1);
    m_dirNames.clear();
    for (int attempt = 1; attempt < RecvPathResolver::kMaxNameAttempts; ++attempt) {
        const QByteArray stamped = RecvPathResolver::stampedName(m_baseName, now, attempt);
        if (!isTaken(m_dirs.front().get(), stamped)) {
            m_name = stamped;
            qDebug() << "附带时间戳的文件名" << QString::fromUtf8(m_name);
            return Ready;
        }
    }
    return fail(EEXIST);
}

// Creates the missing directories of the path from the deepest existing one downwards.
RecvTarget::Outcome RecvTarget::createMutiDir(const QList<QByteArray> &missing)
{
    m_firstCreated = int(m_dirs.size());
    for (const QByteArray &name : missing) {
        // Another transfer may create the same directory at the same time.
        if (::mkdirat(m_dirs.back().get(), name.constData(), kDirMode) != 0 && errno != EEXIST)
            return fail(errno);
        const Outcome outcome = openOrRefuse(m_dirs.back().get(), name);
        if (outcome != Ready)
            return outcome;
    }
    return Ready;
}

// Renames the part file to a name in the index-th directory unless that name is taken. A file
// system without RENAME_NOREPLACE gets a hard link and an unlink, which refuse a taken name too;
// neither ever copies.
bool RecvTarget::place(int toIndex, const QByteArray &name)
{
    const int from = m_dirs.back().get();
    const int to = m_dirs[size_t(toIndex)].get();
    bool placed
        = ::renameat2(from, m_partName.constData(), to, name.constData(), RENAME_NOREPLACE) == 0;
    if (!placed && errno == EINVAL) {
        placed = ::linkat(from, m_partName.constData(), to, name.constData(), 0) == 0;
        if (placed)
            ::unlinkat(from, m_partName.constData(), 0);
    }
    if (!placed) {
        m_error = errno;
        return false;
    }
    m_name = name;
    m_nameIndex = toIndex;
    return true;
}

// The directory that took the name, and every directory this transfer created with its parent:
// without them a power loss could take the name away again after the sender was told.
bool RecvTarget::syncDirectories(int destinationIndex)
{
    for (int index = 0; index < int(m_dirs.size()); ++index) {
        const bool changed
            = index == destinationIndex || (m_firstCreated > 0 && index >= m_firstCreated - 1);
        if (changed && ::fsync(m_dirs[size_t(index)].get()) != 0) {
            m_error = errno;
            return false;
        }
    }
    return true;
}

QString RecvTarget::dirPath(int index) const
{
    QString path = m_recvDir;
    for (int i = 0; i < index && i < m_dirNames.size(); ++i)
        path += '/' + QString::fromUtf8(m_dirNames.at(i));
    return path;
}
