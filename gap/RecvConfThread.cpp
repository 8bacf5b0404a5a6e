#include "gap/RecvConfThread.h"

#include "gap/SocketTools.h"
#include "model/BaseFunction.h"
#include "model/HandOver.h"
#include "protocol/ControlPackets.h"

#include <QHostAddress>
#include <QScopeGuard>
#include <QTcpSocket>
#include <QtDebug>
#include <unistd.h>

RecvConfThread::RecvConfThread(qintptr socketDescriptor, QObject *parent)
    : QThread(nullptr)
    , m_socketDescriptor(socketDescriptor)
{
    Q_UNUSED(parent)
}

// Deleted once finished, in another thread: run() hands its fields over explicitly, because Qt's
// end-of-thread synchronisation is invisible to ThreadSanitizer.
RecvConfThread::~RecvConfThread()
{
    HandOver::acquire(this);
    delete m_socket;
}

void RecvConfThread::run()
{
    const auto handOver = qScopeGuard([this] { HandOver::release(this); });
    // Created here, so that the socket belongs to this thread.
    m_socket = new QTcpSocket;
    if (!m_socket->setSocketDescriptor(
            m_socketDescriptor, QAbstractSocket::ConnectedState, QIODevice::ReadWrite)) {
        qWarning().noquote() << "recv socket initialize error";
        // The accepted connection is ours to close, even if no socket took it over.
        ::close(int(m_socketDescriptor));
        delete m_socket;
        m_socket = nullptr;
        return;
    }
    qWarning().noquote() << "socket句柄:" << m_socketDescriptor
                         << "接收server线程id: " << QThread::currentThreadId();
    recvConf(m_socket);
    delete m_socket;
    m_socket = nullptr;
}

int RecvConfThread::recvConf(QTcpSocket *socket)
{
    const QString peer = socket->peerAddress().toString();
    qWarning().noquote() << peer;
    _VKGAPIP_CONF *gap = BaseFunction::findVkgapinfo(peer);
    if (!gap) {
        socket->close();
        return 1;
    }
    _PACKET_CONF_DATA pkt;
    zeroPacket(pkt);
    if (socket->bytesAvailable() == 0)
        socket->waitForReadyRead(SocketTools::kIoTimeoutMs);
    socket->read(reinterpret_cast<char *>(&pkt), sizeof pkt);
    if (pkt.type != kTypeConfData) {
        socket->close();
        return 1;
    }
    // Merged without emptying the record first: a push can only add paths.
    BaseFunction::DealWithConfData(gap, &pkt);
    socket->close();
    return 0;
}
