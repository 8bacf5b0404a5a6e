#include "RelaySession.h"

#include "SocketUtil.h"
#include "protocol/TransferPackets.h"

#include <QTcpSocket>
#include <cstring>

namespace {

// Reading from the sender stops while this much is still waiting to reach the receiver.
constexpr qint64 kReceiverHighWater = 2 * kBurstCapacity;
// What Qt reads ahead of the relay from the sender's connection: the relay takes the rest
// straight from the kernel (SocketUtil::readThrough), one copy less for every byte relayed.
constexpr qint64 kSenderReadBuffer = kPacketSize;
// The most read from the sender at once: a burst.
constexpr int kPendingCapacity = kBurstCapacity;
// The receiver answers one packet at a time.
constexpr qint64 kReceiverReadBuffer = 4 * kPacketSize;

// Room for the file's packets (its data and its end), at most a burst's: a small file needs no
// burst's room. The size comes from the wire: capped in packets before it is multiplied.
size_t pendingCapacity(const QByteArray &descriptor)
{
    const qint64 size = packetFrom<_PACKET_FILE_DISCRIBE>(descriptor).fileSize;
    const qint64 packets = size < 0 ? 1 : dataPacketCount(size) + 1;
    return size_t(qMin<qint64>(kPendingCapacity / kPacketSize, packets) * kPacketSize);
}

QString fileNameOf(const QString &relativePath)
{
    return relativePath.mid(relativePath.lastIndexOf(QLatin1Char('/')) + 1);
}

QString suffixOf(const QString &fileName)
{
    const int dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : fileName.mid(dot + 1);
}

QString findingName(ContentScanner::Finding finding)
{
    return finding == ContentScanner::Virus ? QStringLiteral("virus") : QStringLiteral("keyword");
}

quint64 verdictType(ContentScanner::Finding finding)
{
    return finding == ContentScanner::Virus ? kTypeVirusFound : kTypeKeywordFound;
}

} // namespace

RelaySession::RelaySession(
    QTcpSocket *sender, const QByteArray &descriptor, GapContext &context, QObject *parent)
    : QObject(parent)
    , m_sender(sender)
    , m_descriptor(descriptor)
    , m_context(context)
    , m_scanner(context.config.policy.keywords, context.config.policy.virusSignature)
{
    m_sender->setParent(this);
    m_sender->setReadBufferSize(kSenderReadBuffer);
    m_pending.resize(pendingCapacity(descriptor));
    m_senderBytes = descriptor.size();
    m_watchdog.setSingleShot(true);
    m_connectTimer.setSingleShot(true);
    connect(&m_watchdog, &QTimer::timeout, this, &RelaySession::onWatchdog);
    connect(&m_connectTimer, &QTimer::timeout, this, &RelaySession::onReceiverLost);
    connect(m_sender, &QIODevice::readyRead, this, &RelaySession::pumpSender);
    connect(m_sender, &QIODevice::bytesWritten, this, &RelaySession::touch);
    connect(m_sender, &QAbstractSocket::disconnected, this, &RelaySession::onSenderClosed);
}

void RelaySession::start()
{
    const auto descriptor = packetFrom<_PACKET_FILE_DISCRIBE>(m_descriptor);
    m_id = m_context.nextTransferId++;
    m_fileName = fileNameOf(
        QString::fromUtf8(fieldBytes(descriptor.relativePath, sizeof descriptor.relativePath)));
    m_faults = m_context.faults.takeForTransfer(m_fileName);
    m_context.log.write("relay-start",
        { { "id", QString::number(m_id) },
            { "sender", SocketUtil::plainAddress(m_sender->peerAddress()).toString() },
            { "path",
                QString::fromUtf8(
                    fieldBytes(descriptor.sendPathID, sizeof descriptor.sendPathID)) },
            { "from",
                QString::fromLatin1(fieldBytes(descriptor.fromUser, sizeof descriptor.fromUser)) },
            { "to", QString::fromLatin1(fieldBytes(descriptor.toUser, sizeof descriptor.toUser)) },
            { "file", m_fileName }, { "size", QString::number(qint64(descriptor.fileSize)) } });
    touch();
    if (m_faults.cutAfterBytes >= 0 && m_faults.cutAfterBytes <= m_senderBytes) {
        logFault(QStringLiteral("cut"), { { "bytes", QString::number(m_senderBytes) } });
        finish(QStringLiteral("cut"), true);
        return;
    }
    checkDescriptor();
}

void RelaySession::checkDescriptor()
{
    const auto descriptor = packetFrom<_PACKET_FILE_DISCRIBE>(m_descriptor);
    const GapPolicy &policy = m_context.config.policy;
    const qint64 size = descriptor.fileSize;
    const QString suffix = suffixOf(m_fileName);
    const GapPath *path = m_context.config.findPath(
        fieldBytes(descriptor.sendPathID, sizeof descriptor.sendPathID));
    if (m_faults.offlineAt == QLatin1String("type-check")) {
        logFault(QStringLiteral("offline"), { { "answer", m_faults.offlineAt } });
        refuse(kTypePeerOffline, QStringLiteral("offline-fault"));
    } else if (!suffix.isEmpty() && policy.refusedSuffixes.contains(suffix, Qt::CaseInsensitive)) {
        refuse(kTypeTypeRefused, QStringLiteral("suffix"));
    } else if (size < 0 || (policy.maxSize > 0 && size > policy.maxSize)) {
        refuse(kTypeSizeOutOfRange, QStringLiteral("size"));
    } else if (!path) {
        refuse(kTypePeerOffline, QStringLiteral("unknown-path"));
    } else {
        routeTo(*m_context.config.findUser(path->toUser));
    }
}

void RelaySession::routeTo(const GapUser &receiver)
{
    QHostAddress address = receiver.address;
    if (address.isNull())
        address = m_context.lastAddress.value(receiver.name);
    if (address.isNull())
        refuse(kTypePeerOffline, QStringLiteral("receiver-address-unknown"));
    else if (m_faults.offlineAt == QLatin1String("descriptor-response"))
        answerOfflineAtDescriptor();
    else
        connectReceiver(address, receiver.filePort);
}

// The type check passes, then the far side is reported offline without being contacted.
void RelaySession::answerOfflineAtDescriptor()
{
    answerSender(QStringLiteral("type-check"), packetBytes(buildReply(kTypeTypeAccepted)), [this] {
        logAnswer("type-check", kTypeTypeAccepted);
        logFault(QStringLiteral("offline"), { { "answer", m_faults.offlineAt } });
        answerSender(QStringLiteral("descriptor-response"),
            packetBytes(buildReply(kTypePeerOffline)), [this] {
                logAnswer("descriptor-response", kTypePeerOffline, QStringLiteral("offline-fault"));
                finish(QStringLiteral("offline"));
            });
    });
}

void RelaySession::refuse(quint64 type, const QString &reason)
{
    answerSender(QStringLiteral("type-check"), packetBytes(buildReply(type)), [this, type, reason] {
        logAnswer("type-check", type, reason);
        finish(QStringLiteral("refused"));
    });
}

void RelaySession::connectReceiver(const QHostAddress &address, quint16 port)
{
    m_phase = Phase::Connecting;
    m_receiver = new QTcpSocket(this);
    m_receiver->setReadBufferSize(kReceiverReadBuffer);
    connect(m_receiver, &QAbstractSocket::connected, this, &RelaySession::onReceiverConnected);
    connect(m_receiver, &QAbstractSocket::disconnected, this, &RelaySession::onReceiverLost);
    connect(m_receiver, &QAbstractSocket::errorOccurred, this, &RelaySession::onReceiverLost);
    connect(m_receiver, &QIODevice::readyRead, this, &RelaySession::onReceiverReadable);
    connect(m_receiver, &QIODevice::bytesWritten, this, [this] {
        touch();
        pumpSender();
    });
    m_context.log.write("receiver-connect",
        { { "id", QString::number(m_id) }, { "address", address.toString() },
            { "port", QString::number(port) } });
    if (!SocketUtil::bindToGapAddress(m_receiver, m_context.config.listenAddress, address)) {
        onReceiverLost();
        return;
    }
    m_connectTimer.start(m_context.config.connectTimeoutMs);
    m_receiver->connectToHost(address, port);
}

void RelaySession::onReceiverConnected()
{
    m_connectTimer.stop();
    m_receiver->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    touch();
    answerSender(QStringLiteral("type-check"), packetBytes(buildReply(kTypeTypeAccepted)), [this] {
        logAnswer("type-check", kTypeTypeAccepted);
        m_phase = Phase::AwaitingResponse;
        m_receiver->write(m_descriptor);
        onReceiverReadable();
    });
}

void RelaySession::onReceiverLost()
{
    switch (m_phase) {
    case Phase::Connecting:
        m_connectTimer.stop();
        refuse(kTypePeerOffline, QStringLiteral("receiver-unreachable"));
        break;
    case Phase::AwaitingResponse:
        onReceiverReadable();
        if (m_phase != Phase::AwaitingResponse)
            break;
        answerSender(QStringLiteral("descriptor-response"),
            packetBytes(buildReply(kTypePeerOffline)), [this] {
                logAnswer(
                    "descriptor-response", kTypePeerOffline, QStringLiteral("receiver-closed"));
                finish(QStringLiteral("receiver-closed"));
            });
        break;
    case Phase::Relaying:
    case Phase::AwaitingConfirmation:
        // What the receiver still had to say may be buffered behind the close.
        onReceiverReadable();
        if (m_phase == Phase::Relaying || m_phase == Phase::AwaitingConfirmation)
            finish(QStringLiteral("receiver-closed"));
        break;
    default:
        break;
    }
}

void RelaySession::onReceiverReadable()
{
    if (m_phase != Phase::AwaitingResponse && m_phase != Phase::AwaitingConfirmation)
        return;
    touch();
    const qint64 n
        = m_receiver->read(m_receiverPacket + m_receiverFill, kPacketSize - m_receiverFill);
    if (n > 0)
        m_receiverFill += int(n);
    if (m_receiverFill < kPacketSize)
        return;
    m_receiverFill = 0;
    const QByteArray packet(m_receiverPacket, kPacketSize);
    const quint64 type = packetType(m_receiverPacket);
    if (m_phase == Phase::AwaitingResponse) {
        answerSender(QStringLiteral("descriptor-response"), packet, [this, type] {
            logAnswer("descriptor-response", type);
            if (type != kTypeMetaAccepted) {
                finish(QStringLiteral("descriptor-refused"));
                return;
            }
            m_phase = Phase::Relaying;
            pumpSender();
        });
        return;
    }
    answerSender(QStringLiteral("confirmation"), packet, [this, type] {
        logAnswer("confirmation", type);
        finish(type == kTypeConfirmOk ? QStringLiteral("delivered")
                                      : QStringLiteral("confirmation-%1").arg(type));
    });
}

void RelaySession::onSenderClosed()
{
    m_senderClosed = true;
    switch (m_phase) {
    case Phase::Relaying:
    case Phase::Discarding:
        // Bytes the sender wrote before closing are still buffered: relay them first.
        pumpSender();
        break;
    case Phase::AwaitingConfirmation:
        // The receiver's answer is still worth waiting for: it shows how the file ended.
        break;
    default:
        finish(m_result.isEmpty() ? QStringLiteral("sender-closed") : m_result);
    }
}

void RelaySession::onWatchdog()
{
    if (m_phase == Phase::AwaitingResponse) {
        onReceiverLost();
        return;
    }
    finish(QStringLiteral("timeout"), true);
}

void RelaySession::pumpSender()
{
    while (m_phase == Phase::Relaying || m_phase == Phase::Discarding) {
        if (m_phase == Phase::Relaying) {
            if (m_receiver->state() != QAbstractSocket::ConnectedState) {
                finish(QStringLiteral("receiver-closed"));
                return;
            }
            if (m_receiver->bytesToWrite() >= kReceiverHighWater)
                return; // bytesWritten of the receiver resumes the pump
        }
        if (!hasWholePacket() && !readSender())
            break;
        handlePending();
    }
    if (m_phase == Phase::Done)
        return;
    const bool drained = m_senderClosed && m_sender->bytesAvailable() == 0;
    if (drained && (m_phase == Phase::Relaying || m_phase == Phase::Discarding))
        finish(m_result.isEmpty() ? QStringLiteral("sender-closed") : m_result);
}

bool RelaySession::hasWholePacket() const { return m_pendingEnd - m_pendingStart >= kPacketSize; }

// Reads what the sender has sent, as much as there is room for behind the part of a packet left
// over; true once a whole packet is there.
bool RelaySession::readSender()
{
    const int left = m_pendingEnd - m_pendingStart;
    std::memmove(m_pending.data(), m_pending.data() + m_pendingStart, size_t(left));
    m_pendingStart = 0;
    m_pendingEnd = left;
    qint64 want = qint64(m_pending.size()) - m_pendingEnd;
    const bool cutting = m_faults.cutAfterBytes >= 0;
    if (cutting)
        want = qMin(want, m_faults.cutAfterBytes - m_senderBytes);
    const qint64 n
        = want > 0 ? SocketUtil::readThrough(m_sender, m_pending.data() + m_pendingEnd, want) : 0;
    if (n > 0) {
        m_pendingEnd += int(n);
        m_senderBytes += n;
        touch();
    }
    if (cutting && m_senderBytes >= m_faults.cutAfterBytes) {
        logFault(QStringLiteral("cut"), { { "bytes", QString::number(m_senderBytes) } });
        finish(QStringLiteral("cut"), true);
        return false;
    }
    return hasWholePacket();
}

// Handles the whole packets read so far, in order, until one of them changes the phase.
void RelaySession::handlePending()
{
    while (hasWholePacket() && (m_phase == Phase::Relaying || m_phase == Phase::Discarding)) {
        char *packet = m_pending.data() + m_pendingStart;
        m_pendingStart += kPacketSize;
        handleSenderPacket(packet);
    }
    flushRun();
}

void RelaySession::handleSenderPacket(char *packet)
{
    const quint64 type = packetType(packet);
    const char *content = packet + offsetof(_PACKET_FILE_DATA, data);
    int size = kPayloadSize;
    const bool atFileEnd = type == kTypeFileEnd;
    if (atFileEnd) {
        size = readTailLength(
            packetFrom<_PACKET_FILE_END>(QByteArray::fromRawData(packet, kPacketSize)));
        content = packet + offsetof(_PACKET_FILE_END, tail);
    }
    if ((type != kTypeFileData && !atFileEnd) || size < 0) {
        m_context.log.write("protocol-error",
            { { "id", QString::number(m_id) }, { "type", QString::number(type) },
                { "offset", QString::number(m_contentBytes) } });
        finish(QStringLiteral("protocol-error"), true);
        return;
    }
    const qint64 offset = m_contentBytes;
    m_contentBytes += size;
    if (m_phase == Phase::Discarding) {
        if (atFileEnd)
            onFinding(ContentScanner::Clean, true);
        return;
    }
    const ContentScanner::Finding finding = m_scanner.scan(content, size);
    if (finding != ContentScanner::Clean) {
        onFinding(finding, atFileEnd);
        return;
    }
    relayPacket(packet, offset, size);
    if (!atFileEnd)
        return;
    flushRun();
    m_context.log.write("file-end",
        { { "id", QString::number(m_id) }, { "content", QString::number(m_contentBytes) } });
    m_phase = Phase::AwaitingConfirmation;
    touch();
    onReceiverReadable();
}

// Joins the packet to the run of packets to relay: the packets of a run lie one after the other.
void RelaySession::relayPacket(char *packet, qint64 contentOffset, int contentSize)
{
    const qint64 flip = m_faults.flipOffset;
    if (flip >= contentOffset && flip < contentOffset + contentSize) {
        const bool atFileEnd = packetType(packet) == kTypeFileEnd;
        const qint64 at = flip - contentOffset
            + (atFileEnd ? offsetof(_PACKET_FILE_END, tail) : offsetof(_PACKET_FILE_DATA, data));
        packet[at] = char(~packet[at]);
        logFault(QStringLiteral("flip"), { { "offset", QString::number(flip) } });
    }
    if (m_runLength == 0)
        m_runStart = int(packet - m_pending.data());
    m_runLength += kPacketSize;
    m_runContent += contentSize;
}

void RelaySession::flushRun()
{
    if (m_runLength == 0)
        return;
    if (m_receiver) {
        SocketUtil::writeThrough(m_receiver, m_pending.data() + m_runStart, m_runLength);
        m_relayedBytes += m_runContent;
    }
    m_runLength = 0;
    m_runContent = 0;
}

// A finding stops the relay to the receiver, which is told the verdict and drops its partial file;
// the sender's
// remaining data is still read to its file end, because a sender that cannot write would take
// the refusal for a broken link and try again.
void RelaySession::onFinding(ContentScanner::Finding finding, bool atFileEnd)
{
    flushRun(); // what came before the finding
    if (finding != ContentScanner::Clean) {
        m_pendingVerdict = verdictType(finding);
        m_result = findingName(finding);
        m_context.log.write("finding",
            { { "id", QString::number(m_id) }, { "kind", m_result },
                { "offset", QString::number(m_contentBytes) } });
        if (m_receiver) {
            // The receiver learns why its stream stops: the verdict as one bare answer.
            m_receiver->write(packetBytes(buildReply(m_pendingVerdict)));
            SocketUtil::closeWhenFlushed(m_receiver, this, m_context.config.timeoutMs);
            m_receiver = nullptr;
        }
    }
    const bool sendNow
        = m_context.config.policy.verdictTiming == VerdictTiming::DuringData || atFileEnd;
    const quint64 verdict = m_pendingVerdict;
    if (!sendNow || verdict == 0) {
        m_phase = Phase::Discarding;
        if (atFileEnd)
            finish(m_result);
        return;
    }
    m_pendingVerdict = 0;
    answerSender(
        QStringLiteral("verdict"), packetBytes(buildReply(verdict)), [this, verdict, atFileEnd] {
            logAnswer("verdict", verdict, m_result);
            if (atFileEnd) {
                finish(m_result);
                return;
            }
            m_phase = Phase::Discarding;
            pumpSender();
        });
}

void RelaySession::answerSender(
    const QString &answer, const QByteArray &packet, const std::function<void()> &then)
{
    auto deliver = [this, packet, then] {
        if (m_phase == Phase::Done)
            return;
        m_sender->write(packet);
        touch();
        then();
    };
    const int delayMs = m_faults.delayMs.value(answer, 0);
    if (delayMs <= 0) {
        deliver();
        return;
    }
    logFault(QStringLiteral("delay"), { { "answer", answer }, { "ms", QString::number(delayMs) } });
    m_phase = Phase::Held;
    m_watchdog.stop();
    QTimer::singleShot(delayMs, this, deliver);
}

void RelaySession::logAnswer(const QByteArray &event, quint64 type, const QString &reason)
{
    EventFields fields { { "id", QString::number(m_id) }, { "type", QString::number(type) } };
    if (!reason.isEmpty())
        fields.append({ "reason", reason });
    m_context.log.write(event, fields);
}

void RelaySession::logFault(const QString &kind, const EventFields &details)
{
    m_context.log.write(
        "fault", EventFields { { "id", QString::number(m_id) }, { "kind", kind } } + details);
}

void RelaySession::finish(const QString &result, bool abortConnections)
{
    if (m_phase == Phase::Done)
        return;
    m_phase = Phase::Done;
    m_watchdog.stop();
    m_connectTimer.stop();
    m_context.log.write("relay-end",
        { { "id", QString::number(m_id) }, { "result", result },
            { "received", QString::number(m_contentBytes) },
            { "relayed", QString::number(m_relayedBytes) } });
    for (QTcpSocket *socket : { m_sender, m_receiver }) {
        if (!socket)
            continue;
        if (abortConnections)
            socket->abort();
        SocketUtil::closeWhenFlushed(socket, this, m_context.config.timeoutMs);
    }
    m_sender = nullptr;
    m_receiver = nullptr;
    deleteLater();
}

void RelaySession::touch()
{
    if (m_phase == Phase::Done || m_phase == Phase::Held)
        return;
    m_watchdog.start(m_phase == Phase::AwaitingConfirmation ? m_context.config.confirmTimeoutMs
                                                            : m_context.config.timeoutMs);
}
