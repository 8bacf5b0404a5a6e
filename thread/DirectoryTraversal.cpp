#include "thread/DirectoryTraversal.h"

#include "model/GlobalData.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPair>
#include <QThread>
#include <QThreadPool>
#include <QtDebug>
#include <cerrno>
#include <memory>
#include <sys/stat.h>

namespace {

constexpr int kMaxPathLength = 260;
constexpr int kPassPauseMs = 500;
constexpr int kHandOverPauseMs = 200;
constexpr int kPurgeThreshold = 5;
constexpr qint32 kSearchingState = 2;
const QString kTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

// Hidden names and special files (devices, pipes, sockets) are left out by not asking for them.
constexpr QDir::Filters kListedEntries = QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot;
constexpr QDir::SortFlags kListingOrder = QDir::Name | QDir::DirsFirst;

// The birth time names a file for as long as it exists. Where the file system keeps none, the
// time of the last change of the file's metadata is the closest stand-in.
QDateTime creationTime(const QFileInfo &entry)
{
    const QDateTime birth = entry.birthTime();
    return birth.isValid() ? birth : entry.metadataChangeTime();
}

bool poolIsFull()
{
    const QThreadPool *pool = QThreadPool::globalInstance();
    return pool->activeThreadCount() >= pool->maxThreadCount();
}

// Only a file the system says is not there is gone: one that cannot be looked at now (a
// directory without permission) would be sent again once it can, if it were forgotten.
bool isGone(const QString &filePath)
{
    struct stat status;
    return ::stat(QFile::encodeName(filePath).constData(), &status) != 0
        && (errno == ENOENT || errno == ENOTDIR);
}

std::unique_ptr<_FINDFILEINFO> makeRecord(const QFileInfo &entry)
{
    auto file = std::make_unique<_FINDFILEINFO>();
    file->filePath = entry.filePath();
    file->suffix = entry.suffix();
    file->createdTime = creationTime(entry).toString(kTimeFormat);
    file->size = entry.size();
    file->identity = FileIdentity::ofPath(file->filePath);
    return file;
}

} // namespace

DirectoryTraversal::DirectoryTraversal(QObject *parent)
    : QObject(parent)
{
    qDebug() << "DirectoryTraversal 线程 Current thread ID:" << QThread::currentThreadId();
}

DirectoryTraversal::~DirectoryTraversal() { qDebug() << "遍历结束"; }

void DirectoryTraversal::checkSendPath()
{
    for (;;) {
        const QList<_SENDPATH_LISTDATA *> rules = g_SendPathList.snapshot();
        if (rules.isEmpty())
            return;
        for (_SENDPATH_LISTDATA *rule : rules) {
            if (!scanRule(rule))
                return;
        }
        pause(kPassPauseMs);
        if (m_cancelled)
            return;
    }
}

// Walks one rule's directory; false when a stop ends the whole scan.
bool DirectoryTraversal::scanRule(_SENDPATH_LISTDATA *rule)
{
    const QString dir = rule->SendPath;
    bool serving = false;
    {
        // Decided under the lock a stop takes, so that a stopped rule never reads as scanned.
        QMutexLocker lock(&sendTaskMutex);
        serving = !isStopped(rule);
        if (serving) {
            rule->scanStarted = true;
            rule->sendState = kSearchingState;
        }
    }
    if (serving)
        findFile(dir, rule);
    if (!isStopped(rule))
        return true;
    if (rule->stopFlag) {
        QMutexLocker lock(&sendTaskMutex);
        rule->scanStarted = false;
    }
    return false;
}

int DirectoryTraversal::findFile(const QString &dir, _SENDPATH_LISTDATA *rule)
{
    if (!QFileInfo(dir).isDir()) {
        qDebug() << "文件路径不存在";
        return 0;
    }
    const QFileInfoList entries = QDir(dir).entryInfoList(kListedEntries, kListingOrder);
    if (entries.isEmpty()) {
        purgeSentFiles(rule);
        return 1;
    }
    for (const QFileInfo &entry : entries) {
        const bool goOn = entry.isDir() ? enterDirectory(dir, entry, rule) : offerFile(entry, rule);
        if (!goOn)
            return 0;
    }
    return 1;
}

// False when a stop cuts the walk short.
bool DirectoryTraversal::enterDirectory(
    const QString &dir, const QFileInfo &entry, _SENDPATH_LISTDATA *rule)
{
    // Checked here too, so that a stop does not wait for the listings of the remaining
    // subdirectories, which come before any file of this level.
    if (isStopped(rule))
        return false;
    // A linked directory may lead back up the tree: the walk would then hand the same files over
    // again under ever longer paths.
    if (entry.isSymLink() || dir.size() >= kMaxPathLength)
        return true;
    findFile(entry.filePath(), rule);
    return true;
}

// Hands the file over if it is new, readable and not empty; false when a stop cuts the walk short.
bool DirectoryTraversal::offerFile(const QFileInfo &entry, _SENDPATH_LISTDATA *rule)
{
    if (isStopped(rule)) {
        qDebug() << "发送线程已被暂停 ";
        return false;
    }
    {
        QMutexLocker lock(&sendTaskMutex);
        rule->sendState = kSearchingState;
    }
    if (entry.size() <= 0)
        return true;
    if (entry.filePath().size() >= kMaxPathLength) {
        qDebug() << entry.fileName() << "文件路径过长";
        return true;
    }
    if (poolIsFull()) {
        // No worker could start now; a later pass finds the file again.
        pause(kHandOverPauseMs);
        return true;
    }
    std::unique_ptr<_FINDFILEINFO> file = makeRecord(entry);
    if (isKnown(rule, file->fileKey()))
        return true;
    // A file that cannot be read yet is picked up by the first pass in which it can.
    QFile probe(file->filePath);
    if (!probe.open(QIODevice::ReadOnly))
        return true;
    if (!addPending(rule, file.get()))
        return false;
    probe.close();
    work(file.release(), rule);
    // Keeps the scanner from handing over more files than the pool can run.
    pause(kHandOverPauseMs);
    return true;
}

bool DirectoryTraversal::isKnown(_SENDPATH_LISTDATA *rule, const QString &fileKey) const
{
    QMutexLocker lock(&sendTaskMutex);
    return rule->sentFiles.contains(fileKey) || rule->pendingFiles.contains(fileKey);
}

// False, and nothing recorded, when the rule was stopped: a stop empties pendingFiles under this
// lock, and an entry added after it would keep the file from being sent after the next start.
bool DirectoryTraversal::addPending(_SENDPATH_LISTDATA *rule, _FINDFILEINFO *file) const
{
    QMutexLocker lock(&sendTaskMutex);
    if (isStopped(rule))
        return false;
    rule->pendingFiles.insert(file->fileKey(), file);
    return true;
}

void DirectoryTraversal::work(_FINDFILEINFO *file, _SENDPATH_LISTDATA *rule)
{
    emit insertItem(file, rule);
}

// Forgets the sent files that are gone, once there are enough of them to be worth a look. The
// existence checks touch the disk, so they run on a copy, outside the lock.
void DirectoryTraversal::purgeSentFiles(_SENDPATH_LISTDATA *rule) const
{
    QList<QPair<QString, QString>> sent; // key, path
    {
        QMutexLocker lock(&sendTaskMutex);
        if (rule->sentFiles.size() < kPurgeThreshold)
            return;
        for (auto it = rule->sentFiles.cbegin(); it != rule->sentFiles.cend(); ++it)
            sent.append({ it.key(), it.value()->filePath });
    }
    QStringList gone;
    for (const auto &file : sent) {
        if (isGone(file.second))
            gone.append(file.first);
    }
    if (gone.isEmpty())
        return;
    QMutexLocker lock(&sendTaskMutex);
    // After a stop a worker may still hold a record it is moving from pendingFiles (now emptied)
    // into sentFiles: a stopped rule's sent files wait for the purge of a later run.
    if (isStopped(rule))
        return;
    for (const QString &key : gone) {
        // Still pending: a worker is finishing this record and will take it out of pendingFiles.
        if (!rule->pendingFiles.contains(key))
            delete rule->sentFiles.take(key);
    }
}

bool DirectoryTraversal::isStopped(const _SENDPATH_LISTDATA *rule) const
{
    return m_cancelled || rule->stopFlag;
}

void DirectoryTraversal::cancel()
{
    QMutexLocker lock(&m_pauseMutex);
    m_cancelled = true;
    m_wake.wakeAll();
}

void DirectoryTraversal::pause(int ms)
{
    QMutexLocker lock(&m_pauseMutex);
    if (!m_cancelled)
        m_wake.wait(&m_pauseMutex, ms);
}
