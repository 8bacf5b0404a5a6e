#pragma once

#include "GapContext.h"

#include <QObject>
#include <QTcpServer>
#include <QTimer>

class QTcpSocket;

// The simulated gap's port: accepts every connection, lets its first packet decide whether it is
// a control exchange or a file transfer, and keeps the number of open connections bounded.
class GapServer : public QObject
{
    Q_OBJECT

public:
    explicit GapServer(GapContext &context, QObject *parent = nullptr);

    bool start(QString *error);

private:
    void logListening();
    void acceptPending();
    void track(QObject *connection);
    void onFirstPacket(QTcpSocket *socket, const QByteArray &packet);
    void onExchangeAnswered(const QString &exchange);
    void suspendListening();
    void resumeListening();

    GapContext &m_context;
    QTcpServer m_server;
    QHostAddress m_address;
    quint16 m_port = 0;
    int m_open = 0;
    QTimer m_resumeTimer;
};
