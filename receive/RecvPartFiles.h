#pragma once

#include <QByteArray>
#include <QString>

// The hidden part files under which received content is written until its digest matched. A
// transfer holds a lock (flock) on its part file for as long as it runs, and the kernel drops the
// lock with the process: a part file that no process holds was left by a process that ended
// mid-file, and is removed, at start, when a receive rule is added, and when its name is needed.
class RecvPartFiles
{
public:
    // The attempt-th part name (attempt from 1).
    static QByteArray partName(int attempt);
    static bool isPartName(const QByteArray &name);

    // Creates a new part file in the directory, locked, open for reading and writing; returns its
    // descriptor and name, or -1 with errno set. A name held by a stale part file is reclaimed,
    // one that a running transfer holds is passed over. dirPath names the directory in log lines.
    static int createLocked(int dirFd, const QString &dirPath, QByteArray *name);

    // Removes the named part file of the directory if no process holds it (one log line); true
    // when it was removed.
    static bool removeIfStale(int dirFd, const QString &dirPath, const QByteArray &name);

    // Removes every stale part file below a receive directory, without following links; returns
    // how many.
    static int sweep(const QString &recvDir);
    // sweep() over the directory of every listed receive rule.
    static int sweepRules();
};
