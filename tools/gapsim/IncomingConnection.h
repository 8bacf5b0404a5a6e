#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

class QTcpSocket;
class EventLog;

// A connection whose first packet has not arrived yet. That packet decides what the connection
// is; a connection that closes, stalls or sends too little is closed and logged.
class IncomingConnection : public QObject
{
    Q_OBJECT

public:
    IncomingConnection(QTcpSocket *socket, EventLog &log, int timeoutMs, QObject *parent);

    // Called once firstPacket is connected: bytes may be waiting already.
    void start();

signals:
    // The socket is handed over with the first packet; this object deletes itself afterwards.
    void firstPacket(QTcpSocket *socket, const QByteArray &packet);

private:
    void readMore();
    void drop(const QString &reason);

    QTcpSocket *m_socket;
    EventLog &m_log;
    QString m_peer;
    QByteArray m_packet;
    QTimer m_timeout;
    int m_timeoutMs;
    bool m_done = false;
};
