#pragma once

#include "model/FileKey.h"
#include "thread/DirectoryWatch.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QVector>
#include <array>
#include <atomic>
#include <climits>
#include <memory>
#include <unordered_map>

struct FileIdentity;
struct ScanEntry;
struct ScanNode;
struct _FINDFILEINFO;
struct _SENDPATH_LISTDATA;

// Walks the directories of all send rules, over and over, inside the scanner thread, and hands
// every new, readable, non-empty file over once, when two consecutive walks found the same size
// and modification time. A file is new while its key (path, birth time, inode) is in neither the
// rule's sentFiles nor its pendingFiles; a handed-over file goes into pendingFiles before it
// leaves. See Controller.h for who owns the records.
//
// What a walk costs follows what changed, not what exists: the scanner keeps each rule's tree as
// it last saw it and learns from inotify which entries changed. A walk lists a directory in full
// only the first time, after events were lost, now and then as a safety net, and every time for a
// directory that cannot be watched (the system's limit of watches reached, or a network file
// system, where changes made elsewhere raise no event). Otherwise it looks only at the entries
// that changed and at the candidates still waiting to become stable, one stat each; files already
// known cost nothing.
//
// Hand-overs are paced by the pool that runs the workers (SendSlots): a file is handed over while
// fewer files are in flight than the pool can run; when it is full, the stable files wait in
// offering order and the scanner hands them over as workers end, instead of pausing.
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

private:
    struct RuleScan;
    struct Visit;
    // A stable file waiting for a free place in the pool.
    struct Queued {
        _SENDPATH_LISTDATA *rule;
        ScanNode *node;
        QByteArray name;
        QString filePath;
    };

    bool scanRule(_SENDPATH_LISTDATA *rule);
    void forgetRemovedRules(const QList<_SENDPATH_LISTDATA *> &rules);
    RuleScan &ruleScan(_SENDPATH_LISTDATA *rule, const QString &dir);
    bool placeRoot(RuleScan &scan, _SENDPATH_LISTDATA *rule);
    void readEvents();
    void onEvent(int watch, DirectoryWatch::Subject subject, const QByteArray &name);
    void relistAll();
    void takeReoffered(RuleScan &scan, _SENDPATH_LISTDATA *rule);

    bool walk(ScanNode &node, RuleScan &scan, _SENDPATH_LISTDATA *rule);
    void listAll(ScanNode &node, RuleScan &scan, Visit &visit);
    void lookAt(ScanNode &node, const QByteArray &name, unsigned char typeHint, RuleScan &scan,
        Visit &visit);
    void seeFile(ScanNode &node, const QByteArray &name, const FileIdentity &seen, bool viaLink,
        RuleScan &scan, Visit &visit);
    void weigh(ScanNode &node, const QByteArray &name, ScanEntry &entry, const FileIdentity &last,
        quint64 lastWalk, const QString &knownPath, RuleScan &scan, Visit &visit);
    void lookUp(ScanNode &node, _SENDPATH_LISTDATA *rule, RuleScan &scan, Visit &visit);
    bool handOverReady(ScanNode &node, _SENDPATH_LISTDATA *rule, Visit &visit);
    bool deliver(
        _SENDPATH_LISTDATA *rule, ScanNode &node, const QByteArray &name, const QString &filePath);
    void handOverQueued();
    void waitForNextPass();

    void ensureChild(
        ScanNode &node, const QByteArray &name, const FileIdentity &seen, RuleScan &scan);
    std::unique_ptr<ScanNode> newNode(const QString &path, const FileIdentity &seen);
    void dropName(ScanNode &node, const QByteArray &name, RuleScan &scan);
    void dropFile(ScanNode &node, const QByteArray &name, RuleScan &scan);
    void dropChild(ScanNode &node, const QByteArray &name, RuleScan &scan);
    void dropTree(ScanNode &node, RuleScan &scan, bool forgetKnown);
    void watch(ScanNode &node, bool followLink);

    void purge(RuleScan &scan, _SENDPATH_LISTDATA *rule);
    void startSweep(RuleScan &scan, _SENDPATH_LISTDATA *rule);
    const char *entryPath(const ScanNode &node, const QByteArray &name);
    bool isStopped(const _SENDPATH_LISTDATA *rule) const;

    std::unordered_map<_SENDPATH_LISTDATA *, std::unique_ptr<RuleScan>> m_rules;
    DirectoryWatch m_watch;
    QHash<int, ScanNode *> m_watched;
    QVector<Queued> m_queued; // in offering order
    std::array<char, PATH_MAX> m_entryPath; // reused for every entry's path
    std::atomic<bool> m_cancelled { false };
};
