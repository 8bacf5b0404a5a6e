#include "model/ThreadHandOver.h"

#include "model/HandOver.h"

#include <QSemaphore>
#include <QThread>
#include <memory>

void ThreadHandOver::start(QThread *thread, QObject *resident)
{
    // Every connection exists before the thread does, so that it sees them whole. The end is
    // handed over from the last signal the thread emits before Qt lets wait() return, after it
    // took over what end() handed to it.
    QObject::connect(resident, &QObject::destroyed, thread, &QThread::quit, Qt::DirectConnection);
    QObject::connect(
        thread, &QThread::finished, thread,
        [thread] {
            HandOver::acquire(thread);
            HandOver::release(thread);
        },
        Qt::DirectConnection);
    // Shared, because the thread may still be inside release() when acquire() returns here.
    const auto running = std::make_shared<QSemaphore>();
    const QMetaObject::Connection started = QObject::connect(
        thread, &QThread::started, thread,
        [thread, running] {
            QSemaphore *semaphore = running.get(); // read before the hand-over, like all it shares
            HandOver::release(thread);
            semaphore->release();
        },
        Qt::DirectConnection);
    thread->start(QThread::InheritPriority);
    running->acquire();
    HandOver::acquire(thread);
    QObject::disconnect(started);
}

void ThreadHandOver::end(QThread *thread, QObject *resident)
{
    HandOver::release(thread);
    resident->deleteLater();
}

bool ThreadHandOver::wait(QThread *thread, unsigned long timeoutMs)
{
    if (!thread->wait(timeoutMs))
        return false;
    HandOver::acquire(thread);
    return true;
}
