#pragma once

#include <QThread>

class QTcpSocket;

// One configuration push from a gap: reads the single configuration-data packet of an accepted
// connection in its own thread and merges it into that gap's record. Nothing is sent back.
class RecvConfThread : public QThread
{
    Q_OBJECT
public:
    // The parent is not used: the listener makes the thread delete itself when it finishes.
    RecvConfThread(qintptr socketDescriptor, QObject *parent = nullptr);
    ~RecvConfThread() override;

    // 0 when a packet was merged, 1 when the connection was dropped.
    int recvConf(QTcpSocket *socket);

protected:
    void run() override;

private:
    qintptr m_socketDescriptor;
    QTcpSocket *m_socket = nullptr;
};
