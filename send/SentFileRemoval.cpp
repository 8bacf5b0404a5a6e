#include "send/SentFileRemoval.h"

#include <QDateTime>
#include <QtDebug>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

std::atomic<quint32> asideCount { 0 };

// Hidden, so that the scanner never takes it for a file to send.
QByteArray asideName(const QByteArray &path)
{
    const int slash = path.lastIndexOf('/');
    return path.left(slash + 1) + ".gapsend-" + QByteArray::number(::getpid()) + '-'
        + QByteArray::number(++asideCount) + ".removing";
}

bool moveWithoutReplacing(const QByteArray &from, const QByteArray &to)
{
    return ::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0;
}

// The other version goes back under its name; if yet another one has taken the name meanwhile, it
// stays beside it under a stamped name, visible, so that it is offered too.
void putBack(const QByteArray &aside, const QByteArray &path)
{
    if (moveWithoutReplacing(aside, path))
        return;
    const QByteArray stamped = path + '.'
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddhhmmsszzz")).toLatin1();
    if (!moveWithoutReplacing(aside, stamped))
        qWarning().noquote() << "cannot put back" << QString::fromLocal8Bit(aside);
}

} // namespace

SentFileRemoval::Outcome SentFileRemoval::remove(
    const QByteArray &path, const FileIdentity &version)
{
    if (!FileIdentity::ofEntry(AT_FDCWD, path.constData(), true, nullptr).sameVersion(version))
        return OtherVersion;
    const QByteArray aside = asideName(path);
    if (!moveWithoutReplacing(path, aside)) {
        if (errno == ENOENT)
            return Removed; // taken away by someone else since the look above
        if (errno != EINVAL && errno != ENOSYS)
            return Failed;
        // A file system that cannot rename without replacing: the look above has to do.
        return ::unlink(path.constData()) == 0 ? Removed : Failed;
    }
    const FileIdentity moved = FileIdentity::ofEntry(AT_FDCWD, aside.constData(), true, nullptr);
    if (!moved.sameContent(version)) {
        putBack(aside, path);
        return OtherVersion;
    }
    if (::unlink(aside.constData()) == 0)
        return Removed;
    putBack(aside, path);
    return Failed;
}
