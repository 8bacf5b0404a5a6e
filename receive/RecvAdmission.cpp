#include "receive/RecvAdmission.h"

#include "model/BaseFunction.h"

#include <QHostAddress>
#include <QtDebug>
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
    if (workersAlive >= m_limit) {
        if (m_turnedAway++ == 0)
            qWarning().noquote() << "file port:" << m_limit
                                 << "transfers at once; further connections are closed";
        return TooMany;
    }
    if (m_turnedAway > 0) {
        qWarning().noquote() << "file port: closed" << m_turnedAway << "connections over the bound";
        m_turnedAway = 0;
    }
    return Admitted;
}

QByteArray RecvAdmission::gapAddressText(const QHostAddress &address)
{
    bool isIPv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIPv4);
    return (isIPv4 ? QHostAddress(ipv4) : address).toString().toLatin1();
}
