#pragma once

#include "model/UniqueFd.h"
#include "receive/DiskFlusher.h"

#include <QByteArray>
#include <QString>

// The file a transfer writes its content into until the content is verified and on disk. Where
// the file system allows it, the file has no name at all (O_TMPFILE): nothing of it is visible
// before it is named, and a process that dies leaves nothing behind. Elsewhere it is a locked part
// file whose name no delivered file can bear (RecvPartFiles). Either way, naming it never replaces
// an existing entry.
class RecvContentFile
{
public:
    // Every flushBytes of content, what is written so far is flushed to the disk beside the loop.
    static constexpr qint64 kFlushBytes = 64 * 1024 * 1024;

    explicit RecvContentFile(qint64 flushBytes = kFlushBytes)
        : m_flushBytes(flushBytes)
    {
    }
    ~RecvContentFile() { discard(); }
    RecvContentFile(const RecvContentFile &) = delete;
    RecvContentFile &operator=(const RecvContentFile &) = delete;

    // Creates the file in the directory, which must stay open until the file is discarded;
    // false with errno set. dirPath names the directory in log lines.
    bool create(int dirFd, const QString &dirPath);
    int fd() const { return m_fd.get(); }
    // The part file's name, empty for an unnamed file.
    QByteArray partName() const { return m_partName; }

    // Counts bytes just appended to the file and, every few MiB, starts writing them to disk
    // without waiting; every kFlushBytes it has them flushed in a thread (DiskFlusher). The sync
    // at the end then finds little left to write.
    void appended(qint64 length);
    // The content on the disk: false with errno set when the sync, or a flush on the way, failed.
    bool sync();
    // Gives the content a name in the directory; false with errno set, EEXIST when the name is
    // taken. The content keeps no other name.
    bool nameAs(int toDirFd, const QByteArray &name);
    // Closes the file; a part file not yet named is removed with it.
    void discard();
    // Ends the flushing thread; the next large content starts it again.
    void stopFlushing() { m_flusher.stop(); }

    // Whether the directory's file system holds unnamed files.
    static bool holdsUnnamed(int dirFd);

private:
    bool linkUnnamed(int toDirFd, const QByteArray &name);
    bool renamePart(int toDirFd, const QByteArray &name);

    const qint64 m_flushBytes;
    DiskFlusher m_flusher;
    UniqueFd m_fd;
    qint64 m_appended = 0;
    qint64 m_flushedFrom = 0; // where the range not yet handed to the flusher starts
    qint64 m_writebackFrom = 0; // where the range not yet handed to writeback starts
    int m_dirFd = -1; // the directory of a part file, held by the owner
    QByteArray m_partName;
};
