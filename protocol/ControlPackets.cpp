#include "protocol/ControlPackets.h"

#include "model/BaseFunction.h"

namespace {

int sendEntriesIn(const _PACKET_CONF_DATA &pkt)
{
    return int(qMin<quint64>(pkt.scount, kConfEntriesPerPacket));
}

int recvEntriesIn(const _PACKET_CONF_DATA &pkt)
{
    return int(qMin<quint64>(pkt.dcount, quint64(kConfEntriesPerPacket - sendEntriesIn(pkt))));
}

void putScrambled(char *field, int size, const QByteArray &text)
{
    putField(field, size, text);
    BaseFunction::crypPasswd(field);
}

} // namespace

_PACKET_LOGIN buildLoginRequest(
    const QByteArray &userName, const QByteArray &password, const QByteArray &hostIP)
{
    _PACKET_LOGIN pkt;
    zeroPacket(pkt);
    pkt.type = kTypeLoginRequest;
    putScrambled(pkt.userName, sizeof pkt.userName, userName);
    putScrambled(pkt.password, sizeof pkt.password, password);
    putField(pkt.hostIP, sizeof pkt.hostIP, hostIP);
    return pkt;
}

_PACKET_USER_REQUEST buildUserRequest(quint64 type, const QByteArray &userName)
{
    _PACKET_USER_REQUEST pkt;
    zeroPacket(pkt);
    pkt.type = type;
    putField(pkt.userName, sizeof pkt.userName, userName);
    return pkt;
}

_PACKET_LOGIN_RESPONSE buildLoginResponse(qint32 code, qint32 rightLevel)
{
    _PACKET_LOGIN_RESPONSE pkt;
    zeroPacket(pkt);
    pkt.type = kTypeLoginResponse;
    pkt.response = code;
    pkt.rightLevel = rightLevel;
    return pkt;
}

_PACKET_CONF_DATA buildConfData(
    const QVector<ConfSendEntry> &sends, const QVector<ConfRecvEntry> &recvs)
{
    _PACKET_CONF_DATA pkt;
    zeroPacket(pkt);
    pkt.type = kTypeConfData;
    const int sendCount = qMin(sends.size(), kConfEntriesPerPacket);
    const int recvCount = qMin(recvs.size(), kConfEntriesPerPacket - sendCount);
    for (int i = 0; i < sendCount; ++i) {
        _CONF_ENTRY &entry = pkt.entries[i];
        putField(entry.userName, sizeof entry.userName, sends[i].user);
        putField(entry.pathID, sizeof entry.pathID, sends[i].pathID);
        entry.level = sends[i].level;
    }
    for (int j = 0; j < recvCount; ++j) {
        _CONF_ENTRY &entry = pkt.entries[sendCount + j];
        putField(entry.userName, sizeof entry.userName, recvs[j].user);
        putField(entry.pathID, sizeof entry.pathID, recvs[j].pathID);
    }
    pkt.scount = quint64(sendCount);
    pkt.dcount = quint64(recvCount);
    return pkt;
}

key_info buildKeyInfo(quint64 length, bool flag, const QByteArray &name)
{
    key_info pkt;
    zeroPacket(pkt);
    pkt.type = kTypeKeyInfo;
    pkt.length = length;
    pkt.flag = flag ? 1 : 0;
    putField(pkt.name, sizeof pkt.name, name);
    return pkt;
}

QVector<ConfSendEntry> readConfSendEntries(const _PACKET_CONF_DATA &pkt)
{
    QVector<ConfSendEntry> entries;
    for (int i = 0; i < sendEntriesIn(pkt); ++i) {
        const _CONF_ENTRY &entry = pkt.entries[i];
        entries.append({ fieldBytes(entry.userName, sizeof entry.userName),
            fieldBytes(entry.pathID, sizeof entry.pathID), entry.level });
    }
    return entries;
}

QVector<ConfRecvEntry> readConfRecvEntries(const _PACKET_CONF_DATA &pkt)
{
    QVector<ConfRecvEntry> entries;
    const int first = sendEntriesIn(pkt);
    for (int j = 0; j < recvEntriesIn(pkt); ++j) {
        const _CONF_ENTRY &entry = pkt.entries[first + j];
        entries.append({ fieldBytes(entry.userName, sizeof entry.userName),
            fieldBytes(entry.pathID, sizeof entry.pathID) });
    }
    return entries;
}

qint32 keyDataLength(const key_info &info) { return qint32(quint32(quint64(info.length))); }

bool readKeyFileName(const key_info &info, QString *name)
{
    const int length = fieldLength(info.name, sizeof info.name);
    if (length == int(sizeof info.name))
        return false;
    *name = QString::fromUtf8(info.name, length);
    return true;
}
