#include "receive/RecvAdmission.h"

#include "model/BaseFunction.h"

#include <QHostAddress>
#include <QtDebug>
#include <dirent.h>
#include <limits>
#include <sys/resource.h>
#include <sys/socket.h>

namespace {

QHostAddress peerOf(qintptr socketDescriptor)
{
    sockaddr_storage peer {};
    socklen_t length = sizeof peer;
    if (::getpeername(int(socketDescriptor), reinterpret_cast<sockaddr *>(&peer), &length) != 0)
        return QHostAddress();
    return QHostAddress(reinterpret_cast<const sockaddr *>(&peer));
}

// The descriptors this process has open; as good as all of them when it cannot tell.
qint64 openDescriptors()
{
    DIR *dir = ::opendir("/proc/self/fd");
    if (!dir)
        return std::numeric_limits<int>::max();
    qint64 count = -1; // the listing's own descriptor
    while (const dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.')
            ++count;
    }
    ::closedir(dir);
    return count;
}

} // namespace

RecvAdmission::RecvAdmission(int limit)
    : m_limit(limit)
{
}

RecvAdmission::Verdict RecvAdmission::judge(qintptr socketDescriptor, int workersAlive)
{
    const QByteArray peer = gapAddressText(peerOf(socketDescriptor));
    if (!BaseFunction::findVkgapinfo(QString::fromLatin1(peer))) {
        qDebug() << "file connection from" << peer << "which is no listed gap: closed";
        return UnlistedPeer;
    }
    if (workersAlive >= m_limit)
        return turnAway(TooMany, workersAlive);
    if (!hasDescriptorsFor(workersAlive))
        return turnAway(NoDescriptors, workersAlive);
    if (m_turnedAway > 0) {
        qWarning().noquote() << "file port: closed" << m_turnedAway << "connections over the bound";
        m_turnedAway = 0;
    }
    return Admitted;
}

RecvAdmission::Verdict RecvAdmission::turnAway(Verdict verdict, int workersAlive)
{
    if (m_turnedAway++ > 0)
        return verdict;
    if (verdict == TooMany)
        qWarning().noquote() << "file port:" << m_limit
                             << "transfers at once; further connections are closed";
    else
        qWarning().noquote() << "file port: too few descriptors left beside" << workersAlive
                             << "transfers; further connections are closed";
    return verdict;
}

// Counts the descriptors of the workers alive twice, as open and as still to be opened: a worker
// may not have opened all of its own yet.
bool RecvAdmission::hasDescriptorsFor(int workersAlive)
{
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return true;
    const qint64 needed
        = openDescriptors() + qint64(workersAlive + 1) * kDescriptorsPerWorker + kSpareDescriptors;
    return needed <= qint64(limit.rlim_cur);
}

QByteArray RecvAdmission::gapAddressText(const QHostAddress &address)
{
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    return (isIPv4 ? QHostAddress(ipv4) : address).toString().toLatin1();
}
