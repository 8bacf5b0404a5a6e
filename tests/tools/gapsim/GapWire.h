#pragma once

// Raw packets for tests, built and read at literal byte offsets, so that a test checks the wire
// layout itself rather than the packet structs of the code under test.

#include <QByteArray>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QtEndian>

namespace GapWire {

constexpr int kPacket = 1460;
constexpr int kPayload = 1444;
constexpr int kWaitMs = 20000;

inline QByteArray packet(quint64 type)
{
    QByteArray p(kPacket, '\0');
    qToLittleEndian<quint64>(type, p.data());
    return p;
}

// Written through replace() so that the bounds are checked at run time (and the optimiser does
// not guess at them).
template <typename T>
inline void putLittleEndian(QByteArray &p, int offset, T v)
{
    const T le = qToLittleEndian(v);
    p.replace(offset, int(sizeof le), reinterpret_cast<const char *>(&le), int(sizeof le));
}
inline void putU64(QByteArray &p, int offset, quint64 v)
{
    putLittleEndian(p, offset, v);
}
inline void putI32(QByteArray &p, int offset, qint32 v)
{
    putLittleEndian(p, offset, v);
}
inline void putText(QByteArray &p, int offset, const QByteArray &text)
{
    p.replace(offset, text.size(), text);
}

inline quint64 u64(const QByteArray &p, int offset)
{
    return qFromLittleEndian<quint64>(p.constData() + offset);
}
inline qint32 i32(const QByteArray &p, int offset)
{
    return qFromLittleEndian<qint32>(p.constData() + offset);
}
// The text of a NUL-terminated field.
inline QByteArray text(const QByteArray &p, int offset, int size)
{
    const QByteArray field = p.mid(offset, size);
    const int nul = field.indexOf('\0');
    return nul < 0 ? field : field.left(nul);
}

// A user request (rules 7, logout 22, keys 34) with the plain user name at offset 8.
inline QByteArray userRequest(quint64 type, const QByteArray &user)
{
    QByteArray p = packet(type);
    putText(p, 8, user);
    return p;
}

// A file descriptor: size at 8, sender address at 16, path key at 62, relative path at 102,
// users at 1126 and 1146, digest at 1166.
inline QByteArray descriptor(qint64 size, const QByteArray &pathKey, const QByteArray &relativePath,
    const QByteArray &md5 = QByteArray(32, 'A'))
{
    QByteArray p = packet(0);
    putU64(p, 8, quint64(size));
    putText(p, 16, "127.0.0.1");
    putText(p, 62, pathKey);
    putText(p, 102, relativePath);
    putText(p, 1126, "alice");
    putText(p, 1146, "bob");
    putText(p, 1166, md5.left(32));
    return p;
}

// The data packets and file end that carry content: whole payloads, then the tail.
inline QByteArray contentPackets(const QByteArray &content)
{
    QByteArray stream;
    int at = 0;
    for (; at + kPayload <= content.size(); at += kPayload) {
        QByteArray data = packet(1);
        putText(data, 8, content.mid(at, kPayload));
        stream += data;
    }
    QByteArray end = packet(2);
    putU64(end, 8, quint64(content.size() - at));
    putText(end, 16, content.mid(at));
    return stream + end;
}

// The content a stream of data packets and a file end carries.
inline QByteArray contentOf(const QByteArray &stream)
{
    QByteArray content;
    for (int at = 0; at + kPacket <= stream.size(); at += kPacket) {
        const QByteArray p = stream.mid(at, kPacket);
        if (u64(p, 0) == 1)
            content += p.mid(8, kPayload);
        else if (u64(p, 0) == 2)
            content += p.mid(16, int(u64(p, 8)));
    }
    return content;
}

// Writes and waits until the bytes have left: a test that then blocks on another socket must not
// leave them in this socket's buffer.
inline bool send(QTcpSocket &socket, const QByteArray &bytes)
{
    socket.write(bytes);
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(kWaitMs))
            return false;
    }
    return true;
}

// Reads until n bytes arrived, the peer closed, or the wait ended; returns what arrived.
inline QByteArray readBytes(QTcpSocket &socket, int n, int timeoutMs = kWaitMs)
{
    QByteArray got;
    QElapsedTimer clock;
    clock.start();
    while (got.size() < n && clock.elapsed() < timeoutMs) {
        got += socket.read(n - got.size());
        if (got.size() < n && !socket.waitForReadyRead(50)
            && socket.state() != QAbstractSocket::ConnectedState && socket.bytesAvailable() == 0)
            break;
    }
    return got;
}

// Whether the peer closed the connection within the wait; bytes arriving meanwhile are dropped.
inline bool waitForClose(QTcpSocket &socket, int timeoutMs = kWaitMs)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        if (socket.state() == QAbstractSocket::UnconnectedState)
            return true;
        socket.waitForReadyRead(50);
        socket.readAll();
    }
    return socket.state() == QAbstractSocket::UnconnectedState;
}

} // namespace GapWire
