#include "receive/RecvPartFiles.h"

#include "model/GlobalData.h"
#include "model/UniqueFd.h"
#include "receive/RecvContentFile.h"
#include "receive/RecvPathResolver.h"

#include <QFile>
#include <QRandomGenerator>
#include <QSet>
#include <QStringList>
#include <QtDebug>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>

namespace {

// 0xFF never occurs in UTF-8.
const QByteArray kPartPrefix = QByteArrayLiteral(".gaprecv\xff");
const QByteArray kPartSuffix = QByteArrayLiteral(".part");
constexpr int kTagDigits = 16;
constexpr int kCreateAttempts = 16;
constexpr mode_t kFileMode = 0666; // narrowed by the umask, as any file the client creates
// Part files lie at most as deep as a relative path reaches, which is shorter than 255 bytes.
constexpr int kMaxSweepDepth = RecvPathResolver::kMaxRelativePathBytes / 2;

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A file that a lock was just taken on may have been removed by a sweep that held the lock first;
// its name then belongs to nobody, or to another file.
bool stillNamed(int dirFd, const QByteArray &name, int fd)
{
    struct stat held {
    };
    struct stat named {
    };
    return ::fstat(fd, &held) == 0 && held.st_nlink > 0
        && ::fstatat(dirFd, name.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0
        && sameFile(held, named);
}

// A lock refused because another process holds it, rather than because the file system has none.
bool heldElsewhere(int error) { return error == EWOULDBLOCK || error == EAGAIN; }

void noteUnlocked(const QString &dirPath, int error)
{
    static std::atomic<bool> said { false };
    if (!said.exchange(true))
        qWarning().noquote() << "file locks are not available in" << dirPath << "(errno" << error
                             << "): part files there are written unlocked, and never swept";
}

// Walks a copy of the descriptor: readdir's stream takes over the descriptor it is given.
int sweepDir(int dirFd, const QString &dirPath, int depth)
{
    const int copy = ::fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0)
        return 0;
    DIR *dir = ::fdopendir(copy);
    if (!dir) {
        ::close(copy);
        return 0;
    }
    int removed = 0;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        if (RecvPartFiles::isPartName(name)) {
            removed += RecvPartFiles::removeIfStale(dirFd, dirPath, name) ? 1 : 0;
            continue;
        }
        if (depth >= kMaxSweepDepth || (entry->d_type != DT_DIR && entry->d_type != DT_UNKNOWN))
            continue;
        const UniqueFd sub(
            ::openat(dirFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (sub.isValid())
            removed += sweepDir(sub.get(), dirPath + '/' + QFile::decodeName(name), depth + 1);
    }
    ::closedir(dir);
    return removed;
}

void sweepAside(const QStringList &dirs)
{
    std::thread([dirs] {
        for (const QString &dir : dirs)
            RecvPartFiles::sweepNow(dir);
    }).detach();
}

} // namespace

QByteArray RecvPartFiles::partName(quint64 tag)
{
    return kPartPrefix + QByteArray::number(tag, 16).rightJustified(kTagDigits, '0') + kPartSuffix;
}

bool RecvPartFiles::isPartName(const QByteArray &name)
{
    if (name.size() != kPartPrefix.size() + kTagDigits + kPartSuffix.size()
        || !name.startsWith(kPartPrefix) || !name.endsWith(kPartSuffix))
        return false;
    const QByteArray tag = name.mid(kPartPrefix.size(), kTagDigits);
    return std::all_of(tag.begin(), tag.end(),
        [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

int RecvPartFiles::createLocked(int dirFd, const QString &dirPath, QByteArray *name)
{
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        const QByteArray candidate = partName(QRandomGenerator::global()->generate64());
        UniqueFd fd(::openat(dirFd, candidate.constData(),
            O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode));
        if (!fd.isValid()) {
            if (errno == EEXIST)
                continue;
            return -1;
        }
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            // A sweep took the new file for stale between its creation and the lock: the sweep
            // removes it, and its name is no longer this transfer's to use or remove.
            if (heldElsewhere(error))
                continue;
            // Without locks no sweep can take the file either (it removes only what it locks):
            // the file is this transfer's alone, and goes with the transfer.
            noteUnlocked(dirPath, error);
        } else if (!stillNamed(dirFd, candidate, fd.get())) {
            continue;
        }
        *name = candidate;
        return fd.release();
    }
    errno = EEXIST;
    return -1;
}

bool RecvPartFiles::removeIfStale(int dirFd, const QString &dirPath, const QByteArray &name)
{
    // Opened for writing: some network file systems grant an exclusive lock only then.
    const UniqueFd fd(
        ::openat(dirFd, name.constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat held {
    };
    if (!fd.isValid() || ::fstat(fd.get(), &held) != 0 || !S_ISREG(held.st_mode))
        return false;
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
        return false; // a running transfer writes it, or the file system cannot tell
    // Holding the lock, nobody else can commit or remove this file: the name is ours to remove.
    if (!stillNamed(dirFd, name, fd.get()) || ::unlinkat(dirFd, name.constData(), 0) != 0)
        return false;
    qWarning().noquote() << "removed a part file no transfer holds:"
                         << dirPath + '/' + QString::fromLatin1(name) << "bytes" << held.st_size;
    return true;
}

int RecvPartFiles::sweepNow(const QString &recvDir)
{
    const UniqueFd dir(
        ::open(QFile::encodeName(recvDir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.isValid() || RecvContentFile::holdsUnnamed(dir.get()))
        return 0;
    return sweepDir(dir.get(), recvDir, 0);
}

void RecvPartFiles::sweep(const QString &recvDir) { sweepAside({ recvDir }); }

void RecvPartFiles::sweepRules()
{
    QSet<QString> dirs;
    const QList<_RECVPATH_LISTDATA *> rules = g_RecvPathList.snapshot();
    for (const _RECVPATH_LISTDATA *rule : rules)
        dirs.insert(rule->RecvPath);
    sweepAside(dirs.values());
}
