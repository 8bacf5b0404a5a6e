#pragma once

// A stand-in gap for control exchanges that go wrong: a listener in its own thread that serves one
// connection after the other, reads each request, answers as a script or a responder says and
// records what it got. The code under test runs blocking in the test thread.

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QSemaphore>
#include <QThread>
#include <atomic>
#include <functional>

struct PeerReply {
    QByteArray bytes; // sent in one write once the request arrived; may be short or empty
    int holdMs = 0; // with nothing to send: how long the connection stays silent before the
                    // peer closes it (so that the client's wait ends early)

    static PeerReply send(const QByteArray &bytes) { return { bytes, 0 }; }
    static PeerReply silence(int holdMs = 200) { return { QByteArray(), holdMs }; }
};

class ScriptedGapPeer : public QThread
{
public:
    using Responder = std::function<PeerReply(const QByteArray &request)>;

    // Answers connection i with replies[i]; stops listening (so that further connections are
    // refused) as soon as the last scripted request has arrived, before it is answered.
    ScriptedGapPeer(quint16 port, const QList<PeerReply> &replies);
    // Answers every connection through the responder until stopped.
    ScriptedGapPeer(quint16 port, Responder responder);
    ~ScriptedGapPeer() override;

    bool startListening(); // false if the port could not be bound
    void stop();

    QList<QByteArray> requests() const; // one entry per accepted connection, in order
    QList<quint64> requestTypes() const;
    // Connections done with: answered and closed, or held silent until the client closed.
    int served() const { return m_served; }

protected:
    void run() override;

private:
    QByteArray readRequest(class QTcpSocket &socket);
    void serve(class QTcpServer &server, class QTcpSocket &socket);

    const quint16 m_port;
    const QList<PeerReply> m_script;
    const Responder m_responder;
    std::atomic<bool> m_stop { false };
    std::atomic<bool> m_listening { false };
    std::atomic<int> m_served { 0 };
    QSemaphore m_started;
    mutable QMutex m_mutex;
    QList<QByteArray> m_requests;
};
