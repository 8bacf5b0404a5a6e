#include "receive/ReceiverFixture.h"

#include "model/GlobalData.h"
#include "receive/RecvWorkThread.h"
#include "support/TestSupport.h"
#include "tools/gapsim/GapWire.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>

namespace {
constexpr int kConnectWaitMs = 10000;
}

ReceiverFixture::ReceiverFixture(const QString &recvDir, bool listGap)
{
    if (listGap) {
        m_gap = new _VKGAPIP_CONF;
        copyToField(m_gap->HostIP, kHostIPSize, kGapAddress);
        m_gap->hostIPStr = QString::fromLatin1(kGapAddress);
        g_GapInfoList.append(m_gap);
    }
    m_rule = addRule(kRuleKey, kGapAddress, recvDir);
    m_server.listen(QHostAddress::LocalHost, 0);
}

ReceiverFixture::~ReceiverFixture()
{
    waitForWorkers();
    qDeleteAll(m_workers);
    for (_RECVPATH_LISTDATA *rule : qAsConst(m_rules)) {
        g_RecvPathList.removeOne(rule);
        delete rule;
    }
    if (m_gap) {
        g_GapInfoList.removeOne(m_gap);
        delete m_gap;
    }
}

_RECVPATH_LISTDATA *ReceiverFixture::addRule(
    const QByteArray &key, const QByteArray &gapAddress, const QString &dir)
{
    auto *rule = new _RECVPATH_LISTDATA;
    rule->RecvPath = dir;
    copyToField(rule->RecvPathID, kPathIDSize, key);
    copyToField(rule->GapIP, kHostIPSize, gapAddress);
    copyToField(rule->FromUser, kUserNameSize, "alice");
    g_RecvPathList.append(rule);
    m_rules.append(rule);
    return rule;
}

bool ReceiverFixture::connectGap(QTcpSocket &socket)
{
    socket.connectToHost(QHostAddress::LocalHost, m_server.serverPort());
    return socket.waitForConnected(kConnectWaitMs) && acceptGap(kConnectWaitMs);
}

bool ReceiverFixture::acceptGap(int timeoutMs)
{
    if (m_server.pending.isEmpty())
        m_server.waitForNewConnection(timeoutMs);
    if (m_server.pending.isEmpty())
        return false;
    auto *worker = new RecvWorkThread(m_server.pending.takeFirst());
    QObject::connect(
        worker, &RecvWorkThread::updataRequset, worker,
        [this](const TransferStateInfo &info) {
            QMutexLocker lock(&m_mutex);
            m_reports.append(info);
        },
        Qt::DirectConnection);
    m_workers.append(worker);
    worker->start();
    return true;
}

bool ReceiverFixture::waitForWorkers(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (RecvWorkThread *worker : qAsConst(m_workers)) {
        if (!worker->wait(deadline))
            return false;
    }
    return true;
}

bool ReceiverFixture::deliver(const QByteArray &relativePath, const QByteArray &content)
{
    using namespace GapWire;
    const QByteArray md5
        = QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex().toUpper();
    QTcpSocket gap;
    return connectGap(gap)
        && send(
            gap, descriptor(content.size(), kRuleKey, relativePath, md5) + contentPackets(content))
        && u64(readBytes(gap, kPacket), 0) == 9 && u64(readBytes(gap, kPacket), 0) == 5
        && waitForWorkers();
}

QList<TransferStateInfo> ReceiverFixture::reports() const
{
    QMutexLocker lock(&m_mutex);
    return TestSupport::ownCopy(m_reports);
}

QStringList ReceiverFixture::statuses() const
{
    QStringList texts;
    for (const TransferStateInfo &info : reports())
        texts.append(info.at(7));
    return texts;
}

TransferStateInfo ReceiverFixture::lastReport() const
{
    const QList<TransferStateInfo> all = reports();
    return all.isEmpty() ? TransferStateInfo() : all.last();
}
