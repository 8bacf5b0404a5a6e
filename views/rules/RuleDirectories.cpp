#include "views/rules/RuleDirectories.h"

#include "model/GlobalData.h"
#include "model/UniqueFd.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

const char *const kDirInUse = "文件目录已被使用,请重新选择！";
const char *const kRecvNotWritable = "接收目录不可写,请重新选择目录路径！";

// What a directory of one kind may not be to a directory of a rule of a kind: the texts for the
// same directory, for one inside it and for one above it.
struct Refusals {
    const char *same;
    const char *inside;
    const char *above;
};

const Refusals kSendToRecv { "发送目录路径不能和接收目录路径相同,请重新选择目录路径！",
    "发送目录位于接收目录之内,请重新选择目录路径！", "发送目录包含接收目录,请重新选择目录路径！" };
const Refusals kRecvToSend { "接收目录路径不能和发送目录路径相同,请重新选择目录路径！",
    "接收目录位于发送目录之内,请重新选择目录路径！", "接收目录包含发送目录,请重新选择目录路径！" };
const Refusals kSendToSend { kDirInUse, "发送目录位于另一发送目录之内,请重新选择目录路径！",
    "发送目录包含另一发送目录,请重新选择目录路径！" };

// Whether inner is outer or lies below it; both resolved.
bool isWithin(const QString &inner, const QString &outer)
{
    const QString prefix = outer.endsWith(QLatin1Char('/')) ? outer : outer + QLatin1Char('/');
    return inner == outer || inner.startsWith(prefix);
}

// The first directory of the list that dir equals, lies inside or lies above, told by refusals;
// the one at skipped counts only when it is the same.
QString meeting(const QString &dir, const QStringList &dirs, const Refusals &refusals,
    bool nested = true, int skipped = -1)
{
    const QString chosen = RuleDirectories::resolved(dir);
    for (int i = 0; i < dirs.size(); ++i) {
        const QString other = RuleDirectories::resolved(dirs.at(i));
        if (chosen == other)
            return QString::fromUtf8(refusals.same);
        if (!nested || i == skipped)
            continue;
        if (isWithin(chosen, other))
            return QString::fromUtf8(refusals.inside);
        if (isWithin(other, chosen))
            return QString::fromUtf8(refusals.above);
    }
    return QString();
}

} // namespace

QString RuleDirectories::resolved(const QString &dir)
{
    // A rule's directory that is gone can no longer be resolved: it is compared as cleaned text.
    const QFileInfo info(dir);
    const QString real = info.canonicalFilePath();
    return real.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : real;
}

QString RuleDirectories::conflict(
    Kind kind, const QString &dir, const Listed &listed, bool nestedSendRules)
{
    if (kind == Recv) {
        const QString same = meeting(dir, listed.recvDirs, { kDirInUse, nullptr, nullptr }, false);
        if (!same.isEmpty())
            return same;
        const QString other = meeting(dir, listed.sendDirs, kRecvToSend);
        if (!other.isEmpty())
            return other;
        // One that is not there is the caller's to judge (an import keeps it for a mount).
        const bool refused = QFileInfo(dir).isDir() && !isWritable(dir);
        return refused ? QString::fromUtf8(kRecvNotWritable) : QString();
    }
    const QString same
        = meeting(dir, listed.sendDirs, kSendToSend, nestedSendRules, listed.changedIndex);
    if (!same.isEmpty())
        return same;
    return meeting(dir, listed.recvDirs, kSendToRecv);
}

RuleDirectories::Listed RuleDirectories::ofRegistries(int changedIndex)
{
    Listed listed;
    const QList<_SENDPATH_LISTDATA *> sendRules = g_SendPathList.snapshot();
    for (const _SENDPATH_LISTDATA *rule : sendRules)
        listed.sendDirs << rule->SendPath;
    const QList<_RECVPATH_LISTDATA *> recvRules = g_RecvPathList.snapshot();
    for (const _RECVPATH_LISTDATA *rule : recvRules)
        listed.recvDirs << rule->RecvPath;
    listed.changedIndex = changedIndex;
    return listed;
}

bool RuleDirectories::isWritable(const QString &dir)
{
    const QByteArray path = QFile::encodeName(dir);
    // An unnamed file leaves nothing behind, whatever happens; not every file system has them.
    const UniqueFd unnamed(::open(path.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
    if (unnamed.isValid())
        return true;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        return false;
    QByteArray probe = path + "/.gapclient-probe-XXXXXX";
    const UniqueFd named(::mkstemp(probe.data()));
    if (!named.isValid())
        return false;
    ::unlink(probe.constData());
    return true;
}
