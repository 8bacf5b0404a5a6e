#include "IncomingConnection.h"

#include "EventLog.h"
#include "SocketUtil.h"
#include "protocol/PacketCommon.h"

#include <QTcpSocket>

IncomingConnection::IncomingConnection(
    QTcpSocket *socket, EventLog &log, int timeoutMs, QObject *parent)
    : QObject(parent)
    , m_socket(socket)
    , m_log(log)
    , m_timeoutMs(timeoutMs)
{
    m_socket->setParent(this);
    m_peer = SocketUtil::plainAddress(m_socket->peerAddress()).toString();
    m_packet.reserve(kPacketSize);
    connect(m_socket, &QIODevice::readyRead, this, &IncomingConnection::readMore);
    connect(m_socket, &QAbstractSocket::disconnected, this, [this] {
        readMore();
        drop(QStringLiteral("closed"));
    });
    m_timeout.setSingleShot(true);
    connect(&m_timeout, &QTimer::timeout, this, [this] { drop(QStringLiteral("timeout")); });
}

void IncomingConnection::start()
{
    m_timeout.start(m_timeoutMs);
    readMore();
}

void IncomingConnection::readMore()
{
    if (m_done)
        return;
    m_packet += m_socket->read(kPacketSize - m_packet.size());
    if (m_packet.size() < kPacketSize)
        return;
    m_done = true;
    m_timeout.stop();
    QObject::disconnect(m_socket, nullptr, this, nullptr);
    emit firstPacket(m_socket, m_packet);
    deleteLater();
}

void IncomingConnection::drop(const QString &reason)
{
    if (m_done)
        return;
    m_done = true;
    m_log.write("dropped",
        { { "peer", m_peer }, { "reason", reason },
            { "bytes", QString::number(m_packet.size()) } });
    SocketUtil::closeWhenFlushed(m_socket, this, m_timeoutMs);
    deleteLater();
}
