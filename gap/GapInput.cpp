#include "gap/GapInput.h"

#include "model/GlobalData.h"

#include <QHostAddress>

namespace GapInput {

bool isGapAddress(const QString &text)
{
    QHostAddress address;
    if (!address.setAddress(text))
        return false;
    return address.protocol() == QAbstractSocket::IPv4Protocol
        || address.protocol() == QAbstractSocket::IPv6Protocol;
}

void fillGapRecord(
    _VKGAPIP_CONF *gap, const QString &address, const QString &user, const QString &password)
{
    gap->resetState();
    copyToField(gap->HostIP, kHostIPSize, address.toLatin1());
    copyToField(gap->LoginUserName, kUserNameSize, user.toLatin1());
    copyToField(gap->LoginPswd, kUserNameSize, password.toLatin1());
    gap->hostIPStr = address;
}

} // namespace GapInput
