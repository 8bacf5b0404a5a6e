#pragma once

#include <QHostAddress>
#include <QMutex>
#include <QSemaphore>
#include <QThread>

class QTcpSocket;

#include <atomic>

// A gap that answers logins as a test scripts it, in a thread of its own (the client's control
// exchange blocks the thread that runs it). It answers a login request with a login response
// carrying loginCode (or, with wrongType, a packet that is no login response, or, while silent,
// nothing at all until the client closes), and a rules request by closing the connection. It
// counts every connection it accepts, and the silent ones the client closed.
class ScriptedGap : public QThread
{
public:
    ScriptedGap(const QHostAddress &address, quint16 port);
    ~ScriptedGap() override;

    // Starts listening; false if the address and port cannot be taken.
    bool startListening();

    std::atomic<int> loginCode { 102 };
    std::atomic<bool> wrongType { false };
    std::atomic<bool> silent { false };

    int connections() const { return m_connections; }
    int closedWhileSilent() const { return m_closedWhileSilent; }
    QString lastClientAddress() const;

protected:
    void run() override;

private:
    void serve(QTcpSocket &socket);
    void holdSilent(QTcpSocket &socket);

    QHostAddress m_address;
    quint16 m_port;
    std::atomic<bool> m_stop { false };
    std::atomic<bool> m_listening { false };
    std::atomic<int> m_connections { 0 };
    std::atomic<int> m_closedWhileSilent { 0 };
    QSemaphore m_started;
    mutable QMutex m_mutex;
    QString m_lastClientAddress;
};
