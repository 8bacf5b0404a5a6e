#pragma once

#include "model/FileKey.h"
#include "send/ScanNode.h"
#include "send/UnsendableFile.h"

#include <QPair>
#include <QSet>
#include <QString>
#include <QVector>
#include <dirent.h>
#include <functional>
#include <memory>

class DirectoryWatch;

// What the scanner knows of one send rule's directory tree, and how it learns what changed: a
// directory is listed in full the first time and when its events were lost, its names alone now
// and then as a safety net, and otherwise only the entries its events name and the candidates
// still on their way to becoming stable are looked at, one stat each. A directory that cannot be
// watched (the system's limit of watches reached, or a network file system) is listed again when
// its modification time changed. Only the scanner's thread uses it.
class ScanTree
{
public:
    // What a visit of one directory found.
    struct Visit {
        std::function<bool()> stopped; // a stop ends the visit at the next entry
        QVector<QByteArray> fresh; // names to look up in the rule's bookkeeping
        QVector<QPair<QString, QByteArray>> ready; // stable candidates: path and name
        QVector<QByteArray> changedKnown; // pending, sent or stopped files whose content changed
        QVector<UnsendableFile> unsendable; // files seen for the first time as they cannot be sent
    };
    // Where the rule's directory stands: not there; there as it was; another directory on the same
    // file system (the tree starts afresh); another file system mounted there (afresh too); or a
    // mount point whose mount has gone, the tree kept for its return.
    enum RootState { Missing, Placed, Replaced, Remounted, Unavailable };
    using DirectoryId = QPair<quint64, quint64>; // device and inode

    ScanTree(const QString &directory, DirectoryWatch &watch);
    ~ScanTree();
    ScanTree(const ScanTree &) = delete;
    ScanTree &operator=(const ScanTree &) = delete;

    const QString &directory() const { return m_directory; }
    // The directory as its files' paths begin: without a trailing "/", as a listing names them.
    static QString rootPath(const QString &directory);
    // A name never sent while the file keeps it: hidden, or a temporary name ("*.part",
    // "*.tmp", "*.crdownload", "*.partial", "~$*"); the file goes once renamed to its own.
    static bool isTemporaryName(const QByteArray &name);
    // Counts a walk; every so many timed walks (not those that events brought on) the names of the
    // whole tree are listed again, in case an event was missed, and the sent files are to be
    // checked. True for such a walk.
    bool beginWalk(bool timed);
    // How long a file must stay unchanged before it is handed over (the settle time).
    void setSettleTime(qint64 ms) { m_settleMs = ms; }
    quint64 walks() const { return m_walks; }
    // Finds the rule's directory: Replaced when another directory now has its path, and the tree
    // starts afresh.
    RootState placeRoot();
    ScanNode &root() { return *m_root; }
    // Every directory is listed in full at its next visit (events were lost).
    void relistEverything();
    // Directories not entered, wherever they lie in the tree: other rules' directories, whose
    // files are theirs (a rule inside another, from a rules file of an older version).
    void setExcluded(const QSet<DirectoryId> &directories);
    // The directory's last listing found something.
    bool hasContent() const;
    // The file is looked at again as a new one (a worker gave it back, or it waited to be offered
    // again after failedRounds rounds of attempts).
    void reoffer(const FileKey &key, int failedRounds);

    void visit(ScanNode &node, Visit &visit);
    // The keys of files of the node, by name (the visit's fresh names, or its known files that
    // changed).
    static QVector<FileKey> keysOf(const ScanNode &node, const QVector<QByteArray> &names);
    // Weighs the visit's fresh names by what the bookkeeping said of their keys.
    void settleFresh(
        ScanNode &node, Visit &visit, const QVector<FileKey> &keys, const QVector<bool> &known);

    // Whether the file of a sent key is gone: by the tree where it lists the key's directory, by a
    // stat elsewhere.
    bool isGone(const FileKey &key) const;
    // Keys of known files that walks no longer found, for the purge.
    QVector<FileKey> &forgetting() { return m_forgetting; }

    static void setState(
        ScanNode &node, const QByteArray &name, ScanEntry &entry, ScanEntry::State state);
    // Whether the row that says why this version of the file cannot be sent is still to be given;
    // it is given once.
    static bool takeRefusalRow(ScanEntry &entry);

private:
    void list(ScanNode &node, DIR *dir, Visit &visit);
    bool listingChanged(ScanNode &node);
    void lookAt(ScanNode &node, int dirFd, const QByteArray &name, Visit &visit);
    void seeFile(ScanNode &node, const QByteArray &name, const FileIdentity &seen,
        quint64 entryInode, bool viaLink, const EntryNews &news, Visit &visit);
    // An entry that can never be sent as it is (a FIFO, a device, a directory whose name cannot
    // be read): kept, so that its row is given once.
    void seeUnsendable(ScanNode &node, const QByteArray &name, const FileIdentity &seen,
        const QString &reason, Visit &visit);
    void refuse(ScanNode &node, const QByteArray &name, ScanEntry &entry, const QString &filePath,
        const QString &reason, Visit &visit);
    ScanNode::Files::iterator entryOf(const FileKey &key, ScanNode **node) const;
    void weigh(ScanNode &node, const QByteArray &name, ScanEntry &entry, const QString &knownPath,
        Visit &visit);
    bool isSettled(const ScanEntry &entry) const;
    bool takeAsListed(ScanNode &node, const QByteArray &name, quint64 entryInode);
    void ensureChild(ScanNode &node, const QByteArray &name, const FileIdentity &seen);
    std::unique_ptr<ScanNode> newNode(
        const QString &path, const QByteArray &nativePath, const FileIdentity &seen);
    void dropName(ScanNode &node, const QByteArray &name);
    void dropFile(ScanNode &node, const QByteArray &name);
    void dropChild(ScanNode &node, const QByteArray &name);
    void dropTree(ScanNode &node, bool forgetKnown);
    void dropExcluded(ScanNode &node);

    QString m_directory;
    DirectoryWatch &m_watch;
    std::unique_ptr<ScanNode> m_root;
    QHash<QString, ScanNode *> m_nodes; // by path
    quint64 m_walks = 0;
    quint64 m_timedWalks = 0;
    qint64 m_settleMs = 0;
    QVector<FileKey> m_forgetting;
    QSet<DirectoryId> m_excluded;
};
