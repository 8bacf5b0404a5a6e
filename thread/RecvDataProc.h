#pragma once

#include <QTcpServer>

class MainWindow;

// A listener on one of the client's two service ports. It reads nothing itself: a connection to
// the file port becomes a row of the receive status view, any other a configuration-push thread.
class RecvDataProc : public QTcpServer
{
    Q_OBJECT

public:
    // Starts listening at once on every local IPv4 address; a port that cannot be opened is
    // reported in a box and the object stays without listening.
    RecvDataProc(int port, MainWindow *owner, QObject *parent = nullptr);

    void work(qintptr socketDescriptor);
    void insertItem(qintptr socketDescriptor);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    void startConfThread(qintptr socketDescriptor);

    MainWindow *m_owner;
};
