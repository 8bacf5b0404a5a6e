// Whole files through gapsim to a scripted receiving client, by a worker on a thread pool as the
// client runs it: delivery byte for byte, the row, the bookkeeping, the audit, and stops.

#include "ScriptedTransferPeer.h"
#include "SenderFixture.h"
#include "SenderTestSupport.h"
#include "model/BaseFunction.h"
#include "send/SendWorkThread.h"
#include "tools/gapsim/GapWire.h"
#include "tools/gapsim/GapsimProcess.h"

#include <QFile>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtTest>

using namespace SenderTestSupport;

namespace {

constexpr int kWorkerWaitMs = 120000;
constexpr qint64 kBurstContent = 100 * 1444;

} // namespace

class tst_SenderTransfer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void deliversFile_data();
    void deliversFile();
    void keepsSentFileWhenAsked();
    void stopIsHonoured_data();
    void stopIsHonoured();

private:
    QTemporaryDir m_auditDir;
};

void tst_SenderTransfer::initTestCase()
{
    qRegisterMetaType<TransferStateInfo>();
    QVERIFY(claimGapPort() != 0);
    useAuditDatabase(m_auditDir.path());
}

void tst_SenderTransfer::init()
{
    g_sysbaseconf.ifDelSendFile = false;
    g_sysbaseconf.isForceVisit = false;
    g_sysbaseconf.keyFlag = false;
}

void tst_SenderTransfer::deliversFile_data()
{
    QTest::addColumn<qint64>("size");
    QTest::newRow("empty") << qint64(0);
    QTest::newRow("1 byte") << qint64(1);
    QTest::newRow("one payload") << qint64(1444);
    QTest::newRow("one payload and a byte") << qint64(1445);
    QTest::newRow("one whole burst") << kBurstContent;
    QTest::newRow("six bursts and a tail") << 5 * kBurstContent + 1000;
}

void tst_SenderTransfer::deliversFile()
{
    QFETCH(qint64, size);
    QTemporaryDir dir;
    ScriptedTransferPeer receiver(PeerScript::receiver());
    QVERIFY(receiver.startListening());
    GapsimProcess gapsim(dir.path());
    QVERIFY(startGapsim(gapsim, gapsimConfig(receiver.port())));
    SenderFixture fixture(dir.path());
    const QByteArray content = patternedContent(size);
    _FINDFILEINFO *record = fixture.addFile(QStringLiteral("q3/report.bin"), content);
    QVERIFY(record);

    QThreadPool pool;
    fixture.startWorker(record, pool);
    QTRY_VERIFY_WITH_TIMEOUT(pool.waitForDone(10), kWorkerWaitMs);
    QVERIFY(!fixture.isPending(record));

    if (size == 0) {
        // Nothing to carry yet: left in place and given back to the scanner, which offers it
        // again once it has content; no connection.
        QVERIFY(!fixture.isSent(record));
        QTRY_COMPARE(fixture.rows.isEmpty() ? QString() : fixture.rows.last().at(7),
            QStringLiteral("文件为空/稍后重发"));
        QVERIFY(QFile::exists(record->filePath));
        QCOMPARE(relayStarts(gapsim, QStringLiteral("report.bin")), 0);
        return;
    }
    QVERIFY(fixture.isSent(record));
    QTRY_COMPARE(fixture.rows.isEmpty() ? QString() : fixture.rows.last().at(7),
        QStringLiteral("文件发送成功 "));
    const TransferStateInfo row = fixture.rows.last();
    QCOMPARE(row.at(0), QStringLiteral("report.bin"));
    QCOMPARE(row.at(1), QStringLiteral("0 Mbps"));
    QCOMPARE(row.at(2), QStringLiteral("1"));
    QCOMPARE(row.at(3), BaseFunction::calcSize(size));
    QCOMPARE(row.at(4), QStringLiteral("docs"));

    const QList<PeerTransfer> transfers = receiver.transfers();
    QCOMPARE(transfers.size(), 1);
    const PeerTransfer &got = transfers.first();
    QCOMPARE(GapWire::text(got.descriptor, 102, 1024), QByteArray("q3/report.bin"));
    QCOMPARE(qint64(GapWire::u64(got.descriptor, 8)), size);
    QCOMPARE(got.content.size(), content.size());
    QVERIFY(got.content == content);
    QVERIFY(got.digestMatches);
    QVERIFY(got.packetsAsBuilt);

    QVERIFY(!QFile::exists(record->filePath));
    QCOMPARE(int(fixture.gap.sendFileNum), 1);
    QCOMPARE(qint64(fixture.gap.sendBytes), size);
    QCOMPARE(int(fixture.rule.sendState), 0);
    const QList<QPair<int, QString>> events = auditEvents(QStringLiteral("report.bin"));
    QVERIFY(!events.isEmpty());
    QCOMPARE(events.last().first, 1);
    QCOMPARE(events.last().second, auditDetail(QStringLiteral("report.bin"), "传输完毕"));
}

void tst_SenderTransfer::keepsSentFileWhenAsked()
{
    g_sysbaseconf.ifDelSendFile = true;
    QTemporaryDir dir;
    ScriptedTransferPeer receiver(PeerScript::receiver());
    QVERIFY(receiver.startListening());
    GapsimProcess gapsim(dir.path());
    QVERIFY(startGapsim(gapsim, gapsimConfig(receiver.port())));
    SenderFixture fixture(dir.path());
    const QByteArray content = patternedContent(20000, 7);
    _FINDFILEINFO *record = fixture.addFile(QStringLiteral("kept.txt"), content);
    QVERIFY(record);

    auto *worker = new SendWorkThread(&fixture.rule, record);
    QThreadPool pool;
    pool.start(worker);
    QTRY_VERIFY_WITH_TIMEOUT(pool.waitForDone(10), kWorkerWaitMs);
    QCOMPARE(receiver.transfers().size(), 1);
    QVERIFY(receiver.transfers().first().digestMatches);
    QFile kept(record->filePath);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), content);
    // Recorded as sent, so that the scanner never hands it over again.
    QVERIFY(fixture.isSent(record));
    QVERIFY(!fixture.isPending(record));
}

void tst_SenderTransfer::stopIsHonoured_data()
{
    QTest::addColumn<bool>("stallReceiver");
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("stopWhen"); // the row status after which the rule is stopped
    QTest::addColumn<QString>("status");

    // The stalled receiver holds the data back, so the sender is blocked writing a burst.
    QTest::newRow("while data flows")
        << true << QStringList() << qint64(32 * 1024 * 1024) << "正在发送中"
        << "用户停止发送 ";
    QTest::newRow("while awaiting the confirmation")
        << false << QStringList { QStringLiteral("delay,answer=confirmation,ms=120000") }
        << qint64(5000) << "文件已发送/等待确认"
        << "用户停止发送";
}

// A stop ends the transfer as a user stop, not as a link failure after a time-out: the file and
// its place in pendingFiles stay, and no retry follows.
void tst_SenderTransfer::stopIsHonoured()
{
    QFETCH(bool, stallReceiver);
    QFETCH(QStringList, faults);
    QFETCH(qint64, size);
    QFETCH(QString, stopWhen);
    QFETCH(QString, status);

    QTemporaryDir dir;
    PeerScript script = PeerScript::receiver();
    script.stall = stallReceiver;
    ScriptedTransferPeer receiver(script);
    QVERIFY(receiver.startListening());
    GapsimProcess gapsim(dir.path());
    QVERIFY(startGapsim(gapsim, gapsimConfig(receiver.port()), faults));
    SenderFixture fixture(dir.path());
    const QString name
        = QStringLiteral("stopped-%1.bin").arg(QTest::currentDataTag()).replace(' ', '-');
    _FINDFILEINFO *record = fixture.addFile(name, patternedContent(size));
    QVERIFY(record);

    QThreadPool pool;
    fixture.startWorker(record, pool);
    QTRY_VERIFY_WITH_TIMEOUT(fixture.hasShown(stopWhen), kWorkerWaitMs);
    fixture.rule.stopFlag = true;
    QTRY_VERIFY_WITH_TIMEOUT(pool.waitForDone(10), kWorkerWaitMs);
    QTRY_COMPARE(fixture.rows.last().at(7), status);
    receiver.stop();

    QVERIFY(QFile::exists(record->filePath));
    QVERIFY(fixture.isPending(record));
    QVERIFY(!fixture.isSent(record));
    QCOMPARE(relayStarts(gapsim, name), 1);
    const QList<QPair<int, QString>> events = auditEvents(name);
    QCOMPARE(events.size(), 1);
    QCOMPARE(events.first().second, auditDetail(name, "用户停止发送"));
}

QTEST_GUILESS_MAIN(tst_SenderTransfer)
#include "tst_sender_transfer.moc"
