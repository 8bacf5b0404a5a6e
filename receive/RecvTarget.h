#pragma once

#include "model/UniqueFd.h"
#include "receive/RecvContentFile.h"

#include <QByteArray>
#include <QFileDevice>
#include <QList>
#include <QString>

class QDateTime;

// Where one received file is written and how it takes its name. Every directory is opened or
// created relative to its parent without following a link (openat, mkdirat with O_NOFOLLOW: Qt's
// file classes resolve whole paths and follow every link, so a link already inside the receive
// directory would lead them outside it). While the content arrives the target holds only the
// receive directory, the deepest directory of the path that exists, and the content file, which
// has no name there (RecvContentFile); the path's missing directories are created at the commit,
// so a transfer that never ends leaves nothing behind. The commit never replaces an existing
// entry, and the directories that changed are synced before the file counts as received.
class RecvTarget
{
public:
    enum Outcome {
        Ready,
        Refused, // the path leads through a link, or its name is longer than its file system holds
        NoSpace, // the declared size does not fit the free space of the receive file system
        Failed, // a directory or the content file could not be opened; see fileError()
    };

    RecvTarget() = default;
    ~RecvTarget();
    RecvTarget(const RecvTarget &) = delete;
    RecvTarget &operator=(const RecvTarget &) = delete;

    // Chooses the name of a placeable relative path under recvDir and creates the content file for
    // a file of size bytes: a name that is taken (by any entry, a link included) gives way to a
    // stamped name directly in recvDir.
    Outcome prepare(
        const QString &recvDir, const QByteArray &relativePath, qint64 size, const QDateTime &now);
    // How the last failure reads as a file error (open failures as QFile reports them).
    QFileDevice::FileError fileError() const;
    int errorNumber() const { return m_error; }
    int contentFd() const { return m_content.fd(); }
    // The file name the content is to take (after a commit, the name taken), and full paths for
    // log lines.
    QByteArray finalName() const { return m_name; }
    QString finalPath() const;
    QString contentPath() const;

    // Counts bytes just appended to the content (see RecvContentFile::appended).
    void contentAppended(qint64 length) { m_content.appended(length); }
    // Puts the written content on disk (fdatasync).
    bool syncContent();
    // Names the content without replacing any entry: creates the path's missing directories and
    // takes the name; where the path is blocked or the name taken by now, the next free stamped
    // name in the receive directory. The directories that changed are synced before this returns
    // true; after a failure nothing of the file is left.
    bool commit(const QDateTime &now);
    // Removes the content if it has no name yet, and lets go of every descriptor.
    void discard();
    // Ends the thread that flushes large contents on the way (RecvContentFile::stopFlushing).
    void stopFlushing() { m_content.stopFlushing(); }

private:
    enum Placement { Placed, Blocked, PlacementFailed };

    Outcome walkExisting(QList<QByteArray> dirNames);
    Outcome fail(int error);
    int homeFd() const; // the directory the content is written in
    bool chooseStampedName(const QDateTime &now);
    Placement placeUnderPath();
    bool placeStamped(const QDateTime &now);
    bool syncDirectory(int dirFd);
    QString walkedPath() const;

    QString m_recvDir;
    UniqueFd m_recvDirFd;
    UniqueFd m_deepest; // the deepest existing directory of the path below the receive directory
    QList<QByteArray>
        m_walked; // the path's directories down to m_deepest; after a commit, to m_name
    QList<QByteArray> m_missing; // the path's directories below m_deepest, created at the commit
    UniqueFd m_created; // the deepest of them once created
    QByteArray m_baseName; // the last name of the relative path
    QByteArray m_name; // the name chosen; after a commit, the name taken
    bool m_stamped = false;
    RecvContentFile m_content;
    int m_error = 0;
};
