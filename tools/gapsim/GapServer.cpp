#include "GapServer.h"

#include "ControlSession.h"
#include "IncomingConnection.h"
#include "RelaySession.h"
#include "SocketUtil.h"
#include "protocol/ControlPackets.h"
#include "protocol/TransferPackets.h"

#include <QTcpSocket>

namespace {

// Beyond this many open connections new ones are closed at once: a flood must not exhaust the
// simulator's descriptors (a relay holds two) or memory.
constexpr int kMaxOpenConnections = 256;
constexpr int kRelistenRetryMs = 500;
// Bytes a control connection may have buffered: one request, and a little slack.
constexpr qint64 kControlReadBuffer = 4 * kPacketSize;

} // namespace

GapServer::GapServer(GapContext &context, QObject *parent)
    : QObject(parent)
    , m_context(context)
{
    m_server.setMaxPendingConnections(kMaxOpenConnections);
    connect(&m_server, &QTcpServer::newConnection, this, &GapServer::acceptPending);
    m_resumeTimer.setSingleShot(true);
    connect(&m_resumeTimer, &QTimer::timeout, this, &GapServer::resumeListening);
}

bool GapServer::start(QString *error)
{
    m_address = m_context.config.listenAddress;
    if (!m_server.listen(m_address, m_context.config.port)) {
        *error = QStringLiteral("cannot listen on %1 port %2: %3")
                     .arg(m_address.toString())
                     .arg(m_context.config.port)
                     .arg(m_server.errorString());
        return false;
    }
    m_port = m_server.serverPort();
    logListening();
    if (m_context.faults.refusalRemainingMs() > 0)
        suspendListening();
    return true;
}

void GapServer::logListening()
{
    const QString address
        = m_address == QHostAddress::Any ? QStringLiteral("any") : m_address.toString();
    m_context.log.write(
        "listening", { { "address", address }, { "port", QString::number(m_port) } });
}

void GapServer::acceptPending()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        if (m_open >= kMaxOpenConnections) {
            m_context.log.write("dropped",
                { { "peer", SocketUtil::plainAddress(socket->peerAddress()).toString() },
                    { "reason", QStringLiteral("too-many-connections") },
                    { "bytes", QStringLiteral("0") } });
            socket->abort();
            socket->deleteLater();
            continue;
        }
        socket->setReadBufferSize(kControlReadBuffer);
        // The relay forwards short packets both ways; Nagle's rule would hold each one back.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        auto *incoming
            = new IncomingConnection(socket, m_context.log, m_context.config.timeoutMs, this);
        connect(incoming, &IncomingConnection::firstPacket, this, &GapServer::onFirstPacket);
        track(incoming);
        incoming->start();
    }
}

// An accepted connection counts as open from its first byte to the end of its session.
void GapServer::track(QObject *connection)
{
    ++m_open;
    connect(connection, &QObject::destroyed, this, [this] { --m_open; });
}

void GapServer::onFirstPacket(QTcpSocket *socket, const QByteArray &packet)
{
    const quint64 type = packetType(packet.constData());
    switch (type) {
    case kTypeFileDescriptor: {
        auto *relay = new RelaySession(socket, packet, m_context, this);
        track(relay);
        relay->start();
        return;
    }
    case kTypeLoginRequest:
    case kTypeRulesRequest:
    case kTypeKeyRequest:
    case kTypeLogoutRequest: {
        auto *control = new ControlSession(socket, packet, m_context, this);
        connect(control, &ControlSession::answered, this, &GapServer::onExchangeAnswered);
        track(control);
        control->start();
        return;
    }
    default:
        m_context.log.write("dropped",
            { { "peer", SocketUtil::plainAddress(socket->peerAddress()).toString() },
                { "reason", QStringLiteral("unknown-type") }, { "type", QString::number(type) } });
        socket->setParent(this);
        SocketUtil::closeWhenFlushed(socket, this, m_context.config.timeoutMs);
    }
}

void GapServer::onExchangeAnswered(const QString &exchange)
{
    if (m_context.faults.noteExchange(exchange))
        suspendListening();
}

void GapServer::suspendListening()
{
    const qint64 remaining = m_context.faults.refusalRemainingMs();
    m_server.close();
    m_context.log.write("fault",
        { { "kind", QStringLiteral("refuse-login") },
            { "ms",
                remaining == LLONG_MAX ? QStringLiteral("forever")
                                       : QString::number(remaining) } });
    if (remaining != LLONG_MAX)
        m_resumeTimer.start(int(qMin<qint64>(remaining, INT_MAX)));
}

void GapServer::resumeListening()
{
    if (m_context.faults.refusalRemainingMs() > 0) {
        suspendListening();
        return;
    }
    if (!m_server.listen(m_address, m_port)) {
        m_context.log.write("listen-retry", { { "error", m_server.errorString() } });
        m_resumeTimer.start(kRelistenRetryMs);
        return;
    }
    logListening();
}
