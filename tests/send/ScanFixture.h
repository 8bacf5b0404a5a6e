#pragma once

// A send rule over a fresh directory, and the few file operations the scanner tests need.

#include "model/GlobalData.h"
#include "send/Controller.h"
#include "send/DirectoryTraversal.h"
#include "send/SendSlots.h"
#include "send/SentFileStore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSet>
#include <QTemporaryDir>

// Frees the records a rule's bookkeeping holds.
inline void freeRecords(_SENDPATH_LISTDATA &rule)
{
    QMutexLocker lock(&sendTaskMutex);
    QSet<_FINDFILEINFO *> records;
    for (_FINDFILEINFO *file : qAsConst(rule.pendingFiles))
        records.insert(file);
    for (_FINDFILEINFO *file : qAsConst(rule.sentFiles))
        records.insert(file);
    qDeleteAll(records);
}

struct ScanFixture {
    // Another rule record over a directory, as after a restart of the client or a change of the
    // rule.
    struct Restarted {
        explicit Restarted(const QString &directory) { rule.SendPath = directory; }
        ~Restarted() { freeRecords(rule); }
        _SENDPATH_LISTDATA rule;
    };

    QTemporaryDir dir;
    QTemporaryDir storeDir;
    _SENDPATH_LISTDATA rule;
    QList<_FINDFILEINFO *> handed;
    QList<QPair<QString, QString>> unsendable; // rows of files that stay: path and reason

    ScanFixture()
    {
        rule.SendPath = dir.path();
        SentFileStore::instance().setLocation(storeDir.filePath(QStringLiteral("sentfiles.db")));
        SendSlots::reset();
        // A file whose writer has closed it is handed over at the next walk, unless a test
        // waits for a settle time.
        g_sysbaseconf.settleSeconds = 0;
    }

    ~ScanFixture()
    {
        // Records set aside by a stop may belong to this rule: sort them out while it exists.
        Controller::releaseRetiredFiles();
        freeRecords(rule);
        g_sysbaseconf.settleSeconds = 2;
    }

    QString path(const QString &relative) const { return dir.filePath(relative); }

    // Writes a file of the given size under the rule's directory; returns its path.
    QString write(const QString &relative, int size) const
    {
        const QString filePath = path(relative);
        QDir().mkpath(QFileInfo(filePath).path());
        QFile file(filePath);
        if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray(size, 'x')) != size)
            return QString();
        return filePath;
    }

    // Collects what the traversal hands over; the connection is direct, in the emitting thread.
    // Each file's worker is taken to end at once.
    void collect(DirectoryTraversal &traversal)
    {
        QObject::connect(&traversal, &DirectoryTraversal::insertItem,
            [this](_FINDFILEINFO *file, _SENDPATH_LISTDATA *) {
                handed.append(file);
                SendSlots::giveBack();
            });
        QObject::connect(&traversal, &DirectoryTraversal::unsendable,
            [this](_SENDPATH_LISTDATA *, const QString &filePath, qint64, const QString &reason) {
                unsendable.append({ filePath, reason });
            });
    }

    int walk(DirectoryTraversal &traversal) { return traversal.findFile(rule.SendPath, &rule); }

    // Two walks of the rule's directory: the first notes what changed, the second finds what a
    // worker gave back by then. Returns the second walk's result.
    int walkTwice(DirectoryTraversal &traversal)
    {
        walk(traversal);
        return walk(traversal);
    }

    // What a sending worker does with a file it has sent.
    void finishSending(_FINDFILEINFO *file)
    {
        QMutexLocker lock(&sendTaskMutex);
        rule.sentFiles.insert(file->fileKey(), file);
        rule.pendingFiles.remove(file->fileKey());
    }

    bool isSent(const QString &filePath) const
    {
        QMutexLocker lock(&sendTaskMutex);
        for (const _FINDFILEINFO *file : qAsConst(rule.sentFiles)) {
            if (file->filePath == filePath)
                return true;
        }
        return false;
    }

    QStringList handedPaths() const
    {
        QStringList paths;
        for (const _FINDFILEINFO *file : handed)
            paths << file->filePath;
        return paths;
    }
};
