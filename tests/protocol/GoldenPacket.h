#pragma once

#include <QByteArray>

// A 1460-byte packet written field by field at literal offsets, little-endian by hand, so that
// the layout the builders produce is checked against the wire format and not against the structs.
class GoldenPacket
{
public:
    GoldenPacket()
        : m_bytes(1460, '\0')
    {
    }

    GoldenPacket &u64(int offset, quint64 value) { return integer(offset, value, 8); }
    GoldenPacket &i64(int offset, qint64 value) { return integer(offset, quint64(value), 8); }
    GoldenPacket &i32(int offset, qint32 value) { return integer(offset, quint32(value), 4); }
    GoldenPacket &bytes(int offset, const QByteArray &text)
    {
        m_bytes.replace(offset, text.size(), text);
        return *this;
    }

    const QByteArray &data() const { return m_bytes; }

private:
    GoldenPacket &integer(int offset, quint64 value, int width)
    {
        for (int i = 0; i < width; ++i)
            m_bytes[offset + i] = char((value >> (8 * i)) & 0xff);
        return *this;
    }

    QByteArray m_bytes;
};

// The index of the first differing byte, or -1: a failing comparison names the offset.
inline int firstDifference(const QByteArray &a, const QByteArray &b)
{
    const int n = qMin(a.size(), b.size());
    for (int i = 0; i < n; ++i) {
        if (a[i] != b[i])
            return i;
    }
    return a.size() == b.size() ? -1 : n;
}
