#include "model/ThreadHandOver.h"

#include "model/HandOver.h"

#include <QSemaphore>
#include <QThread>
#include <memory>

void ThreadHandOver::start(QThread *thread)
{
    // Both connections exist before the thread does, so that it sees them whole. The end is
    // handed over from the last signal the thread emits before Qt lets wait() return.
    QObject::connect(
        thread, &QThread::finished, thread, [thread] { HandOver::release(thread); },
        Qt::DirectConnection);
    // Shared, because the thread may still be inside release() when acquire() returns here.
    const auto running = std::make_shared<QSemaphore>();
    const QMetaObject::Connection started = QObject::connect(
        thread, &QThread::started, thread,
        [thread, running] {
            HandOver::release(thread);
            running->release();
        },
        Qt::DirectConnection);
    thread->start(QThread::InheritPriority);
    running->acquire();
    HandOver::acquire(thread);
    QObject::disconnect(started);
}

bool ThreadHandOver::wait(QThread *thread, unsigned long timeoutMs)
{
    if (!thread->wait(timeoutMs))
        return false;
    HandOver::acquire(thread);
    return true;
}
