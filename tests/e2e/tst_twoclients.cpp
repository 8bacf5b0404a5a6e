// Two real clients and the gap simulator on this machine, as an operator runs them: alice sends to
// bob through gapsim, each client in a working directory of its own, logged in by its remembered
// auto-login, its rules imported with --import, alice sending with --send. Every file ends one of
// three ways: delivered exactly once and byte for byte, still in alice's send directory, or refused
// with its reason recorded. No part file is ever left in a receive directory.
//
// Each case has a path key of its own (its own send and receive directory), so that the cases
// share one gap and one pair of clients; the kill cases start a client again.

#include "GapSite.h"
#include "TestFiles.h"
#include "TmpfsMount.h"
#include "receive/ReceiverFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {

const QString kEdge = QStringLiteral("EDGE");
const QString kRefuse = QStringLiteral("报表-REFUSE");
const QString kFault = QStringLiteral("FAULT");
const QString kKillReceiver = QStringLiteral("KILLR");
const QString kKillSender = QStringLiteral("KILLS");
const QString kFull = QStringLiteral("FULL");

constexpr int kPayload = 1444; // content bytes of one data packet
constexpr int kBurst = 100 * kPayload;
// Large enough that a transfer is still running when its part file is seen growing.
constexpr int kLargeSize = 24 * 1024 * 1024;
constexpr int kTmpfsKiB = 1024;
constexpr int kOutcomeWaitMs = 90000;
const char *const kKeyword = "机密内容";

bool containsLine(const QStringList &lines, const QString &text)
{
    for (const QString &line : lines) {
        if (line.contains(text))
            return true;
    }
    return false;
}

// Whether a client recorded a transfer of the file with that peer, outcome and message. An audit
// event reads "OUTCOME 'local address', 'file', 'peer user', 'message'"; an empty message matches
// any.
bool hasAudit(const QStringList &events, int outcome, const QString &file, const QString &peer,
    const QString &message = QString())
{
    const QString detail = QStringLiteral("'%1', '%2', '%3").arg(file, peer, message);
    for (const QString &event : events) {
        if (event.startsWith(QString::number(outcome) + QLatin1Char(' ')) && event.contains(detail))
            return true;
    }
    return false;
}

} // namespace

class TestTwoClients : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();
    void edgeSizesArriveByteForByte();
    void refusalsAreExplained();
    void faultsDeliverOnce_data();
    void faultsDeliverOnce();
    void clientKilledMidFile_data();
    void clientKilledMidFile();
    void fullReceiveDiskKeepsTheFile();

private:
    // Waits until bob is writing the file, then freezes bob there; the bytes written so far.
    qint64 freezeReceiverMidFile(const QString &key);
    // The file arrived in bob's directory once, whole, as its only file, and left alice's.
    void verifyDeliveredOnce(const QString &recvDir, const QString &sendDir, const QString &name,
        const QByteArray &content);

    QTemporaryDir m_root;
    std::unique_ptr<GapSite> m_site;
    TmpfsMount m_tmpfs;
    bool m_tmpfsMounted = false;
};

void TestTwoClients::initTestCase()
{
    QVERIFY(m_root.isValid());
    m_site = std::make_unique<GapSite>(
        m_root.path(), QStringList { kEdge, kRefuse, kFault, kKillReceiver, kKillSender, kFull });
    const QString policy
        = QStringLiteral("[policy]\nrefused_suffixes = exe\nkeywords = %1\n").arg(kKeyword);
    const QStringList faults { "--fault", "cut,bytes=200000,file=cut.bin,count=1", "--fault",
        "flip,offset=1000,file=flip.bin,count=1" };
    QVERIFY2(m_site->start(GapSite::Layout(), policy, faults), qPrintable(m_site->error()));
    m_tmpfsMounted = m_tmpfs.mount(m_site->recvDir(kFull), kTmpfsKiB);
}

void TestTwoClients::cleanup()
{
    for (ClientProcess *client : { &m_site->alice(), &m_site->bob() }) {
        QVERIFY2(client->sanitizerReports().isEmpty(), qPrintable(client->sanitizerReports()));
        QVERIFY2(client->isRunning(), qPrintable(client->name() + " ended"));
    }
    // What the gap saw explains a failure better than the files that did not arrive.
    if (QTest::currentTestFailed())
        qWarning().noquote() << m_site->gap().events().join(QLatin1Char('\n'));
}

void TestTwoClients::cleanupTestCase()
{
    if (!m_site)
        return;
    m_site->alice().stop();
    m_site->bob().stop();
    QCOMPARE(m_site->gap().stop(), 0);
}

void TestTwoClients::verifyDeliveredOnce(
    const QString &recvDir, const QString &sendDir, const QString &name, const QByteArray &content)
{
    QTRY_COMPARE_WITH_TIMEOUT(
        TestFiles::filesUnder(recvDir).keys(), QStringList { name }, kOutcomeWaitMs);
    QCOMPARE(TestFiles::filesUnder(recvDir).value(name), content);
    QTRY_VERIFY_WITH_TIMEOUT(TestFiles::filesUnder(sendDir).isEmpty(), kOutcomeWaitMs);
    QTRY_COMPARE(m_site->deliveries(name), 1);
    QVERIFY(TestFiles::partFiles(recvDir).isEmpty());
}

// Sizes around a data packet and a burst of 100 packets, a file in a sub-directory and names
// outside ASCII arrive as they were; an empty file is not sent and stays where it is.
void TestTwoClients::edgeSizesArriveByteForByte()
{
    QMap<QString, QByteArray> sent;
    int seed = 0;
    for (int size :
        { 1, kPayload - 1, kPayload, kPayload + 1, kBurst, kBurst + 1, 2 * kBurst + 777 })
        sent.insert(
            QStringLiteral("size-%1.bin").arg(size), TestFiles::contentOfSize(size, ++seed));
    sent.insert(QStringLiteral("子目录/报告.doc"), TestFiles::contentOfSize(kPayload + 1, ++seed));
    sent.insert(QStringLiteral("数据 ü.txt"), TestFiles::contentOfSize(3000, ++seed));
    for (auto it = sent.cbegin(); it != sent.cend(); ++it)
        QVERIFY(m_site->drop(kEdge, it.key(), it.value()));
    QVERIFY(m_site->drop(kEdge, QStringLiteral("empty.txt"), QByteArray()));

    const QString recv = m_site->recvDir(kEdge);
    QTRY_COMPARE_WITH_TIMEOUT(TestFiles::filesUnder(recv).size(), sent.size(), kOutcomeWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(TestFiles::filesUnder(m_site->sendDir(kEdge)).keys(),
        QStringList { QStringLiteral("empty.txt") }, kOutcomeWaitMs);
    QCOMPARE(TestFiles::filesUnder(recv), sent);

    for (const QString &path : sent.keys()) {
        const QString name = QFileInfo(path).fileName();
        QTRY_COMPARE(m_site->deliveries(name), 1);
        QVERIFY(hasAudit(GapSite::auditEvents(m_site->alice(), "CLIENT_SEND"), 1, name,
            QStringLiteral("bob"), QStringLiteral("传输完毕")));
        // Bob's event names the file as it was stored, below his receive directory.
        QVERIFY(hasAudit(GapSite::auditEvents(m_site->bob(), "CLIENT_RECV"), 1, path,
            QStringLiteral("alice"), QStringLiteral("接收完毕")));
    }
    QCOMPARE(m_site->deliveries(QStringLiteral("empty.txt")), 0);
}

// A refused suffix and a filtered keyword end the file for good: it leaves alice's send directory,
// nothing reaches bob, and both are explained: in alice's audit store and log (as her status rows
// show them) and in the gap's verdicts.
void TestTwoClients::refusalsAreExplained()
{
    QByteArray secret = TestFiles::contentOfSize(3 * kBurst, 7);
    secret.replace(kBurst + 100, int(qstrlen(kKeyword)), kKeyword);
    QVERIFY(m_site->drop(kRefuse, QStringLiteral("tool.exe"), TestFiles::contentOfSize(5000, 6)));
    QVERIFY(m_site->drop(kRefuse, QStringLiteral("secret.txt"), secret));

    QTRY_VERIFY_WITH_TIMEOUT(
        TestFiles::filesUnder(m_site->sendDir(kRefuse)).isEmpty(), kOutcomeWaitMs);
    const QStringList sent = GapSite::auditEvents(m_site->alice(), "CLIENT_SEND");
    QVERIFY2(hasAudit(sent, 0, QStringLiteral("tool.exe"), QStringLiteral("bob"),
                 QStringLiteral("不允许发送的文件类型")),
        qPrintable(sent.join(QLatin1Char('\n'))));
    QVERIFY2(hasAudit(sent, 0, QStringLiteral("secret.txt"), QStringLiteral("bob"),
                 QStringLiteral("文件存在过滤关键字")),
        qPrintable(sent.join(QLatin1Char('\n'))));
    const QStringList log = m_site->alice().logLines();
    for (const QString &name : { QStringLiteral("tool.exe"), QStringLiteral("secret.txt") })
        QVERIFY2(containsLine(log, name + QStringLiteral("文件拒绝传输")),
            qPrintable(log.join(QLatin1Char('\n'))));

    const QStringList events = m_site->gap().events();
    QVERIFY(containsLine(events, QStringLiteral("reason=suffix")));
    QVERIFY(containsLine(events, QStringLiteral("reason=keyword")));
    QTRY_VERIFY(TestFiles::filesUnder(m_site->recvDir(kRefuse)).isEmpty());
    QVERIFY(!hasAudit(GapSite::auditEvents(m_site->bob(), "CLIENT_RECV"), 1,
        QStringLiteral("secret.txt"), QStringLiteral("alice")));
}

void TestTwoClients::faultsDeliverOnce_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("receiverRefusal"); // what bob records of the broken delivery
    // The first attempt breaks off in its second burst; the retry must deliver it whole.
    QTest::newRow("relay cut once") << "cut.bin"
                                    << "kind=cut" << QString();
    // The gap changes one byte of the first delivery: bob's digest check refuses it, alice tries
    // again.
    QTest::newRow("content changed once") << "flip.bin"
                                          << "kind=flip" << QStringLiteral("文件校验错误");
}

void TestTwoClients::faultsDeliverOnce()
{
    QFETCH(QString, name);
    QFETCH(QString, fault);
    QFETCH(QString, receiverRefusal);

    // A directory per case, so that each case's file is alone in it on both sides.
    const QString directory = QFileInfo(name).completeBaseName();
    const QByteArray content = TestFiles::contentOfSize(3 * kBurst + 777, name.size());
    QVERIFY(m_site->drop(kFault, directory + QLatin1Char('/') + name, content));
    verifyDeliveredOnce(QDir(m_site->recvDir(kFault)).filePath(directory),
        QDir(m_site->sendDir(kFault)).filePath(directory), name, content);
    QVERIFY(containsLine(m_site->gap().events(), fault));
    QVERIFY(hasAudit(GapSite::auditEvents(m_site->alice(), "CLIENT_SEND"), 1, name,
        QStringLiteral("bob"), QStringLiteral("传输完毕")));
    if (!receiverRefusal.isEmpty()) {
        const QStringList received = GapSite::auditEvents(m_site->bob(), "CLIENT_RECV");
        QVERIFY2(hasAudit(received, 0, name, QStringLiteral("alice"), receiverRefusal),
            qPrintable(received.join(QLatin1Char('\n'))));
    }
}

qint64 TestTwoClients::freezeReceiverMidFile(const QString &key)
{
    const QString recv = m_site->recvDir(key);
    const qint64 bob = m_site->bob().processId();
    QElapsedTimer clock;
    clock.start();
    while (ReceiverFiles::largestOpenFileIn(bob, recv) <= 0 && clock.elapsed() < kOutcomeWaitMs)
        QTest::qWait(5);
    m_site->bob().freeze();
    return ReceiverFiles::largestOpenFileIn(bob, recv);
}

void TestTwoClients::clientKilledMidFile_data()
{
    QTest::addColumn<bool>("sender");
    // Bob dies while he writes the file.
    QTest::newRow("receiver") << false;
    // Alice dies while bob writes her file.
    QTest::newRow("sender") << true;
}

// A client killed in the middle of a file and started again: the file arrives exactly once, whole,
// and the part file of the broken transfer does not stay.
void TestTwoClients::clientKilledMidFile()
{
    QFETCH(bool, sender);
    const QString key = sender ? kKillSender : kKillReceiver;
    const QString name = sender ? QStringLiteral("large-s.bin") : QStringLiteral("large-r.bin");
    const QByteArray content = TestFiles::contentOfSize(kLargeSize, name.size());
    QVERIFY(m_site->drop(key, name, content));
    const qint64 written = freezeReceiverMidFile(key);
    QVERIFY2(written > 0, "bob never started writing the file");
    ClientProcess &killed = sender ? m_site->alice() : m_site->bob();
    qInfo() << killed.name() << "killed while bob had written" << written << "of" << kLargeSize
            << "bytes";
    killed.kill();
    m_site->bob().thaw();
    QVERIFY2(m_site->restart(killed), qPrintable(m_site->error()));
    verifyDeliveredOnce(m_site->recvDir(key), m_site->sendDir(key), name, content);
}

// Bob's receive directory is a small disk that the file does not fit: bob turns each attempt away
// before any content, unanswered, and says why in his row and audit store; alice gives up after
// her attempts and keeps her file (her log says so, as her status row does), bob keeps no part of
// it.
void TestTwoClients::fullReceiveDiskKeepsTheFile()
{
    if (!m_tmpfsMounted)
        QSKIP(qPrintable(QStringLiteral("no small disk to fill: ") + m_tmpfs.error()));
    const QByteArray content = TestFiles::contentOfSize(2 * kTmpfsKiB * 1024, 13);
    const QString name = QStringLiteral("large-f.bin");
    QVERIFY(m_site->drop(kFull, name, content));

    QTRY_VERIFY_WITH_TIMEOUT(
        containsLine(m_site->alice().logLines(), name + QStringLiteral("放弃发送")),
        kOutcomeWaitMs);
    QCOMPARE(TestFiles::filesUnder(m_site->sendDir(kFull)).value(name), content);
    QTRY_VERIFY(TestFiles::filesUnder(m_site->recvDir(kFull)).isEmpty());
    QCOMPARE(m_site->deliveries(name), 0);
    QVERIFY(containsLine(m_site->gap().events(), QStringLiteral("result=receiver-closed")));
    const QStringList received = GapSite::auditEvents(m_site->bob(), "CLIENT_RECV");
    QVERIFY2(
        hasAudit(received, 0, name, QStringLiteral("alice"), QStringLiteral("接收目录空间不足")),
        qPrintable(received.join(QLatin1Char('\n'))));
}

QTEST_GUILESS_MAIN(TestTwoClients)
#include "tst_twoclients.moc"
