// Every way gapsim or the receiving client turns a file down, and the failures that are retried:
// the attempt's result and status, then what the retry loop makes of it (row, file kept or
// deleted, attempts, audit). A round that fails leaves the file waiting to be offered again, its
// row and its audit event saying why.

#include "ScriptedTransferPeer.h"
#include "SenderFixture.h"
#include "SenderTestSupport.h"
#include "send/SendWorkThread.h"
#include "support/TestSupport.h"
#include "tools/gapsim/GapsimProcess.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace SenderTestSupport;

namespace {

enum Receiver { Accepting, Absent, NameTooLong, NoRecvPath };

const QByteArray kKeyword("TOPSECRET");
const QByteArray kVirus("X5O-SENDER-TEST-SIGNATURE");

// Content with a marker well inside the second burst, so that a verdict during the data comes
// while bursts still flow.
QByteArray contentWith(const QByteArray &marker)
{
    QByteArray content = patternedContent(5 * 100 * 1444, 3);
    if (!marker.isEmpty())
        content.replace(150000, marker.size(), marker);
    return content;
}

} // namespace

class tst_SenderRefusals : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void endsAsThePeerSays_data();
    void endsAsThePeerSays();

private:
    QTemporaryDir m_auditDir;
};

void tst_SenderRefusals::initTestCase()
{
    QVERIFY(claimGapPort() != 0);
    useAuditDatabase(m_auditDir.path());
}

void tst_SenderRefusals::init()
{
    g_sysbaseconf.ifDelSendFile = false;
    g_sysbaseconf.isForceVisit = false;
    g_sysbaseconf.keyFlag = false;
}

void tst_SenderRefusals::endsAsThePeerSays_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("policy");
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<int>("receiver");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("status"); // of the attempt
    QTest::addColumn<QString>("audit"); // message of the attempt's audit event; empty: none
    // The row after the retry loop; for a failed round, the reason the row gives after the time.
    QTest::addColumn<QString>("finalRow");
    QTest::addColumn<int>("attempts"); // made by the retry loop
    QTest::addColumn<bool>("kept");

    const QString typeRefused = QStringLiteral("不允许发送的文件类型");
    const QString tooBig = QStringLiteral("文件大小超出文件落地范围");
    const QString keyword = QStringLiteral("文件存在过滤关键字");
    const QString virus = QStringLiteral("文件存在病毒");
    const QString offline = QStringLiteral("设备掉线请检查网络 ");
    const QString mismatch = QStringLiteral("接收端文件校验失败/稍后重发(错误代码:15)");
    const QString keywords = QStringLiteral("keywords = %1\n").arg(QString::fromLatin1(kKeyword));
    const QString signature
        = QStringLiteral("virus_signature = %1\n").arg(QString::fromLatin1(kVirus));
    const QByteArray plain = patternedContent(5000, 5);

    QTest::newRow("suffix refused (4)")
        << "tool.exe" << plain << "refused_suffixes = exe" << QStringList() << int(Accepting) << 3
        << typeRefused << typeRefused << typeRefused << 1 << false;
    QTest::newRow("size out of range (12)")
        << "big.bin" << plain << "max_size = 4999" << QStringList() << int(Accepting) << 3 << tooBig
        << tooBig << tooBig << 1 << false;
    QTest::newRow("receiver unreachable (404)")
        << "far.bin" << plain << QString() << QStringList() << int(Absent) << 1 << offline
        << QString() << "接收方不在线" << 5 << true;
    QTest::newRow("keyword during the data (10)")
        << "kw-data.txt" << contentWith(kKeyword) << keywords + "verdict_at = data" << QStringList()
        << int(Accepting) << 3 << keyword << keyword << keyword << 1 << false;
    QTest::newRow("virus during the data (11)")
        << "vir-data.bin" << contentWith(kVirus) << signature + "verdict_at = data" << QStringList()
        << int(Accepting) << 3 << virus << virus << virus << 1 << false;
    QTest::newRow("keyword at the end (10)")
        << "kw-end.txt" << contentWith(kKeyword) << keywords + "verdict_at = end" << QStringList()
        << int(Accepting) << 3 << keyword << keyword << keyword << 1 << false;
    QTest::newRow("virus at the end (11)")
        << "vir-end.bin" << contentWith(kVirus) << signature + "verdict_at = end" << QStringList()
        << int(Accepting) << 3 << virus << virus << virus << 1 << false;
    QTest::newRow("receiver: name too long (13)")
        << "long.bin" << plain << QString() << QStringList() << int(NameTooLong) << 3
        << "文件名太长 "
        << "文件名太长"
        << "文件名太长 " << 1 << false;
    QTest::newRow("receiver: no receive path (14)")
        << "nopath.bin" << plain << QString() << QStringList() << int(NoRecvPath) << 3
        << "接收方未配置接收路径"
        << "接收方未配置接收路径"
        << "接收方未配置接收路径" << 1 << false;
    QTest::newRow("receiver: digest mismatch (15)")
        << "flipped.bin" << plain << QString() << QStringList { QStringLiteral("flip,offset=10") }
        << int(Accepting) << 1 << mismatch << QString() << "接收端文件校验失败" << 5 << true;
}

void tst_SenderRefusals::endsAsThePeerSays()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, policy);
    QFETCH(QStringList, faults);
    QFETCH(int, receiver);
    QFETCH(int, code);
    QFETCH(QString, status);
    QFETCH(QString, audit);
    QFETCH(QString, finalRow);
    QFETCH(int, attempts);
    QFETCH(bool, kept);

    QTemporaryDir dir;
    PeerScript script = PeerScript::receiver();
    if (receiver == NameTooLong)
        script.afterDescriptor = { ScriptedTransferPeer::reply(13) };
    if (receiver == NoRecvPath)
        script.afterDescriptor = { ScriptedTransferPeer::reply(14) };
    ScriptedTransferPeer peer(script);
    quint16 receiverPort = TestSupport::pickFreePort(QHostAddress(QHostAddress::LocalHost));
    if (receiver != Absent) {
        QVERIFY(peer.startListening());
        receiverPort = peer.port();
    }
    GapsimProcess gapsim(dir.path());
    QVERIFY(startGapsim(gapsim, gapsimConfig(receiverPort, policy), faults));
    SenderFixture fixture(dir.path());
    _FINDFILEINFO *record = fixture.addFile(name, content);
    QVERIFY(record);
    SendWorkThread worker(&fixture.rule, record);
    worker.setAutoDelete(false);
    fixture.watch(&worker);

    TransferStateInfo info;
    QCOMPARE(worker.sendThisFile(*record, &fixture.rule, info), code);
    QCOMPARE(info.at(7), status);
    QVERIFY(QFile::exists(record->filePath));
    const QList<QPair<int, QString>> events = auditEvents(name);
    if (audit.isEmpty()) {
        QVERIFY(events.isEmpty());
    } else {
        QCOMPARE(events.size(), 1);
        QCOMPARE(events.first().first, 0);
        QCOMPARE(events.first().second, auditDetail(name, audit));
    }
    if (status == QStringLiteral("不允许发送的文件类型"))
        QCOMPARE(fixture.gap.refusedSuffixes, QList<QString> { QStringLiteral("exe") });

    // Events are read from gapsim while the test's event loop runs.
    QTRY_COMPARE(relayStarts(gapsim, name), 1);
    const int before = 1;
    // The one line of the log file that tells the user what became of the file.
    const QString logLine = kept ? QStringLiteral("文件名: ") + record->filePath + "放弃发送 "
                                 : QStringLiteral("文件名:") + record->filePath + "文件拒绝传输";
    QTest::ignoreMessage(QtWarningMsg, logLine.toUtf8().constData());
    worker.sendFileProc(&fixture.rule);
    const QString row = fixture.rows.last().at(7);
    QTRY_COMPARE(relayStarts(gapsim, name) - before, attempts);
    QCOMPARE(QFile::exists(record->filePath), kept);
    // A file that is not delivered is never recorded as sent.
    QVERIFY(!fixture.isSent(record));
    QCOMPARE(int(fixture.rule.sendState), code == 1 ? 1 : 0);
    if (!kept) {
        // The row says that the refused file was removed, as refused files are.
        QCOMPARE(row, finalRow.trimmed() + QStringLiteral("，已从发送目录删除"));
        // Refused for good and removed: the bookkeeping forgets it.
        QVERIFY(!fixture.isPending(record));
        return;
    }
    // The round failed: the row says when the file is offered again, and why, and so does the
    // audit event that ends the round; the file waits, pending, for its back-off.
    QVERIFY2(QRegularExpression(
                 QStringLiteral("^等待重发 (\\d\\d-\\d\\d )?\\d\\d:\\d\\d（%1）$").arg(finalRow))
                 .match(row)
                 .hasMatch(),
        qPrintable(row));
    const QList<QPair<int, QString>> ended = auditEvents(name);
    QCOMPARE(ended.last().first, 0);
    QCOMPARE(ended.last().second, auditDetail(name, "文件多次发送失败：" + finalRow));
    QVERIFY(fixture.isPending(record));
    QMutexLocker lock(&sendTaskMutex);
    QCOMPARE(fixture.rule.waiting.value(record->fileKey()).failedRounds, 1);
}

QTEST_GUILESS_MAIN(tst_SenderRefusals)
#include "tst_sender_refusals.moc"
