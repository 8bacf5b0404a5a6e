#pragma once

// Packets of one file transfer: descriptor, data, file end, descriptor response and the bare
// answers. One file per TCP connection; every packet is 1460 bytes on the wire.

#include "protocol/PacketCommon.h"

#include <QByteArray>
#include <QString>

#include <optional>

constexpr int kPayloadSize = 1444;          // content bytes in one data packet
constexpr int kBurstPackets = 100;          // data packets per write
constexpr int kStagingCapacity = kBurstPackets * kPayloadSize;   // 144400
constexpr int kBurstCapacity = kBurstPackets * kPacketSize;      // 146000
constexpr int kRelativePathSize = 1024;
constexpr int kMd5TextSize = 32;

enum TransferPacketType : quint64 {
    kTypeFileDescriptor = 0,
    kTypeFileData = 1,
    kTypeFileEnd = 2,
    kTypeTypeAccepted = 3,
    kTypeTypeRefused = 4,
    kTypeConfirmOk = 5,
    kTypeMetaAccepted = 9,
    kTypeKeywordFound = 10,
    kTypeVirusFound = 11,
    kTypeSizeOutOfRange = 12,
    kTypeNameTooLong = 13,
    kTypeNoRecvPath = 14,
    kTypeConfirmMismatch = 15,
    kTypePeerOffline = 404,
};

#pragma pack(push, 1)

struct _PACKET_FILE_DISCRIBE {   // type 0; record covers 0..1197, sent as 1460 bytes
    quint64_le type;
    qint64_le fileSize;
    char localIP[46];
    char sendPathID[40];
    char relativePath[kRelativePathSize];   // UTF-8, "/" separated
    char fromUser[20];
    char toUser[20];
    char md5[kMd5TextSize];                 // upper-case hex, no terminator
    char reserved[262];
};

struct _PACKET_FILE_DATA {       // type 1
    quint64_le type;
    char data[kPayloadSize];
    char reserved[8];
};

struct _PACKET_FILE_END {        // type 2
    quint64_le type;
    qint64_le tailLength;        // 0 to 1443
    char tail[kPayloadSize];
};

struct _PACKET_META_RESPONSE {   // types 9, 13, 14
    quint64_le type;
    char localIP[46];
    char localIP2[46];
    char sendPathID[40];
    char relativePath[kRelativePathSize];
    char md5[kMd5TextSize];
    char reserved[264];
};

struct _PACKET_TRANSFER_REPLY {  // types 3, 4, 5, 10, 11, 12, 15, 404
    quint64_le type;
    char reserved[1452];
};

#pragma pack(pop)

static_assert(sizeof(_PACKET_FILE_DISCRIBE) == kPacketSize, "descriptor size");
PACKET_LAYOUT(_PACKET_FILE_DISCRIBE, fileSize, 8);
PACKET_LAYOUT(_PACKET_FILE_DISCRIBE, localIP, 16);
PACKET_LAYOUT(_PACKET_FILE_DISCRIBE, sendPathID, 62);
PACKET_LAYOUT(_PACKET_FILE_DISCRIBE, relativePath, 102);
PACKET_LAYOUT(_PACKET_FILE_DISCRIBE, fromUser, 1126);
PACKET_LAYOUT(_PACKET_FILE_DISCRIBE, toUser, 1146);
PACKET_LAYOUT(_PACKET_FILE_DISCRIBE, md5, 1166);
PACKET_LAYOUT(_PACKET_FILE_DISCRIBE, reserved, 1198);

static_assert(sizeof(_PACKET_FILE_DATA) == kPacketSize, "data packet size");
PACKET_LAYOUT(_PACKET_FILE_DATA, data, 8);
PACKET_LAYOUT(_PACKET_FILE_DATA, reserved, 1452);

static_assert(sizeof(_PACKET_FILE_END) == kPacketSize, "file end size");
PACKET_LAYOUT(_PACKET_FILE_END, tailLength, 8);
PACKET_LAYOUT(_PACKET_FILE_END, tail, 16);

static_assert(sizeof(_PACKET_META_RESPONSE) == kPacketSize, "descriptor response size");
PACKET_LAYOUT(_PACKET_META_RESPONSE, localIP, 8);
PACKET_LAYOUT(_PACKET_META_RESPONSE, localIP2, 54);
PACKET_LAYOUT(_PACKET_META_RESPONSE, sendPathID, 100);
PACKET_LAYOUT(_PACKET_META_RESPONSE, relativePath, 140);
PACKET_LAYOUT(_PACKET_META_RESPONSE, md5, 1164);
PACKET_LAYOUT(_PACKET_META_RESPONSE, reserved, 1196);

static_assert(sizeof(_PACKET_TRANSFER_REPLY) == kPacketSize, "reply size");

// Building and reading transfer packets. Every packet is built zero-filled.

// The descriptor of one file, or nothing when a text does not fit its field with its terminator
// (a cut path or name would deliver the file under another name) or the digest is not 32
// characters. The local address loses any "%" scope suffix.
std::optional<_PACKET_FILE_DISCRIBE>
buildDescriptor(qint64 fileSize, const QString &localAddress, const QByteArray &sendPathID,
                const QString &relativePath, const QByteArray &fromUser, const QByteArray &toUser,
                const QByteArray &md5);
// An address text without its scope suffix: everything from the last "%" on is removed.
QString addressWithoutScope(const QString &address);
// A file's path relative to its send directory: the directory and one separator are cut from the
// front, only the directory when its text already ends with a separator.
QString relativeSendPath(const QString &filePath, const QString &sendDir);

// A data packet carrying the kPayloadSize bytes at payload.
_PACKET_FILE_DATA buildDataPacket(const char *payload);
// The file end carrying the last length bytes (0 to kPayloadSize - 1) at tail.
_PACKET_FILE_END buildFileEnd(const char *tail, int length);
// The tail length of a received file end, or -1 when it lies outside 0 to kPayloadSize - 1.
int readTailLength(const _PACKET_FILE_END &end);
// A file of fileSize bytes travels as dataPacketCount data packets and a file end with
// tailLength bytes.
qint64 dataPacketCount(qint64 fileSize);
int tailLength(qint64 fileSize);

// The answer to a descriptor: kTypeMetaAccepted copies the descriptor's fields, any other type
// carries only the type.
_PACKET_META_RESPONSE buildMetaResponse(const _PACKET_FILE_DISCRIBE &descriptor, quint64 type);
_PACKET_TRANSFER_REPLY buildReply(quint64 type);
// Whether a received answer is a whole packet whose 8-byte type is exactly type.
bool hasType(const QByteArray &answer, quint64 type);
