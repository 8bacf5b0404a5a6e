#pragma once

#include "model/FileIdentity.h"

#include <QHash>
#include <QMutex>
#include <QObject>
#include <QWaitCondition>
#include <atomic>

class QFileInfo;
struct _FINDFILEINFO;
struct _SENDPATH_LISTDATA;

// Walks the directories of all send rules, over and over, inside the scanner thread, and hands
// every new, readable, non-empty file over once. A file is new while its key (path followed by
// creation time) is in neither the rule's sentFiles nor its pendingFiles; a handed-over file goes
// into pendingFiles before it leaves. See Controller.h for who owns the records.
//
// The walk ends when a rule's stopFlag is set or when cancel() is called; both are noticed
// before the next directory or file entry, and cancel() also cuts a pause short.
class DirectoryTraversal : public QObject
{
    Q_OBJECT

public:
    explicit DirectoryTraversal(QObject *parent = nullptr);
    ~DirectoryTraversal() override;

    // Walks one directory level and its subdirectories; 1 when the level was walked, 0 when the
    // directory does not exist or the walk was cut short by a stop.
    int findFile(const QString &dir, _SENDPATH_LISTDATA *rule);
    // Hands one file over.
    void work(_FINDFILEINFO *file, _SENDPATH_LISTDATA *rule);
    // Thread-safe: ends the scan at the next entry, whatever the rules' stop flags say.
    void cancel();

public slots:
    // The scan loop; returns when sending is stopped or there are no send rules.
    void checkSendPath();

signals:
    void insertItem(_FINDFILEINFO *file, _SENDPATH_LISTDATA *rule);

private:
    bool scanRule(_SENDPATH_LISTDATA *rule);
    bool enterDirectory(const QString &dir, const QFileInfo &entry, _SENDPATH_LISTDATA *rule);
    bool offerFile(const QFileInfo &entry, _SENDPATH_LISTDATA *rule);
    bool isStable(const _FINDFILEINFO &file);
    bool isKnown(_SENDPATH_LISTDATA *rule, const QString &fileKey) const;
    bool addPending(_SENDPATH_LISTDATA *rule, _FINDFILEINFO *file) const;
    void purgeSentFiles(_SENDPATH_LISTDATA *rule) const;
    bool isStopped(const _SENDPATH_LISTDATA *rule) const;
    void pause(int ms);

    QHash<QString, FileIdentity> m_observed; // candidates by path, as last seen
    std::atomic<bool> m_cancelled { false };
    QMutex m_pauseMutex;
    QWaitCondition m_wake;
};
