#include "thread/RecvPathResolver.h"

#include "model/GlobalData.h"
#include "protocol/PacketCommon.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QtDebug>

namespace {

const QString kStampFormat = QStringLiteral("yyyyMMdd_hhmm_");
const QString kPartName = QStringLiteral(".gaprecv-%1.part");

QString lastElement(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
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

QString RecvPathResolver::createMutiDir(const QString &path)
{
    if (!QDir(path).exists())
        QDir().mkpath(path);
    return path;
}

bool RecvPathResolver::isSafeRelativePath(const QByteArray &relativePath)
{
    if (relativePath.isEmpty() || relativePath.contains('\\') || relativePath.contains('\0'))
        return false;
    const QList<QByteArray> names = relativePath.split('/');
    for (const QByteArray &name : names) {
        if (name.isEmpty() || name == "." || name == "..")
            return false;
    }
    return true;
}

QString RecvPathResolver::candidatePath(
    const QString &recvDir, const QString &relativePath, const QDateTime &now, int attempt)
{
    if (attempt == 0)
        return recvDir + QLatin1Char('/') + relativePath;
    QString stamp = now.toString(kStampFormat);
    if (attempt > 1)
        stamp += QString::number(attempt) + QLatin1Char('_');
    return recvDir + QLatin1Char('/') + stamp + lastElement(relativePath);
}

QString RecvPathResolver::freePath(
    const QString &recvDir, const QString &relativePath, const QDateTime &now)
{
    QString path = candidatePath(recvDir, relativePath, now, 0);
    qDebug() << path;
    for (int attempt = 1; attempt < kMaxNameAttempts && QFileInfo::exists(path); ++attempt) {
        path = candidatePath(recvDir, relativePath, now, attempt);
        qDebug() << "附带时间戳的文件名" << lastElement(path);
    }
    return path;
}

QString RecvPathResolver::partPath(const QString &finalPath, int attempt)
{
    return finalPath.left(finalPath.lastIndexOf(QLatin1Char('/')) + 1) + kPartName.arg(attempt);
}
