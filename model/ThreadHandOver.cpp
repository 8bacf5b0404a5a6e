#include "model/ThreadHandOver.h"

#include "model/HandOver.h"

#include <QSemaphore>
#include <QThread>
#include <memory>

void ThreadHandOver::start(QThread *thread)
{
    // Both connections exist before the thread does, so that it sees them whole. The end is handed
    // over from the last signal the thread emits before Qt lets wait() return; it first takes over
    // what was handed to it by end(), because Qt then closes what others may still have written
    // to (the wake-up descriptor of its event dispatcher).
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

void ThreadHandOver::end(QThread *thread) { HandOver::release(thread); }

bool ThreadHandOver::wait(QThread *thread, unsigned long timeoutMs)
{
    if (!thread->wait(timeoutMs))
        return false;
    HandOver::acquire(thread);
    return true;
}
