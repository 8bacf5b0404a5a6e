#pragma once

#include "model/UniqueFd.h"

#include <QByteArray>
#include <QFileDevice>
#include <QString>
#include <vector>

class QDateTime;

// Where one received file is written, held by descriptors from the receive directory down to the
// part file. Every directory is opened or created relative to its parent without following a
// link (openat, mkdirat with O_NOFOLLOW: Qt's file classes resolve whole paths and follow every
// link, so a link already inside the receive directory would lead them outside it). The part
// file is new (O_EXCL) and locked while it is written; the commit never replaces an existing
// entry (renameat2 with RENAME_NOREPLACE), and the content and the directories are synced before
// the file counts as received.
class RecvTarget
{
public:
    enum Outcome {
        Ready,
        Escapes, // the path leads through a link
        Failed, // a directory or the part file could not be made; see fileError()
    };

    RecvTarget() = default;
    ~RecvTarget();
    RecvTarget(const RecvTarget &) = delete;
    RecvTarget &operator=(const RecvTarget &) = delete;

    // Chooses the name of a placeable relative path under recvDir and opens its part file: a
    // name that is taken (by any entry, a link included) gives way to a stamped name directly in
    // recvDir; otherwise the missing directories of the path are created.
    Outcome prepare(const QString &recvDir, const QByteArray &relativePath, const QDateTime &now);
    // How the last failure reads as a file error (open failures as QFile reports them).
    QFileDevice::FileError fileError() const;
    int errorNumber() const { return m_error; }
    int partFd() const { return m_part.get(); }
    // The file name the content is to take, and the full paths for log lines.
    QByteArray finalName() const { return m_name; }
    QString finalPath() const;
    QString partPath() const;

    // Puts the written content on disk (fdatasync).
    bool syncContent();
    // Gives the part file its name without replacing any entry: a name taken meanwhile gives way
    // to the next stamped one. The directories that changed are synced before this returns true;
    // after a failure nothing of the file is left.
    bool commit(const QDateTime &now);
    // Removes the part file if it is still there, and lets go of every descriptor.
    void discard();

private:
    Outcome fail(int error);
    Outcome openOrRefuse(int parentFd, const QByteArray &name);
    bool isTaken(int dirFd, const QByteArray &name) const;
    Outcome chooseStampedName(const QDateTime &now);
    Outcome createMutiDir(const QList<QByteArray> &missing);
    bool place(int toIndex, const QByteArray &name);
    bool syncDirectories(int destinationIndex);
    QString dirPath(int index) const;

    QString m_recvDir;
    QList<QByteArray> m_dirNames; // the path's directories, as far as they are held in m_dirs
    std::vector<UniqueFd> m_dirs; // the receive directory, then each directory of the path
    int m_firstCreated = -1; // index in m_dirs of the first directory this transfer created
    QByteArray m_baseName; // the last name of the relative path
    QByteArray m_name; // the name chosen; after a commit, the name taken
    int m_nameIndex = 0; // index in m_dirs of the directory that holds m_name
    QByteArray m_partName;
    UniqueFd m_part;
    int m_error = 0;
};
