#pragma once

#include "ContentScanner.h"
#include "GapContext.h"
#include "protocol/PacketCommon.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>
#include <functional>
#include <vector>

class QTcpSocket;

// One file on its way through the gap: the sender's connection, whose descriptor has arrived, and
// the connection the gap opens to the receiving client. The session answers the type check,
// relays the descriptor and its response, relays data and file end while scanning them, and
// relays the confirmation. It holds at most a few bursts of the file at any time: reading from
// the sender pauses while the receiver's connection has too much left to write. Content moves in
// large pieces: what the sender has sent is read at once, its packets are judged where they lie,
// and each run of packets that passes goes to the receiver in one write.
class RelaySession : public QObject
{
    Q_OBJECT

public:
    RelaySession(
        QTcpSocket *sender, const QByteArray &descriptor, GapContext &context, QObject *parent);

    void start();

private:
    enum class Phase {
        Checking,
        Connecting,
        AwaitingResponse,
        Relaying,
        Discarding,
        AwaitingConfirmation,
        Held,
        Done
    };

    void checkDescriptor();
    void routeTo(const GapUser &receiver);
    void answerOfflineAtDescriptor();
    void refuse(quint64 type, const QString &reason);
    void connectReceiver(const QHostAddress &address, quint16 port);
    void onReceiverConnected();
    void onReceiverLost();
    void onReceiverReadable();
    void onSenderClosed();
    void onWatchdog();
    void pumpSender();
    bool readSender();
    bool hasWholePacket() const;
    void handlePending();
    void handleSenderPacket(char *packet);
    void relayPacket(char *packet, qint64 contentOffset, int contentSize);
    void flushRun();
    void onFinding(ContentScanner::Finding finding, bool atFileEnd);
    void answerSender(
        const QString &answer, const QByteArray &packet, const std::function<void()> &then);
    void logFault(const QString &kind, const EventFields &details);
    void logAnswer(const QByteArray &event, quint64 type, const QString &reason = QString());
    void finish(const QString &result, bool abortConnections = false);
    void touch();

    QTcpSocket *m_sender;
    QTcpSocket *m_receiver = nullptr;
    QByteArray m_descriptor;
    GapContext &m_context;
    TransferFaults m_faults;
    ContentScanner m_scanner;
    Phase m_phase = Phase::Checking;
    quint64 m_id = 0;
    QString m_fileName;
    QString m_result;
    quint64 m_pendingVerdict = 0;
    bool m_senderClosed = false;
    // Bytes read from the sender: handled up to m_pendingStart, read up to m_pendingEnd. The
    // packets to relay next lie together from m_runStart, m_runLength bytes.
    std::vector<char> m_pending;
    int m_pendingStart = 0;
    int m_pendingEnd = 0;
    int m_runStart = 0;
    int m_runLength = 0;
    qint64 m_runContent = 0;
    char m_receiverPacket[kPacketSize];
    int m_receiverFill = 0;
    qint64 m_senderBytes = 0; // every byte read from the sender, descriptor included
    qint64 m_contentBytes = 0; // file content read from the sender
    qint64 m_relayedBytes = 0; // file content written to the receiver
    QTimer m_watchdog;
    QTimer m_connectTimer;
};
