#include "SocketUtil.h"

#include <QCoreApplication>
#include <QTcpSocket>
#include <QTimer>
#include <sys/socket.h>

namespace SocketUtil {

QHostAddress plainAddress(const QHostAddress &address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4) : address;
}

void closeWhenFlushed(QTcpSocket *socket, QObject *formerOwner, int timeoutMs)
{
    QObject::disconnect(socket, nullptr, formerOwner, nullptr);
    // The application object owns lingering sockets, so that none outlives the program.
    socket->setParent(QCoreApplication::instance());
    socket->disconnectFromHost();
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        socket->deleteLater();
        return;
    }
    QObject::connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(timeoutMs, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
}

void writeThrough(QTcpSocket *socket, const char *data, qint64 length)
{
    if (socket->bytesToWrite() == 0 && socket->state() == QAbstractSocket::ConnectedState) {
        const ssize_t sent = ::send(
            int(socket->socketDescriptor()), data, size_t(length), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent > 0) {
            data += sent;
            length -= sent;
        }
    }
    // A failure is left to Qt, which meets it again and reports it as for any write.
    if (length > 0)
        socket->write(data, length);
}

qint64 readThrough(QTcpSocket *socket, char *data, qint64 maxSize)
{
    const qint64 buffered = qMax<qint64>(socket->read(data, maxSize), 0);
    if (buffered == maxSize || socket->state() != QAbstractSocket::ConnectedState)
        return buffered;
    const ssize_t got = ::recv(int(socket->socketDescriptor()), data + buffered,
        size_t(maxSize - buffered), MSG_DONTWAIT);
    return buffered + qMax<ssize_t>(got, 0);
}

bool bindToGapAddress(
    QTcpSocket *socket, const QHostAddress &listenAddress, const QHostAddress &target)
{
    const QHostAddress own = plainAddress(listenAddress);
    const bool specific
        = own != QHostAddress::Any && own != QHostAddress::AnyIPv4 && own != QHostAddress::AnyIPv6;
    if (!specific || own.protocol() != target.protocol())
        return true;
    return socket->bind(own, 0);
}

} // namespace SocketUtil
