#include "gap/GapLogin.h"

#include <QCoreApplication>
#include <QThread>

GapLogin::GapLogin(std::unique_ptr<_VKGAPIP_CONF> gap, QObject *parent)
    : QObject(parent)
    , m_gap(std::move(gap))
    , m_control([this](SocketTools &tools) {
        // A box asked for from this thread would wait for the thread that started the login,
        // which may be waiting for the login to end.
        tools.deferNotices();
        m_result = tools.connectToGapHost(m_gap.get());
        m_notice = tools.notice();
    })
{
    connect(m_control.thread(), &QThread::finished, this, &GapLogin::onThreadFinished);
}

void GapLogin::start()
{
    m_running = true;
    m_control.start();
}

void GapLogin::cancel()
{
    m_running = false;
    m_control.cancel();
}

void GapLogin::dismiss(std::unique_ptr<GapLogin> login)
{
    if (!login)
        return;
    login->cancel();
    GapLogin *dismissed = login.release();
    dismissed->setParent(QCoreApplication::instance());
    connect(dismissed->m_control.thread(), &QThread::finished, dismissed, &QObject::deleteLater);
    // A thread that ended before the connection above tells nobody any more.
    if (dismissed->m_control.thread()->isFinished())
        dismissed->deleteLater();
}

void GapLogin::onThreadFinished()
{
    if (!m_running)
        return;
    m_control.wait();
    m_running = false;
    emit finished(m_result);
}
