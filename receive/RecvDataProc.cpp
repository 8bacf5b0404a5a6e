#include "receive/RecvDataProc.h"

#include "gap/RecvConfThread.h"
#include "model/Ports.h"
#include "model/Prompt.h"
#include "receive/RecvWorkThread.h"

#include <QTimer>
#include <QtDebug>
#include <unistd.h>

RecvDataProc::RecvDataProc(int port, QObject *parent)
    : QTcpServer(parent)
{
    connect(this, &QTcpServer::acceptError, this, &RecvDataProc::onAcceptError);
    if (listen(QHostAddress::AnyIPv4, quint16(port))) {
        qDebug() << "port:" << serverPort() << "is listening";
        return;
    }
    qDebug() << port << "listen failed!";
    // Both ports may be moved by the environment: the file port is told apart by its number.
    Prompt::error(port == Ports::filePort() ? QStringLiteral("接收文件端口监听失败")
                                            : QStringLiteral("配置信息端口监听失败"));
}

void RecvDataProc::incomingConnection(qintptr socketDescriptor)
{
    qDebug() << serverPort() << "have new socket connect";
    if (m_acceptFailing) {
        qWarning().noquote() << "port" << serverPort() << "accepts connections again";
        m_acceptFailing = false;
    }
    if (serverPort() == Ports::filePort())
        work(socketDescriptor);
    else
        startConfThread(socketDescriptor);
}

void RecvDataProc::work(qintptr socketDescriptor)
{
    if (m_admission.judge(socketDescriptor, RecvWorkThread::aliveCount())
        == RecvAdmission::Admitted)
        emit fileConnection(socketDescriptor);
    else
        ::close(int(socketDescriptor)); // unread: nothing of the peer's reaches a worker
}

// Qt stops listening for good after a failed accept; without this no file would arrive until a
// restart.
void RecvDataProc::onAcceptError()
{
    if (!m_acceptFailing)
        qWarning().noquote() << "port" << serverPort()
                             << "cannot accept a connection:" << errorString() << "- trying again";
    m_acceptFailing = true;
    QTimer::singleShot(kAcceptRetryMs, this, &QTcpServer::resumeAccepting);
}

void RecvDataProc::startConfThread(qintptr socketDescriptor)
{
    auto *thread = new RecvConfThread(socketDescriptor);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start(QThread::InheritPriority);
}
