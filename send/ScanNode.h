#pragma once

#include "model/FileIdentity.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <memory>
#include <vector>

// What the events since the last visit say of a name's writers: -1 nothing, else the news.
struct EntryNews {
    qint8 writeOpen = -1; // created or written to (1), the last writer closed it (0)
    qint8 movedIn = -1; // renamed into the directory (1), written to since (0)
};

// One file of a send directory as the scanner last saw it.
struct ScanEntry {
    enum State : quint8 {
        Fresh, // not yet looked up in the rule's bookkeeping
        Waiting, // a candidate: looked at every walk until its writer is done
        Known, // pending, sent or stopped: nothing to do until it changes
        Empty, // nothing to send yet
        Unreadable, // could not be opened
        Refused, // cannot be sent as it is: its path is too long, its name or its type unsendable
    };

    FileIdentity seen; // the last look (through a link: the target's)
    quint64 entryInode = 0; // the inode a listing names for the entry (a link's own)
    quint64 seenWalk = 0; // the walk of the last look
    qint64 stableSinceMs = 0; // monotonic: when the version seen was first seen
    bool writeOpen = false; // the events say that a writer has it open
    bool movedIn = false; // renamed into the directory whole, not written to since
    bool refusalShown = false; // the row that says why this version cannot be sent was given
    quint32 listing = 0; // the last listing of its directory that found it
    int failedRounds = 0; // of the attempts to send it, when it is offered again
    bool offeredAgain = false;
    State state = Fresh;
    bool viaLink = false; // a link to a file: its target changes without an event here
};

// One directory of a send rule's tree as the scanner last saw it. Only the scanner's thread
// touches it.
struct ScanNode {
    // What the next visit lists: nothing (the events tell what changed), the names (entries whose
    // inode is unchanged are taken as they were), or everything (each entry looked at).
    enum Relist : quint8 { None, Names, Everything };

    struct Child {
        QString name;
        QByteArray nativeName;
        quint32 listing = 0;
        std::unique_ptr<ScanNode> node;
    };

    QString path; // as files are named: the rule's directory joined with the relative path
    QByteArray nativePath;
    quint64 device = 0; // of the directory itself, to tell one created anew under the same name
    quint64 inode = 0;
    qint64 modifiedNs = 0; // of the directory at its last listing, for an unwatched one
    int watch = -1; // inotify watch, -1 when the directory is not watched
    bool remote = false; // on a network file system, whose changes elsewhere raise no events
    Relist relist = Everything;
    quint32 listing = 0; // count of listings
    std::vector<Child> children; // sorted by name, as they are walked
    using Files = QHash<QByteArray, ScanEntry>;

    Files files; // by native name
    QHash<QByteArray, EntryNews> dirty; // names the events reported since the last visit
    QSet<QByteArray> polled; // names looked at in every visit whatever the events say
};
