#pragma once

// Framing shared by the control and the file-transfer protocols: every packet is exactly 1460
// bytes, integers are little-endian on the wire whatever the host (Qt's *_le storage types), text
// fields are NUL-terminated inside fixed widths, and every uncovered byte is zero.

#include <QtEndian>
#include <QByteArray>

#include <cstddef>
#include <cstring>
#include <type_traits>

constexpr int kPacketSize = 1460;

// Packet records are built zero-filled; a packet is sent as exactly kPacketSize bytes.
template <typename Packet>
void zeroPacket(Packet &p)
{
    static_assert(std::is_trivially_copyable<Packet>::value, "packets are plain bytes");
    std::memset(static_cast<void *>(&p), 0, sizeof(Packet));
}

// The type of any packet: its first 8 bytes, little-endian.
inline quint64 packetType(const char *packet)
{
    return qFromLittleEndian<quint64>(packet);
}

// Length of a NUL-terminated text inside a fixed field; a field without terminator counts whole.
inline int fieldLength(const char *field, int size)
{
    const void *nul = std::memchr(field, 0, size_t(size));
    return nul ? int(static_cast<const char *>(nul) - field) : size;
}

inline QByteArray fieldBytes(const char *field, int size)
{
    return QByteArray(field, fieldLength(field, size));
}

// Writes text into a fixed field up to its first NUL and at most size - 1 bytes, zeroing the rest
// of the field; returns false if the text had to be cut.
inline bool putField(char *field, int size, const QByteArray &text)
{
    std::memset(field, 0, size_t(size));
    const int length = fieldLength(text.constData(), text.size());
    const int kept = qMin(length, size - 1);
    std::memcpy(field, text.constData(), size_t(kept));
    return kept == text.size();
}

// The bytes of a packet as sent: always kPacketSize.
template <typename Packet>
QByteArray packetBytes(const Packet &p)
{
    static_assert(sizeof(Packet) == kPacketSize, "packets are sent whole");
    return QByteArray(reinterpret_cast<const char *>(&p), kPacketSize);
}

// A packet record from received bytes: what arrived is copied, the rest stays zero.
template <typename Packet>
Packet packetFrom(const QByteArray &bytes)
{
    Packet p;
    zeroPacket(p);
    std::memcpy(static_cast<void *>(&p), bytes.constData(),
                size_t(qMin(bytes.size(), int(sizeof(Packet)))));
    return p;
}

#define PACKET_LAYOUT(Type, member, offset) \
    static_assert(offsetof(Type, member) == (offset), #Type "." #member " must be at " #offset)
