#pragma once

#include <QHash>
#include <QString>
#include <QtGlobal>
#include <tuple>

// What the sending bookkeeping knows a file by: its path, its birth time to the nanosecond and
// its inode. A file deleted and created again under the same name, even within the same second,
// is a new file; a file that is written to keeps its key. Where the file system keeps no birth
// time, bornNs is 0 and the inode alone tells files under one name apart; no time that changes
// with every write stands in for it.
struct FileKey {
    QString path;
    qint64 bornNs = 0;
    quint64 inode = 0;

    bool operator==(const FileKey &other) const
    {
        return bornNs == other.bornNs && inode == other.inode && path == other.path;
    }
    bool operator!=(const FileKey &other) const { return !(*this == other); }
    bool operator<(const FileKey &other) const
    {
        return std::tie(path, bornNs, inode) < std::tie(other.path, other.bornNs, other.inode);
    }
};

inline uint qHash(const FileKey &key, uint seed = 0)
{
    return qHash(key.path, seed) ^ qHash(key.bornNs, seed) ^ qHash(key.inode, seed);
}
