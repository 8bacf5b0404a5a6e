#pragma once

#include <QByteArray>

class QHostAddress;

// Which connections to the file port become receiving workers. Only a listed gap delivers files,
// so any other peer is closed before it gets a row or a thread; and at most a bounded number of
// workers run at once, so that a flood of connections cannot exhaust threads and memory.
class RecvAdmission
{
public:
    static constexpr int kMaxConnections = 256;

    enum Verdict { Admitted, UnlistedPeer, TooMany };

    explicit RecvAdmission(int limit = kMaxConnections);

    // Judges one accepted connection by its peer and the number of receiving workers now alive.
    // The first connection turned away for the bound is logged, and how many were once it is over.
    Verdict judge(qintptr socketDescriptor, int workersAlive);
    void setLimit(int limit) { m_limit = limit; }

    // The text a gap is listed under for a peer address: IPv4 in IPv6 form reads as plain IPv4.
    static QByteArray gapAddressText(const QHostAddress &address);

private:
    int m_limit;
    int m_turnedAway = 0; // in the current burst
};
