#include "gap/SocketTools.h"

#include "model/BaseFunction.h"
#include "model/GlobalData.h"
#include "model/Ports.h"
#include "model/PrivateTempFile.h"
#include "model/Prompt.h"
#include "protocol/ControlPackets.h"

#include <QFileInfo>
#include <QHostAddress>
#include <QTemporaryFile>
#include <QScopeGuard>
#include <QtDebug>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Where a failure was logged, for the log lines that carry it.
QString sourceLocation(const char *file, int line)
{
    return QStringLiteral("%1:%2").arg(QFileInfo(QString::fromUtf8(file)).fileName()).arg(line);
}
#define SOURCE_LOCATION sourceLocation(__FILE__, __LINE__)

// Writes one whole packet and waits until it left; false when the write itself failed.
template <typename Packet> bool writePacket(QTcpSocket &socket, const Packet &packet)
{
    const QByteArray bytes = packetBytes(packet);
    if (socket.write(bytes) != bytes.size())
        return false;
    socket.waitForBytesWritten(SocketTools::kIoTimeoutMs);
    return true;
}

// The peers send each answer in one piece and the client reads it once: wait for data once (unless
// some is already buffered) and take whatever has arrived, at most `size` bytes.
qint64 readOnce(
    QTcpSocket &socket, void *buffer, qint64 size, int timeoutMs = SocketTools::kIoTimeoutMs)
{
    if (socket.bytesAvailable() == 0)
        socket.waitForReadyRead(timeoutMs);
    return socket.read(static_cast<char *>(buffer), size);
}

_PACKET_LOGIN loginRequestFor(const _VKGAPIP_CONF *gap)
{
    return buildLoginRequest(fieldBytes(gap->LoginUserName, kUserNameSize),
        fieldBytes(gap->LoginPswd, kUserNameSize), fieldBytes(gap->HostIP, kHostIPSize));
}

_PACKET_USER_REQUEST userRequestFor(ControlPacketType type, const _VKGAPIP_CONF *gap)
{
    return buildUserRequest(type, fieldBytes(gap->LoginUserName, kUserNameSize));
}

int refusalResult(qint32 code)
{
    switch (code) {
    case SocketTools::kResultOk:
    case SocketTools::kResultNoConnection:
    case SocketTools::kResultExchangeFailed:
    case SocketTools::kResultNoRules:
        return SocketTools::kResultRefused;
    default:
        return code;
    }
}

// The record after a refused login or a login without rules: not connected, no paths, and the
// next login is a restart.
void markRefused(_VKGAPIP_CONF *gap, bool loginRefused)
{
    QMutexLocker lock(&g_SockMutex);
    if (loginRefused)
        gap->isLogin = false;
    gap->restart = true;
    gap->connState = 0;
    gap->sendPathCount = 0;
    gap->recvPathCount = 0;
}

void markUnreachable(_VKGAPIP_CONF *gap)
{
    QMutexLocker lock(&g_SockMutex);
    gap->heartOk = 0;
    gap->connState = 0;
}

// Empties the record's paths before a full rules answer is decoded into it.
void clearPaths(_VKGAPIP_CONF *gap)
{
    QMutexLocker lock(&g_Mutex);
    gap->sendPathCount = 0;
    gap->recvPathCount = 0;
    for (int i = 0; i < kMaxPathsPerGap; ++i) {
        gap->sendPaths[i].pathID.clear();
        gap->recvPaths[i].pathID.clear();
    }
}

// 1 when the record holds a usable rule after a rules answer, 2 when it holds none.
int rulesOutcome(const _VKGAPIP_CONF *gap)
{
    QMutexLocker lock(&g_Mutex);
    if (gap->sendPathCount == 0 && gap->recvPathCount == 0)
        return 2;
    if (!gap->sendPaths[0].pathID.isEmpty() || !gap->recvPaths[0].pathID.isEmpty())
        return 1;
    return 2;
}

// A key file name from the gap must be a plain file name: no directory of its own, no way up.
bool isSafeKeyFileName(const QString &name)
{
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'))
        && name != QLatin1String("..");
}

// Consumes what the socket has already buffered of the announced key data, never more than
// announced and without waiting; each chunk goes to sink when there is one.
qint64 drainKeyData(QTcpSocket &socket, qint32 announced, QIODevice *sink)
{
    qint64 received = 0;
    while (received < announced) {
        const QByteArray chunk = socket.read(qMin<qint64>(kPacketSize, announced - received));
        if (chunk.isEmpty())
            break;
        if (sink)
            sink->write(chunk);
        received += chunk.size();
    }
    return received;
}

} // namespace

SocketTools::SocketTools()
    : port(Ports::gapPort())
{
}

SocketTools::~SocketTools() { dropWatchedConnection(); }

void SocketTools::cancel()
{
    QMutexLocker lock(&m_cancelMutex);
    m_cancelled = true;
    if (m_watched >= 0)
        ::shutdown(m_watched, SHUT_RDWR);
}

bool SocketTools::isCancelled() const
{
    QMutexLocker lock(&m_cancelMutex);
    return m_cancelled;
}

void SocketTools::watchConnection(const QTcpSocket &socket)
{
    const qintptr descriptor = socket.socketDescriptor();
    const int duplicate = descriptor < 0 ? -1 : ::fcntl(int(descriptor), F_DUPFD_CLOEXEC, 0);
    QMutexLocker lock(&m_cancelMutex);
    if (m_watched >= 0)
        ::close(m_watched);
    m_watched = duplicate;
    // A cancel that came while the connection was being opened.
    if (m_cancelled && m_watched >= 0)
        ::shutdown(m_watched, SHUT_RDWR);
}

void SocketTools::dropWatchedConnection()
{
    QMutexLocker lock(&m_cancelMutex);
    if (m_watched < 0)
        return;
    ::close(m_watched);
    m_watched = -1;
}

void SocketTools::tell(const QString &text)
{
    // Whoever cancelled has moved on and waits for no message.
    if (isCancelled())
        return;
    if (m_deferNotices)
        m_notice = text;
    else
        Prompt::error(text);
}

int SocketTools::connectToHost(const QString &host, quint16 port, QTcpSocket &socket)
{
    // The connection before, which its socket has closed by now, closes for good before the next
    // one opens: the peers serve one connection after the other.
    dropWatchedConnection();
    if (isCancelled())
        return 1;
    socket.connectToHost(host, port, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
    if (!socket.waitForConnected(kConnectTimeoutMs)) {
        // Leaves the socket unconnected, so that it can be connected again.
        socket.abort();
        return 1;
    }
    // The socket tells its descriptor only once connected: a cancel while the connection is
    // being made takes effect here, or with the connect time-out.
    watchConnection(socket);
    return 0;
}

int SocketTools::connectToGapHost(_VKGAPIP_CONF *gap)
{
    // The last connection closes when the operation ends, not when this object goes.
    const auto closeLast = qScopeGuard([this] { dropWatchedConnection(); });
    bool restartOnEntry;
    {
        QMutexLocker lock(&g_SockMutex);
        restartOnEntry = gap->restart;
    }
    bool loggedInNow = false;
    for (;;) {
        {
            QMutexLocker lock(&g_SockMutex);
            gap->connState = -1;
            gap->hasSendPath = false;
            gap->confGetted = false;
        }
        if (connectToHost(gap->hostIPStr, port, socket) != 0)
            return kResultNoConnection;
        gap->localIP = socket.localAddress().toString();
        qWarning().noquote() << "本机ip:" << gap->localIP;

        // One login per call: the pass after an accepted login goes on to the rules.
        if (gap->isLogin || loggedInNow)
            return fetchRules(gap, restartOnEntry);
        const int login = loginExchange(gap);
        if (login != kLoginAccepted)
            return login;
        loggedInNow = true;
    }
}

int SocketTools::loginExchange(_VKGAPIP_CONF *gap)
{
    if (!writePacket(socket, loginRequestFor(gap))) {
        qWarning().noquote() << "登录请求发送失败!!!";
        socket.close();
        return kResultExchangeFailed;
    }
    qWarning().noquote() << "登录请求发送成功！";

    constexpr int kInterpretedBytes = 16;
    _PACKET_LOGIN_RESPONSE response;
    zeroPacket(response);
    readOnce(socket, &response, kInterpretedBytes);
    if (response.type != kTypeLoginResponse) {
        qWarning().noquote() << "登录响应接收失败!!!";
        socket.close();
        return kResultExchangeFailed;
    }
    const qint32 code = response.response;
    socket.close();
    if (code != kLoginAccepted) {
        markRefused(gap, true);
        return refusalResult(code);
    }
    const qint32 level = response.rightLevel;
    qWarning().noquote() << "type=" << quint64(response.type) << "response=" << code
                         << "rightLevel=" << level;
    gap->rightLevel = level;
    QMutexLocker lock(&g_SockMutex);
    gap->isLogin = true;
    return kLoginAccepted;
}

int SocketTools::fetchRules(_VKGAPIP_CONF *gap, bool restartOnEntry)
{
    if (!writePacket(socket, userRequestFor(kTypeRulesRequest, gap))) {
        qWarning().noquote() << "用户规则请求发送失败！";
        socket.close();
        return kResultExchangeFailed;
    }
    _PACKET_CONF_DATA pkt;
    zeroPacket(pkt);
    const int rules = recvConfInfo(pkt, gap, socket);
    socket.close();

    if (rules == kRulesReceived) {
        {
            QMutexLocker lock(&g_SockMutex);
            gap->confGetted = true;
            gap->connState = 1;
            if (!restartOnEntry)
                gap->restart = false;
        }
        connectToHost(gap->hostIPStr, port, socket);
        onGetKey(gap);
        return kResultOk;
    }
    markRefused(gap, false);
    // A restart (the heartbeat or a repeated attempt) stays silent: the user was told once.
    if (!restartOnEntry)
        tell(rules == kRulesFailed ? QStringLiteral("用戶规则获取错误")
                                   : QStringLiteral("当前用户没有配置传输规则"));
    return kResultNoRules;
}

int SocketTools::recvConfInfo(_PACKET_CONF_DATA pkt, _VKGAPIP_CONF *gap, QTcpSocket &socket)
{
    clearPaths(gap);
    zeroPacket(pkt);
    const qint64 length = readOnce(socket, &pkt, sizeof pkt);
    if (length <= 0 || pkt.type != kTypeConfData) {
        qWarning().noquote() << "配置信息接收失败."
                             << "pktlen =" << length << "conf type =" << quint64(pkt.type);
        return kRulesFailed;
    }
    BaseFunction::DealWithConfData(gap, &pkt);
    qWarning().noquote() << "配置信息接收成功"
                         << "pktConfData.type=" << quint64(pkt.type) << "pktConfData.scount"
                         << quint64(pkt.scount) << "pktConfData.dcount" << quint64(pkt.dcount);
    return rulesOutcome(gap);
}

void SocketTools::onGetKey(_VKGAPIP_CONF *gap)
{
    if (!writePacket(socket, userRequestFor(kTypeKeyRequest, gap))) {
        qWarning().noquote() << "关键字请求发送失败！" << SOURCE_LOCATION;
        socket.close();
    }
    key_info info;
    zeroPacket(info);
    if (recvKeyInfo(&info) != 1)
        qWarning().noquote() << "关键字接收处理失败失败！" << SOURCE_LOCATION;
    socket.close();
}

int SocketTools::recvKeyInfo(key_info *info)
{
    const qint64 length = readOnce(socket, info, sizeof *info);
    if (length <= 0 || info->type != kTypeKeyInfo) {
        qWarning().noquote() << "错误代码值:" << length << quint64(info->type) << SOURCE_LOCATION;
        return 0;
    }
    g_sysbaseconf.keyFlag = info->flag != 0;

    const qint32 announced = keyDataLength(*info);
    QString name;
    if (!readKeyFileName(*info, &name) || !isSafeKeyFileName(name)) {
        // The data is still consumed, so that the connection ends as it does with a good name.
        qWarning().noquote() << "refused key file name" << name << SOURCE_LOCATION;
        drainKeyData(socket, announced, nullptr);
        return 0;
    }
    // The key data goes to a private temporary file rather than beside the program, whose folder
    // is not writable once installed (and would let other users read the key meanwhile).
    QTemporaryFile file;
    if (!PrivateTempFile::open(&file, QStringLiteral("gapclient-key"))) {
        qWarning().noquote() << PrivateTempFile::preferredDirectory() << "文件打开失败"
                             << SOURCE_LOCATION;
        drainKeyData(socket, announced, nullptr);
        return 0;
    }
    qWarning().noquote() << "临时路径:" << file.fileName();
    drainKeyData(socket, announced, &file);
    file.remove();
    return 1;
}

void SocketTools::gapHeartBeat()
{
    const auto closeLast = qScopeGuard([this] { dropWatchedConnection(); });
    const QList<_VKGAPIP_CONF *> gaps = g_GapInfoList.snapshot();
    for (_VKGAPIP_CONF *gap : gaps) {
        if (!gap)
            continue;
        bool busy;
        {
            QMutexLocker lock(&g_SockMutex);
            busy = gap->connState == 1 && gap->busyCount > 0;
        }
        // A running transfer is never disturbed by a heartbeat.
        if (!busy && !isCancelled())
            heartBeatGap(gap);
    }
}

void SocketTools::heartBeatGap(_VKGAPIP_CONF *gap)
{
    if (connectToHost(gap->hostIPStr, port, socket) != 0) {
        gapDidNotAnswer(gap);
        return;
    }
    if (gap->LoginUserName[0] == '\0') {
        socket.close();
        return;
    }
    if (!writePacket(socket, loginRequestFor(gap))) {
        qWarning().noquote() << "心跳登录请求发送失败!!!";
        gapDidNotAnswer(gap);
        socket.close();
        return;
    }
    _PACKET_LOGIN_RESPONSE response;
    zeroPacket(response);
    readOnce(socket, &response, sizeof response, kHeartbeatAnswerMs);
    // Any login answer counts, a refusal included: the gap is there.
    if (response.type != kTypeLoginResponse && response.response != kLoginAccepted) {
        qWarning().noquote() << "心跳登录响应接收失败!!!";
        // A gap that takes the connection but does not answer carries no transfer either: it
        // shows as interrupted, and its next answer fetches its rules again and moves
        // heartbeatAnswers, which offers again the files that waited for it.
        gapDidNotAnswer(gap);
        socket.close();
        return;
    }
    socket.close();
    ++gap->heartbeatAnswers;
    {
        QMutexLocker lock(&g_SockMutex);
        gap->confGetted = true;
        gap->connState = 1;
    }
    if (gap->heartOk != 0) {
        gap->heartOk = 1;
        return;
    }
    refreshRules(gap);
}

void SocketTools::gapDidNotAnswer(_VKGAPIP_CONF *gap)
{
    // A pass that was cancelled learnt nothing about the gap.
    if (!isCancelled())
        markUnreachable(gap);
}

void SocketTools::refreshRules(_VKGAPIP_CONF *gap)
{
    // heartOk stays 0 on a failure here, so the next heartbeat tries again.
    if (connectToHost(gap->hostIPStr, port, socket) != 0)
        return;
    if (!writePacket(socket, userRequestFor(kTypeRulesRequest, gap))) {
        qWarning().noquote() << "心跳发送请求配置信息失败！";
        socket.close();
        return;
    }
    _PACKET_CONF_DATA pkt;
    zeroPacket(pkt);
    const bool received = recvConfInfo(pkt, gap, socket) == kRulesReceived;
    socket.close();
    QMutexLocker lock(&g_SockMutex);
    if (received) {
        gap->isLogin = true;
        gap->restart = true;
    }
    gap->heartOk = 1;
}

int SocketTools::disconnectFromGap()
{
    const auto closeLast = qScopeGuard([this] { dropWatchedConnection(); });
    _VKGAPIP_CONF *gap = g_GapInfoList.first();
    if (!gap)
        return 1;
    QTcpSocket logoutSocket;
    if (connectToHost(QString::fromLatin1(fieldBytes(gap->HostIP, kHostIPSize)), port, logoutSocket)
        != 0) {
        qWarning().noquote() << "登出时服务器连接失败";
        return 1;
    }
    if (!writePacket(logoutSocket, userRequestFor(kTypeLogoutRequest, gap))) {
        logoutSocket.close();
        return 1;
    }
    qWarning().noquote() << "登出请求发送成功！";
    _PACKET_USER_REQUEST answer; // only the type of the 1460-byte answer is read
    zeroPacket(answer);
    const qint64 length = readOnce(logoutSocket, &answer, sizeof answer);
    if (length != kPacketSize || answer.type != kTypeLogoutResponse) {
        logoutSocket.close();
        return 1;
    }
    releaseGap(gap);
    logoutSocket.close();
    return 0;
}

void SocketTools::releaseGap(_VKGAPIP_CONF *gap)
{
    // The record stays allocated and listed: the status checker or a sender may still hold it.
    // Its address, credentials and local address are left as they are: other threads read them
    // without a lock.
    {
        QMutexLocker lock(&g_SockMutex);
        gap->isLogin = false;
        gap->confGetted = false;
        gap->connState = 0;
        gap->heartOk = 0;
    }
    {
        QMutexLocker lock(&g_Mutex);
        gap->sendPathCount = 0;
        gap->recvPathCount = 0;
        for (int i = 0; i < kMaxPathsPerGap; ++i) {
            gap->sendPaths[i] = _GAP_SEND_PATH();
            gap->recvPaths[i] = _GAP_RECV_PATH();
        }
    }
    QMutexLocker lock(&sendTaskMutex);
    gap->refusedSuffixes.clear();
    gap->flaggedDigests.clear();
}
