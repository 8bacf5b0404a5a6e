#include "SenderFixture.h"

#include "send/SendWorkThread.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThreadPool>

SenderFixture::SenderFixture(const QString &root)
    : m_dir(QDir(root).filePath(QStringLiteral("send")))
{
    QDir().mkpath(m_dir);
    copyToField(gap.HostIP, kHostIPSize, "127.0.0.1");
    copyToField(gap.LoginUserName, kUserNameSize, "alice");
    gap.hostIPStr = QStringLiteral("127.0.0.1");
    copyToField(rule.SendPathID, kPathIDSize, "docs");
    copyToField(rule.GapIP, kHostIPSize, "127.0.0.1");
    copyToField(rule.FromUser, kUserNameSize, "alice");
    copyToField(rule.ToUser, kUserNameSize, "bob");
    rule.SendPath = m_dir;
    rule.gapConf = &gap;
    g_GapInfoList.append(&gap);
    g_SendPathList.append(&rule);
}

SenderFixture::~SenderFixture()
{
    g_SendPathList.removeOne(&rule);
    g_GapInfoList.removeOne(&gap);
    // The bookkeeping owns its records (a worker may free one it gives back); the tests' own
    // copies are the fixture's.
    QList<_FINDFILEINFO *> records = rule.pendingFiles.values() + rule.sentFiles.values();
    std::sort(records.begin(), records.end());
    records.erase(std::unique(records.begin(), records.end()), records.end());
    qDeleteAll(records);
    qDeleteAll(m_files);
}

QString SenderFixture::pathOf(const QString &name) const { return m_dir + '/' + name; }

_FINDFILEINFO *SenderFixture::addFile(const QString &name, const QByteArray &content)
{
    const QString path = pathOf(name);
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return nullptr;
    file.close();
    return handOver(name);
}

_FINDFILEINFO *SenderFixture::handOver(const QString &name)
{
    const QString path = pathOf(name);
    auto *record = new _FINDFILEINFO;
    record->filePath = path;
    record->suffix = QFileInfo(path).suffix();
    record->createdTime
        = QFileInfo(path).birthTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    record->size = QFileInfo(path).size();
    record->identity = FileIdentity::ofPath(path);
    record->cancelled = std::make_shared<std::atomic<bool>>(false);
    m_files.append(record);
    QMutexLocker lock(&sendTaskMutex);
    // As the scanner does it, but pendingFiles gets a record of its own: the bookkeeping frees
    // its records, the test keeps using the one returned.
    delete rule.pendingFiles.take(record->fileKey());
    rule.pendingFiles.insert(record->fileKey(), new _FINDFILEINFO(*record));
    return record;
}

void SenderFixture::watch(SendWorkThread *worker)
{
    QObject::connect(worker, &SendWorkThread::updataRequset, &m_context,
        [this](const TransferStateInfo &info) { rows.append(info); });
}

void SenderFixture::startWorker(_FINDFILEINFO *file, QThreadPool &pool)
{
    auto *worker = new SendWorkThread(&rule, file);
    watch(worker);
    pool.start(worker);
}

bool SenderFixture::hasShown(const QString &status) const
{
    return std::any_of(rows.cbegin(), rows.cend(),
        [&status](const TransferStateInfo &row) { return row.at(7) == status; });
}

bool SenderFixture::isPending(const _FINDFILEINFO *file) const
{
    QMutexLocker lock(&sendTaskMutex);
    return rule.pendingFiles.contains(file->fileKey());
}

bool SenderFixture::isSent(const _FINDFILEINFO *file) const
{
    QMutexLocker lock(&sendTaskMutex);
    return rule.sentFiles.contains(file->fileKey());
}

QByteArray patternedContent(qint64 size, int seed)
{
    QByteArray content(int(size), '\0');
    quint32 state = quint32(seed) * 2654435761u + 1;
    for (int i = 0; i < content.size(); ++i) {
        state = state * 1103515245u + 12345u;
        content[i] = char(state >> 16);
    }
    return content;
}
