#include "receive/RecvWorkThread.h"

#include "model/AuditLog.h"
#include "model/BaseFunction.h"
#include "model/GlobalData.h"
#include "model/HandOver.h"
#include "model/TransferTrace.h"
#include "model/TransferVerdict.h"
#include "receive/RecvAdmission.h"
#include "receive/RecvPathResolver.h"
#include "receive/RecvStatusText.h"

#include <QDateTime>
#include <QDir>
#include <QHostAddress>
#include <QTcpSocket>
#include <QtDebug>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kContinue = 0; // a packet handler's "go on with the loop"
constexpr int kReceiveBufferSize = kBurstCapacity; // the socket's receive buffer
// Room for all the socket holds (the kernel doubles the size asked for) with a packet left over.
constexpr int kStreamCapacity = 4 * kReceiveBufferSize;
constexpr int kWaitMs = 30000;
constexpr int kAuditDetailSize = 1024;
constexpr const char *kAuditCategory = "CLIENT_RECV";
constexpr const char *kAuditAction = "接收文件";

enum DescriptorResult {
    Opened = 0,
    PathTooLong = 1,
    NoRecvPath = 2,
    OpenFailed = -1,
    NoRoom = -2, // unanswered: the sender keeps its file and tries again later
};

const QString kTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");
const QString kRateStart = QStringLiteral("0/Kbps");
const QString kRateStopped = QStringLiteral("0 Mbps");
const QString kWriteError = QStringLiteral("写入文件时发生错误，检查内存是否充足");
const QString kPathOutOfRange = QStringLiteral("文件所需路径超出范围|关闭连接");
const char *const kResourceShortage = "系统资源不足";

QString openErrorText(QFileDevice::FileError error)
{
    switch (error) {
    case QFileDevice::FatalError:
        return QStringLiteral("发生了致命错误");
    case QFileDevice::ResourceError:
        return QString::fromUtf8(kResourceShortage);
    case QFileDevice::OpenError:
        return QStringLiteral("打开文件失败/关闭连接");
    default:
        return QStringLiteral("文件打开失败/错误代码%1").arg(int(error));
    }
}

// Writes all bytes or fails with the file's error set. A file that takes only part of a write
// reports no error for it; asking again for the rest brings the cause (a full disk, a size limit).
bool writeFully(QFile &file, const char *data, qint64 length)
{
    qint64 done = 0;
    while (done < length) {
        const qint64 written = file.write(data + done, length - done);
        if (written <= 0)
            return false;
        done += written;
    }
    return true;
}

QString now() { return QDateTime::currentDateTime().toString(kTimeFormat); }

QString progressText(qint64 received, qint64 size)
{
    // An empty file is whole once its end arrived; 0 / 0 would show "nan".
    const double fraction = size > 0 ? double(received) / double(size) : 1.0;
    return QStringLiteral("%1").arg(fraction);
}

// Writes a whole packet and waits until it has left; false when it could not.
bool writeAll(QIODevice *peer, const QByteArray &bytes)
{
    if (peer->write(bytes) != bytes.size())
        return false;
    while (peer->bytesToWrite() > 0) {
        if (!peer->waitForBytesWritten(kWaitMs))
            return false;
    }
    return true;
}

bool sendReply(QIODevice *peer, quint64 type)
{
    return writeAll(peer, packetBytes(buildReply(type)));
}

// Reads what the socket holds, waiting up to waitMs for bytes; the bytes read, 0 when none came in
// time, -1 when the peer closed the connection or it failed. Straight from the descriptor: the
// socket class would copy everything through a buffer of its own first.
qint64 readDescriptor(int fd, char *to, qint64 maxSize, int waitMs)
{
    ssize_t got = ::recv(fd, to, size_t(maxSize), MSG_DONTWAIT);
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        pollfd wait { fd, POLLIN, 0 };
        const int ready = ::poll(&wait, 1, waitMs);
        if (ready <= 0)
            return ready == 0 || errno == EINTR ? 0 : -1;
        got = ::recv(fd, to, size_t(maxSize), MSG_DONTWAIT);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return 0;
    }
    return got > 0 ? qint64(got) : -1;
}

} // namespace

std::atomic<int> RecvWorkThread::s_alive { 0 };
std::atomic<int> RecvWorkThread::s_paceWindowMs { RecvWorkThread::kPaceWindowMs };

RecvWorkThread::RecvWorkThread(qintptr socketDescriptor)
    : m_socketDescriptor(socketDescriptor)
    , m_paceWindowMs(s_paceWindowMs)
{
    ++s_alive;
}

// Deleted once finished, in another thread: Qt's own end-of-thread synchronisation is invisible
// to ThreadSanitizer, so run() hands its fields over explicitly.
RecvWorkThread::~RecvWorkThread()
{
    HandOver::acquire(this);
    --s_alive;
}

void RecvWorkThread::run()
{
    qDebug() << "接收 线程 Current thread ID:" << QThread::currentThreadId();
    m_stream.assign(kStreamCapacity, 0);
    m_block.assign(kStagingCapacity, 0);
    QTcpSocket socket;
    if (socket.setSocketDescriptor(
            m_socketDescriptor, QAbstractSocket::ConnectedState, QIODevice::ReadWrite)) {
        socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, kReceiveBufferSize);
        // The answers are short packets the sender waits for: never hold one back for Nagle.
        socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        qDebug() << "socket句柄:" << m_socketDescriptor << "线程id: " << QThread::currentThreadId();
        recvData(&socket);
    } else {
        qDebug() << "recv socket initialize error";
        // Nobody else owns the descriptor: closing it lets the gap see the end.
        ::close(int(m_socketDescriptor));
    }
    std::vector<char>().swap(m_stream);
    std::vector<char>().swap(m_block);
    m_contentHasher.stop();
    m_target.stopFlushing();
    HandOver::release(this);
}

int RecvWorkThread::recvData(QTcpSocket *socket)
{
    qDebug() << "start to recv filedata!";
    return receive(socket, RecvAdmission::gapAddressText(socket->peerAddress()),
        RecvAdmission::gapAddressText(socket->localAddress()));
}

int RecvWorkThread::receive(
    QIODevice *peer, const QByteArray &gapAddress, const QByteArray &localAddress)
{
    resetTransfer(gapAddress, localAddress);
    m_gap = BaseFunction::findVkgapinfo(QString::fromLatin1(m_gapAddress));
    if (!m_gap) {
        peer->close();
        return Unlisted;
    }
    // A driver that runs the loop itself keeps the buffers from one connection to the next.
    if (m_stream.empty()) {
        m_stream.assign(kStreamCapacity, 0);
        m_block.assign(kStagingCapacity, 0);
    }

    int end = kContinue;
    while (end == kContinue) {
        switch (readIntoStream(peer)) {
        case Read:
            end = dispatchPackets(peer);
            break;
        case Lost:
            end = lostConnection(peer);
            break;
        case Slow:
            end = tooSlow(peer);
            break;
        }
    }
    return end;
}

void RecvWorkThread::resetTransfer(const QByteArray &gapAddress, const QByteArray &localAddress)
{
    m_streamLength = 0;
    m_blockLength = 0;
    m_contentHasher.reset();
    m_progress = TransferStateInfo();
    m_fileSize = 0;
    m_recvBytes = 0;
    m_inProgress = false;
    m_dataPackets = 0;
    m_sampleSecs = QDateTime::currentSecsSinceEpoch();
    m_sampleBytes = 0;
    m_sinceReport.start();
    m_sinceBytes.start();
    m_paceWindow.start();
    m_paceBytes = 0;
    m_gapAddress = gapAddress;
    m_localAddress = localAddress;
    m_ruleKey.clear();
    m_recvDir.clear();
}

// Appends what the peer sends to the stream. The connection is lost when the peer closed it or
// 30 s passed without a byte; a peer is too slow when less than kPaceMinBytes came within a pace
// window, however it spaced them.
RecvWorkThread::ReadResult RecvWorkThread::readIntoStream(QIODevice *peer)
{
    for (;;) {
        if (m_paceWindow.hasExpired(m_paceWindowMs)) {
            if (m_paceBytes < kPaceMinBytes)
                return Slow;
            m_paceWindow.start();
            m_paceBytes = 0;
        }
        const qint64 idleLeft = kWaitMs - m_sinceBytes.elapsed();
        if (idleLeft <= 0)
            return Lost;
        const int waitMs = int(qMin(idleLeft, m_paceWindowMs - m_paceWindow.elapsed()));
        const qint64 got = readSome(peer, m_stream.data() + m_streamLength,
            qint64(m_stream.size()) - m_streamLength, qMax(waitMs, 0));
        if (got < 0)
            return Lost;
        if (got > 0) {
            m_streamLength += int(got);
            m_paceBytes += got;
            m_sinceBytes.start();
            return Read;
        }
    }
}

// The bytes read, 0 when none came within waitMs, -1 when the connection ended.
qint64 RecvWorkThread::readSome(QIODevice *peer, char *to, qint64 maxSize, int waitMs)
{
    // What the device holds already (a socket reads ahead while it waits for an answer to leave)
    // comes first.
    if (peer->bytesAvailable() > 0)
        return peer->read(to, maxSize);
    const auto *socket = qobject_cast<QAbstractSocket *>(peer);
    if (socket && socket->socketDescriptor() >= 0)
        return readDescriptor(int(socket->socketDescriptor()), to, maxSize, waitMs);
    // Any other device: a wait that ends without bytes ends the connection.
    peer->waitForReadyRead(waitMs);
    const qint64 got = peer->read(to, maxSize);
    return got > 0 ? got : -1;
}

// Handles every whole packet of the stream where it lies, and keeps the bytes of a packet that
// is not whole yet at the front.
int RecvWorkThread::dispatchPackets(QIODevice *peer)
{
    int end = kContinue;
    int at = 0;
    for (; end == kContinue && m_streamLength - at >= kPacketSize; at += kPacketSize)
        end = dispatch(peer, m_stream.data() + at);
    if (end == kContinue) {
        std::memmove(m_stream.data(), m_stream.data() + at, size_t(m_streamLength - at));
        m_streamLength -= at;
    }
    return end;
}

int RecvWorkThread::dispatch(QIODevice *peer, const char *packet)
{
    // Every type the receiver accepts fits the first byte.
    const int type = static_cast<unsigned char>(packet[0]);
    // A connection carries one descriptor, then its content: anything out of that order is not a
    // file this side can vouch for.
    switch (type) {
    case kTypeFileDescriptor:
        return m_inProgress ? garbled(peer, type, RecvStatusText::kSecondDescriptor)
                            : handleDescriptor(peer, packet);
    case kTypeFileData:
        return m_inProgress ? handleData(peer, packet)
                            : garbled(peer, type, RecvStatusText::kNoDescriptor);
    case kTypeFileEnd:
        return m_inProgress ? handleFileEnd(peer, packet)
                            : garbled(peer, type, RecvStatusText::kNoDescriptor);
    case kTypeTypeRefused:
    case kTypeKeywordFound:
    case kTypeVirusFound:
        return m_inProgress ? gapVerdict(peer, type)
                            : garbled(peer, type, RecvStatusText::kNoDescriptor);
    default:
        return garbled(peer, type, RecvStatusText::kUnknownPacket);
    }
}

int RecvWorkThread::handleDescriptor(QIODevice *peer, const char *packet)
{
    _PACKET_FILE_DISCRIBE descriptor;
    std::memcpy(static_cast<void *>(&descriptor), packet, sizeof descriptor);
    const QByteArray relativePath
        = fieldBytes(descriptor.relativePath, int(sizeof descriptor.relativePath));
    m_ruleKey
        = QString::fromLatin1(fieldBytes(descriptor.sendPathID, int(sizeof descriptor.sendPathID)));
    m_md5 = QByteArray(descriptor.md5, kMd5TextSize);
    // Matched byte for byte (Latin-1 above), shown as the UTF-8 the gap sends.
    m_progress.setText(TransferStateInfo::TransferPath,
        QString::fromUtf8(fieldBytes(descriptor.sendPathID, int(sizeof descriptor.sendPathID))));
    m_fileName = relativePath.mid(relativePath.lastIndexOf('/') + 1);
    m_toUser = fieldBytes(descriptor.toUser, int(sizeof descriptor.toUser));
    m_fromUser = fieldBytes(descriptor.fromUser, int(sizeof descriptor.fromUser));
    qDebug() << "localip:" << m_localAddress << "host" << m_gapAddress << "touser" << m_toUser
             << "fromuser" << m_fromUser << "filenam" << QString::fromUtf8(m_fileName);

    switch (recvFileDiscribe(descriptor, relativePath)) {
    case Opened:
        if (!sendMetaResponse(peer, buildMetaResponse(descriptor, kTypeMetaAccepted))) {
            // The sender will try again; an empty file under the name would pass for the file.
            discardFile();
            releaseRule();
            peer->close();
            return Refused;
        }
        m_inProgress = true;
        return kContinue;
    case PathTooLong:
        sendMetaResponse(peer, buildMetaResponse(descriptor, kTypeNameTooLong));
        discardFile();
        releaseRule();
        peer->close();
        audit("文件所需路径超出范围", 0);
        return Refused;
    case NoRecvPath:
        sendMetaResponse(peer, buildMetaResponse(descriptor, kTypeNoRecvPath));
        peer->close();
        audit("未配置接收路径", 0);
        return Refused;
    case NoRoom:
        releaseRule();
        discardFile();
        peer->close();
        audit(RecvStatusText::kNoRoom.toUtf8().constData(), 0);
        return Refused;
    default:
        qDebug() << __FILE__ << __LINE__ << "初始化错误";
        releaseRule();
        discardFile();
        peer->close();
        audit("文件初始化错误", 0);
        return Refused;
    }
}

int RecvWorkThread::recvFileDiscribe(
    const _PACKET_FILE_DISCRIBE &descriptor, const QByteArray &relativePath)
{
    qDebug() << "网闸ip" << m_gapAddress;
    m_rule = RecvPathResolver::findRecvPath(m_ruleKey, &m_recvDir, m_gapAddress);
    // A rule without an absolute directory would put files wherever the process happens to be.
    if (!m_rule || !QDir::isAbsolutePath(m_recvDir)) {
        releaseRule();
        reportRefusal(descriptor, QStringLiteral("未知接收路径|关闭连接"));
        return NoRecvPath;
    }
    // A path that would leave the receive directory, or that decoding would change, is refused
    // like one too long to place: before any content.
    if (!RecvPathResolver::isPlaceable(relativePath)) {
        reportRefusal(descriptor, kPathOutOfRange);
        return PathTooLong;
    }

    m_fileSize = descriptor.fileSize;
    const RecvTarget::Outcome outcome
        = m_target.prepare(m_recvDir, relativePath, m_fileSize, QDateTime::currentDateTime());
    qDebug() << m_target.finalPath();
    if (outcome == RecvTarget::Refused) {
        reportRefusal(descriptor, kPathOutOfRange);
        return PathTooLong;
    }
    // Refused before any content, and unanswered: the sender keeps its file for a later attempt.
    if (outcome == RecvTarget::NoSpace) {
        qWarning().noquote() << "no room for" << m_fileSize << "bytes in" << m_recvDir << "for"
                             << QString::fromUtf8(relativePath);
        reportRefusal(descriptor, RecvStatusText::kNoRoom);
        return NoRoom;
    }
    if (outcome != RecvTarget::Ready
        || !m_file.open(m_target.contentFd(), QIODevice::ReadWrite | QIODevice::Unbuffered,
            QFileDevice::DontCloseHandle)) {
        const QFileDevice::FileError error
            = outcome != RecvTarget::Ready ? m_target.fileError() : m_file.error();
        qDebug() << __FILE__ << __LINE__ << m_target.finalPath() << "file open error!"
                 << "文件错误码:" << error;
        reportRefusal(descriptor, openErrorText(error));
        return OpenFailed;
    }
    m_recvBytes = 0;
    m_progress.setText(TransferStateInfo::FileName, QString::fromUtf8(m_target.finalName()));
    m_progress.setText(TransferStateInfo::Rate, kRateStart);
    m_progress.setText(TransferStateInfo::Size, BaseFunction::calcSize(m_fileSize));
    m_progress.setText(TransferStateInfo::StartTime, now());
    m_progress.setText(TransferStateInfo::Status, QStringLiteral("接收文件描述信息"));
    report();
    return Opened;
}

void RecvWorkThread::reportRefusal(const _PACKET_FILE_DISCRIBE &descriptor, const QString &status)
{
    m_fileSize = descriptor.fileSize;
    m_progress.setText(TransferStateInfo::FileName,
        QString::fromUtf8(
            fieldBytes(descriptor.relativePath, int(sizeof descriptor.relativePath))));
    m_progress.setText(TransferStateInfo::Size, BaseFunction::calcSize(m_fileSize));
    m_progress.setText(TransferStateInfo::StartTime, now());
    m_progress.setText(TransferStateInfo::EndTime, now());
    m_progress.setText(TransferStateInfo::Status, status);
    report();
}

bool RecvWorkThread::sendMetaResponse(QIODevice *peer, const _PACKET_META_RESPONSE &response)
{
    const bool sent = writeAll(peer, packetBytes(response));
    if (response.type != kTypeMetaAccepted)
        return sent;
    if (!sent) {
        qDebug() << __FILE__ << __LINE__ << "type 9 响应发送失败";
        m_progress.setText(TransferStateInfo::Status, QStringLiteral("文件描述符响应发送失败"));
        m_progress.setText(TransferStateInfo::EndTime, now());
        report();
        return false;
    }
    m_progress.setText(TransferStateInfo::Status, QStringLiteral("接收文件描述符响应"));
    report();
    return true;
}

int RecvWorkThread::handleData(QIODevice *peer, const char *packet)
{
    // The descriptor announced the size: content beyond it is not that file.
    if ((qint64(m_dataPackets) + 1) * kPayloadSize > m_fileSize)
        return garbled(peer, kTypeFileData, RecvStatusText::kBeyondSize);
    if (m_blockLength >= kStagingCapacity && writeThisBuffer() != 0) {
        qDebug() << __FILE__ << __LINE__ << " file write to datatype error";
        releaseRule();
        peer->close();
        return DataWriteFailed;
    }
    std::memcpy(m_block.data() + m_blockLength, packet + offsetof(_PACKET_FILE_DATA, data),
        size_t(kPayloadSize));
    m_blockLength += kPayloadSize;
    ++m_dataPackets;
    return kContinue;
}

// Received bytes grow a block at a time, so the rate moves in steps of one block; it is sampled
// at each block.
void RecvWorkThread::sampleRate()
{
    const qint64 nowSecs = QDateTime::currentSecsSinceEpoch();
    const qint64 elapsed = nowSecs - m_sampleSecs;
    if (elapsed <= 0)
        return;
    const quint64 rate = quint64((m_recvBytes - m_sampleBytes) / elapsed);
    m_progress.setText(TransferStateInfo::Rate, BaseFunction::readableRate(rate));
    m_sampleSecs = nowSecs;
    m_sampleBytes = m_recvBytes;
}

int RecvWorkThread::writeThisBuffer()
{
    const int length = m_blockLength;
    m_blockLength = 0;
    if (!writeContent(m_block.data(), length)) {
        qDebug() << __FILE__ << __LINE__ << m_target.contentPath() << "文件写入失败";
        qDebug() << "文件错误值" << m_file.error();
        setFileError(kWriteError);
        m_progress.setText(TransferStateInfo::Rate, kRateStopped);
        m_progress.setText(TransferStateInfo::EndTime, now());
        report();
        discardFile();
        return -1;
    }
    m_recvBytes += length;
    sampleRate();
    m_progress.setText(TransferStateInfo::Status, QStringLiteral("正在接收中"));
    m_progress.setText(TransferStateInfo::Progress, progressText(m_recvBytes, m_fileSize));
    reportProgress();
    return 0;
}

// The digest is taken over exactly the bytes the file took, in their order: the content needs no
// second reading to be checked.
bool RecvWorkThread::writeContent(const char *data, int length)
{
    if (!writeFully(m_file, data, length))
        return false;
    m_target.contentAppended(length);
    m_contentHasher.add(data, length);
    return true;
}

void RecvWorkThread::setFileError(const QString &writeErrorText)
{
    const QFileDevice::FileError error = m_file.error();
    QString text;
    switch (error) {
    case QFileDevice::WriteError:
        text = writeErrorText;
        break;
    case QFileDevice::FatalError:
        text = QStringLiteral("发生意外错误");
        break;
    case QFileDevice::ResourceError:
        text = QString::fromUtf8(kResourceShortage);
        break;
    default:
        text = QStringLiteral("错误代码 %1").arg(int(error));
    }
    m_progress.setText(TransferStateInfo::Status, text);
}

int RecvWorkThread::handleFileEnd(QIODevice *peer, const char *packet)
{
    TransferTrace::mark("recv", "file-end", m_fileName);
    _PACKET_FILE_END end;
    std::memcpy(static_cast<void *>(&end), packet, sizeof end);
    const int tail = readTailLength(end);
    if (tail < 0)
        return garbled(peer, kTypeFileEnd, RecvStatusText::kBadTail);
    if (m_recvBytes + m_blockLength + tail > m_fileSize)
        return garbled(peer, kTypeFileEnd, RecvStatusText::kBeyondSize);

    if (writeThisBuffer() != 0) {
        qDebug() << __FILE__ << __LINE__ << " write to datatype 2 error";
        releaseRule();
        peer->close();
        audit(kResourceShortage, 0);
        return FileEnded;
    }
    if (recvFileEnd(end) != 1) {
        releaseRule();
        peer->close();
        audit(kResourceShortage, 0);
        return FileEnded;
    }
    verifyAndConfirm(peer);
    return FileEnded;
}

int RecvWorkThread::recvFileEnd(const _PACKET_FILE_END &end)
{
    const int length = readTailLength(end);
    if (!writeContent(end.tail, length)) {
        qDebug() << __FILE__ << __LINE__ << m_target.contentPath() << "文件尾包最后写入失败 ";
        // Read before closing: closing clears the file's error, the row would say "错误代码 0".
        setFileError(kWriteError + QLatin1Char(' '));
        m_progress.setText(TransferStateInfo::EndTime, now());
        report();
        discardFile();
        return -1;
    }
    m_recvBytes += length;
    m_progress.setText(TransferStateInfo::Rate, kRateStopped);
    m_progress.setText(TransferStateInfo::Status, QStringLiteral("文件接收完毕"));
    m_progress.setText(TransferStateInfo::Progress, progressText(m_recvBytes, m_fileSize));
    m_progress.setText(TransferStateInfo::EndTime, now());
    report();
    return 1;
}

// The sender deletes its copy on confirmation 5: a matching content is synced to disk, then
// named, and its directory synced, before the answer leaves.
void RecvWorkThread::verifyAndConfirm(QIODevice *peer)
{
    m_progress.setText(TransferStateInfo::Status, QStringLiteral("正在校验文件"));
    report();
    m_file.close();
    // The digest was taken over the content as it was written; it is compared once the content
    // is on the disk.
    if (!m_target.syncContent()) {
        qDebug() << __FILE__ << __LINE__ << m_target.contentPath() << "sync failed, errno"
                 << m_target.errorNumber();
        saveFailed(peer);
        return;
    }
    TransferTrace::mark("recv", "synced", m_fileName);
    const QByteArray digest = m_contentHasher.finish();
    TransferTrace::mark("recv", "verified", m_fileName);
    if (digest != m_md5) {
        confirmMismatch(peer);
        return;
    }
    confirmReceived(peer);
}

void RecvWorkThread::confirmReceived(QIODevice *peer)
{
    if (!m_target.commit(QDateTime::currentDateTime())) {
        qDebug() << __FILE__ << __LINE__ << m_target.contentPath() << "->" << m_target.finalPath()
                 << "commit failed, errno" << m_target.errorNumber();
        saveFailed(peer);
        return;
    }
    m_progress.setText(TransferStateInfo::FileName, QString::fromUtf8(m_target.finalName()));
    m_progress.setText(TransferStateInfo::StoredPath, m_target.finalPath());
    // The event names the file as it was stored (a stamped name, the directories of its path),
    // below the receive directory, so that it can be found again.
    m_fileName = QDir(m_recvDir).relativeFilePath(m_target.finalPath()).toUtf8();
    releaseRule();
    if (!sendReply(peer, kTypeConfirmOk)) {
        qDebug() << "send to recv file success type 5 error";
        peer->close();
    }
    m_progress.setText(TransferStateInfo::Status, QStringLiteral("接收完毕"));
    report();
    {
        QMutexLocker lock(&recvWorkMutex);
        m_gap->recvBytes += m_recvBytes;
        ++m_gap->recvFileNum;
    }
    qDebug() << "file recv over!";
    audit("接收完毕", 1);
}

void RecvWorkThread::confirmMismatch(QIODevice *peer)
{
    m_progress.setText(TransferStateInfo::Status, QStringLiteral("文件校验错误|稍后重传"));
    report();
    discardFile();
    releaseRule();
    if (!sendReply(peer, kTypeConfirmMismatch))
        peer->close();
    audit("文件校验错误", 0);
}

// Unconfirmed, the sender keeps its copy and sends it again.
void RecvWorkThread::saveFailed(QIODevice *peer)
{
    endRow(RecvStatusText::kSaveFailed);
    discardFile();
    releaseRule();
    peer->close();
    audit(kResourceShortage, 0);
}

int RecvWorkThread::lostConnection(QIODevice *peer)
{
    releaseRule();
    peer->close();
    if (m_inProgress)
        endRow(QStringLiteral("Socket断连"));
    discardFile();
    return LostConnection;
}

// A peer that keeps the connection alive without moving a file holds a thread, descriptors and
// its rule: it is let go, and the row says why.
int RecvWorkThread::tooSlow(QIODevice *peer)
{
    qWarning().noquote() << "file connection from" << m_gapAddress << "moved" << m_paceBytes
                         << "bytes in" << m_paceWindowMs / 1000 << "s: ended";
    releaseRule();
    peer->close();
    endRow(RecvStatusText::kTooSlow);
    discardFile();
    return TooSlow;
}

int RecvWorkThread::garbled(QIODevice *peer, int type, const QString &status)
{
    releaseRule();
    peer->close();
    // Whatever arrived so far is not a file anyone announced in full.
    discardFile();
    qDebug("invalid packt error recv data type=%d\n", type);
    endRow(status);
    return Garbled;
}

// The gap judged the content and stopped the stream; the sender shows the same words.
int RecvWorkThread::gapVerdict(QIODevice *peer, int type)
{
    const QString verdict = TransferVerdict::text(quint64(type));
    qDebug() << "gap verdict" << type << verdict;
    releaseRule();
    peer->close();
    discardFile();
    endRow(verdict);
    audit(verdict.toUtf8().constData(), 0);
    return GapVerdict;
}

void RecvWorkThread::endRow(const QString &status)
{
    m_progress.setText(TransferStateInfo::Rate, kRateStopped);
    m_progress.setText(TransferStateInfo::Status, status);
    m_progress.setText(TransferStateInfo::EndTime, now());
    report();
}

void RecvWorkThread::discardFile()
{
    m_file.close();
    m_target.discard();
}

void RecvWorkThread::releaseRule()
{
    if (!m_rule)
        return;
    RecvPathResolver::releaseRecvPath(m_rule);
    m_rule = nullptr;
}

void RecvWorkThread::report()
{
    m_sinceReport.start();
    emit updataRequset(m_progress);
}

// Progress alone reaches the row at most every kProgressIntervalMs: each report wakes the GUI
// thread.
void RecvWorkThread::reportProgress()
{
    if (m_sinceReport.hasExpired(kProgressIntervalMs))
        report();
}

void RecvWorkThread::audit(const char *message, int result)
{
    QByteArray detail = "'" + m_localAddress + "', '" + m_fileName + "', '" + m_fromUser + "', '"
        + QByteArray(message) + "'";
    detail.truncate(kAuditDetailSize - 1);
    QMutexLocker lock(&recvWorkMutex);
    AuditLog::record(m_gapAddress, kAuditCategory, m_toUser, kAuditAction, result, detail);
}
