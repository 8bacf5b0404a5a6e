#pragma once

#include "model/TransferStateInfo.h"
#include "protocol/TransferPackets.h"
#include "receive/ContentHasher.h"
#include "receive/RecvTarget.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <QThread>
#include <atomic>
#include <vector>

class QIODevice;
class QTcpSocket;
struct _RECVPATH_LISTDATA;
struct _VKGAPIP_CONF;

// Receives exactly one file from one gap connection on the file port. The socket is built from the
// descriptor inside the thread, so that it belongs to it. Progress leaves the thread only through
// updataRequset; shared records are touched only under recvWorkMutex.
//
// The content is written into a file without a name and takes its name only once its digest
// matched and it is on disk: a transfer that breaks off, even with the process, never leaves a
// partial file that looks received (RecvTarget). The digest is taken over the content as it is
// written, beside the loop (ContentHasher). The loop reads the socket in large pieces straight
// into its stream buffer and copies each payload once, into the block that is written; progress
// reaches the row at most every kProgressIntervalMs, so that the receiving thread wakes no other
// thread per block.
class RecvWorkThread : public QThread
{
    Q_OBJECT

public:
    // How a connection ended, as recvData returns it.
    enum End {
        Unlisted = -4, // peer is not a gap we are logged in to: dropped silently
        Garbled = -3, // unknown type, packet out of order, or more content than announced
        LostConnection = -2,
        Refused = -1, // descriptor refused, or the file failed to open
        DataWriteFailed = 1,
        FileEnded = 2, // the file end arrived, whatever came of it
        GapVerdict = 3, // the gap refused the content and says why
        TooSlow = -5, // less than kPaceMinBytes arrived within a pace window
    };

    static constexpr int kProgressIntervalMs = 100;
    static constexpr qint64 kPaceMinBytes = 64 * 1024;
    static constexpr int kPaceWindowMs = 60000;

    explicit RecvWorkThread(qintptr socketDescriptor);
    ~RecvWorkThread() override;

    int recvData(QTcpSocket *socket);
    // The packet loop over a connection from the gap at gapAddress, read from and answered on
    // peer until it ends. recvData runs it on the socket; an in-process driver (the fuzzer) may
    // run it on any device, one connection after the other on the same worker.
    int receive(QIODevice *peer, const QByteArray &gapAddress, const QByteArray &localAddress);

    // Workers that exist now, from construction to destruction.
    static int aliveCount() { return s_alive.load(); }
    // The pace window of the workers that start after the call (kPaceWindowMs by default), so
    // that a test need not wait a minute for a peer that trickles.
    static void setPaceWindow(int ms) { s_paceWindowMs = ms; }

signals:
    void updataRequset(TransferStateInfo info);

protected:
    void run() override;

private:
    enum ReadResult { Read, Lost, Slow };

    void resetTransfer(const QByteArray &gapAddress, const QByteArray &localAddress);
    ReadResult readIntoStream(QIODevice *peer);
    qint64 readSome(QIODevice *peer, char *to, qint64 maxSize, int waitMs);
    int dispatchPackets(QIODevice *peer);
    int dispatch(QIODevice *peer, const char *packet);

    int handleDescriptor(QIODevice *peer, const char *packet);
    int recvFileDiscribe(const _PACKET_FILE_DISCRIBE &descriptor, const QByteArray &relativePath);
    bool sendMetaResponse(QIODevice *peer, const _PACKET_META_RESPONSE &response);
    void reportRefusal(const _PACKET_FILE_DISCRIBE &descriptor, const QString &status);

    int handleData(QIODevice *peer, const char *packet);
    void sampleRate();
    int writeThisBuffer();
    bool writeContent(const char *data, int length);
    int handleFileEnd(QIODevice *peer, const char *packet);
    int recvFileEnd(const _PACKET_FILE_END &end);
    void verifyAndConfirm(QIODevice *peer);
    void confirmReceived(QIODevice *peer);
    void confirmMismatch(QIODevice *peer);
    void saveFailed(QIODevice *peer);

    int lostConnection(QIODevice *peer);
    int tooSlow(QIODevice *peer);
    int garbled(QIODevice *peer, int type, const QString &status);
    int gapVerdict(QIODevice *peer, int type);
    void endRow(const QString &status);
    void discardFile();
    void releaseRule();
    void report();
    void reportProgress();
    void audit(const char *message, int result);
    void setFileError(const QString &writeErrorText);

    static std::atomic<int> s_alive;
    static std::atomic<int> s_paceWindowMs;

    qintptr m_socketDescriptor;

    std::vector<char> m_stream; // bytes read from the peer, whole packets taken from the front
    int m_streamLength = 0;
    std::vector<char> m_block; // payloads to be written, up to kStagingCapacity
    int m_blockLength = 0;
    ContentHasher m_contentHasher; // over the content as it is written

    RecvTarget m_target; // where the content goes, held by descriptors
    QFile m_file; // the content file while content arrives, over the target's descriptor
    QString m_recvDir;
    QString m_ruleKey;
    QByteArray m_gapAddress;
    QByteArray m_localAddress;
    _VKGAPIP_CONF *m_gap = nullptr;
    _RECVPATH_LISTDATA *m_rule = nullptr; // held while the transfer may write into its directory

    TransferStateInfo m_progress;
    qint64 m_fileSize = 0;
    qint64 m_recvBytes = 0;
    bool m_inProgress = false;
    quint32 m_dataPackets = 0;
    qint64 m_sampleSecs = 0;
    qint64 m_sampleBytes = 0;
    QElapsedTimer m_sinceReport;
    QElapsedTimer m_sinceBytes; // since the last bytes from the peer
    QElapsedTimer m_paceWindow;
    qint64 m_paceBytes = 0; // bytes from the peer in the current pace window
    int m_paceWindowMs = kPaceWindowMs;

    QByteArray m_md5;
    QByteArray m_toUser;
    QByteArray m_fromUser;
    QByteArray m_fileName;
};
