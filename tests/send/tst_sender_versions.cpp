// A file that changes while it is being sent, against a scripted gap. With the scanner and the
// workers running together: the gap only ever receives whole versions, the last version is
// delivered exactly once, and a file is only deleted once exactly its content was confirmed. And
// a worker alone: a file found empty, or replaced after its refusal, is given back unsent.

#include "ScriptedTransferPeer.h"
#include "SenderFixture.h"
#include "SenderTestSupport.h"
#include "model/Ports.h"
#include "send/Controller.h"
#include "send/SendSlots.h"
#include "send/SendWorkThread.h"
#include "send/SentFileStore.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>
#include <QtTest>
#include <cstdio>
#include <memory>

namespace {

constexpr int kDeliveryWaitMs = 120000;
// Long enough for a few passes of the scanner: a file sent twice would be offered again by then.
constexpr int kSettleMs = 1500;
constexpr qint64 kSmall = 300 * 1000;
// Larger than what the socket buffers between sender and gap hold, so that the sender is still
// reading the file when the gap sees the first data.
constexpr qint64 kLarge = 32 * 1024 * 1024;
constexpr int kWriterSteps = 30;
constexpr int kWriterStepMs = 100;
constexpr int kWriterStepBytes = 64 * 1024;
const QString kName = QStringLiteral("changing.bin");

enum class Change { Append, RenameOver, RewriteInPlace, TruncateThenFill, SlowWriter };

bool writeFile(const QString &path, const QByteArray &content, QIODevice::OpenMode mode)
{
    QFile file(path);
    return file.open(mode) && file.write(content) == content.size();
}

// As if the file had been sitting there for a while, as a file the scanner hands over has: a
// change made now then carries a later modification time, whatever the clock's granularity.
bool ageFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite)
        && file.setFileTime(
            QDateTime::currentDateTime().addSecs(-60), QFileDevice::FileModificationTime);
}

// Every version the file had, in order; the last one is the final version.
class Versions
{
public:
    void add(const QByteArray &content)
    {
        QMutexLocker lock(&m_mutex);
        m_versions.append(content);
    }
    QList<QByteArray> all() const
    {
        QMutexLocker lock(&m_mutex);
        return TestSupport::ownCopy(m_versions);
    }

private:
    mutable QMutex m_mutex;
    QList<QByteArray> m_versions;
};

// Makes the change of a row to the file at path; returns the new version.
QByteArray change(Change kind, const QString &path, const QByteArray &old)
{
    switch (kind) {
    case Change::Append: {
        const QByteArray tail = patternedContent(5000, 2);
        writeFile(path, tail, QIODevice::Append);
        return old + tail;
    }
    case Change::RenameOver: {
        const QByteArray fresh = patternedContent(old.size() - 1000, 3);
        // Hidden, so that the scanner never offers the new version under its own name.
        const QFileInfo info(path);
        const QString hidden = info.dir().filePath(QLatin1Char('.') + info.fileName());
        writeFile(hidden, fresh, QIODevice::WriteOnly);
        std::rename(QFile::encodeName(hidden).constData(), QFile::encodeName(path).constData());
        return fresh;
    }
    case Change::RewriteInPlace: {
        const QByteArray same = patternedContent(old.size(), 4);
        writeFile(path, same, QIODevice::ReadWrite); // no truncation: same file, same size
        return same;
    }
    case Change::TruncateThenFill: {
        const QByteArray shorter = patternedContent(200 * 1000, 5);
        writeFile(path, shorter, QIODevice::WriteOnly | QIODevice::Truncate);
        return shorter;
    }
    case Change::SlowWriter: // the SlowWriter thread makes its changes itself
        break;
    }
    return old;
}

// Appends to the file in steps, a step every kWriterStepMs, noting every version.
class SlowWriter : public QThread
{
public:
    SlowWriter(const QString &path, QByteArray content, Versions &versions)
        : m_path(path)
        , m_content(std::move(content))
        , m_versions(versions)
    {
    }

protected:
    void run() override
    {
        for (int step = 1; step <= kWriterSteps; ++step) {
            msleep(kWriterStepMs);
            const QByteArray piece = patternedContent(kWriterStepBytes, 10 + step);
            writeFile(m_path, piece, QIODevice::Append);
            m_content += piece;
            m_versions.add(m_content);
        }
    }

private:
    QString m_path;
    QByteArray m_content;
    Versions &m_versions;
};

int deliveriesOf(const QList<PeerTransfer> &transfers, const QByteArray &content)
{
    int count = 0;
    for (const PeerTransfer &transfer : transfers)
        count += transfer.ended && transfer.digestMatches && transfer.content == content ? 1 : 0;
    return count;
}

} // namespace

Q_DECLARE_METATYPE(Change)
Q_DECLARE_METATYPE(PeerMoment)

class tst_SenderVersions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void onlyWholeVersionsAreSent_data();
    void onlyWholeVersionsAreSent();
    void aFileNotAsTheScannerSawItIsGivenBack_data();
    void aFileNotAsTheScannerSawItIsGivenBack();
    void aFileReplacedAfterItsRefusalIsKept();

private:
    QTemporaryDir m_auditDir;
};

void tst_SenderVersions::initTestCase()
{
    qRegisterMetaType<TransferStateInfo>();
    QVERIFY(SenderTestSupport::claimGapPort() != 0);
    SenderTestSupport::useAuditDatabase(m_auditDir.path());
    SentFileStore::instance().setLocation(m_auditDir.filePath(QStringLiteral("sent.db")));
}

void tst_SenderVersions::init()
{
    g_sysbaseconf.isForceVisit = false;
    g_sysbaseconf.keyFlag = false;
}

void tst_SenderVersions::onlyWholeVersionsAreSent_data()
{
    QTest::addColumn<Change>("kind");
    QTest::addColumn<PeerMoment>("moment"); // when the gap sees it, in the first transfer
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("keepSent");

    for (const bool keep : { false, true }) {
        const QString suffix = keep ? QStringLiteral(", kept") : QStringLiteral(", deleted");
        const auto row = [&suffix](const char *name) -> QTestData & {
            return QTest::newRow(qPrintable(QLatin1String(name) + suffix));
        };
        row("append during the data") << Change::Append << PeerMoment::FirstData << kLarge << keep;
        row("append after hashing") << Change::Append << PeerMoment::Descriptor << kSmall << keep;
        row("rename over it at the descriptor")
            << Change::RenameOver << PeerMoment::Descriptor << kSmall << keep;
        row("rewrite in place after the file end")
            << Change::RewriteInPlace << PeerMoment::FileEnd << kSmall << keep;
        row("truncate then fill during the data")
            << Change::TruncateThenFill << PeerMoment::FirstData << kLarge << keep;
        row("slow writer") << Change::SlowWriter << PeerMoment::Descriptor << kSmall << keep;
    }
}

void tst_SenderVersions::onlyWholeVersionsAreSent()
{
    QFETCH(Change, kind);
    QFETCH(PeerMoment, moment);
    QFETCH(qint64, size);
    QFETCH(bool, keepSent);
    g_sysbaseconf.ifDelSendFile = keepSent;

    QTemporaryDir dir;
    SenderFixture fixture(dir.path());
    const QString path = fixture.pathOf(kName);
    Versions versions;
    const QByteArray first = patternedContent(size);
    QVERIFY(writeFile(path, first, QIODevice::WriteOnly));
    QVERIFY(ageFile(path));
    versions.add(first);

    PeerScript script = PeerScript::gap();
    script.onMoment = [&](int transfer, PeerMoment reached) {
        if (kind != Change::SlowWriter && transfer == 0 && reached == moment)
            versions.add(change(kind, path, first));
    };
    ScriptedTransferPeer gap(script, Ports::gapPort());
    QVERIFY(gap.startListening());
    std::unique_ptr<SlowWriter> writer;
    if (kind == Change::SlowWriter) {
        writer = std::make_unique<SlowWriter>(path, first, versions);
        writer->start();
    }

    // The scanner hands files over as the send status view does: a worker each, on the pool,
    // whose end gives the scanner its slot back.
    auto controller = std::make_unique<Controller>();
    QObject::connect(controller.get(), &Controller::insertItem,
        [](_FINDFILEINFO *file, _SENDPATH_LISTDATA *rule) {
            auto *worker = new SendWorkThread(rule, file);
            QObject::connect(worker, &QObject::destroyed, [] { SendSlots::giveBack(); });
            QThreadPool::globalInstance()->start(worker);
        });
    controller->start();

    const auto finalVersion = [&] { return versions.all().last(); };
    const auto settled = [&] {
        if (writer && !writer->isFinished())
            return false;
        if (deliveriesOf(gap.transfers(), finalVersion()) == 0)
            return false;
        QMutexLocker lock(&sendTaskMutex);
        return keepSent ? !fixture.rule.sentFiles.isEmpty() : !QFile::exists(path);
    };
    const bool delivered = QTest::qWaitFor(settled, kDeliveryWaitMs);
    if (delivered)
        QTest::qWait(kSettleMs);

    // Everything stops before anything is judged, so that a failure leaves no worker behind.
    Controller::stopRule(&fixture.rule);
    controller.reset();
    QThreadPool::globalInstance()->waitForDone();
    Controller::releaseRetiredFiles();
    if (writer)
        writer->wait();
    gap.stop();

    const QList<QByteArray> all = versions.all();
    const QList<PeerTransfer> transfers = gap.transfers();
    QVERIFY2(delivered,
        qPrintable(QStringLiteral("final version not delivered and ended; %1 transfers, file %2")
                       .arg(transfers.size())
                       .arg(QFile::exists(path) ? "present" : "gone")));
    for (const PeerTransfer &transfer : transfers) {
        // A transfer cut off before its file end is never taken for a file by the far side.
        if (!transfer.ended)
            continue;
        QVERIFY(transfer.digestMatches);
        QVERIFY2(all.contains(transfer.content), "the gap received a mix of versions");
    }
    QCOMPARE(deliveriesOf(transfers, all.last()), 1);
    if (keepSent) {
        QFile kept(path);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QVERIFY(kept.readAll() == all.last());
    } else {
        QVERIFY(!QFile::exists(path));
    }
}

void tst_SenderVersions::aFileNotAsTheScannerSawItIsGivenBack_data()
{
    QTest::addColumn<bool>("emptied"); // else replaced
    QTest::addColumn<QString>("status");
    QTest::newRow("emptied") << true << QStringLiteral("文件为空/稍后重发");
    QTest::newRow("replaced") << false << QStringLiteral("文件发送期间被修改/稍后重发");
}

// Emptied, or replaced by another file, between the scanner's look and the worker's open: given
// back unsent and not recorded as sent, so that a later pass offers what is there then, once it
// has content; then it is sent.
void tst_SenderVersions::aFileNotAsTheScannerSawItIsGivenBack()
{
    QFETCH(bool, emptied);
    QFETCH(QString, status);
    g_sysbaseconf.ifDelSendFile = false;
    ScriptedTransferPeer gap(PeerScript::gap(), Ports::gapPort());
    QVERIFY(gap.startListening());
    QTemporaryDir dir;
    SenderFixture fixture(dir.path());
    const QString name = QStringLiteral("later.txt");
    const QByteArray seenContent = patternedContent(3000, 8);
    _FINDFILEINFO *seen = fixture.addFile(name, seenContent);
    QVERIFY(seen);
    QByteArray content;
    if (emptied)
        QVERIFY(writeFile(seen->filePath, content, QIODevice::WriteOnly | QIODevice::Truncate));
    else
        content = change(Change::RenameOver, seen->filePath, seenContent);
    SendWorkThread early(&fixture.rule, seen);
    early.setAutoDelete(false);
    fixture.watch(&early);
    QCOMPARE(early.sendFileProc(&fixture.rule), int(SendWorkThread::Released));
    QCOMPARE(fixture.rows.last().at(7), status);
    QVERIFY(!fixture.isSent(seen));
    QVERIFY(!fixture.isPending(seen));
    QVERIFY(QFile::exists(seen->filePath));
    QCOMPARE(gap.descriptorsSeen(), 0);

    if (emptied) {
        content = patternedContent(4000, 6);
        QVERIFY(writeFile(seen->filePath, content, QIODevice::WriteOnly));
    }
    _FINDFILEINFO *now = fixture.handOver(name);
    SendWorkThread worker(&fixture.rule, now);
    worker.setAutoDelete(false);
    QCOMPARE(worker.sendFileProc(&fixture.rule), int(SendWorkThread::Done));
    gap.stop();
    QCOMPARE(gap.transfers().size(), 1);
    QVERIFY(gap.transfers().first().content == content);
    QVERIFY(fixture.isSent(now));
    QVERIFY(!QFile::exists(now->filePath));
}

// A refused file is deleted, but not a newer version renamed over it while the gap judged the
// old one: that one was never judged, and is given back for a later pass.
void tst_SenderVersions::aFileReplacedAfterItsRefusalIsKept()
{
    g_sysbaseconf.ifDelSendFile = false;
    QTemporaryDir dir;
    SenderFixture fixture(dir.path());
    const QByteArray refused = patternedContent(3000, 7);
    _FINDFILEINFO *record = fixture.addFile(QStringLiteral("report.exe"), refused);
    QVERIFY(record);
    QByteArray replacement;
    PeerScript script;
    script.afterDescriptor = { ScriptedTransferPeer::reply(4) };
    script.onMoment = [&](int, PeerMoment moment) {
        if (moment == PeerMoment::Descriptor)
            replacement = change(Change::RenameOver, record->filePath, refused);
    };
    ScriptedTransferPeer gap(script, Ports::gapPort());
    QVERIFY(gap.startListening());
    SendWorkThread worker(&fixture.rule, record);
    worker.setAutoDelete(false);
    fixture.watch(&worker);

    QCOMPARE(worker.sendFileProc(&fixture.rule), int(SendWorkThread::Refused));
    gap.stop();
    QCOMPARE(fixture.rows.last().at(7), QStringLiteral("不允许发送的文件类型"));
    QFile kept(record->filePath);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QVERIFY(kept.readAll() == replacement);
    QVERIFY(!fixture.isPending(record));
    QVERIFY(!fixture.isSent(record));
}

QTEST_GUILESS_MAIN(tst_SenderVersions)
#include "tst_sender_versions.moc"
