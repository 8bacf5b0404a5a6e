#include "GapTestSupport.h"

#include "gap/RecvConfThread.h"

namespace {

QMutex logMutex;
QStringList logLines;
QtMessageHandler previousHandler = nullptr;

} // namespace

namespace GapTest {

std::unique_ptr<_VKGAPIP_CONF> makeGap(
    const QByteArray &host, const QByteArray &user, const QByteArray &password)
{
    auto gap = std::make_unique<_VKGAPIP_CONF>();
    copyToField(gap->HostIP, kHostIPSize, host);
    copyToField(gap->LoginUserName, kUserNameSize, user);
    copyToField(gap->LoginPswd, kUserNameSize, password);
    gap->hostIPStr = QString::fromLatin1(host);
    return gap;
}

QString stateOf(const _VKGAPIP_CONF &gap)
{
    return QStringLiteral("conn=%1 login=%2 conf=%3 restart=%4 paths=%5/%6")
        .arg(gap.connState)
        .arg(int(gap.isLogin))
        .arg(int(gap.confGetted))
        .arg(int(gap.restart))
        .arg(gap.sendPathCount)
        .arg(gap.recvPathCount);
}

QStringList sendPathIDs(const _VKGAPIP_CONF &gap)
{
    QMutexLocker lock(&g_Mutex);
    QStringList ids;
    for (int i = 0; i < gap.sendPathCount; ++i)
        ids.append(gap.sendPaths[i].pathID);
    return ids;
}

QStringList recvPathIDs(const _VKGAPIP_CONF &gap)
{
    QMutexLocker lock(&g_Mutex);
    QStringList ids;
    for (int i = 0; i < gap.recvPathCount; ++i)
        ids.append(gap.recvPaths[i].pathID);
    return ids;
}

void storePaths(_VKGAPIP_CONF &gap, const QStringList &sendIDs, const QStringList &recvIDs)
{
    QMutexLocker lock(&g_Mutex);
    for (int i = 0; i < sendIDs.size(); ++i)
        gap.sendPaths[i].pathID = sendIDs.at(i);
    for (int i = 0; i < recvIDs.size(); ++i)
        gap.recvPaths[i].pathID = recvIDs.at(i);
    gap.sendPathCount = sendIDs.size();
    gap.recvPathCount = recvIDs.size();
}

QByteArray loginAnswer(qint32 code, qint32 level)
{
    return packetBytes(buildLoginResponse(code, level));
}

QByteArray confAnswer(const QVector<ConfSendEntry> &sends, const QVector<ConfRecvEntry> &recvs)
{
    return packetBytes(buildConfData(sends, recvs));
}

QByteArray keyAnswer(quint64 length, bool flag, const QByteArray &name, const QByteArray &data)
{
    return packetBytes(buildKeyInfo(length, flag, name)) + data;
}

QByteArray packetOfType(quint64 type)
{
    QByteArray bytes(kPacketSize, '\0');
    qToLittleEndian<quint64>(type, bytes.data());
    return bytes;
}

} // namespace GapTest

LogCapture::LogCapture()
{
    QMutexLocker lock(&logMutex);
    logLines.clear();
    previousHandler = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture() { qInstallMessageHandler(previousHandler); }

QStringList LogCapture::lines() const
{
    QMutexLocker lock(&logMutex);
    return logLines;
}

bool LogCapture::contains(const QString &text) const
{
    const QStringList all = lines();
    for (const QString &line : all) {
        if (line.contains(text))
            return true;
    }
    return false;
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    {
        QMutexLocker lock(&logMutex);
        logLines.append(msg);
    }
    if (previousHandler)
        previousHandler(type, context, msg);
}

PushListener::~PushListener()
{
    for (RecvConfThread *thread : qAsConst(threads))
        thread->wait(60000);
    qDeleteAll(threads);
}

void PushListener::incomingConnection(qintptr socketDescriptor)
{
    auto *thread = new RecvConfThread(socketDescriptor, this);
    threads.append(thread);
    thread->start();
}
