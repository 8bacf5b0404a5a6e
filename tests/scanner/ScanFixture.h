#pragma once

// A send rule over a fresh directory, and the few file operations the scanner tests need.

#include "model/GlobalData.h"
#include "thread/Controller.h"
#include "thread/DirectoryTraversal.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSet>
#include <QTemporaryDir>

struct ScanFixture {
    QTemporaryDir dir;
    _SENDPATH_LISTDATA rule;
    QList<_FINDFILEINFO *> handed;

    ScanFixture() { rule.SendPath = dir.path(); }

    ~ScanFixture()
    {
        // Records set aside by a stop may belong to this rule: sort them out while it exists.
        Controller::releaseRetiredFiles();
        QMutexLocker lock(&sendTaskMutex);
        QSet<_FINDFILEINFO *> records;
        for (_FINDFILEINFO *file : qAsConst(rule.pendingFiles))
            records.insert(file);
        for (_FINDFILEINFO *file : qAsConst(rule.sentFiles))
            records.insert(file);
        qDeleteAll(records);
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
    void collect(DirectoryTraversal &traversal)
    {
        QObject::connect(&traversal, &DirectoryTraversal::insertItem,
            [this](_FINDFILEINFO *file, _SENDPATH_LISTDATA *) { handed.append(file); });
    }

    // Two walks of the rule's directory: a file is handed over once two consecutive walks found
    // it unchanged. Returns the second walk's result.
    int walkTwice(DirectoryTraversal &traversal)
    {
        traversal.findFile(rule.SendPath, &rule);
        return traversal.findFile(rule.SendPath, &rule);
    }

    // What a sending worker does with a file it has sent.
    void finishSending(_FINDFILEINFO *file)
    {
        QMutexLocker lock(&sendTaskMutex);
        rule.sentFiles.insert(file->fileKey(), file);
        rule.pendingFiles.remove(file->fileKey());
    }

    // Deletes the file and writes it again; true once the new file's creation time, which is kept
    // to the second, differs from the old one's. Meant to be retried until it does.
    bool recreate(const QString &relative, int size, const QString &oldCreatedTime) const
    {
        QFile::remove(path(relative));
        const QFileInfo file(write(relative, size));
        return file.birthTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) != oldCreatedTime;
    }

    QStringList handedPaths() const
    {
        QStringList paths;
        for (const _FINDFILEINFO *file : handed)
            paths << file->filePath;
        return paths;
    }
};
