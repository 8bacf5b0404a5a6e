#include "model/BaseFunction.h"
#include "model/GlobalData.h"
#include "protocol/ControlPackets.h"

#include <QtDebug>

// The configuration-data decoder: merges one packet into a gap record and the send rules. It only
// ever adds paths; a fresh picture needs the record emptied first (SocketTools::recvConfInfo).

namespace {

constexpr int kEntryUserSize = sizeof(_CONF_ENTRY::userName);
constexpr int kEntryPathSize = sizeof(_CONF_ENTRY::pathID);

QString utf8Field(const char *field, int size)
{
    return QString::fromUtf8(field, fieldLength(field, size));
}

// Logs every stored send path equal to pathID; true when there was one.
bool isKnownSendPath(const _VKGAPIP_CONF *gap, const QString &pathID)
{
    bool known = false;
    for (int k = 0; k < gap->sendPathCount; ++k) {
        if (gap->sendPaths[k].pathID == pathID) {
            qWarning().noquote() << "--" << k << "--"
                                 << "sendpath:" << gap->sendPaths[k].pathID;
            known = true;
        }
    }
    return known;
}

bool isKnownRecvPath(const _VKGAPIP_CONF *gap, const QString &pathID)
{
    for (int k = 0; k < gap->recvPathCount; ++k) {
        if (gap->recvPaths[k].pathID == pathID)
            return true;
    }
    return false;
}

// Every send rule of this gap that sends to toUser takes the receiving user's new level.
void applyLevelToRules(const _VKGAPIP_CONF *gap, const QByteArray &toUser, qint32 level)
{
    const QByteArray host = fieldBytes(gap->HostIP, kHostIPSize);
    const QList<_SENDPATH_LISTDATA *> rules = g_SendPathList.snapshot();
    for (_SENDPATH_LISTDATA *rule : rules) {
        if (rule && fieldBytes(rule->GapIP, kHostIPSize) == host
            && fieldBytes(rule->ToUser, kUserNameSize) == toUser)
            rule->RecviverLevel = level;
    }
}

void decodeSendEntries(_VKGAPIP_CONF *gap, const _PACKET_CONF_DATA &pkt)
{
    const quint64 scount = pkt.scount;
    if (scount == 0 || gap->sendPathCount >= kMaxPathsPerGap)
        return;
    for (quint64 i = 0; i < scount && i < quint64(kConfEntriesPerPacket); ++i) {
        const _CONF_ENTRY &entry = pkt.entries[i];
        const QByteArray toUser = fieldBytes(entry.userName, kEntryUserSize);
        // Compared in the decoding it is stored in, so that a key outside ASCII is still
        // recognised as the same path.
        const QString pathID = utf8Field(entry.pathID, kEntryPathSize);
        if (isKnownSendPath(gap, pathID))
            continue;
        _GAP_SEND_PATH &stored = gap->sendPaths[gap->sendPathCount];
        stored.pathID = pathID;
        stored.toUser = QString::fromLatin1(toUser);
        stored.level = entry.level;
        applyLevelToRules(gap, toUser, entry.level);
        if (++gap->sendPathCount >= kMaxPathsPerGap)
            return;
    }
}

void decodeRecvEntries(_VKGAPIP_CONF *gap, const _PACKET_CONF_DATA &pkt)
{
    // The receive entries sit behind all scount send entries, however many of those were used.
    const quint64 scount = pkt.scount;
    const quint64 dcount = pkt.dcount;
    if (dcount == 0 || gap->recvPathCount >= kMaxPathsPerGap
        || scount >= quint64(kConfEntriesPerPacket))
        return;
    for (quint64 j = 0; j < dcount && scount + j < quint64(kConfEntriesPerPacket); ++j) {
        const _CONF_ENTRY &entry = pkt.entries[scount + j];
        const QString pathID = utf8Field(entry.pathID, kEntryPathSize);
        if (isKnownRecvPath(gap, pathID))
            continue;
        _GAP_RECV_PATH &stored = gap->recvPaths[gap->recvPathCount];
        stored.pathID = pathID;
        stored.fromUser = utf8Field(entry.userName, kEntryUserSize);
        if (++gap->recvPathCount >= kMaxPathsPerGap)
            return;
    }
}

} // namespace

void BaseFunction::DealWithConfData(_VKGAPIP_CONF *gap, const _PACKET_CONF_DATA *pkt)
{
    QMutexLocker lock(&g_Mutex);
    decodeSendEntries(gap, *pkt);
    decodeRecvEntries(gap, *pkt);
}
