#pragma once

// A receiving worker behind a loopback listener, fed by the test as its gap: the test connects,
// a worker takes the connection in its own thread, and every report it makes is recorded.

#include "model/TransferStateInfo.h"

#include <QMutex>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

struct _RECVPATH_LISTDATA;
struct _VKGAPIP_CONF;
class RecvWorkThread;

// Hands accepted descriptors over instead of building sockets, as the client's listener does.
class DescriptorServer : public QTcpServer
{
public:
    QList<qintptr> pending;

protected:
    void incomingConnection(qintptr socketDescriptor) override { pending.append(socketDescriptor); }
};

class ReceiverFixture
{
public:
    static constexpr const char *kGapAddress = "127.0.0.1";
    static constexpr const char *kRuleKey = "KEY-1";

    // Lists the gap 127.0.0.1 (unless listGap is false) and one receive rule for kRuleKey from it
    // into recvDir.
    explicit ReceiverFixture(const QString &recvDir, bool listGap = true);
    ~ReceiverFixture();
    ReceiverFixture(const ReceiverFixture &) = delete;
    ReceiverFixture &operator=(const ReceiverFixture &) = delete;

    _RECVPATH_LISTDATA *addRule(
        const QByteArray &key, const QByteArray &gapAddress, const QString &dir);
    _VKGAPIP_CONF *gap() const { return m_gap; }
    _RECVPATH_LISTDATA *rule() const { return m_rule; }

    // Connects as the gap and starts a worker on the accepted connection.
    bool connectGap(QTcpSocket &socket);
    // Starts a worker on the next connection made to port(), waiting for one within the time.
    bool acceptGap(int timeoutMs);
    quint16 port() const { return m_server.serverPort(); }
    // Whether every worker finished within the wait.
    bool waitForWorkers(int timeoutMs = 60000);
    // Sends one whole file as the gap, for the rule kRuleKey, and waits for its worker; true when
    // the file was accepted (9) and confirmed (5).
    bool deliver(const QByteArray &relativePath, const QByteArray &content);

    QList<TransferStateInfo> reports() const;
    // Column 7 of every report, in order.
    QStringList statuses() const;
    TransferStateInfo lastReport() const;

private:
    DescriptorServer m_server;
    _VKGAPIP_CONF *m_gap = nullptr;
    _RECVPATH_LISTDATA *m_rule = nullptr;
    QList<_RECVPATH_LISTDATA *> m_rules;
    QList<RecvWorkThread *> m_workers;
    mutable QMutex m_mutex;
    QList<TransferStateInfo> m_reports;
};
