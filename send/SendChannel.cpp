#include "send/SendChannel.h"

#include "protocol/PacketCommon.h"

#include <QElapsedTimer>
#include <QTcpSocket>

namespace {

// How often a blocked wait looks at the stop flags.
constexpr int kPollSliceMs = 50;

} // namespace

SendChannel::SendChannel(QTcpSocket *socket, const SendStop &stop)
    : m_socket(socket)
    , m_stop(stop)
{
}

int SendChannel::write(const char *data, int length, int idleTimeoutMs)
{
    if (length < 1)
        return 0;
    if (m_socket->write(data, length) != length)
        return -1;
    // The time-out counts from the last progress: a slow link that keeps moving is not a failure.
    QElapsedTimer idle;
    idle.start();
    qint64 pending = m_socket->bytesToWrite();
    while (pending > 0) {
        if (stopped() || m_socket->state() != QAbstractSocket::ConnectedState)
            return -1;
        m_socket->waitForBytesWritten(kPollSliceMs);
        const qint64 left = m_socket->bytesToWrite();
        if (left < pending) {
            pending = left;
            idle.restart();
        } else if (idle.hasExpired(idleTimeoutMs)) {
            return -1;
        }
    }
    return length;
}

bool SendChannel::canRead() const
{
    return m_socket->bytesAvailable() > 0 || m_socket->state() == QAbstractSocket::ConnectedState;
}

bool SendChannel::hasBytesNow() { return waitForBytes(0); }

bool SendChannel::waitForBytes(int ms)
{
    return m_socket->bytesAvailable() > 0 || m_socket->waitForReadyRead(ms);
}

QByteArray SendChannel::readPacket(int timeoutMs)
{
    QByteArray packet;
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        packet += m_socket->read(kPacketSize - packet.size());
        if (packet.size() == kPacketSize || stopped() || clock.hasExpired(timeoutMs))
            return packet;
        const int left = int(qMax<qint64>(0, timeoutMs - clock.elapsed()));
        if (!waitForBytes(qMin(kPollSliceMs, left)) && !canRead())
            return packet;
    }
}
