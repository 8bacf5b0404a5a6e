#pragma once

// Shared pieces of the gap-connection tests: records, canned gap answers, and a recorder for the
// log.

#include "model/GlobalData.h"
#include "protocol/ControlPackets.h"
#include "support/TestSupport.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QStringList>
#include <QTcpServer>
#include <memory>

namespace GapTest {

using TestSupport::pickFreePort;

std::unique_ptr<_VKGAPIP_CONF> makeGap(const QByteArray &host = "127.0.0.1",
    const QByteArray &user = "alice", const QByteArray &password = "secret");

// The record's connection state and path counts in one comparable line.
QString stateOf(const _VKGAPIP_CONF &gap);

QStringList sendPathIDs(const _VKGAPIP_CONF &gap);
QStringList recvPathIDs(const _VKGAPIP_CONF &gap);
void storePaths(_VKGAPIP_CONF &gap, const QStringList &sendIDs, const QStringList &recvIDs);

QByteArray loginAnswer(qint32 code, qint32 level = 0);
QByteArray confAnswer(const QVector<ConfSendEntry> &sends, const QVector<ConfRecvEntry> &recvs);
QByteArray keyAnswer(
    quint64 length, bool flag, const QByteArray &name, const QByteArray &data = {});
QByteArray packetOfType(quint64 type);

} // namespace GapTest

// Collects every message of the process while it exists.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    QStringList lines() const;
    bool contains(const QString &text) const;

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &msg);
};

using TestSupport::PromptRecorder;

class RecvConfThread;

// Hands every accepted connection to a push thread, as the client's configuration listener does.
class PushListener : public QTcpServer
{
public:
    ~PushListener() override;
    QList<RecvConfThread *> threads;

protected:
    void incomingConnection(qintptr socketDescriptor) override;
};
