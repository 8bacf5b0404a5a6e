#include "model/FileIdentity.h"

#include <QFile>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

qint64 nanoseconds(const struct statx_timestamp &time)
{
    return qint64(time.tv_sec) * 1000000000 + time.tv_nsec;
}

FileIdentity fromStatx(int dirFd, const char *path, int flags, quint32 *type = nullptr)
{
    struct statx status;
    const unsigned mask = STATX_BASIC_STATS | STATX_BTIME;
    FileIdentity identity;
    if (::statx(dirFd, path, flags, mask, &status) != 0)
        return identity;
    identity.device = (quint64(status.stx_dev_major) << 32) | status.stx_dev_minor;
    identity.inode = status.stx_ino;
    identity.size = qint64(status.stx_size);
    identity.modifiedNs = nanoseconds(status.stx_mtime);
    identity.changedNs = nanoseconds(status.stx_ctime);
    if (status.stx_mask & STATX_BTIME)
        identity.bornNs = nanoseconds(status.stx_btime);
    if (type)
        *type = status.stx_mode & S_IFMT;
    return identity;
}

} // namespace

FileIdentity FileIdentity::ofPath(const QString &path)
{
    return fromStatx(AT_FDCWD, QFile::encodeName(path).constData(), 0);
}

FileIdentity FileIdentity::ofDescriptor(int fd) { return fromStatx(fd, "", AT_EMPTY_PATH); }

FileIdentity FileIdentity::ofEntry(int dirFd, const char *name, bool followLinks, quint32 *type)
{
    return fromStatx(dirFd, name, followLinks ? 0 : AT_SYMLINK_NOFOLLOW, type);
}
