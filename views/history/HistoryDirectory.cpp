#include "views/history/HistoryDirectory.h"

#include "model/GlobalData.h"
#include "views/history/HistoryRow.h"

#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QStringList>
#include <algorithm>

namespace {

QByteArray fieldText(const char *field, int size)
{
    return QByteArray(field, int(strnlen(field, size)));
}

// The same gap however its address was written ("::ffff:10.0.0.1" and "10.0.0.1" alike).
bool sameGap(const QByteArray &eventGap, const char *ruleGap)
{
    const QByteArray rule = fieldText(ruleGap, kHostIPSize);
    const QHostAddress a(QString::fromLatin1(eventGap));
    const QHostAddress b(QString::fromLatin1(rule));
    if (a.isNull() || b.isNull())
        return eventGap == rule;
    return a.isEqual(b, QHostAddress::TolerantConversion);
}

QStringList sendDirectories(const HistoryRow &row)
{
    QStringList directories;
    const QList<_SENDPATH_LISTDATA *> rules = g_SendPathList.snapshot();
    for (const _SENDPATH_LISTDATA *rule : rules) {
        if (sameGap(row.event.gap, rule->GapIP)
            && fieldText(rule->FromUser, kUserNameSize) == row.event.user
            && fieldText(rule->ToUser, kUserNameSize) == row.detail.peerUser)
            directories.append(rule->SendPath);
    }
    return directories;
}

QStringList receiveDirectories(const HistoryRow &row)
{
    QStringList directories;
    const QList<_RECVPATH_LISTDATA *> rules = g_RecvPathList.snapshot();
    for (const _RECVPATH_LISTDATA *rule : rules) {
        if (sameGap(row.event.gap, rule->GapIP)
            && fieldText(rule->FromUser, kUserNameSize) == row.detail.peerUser)
            directories.append(rule->RecvPath);
    }
    return directories;
}

QString choose(QStringList directories, const QByteArray &fileName)
{
    directories.removeDuplicates();
    directories.erase(std::remove_if(directories.begin(), directories.end(),
                          [](const QString &d) { return !QFileInfo(d).isDir(); }),
        directories.end());
    if (directories.size() == 1)
        return directories.first();
    const QString name = QString::fromUtf8(fileName);
    QString holder;
    for (const QString &directory : qAsConst(directories)) {
        if (name.isEmpty() || !QFileInfo::exists(QDir(directory).filePath(name)))
            continue;
        if (!holder.isEmpty())
            return {};
        holder = directory;
    }
    return holder;
}

// The rule's directory the event's file belongs to.
QString ruleDirectory(const HistoryRow &row)
{
    switch (row.kind) {
    case AuditKind::Send:
        return choose(sendDirectories(row), row.detail.fileName);
    case AuditKind::Receive:
        return choose(receiveDirectories(row), row.detail.fileName);
    default:
        return {};
    }
}

// The event's file below the directory; empty when its name would lead outside.
QString pathBelow(const QString &directory, const QByteArray &fileName)
{
    if (directory.isEmpty() || fileName.isEmpty())
        return {};
    const QString path = QDir::cleanPath(QDir(directory).filePath(QString::fromUtf8(fileName)));
    return path.startsWith(QDir::cleanPath(directory) + '/') ? path : QString();
}

} // namespace

QString HistoryDirectory::of(const HistoryRow &row)
{
    const QString directory = ruleDirectory(row);
    const QString file = pathBelow(directory, row.detail.fileName);
    const QString folder = QFileInfo(file).absolutePath();
    return !file.isEmpty() && QFileInfo(folder).isDir() ? folder : directory;
}

QString HistoryDirectory::fileOf(const HistoryRow &row)
{
    const QString file = pathBelow(ruleDirectory(row), row.detail.fileName);
    return QFileInfo(file).isFile() ? file : QString();
}
