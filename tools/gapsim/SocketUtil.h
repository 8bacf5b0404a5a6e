#pragma once

#include <QHostAddress>

class QObject;
class QTcpSocket;

namespace SocketUtil {

// An IPv4 peer of a dual-stack listener shows as ::ffff:a.b.c.d; clients and configurations
// write a.b.c.d.
QHostAddress plainAddress(const QHostAddress &address);

// The connection is handed over to close by itself: pending bytes are still written, then the
// connection is closed; one that does not finish within timeoutMs is aborted. The socket is
// deleted either way and no longer reports to its former owner.
void closeWhenFlushed(QTcpSocket *socket, QObject *formerOwner, int timeoutMs);

// Writes the bytes into the connection: straight into the kernel while Qt holds nothing back for
// it, which spares a copy of every byte relayed; what the kernel does not take at once waits in
// Qt's buffer as with write(), behind nothing, so the order stays.
void writeThrough(QTcpSocket *socket, const char *data, qint64 length);

// Reads up to maxSize bytes: first what Qt holds for the connection, then straight from the
// kernel, so that bytes Qt has not taken yet reach the caller with one copy less. Keep Qt's read
// buffer small (setReadBufferSize) for this to matter. Returns what was read; an error or the end
// of the connection is left to Qt, which meets it in its own reading.
qint64 readThrough(QTcpSocket *socket, char *data, qint64 maxSize);

// Binds an outgoing socket to the simulator's own address when it listens on a specific address
// of the target's family: clients recognise their gap by the peer address of its connections.
bool bindToGapAddress(
    QTcpSocket *socket, const QHostAddress &listenAddress, const QHostAddress &target);

} // namespace SocketUtil
