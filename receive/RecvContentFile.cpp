#include "receive/RecvContentFile.h"

#include "receive/RecvPartFiles.h"

#include <QtDebug>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr mode_t kFileMode = 0666; // narrowed by the umask, as any file the client creates
// Large enough for the disk to take in one go, small enough that the sync at the end has
// little left.
constexpr qint64 kWritebackBytes = 8 * 1024 * 1024;

// An unnamed file is named through its entry in /proc; without /proc only part files can be named.
bool procFdReachable()
{
    static const bool reachable = ::access("/proc/self/fd", X_OK) == 0;
    return reachable;
}

int openUnnamed(int dirFd)
{
    return ::openat(dirFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, kFileMode);
}

// How a file system, or a kernel, that has no unnamed files refuses one.
bool unnamedRefused(int error) { return error == EOPNOTSUPP || error == EISDIR || error == EINVAL; }

} // namespace

bool RecvContentFile::create(int dirFd, const QString &dirPath)
{
    discard();
    if (procFdReachable()) {
        m_fd.reset(openUnnamed(dirFd));
        if (m_fd.isValid() || !unnamedRefused(errno))
            return m_fd.isValid();
    }
    m_fd.reset(RecvPartFiles::createLocked(dirFd, dirPath, &m_partName));
    m_dirFd = dirFd;
    return m_fd.isValid();
}

void RecvContentFile::appended(qint64 length)
{
    m_appended += length;
    if (m_appended - m_writebackFrom >= kWritebackBytes) {
        // Only a hint: a failure here shows in the sync, which decides.
        ::sync_file_range(m_fd.get(), m_writebackFrom, m_appended - m_writebackFrom,
            SYNC_FILE_RANGE_WRITE);
        m_writebackFrom = m_appended;
    }
    if (m_appended - m_flushedFrom >= m_flushBytes) {
        m_flusher.request(m_fd.get());
        m_flushedFrom = m_appended;
    }
}

bool RecvContentFile::sync()
{
    if (const int error = m_flusher.result()) {
        errno = error;
        return false;
    }
    return ::fdatasync(m_fd.get()) == 0;
}

bool RecvContentFile::nameAs(int toDirFd, const QByteArray &name)
{
    return m_partName.isEmpty() ? linkUnnamed(toDirFd, name) : renamePart(toDirFd, name);
}

// linkat never replaces: a taken name fails with EEXIST.
bool RecvContentFile::linkUnnamed(int toDirFd, const QByteArray &name)
{
    char procPath[32];
    std::snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", m_fd.get());
    return ::linkat(AT_FDCWD, procPath, toDirFd, name.constData(), AT_SYMLINK_FOLLOW) == 0;
}

// A file system without RENAME_NOREPLACE gets a hard link and an unlink, which refuse a taken
// name too; neither ever copies.
bool RecvContentFile::renamePart(int toDirFd, const QByteArray &name)
{
    const char *part = m_partName.constData();
    if (::renameat2(m_dirFd, part, toDirFd, name.constData(), RENAME_NOREPLACE) == 0) {
        m_partName.clear();
        return true;
    }
    if (errno != EINVAL || ::linkat(m_dirFd, part, toDirFd, name.constData(), 0) != 0)
        return false;
    // The content has its name now, whatever comes of the part name: a part name left over is a
    // second name of the delivered file, which the next sweep takes away.
    if (::unlinkat(m_dirFd, part, 0) != 0)
        qWarning().noquote() << "part file" << QString::fromLatin1(m_partName)
                             << "stays as a second name of" << QString::fromUtf8(name) << "errno"
                             << errno;
    m_partName.clear();
    return true;
}

void RecvContentFile::discard()
{
    // The flusher may still hold the descriptor.
    m_flusher.reset();
    if (m_fd.isValid() && !m_partName.isEmpty())
        ::unlinkat(m_dirFd, m_partName.constData(), 0);
    m_fd.reset();
    m_partName.clear();
    m_dirFd = -1;
    m_appended = 0;
    m_writebackFrom = 0;
    m_flushedFrom = 0;
}

bool RecvContentFile::holdsUnnamed(int dirFd)
{
    if (!procFdReachable())
        return false;
    const UniqueFd probe(openUnnamed(dirFd));
    return probe.isValid();
}
