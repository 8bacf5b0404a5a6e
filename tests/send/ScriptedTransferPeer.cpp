#include "ScriptedTransferPeer.h"

#include "protocol/TransferPackets.h"
#include "support/TestSupport.h"
#include "tools/gapsim/GapWire.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

constexpr int kPollMs = 20;
constexpr int kPeerWaitMs = 20000;

// The packet the builders make of a received packet's content; empty for any other type.
QByteArray builtPacket(const QByteArray &packet, const QByteArray &content)
{
    switch (GapWire::u64(packet, 0)) {
    case kTypeFileData:
        return packetBytes(buildDataPacket(content.constData()));
    case kTypeFileEnd:
        return content.size() < kPayloadSize
            ? packetBytes(buildFileEnd(content.constData(), content.size()))
            : QByteArray();
    default:
        return QByteArray();
    }
}

} // namespace

PeerScript PeerScript::gap()
{
    PeerScript script;
    script.afterDescriptor = { ScriptedTransferPeer::reply(3), QByteArray() };
    return script;
}

ScriptedTransferPeer::ScriptedTransferPeer(const PeerScript &script, quint16 port)
    : m_script(script)
    , m_port(port)
{
}

ScriptedTransferPeer::~ScriptedTransferPeer() { stop(); }

bool ScriptedTransferPeer::startListening()
{
    start();
    return m_started.tryAcquire(1, kPeerWaitMs) && m_listening;
}

void ScriptedTransferPeer::stop()
{
    m_stop = true;
    wait(kPeerWaitMs * 2);
}

QList<PeerTransfer> ScriptedTransferPeer::transfers() const
{
    QMutexLocker lock(&m_mutex);
    return TestSupport::ownCopy(m_transfers);
}

QByteArray ScriptedTransferPeer::reply(quint64 type) { return GapWire::packet(type); }

void ScriptedTransferPeer::run()
{
    QTcpServer server;
    m_listening = server.listen(QHostAddress::LocalHost, m_port);
    m_port = server.serverPort();
    m_started.release();
    QElapsedTimer clock;
    clock.start();
    while (m_listening && !m_stop) {
        if (!server.hasPendingConnections() && !server.waitForNewConnection(kPollMs))
            continue;
        QTcpSocket *socket = server.nextPendingConnection();
        serve(*socket, clock.elapsed());
        delete socket;
    }
}

QByteArray ScriptedTransferPeer::acceptance(const QByteArray &descriptor) const
{
    QByteArray answer = GapWire::packet(9);
    GapWire::putText(answer, 8, descriptor.mid(16, 46));
    GapWire::putText(answer, 54, descriptor.mid(16, 46));
    GapWire::putText(answer, 100, descriptor.mid(62, 40));
    GapWire::putText(answer, 140, descriptor.mid(102, 1024));
    GapWire::putText(answer, 1164, descriptor.mid(1166, 32));
    return answer;
}

void ScriptedTransferPeer::reach(int transfer, PeerMoment moment) const
{
    if (m_script.onMoment)
        m_script.onMoment(transfer, moment);
}

void ScriptedTransferPeer::serve(QTcpSocket &socket, qint64 connectedAtMs)
{
    PeerTransfer transfer;
    transfer.connectedAtMs = connectedAtMs;
    transfer.descriptor = GapWire::readBytes(socket, GapWire::kPacket);
    const bool described = transfer.descriptor.size() == GapWire::kPacket;
    const int number = described ? m_descriptors++ : -1;
    if (described)
        reach(number, PeerMoment::Descriptor);
    // One write: a later answer must not wait behind Nagle's rule for the acknowledgement of the
    // earlier one, or a verdict meant for the data phase would reach the sender after its data.
    QByteArray answers;
    for (const QByteArray &answer : m_script.afterDescriptor)
        answers += answer.isEmpty() ? acceptance(transfer.descriptor) : answer;
    GapWire::send(socket, answers);
    while (m_script.stall && !m_stop)
        msleep(kPollMs);

    // The content is hashed as it arrives, so that a sink for large files keeps nothing.
    QCryptographicHash hash(QCryptographicHash::Md5);
    while (!m_stop) {
        const QByteArray stream = GapWire::readBytes(socket, GapWire::kPacket);
        if (stream.size() < GapWire::kPacket)
            break;
        const QByteArray piece = GapWire::contentOf(stream);
        transfer.packetsAsBuilt = transfer.packetsAsBuilt && stream == builtPacket(stream, piece);
        hash.addData(piece);
        const bool first = transfer.size == 0;
        transfer.size += piece.size();
        if (m_script.keepContent)
            transfer.content += piece;
        if (GapWire::u64(stream, 0) == 2) {
            transfer.ended = true;
            reach(number, PeerMoment::FileEnd);
            break;
        }
        if (first)
            reach(number, PeerMoment::FirstData);
    }
    const QByteArray digest = hash.result().toHex().toUpper();
    transfer.digestMatches = transfer.ended && digest == transfer.descriptor.mid(1166, 32);
    {
        QMutexLocker lock(&m_mutex);
        m_transfers.append(transfer);
    }
    if (transfer.ended && !m_script.closeAfterEnd) {
        const QList<QByteArray> answers = m_script.afterEnd.isEmpty()
            ? QList<QByteArray> { reply(transfer.digestMatches ? 5 : 15) }
            : m_script.afterEnd;
        for (const QByteArray &answer : answers)
            GapWire::send(socket, answer);
        GapWire::waitForClose(socket, 2000);
    }
}
