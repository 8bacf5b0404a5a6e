#include "model/BaseFunction.h"
#include "model/GlobalData.h"
#include "protocol/ControlPackets.h"

#include <QList>
#include <QPair>
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

// A receiving user and the level the gap gives it.
using UserLevel = QPair<QByteArray, qint32>;

// Every send rule of this gap that sends to a user takes the user's new level, in the order the
// levels came. The rules' fields are read under sendTaskMutex, as a rule is changed in place
// under it; g_Mutex must not be held, as it is never nested.
void applyLevelsToRules(const _VKGAPIP_CONF *gap, const QList<UserLevel> &levels)
{
    const QByteArray host = fieldBytes(gap->HostIP, kHostIPSize);
    const QList<_SENDPATH_LISTDATA *> rules = g_SendPathList.snapshot();
    QMutexLocker lock(&sendTaskMutex);
    for (const UserLevel &level : levels) {
        for (_SENDPATH_LISTDATA *rule : rules) {
            if (rule && fieldBytes(rule->GapIP, kHostIPSize) == host
                && fieldBytes(rule->ToUser, kUserNameSize) == level.first)
                rule->RecviverLevel = level.second;
        }
    }
}

// Adds the packet's new send paths; returns the levels they give their receiving users.
QList<UserLevel> decodeSendEntries(_VKGAPIP_CONF *gap, const _PACKET_CONF_DATA &pkt)
{
    QList<UserLevel> levels;
    const quint64 scount = pkt.scount;
    if (scount == 0 || gap->sendPathCount >= kMaxPathsPerGap)
        return levels;
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
        levels.append({ toUser, entry.level });
        if (++gap->sendPathCount >= kMaxPathsPerGap)
            return levels;
    }
    return levels;
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
    QList<UserLevel> levels;
    {
        QMutexLocker lock(&g_Mutex);
        levels = decodeSendEntries(gap, *pkt);
        decodeRecvEntries(gap, *pkt);
    }
    applyLevelsToRules(gap, levels);
}
