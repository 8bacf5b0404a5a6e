#include "send/SendWorkThread.h"

#include "model/BaseFunction.h"
#include "model/HandOver.h"
#include "model/Ports.h"
#include "model/TransferTrace.h"
#include "model/TransferVerdict.h"
#include "model/UniqueFd.h"
#include "protocol/DataBuff.h"
#include "protocol/TransferPackets.h"
#include "send/SendAudit.h"
#include "send/SendChannel.h"
#include "send/SendLedger.h"
#include "send/SentFileRemoval.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QtDebug>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>

namespace {

constexpr int kIoTimeoutMs = 30000;
constexpr int kFirstRetryDelayMs = 1000;
constexpr int kRetryDelayStepMs = 1000;
constexpr int kLastRetryDelayMs = 5000; // reaching it means five attempts have failed
constexpr int kUnreachablePauseMs = 5000;
constexpr int kOfflinePauseMs = 1000;
constexpr int kStopPollMs = 50;
constexpr int kConfirmMissLimit = 7;
constexpr int kPolledBursts = 3; // bursts followed by a verdict poll without the key flag
constexpr int kPublishEveryBursts = 100;
// Progress reaches the row at most this often: more would cost the window without showing more.
constexpr qint64 kProgressIntervalMs = 100;

// Security label: "hello" and a level word, both scrambled, at the very end of the file.
constexpr int kLabelSize = 9;
constexpr int kLabelMarkSize = 5;
constexpr int kLabelWordSize = 4;
constexpr int kNoLabelLevel = 3;

const QString kZeroRate = QStringLiteral("0 Mbps");
const QString kChecking = QStringLiteral("文件正在校验中,请稍候 ");
const QString kUserStop = QStringLiteral("用户停止发送");
const QString kUserStopRow = QStringLiteral("用户停止发送 ");
const QString kPaused = QStringLiteral("发送线程已被暂停 ");
const QString kGaveUpFor = QStringLiteral("文件多次发送失败：");
const QString kWaitingRetry = QStringLiteral("等待重发");
const QString kDescriptorSent = QStringLiteral("发送文件描述符");
const QString kSizeRefused = QStringLiteral("文件大小超出文件落地范围");
const QString kOffline = QStringLiteral("设备掉线请检查网络 ");
const QString kTypeUnjudged = QStringLiteral("文件类型判断出错");
const QString kNameTooLongRow = QStringLiteral("文件名太长 ");
const QString kNameTooLong = QStringLiteral("文件名太长");
const QString kNoRecvPath = QStringLiteral("接收方未配置接收路径");
const QString kSending = QStringLiteral("正在发送中");
const QString kWaitingConfirm = QStringLiteral("文件已发送/等待确认");
const QString kSentOk = QStringLiteral("文件发送成功 ");
const QString kMismatch = QStringLiteral("接收端文件校验失败/稍后重发(错误代码:15)");
const QString kTransferDone = QStringLiteral("传输完毕");
const QString kEmptyAtOpen = QStringLiteral("文件为空/稍后重发");
const QString kChangedWhileSending = QStringLiteral("文件发送期间被修改/稍后重发");
const QString kSentNotRemoved = QStringLiteral("已发送，无法删除源文件");
// Appended to a refusal's text once the refused file has been removed, as refused files are.
const QString kRemovedAfterRefusal = QStringLiteral("，已从发送目录删除");

// Why a round of attempts ended without delivery, for the row and the audit event.
const QString kPeerOffline = QStringLiteral("接收方不在线");
const QString kGapOutOfReach = QStringLiteral("隔离器无法连接");
const QString kLinkFailure = QStringLiteral("链路故障");
const QString kNoAnswer = QStringLiteral("等待应答超时");
const QString kDigestMismatch = QStringLiteral("接收端文件校验失败");
const QString kOddAnswer = QStringLiteral("隔离器应答异常");
const QString kUnreadable = QStringLiteral("文件无法读取");
const QString kPathTooLong = QStringLiteral("文件路径过长");

QString now()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

template <int N> QByteArray fieldText(const char (&field)[N]) { return fieldBytes(field, N); }

void setSendState(_SENDPATH_LISTDATA *rule, int state)
{
    QMutexLocker lock(&sendTaskMutex);
    rule->sendState = state;
}

// Sleeps, waking early when the rule is stopped: the caller tests the flag next anyway.
void pauseUnlessStopped(int ms, const SendStop &stop)
{
    QElapsedTimer clock;
    clock.start();
    // The time left is read once per round: read again after the test, it may have run out, and
    // a negative sleep would be taken for an almost endless one.
    for (qint64 left = ms; !stop.requested() && left > 0; left = ms - clock.elapsed())
        QThread::msleep(ulong(qMin<qint64>(kStopPollMs, left)));
}

// Opens the file for reading as the version to send. Without blocking, and only a regular file:
// a FIFO or a device put in its place would hang the worker or never end.
bool openVersion(QFile &file, const QByteArray &path)
{
    UniqueFd fd(::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat status;
    if (!fd.isValid() || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode))
        return false;
    return file.open(fd.release(), QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
}

bool isConnecting(const QTcpSocket &socket)
{
    return socket.state() == QAbstractSocket::HostLookupState
        || socket.state() == QAbstractSocket::ConnectingState;
}

// Waits until the connection is made or has failed, at most kIoTimeoutMs, and ends early on a
// stop. waitForConnected cannot wait in short slices: a slice that times out abandons the
// connection attempt. A local event loop waits instead, looking at the stop flag in between.
void waitForConnection(QTcpSocket &socket, const SendStop &stop)
{
    if (!isConnecting(socket) || stop.requested())
        return;
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (stop.requested() || clock.hasExpired(kIoTimeoutMs))
            loop.quit();
    });
    QObject::connect(&socket, &QAbstractSocket::stateChanged, &loop, [&] {
        if (!isConnecting(socket))
            loop.quit();
    });
    poll.start(kStopPollMs);
    loop.exec();
}

QString progressText(const _SENDSTATUS_INFO &status)
{
    return QString::number(double(status.bytesSent) / double(status.fileSize), 'g', 6);
}

// The next part of a security label, restored from its scrambled form.
QByteArray restoreLabelPart(QFile *file, int size)
{
    char buffer[kLabelMarkSize + 1] = {};
    file->read(buffer, size);
    BaseFunction::deCrypPasswd(buffer);
    return QByteArray(buffer);
}

// Fills the pieces from the file at offset on; the bytes read, fewer only where the file ended or
// failed.
qint64 preadFully(int fd, iovec *pieces, int count, qint64 offset)
{
    qint64 total = 0;
    while (count > 0) {
        const ssize_t got = ::preadv(fd, pieces, count, offset + total);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return total;
        total += got;
        // Past the pieces filled, into the one filled in part.
        size_t left = size_t(got);
        for (; count > 0 && left >= pieces->iov_len; ++pieces, --count)
            left -= pieces->iov_len;
        if (count > 0) {
            pieces->iov_base = static_cast<char *>(pieces->iov_base) + left;
            pieces->iov_len -= left;
        }
    }
    return total;
}

int levelOfWord(const QByteArray &word)
{
    if (word == "high")
        return 0;
    if (word == "midd")
        return 1;
    if (word == "loww")
        return 2;
    return kNoLabelLevel;
}

} // namespace

// What one attempt works with: the open file and the version it is, the rule's fields and the
// settings as they were when it began, the connection, the row, the audit record and the two
// packet buffers with their storage, allocated once per attempt.
struct SendWorkThread::Attempt {
    Attempt(QTcpSocket *socket, const SendStop &stop, TransferStateInfo &row)
        : channel(socket, stop)
        , info(row)
    {
        std::memset(&log, 0, sizeof log);
    }

    QFile file;
    FileIdentity identity; // as the file was opened
    SendChannel channel;
    TransferStateInfo &info;
    bool keepSent = false;
    bool forceVisit = false;
    QByteArray pathKey;
    QByteArray gapAddress;
    QByteArray fromUser;
    QByteArray toUser;
    QString sendDir;
    _VKGAPIP_CONF *ruleGap = nullptr; // the gap record the rule points to, for the counters
    _VKGAPIP_CONF *gap = nullptr; // the gap record looked up by address
    _SEND_LOG log;
    _SENDSTATUS_INFO status;
    DataBuff staging;
    DataBuff burst;
    QByteArray stagingStore;
    QByteArray burstStore;
    qint64 bytesRead = 0;
};

SendWorkThread::SendWorkThread(
    _SENDPATH_LISTDATA *sendPath, _FINDFILEINFO *fileInfo, QObject *parent)
    : m_sendPath(sendPath)
    , m_file(fileInfo ? *fileInfo : _FINDFILEINFO())
    , m_hasFile(fileInfo != nullptr)
    , m_cancelled(m_file.cancelled ? m_file.cancelled : std::make_shared<std::atomic<bool>>(false))
{
    std::memset(&m_auditRecord, 0, sizeof m_auditRecord);
    Q_UNUSED(parent)
    setAutoDelete(true);
}

SendWorkThread::~SendWorkThread() { qDebug() << "发送线程结束 "; }

void SendWorkThread::run()
{
    HandOver::acquire(this); // from the thread that gave the worker to the pool
    qDebug() << "send 线程 Current thread ID:" << QThread::currentThreadId();
    m_socket = std::make_unique<QTcpSocket>();
    sendFileProc(m_sendPath);
    m_socket.reset();
}

int SendWorkThread::sendFileProc(_SENDPATH_LISTDATA *rule)
{
    setSendState(rule, 0);
    if (!m_hasFile)
        return Stopped;
    if (stopRequested(rule)) {
        qDebug() << kPaused << "线程id" << QThread::currentThreadId();
        // Stopped before it began: the row would otherwise stay blank.
        m_info.setText(TransferStateInfo::FileName, fileName());
        finishRow(m_info, kUserStop);
        SendLedger::stopped(rule, m_file);
        return Stopped;
    }
    qDebug() << "now info" << m_file.filePath;
    int delayMs = kFirstRetryDelayMs;
    for (;;) {
        m_failure.clear();
        const int result = sendThisFile(m_file, rule, m_info);
        switch (result) {
        case Done:
        case Released:
            // sendThisFile has already ended the file in the rule's bookkeeping.
            setSendState(rule, 0);
            return result;
        case Refused:
            removeRefused(rule);
            return result;
        case Stopped:
            SendLedger::stopped(rule, m_file);
            return result;
        case GapUnreachable:
            // One attempt is a round: the gap's return, which the heartbeat sees, ends the wait.
            setSendState(rule, 3);
            awaitNextRound(rule, kGapOutOfReach, true);
            pauseUnlessStopped(kUnreachablePauseMs, stopOf(rule));
            return result;
        case Retry:
            break;
        default:
            qDebug() << "未知返回值：" << result;
            setSendState(rule, 0);
            return result;
        }
        qDebug() << "运行故障,重传";
        if (stopRequested(rule)) {
            finishRow(m_info, kUserStop);
            SendLedger::stopped(rule, m_file);
            return Stopped;
        }
        setSendState(rule, 1);
        if (delayMs >= kLastRetryDelayMs) {
            qWarning().noquote() << QStringLiteral("文件名: ") + m_file.filePath
                    + QStringLiteral("放弃发送 ");
            awaitNextRound(rule, m_failure.isEmpty() ? kLinkFailure : m_failure, false);
            return result;
        }
        pauseUnlessStopped(delayMs, stopOf(rule));
        delayMs += kRetryDelayStepMs;
    }
}

void SendWorkThread::awaitNextRound(
    _SENDPATH_LISTDATA *rule, const QString &reason, bool onGapReturn)
{
    writeAudit(m_auditRecord, kGaveUpFor + reason, 0);
    const QDateTime due = SendLedger::awaitRetry(rule, m_file, onGapReturn);
    const QString when = due.date() == QDate::currentDate()
        ? due.toString(QStringLiteral("HH:mm"))
        : due.toString(QStringLiteral("MM-dd HH:mm"));
    m_info.setText(TransferStateInfo::Rate, kZeroRate);
    finishRow(
        m_info, kWaitingRetry + ' ' + when + QStringLiteral("（") + reason + QStringLiteral("）"));
}

int SendWorkThread::sendThisFile(
    const _FINDFILEINFO &file, _SENDPATH_LISTDATA *rule, TransferStateInfo &info)
{
    if (!m_socket)
        m_socket = std::make_unique<QTcpSocket>();
    // Whatever way the attempt ends, its connection ends with it.
    struct SocketCloser {
        QTcpSocket *socket;
        ~SocketCloser() { socket->abort(); }
    } closer { m_socket.get() };

    TransferTrace::mark("send", "attempt", fileName().toUtf8());
    Attempt attempt(m_socket.get(), stopOf(rule), info);
    readRule(attempt, rule);
    fillAuditRecord(attempt);
    attempt.gap = BaseFunction::findVkgapinfo(QString::fromLatin1(attempt.gapAddress));
    if (openVersion(attempt.file, file.pathBytes()))
        attempt.identity = FileIdentity::ofDescriptor(attempt.file.handle());
    if (!attempt.identity.isValid()) {
        setSendState(rule, 1);
        qDebug() << "File:" << file.filePath << "file open failed!";
        return retryFor(kUnreadable);
    }
    if (m_file.identity.isValid() && !attempt.identity.sameFile(m_file.identity)) {
        // Replaced since the scanner saw it: the file there now has a key of its own, under which
        // a later pass offers it; sent under this one, a kept file would be sent again.
        describeRow(attempt);
        return endUnsent(attempt, rule, kChangedWhileSending);
    }
    if (attempt.identity.size == 0) {
        // The scanner saw content that is gone now: a later pass offers the file once it has some.
        describeRow(attempt);
        return endUnsent(attempt, rule, kEmptyAtOpen);
    }
    attempt.status.fileSize = attempt.identity.size;
    attempt.stagingStore = QByteArray(kStagingCapacity, '\0');
    attempt.burstStore = QByteArray(kBurstCapacity, '\0');
    attempt.staging.initital(kStagingCapacity);
    attempt.burst.initital(kBurstCapacity);

    showChecking(attempt);
    int result = ensureDigest(attempt, rule);
    if (result != Done)
        return result;

    if (stopRequested(rule)) {
        qDebug() << kUserStopRow;
        finishRow(info, kUserStop);
        return Stopped;
    }
    if (!attempt.gap) {
        // The gap has been removed from the list: there is nobody to send to.
        qDebug() << "send servers connect failed "
                 << "gap not listed";
        setSendState(rule, 3);
        return GapUnreachable;
    }
    if (attempt.forceVisit && fileSecurityFilter(&attempt.file, rule, attempt.gap, info) != 0)
        return Refused;
    result = connectToGap(attempt, rule);
    if (result != Done)
        return result;
    fillAuditRecord(attempt);

    result = exchange(attempt, rule);
    if (result != Done)
        return result;
    return recordDelivery(attempt, rule);
}

void SendWorkThread::readRule(Attempt &attempt, _SENDPATH_LISTDATA *rule)
{
    // A rule is changed in place under this lock (GUI thread), so its fields are read under it,
    // once, and the attempt works with what it read.
    QMutexLocker lock(&sendTaskMutex);
    attempt.keepSent = g_sysbaseconf.ifDelSendFile;
    attempt.forceVisit = g_sysbaseconf.isForceVisit;
    attempt.pathKey = fieldText(rule->SendPathID);
    attempt.gapAddress = fieldText(rule->GapIP);
    attempt.fromUser = fieldText(rule->FromUser);
    attempt.toUser = fieldText(rule->ToUser);
    attempt.sendDir = rule->SendPath;
    attempt.ruleGap = rule->gapConf;
}

void SendWorkThread::describeRow(Attempt &attempt)
{
    TransferStateInfo &info = attempt.info;
    info.setText(TransferStateInfo::FileName, fileName());
    // Path keys are the gap's bytes, UTF-8 when not ASCII.
    info.setText(TransferStateInfo::TransferPath, QString::fromUtf8(attempt.pathKey));
    info.setText(TransferStateInfo::Rate, kZeroRate);
    info.setText(TransferStateInfo::Size, BaseFunction::calcSize(attempt.identity.size));
    info.setText(TransferStateInfo::StartTime, now());
}

void SendWorkThread::showChecking(Attempt &attempt)
{
    describeRow(attempt);
    // A new attempt starts from nothing: no end time, no progress of the attempt before.
    attempt.info.setText(TransferStateInfo::Progress, QString());
    attempt.info.setText(TransferStateInfo::EndTime, QString());
    attempt.info.setText(TransferStateInfo::Status, kChecking);
    publish(attempt.info);
}

QString SendWorkThread::fileName() const
{
    return m_file.filePath.mid(m_file.filePath.lastIndexOf(QLatin1Char('/')) + 1);
}

int SendWorkThread::ensureDigest(Attempt &attempt, _SENDPATH_LISTDATA *rule)
{
    // From here the file is read front to back, for the digest, then to send: read far ahead.
    ::posix_fadvise(attempt.file.handle(), 0, 0, POSIX_FADV_SEQUENTIAL);
    // Reused by retries only while the file is the version it was computed for.
    if (m_fileMd5.size() != kMd5TextSize || !m_md5Identity.sameVersion(attempt.identity)) {
        m_md5Identity = FileIdentity();
        TransferTrace::mark("send", "hash-start", fileName().toUtf8());
        m_fileMd5 = BaseFunction::md5OfOpenFile(
            attempt.file, attempt.identity.size, &rule->stopFlag, m_cancelled.get());
        if (stopRequested(rule)) {
            qDebug() << kUserStopRow;
            finishRow(attempt.info, kUserStop);
            return Stopped;
        }
        if (!isSameVersion(attempt.identity))
            return endUnsent(attempt, rule, kChangedWhileSending);
        if (m_fileMd5.size() != kMd5TextSize) {
            // Unreadable while hashing: no digest, nothing that could be verified on the far side.
            setSendState(rule, 1);
            qDebug() << "File:" << m_file.filePath << "digest failed";
            return retryFor(kUnreadable);
        }
        m_md5Identity = attempt.identity;
        TransferTrace::mark("send", "hash-end", fileName().toUtf8());
    }
    attempt.status.md5 = QString::fromLatin1(m_fileMd5);
    attempt.file.seek(0);
    return Done;
}

int SendWorkThread::connectToGap(Attempt &attempt, _SENDPATH_LISTDATA *rule)
{
    m_socket->abort();
    m_socket->connectToHost(QString::fromLatin1(attempt.gapAddress), Ports::gapPort(),
        QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
    waitForConnection(*m_socket, stopOf(rule));
    if (stopRequested(rule)) {
        qDebug() << kUserStopRow;
        finishRow(attempt.info, kUserStop);
        return Stopped;
    }
    if (m_socket->state() != QAbstractSocket::ConnectedState) {
        qDebug() << "send servers connect failed ";
        setSendState(rule, 3);
        return GapUnreachable;
    }
    // Set once connected: an unconnected socket has no descriptor to take the option.
    m_socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, kBurstCapacity);
    // Every exchange is a short packet waiting for a short answer: with Nagle's rule each one
    // would wait for the peer's delayed acknowledgement, which caps small files at a few a second.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    return Done;
}

void SendWorkThread::fillAuditRecord(Attempt &attempt)
{
    _SEND_LOG &log = attempt.log;
    // Before the connection the gap is known by its address in the rule.
    const bool connected = m_socket->state() == QAbstractSocket::ConnectedState;
    putField(log.localip, kHostIPSize,
        connected ? m_socket->localAddress().toString().toUtf8() : QByteArray());
    putField(log.host, kHostIPSize,
        connected ? m_socket->peerAddress().toString().toUtf8() : attempt.gapAddress);
    putField(log.filename, int(sizeof log.filename), fileName().toUtf8());
    putField(log.fromuser, kUserNameSize, attempt.fromUser);
    putField(log.touser, kUserNameSize, attempt.toUser);
    m_auditRecord = log;
}

int SendWorkThread::exchange(Attempt &attempt, _SENDPATH_LISTDATA *rule)
{
    int result = sendFileDiscription(attempt, rule);
    if (result != Done)
        return result;
    result = checkFileType(attempt, rule);
    if (result != 0)
        return result;
    _PACKET_META_RESPONSE response;
    zeroPacket(response);
    result = recvDescriptorResponse(attempt, rule, &response);
    if (result != Done)
        return result;
    result = checkMetaResponse(attempt, &response, rule);
    if (result != 0)
        return result;
    if (stopRequested(rule))
        return endAsUserStop(attempt, "发送线程已被暂停 ");

    result = sendFileData(attempt, rule);
    if (result != Done)
        return result;
    if (stopRequested(rule))
        return endAsUserStop(attempt, "用户停止发送 ");
    // What was read must be one version of the file, the one the digest describes: a file that
    // changed meanwhile gets no file end, so the far side never takes the content for a file.
    if (!isSameVersion(attempt.identity))
        return endUnsent(attempt, rule, kChangedWhileSending);
    result = sendFileEnd(attempt, rule);
    if (result != Done) {
        qDebug() << "type 2 send failed!";
        return result;
    }
    attempt.file.close();
    TransferTrace::mark("send", "file-end", fileName().toUtf8());

    result = recvConfirType(attempt, rule);
    if (result != Done)
        qDebug() << "接收失败的文件：" << m_file.filePath;
    return result;
}

int SendWorkThread::recordDelivery(Attempt &attempt, _SENDPATH_LISTDATA *rule)
{
    TransferTrace::mark("send", "confirmed", fileName().toUtf8());
    writeAudit(attempt.log, kTransferDone, 1);
    if (attempt.ruleGap) {
        QMutexLocker lock(&sendTaskMutex);
        const int count = ++attempt.ruleGap->sendFileNum;
        attempt.ruleGap->sendBytes += attempt.status.fileSize;
        qDebug() << "发送数量" << count;
    }
    // The delivered version is whole and confirmed, but if the path now names another version,
    // that one has not been sent and must neither be deleted nor be taken for sent.
    if (!isSameVersion(attempt.identity))
        return endUnsent(attempt, rule, kChangedWhileSending);
    if (attempt.keepSent) {
        SendLedger::markSent(rule, m_file);
        return Done;
    }
    switch (SentFileRemoval::remove(m_file.pathBytes(), attempt.identity)) {
    case SentFileRemoval::Removed:
        SendLedger::markSent(rule, m_file);
        break;
    case SentFileRemoval::OtherVersion:
        return endUnsent(attempt, rule, kChangedWhileSending);
    case SentFileRemoval::Failed:
        // Delivered all the same: its key is stored, so that no restart sends it again.
        qWarning().noquote() << QStringLiteral("文件名:") + m_file.filePath + "，"
                + kSentNotRemoved;
        SendLedger::markSent(rule, m_file, true);
        finishRow(attempt.info, kSentNotRemoved);
        break;
    }
    return Done;
}

int SendWorkThread::sendFileDiscription(Attempt &attempt, _SENDPATH_LISTDATA *rule)
{
    const std::optional<_PACKET_FILE_DISCRIBE> descriptor
        = buildDescriptor(attempt.status.fileSize, m_socket->localAddress().toString(),
            attempt.pathKey, relativeSendPath(m_file.filePath, attempt.sendDir), attempt.fromUser,
            attempt.toUser, m_fileMd5);
    if (!descriptor) {
        // A path that does not fit the descriptor would arrive cut, under another name.
        qDebug() << "type 0 build failed!" << m_file.filePath;
        finishRow(attempt.info, kNameTooLongRow);
        return retryFor(kPathTooLong);
    }
    const int written = attempt.channel.write(
        reinterpret_cast<const char *>(&*descriptor), kPacketSize, kIoTimeoutMs);
    if (written != kPacketSize) {
        if (attempt.channel.stopped())
            return endAsUserStop(attempt, "用户停止发送 ");
        qDebug() << "type 0 send failed!";
        setSendState(rule, 1);
        finishRow(attempt.info, QStringLiteral("链路故障稍后重发（错误代码:type 0"));
        writeAudit(attempt.log, QStringLiteral("链路故障稍错误代码:type 0"), 0);
        return retryFor(kLinkFailure);
    }
    attempt.info.setText(TransferStateInfo::Status, kDescriptorSent);
    publish(attempt.info);
    return Done;
}

int SendWorkThread::checkFileType(Attempt &attempt, _SENDPATH_LISTDATA *rule)
{
    if (stopRequested(rule)) {
        finishRow(attempt.info, kUserStopRow);
        writeAudit(attempt.log, kUserStop, 0);
        return Stopped;
    }
    const QByteArray answer = attempt.channel.readPacket(kIoTimeoutMs);
    if (answer.isEmpty())
        return 0; // a gap that does not judge the type lets the file go on
    if (answer.size() != kPacketSize) {
        qDebug() << "接收后缀类型type3失败";
        return 0;
    }
    switch (packetType(answer.constData())) {
    case kTypeTypeAccepted:
        return 0;
    case kTypeTypeRefused: {
        QMutexLocker lock(&sendTaskMutex);
        if (!attempt.gap->refusedSuffixes.contains(m_file.suffix))
            attempt.gap->refusedSuffixes.append(m_file.suffix);
    }
        finishRow(attempt.info, TransferVerdict::kTypeRefused);
        writeAudit(attempt.log, TransferVerdict::kTypeRefused, 0);
        return Refused;
    case kTypeSizeOutOfRange:
        finishRow(attempt.info, kSizeRefused);
        writeAudit(attempt.log, kSizeRefused, 0);
        return Refused;
    case kTypePeerOffline:
        attempt.info.setText(TransferStateInfo::Status, kOffline);
        attempt.info.setText(TransferStateInfo::EndTime, now());
        pauseUnlessStopped(kOfflinePauseMs, stopOf(rule));
        return retryFor(kPeerOffline);
    default:
        finishRow(attempt.info, kTypeUnjudged);
        writeAudit(attempt.log, kTypeUnjudged, 0);
        return retryFor(kOddAnswer);
    }
}

int SendWorkThread::recvDescriptorResponse(
    Attempt &attempt, _SENDPATH_LISTDATA *rule, _PACKET_META_RESPONSE *response)
{
    if (stopRequested(rule)) {
        finishRow(attempt.info, kUserStopRow);
        writeAudit(attempt.log, kUserStop, 0);
        return Stopped;
    }
    const QString retryLater = QStringLiteral("文件描述符响应接收失败/稍后重发");
    if (!attempt.channel.canRead()) {
        finishRow(attempt.info, retryLater);
        qDebug() << retryLater;
        return retryFor(kLinkFailure);
    }
    const QByteArray answer = attempt.channel.readPacket(kIoTimeoutMs);
    if (stopRequested(rule)) {
        finishRow(attempt.info, kUserStopRow);
        return Stopped;
    }
    if (answer.size() != kPacketSize) {
        finishRow(attempt.info, QStringLiteral("文件描述符响应接收失败/检查网络"));
        qDebug() << retryLater;
        return retryFor(kNoAnswer);
    }
    *response = packetFrom<_PACKET_META_RESPONSE>(answer);
    const quint64 type = response->type;
    switch (type) {
    case kTypeMetaAccepted:
        return Done;
    case kTypeNameTooLong:
        finishRow(attempt.info, kNameTooLongRow);
        writeAudit(attempt.log, kNameTooLong, 0);
        return Refused;
    case kTypeNoRecvPath:
        finishRow(attempt.info, kNoRecvPath);
        writeAudit(attempt.log, kNoRecvPath, 0);
        return Refused;
    case kTypePeerOffline:
        attempt.info.setText(TransferStateInfo::Status, kOffline);
        attempt.info.setText(TransferStateInfo::EndTime, now());
        return retryFor(kPeerOffline);
    default:
        setSendState(rule, 1);
        finishRow(attempt.info, QStringLiteral("未知的接收文件描述符/稍后重传"));
        qDebug() << "未知的接收文件描述符?"
                 << "recv type=" << type;
        return retryFor(kOddAnswer);
    }
}

int SendWorkThread::checkMetaResponse(
    Attempt &attempt, const _PACKET_META_RESPONSE *response, _SENDPATH_LISTDATA *rule)
{
    if (fieldText(response->sendPathID) == attempt.pathKey)
        return 0;
    setSendState(rule, 1);
    finishRow(attempt.info, QStringLiteral("校验文件元数据：发送路径不一致"));
    qDebug() << "校验文件元数据：发送路径不一致！";
    writeAudit(attempt.log, QStringLiteral("校验发送路径不一致"), 0);
    return retryFor(kOddAnswer);
}

int SendWorkThread::sendFileData(Attempt &attempt, _SENDPATH_LISTDATA *rule)
{
    TransferTrace::mark("send", "data-start", fileName().toUtf8());
    qint64 notedSecs = QDateTime::currentSecsSinceEpoch();
    qint64 notedBytes = 0;
    while (attempt.bytesRead < attempt.status.fileSize) {
        if (stopRequested(rule))
            return endAsUserStop(attempt, "用户停止发送 ");
        // Never more than the staging buffer can take, and never past the size announced in the
        // descriptor: a file that grew meanwhile is sent as it was described.
        const qint64 wanted = qMin<qint64>(
            attempt.staging.freeSpace(), attempt.status.fileSize - attempt.bytesRead);
        const qint64 got = readIntoBurst(attempt, wanted);
        if (got <= 0) {
            qDebug() << "File:" << m_file.filePath << "read failed at" << attempt.bytesRead;
            if (!isSameVersion(attempt.identity))
                return endUnsent(attempt, rule, kChangedWhileSending);
            setSendState(rule, 1);
            return retryFor(kUnreadable);
        }
        attempt.bytesRead += got;
        const int result = sendThisBuffer(attempt, rule);
        if (result != Done) {
            qDebug() << "发送数据type1错误";
            return result;
        }
        const qint64 nowSecs = QDateTime::currentSecsSinceEpoch();
        if (nowSecs > notedSecs) {
            const qint64 rate = (attempt.status.bytesSent - notedBytes) / (nowSecs - notedSecs);
            attempt.info.setText(TransferStateInfo::Rate,
                BaseFunction::readableRate(quint64(qMax<qint64>(rate, 0))));
            publish(attempt.info);
            notedSecs = nowSecs;
            notedBytes = attempt.status.bytesSent;
        }
    }
    return Done;
}

// The next wanted bytes of the file go straight into the payloads of the burst's packets, and a
// part of a payload at the end into the staging buffer, where the file end takes it from: each
// byte is copied once on its way from the file to the connection. Returns wanted, or 0 or -1
// (nothing taken) when the file ended early or failed.
qint64 SendWorkThread::readIntoBurst(Attempt &attempt, qint64 wanted)
{
    const int whole = int(wanted / kPayloadSize);
    char tail[kPayloadSize];
    iovec pieces[kBurstPackets + 1];
    char *packets = attempt.burstStore.data();
    for (int i = 0; i < whole; ++i)
        pieces[i] = { packets + i * kPacketSize + offsetof(_PACKET_FILE_DATA, data), kPayloadSize };
    pieces[whole] = { tail, size_t(wanted % kPayloadSize) };
    const qint64 got = preadFully(attempt.file.handle(), pieces, whole + 1, attempt.bytesRead);
    if (got != wanted)
        return qMin<qint64>(got, 0);
    // The burst is empty here and its packets' last bytes stay zero: each packet needs its type,
    // and the buffer its count, which insertData takes without moving the bytes already in place.
    for (int i = 0; i < whole; ++i)
        qToLittleEndian<quint64>(kTypeFileData, packets + i * kPacketSize);
    attempt.burst.insertData(packets, whole * kPacketSize, packets);
    attempt.staging.insertData(tail, int(wanted % kPayloadSize), attempt.stagingStore.data());
    return got;
}

int SendWorkThread::sendThisBuffer(Attempt &attempt, _SENDPATH_LISTDATA *rule)
{
    if (attempt.burst.isEmpty())
        return Done;
    const int length = attempt.burst.dataLength();
    const int written = attempt.channel.write(attempt.burstStore.constData(), length, kIoTimeoutMs);
    if (written <= 0) {
        if (attempt.channel.stopped())
            return endAsUserStop(attempt, "用户停止发送 ");
        finishRow(attempt.info, QStringLiteral("链路故障稍后重发（错误代码:type 1）"));
        writeAudit(attempt.log, QStringLiteral("链路故障稍错误代码:type 1"), 0);
        return retryFor(kLinkFailure);
    }
    attempt.burst.initialBuffer();
    attempt.burst.restoreFreeSpace();
    if (g_sysbaseconf.keyFlag || attempt.status.burstsSent < kPolledBursts) {
        if (recvSerRes(attempt, rule) == Refused)
            return Refused;
    }
    attempt.status.bytesSent += qint64(length / kPacketSize) * kPayloadSize;
    attempt.info.setText(TransferStateInfo::Status, kSending);
    attempt.info.setText(TransferStateInfo::Progress, progressText(attempt.status));
    const bool publishNow = attempt.status.burstsSent % kPublishEveryBursts == 0;
    ++attempt.status.burstsSent;
    if (publishNow)
        publishProgress(attempt.info);
    return Done;
}

int SendWorkThread::recvSerRes(Attempt &attempt, _SENDPATH_LISTDATA *rule)
{
    for (int look = 0; look < 2; ++look) {
        if (stopRequested(rule)) {
            finishRow(attempt.info, kUserStop);
            qDebug() << kUserStop;
            return Stopped;
        }
        if (!attempt.channel.canRead())
            return 0;
        if (attempt.channel.hasBytesNow())
            break;
        if (look == 1)
            return 0;
    }
    const QByteArray answer = attempt.channel.readPacket(kIoTimeoutMs);
    if (answer.size() != kPacketSize) {
        qDebug() << "no data" << answer.size();
        return 0;
    }
    const QString verdict = TransferVerdict::text(packetType(answer.constData()));
    if (verdict.isEmpty())
        return 0;
    {
        QMutexLocker lock(&sendTaskMutex);
        if (!attempt.gap->flaggedDigests.contains(attempt.status.md5))
            attempt.gap->flaggedDigests.append(attempt.status.md5);
    }
    qDebug() << "错误类型" << packetType(answer.constData());
    attempt.info.setText(TransferStateInfo::Rate, kZeroRate);
    finishRow(attempt.info, verdict);
    writeAudit(attempt.log, verdict, 0);
    return Refused;
}

int SendWorkThread::sendFileEnd(Attempt &attempt, _SENDPATH_LISTDATA *rule)
{
    char tail[kPayloadSize];
    const int length = attempt.staging.dataLength();
    attempt.staging.getData(tail, length, attempt.stagingStore.data());
    const _PACKET_FILE_END end = buildFileEnd(tail, length);
    const int written
        = attempt.channel.write(reinterpret_cast<const char *>(&end), kPacketSize, kIoTimeoutMs);
    if (written != kPacketSize) {
        if (attempt.channel.stopped())
            return endAsUserStop(attempt, "用户停止发送 ");
        setSendState(rule, 1);
        qDebug() << "type2 send falied" << written;
        finishRow(attempt.info, QStringLiteral("尾包链路故障/稍后重发(错误代码:002)"));
        return retryFor(kLinkFailure);
    }
    attempt.status.bytesSent += length;
    attempt.info.setText(TransferStateInfo::Rate, kZeroRate);
    attempt.info.setText(TransferStateInfo::Status, kWaitingConfirm);
    attempt.info.setText(TransferStateInfo::Progress, progressText(attempt.status));
    publish(attempt.info);
    return Done;
}

int SendWorkThread::recvConfirType(Attempt &attempt, _SENDPATH_LISTDATA *rule)
{
    int misses = 0;
    for (;;) {
        if (stopRequested(rule)) {
            finishRow(attempt.info, kUserStop);
            writeAudit(attempt.log, kUserStop, 0);
            return Stopped;
        }
        // A connection that ended with nothing left to read can bring no confirmation: waiting
        // on it would spin until the user stops.
        const bool closed = !attempt.channel.canRead();
        const QByteArray answer = closed ? QByteArray() : attempt.channel.readPacket(kIoTimeoutMs);
        if (answer.size() != kPacketSize) {
            if (stopRequested(rule))
                continue;
            if (!closed && ++misses < kConfirmMissLimit)
                continue;
            setSendState(rule, 1);
            finishRow(attempt.info, QStringLiteral("确认报文接收失败/稍后重发(错误代码:05)"));
            writeAudit(attempt.log, QStringLiteral("链路故障稍错误代码:type 5"), 0);
            return retryFor(kNoAnswer);
        }
        const quint64 type = packetType(answer.constData());
        if (type == kTypeConfirmOk) {
            attempt.info.setText(TransferStateInfo::Rate, kZeroRate);
            attempt.info.setText(TransferStateInfo::Progress, QStringLiteral("1"));
            finishRow(attempt.info, kSentOk);
            return Done;
        }
        if (type == kTypeConfirmMismatch) {
            attempt.info.setText(TransferStateInfo::Rate, kZeroRate);
            finishRow(attempt.info, kMismatch);
            return retryFor(kDigestMismatch);
        }
        const QString verdict = TransferVerdict::text(type);
        if (!verdict.isEmpty()) {
            attempt.info.setText(TransferStateInfo::Rate, kZeroRate);
            finishRow(attempt.info, verdict);
            writeAudit(attempt.log, verdict, 0);
            return Refused;
        }
    }
}

int SendWorkThread::endAsUserStop(Attempt &attempt, const char *logText)
{
    qDebug() << logText;
    attempt.file.close();
    m_socket->abort();
    attempt.info.setText(TransferStateInfo::Rate, kZeroRate);
    finishRow(attempt.info, kUserStopRow);
    writeAudit(attempt.log, kUserStop, 0);
    return Stopped;
}

int SendWorkThread::endUnsent(Attempt &attempt, _SENDPATH_LISTDATA *rule, const QString &status)
{
    qDebug() << "File:" << m_file.filePath << status;
    SendLedger::release(rule, m_file);
    attempt.info.setText(TransferStateInfo::Rate, kZeroRate);
    finishRow(attempt.info, status);
    return Released;
}

int SendWorkThread::retryFor(const QString &reason)
{
    m_failure = reason;
    return Retry;
}

bool SendWorkThread::isSameVersion(const FileIdentity &identity) const
{
    // The path, not the open handle: after a rename over it the handle still reads the old file.
    // While the path names the opened file, its status is the handle's.
    return FileIdentity::ofEntry(AT_FDCWD, m_file.pathBytes().constData(), true, nullptr)
        .sameVersion(identity);
}

void SendWorkThread::removeRefused(_SENDPATH_LISTDATA *rule)
{
    // One text: the stream operator would put blanks between the parts.
    qWarning().noquote() << QStringLiteral("文件名:") + m_file.filePath
            + QStringLiteral("文件拒绝传输");
    switch (SentFileRemoval::remove(m_file.pathBytes(), m_md5Identity)) {
    case SentFileRemoval::Removed:
        SendLedger::refused(rule, m_file, true);
        finishRow(m_info, m_info.at(TransferStateInfo::Status).trimmed() + kRemovedAfterRefusal);
        break;
    case SentFileRemoval::OtherVersion:
        // Replaced or changed since it was judged: what is there now was never offered to the gap.
        qDebug() << "File:" << m_file.filePath << "changed after its refusal, kept";
        SendLedger::release(rule, m_file);
        break;
    case SentFileRemoval::Failed:
        qWarning().noquote() << QStringLiteral("文件名:") + m_file.filePath + "，无法删除";
        SendLedger::refused(rule, m_file, false);
        break;
    }
}

int SendWorkThread::getSecurityByFileName(QFile *file)
{
    const qint64 size = file->size();
    if (size <= kLabelSize) {
        file->seek(0);
        return kNoLabelLevel;
    }
    if (!file->seek(size - kLabelSize))
        qDebug() << "seek fail!";
    int level = kNoLabelLevel;
    if (restoreLabelPart(file, kLabelMarkSize) == "hello")
        level = levelOfWord(restoreLabelPart(file, kLabelWordSize));
    file->seek(0);
    return level;
}

int SendWorkThread::fileSecurityFilter(
    QFile *file, _SENDPATH_LISTDATA *rule, _VKGAPIP_CONF *gap, TransferStateInfo &info)
{
    const int level = getSecurityByFileName(file);
    if (level == kNoLabelLevel)
        return 0;
    const int senderLevel = gap->rightLevel;
    const int receiverLevel = rule->RecviverLevel;
    qDebug() << "发送者等级:" << senderLevel << "接收者等级:" << receiverLevel;
    QString refusal;
    if (level < senderLevel)
        refusal = QStringLiteral("传输失败,发送方没有权限发送该文件");
    else if (level < receiverLevel)
        refusal = QStringLiteral("接收方没有权限接收该文件");
    else
        return 0;
    info.setText(TransferStateInfo::Status, refusal);
    info.setText(TransferStateInfo::StartTime, now());
    info.setText(TransferStateInfo::EndTime, now());
    publish(info);
    return 1;
}

void SendWorkThread::writeAudit(const _SEND_LOG &log, const QString &message, int result)
{
    SendAudit::record(log, message, result);
}

void SendWorkThread::publish(const TransferStateInfo &info) { emit updataRequset(info); }

// What is held back reaches the row with the next publish: the end of a file always publishes.
void SendWorkThread::publishProgress(const TransferStateInfo &info)
{
    if (m_sinceProgress.isValid() && !m_sinceProgress.hasExpired(kProgressIntervalMs))
        return;
    m_sinceProgress.start();
    publish(info);
}

void SendWorkThread::finishRow(TransferStateInfo &info, const QString &status)
{
    info.setText(TransferStateInfo::Status, status);
    info.setText(TransferStateInfo::EndTime, now());
    publish(info);
}
