#include "ScriptedGapPeer.h"

#include "protocol/PacketCommon.h"
#include "support/TestSupport.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

constexpr int kPeerWaitMs = 10000; // bounds every wait of the peer itself
constexpr int kPollMs = 20;

} // namespace

ScriptedGapPeer::ScriptedGapPeer(quint16 port, const QList<PeerReply> &replies)
    : m_port(port)
    , m_script(replies)
{
}

ScriptedGapPeer::ScriptedGapPeer(quint16 port, Responder responder)
    : m_port(port)
    , m_responder(std::move(responder))
{
}

ScriptedGapPeer::~ScriptedGapPeer() { stop(); }

bool ScriptedGapPeer::startListening()
{
    start();
    if (!m_started.tryAcquire(1, kPeerWaitMs))
        return false;
    return m_listening || (!m_responder && m_script.isEmpty());
}

void ScriptedGapPeer::stop()
{
    m_stop = true;
    wait(kPeerWaitMs * 2);
}

QList<QByteArray> ScriptedGapPeer::requests() const
{
    QMutexLocker lock(&m_mutex);
    return TestSupport::ownCopy(m_requests);
}

QList<quint64> ScriptedGapPeer::requestTypes() const
{
    QList<quint64> types;
    for (const QByteArray &request : requests())
        types.append(request.size() >= 8 ? packetType(request.constData()) : 0);
    return types;
}

void ScriptedGapPeer::run()
{
    QTcpServer server;
    // An empty script is a gap that is not there: nothing listens.
    if (m_responder || !m_script.isEmpty())
        m_listening = server.listen(QHostAddress::LocalHost, m_port);
    m_started.release();
    for (;;) {
        // Connections the client made before the peer was stopped are still served.
        const bool stopping = m_stop;
        // One wait may accept several connections at once: serve those before waiting again.
        if (server.isListening()
            && (server.hasPendingConnections()
                || server.waitForNewConnection(stopping ? 0 : kPollMs))) {
            QTcpSocket *socket = server.nextPendingConnection();
            serve(server, *socket);
            delete socket;
            ++m_served;
        } else if (stopping) {
            return;
        } else if (!server.isListening()) {
            msleep(kPollMs);
        }
    }
}

QByteArray ScriptedGapPeer::readRequest(QTcpSocket &socket)
{
    QByteArray request;
    QDeadlineTimer deadline(kPeerWaitMs);
    while (request.size() < kPacketSize && !deadline.hasExpired()) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(int(deadline.remainingTime())))
            break;
        request += socket.read(kPacketSize - request.size());
    }
    return request;
}

void ScriptedGapPeer::serve(QTcpServer &server, QTcpSocket &socket)
{
    const QByteArray request = readRequest(socket);
    int index;
    {
        QMutexLocker lock(&m_mutex);
        index = m_requests.size();
        m_requests.append(request);
    }
    PeerReply reply;
    if (m_responder) {
        reply = m_responder(request);
    } else {
        if (index >= m_script.size() - 1)
            server.close();
        if (index < m_script.size())
            reply = m_script.at(index);
    }
    if (!reply.bytes.isEmpty()) {
        socket.write(reply.bytes);
        socket.waitForBytesWritten(kPeerWaitMs);
        // The client closes once it has read the answer.
        if (socket.state() == QAbstractSocket::ConnectedState)
            socket.waitForDisconnected(kPeerWaitMs);
        return;
    }
    if (reply.holdMs > 0 && socket.state() == QAbstractSocket::ConnectedState)
        socket.waitForDisconnected(reply.holdMs);
    socket.close();
}
