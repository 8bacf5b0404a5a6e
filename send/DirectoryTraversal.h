#pragma once

#include "send/DirectoryWatch.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QSet>
#include <QString>
#include <QVector>
#include <atomic>
#include <memory>
#include <unordered_map>

class QDeadlineTimer;
struct ScanEntry;
struct UnsendableFile;
struct ScanNode;
class ScanTree;
struct _FINDFILEINFO;
struct _SENDPATH_LISTDATA;

// Walks the directories of all send rules, over and over, inside the scanner thread, and hands
// every new, readable, non-empty file over once, when its writer is done: no program holds it open
// for writing and it has not changed for the settle time, or it was renamed into the directory
// whole. A file is new while its key (path, birth time, inode) is in none of the rule's
// sentFiles, pendingFiles and held files; a handed-over file goes into pendingFiles before it
// leaves. See Controller.h for who owns the records.
//
// What a walk costs follows what changed, not what exists: each rule's tree is kept as it was
// last seen (ScanTree) and inotify tells which entries changed; files already known cost nothing.
// Passes follow each other every half second, and at once when events come in, so that a file
// renamed into a send directory is on its way within milliseconds.
//
// Hand-overs are paced by the pool that runs the workers (SendSlots): a file is handed over while
// fewer files are in flight than the pool can run; when it is full, the stable files wait in
// offering order and are handed over as workers end, instead of after a fixed pause.
//
// The walk ends when a rule's stopFlag is set or when cancel() is called; both are noticed before
// the next directory or file entry, and cancel() also cuts a pause short.
class DirectoryTraversal : public QObject
{
    Q_OBJECT

public:
    explicit DirectoryTraversal(QObject *parent = nullptr);
    ~DirectoryTraversal() override;

    // One walk of a rule's directory and its subdirectories, ending with the rule's purge; 1 when
    // the directory was walked, 0 when it does not exist or the walk was cut short by a stop.
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
    // A file that stays where it is, and why (UnsendableReason); given once per version.
    void unsendable(
        _SENDPATH_LISTDATA *rule, const QString &filePath, qint64 size, const QString &reason);

private:
    struct RuleScan;
    // A stable file waiting for a free place in the pool.
    struct Queued {
        _SENDPATH_LISTDATA *rule;
        ScanNode *node;
        QByteArray name;
        QString filePath;
    };

    bool scanRule(_SENDPATH_LISTDATA *rule);
    void forgetRemovedRules(const QList<_SENDPATH_LISTDATA *> &rules);
    void placeRuleDirectories(const QList<_SENDPATH_LISTDATA *> &rules);
    void noteShadowed(_SENDPATH_LISTDATA *rule, const QString &dir);
    RuleScan &ruleScan(_SENDPATH_LISTDATA *rule, const QString &dir);
    void readEvents();
    void takeReoffered(ScanTree &tree, _SENDPATH_LISTDATA *rule);
    bool walk(ScanNode &node, ScanTree &tree, _SENDPATH_LISTDATA *rule);
    bool handOver(
        _SENDPATH_LISTDATA *rule, ScanNode &node, const QByteArray &name, const QString &filePath);
    bool deliver(
        _SENDPATH_LISTDATA *rule, ScanNode &node, const QByteArray &name, const QString &filePath);
    bool isWriterDone(_SENDPATH_LISTDATA *rule, ScanNode &node, const QByteArray &name,
        ScanEntry &entry, const QString &filePath, const QByteArray &nativePath);
    void tellUnsendable(_SENDPATH_LISTDATA *rule, const UnsendableFile &file);
    void handOverQueued();
    bool waitForNextPass(const QDeadlineTimer &soonest);
    void purge(RuleScan &scan, _SENDPATH_LISTDATA *rule);
    void startSweep(RuleScan &scan, _SENDPATH_LISTDATA *rule);
    bool isStopped(const _SENDPATH_LISTDATA *rule) const;

    DirectoryWatch m_watch; // outlives the trees, which unwatch their directories
    std::unordered_map<_SENDPATH_LISTDATA *, std::unique_ptr<RuleScan>> m_rules;
    QList<Queued> m_queued; // in offering order; taken from the front, thousands at times
    QSet<QPair<quint64, quint64>> m_ruleDirectories; // of all rules, by device and inode
    QSet<_SENDPATH_LISTDATA *> m_shadowed; // rules whose directory an earlier rule has
    QSet<_SENDPATH_LISTDATA *> m_shadowReported;
    std::atomic<bool> m_cancelled { false };
    bool m_timedPass = true; // the pass began when the pause ran out, not on events
    qint64 m_lastPassMs = 0; // how long the last whole pass took
};
