#include "protocol/TransferPackets.h"

std::optional<_PACKET_FILE_DISCRIBE> buildDescriptor(qint64 fileSize, const QString &localAddress,
    const QByteArray &sendPathID, const QString &relativePath, const QByteArray &fromUser,
    const QByteArray &toUser, const QByteArray &md5)
{
    _PACKET_FILE_DISCRIBE pkt;
    zeroPacket(pkt);
    pkt.type = kTypeFileDescriptor;
    pkt.fileSize = fileSize;
    const bool fits
        = putField(pkt.localIP, sizeof pkt.localIP, addressWithoutScope(localAddress).toLatin1())
        && putField(pkt.sendPathID, sizeof pkt.sendPathID, sendPathID)
        && putField(pkt.relativePath, sizeof pkt.relativePath, relativePath.toUtf8())
        && putField(pkt.fromUser, sizeof pkt.fromUser, fromUser)
        && putField(pkt.toUser, sizeof pkt.toUser, toUser);
    if (!fits || md5.size() != kMd5TextSize)
        return std::nullopt;
    std::memcpy(pkt.md5, md5.constData(), kMd5TextSize);
    return pkt;
}

QString addressWithoutScope(const QString &address)
{
    const int scope = address.lastIndexOf(QLatin1Char('%'));
    return scope < 0 ? address : address.left(scope);
}

QString relativeSendPath(const QString &filePath, const QString &sendDir)
{
    // A directory that already ends with a separator brings its own. The wire format names only
    // the backslash; a directory such as "/data/" ends with one too, and cutting one more
    // character would eat the first letter of every file name.
    const bool endsWithSeparator
        = sendDir.endsWith(QLatin1Char('\\')) || sendDir.endsWith(QLatin1Char('/'));
    return filePath.mid(sendDir.length() + (endsWithSeparator ? 0 : 1));
}

_PACKET_FILE_DATA buildDataPacket(const char *payload)
{
    _PACKET_FILE_DATA pkt;
    zeroPacket(pkt);
    pkt.type = kTypeFileData;
    std::memcpy(pkt.data, payload, kPayloadSize);
    return pkt;
}

_PACKET_FILE_END buildFileEnd(const char *tail, int length)
{
    _PACKET_FILE_END pkt;
    zeroPacket(pkt);
    pkt.type = kTypeFileEnd;
    const int kept = qBound(0, length, kPayloadSize - 1);
    pkt.tailLength = kept;
    if (kept > 0)
        std::memcpy(pkt.tail, tail, size_t(kept));
    return pkt;
}

int readTailLength(const _PACKET_FILE_END &end)
{
    const qint64 length = end.tailLength;
    return length >= 0 && length < kPayloadSize ? int(length) : -1;
}

qint64 dataPacketCount(qint64 fileSize) { return fileSize / kPayloadSize; }

int tailLength(qint64 fileSize) { return int(fileSize % kPayloadSize); }

_PACKET_META_RESPONSE buildMetaResponse(const _PACKET_FILE_DISCRIBE &descriptor, quint64 type)
{
    _PACKET_META_RESPONSE pkt;
    zeroPacket(pkt);
    pkt.type = type;
    if (type != kTypeMetaAccepted)
        return pkt;
    std::memcpy(pkt.localIP, descriptor.localIP, sizeof pkt.localIP);
    std::memcpy(pkt.localIP2, descriptor.localIP, sizeof pkt.localIP2);
    std::memcpy(pkt.sendPathID, descriptor.sendPathID, sizeof pkt.sendPathID);
    std::memcpy(pkt.relativePath, descriptor.relativePath, sizeof pkt.relativePath);
    std::memcpy(pkt.md5, descriptor.md5, sizeof pkt.md5);
    return pkt;
}

_PACKET_TRANSFER_REPLY buildReply(quint64 type)
{
    _PACKET_TRANSFER_REPLY pkt;
    zeroPacket(pkt);
    pkt.type = type;
    return pkt;
}

bool hasType(const QByteArray &answer, quint64 type)
{
    return answer.size() == kPacketSize && packetType(answer.constData()) == type;
}
