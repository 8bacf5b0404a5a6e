#include "send/Controller.h"

#include "model/GlobalData.h"
#include "model/HandOver.h"
#include "model/ThreadHandOver.h"
#include "send/DirectoryTraversal.h"
#include "send/SendSlots.h"

#include <QList>
#include <QMetaType>
#include <QPair>
#include <QThread>
#include <QtDebug>
#include <utility>

namespace {

// Long enough for any walk of a local disk to reach its next entry.
constexpr unsigned long kScanEndWaitMs = 3000;

// Records a stop took out of pendingFiles, with their rules; guarded by sendTaskMutex.
QList<QPair<_SENDPATH_LISTDATA *, _FINDFILEINFO *>> &retiredFiles()
{
    static QList<QPair<_SENDPATH_LISTDATA *, _FINDFILEINFO *>> files;
    return files;
}

} // namespace

Controller::Controller(QObject *parent)
    : QObject(parent)
    , m_scanThread(new QThread)
    , m_traversal(new DirectoryTraversal)
{
    // Sending starts only once the pool has run dry, so no file of an earlier run is in flight.
    SendSlots::reset();
    qRegisterMetaType<_FINDFILEINFO *>("_FINDFILEINFO*");
    qRegisterMetaType<_SENDPATH_LISTDATA *>("_SENDPATH_LISTDATA*");
    m_traversal->moveToThread(m_scanThread);
    connect(this, &Controller::startFileTraversal, m_traversal, &DirectoryTraversal::checkSendPath);
    connect(m_traversal, &DirectoryTraversal::insertItem, this, &Controller::insertItemRequst);
    connect(m_traversal, &DirectoryTraversal::unsendable, this, &Controller::unsendable);
    connect(m_scanThread, &QThread::finished, this, &Controller::scanEnded);
    ThreadHandOver::start(m_scanThread, m_traversal);
}

Controller::~Controller()
{
    endScan();
    if (ThreadHandOver::wait(m_scanThread, kScanEndWaitMs)) {
        delete m_scanThread;
        return;
    }
    qWarning() << "发送目录扫描未能及时结束";
    // The thread object lives in this (the GUI) thread, so its deletion is queued after the end.
    QThread *thread = m_scanThread;
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    if (thread->isFinished())
        thread->deleteLater();
}

void Controller::start() { emit startFileTraversal(); }

void Controller::stop()
{
    m_stopped = true;
    endScan();
}

void Controller::endScan()
{
    // Once ended, the scanner is deleted in its thread: it is touched no more.
    if (std::exchange(m_scanEnding, true))
        return;
    m_traversal->cancel();
    ThreadHandOver::end(m_scanThread, m_traversal);
}

void Controller::insertItemRequst(_FINDFILEINFO *file, _SENDPATH_LISTDATA *rule)
{
    HandOver::acquire(file); // made by the scanner thread (DirectoryTraversal::work)
    if (m_stopped)
        SendSlots::giveBack(); // no worker will end for this file
    else
        emit insertItem(file, rule);
}

void Controller::stopRule(_SENDPATH_LISTDATA *rule)
{
    QMutexLocker lock(&sendTaskMutex);
    rule->stopFlag = true;
    rule->scanStarted = false;
    for (_FINDFILEINFO *file : qAsConst(rule->pendingFiles)) {
        // Its worker ends at its next look, whichever flag it looks at.
        if (file->cancelled)
            *file->cancelled = true;
        retiredFiles().append({ rule, file });
    }
    rule->pendingFiles.clear();
    // The next start looks at every file afresh; the files the user stopped stay stopped.
    rule->waiting.clear();
    rule->reoffered.clear();
}

void Controller::releaseRetiredFiles()
{
    QMutexLocker lock(&sendTaskMutex);
    for (const auto &retired : qAsConst(retiredFiles())) {
        _SENDPATH_LISTDATA *rule = retired.first;
        _FINDFILEINFO *file = retired.second;
        if (rule->sentFiles.value(file->fileKey()) != file)
            delete file;
    }
    retiredFiles().clear();
}
