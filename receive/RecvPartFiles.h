#pragma once

#include <QByteArray>
#include <QString>

// The named part files a transfer writes into where the file system cannot hold an unnamed file
// (RecvContentFile). Their names hold a byte that is never valid UTF-8, and a relative path from
// the wire must be valid UTF-8: no delivered file can ever bear such a name, so removing one never
// removes a file that was delivered. A transfer holds a lock (flock) on its part file for as long
// as it runs, and the kernel drops the lock with the process: a part file that no process holds
// was left by a process that ended mid-file, and the sweep removes it.
class RecvPartFiles
{
public:
    // The part name for a tag; each transfer draws a random one.
    static QByteArray partName(quint64 tag);
    static bool isPartName(const QByteArray &name);

    // Creates a new part file in the directory, open for reading and writing and locked where the
    // file system has locks; returns its descriptor and name, or -1 with errno set. dirPath names
    // the directory in log lines.
    static int createLocked(int dirFd, const QString &dirPath, QByteArray *name);

    // Removes the named part file of the directory if no process holds it (one log line); true
    // when it was removed. Where the lock cannot be taken at all, nothing is removed.
    static bool removeIfStale(int dirFd, const QString &dirPath, const QByteArray &name);

    // Removes every stale part file below a receive directory, without following links; returns
    // how many. A directory whose file system holds unnamed files has none to remove.
    static int sweepNow(const QString &recvDir);
    // sweepNow() in a thread of its own: a directory on a mount that hangs holds only that thread.
    static void sweep(const QString &recvDir);
    // sweep() over the directory of every listed receive rule.
    static void sweepRules();
};
