#include "views/gaps/StatusCheckout.h"

#include "gap/ControlThread.h"
#include "gap/SocketTools.h"
#include "model/BaseFunction.h"
#include "model/GlobalData.h"

#include <QTimer>
#include <QtDebug>

namespace {

const QString kNotStarted = QStringLiteral("发送未启动");
const QString kGapUnreachable = QStringLiteral("隔离器无法连接");
const QString kSending = QStringLiteral("正在发送文件");
const QString kSendFault = QStringLiteral("发送出现故障");
const QString kSearching = QStringLiteral("搜索待发送文件");
const QString kDirectoryMissing = QStringLiteral("发送目录不存在");
const QString kDirectoryUnavailable = QStringLiteral("发送目录不可用");
const QString kUnknownPath = QStringLiteral("未知发送路径 ");
const QString kReceiving = QStringLiteral("正在接收文件");
const QString kIdle = QStringLiteral("空闲");

static_assert(SocketTools::kHeartbeatAnswerMs <= StatusCheckout::kHeartbeatIntervalMs,
    "a gap that stops answering shows as interrupted within one heartbeat");

enum SendState {
    Sending = 0,
    SendFault = 1,
    Searching = 2,
    DirectoryMissing = 4,
    DirectoryUnavailable = 5 // a mount point whose mount has gone
};

const char *boolText(bool value) { return value ? "true" : "false"; }

// Whether the gap currently grants the rule's path ID. The path arrays belong to g_Mutex, which is
// never nested, so this is looked up on its own.
bool gapListsSendPath(_VKGAPIP_CONF *gap, const QString &pathID)
{
    QMutexLocker lock(&g_Mutex);
    const int count = qBound(0, gap->sendPathCount.load(), kMaxPathsPerGap);
    for (int i = 0; i < count; ++i) {
        if (gap->sendPaths[i].pathID == pathID)
            return true;
    }
    return false;
}

// Rule fields hold the gap's bytes; the gap's path IDs are decoded as UTF-8, so these are too.
QString fieldText(const char *field, int size)
{
    return QString::fromUtf8(field, int(strnlen(field, size_t(size))));
}

} // namespace

StatusCheckout::StatusCheckout(QObject *parent)
    : QObject(parent)
    , m_stateTimer(new QTimer(this))
    , m_heartTimer(new QTimer(this))
{
    connect(m_stateTimer, &QTimer::timeout, this, &StatusCheckout::onGapStateCheck);
    connect(m_heartTimer, &QTimer::timeout, this, &StatusCheckout::onGapHeartCheck);
    m_stateTimer->start(kStateIntervalMs);
    m_heartTimer->start(kHeartbeatIntervalMs);
}

void StatusCheckout::onGapStateCheck()
{
    checkGaps();
    checkSendRules();
    checkRecvRules();
}

StatusCheckout::~StatusCheckout() = default;

void StatusCheckout::onGapHeartCheck()
{
    if (m_heartbeat && m_heartbeat->isRunning())
        return;
    m_heartbeat = std::make_unique<ControlThread>([](SocketTools &tools) { tools.gapHeartBeat(); });
    m_heartbeat->start();
}

void StatusCheckout::checkGaps()
{
    const QList<_VKGAPIP_CONF *> gaps = g_GapInfoList.snapshot();
    for (_VKGAPIP_CONF *gap : gaps) {
        if (!gap)
            break;
        if (checkGap(gap))
            emit updateGapState();
    }
}

bool StatusCheckout::checkGap(_VKGAPIP_CONF *gap)
{
    QMutexLocker lock(&statusMutex);
    if (gap->connState == 1 && (gap->restart || !gap->confGetted)) {
        {
            QMutexLocker sendLock(&sendTaskMutex);
            gap->refusedSuffixes.clear();
            gap->flaggedDigests.clear();
        }
        qDebug() << "restart:" << boolText(gap->restart)
                 << "confgetted:" << boolText(gap->confGetted);
        qDebug() << "Reconnection....";
    }
    const int state = gap->connState;
    if (state == 1 && gap->confGetted) {
        ++gap->connectTime;
        if (gap->heartOk == 0)
            gap->heartOk = 1;
        return true;
    }
    if (state == 0 || state == -1) {
        // The time counts one connection: a gap that comes back starts again from zero.
        gap->connectTime = 0;
        return true;
    }
    return false;
}

void StatusCheckout::checkSendRules()
{
    const QList<_VKGAPIP_CONF *> gaps = g_GapInfoList.snapshot();
    for (_VKGAPIP_CONF *gap : gaps) {
        QMutexLocker lock(&statusMutex);
        gap->hasSendPath = false;
        gap->busyCount = 0;
    }

    const QList<_SENDPATH_LISTDATA *> rules = g_SendPathList.snapshot();
    for (int row = 0; row < rules.size() && rules.at(row); ++row) {
        _SENDPATH_LISTDATA *rule = rules.at(row);
        QString gapAddress;
        QString pathID;
        {
            // A rule is changed in place under this lock.
            QMutexLocker lock(&sendTaskMutex);
            gapAddress = fieldText(rule->GapIP, kHostIPSize);
            pathID = fieldText(rule->SendPathID, kPathIDSize);
        }
        _VKGAPIP_CONF *gap = BaseFunction::findVkgapinfo(gapAddress);
        // A rule of an unknown gap ends the pass: later rules keep last second's texts.
        if (!gap)
            return;

        const bool started = rule->scanStarted;
        if (!started) {
            emit setSendPathItemValue(row, kNotStarted);
        } else {
            const QString text = sendStateText(rule, gap);
            if (!text.isEmpty())
                emit setSendPathItemValue(row, text);
        }

        gap->hasSendPath = true;
        if (started && !gapListsSendPath(gap, pathID)) {
            {
                QMutexLocker lock(&statusMutex);
                rule->statusText = kUnknownPath;
            }
            // Sent after the state text of this second, so the view ends up showing this one.
            emit setSendPathItemValue(row, kUnknownPath);
        }
    }
}

QString StatusCheckout::sendStateText(_SENDPATH_LISTDATA *rule, _VKGAPIP_CONF *gap)
{
    QMutexLocker lock(&statusMutex);
    if (gap->connState != 1)
        return kGapUnreachable;
    switch (rule->sendState.load()) {
    case Sending:
        ++gap->busyCount;
        return kSending;
    case SendFault:
        return kSendFault;
    case Searching:
        return kSearching;
    case DirectoryMissing:
        return kDirectoryMissing;
    case DirectoryUnavailable:
        return kDirectoryUnavailable;
    default:
        return QString();
    }
}

void StatusCheckout::checkRecvRules()
{
    const QList<_RECVPATH_LISTDATA *> rules = g_RecvPathList.snapshot();
    for (int row = 0; row < rules.size() && rules.at(row); ++row) {
        _RECVPATH_LISTDATA *rule = rules.at(row);
        _VKGAPIP_CONF *gap = BaseFunction::findVkgapinfo(fieldText(rule->GapIP, kHostIPSize));
        QString text;
        {
            QMutexLocker lock(&statusMutex);
            if (rule->useCount > 0) {
                if (gap)
                    ++gap->busyCount;
                text = kReceiving;
            } else {
                text = kIdle;
            }
            rule->statusText = text;
        }
        emit setRecvPathItemValue(row, text);
    }
}
