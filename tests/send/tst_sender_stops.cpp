// A stop reaches the sending worker in the waits that take longest: hashing a large file and
// connecting to a gap that does not answer. The worker ends there, without a connection or a
// descriptor, and the file stays where it is.

#include "ScriptedTransferPeer.h"
#include "SenderFixture.h"
#include "SenderTestSupport.h"
#include "model/Ports.h"
#include "send/SendLedger.h"
#include "send/SendWorkThread.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtTest>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr qint64 kLargeFile = qint64(1) << 30;
constexpr int kWorkerWaitMs = 60000;
// Well below the 30 seconds a connection attempt may take.
constexpr int kConnectStopWaitMs = 15000;

// A gap that takes no connection: its listening queue is full, so the system drops every new
// connection request and a client's connect waits until it gives up.
class SilentGap
{
public:
    explicit SilentGap(quint16 port)
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_ok = m_listener >= 0
            && ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
            && ::listen(m_listener, 0) == 0;
        // A backlog of 0 still queues one connection; a second one makes sure it is full.
        for (int i = 0; m_ok && i < 2; ++i) {
            const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(client, reinterpret_cast<sockaddr *>(&address), sizeof address);
            m_clients.append(client);
        }
    }
    ~SilentGap()
    {
        for (const int client : qAsConst(m_clients))
            ::close(client);
        if (m_listener >= 0)
            ::close(m_listener);
    }
    bool isListening() const { return m_ok; }

private:
    int m_listener = -1;
    bool m_ok = false;
    QList<int> m_clients;
};

} // namespace

class tst_SenderStops : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void stopEndsHashing_data();
    void stopEndsHashing();
    void stopEndsConnecting();

private:
    QTemporaryDir m_auditDir;
};

void tst_SenderStops::initTestCase()
{
    qRegisterMetaType<TransferStateInfo>();
    QVERIFY(SenderTestSupport::claimGapPort() != 0);
    SenderTestSupport::useAuditDatabase(m_auditDir.path());
    g_sysbaseconf.ifDelSendFile = false;
    g_sysbaseconf.isForceVisit = false;
}

// The digest of a 1 GiB file is cut short by a stop of sending or by the user's stop of this one
// file (its row's 删除): the worker reads far less than the file and ends without a descriptor,
// and the file stays where it is.
void tst_SenderStops::stopEndsHashing_data()
{
    QTest::addColumn<bool>("fileOnly");
    QTest::newRow("sending stopped") << false;
    QTest::newRow("the file stopped") << true;
}

void tst_SenderStops::stopEndsHashing()
{
    QFETCH(bool, fileOnly);
    ScriptedTransferPeer gap(PeerScript::gap(), Ports::gapPort());
    QVERIFY(gap.startListening());
    QTemporaryDir dir;
    SenderFixture fixture(dir.path());
    _FINDFILEINFO *record = fixture.addFile(QStringLiteral("large.img"), "x");
    QVERIFY(record);
    QFile large(record->filePath);
    QVERIFY(large.resize(kLargeFile)); // sparse: costs no disk, reads as zeros
    record = fixture.handOver(QStringLiteral("large.img"));
    QThreadPool pool;
    const qint64 readBefore = TestSupport::bytesReadByProcess();
    QVERIFY(readBefore >= 0);
    fixture.startWorker(record, pool);

    QTRY_VERIFY_WITH_TIMEOUT(
        fixture.hasShown(QStringLiteral("文件正在校验中,请稍候 ")), kWorkerWaitMs);
    if (fileOnly)
        QCOMPARE(
            SendLedger::cancel(&fixture.rule, record->fileKey()), SendLedger::Request::Stopping);
    else
        fixture.rule.stopFlag = true;
    QTRY_VERIFY_WITH_TIMEOUT(pool.waitForDone(10), kWorkerWaitMs);
    const qint64 read = TestSupport::bytesReadByProcess() - readBefore;
    QVERIFY2(read < kLargeFile / 2, qPrintable(QString::number(read)));
    QTRY_COMPARE(fixture.rows.last().at(7), QStringLiteral("用户停止发送"));
    gap.stop();
    QCOMPARE(gap.descriptorsSeen(), 0);
    QVERIFY(QFile::exists(record->filePath));
    if (!fileOnly) {
        QVERIFY(fixture.isPending(record));
        return;
    }
    // The rule goes on; the file is held back until it changes or the user asks for it, and then
    // the scanner's next pass looks at it again.
    QVERIFY(!fixture.rule.stopFlag);
    QVERIFY(!fixture.isPending(record));
    QCOMPARE(SendLedger::retryNow(&fixture.rule, record->fileKey()), SendLedger::Request::Offered);
    QMutexLocker lock(&sendTaskMutex);
    QVERIFY(fixture.rule.held.isEmpty());
    QCOMPARE(fixture.rule.reoffered.size(), 1);
}

// A gap that does not answer the connection: a stop ends the wait long before it times out.
void tst_SenderStops::stopEndsConnecting()
{
    SilentGap gap(Ports::gapPort());
    QVERIFY(gap.isListening());
    QTemporaryDir dir;
    SenderFixture fixture(dir.path());
    _FINDFILEINFO *record = fixture.addFile(QStringLiteral("waiting.bin"), patternedContent(2000));
    QVERIFY(record);
    QThreadPool pool;
    fixture.startWorker(record, pool);

    QTRY_VERIFY_WITH_TIMEOUT(
        fixture.hasShown(QStringLiteral("文件正在校验中,请稍候 ")), kWorkerWaitMs);
    // The digest of a small file is quick; the worker is now waiting for the connection.
    QTest::qWait(500);
    fixture.rule.stopFlag = true;
    QTRY_VERIFY_WITH_TIMEOUT(pool.waitForDone(10), kConnectStopWaitMs);
    QTRY_COMPARE(fixture.rows.last().at(7), QStringLiteral("用户停止发送"));
    QVERIFY(QFile::exists(record->filePath));
    QVERIFY(fixture.isPending(record));
    QCOMPARE(int(fixture.rule.sendState), 0);
}

QTEST_GUILESS_MAIN(tst_SenderStops)
#include "tst_sender_stops.moc"
