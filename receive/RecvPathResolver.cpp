#include "receive/RecvPathResolver.h"

#include "model/GlobalData.h"
#include "protocol/PacketCommon.h"

#include <QDateTime>
#include <QTextCodec>

namespace {

const QString kStampFormat = QStringLiteral("yyyyMMdd_hhmm_");

bool isContinuationByte(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// The longest start of valid UTF-8 text that has at most maxBytes bytes.
QByteArray utf8Prefix(const QByteArray &text, int maxBytes)
{
    if (text.size() <= maxBytes)
        return text;
    int cut = qMax(maxBytes, 0);
    while (cut > 0 && isContinuationByte(text.at(cut)))
        --cut;
    return text.left(cut);
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
    return isValidUtf8(relativePath);
}

QByteArray RecvPathResolver::stampedName(
    const QByteArray &name, const QDateTime &now, int attempt, int maxBytes)
{
    QByteArray stamp = now.toString(kStampFormat).toLatin1();
    if (attempt > 1)
        stamp += QByteArray::number(attempt) + '_';
    const int room = maxBytes - stamp.size();
    if (name.size() <= room)
        return stamp + name;
    const int dot = name.lastIndexOf('.');
    QByteArray suffix = dot > 0 ? name.mid(dot) : QByteArray();
    if (suffix.size() >= room)
        suffix.clear(); // a suffix that leaves no room for the name is no suffix worth keeping
    const QByteArray base = name.left(name.size() - suffix.size());
    return stamp + utf8Prefix(base, room - suffix.size()) + suffix;
}
