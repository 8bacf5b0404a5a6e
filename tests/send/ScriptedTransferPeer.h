#pragma once

// A scripted far end of a file connection, in a thread of its own: as the receiving client behind
// gapsim, or as a gap itself. It reads the descriptor, sends the scripted answers, reads the
// content up to the file end, checks it against the descriptor's digest and confirms. Packets
// are read and built at literal offsets (GapWire), independently of the code under test.

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QSemaphore>
#include <QThread>
#include <atomic>
#include <functional>

// Moments of a transfer at which a script may act, as the peer sees them.
enum class PeerMoment {
    Descriptor, // the descriptor has arrived; nothing answered yet
    FirstData, // the first data packet has arrived
    FileEnd, // the file end has arrived; not confirmed yet
};

struct PeerScript {
    // Sent once the descriptor has arrived. An empty entry stands for the acceptance (9) that
    // copies the descriptor's fields.
    QList<QByteArray> afterDescriptor { QByteArray() };
    // After the answers: stop reading, as a stalled far end does, until the peer is stopped.
    bool stall = false;
    // Sent after the file end; empty: 5 when the content matches the digest, else 15.
    QList<QByteArray> afterEnd;
    // Close instead of confirming.
    bool closeAfterEnd = false;
    // Keep the content of each transfer (off for a sink that only checks the digest).
    bool keepContent = true;
    // Called in the peer's thread with the transfer's number (from 0) at each moment; the peer
    // goes on once it returns.
    std::function<void(int transfer, PeerMoment moment)> onMoment;

    static PeerScript receiver() { return {}; }
    // A gap that accepts the type and relays an acceptance.
    static PeerScript gap();
};

struct PeerTransfer {
    QByteArray descriptor;
    QByteArray content;
    qint64 size = 0; // content bytes received
    bool ended = false; // the file end arrived
    bool digestMatches = false;
    // Every data packet and the file end byte for byte as the protocol's builders make them.
    bool packetsAsBuilt = true;
    qint64 connectedAtMs = 0; // on the peer's monotonic clock
};

class ScriptedTransferPeer : public QThread
{
public:
    ScriptedTransferPeer(const PeerScript &script, quint16 port = 0);
    ~ScriptedTransferPeer() override;

    bool startListening(); // false when the port could not be bound
    quint16 port() const { return m_port; }
    void stop();

    QList<PeerTransfer> transfers() const;
    int descriptorsSeen() const { return m_descriptors; }

    static QByteArray reply(quint64 type);

protected:
    void run() override;

private:
    void serve(class QTcpSocket &socket, qint64 connectedAtMs);
    QByteArray acceptance(const QByteArray &descriptor) const;
    void reach(int transfer, PeerMoment moment) const;

    const PeerScript m_script;
    std::atomic<quint16> m_port;
    std::atomic<bool> m_stop { false };
    std::atomic<bool> m_listening { false };
    std::atomic<int> m_descriptors { 0 };
    QSemaphore m_started;
    mutable QMutex m_mutex;
    QList<PeerTransfer> m_transfers;
};
