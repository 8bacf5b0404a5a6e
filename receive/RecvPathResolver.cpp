#include "receive/RecvPathResolver.h"

#include "model/GlobalData.h"
#include "protocol/PacketCommon.h"

#include <QDateTime>
#include <QTextCodec>

namespace {

const QString kStampFormat = QStringLiteral("yyyyMMdd_hhmm_");

// The stamp of the last attempt is the longest: the time, the attempt number and a separator.
int longestStampBytes()
{
    return kStampFormat.size() + QByteArray::number(RecvPathResolver::kMaxNameAttempts - 1).size()
        + 1;
}

bool isValidUtf8(const QByteArray &bytes)
{
    QTextCodec::ConverterState state;
    QTextCodec::codecForMib(106)->toUnicode(bytes.constData(), bytes.size(), &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

} // namespace

_RECVPATH_LISTDATA *RecvPathResolver::findRecvPath(
    const QString &ruleKey, QString *recvDir, const QByteArray &gapAddress)
{
    QMutexLocker lock(&recvWorkMutex);
    const QList<_RECVPATH_LISTDATA *> rules = g_RecvPathList.snapshot();
    for (_RECVPATH_LISTDATA *rule : rules) {
        if (QString::fromLatin1(fieldBytes(rule->RecvPathID, kPathIDSize)) == ruleKey
            && fieldBytes(rule->GapIP, kHostIPSize) == gapAddress) {
            *recvDir = rule->RecvPath;
            ++rule->useCount;
            return rule;
        }
    }
    return nullptr;
}

void RecvPathResolver::releaseRecvPath(_RECVPATH_LISTDATA *rule)
{
    QMutexLocker lock(&recvWorkMutex);
    --rule->useCount;
}

bool RecvPathResolver::isPlaceable(const QByteArray &relativePath)
{
    if (relativePath.isEmpty() || relativePath.size() >= kMaxRelativePathBytes
        || relativePath.contains('\\') || relativePath.contains('\0'))
        return false;
    const QList<QByteArray> names = relativePath.split('/');
    for (const QByteArray &name : names) {
        if (name.isEmpty() || name == "." || name == "..")
            return false;
    }
    return isValidUtf8(relativePath) && names.last().size() + longestStampBytes() <= kMaxNameBytes;
}

QByteArray RecvPathResolver::stampedName(const QByteArray &name, const QDateTime &now, int attempt)
{
    QByteArray stamp = now.toString(kStampFormat).toLatin1();
    if (attempt > 1)
        stamp += QByteArray::number(attempt) + '_';
    return stamp + name;
}
