// The retry loop: a file whose first four deliveries fail the digest check goes through on the
// fifth attempt after pauses of 1, 2, 3 and 4 seconds; a gap that cannot be reached costs one
// attempt and leaves the file waiting.

#include "ScriptedTransferPeer.h"
#include "SenderFixture.h"
#include "SenderTestSupport.h"
#include "send/SendWorkThread.h"
#include "tools/gapsim/GapsimProcess.h"

#include <QFile>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtTest>

using namespace SenderTestSupport;

class tst_SenderRetries : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void retriesUntilConfirmed();
    void unreachableGap_data();
    void unreachableGap();

private:
    QTemporaryDir m_auditDir;
};

void tst_SenderRetries::initTestCase()
{
    qRegisterMetaType<TransferStateInfo>();
    QVERIFY(claimGapPort() != 0);
    useAuditDatabase(m_auditDir.path());
}

void tst_SenderRetries::init()
{
    g_sysbaseconf.ifDelSendFile = false;
    g_sysbaseconf.isForceVisit = false;
    g_sysbaseconf.keyFlag = false;
}

void tst_SenderRetries::retriesUntilConfirmed()
{
    QTemporaryDir dir;
    ScriptedTransferPeer receiver(PeerScript::receiver());
    QVERIFY(receiver.startListening());
    GapsimProcess gapsim(dir.path());
    QVERIFY(startGapsim(
        gapsim, gapsimConfig(receiver.port()), { QStringLiteral("flip,offset=1500,count=4") }));
    SenderFixture fixture(dir.path());
    const QByteArray content = patternedContent(300000, 9);
    _FINDFILEINFO *record = fixture.addFile(QStringLiteral("fifth.bin"), content);
    QVERIFY(record);

    auto *worker = new SendWorkThread(&fixture.rule, record);
    fixture.watch(worker);
    QThreadPool pool;
    pool.start(worker);
    QTRY_VERIFY_WITH_TIMEOUT(pool.waitForDone(10), 120000);
    QTRY_COMPARE(fixture.rows.last().at(7), QStringLiteral("文件发送成功 "));

    const QList<PeerTransfer> transfers = receiver.transfers();
    QCOMPARE(transfers.size(), 5);
    for (int i = 0; i < 4; ++i)
        QVERIFY(!transfers.at(i).digestMatches);
    QVERIFY(transfers.last().digestMatches);
    QVERIFY(transfers.last().content == content);
    // Each attempt starts at least its pause after the previous one started.
    for (int i = 1; i < transfers.size(); ++i) {
        const qint64 gap = transfers.at(i).connectedAtMs - transfers.at(i - 1).connectedAtMs;
        QVERIFY2(gap >= i * 1000 - 20, qPrintable(QString::number(gap)));
    }
    QVERIFY(!QFile::exists(record->filePath));
    QVERIFY(fixture.isSent(record));
    QCOMPARE(int(fixture.rule.sendState), 0);
}

void tst_SenderRetries::unreachableGap_data()
{
    QTest::addColumn<bool>("listed");
    QTest::newRow("nothing listens on the gap port") << true;
    QTest::newRow("the gap is no longer listed") << false;
}

void tst_SenderRetries::unreachableGap()
{
    QFETCH(bool, listed);
    QTemporaryDir dir;
    SenderFixture fixture(dir.path());
    if (!listed)
        g_GapInfoList.removeOne(&fixture.gap);
    _FINDFILEINFO *record = fixture.addFile(QStringLiteral("waiting.bin"), patternedContent(4000));
    QVERIFY(record);
    SendWorkThread worker(&fixture.rule, record);
    worker.setAutoDelete(false);
    fixture.watch(&worker);

    TransferStateInfo info;
    QCOMPARE(
        worker.sendThisFile(*record, &fixture.rule, info), int(SendWorkThread::GapUnreachable));
    QCOMPARE(int(fixture.rule.sendState), 3);

    fixture.rows.clear();
    worker.sendFileProc(&fixture.rule);
    int attempts = 0;
    for (const TransferStateInfo &row : qAsConst(fixture.rows))
        attempts += row.at(7) == QStringLiteral("文件正在校验中,请稍候 ") ? 1 : 0;
    QCOMPARE(attempts, 1);
    // One attempt is the round: the file waits for the gap's return (or its back-off).
    QVERIFY2(fixture.rows.last().at(7).startsWith(QStringLiteral("等待重发 ")),
        qPrintable(fixture.rows.last().at(7)));
    QVERIFY(fixture.rows.last().at(7).endsWith(QStringLiteral("（隔离器无法连接）")));
    QCOMPARE(int(fixture.rule.sendState), 3);
    QVERIFY(QFile::exists(record->filePath));
    QVERIFY(fixture.isPending(record));
    QVERIFY(!fixture.isSent(record));
    QMutexLocker lock(&sendTaskMutex);
    QVERIFY(fixture.rule.waiting.value(record->fileKey()).onGapReturn);
}

QTEST_GUILESS_MAIN(tst_SenderRetries)
#include "tst_sender_retries.moc"
