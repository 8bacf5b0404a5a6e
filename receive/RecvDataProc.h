#pragma once

#include "receive/RecvAdmission.h"

#include <QTcpServer>

class MainWindow;

// A listener on one of the client's two service ports. It reads nothing itself: a connection to
// the file port from a listed gap becomes a row of the receive status view (while fewer than the
// bound run at once), any other a configuration-push thread.
class RecvDataProc : public QTcpServer
{
    Q_OBJECT

public:
    // Starts listening at once on every local IPv4 address; a port that cannot be opened is
    // reported in a box and the object stays without listening.
    RecvDataProc(int port, MainWindow *owner, QObject *parent = nullptr);

    void work(qintptr socketDescriptor);
    void insertItem(qintptr socketDescriptor);
    // How many receiving workers may run at once (RecvAdmission::kMaxConnections unless set).
    void setConnectionLimit(int limit) { m_admission.setLimit(limit); }

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    void startConfThread(qintptr socketDescriptor);

    MainWindow *m_owner;
    RecvAdmission m_admission;
};
