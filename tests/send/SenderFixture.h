#pragma once

// One send rule with its gap record, registered for the duration of a test, files in its send
// directory handed over as the scanner does, and the rows a worker publishes.

#include "model/GlobalData.h"
#include "model/TransferStateInfo.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

class QThreadPool;
class SendWorkThread;

class SenderFixture
{
public:
    // The send directory is created below root. The rule sends "docs" from alice to bob through
    // the gap at 127.0.0.1.
    explicit SenderFixture(const QString &root);
    ~SenderFixture();

    // Writes the file and records it in pendingFiles, as the scanner hands a file over.
    _FINDFILEINFO *addFile(const QString &name, const QByteArray &content);
    // Records a file already in the send directory.
    _FINDFILEINFO *handOver(const QString &name);
    QString pathOf(const QString &name) const;
    // Collects what the worker publishes (queued when it runs in another thread).
    void watch(SendWorkThread *worker);
    // Starts a worker for the file on the pool, watched.
    void startWorker(_FINDFILEINFO *file, QThreadPool &pool);
    // Whether some row showed this status.
    bool hasShown(const QString &status) const;

    bool isPending(const _FINDFILEINFO *file) const;
    bool isSent(const _FINDFILEINFO *file) const;

    _VKGAPIP_CONF gap;
    _SENDPATH_LISTDATA rule;
    QList<TransferStateInfo> rows;

private:
    QString m_dir;
    QObject m_context; // receives the rows in the test thread
    QList<_FINDFILEINFO *> m_files;
};

// Content that shows a misplaced or lost byte: no two neighbouring payloads alike.
QByteArray patternedContent(qint64 size, int seed = 1);
