#pragma once

#include "send/SendStop.h"

#include <QByteArray>

class QTcpSocket;

// Blocking reads and writes on one file connection. Every wait is bounded by its time-out and
// checks the stop flags several times a second, so that a worker never hangs on a silent
// gap and a user's stop is honoured at once instead of after a 30-second wait.
class SendChannel
{
public:
    SendChannel(QTcpSocket *socket, const SendStop &stop);

    // Writes all bytes and waits until they have left. Returns length, 0 for nothing to write,
    // or -1 when the connection failed, no byte left within idleTimeoutMs, or a stop came.
    int write(const char *data, int length, int idleTimeoutMs);
    // Bytes are waiting, or the connection is still open so that some may come.
    bool canRead() const;
    // Whether a byte is there now, without waiting.
    bool hasBytesNow();
    // One whole packet, or what arrived of it before the time-out, the connection's end or a stop.
    // Fragments of a packet are joined, so that a slow peer never shifts the packet framing.
    QByteArray readPacket(int timeoutMs);
    bool stopped() const { return m_stop.requested(); }

private:
    // Waits for bytes for at most ms; false when none came.
    bool waitForBytes(int ms);

    QTcpSocket *m_socket;
    SendStop m_stop;
};
