#pragma once

#include "model/TransferStateInfo.h"
#include "protocol/DataBuff.h"
#include "protocol/TransferPackets.h"
#include "receive/RecvTarget.h"

#include <QByteArray>
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
// The content is written under a hidden part name beside its final name and takes the final name
// only once its digest matched and it is on disk: a transfer that breaks off, even with the
// process, never leaves a partial file that looks received (RecvTarget).
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
    };

    explicit RecvWorkThread(qintptr socketDescriptor);
    ~RecvWorkThread() override;

    int recvData(QTcpSocket *socket);
    // The packet loop over a connection from the gap at gapAddress, read from and answered on
    // peer until it ends. recvData runs it on the socket; an in-process driver (the fuzzer) may
    // run it on any device, one connection after the other on the same worker.
    int receive(QIODevice *peer, const QByteArray &gapAddress, const QByteArray &localAddress);

    // Workers that exist now, from construction to destruction.
    static int aliveCount() { return s_alive.load(); }

signals:
    void updataRequset(TransferStateInfo info);

protected:
    void run() override;

private:
    void resetTransfer(const QByteArray &gapAddress, const QByteArray &localAddress);
    bool readIntoStream(QIODevice *peer);
    int dispatch(QIODevice *peer, const char *packet);

    int handleDescriptor(QIODevice *peer, const char *packet);
    int recvFileDiscribe(const _PACKET_FILE_DISCRIBE &descriptor, const QByteArray &relativePath);
    bool sendMetaResponse(QIODevice *peer, const _PACKET_META_RESPONSE &response);
    void reportRefusal(const _PACKET_FILE_DISCRIBE &descriptor, const QString &status);

    int handleData(QIODevice *peer, const char *packet);
    void sampleRate();
    int writeThisBuffer();
    int handleFileEnd(QIODevice *peer, const char *packet);
    int recvFileEnd(const _PACKET_FILE_END &end);
    void verifyAndConfirm(QIODevice *peer);
    void confirmReceived(QIODevice *peer);
    void confirmMismatch(QIODevice *peer);
    void saveFailed(QIODevice *peer);

    int lostConnection(QIODevice *peer);
    int garbled(QIODevice *peer, int type, const QString &status);
    int gapVerdict(QIODevice *peer, int type);
    void endRow(const QString &status);
    void discardFile();
    void releaseRule();
    void report();
    void audit(const char *message, int result);
    void setFileError(const QString &writeErrorText);

    static std::atomic<int> s_alive;

    qintptr m_socketDescriptor;

    std::vector<char> m_readBuffer;
    std::vector<char> m_payloadStore;
    std::vector<char> m_streamStore;
    DataBuff m_streamBuff;
    DataBuff m_payloadBuff;

    RecvTarget m_target; // where the content goes, held by descriptors
    QFile m_file; // the part file while content arrives, over the target's descriptor
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

    QByteArray m_md5;
    QByteArray m_toUser;
    QByteArray m_fromUser;
    QByteArray m_fileName;
};
