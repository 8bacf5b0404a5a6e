#pragma once

#include <QString>
#include <QtGlobal>

// What tells one file, and one version of one file, apart: the device and inode name the file,
// the birth time tells a file from a later one that reuses the inode, and size, modification time
// and status change time (to the nanosecond) tell its content. The change time counts because
// copies that keep times ("cp -p", "rsync -t", "touch -r") give a new content the old size and
// modification time, and nobody can set it back. Taken with statx because Qt's QFileInfo rounds
// times to milliseconds and does not give the inode.
struct FileIdentity {
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = -1;
    qint64 modifiedNs = 0;
    qint64 changedNs = 0; // status change time: any write, rename, link or permission change
    qint64 bornNs = 0; // 0 where the file system keeps no birth time

    // An invalid identity (size -1) when the file cannot be looked at. Links are followed, as
    // opening the path follows them.
    static FileIdentity ofPath(const QString &path);
    static FileIdentity ofDescriptor(int fd);
    // For a walk: an entry of an open directory (or a path, with AT_FDCWD), by its encoded name,
    // links followed or not, and the file's type (the S_IFMT bits of its mode) given back.
    static FileIdentity ofEntry(int dirFd, const char *name, bool followLinks, quint32 *type);

    bool isValid() const { return size >= 0; }
    bool sameFile(const FileIdentity &other) const
    {
        return isValid() && other.isValid() && device == other.device && inode == other.inode;
    }
    // The same file with the same content as far as the file system tells.
    bool sameVersion(const FileIdentity &other) const
    {
        return sameContent(other) && changedNs == other.changedNs;
    }
    // As sameVersion, but for a file that was renamed since, which moves its change time on.
    bool sameContent(const FileIdentity &other) const
    {
        return sameFile(other) && bornNs == other.bornNs && size == other.size
            && modifiedNs == other.modifiedNs;
    }
};
