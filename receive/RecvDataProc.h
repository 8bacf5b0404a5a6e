#pragma once

#include "receive/RecvAdmission.h"

#include <QTcpServer>

// A listener on one of the client's two service ports. It reads nothing itself: a connection to
// the file port from a listed gap is handed on as fileConnection (while fewer than the bound run
// at once), for whoever makes its row and worker; any other becomes a configuration-push thread.
class RecvDataProc : public QTcpServer
{
    Q_OBJECT

public:
    // Starts listening at once on every local IPv4 address; a port that cannot be opened is
    // reported in a box and the object stays without listening. A connection that cannot be
    // accepted (no descriptor left) pauses the listener, which tries again after kAcceptRetryMs.
    explicit RecvDataProc(int port, QObject *parent = nullptr);

    static constexpr int kAcceptRetryMs = 200;

    void work(qintptr socketDescriptor);
    // How many receiving workers may run at once (RecvAdmission::kMaxConnections unless set).
    void setConnectionLimit(int limit) { m_admission.setLimit(limit); }

signals:
    // An admitted file connection; the receiver owns the descriptor from here on.
    void fileConnection(qintptr socketDescriptor);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    void startConfThread(qintptr socketDescriptor);
    void onAcceptError();

    RecvAdmission m_admission;
    bool m_acceptFailing = false; // said once in the log until a connection is accepted again
};
