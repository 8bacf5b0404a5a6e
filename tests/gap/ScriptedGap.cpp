#include "ScriptedGap.h"

#include "protocol/ControlPackets.h"
#include "protocol/PacketCommon.h"

#include <QDeadlineTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtEndian>
#include <memory>

namespace {

constexpr int kPollMs = 20;
constexpr int kWaitMs = 10000;
constexpr int kSilenceMs = 120000; // longer than any wait of the client
constexpr quint64 kLoginRequest = 20;
constexpr quint64 kNotALoginResponse = 99;

} // namespace

ScriptedGap::ScriptedGap(const QHostAddress &address, quint16 port)
    : m_address(address)
    , m_port(port)
{
}

ScriptedGap::~ScriptedGap()
{
    m_stop = true;
    wait();
}

bool ScriptedGap::startListening()
{
    start();
    m_started.acquire();
    return m_listening;
}

QString ScriptedGap::lastClientAddress() const
{
    QMutexLocker lock(&m_mutex);
    return m_lastClientAddress;
}

void ScriptedGap::run()
{
    QTcpServer server;
    m_listening = server.listen(m_address, m_port);
    m_started.release();
    while (m_listening && !m_stop) {
        if (!server.waitForNewConnection(kPollMs))
            continue;
        std::unique_ptr<QTcpSocket> socket(server.nextPendingConnection());
        ++m_connections;
        {
            QMutexLocker lock(&m_mutex);
            m_lastClientAddress = socket->peerAddress().toString();
        }
        serve(*socket);
    }
}

void ScriptedGap::serve(QTcpSocket &socket)
{
    QByteArray request;
    while (request.size() < kPacketSize && socket.waitForReadyRead(kWaitMs))
        request += socket.readAll();
    if (request.size() >= kPacketSize && silent) {
        holdSilent(socket);
        return;
    }
    if (request.size() >= kPacketSize) {
        if (qFromLittleEndian<quint64>(request.constData()) == kLoginRequest) {
            _PACKET_LOGIN_RESPONSE answer = buildLoginResponse(loginCode, 1);
            if (wrongType)
                answer.type = kNotALoginResponse;
            socket.write(packetBytes(answer));
            socket.waitForBytesWritten(kWaitMs);
        }
    }
    socket.disconnectFromHost();
    if (socket.state() != QAbstractSocket::UnconnectedState)
        socket.waitForDisconnected(kWaitMs);
}

void ScriptedGap::holdSilent(QTcpSocket &socket)
{
    QDeadlineTimer deadline(kSilenceMs);
    while (!m_stop && !deadline.hasExpired() && socket.state() == QAbstractSocket::ConnectedState)
        socket.waitForDisconnected(kPollMs);
    if (socket.state() == QAbstractSocket::UnconnectedState)
        ++m_closedWhileSilent;
}
