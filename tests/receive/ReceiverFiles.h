#pragma once

// Contents and directory listings for the receiving tests.

#include "receive/RecvPartFiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QStringList>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ReceiverFiles {

inline QByteArray md5Of(const QByteArray &content)
{
    return QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex().toUpper();
}

inline QByteArray contentOfSize(int size, int seed = 0)
{
    QByteArray content(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        content[i] = char((i * 131 + seed * 7 + 17) % 251);
    return content;
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Every file below a directory, hidden ones included, relative to it; links are not followed.
inline QStringList filesUnder(const QString &dir)
{
    QStringList files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(QDir(dir).relativeFilePath(it.next()));
    files.sort();
    return files;
}

// The receiver's part files below a directory, relative to it. Their names are no valid UTF-8,
// so they are read as the bytes they are.
inline QStringList partFilesUnder(const QString &dir, const QString &prefix = QString())
{
    QStringList parts;
    DIR *listing = ::opendir(QFile::encodeName(dir).constData());
    if (!listing)
        return parts;
    while (const dirent *entry = ::readdir(listing)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        if (RecvPartFiles::isPartName(name))
            parts << prefix + QString::fromLatin1(name);
        else if (entry->d_type == DT_DIR)
            parts << partFilesUnder(
                dir + '/' + QFile::decodeName(name), prefix + QFile::decodeName(name) + '/');
    }
    ::closedir(listing);
    parts.sort();
    return parts;
}

// A new file whose path is the bytes given, valid UTF-8 or not (Qt's file classes would encode
// it as UTF-8 first).
inline bool writeRawFile(const QByteArray &path, const QByteArray &content)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    const bool written
        = fd >= 0 && ::write(fd, content.constData(), size_t(content.size())) == content.size();
    return ::close(fd) == 0 && written;
}

inline bool rawExists(const QByteArray &path) { return ::access(path.constData(), F_OK) == 0; }

// The size of the largest file a process has open in a directory, named or not (an unnamed file
// shows in /proc as "DIR/#INODE (deleted)"); -1 when none.
inline qint64 largestOpenFileIn(qint64 pid, const QString &dir)
{
    const QString fds = QStringLiteral("/proc/%1/fd").arg(pid);
    const QByteArray prefix = QFile::encodeName(dir) + '/';
    qint64 largest = -1;
    for (const QString &fd :
        QDir(fds).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        const QByteArray link = QFile::encodeName(fds + '/' + fd);
        char target[4096];
        const ssize_t length = ::readlink(link.constData(), target, sizeof target);
        struct stat file {
        };
        if (length > 0 && QByteArray(target, int(length)).startsWith(prefix)
            && ::stat(link.constData(), &file) == 0 && S_ISREG(file.st_mode))
            largest = qMax(largest, qint64(file.st_size));
    }
    return largest;
}

} // namespace ReceiverFiles
