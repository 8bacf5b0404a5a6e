#include "receive/RecvPartFiles.h"

#include "model/GlobalData.h"
#include "model/UniqueFd.h"
#include "receive/RecvPathResolver.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QtDebug>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

namespace {

const char *const kPartPrefix = ".gaprecv-";
const char *const kPartSuffix = ".part";
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

int sweepDir(int dirFd, const QString &dirPath, int depth)
{
    // readdir's stream takes over its descriptor: it walks a copy.
    DIR *dir = ::fdopendir(::fcntl(dirFd, F_DUPFD_CLOEXEC, 0));
    if (!dir)
        return 0;
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

} // namespace

QByteArray RecvPartFiles::partName(int attempt)
{
    return kPartPrefix + QByteArray::number(attempt) + kPartSuffix;
}

bool RecvPartFiles::isPartName(const QByteArray &name)
{
    static const QRegularExpression form(QStringLiteral("^\\.gaprecv-[0-9]+\\.part$"));
    return form.match(QString::fromLatin1(name)).hasMatch();
}

int RecvPartFiles::createLocked(int dirFd, const QString &dirPath, QByteArray *name)
{
    int attempt = 1;
    while (attempt < RecvPathResolver::kMaxNameAttempts) {
        const QByteArray candidate = partName(attempt);
        UniqueFd fd(::openat(dirFd, candidate.constData(),
            O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode));
        if (!fd.isValid()) {
            if (errno != EEXIST)
                return -1;
            if (!removeIfStale(dirFd, dirPath, candidate))
                ++attempt;
            continue;
        }
        // Between the creation and the lock a sweep may take the file for stale and remove it.
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0 && stillNamed(dirFd, candidate, fd.get())) {
            *name = candidate;
            return fd.release();
        }
        ++attempt;
    }
    errno = EEXIST;
    return -1;
}

bool RecvPartFiles::removeIfStale(int dirFd, const QString &dirPath, const QByteArray &name)
{
    const UniqueFd fd(
        ::openat(dirFd, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat held {
    };
    if (!fd.isValid() || ::fstat(fd.get(), &held) != 0 || !S_ISREG(held.st_mode))
        return false;
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0)
        return false; // a running transfer writes it
    // Holding the lock, nobody else can commit or remove this file: the name is ours to remove.
    if (!stillNamed(dirFd, name, fd.get()) || ::unlinkat(dirFd, name.constData(), 0) != 0)
        return false;
    qWarning().noquote() << "removed a part file no transfer holds:"
                         << dirPath + '/' + QString::fromLatin1(name) << "bytes" << held.st_size;
    return true;
}

int RecvPartFiles::sweep(const QString &recvDir)
{
    const UniqueFd dir(
        ::open(QFile::encodeName(recvDir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return dir.isValid() ? sweepDir(dir.get(), recvDir, 0) : 0;
}

int RecvPartFiles::sweepRules()
{
    QSet<QString> dirs;
    const QList<_RECVPATH_LISTDATA *> rules = g_RecvPathList.snapshot();
    for (const _RECVPATH_LISTDATA *rule : rules)
        dirs.insert(rule->RecvPath);
    int removed = 0;
    for (const QString &dir : qAsConst(dirs))
        removed += sweep(dir);
    return removed;
}
