#include "gap/ControlThread.h"

#include "gap/SocketTools.h"
#include "model/HandOver.h"

#include <QThread>

ControlThread::ControlThread(Work work)
    : m_work(std::move(work))
    , m_thread(QThread::create([this] { run(); }))
{
}

ControlThread::~ControlThread()
{
    cancel();
    if (m_thread->isRunning() || m_thread->isFinished())
        wait();
}

void ControlThread::start() { m_thread->start(); }

void ControlThread::cancel()
{
    QMutexLocker lock(&m_mutex);
    m_cancelled = true;
    if (m_tools)
        m_tools->cancel();
}

bool ControlThread::isRunning() const { return m_thread->isRunning(); }

void ControlThread::wait()
{
    m_thread->wait();
    HandOver::acquire(this);
}

void ControlThread::run()
{
    SocketTools tools;
    {
        QMutexLocker lock(&m_mutex);
        if (m_cancelled)
            tools.cancel();
        m_tools = &tools;
    }
    m_work(tools);
    {
        QMutexLocker lock(&m_mutex);
        m_tools = nullptr;
    }
    // Qt tells the end of the thread out of ThreadSanitizer's sight.
    HandOver::release(this);
}
