#include "bench/ScriptedSender.h"

#include "tools/gapsim/GapWire.h"

#include <QTcpSocket>

using namespace GapWire;

namespace {

constexpr int kTypeAccepted = 3;
constexpr int kDescriptorAccepted = 9;
constexpr int kFileEnd = 2;
constexpr int kData = 1;
// The receiver reads the whole file back for its digest before it confirms.
constexpr int kConfirmWaitMs = 300000;
const QByteArray kPathKey = "ALICE-TO-BOB";

// The data packets of content that is a whole number of payloads.
QByteArray dataPackets(const QByteArray &content)
{
    QByteArray packets;
    for (int at = 0; at < content.size(); at += kPayload) {
        QByteArray data = packet(kData);
        putText(data, 8, content.mid(at, kPayload));
        packets += data;
    }
    return packets;
}

int answerOf(QTcpSocket &socket, int timeoutMs, QString *error)
{
    const QByteArray answer = readBytes(socket, kPacket, timeoutMs);
    if (answer.size() == kPacket)
        return int(u64(answer, 0));
    *error = QStringLiteral("no answer: %1").arg(socket.errorString());
    return -1;
}

bool sendContent(QTcpSocket &socket, const PatternFile &file)
{
    const qint64 wholePayloads = file.size / kPayload;
    const qint64 blockBytes = file.block.size();
    const QByteArray burst = dataPackets(file.block);
    qint64 sent = 0;
    for (; sent + blockBytes <= wholePayloads * kPayload; sent += blockBytes) {
        if (!GapWire::send(socket, burst))
            return false;
    }
    const QByteArray rest = file.content(sent, int(wholePayloads * kPayload - sent));
    const QByteArray tail = file.content(wholePayloads * kPayload, kPayload);
    QByteArray end = packet(kFileEnd);
    putU64(end, 8, quint64(tail.size()));
    putText(end, 16, tail);
    return GapWire::send(socket, dataPackets(rest) + end);
}

} // namespace

namespace ScriptedSender {

int send(quint16 gapPort, const PatternFile &file, QString *error)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), gapPort);
    if (!socket.waitForConnected(kWaitMs)) {
        *error = socket.errorString();
        return -1;
    }
    if (!GapWire::send(socket, descriptor(file.size, kPathKey, file.name, file.md5))) {
        *error = socket.errorString();
        return -1;
    }
    const int typeCheck = answerOf(socket, kWaitMs, error);
    if (typeCheck != kTypeAccepted)
        return typeCheck;
    const int response = answerOf(socket, kWaitMs, error);
    if (response != kDescriptorAccepted)
        return response;
    if (!sendContent(socket, file)) {
        *error = socket.errorString();
        return -1;
    }
    return answerOf(socket, kConfirmWaitMs, error);
}

} // namespace ScriptedSender
