#pragma once

// The client's shared working state: the records of gaps and rules, the settings flags, the three
// process-wide registries and the mutexes that guard them.
//
// Locking, as this codebase does it:
// - Each registry (g_GapInfoList, g_SendPathList, g_RecvPathList) carries its own lock. Writers
//   (the GUI thread) and walkers (every other thread) go through it: a walker takes a snapshot()
//   (an implicitly shared copy of the pointer list, O(1)) and walks that without any lock held.
//   Records are never freed while listed, and stay allocated once unlisted, so a pointer from a
//   snapshot stays valid.
// - Flags and counters that several threads touch are std::atomic, so that accesses the design
//   makes "without a lock" are still race-free.
// - QString/QList fields of a record are guarded by the mutex named beside them. g_Mutex guards
//   the path arrays (sendPaths, recvPaths) and their counts' meaning: read them under g_Mutex.
// - No lock is held across a network wait, a sleep or a signal emission.
// - Lock order where two are nested: statusMutex before sendTaskMutex; g_Mutex is never nested.

#include "model/FileIdentity.h"
#include "model/FileKey.h"

#include <QFile>
#include <QList>
#include <QMap>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QPair>
#include <QSet>
#include <QString>

#include <atomic>
#include <cstring>
#include <memory>

constexpr int kHostIPSize = 46;     // longest IPv6 text plus terminator
constexpr int kUserNameSize = 20;   // 19 characters plus terminator
constexpr int kPathIDSize = 40;     // rule key
constexpr int kMaxPathsPerGap = 100;

struct _GAP_SEND_PATH {
    QString pathID;
    QString toUser;
    qint32 level = 0;
};

struct _GAP_RECV_PATH {
    QString pathID;
    QString fromUser;
};

// One gap the user is logged in to.
struct _VKGAPIP_CONF {
    char HostIP[kHostIPSize] = {};
    char LoginUserName[kUserNameSize] = {};
    char LoginPswd[kUserNameSize] = {};   // clear text; scrambled only when stored or sent
    std::atomic<qint32> sendPathCount{0};
    std::atomic<qint32> recvPathCount{0};
    std::atomic<qint32> rightLevel{0};
    std::atomic<qint32> connectTime{0};
    std::atomic<qint32> heartOk{0};
    std::atomic<qint32> connState{0};    // -1 connecting, 0 not connected or refused, 1 connected
    std::atomic<qint32> busyCount{0};
    std::atomic<qint32> sendFileNum{0};
    std::atomic<qint32> recvFileNum{0};
    std::atomic<bool> isLogin{false};
    std::atomic<bool> hasSendPath{false};
    std::atomic<bool> confGetted{false};
    std::atomic<bool> restart{false};
    std::atomic<qint64> sendBytes{0};
    std::atomic<qint64> recvBytes{0};
    // Grows each time the gap answers a heartbeat; files given up while the gap could not be
    // reached are offered again once it (or sendFileNum) has moved. Never reset.
    std::atomic<quint32> heartbeatAnswers{0};
    QString localIP;                      // written by the login in the GUI thread
    QString hostIPStr;                    // set at creation, read-only afterwards
    _GAP_SEND_PATH sendPaths[kMaxPathsPerGap];   // g_Mutex
    _GAP_RECV_PATH recvPaths[kMaxPathsPerGap];   // g_Mutex
    QList<QString> refusedSuffixes;       // sendTaskMutex
    QList<QString> flaggedDigests;        // sendTaskMutex

    // Zeroes every counter, flag and state field from sendPathCount to recvBytes.
    void resetState();
};

// One file found by the scanner.
struct _FINDFILEINFO {
    QString filePath; // as shown and sent: the name's bytes as UTF-8, or decoded from GB18030
    QByteArray nativePath; // the name's bytes, for every file operation; empty: filePath encoded
    QString suffix;
    QString createdTime;
    qint64 size = 0;
    FileIdentity identity; // as the scanner saw the file
    int failedRounds = 0; // rounds of attempts that ended without delivery before this offer
    bool offeredAgain = false; // handed over before: given back, waited after a round, or stopped
    // Shared by the bookkeeping's record and the worker's copy: set to stop this file's transfer
    // (the user's stop of the file, or of sending). Null until the file is handed over.
    std::shared_ptr<std::atomic<bool>> cancelled;

    FileKey fileKey() const { return { filePath, identity.bornNs, identity.inode }; }
    QByteArray pathBytes() const
    {
        return nativePath.isEmpty() ? QFile::encodeName(filePath) : nativePath;
    }
};

// A pending file whose last round of attempts failed, until it is offered again.
struct _SEND_RETRY {
    qint64 dueMs = 0; // monotonic (QDeadlineTimer's clock); 0: offered at the next pass
    quint32 gapMark = 0; // its gap's reach mark when it was given up
    bool onGapReturn = false; // offered as soon as the gap has been reached since
    int failedRounds = 0;
};

// One send rule: a local directory whose files go through one gap to one receiving user.
// A change of the rule rewrites the record in place, so that its bookkeeping stays with it: the
// fields marked "edit" are written by the GUI thread under sendTaskMutex once the record is
// listed, and other threads read them under sendTaskMutex (the GUI thread reads them freely).
struct _SENDPATH_LISTDATA {
    char SendPathID[kPathIDSize] = {};    // edit
    char GapIP[kHostIPSize] = {};         // edit
    char ToUser[kUserNameSize] = {};      // edit
    char FromUser[kUserNameSize] = {};    // edit
    std::atomic<qint32> RecviverLevel{0};
    // 0 sending, 1 fault, 2 searching, 3 gap unreachable, 4 send directory missing, 5 send
    // directory unavailable (its mount has gone)
    std::atomic<qint32> sendState{0};
    std::atomic<bool> stopFlag{false};
    std::atomic<bool> scanStarted{false};
    QString SendPath;                                    // edit
    QString statusText = QStringLiteral("发送未启动");   // statusMutex
    _VKGAPIP_CONF *gapConf = nullptr;                    // edit
    QHash<FileKey, _FINDFILEINFO *> sentFiles;           // sendTaskMutex
    QMap<FileKey, _FINDFILEINFO *> pendingFiles;         // sendTaskMutex
    // Pending files whose last round failed, until they are offered again (SendLedger::awaitRetry).
    QHash<FileKey, _SEND_RETRY> waiting;                 // sendTaskMutex
    // Files the user stopped (or refused files that could not be removed): not offered again
    // until they change or the user asks for them (SendLedger::cancel, retryNow). Forgotten once
    // gone.
    QSet<FileKey> held;                                  // sendTaskMutex
    // Files for a later pass to look at again, with the rounds that failed for them so far
    // (SendLedger::release, awaitRetry, retryNow).
    QList<QPair<FileKey, int>> reoffered;                // sendTaskMutex
};

// One receive rule: a local directory that files of one rule key from one gap are written into.
struct _RECVPATH_LISTDATA {
    QString RecvPath;
    QString statusText;                   // statusMutex
    std::atomic<qint32> useCount{0};      // changed under recvWorkMutex
    char RecvPathID[kPathIDSize] = {};
    char GapIP[kHostIPSize] = {};
    char FromUser[kUserNameSize] = {};
};

struct _SYS_BASE_CONF {
    std::atomic<bool> ifDelSendFile{false};   // true keeps sent files
    std::atomic<bool> isForceVisit{false};
    std::atomic<bool> keyFlag{false};
    std::atomic<bool> ifFullScreen{false};
    // How long a file must stay unchanged before it is sent (a file renamed in whole goes at once).
    std::atomic<int> settleSeconds{2};
};

// A registry: a list of heap records whose changes are safe against concurrent walks.
//
// A change never writes into the list a walker may still hold: it builds the new list and swaps it
// in. Qt decides whether a list is shared with a relaxed read of its reference count, so a change
// in place after the last walker let go would not be ordered after that walker's reads.
template <typename T>
class Registry
{
public:
    QList<T *> snapshot() const
    {
        QMutexLocker lock(&m_mutex);
        return m_list;
    }
    void append(T *record)
    {
        change([record](QList<T *> &list) { list.append(record); });
    }
    // Unlists a record; the record itself stays allocated.
    bool removeOne(T *record)
    {
        bool removed = false;
        change([record, &removed](QList<T *> &list) { removed = list.removeOne(record); });
        return removed;
    }
    void removeAt(int index)
    {
        change([index](QList<T *> &list) {
            if (index >= 0 && index < list.size())
                list.removeAt(index);
        });
    }
    void replace(int index, T *record)
    {
        change([index, record](QList<T *> &list) {
            if (index >= 0 && index < list.size())
                list[index] = record;
        });
    }
    T *value(int index) const
    {
        QMutexLocker lock(&m_mutex);
        return m_list.value(index, nullptr);
    }
    T *first() const { return value(0); }
    int size() const
    {
        QMutexLocker lock(&m_mutex);
        return m_list.size();
    }
    bool isEmpty() const { return size() == 0; }
    int indexOf(T *record) const
    {
        QMutexLocker lock(&m_mutex);
        return m_list.indexOf(record);
    }
    void clear()
    {
        QMutexLocker lock(&m_mutex);
        m_list = QList<T *>();
    }

private:
    template <typename Change>
    void change(Change apply)
    {
        QMutexLocker lock(&m_mutex);
        QList<T *> next(m_list);
        next.detach();
        apply(next);
        m_list.swap(next);
    }

    mutable QMutex m_mutex;
    QList<T *> m_list;
};

extern Registry<_VKGAPIP_CONF> g_GapInfoList;
extern Registry<_SENDPATH_LISTDATA> g_SendPathList;
extern Registry<_RECVPATH_LISTDATA> g_RecvPathList;
extern _SYS_BASE_CONF g_sysbaseconf;

extern QMutex g_Mutex;
extern QMutex g_MainMutex;
extern QMutex g_SockMutex;
extern QMutex sendTaskMutex;
extern QMutex recvWorkMutex;
extern QMutex statusMutex;

// Copies Latin-1 text into a fixed field, always leaving a terminator; returns false if cut.
bool copyToField(char *field, int fieldSize, const QByteArray &text);
