#pragma once

#include <QByteArray>

class QHostAddress;

// Which connections to the file port become receiving workers. Only a listed gap delivers files,
// so any other peer is closed before it gets a row or a thread; at most a bounded number of
// workers run at once, so that a flood of connections cannot exhaust threads and memory; and a
// worker starts only while the process has the descriptors it needs left over, so that no flood
// takes the last ones (a thread that cannot make its wake-up descriptor ends the whole process).
class RecvAdmission
{
public:
    static constexpr int kMaxConnections = 256;
    // What one receiving worker holds at most: its socket, its thread's wake-up, the receive
    // directory, the deepest directory of its path, its content file, a directory its commit
    // creates, and spares.
    static constexpr int kDescriptorsPerWorker = 8;
    // Kept free for the rest of the process: the window, the sending side, the audit store.
    static constexpr int kSpareDescriptors = 64;

    enum Verdict { Admitted, UnlistedPeer, TooMany, NoDescriptors };

    explicit RecvAdmission(int limit = kMaxConnections);

    // Judges one accepted connection by its peer, the number of receiving workers now alive and
    // the descriptors the process has open. The first connection turned away for the bound or the
    // descriptors is logged, and how many were once it is over.
    Verdict judge(qintptr socketDescriptor, int workersAlive);
    void setLimit(int limit) { m_limit = limit; }

    // The text a gap is listed under for a peer address: IPv4 in IPv6 form reads as plain IPv4.
    static QByteArray gapAddressText(const QHostAddress &address);

    // Whether one more worker fits the process's open-file limit beside the ones alive.
    static bool hasDescriptorsFor(int workersAlive);

private:
    Verdict turnAway(Verdict verdict, int workersAlive);

    int m_limit;
    int m_turnedAway = 0; // in the current burst
};
