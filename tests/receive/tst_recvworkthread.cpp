// The receiving worker against a scripted gap: raw packets at literal offsets over loopback, the
// written files checked byte for byte, and the rule, the gap's counters and the audit store
// checked after each connection.

#include "audit/AuditTestSupport.h"
#include "model/BaseFunction.h"
#include "model/GlobalData.h"
#include "receive/ReceiverFiles.h"
#include "receive/ReceiverFixture.h"
#include "receive/RecvWorkThread.h"
#include "support/TestSupport.h"
#include "tools/gapsim/GapWire.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <sys/resource.h>

using namespace GapWire;
using namespace ReceiverFiles;

namespace {

constexpr int kBlock = 100 * kPayload;
const QString kDone = QStringLiteral("接收完毕");
const QString kCut = QStringLiteral("Socket断连");

// Writes in pieces of chunk bytes (0: at once), so that packets straddle the receiver's reads.
bool sendInChunks(QTcpSocket &socket, const QByteArray &bytes, int chunk)
{
    if (chunk <= 0)
        return send(socket, bytes);
    for (int at = 0; at < bytes.size(); at += chunk) {
        if (!send(socket, bytes.mid(at, chunk)))
            return false;
    }
    return true;
}

// A transfer that ended without a file: the row has its final status, a stopped rate and an end
// time; nothing is kept, the rule is handed back, nothing counts as received.
void checkEndedWithoutFile(
    const ReceiverFixture &fixture, const QString &recvDir, const QString &status)
{
    QCOMPARE(filesUnder(recvDir), QStringList());
    const TransferStateInfo last = fixture.lastReport();
    QCOMPARE(last.at(7), status);
    QCOMPARE(last.at(1), QStringLiteral("0 Mbps"));
    QVERIFY(!last.at(6).isEmpty());
    QCOMPARE(fixture.rule()->useCount.load(), 0);
    QCOMPARE(fixture.gap()->recvFileNum.load(), 0);
}

bool allZero(const QByteArray &bytes) { return bytes.count('\0') == bytes.size(); }

// Caps the size a file of this process may grow to, as a full disk would, while it exists.
class FileSizeCap
{
public:
    explicit FileSizeCap(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        rlimit cap = m_saved;
        cap.rlim_cur = bytes;
        std::signal(SIGXFSZ, SIG_IGN); // a write past the cap fails instead of ending the process
        m_active = setrlimit(RLIMIT_FSIZE, &cap) == 0;
    }
    ~FileSizeCap() { setrlimit(RLIMIT_FSIZE, &m_saved); }
    FileSizeCap(const FileSizeCap &) = delete;
    FileSizeCap &operator=(const FileSizeCap &) = delete;
    bool active() const { return m_active; }

private:
    rlimit m_saved {};
    bool m_active = false;
};

// Reads every answer until the peer closes the connection.
QByteArray answersUntilClose(QTcpSocket &socket)
{
    QByteArray answers;
    QElapsedTimer clock;
    clock.start();
    while (socket.state() != QAbstractSocket::UnconnectedState && clock.elapsed() < kWaitMs) {
        socket.waitForReadyRead(50);
        answers += socket.readAll();
    }
    return answers + socket.readAll();
}

} // namespace

class TestRecvWorkThread : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    // First, while the audit store is still small enough to grow below the cap.
    void failedWriteRemovesFile_data();
    void failedWriteRemovesFile();
    void receivesFile_data();
    void receivesFile();
    void refusesDescriptor_data();
    void refusesDescriptor();
    void stampsTakenNames();
    void stampsLongNames_data();
    void stampsLongNames();
    void progressReportsAreSpaced();
    void slowPeerEnds_data();
    void slowPeerEnds();
    void declaredSizeBeyondFreeSpace();
    void recreatesMissingReceiveDirectory();
    void unopenableFileIsNotAnswered();
    void digestMismatchRemovesFile_data();
    void digestMismatchRemovesFile();
    void lostConnectionRemovesFile_data();
    void lostConnectionRemovesFile();
    void garbledStreamEndsConnection_data();
    void garbledStreamEndsConnection();
    void gapVerdictEndsRow_data();
    void gapVerdictEndsRow();
    void concurrentTransfersShareRule();
    void unlistedPeerIsDropped();

private:
    QString recvDir() const { return m_workDir.path() + QStringLiteral("/recv"); }
    // The last audit event: category, user, operation, outcome, detail, gap.
    QByteArrayList lastAudit();

    QTemporaryDir m_workDir;
};

void TestRecvWorkThread::initTestCase() { QVERIFY(TestSupport::enterDir(m_workDir)); }

void TestRecvWorkThread::init() { QVERIFY(QDir().mkpath(recvDir())); }

void TestRecvWorkThread::cleanup() { QVERIFY(QDir(recvDir()).removeRecursively()); }

QByteArrayList TestRecvWorkThread::lastAudit()
{
    QString error;
    const auto rows = AuditTestSupport::query(m_workDir.filePath("audit.db"),
        "SELECT category, user, operation, outcome, detail, gap FROM events "
        "ORDER BY id DESC LIMIT 1",
        &error);
    if (!error.isEmpty() || rows.isEmpty())
        return { error.toUtf8() };
    return QByteArrayList(rows.first().begin(), rows.first().end());
}

void TestRecvWorkThread::failedWriteRemovesFile_data()
{
    QTest::addColumn<int>("cap");
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("audited");
    QTest::addColumn<QString>("status");
    const QString blockFailed = QStringLiteral("写入文件时发生错误，检查内存是否充足");
    // The second block is written when the 201st data packet arrives.
    QTest::newRow("during the data") << 2 * kBlock - 1000 << 3 * kBlock << false << blockFailed;
    QTest::newRow("at the file end") << kBlock - 1000 << kBlock + 5 << true << blockFailed;
    // The tail's own text ends in a blank, and the rate column stays as it was.
    QTest::newRow("the tail") << kBlock + 2 << kBlock + 5 << true << blockFailed + ' ';
}

// A write the disk refuses ends the transfer unconfirmed, with the file's error in the row and
// nothing left on disk.
void TestRecvWorkThread::failedWriteRemovesFile()
{
    QFETCH(int, cap);
    QFETCH(int, size);
    QFETCH(bool, audited);
    QFETCH(QString, status);

    ReceiverFixture fixture(recvDir());
    const QByteArray content = contentOfSize(size);
    const QByteArrayList auditBefore = lastAudit();
    QTcpSocket gap;
    QVERIFY(fixture.connectGap(gap));
    QByteArray answers;
    {
        FileSizeCap fileSizeCap { rlim_t(cap) };
        QVERIFY(fileSizeCap.active());
        send(gap,
            descriptor(size, ReceiverFixture::kRuleKey, "full.bin", md5Of(content))
                + contentPackets(content));
        answers = answersUntilClose(gap);
        QVERIFY(fixture.waitForWorkers());
    }

    QCOMPARE(answers.size(), kPacket);
    QCOMPARE(u64(answers, 0), quint64(9));
    QCOMPARE(filesUnder(recvDir()), QStringList());
    const TransferStateInfo last = fixture.lastReport();
    QCOMPARE(last.at(7), status);
    QCOMPARE(last.at(1) == QStringLiteral("0 Mbps"), !status.endsWith(' '));
    QVERIFY(!last.at(6).isEmpty());
    QCOMPARE(fixture.rule()->useCount.load(), 0);
    QCOMPARE(fixture.gap()->recvFileNum.load(), 0);
    if (!audited) {
        QCOMPARE(lastAudit(), auditBefore);
        return;
    }
    QCOMPARE(lastAudit().value(3), QByteArray("0"));
    QVERIFY(lastAudit().value(4).endsWith("'系统资源不足'"));
}

void TestRecvWorkThread::receivesFile_data()
{
    QTest::addColumn<QByteArray>("relativePath");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("chunk");
    QTest::addColumn<int>("blockWrites"); // the final write included

    QTest::newRow("empty") << QByteArray("empty.bin") << 0 << 0 << 1;
    QTest::newRow("one byte") << QByteArray("one.bin") << 1 << 0 << 1;
    QTest::newRow("one payload, empty tail") << QByteArray("p.bin") << kPayload << 0 << 1;
    QTest::newRow("one payload and a byte") << QByteArray("p1.bin") << kPayload + 1 << 0 << 1;
    // The 100th payload fills the buffer; it is written at the file end, not earlier.
    QTest::newRow("one block") << QByteArray("block.bin") << kBlock << 0 << 1;
    QTest::newRow("block and a byte") << QByteArray("block1.bin") << kBlock + 1 << 0 << 1;
    // The 101st and 201st data packets write a block before buffering their own payload.
    QTest::newRow("three blocks, split at odd offsets")
        << QByteArray("bursts.bin") << 3 * kBlock + 777 << 997 << 3;
    // Past the bytes hashed in the loop itself: the rest is hashed beside it.
    QTest::newRow("ten blocks") << QByteArray("ten.bin") << 10 * kBlock + 777 << 0 << 10;
    QTest::newRow("missing sub-directories") << QByteArray("x/y/z.txt") << 3000 << 0 << 1;
    QTest::newRow("UTF-8 name") << QByteArray("目录/文件 1.txt") << 10 << 0 << 1;
    QTest::newRow("relative path of 254 bytes")
        << QByteArray(QByteArray(200, 'd') + '/' + QByteArray(53, 'n')) << 5 << 0 << 1;
    QTest::newRow("name of 254 bytes") << QByteArray(QByteArray(250, 'n') + ".txt") << 5 << 0 << 1;
    QTest::newRow("name with no room for a stamp")
        << QByteArray("d/" + QByteArray(250, 'n')) << 5 << 0 << 1;
}

void TestRecvWorkThread::receivesFile()
{
    QFETCH(QByteArray, relativePath);
    QFETCH(int, size);
    QFETCH(int, chunk);
    QFETCH(int, blockWrites);

    ReceiverFixture fixture(recvDir());
    const QByteArray content = contentOfSize(size);
    const QByteArray md5 = md5Of(content);
    QTcpSocket gap;
    QVERIFY(fixture.connectGap(gap));
    QVERIFY(send(gap, descriptor(size, ReceiverFixture::kRuleKey, relativePath, md5)));

    const QByteArray response = readBytes(gap, kPacket);
    QCOMPARE(response.size(), kPacket);
    QCOMPARE(u64(response, 0), quint64(9));
    QCOMPARE(text(response, 8, 46), QByteArray("127.0.0.1"));
    QCOMPARE(text(response, 54, 46), QByteArray("127.0.0.1"));
    QCOMPARE(text(response, 100, 40), QByteArray(ReceiverFixture::kRuleKey));
    QCOMPARE(text(response, 140, 1024), relativePath);
    QCOMPARE(response.mid(1164, 32), md5);
    QVERIFY(allZero(response.mid(1196)));

    QVERIFY(sendInChunks(gap, contentPackets(content), chunk));
    const QByteArray confirmation = readBytes(gap, kPacket);
    QCOMPARE(confirmation.size(), kPacket);
    QCOMPARE(u64(confirmation, 0), quint64(5));
    QVERIFY(allZero(confirmation.mid(8)));
    QVERIFY(waitForClose(gap));
    QVERIFY(fixture.waitForWorkers());

    const QString fileName = QString::fromUtf8(relativePath.mid(relativePath.lastIndexOf('/') + 1));
    QCOMPARE(filesUnder(recvDir()), QStringList { QString::fromUtf8(relativePath) });
    QCOMPARE(readFile(recvDir() + '/' + QString::fromUtf8(relativePath)), content);

    const QStringList statuses = fixture.statuses();
    QCOMPARE(statuses.mid(0, 2),
        (QStringList { QStringLiteral("接收文件描述信息"), QStringLiteral("接收文件描述符响应") }));
    QCOMPARE(statuses.mid(statuses.size() - 3),
        (QStringList { QStringLiteral("文件接收完毕"), QStringLiteral("正在校验文件"), kDone }));
    // Block writes move the progress on, reported at most every 100 ms: each progress the row
    // shows is that of a whole number of blocks written, and none goes back.
    QStringList blockSteps;
    for (int blocks = 1; blocks <= blockWrites; ++blocks)
        blockSteps << QStringLiteral("%1").arg(
            size > 0 ? double(qMin(blocks * kBlock, size)) / size : 1.0);
    int step = 0;
    for (const TransferStateInfo &info : fixture.reports()) {
        if (info.at(7) != QStringLiteral("正在接收中"))
            continue;
        const int shown = blockSteps.indexOf(info.at(2), step);
        QVERIFY2(shown >= step, qPrintable(info.at(2)));
        step = shown;
    }
    const TransferStateInfo last = fixture.lastReport();
    QCOMPARE(last.at(0), fileName);
    QCOMPARE(last.at(1), QStringLiteral("0 Mbps"));
    QCOMPARE(last.at(2), QStringLiteral("1"));
    QCOMPARE(last.at(3), BaseFunction::calcSize(size));
    QCOMPARE(last.at(4), QString::fromLatin1(ReceiverFixture::kRuleKey));
    QVERIFY(!last.at(5).isEmpty() && !last.at(6).isEmpty());

    QCOMPARE(fixture.gap()->recvFileNum.load(), 1);
    QCOMPARE(fixture.gap()->recvBytes.load(), qint64(size));
    QCOMPARE(fixture.rule()->useCount.load(), 0);
    // The event names the file as it was stored, below the receive directory.
    QCOMPARE(lastAudit(),
        (QByteArrayList { "CLIENT_RECV", "bob", "接收文件", "1",
            "'127.0.0.1', '" + relativePath + "', 'alice', '接收完毕'", "127.0.0.1" }));
    QCOMPARE(fixture.lastReport().at(TransferStateInfo::StoredPath),
        recvDir() + '/' + QString::fromUtf8(relativePath));
}

void TestRecvWorkThread::refusesDescriptor_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("relativePath");
    QTest::addColumn<quint64>("type");

    const QString noPath = QStringLiteral("未知接收路径|关闭连接");
    const QByteArray escape = m_workDir.filePath("evil.txt").toUtf8();
    QTest::newRow("unknown key") << QByteArray("NOPE") << QByteArray("a.txt") << quint64(14);
    QTest::newRow("key differs in case")
        << QByteArray("key-1") << QByteArray("a.txt") << quint64(14);
    QTest::newRow("key of a rule for another gap")
        << QByteArray("OTHER") << QByteArray("a.txt") << quint64(14);
    QTest::newRow("path of 255 bytes") << QByteArray(ReceiverFixture::kRuleKey)
                                       << QByteArray("d/" + QByteArray(253, 'n')) << quint64(13);
    // A name that could not take a stamp, and names that decoding would change, are refused
    // before any content arrives rather than after it.
    const QList<QByteArray> hostile { "../evil.txt", "sub/../../evil.txt", escape, "..\\evil.txt",
        "a//evil.txt", "./evil.txt", "dir/", "..", "sub/..", QByteArray(200, '\xff'),
        "overlong-\xc0\xaf.txt", "surrogate-\xed\xa0\x80.txt", "cut-\xe6\x96" };
    for (const QByteArray &path : hostile)
        QTest::newRow(path.toPercentEncoding("/\\.").constData())
            << QByteArray(ReceiverFixture::kRuleKey) << path << quint64(13);
}

// A refused descriptor is answered with its type alone; nothing is written anywhere, and the
// rule is not left in use.
void TestRecvWorkThread::refusesDescriptor()
{
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, relativePath);
    QFETCH(quint64, type);

    ReceiverFixture fixture(recvDir());
    _RECVPATH_LISTDATA *other = fixture.addRule("OTHER", "10.0.0.9", recvDir());
    QTcpSocket gap;
    QVERIFY(fixture.connectGap(gap));
    QVERIFY(send(gap, descriptor(100, key, relativePath, md5Of(contentOfSize(100)))));

    const QByteArray response = readBytes(gap, kPacket);
    QCOMPARE(response.size(), kPacket);
    QCOMPARE(u64(response, 0), type);
    QVERIFY(allZero(response.mid(8)));
    QVERIFY(waitForClose(gap));
    QVERIFY(fixture.waitForWorkers());

    const bool tooLong = type == 13;
    const QString status = tooLong ? QStringLiteral("文件所需路径超出范围|关闭连接")
                                   : QStringLiteral("未知接收路径|关闭连接");
    QCOMPARE(fixture.statuses(), QStringList { status });
    QCOMPARE(fixture.lastReport().at(0), QString::fromUtf8(relativePath));
    QVERIFY(!fixture.lastReport().at(6).isEmpty());
    const QRegularExpression notAudit(QStringLiteral("^(?!audit\\.db)"));
    QCOMPARE(filesUnder(m_workDir.path()).filter(notAudit), QStringList());
    QCOMPARE(fixture.rule()->useCount.load(), 0);
    QCOMPARE(other->useCount.load(), 0);
    const QByteArray message = tooLong ? "文件所需路径超出范围" : "未配置接收路径";
    QCOMPARE(lastAudit().value(3), QByteArray("0"));
    QVERIFY(lastAudit().value(4).endsWith("'" + message + "'"));
}

// A taken name gives way to a name stamped to the minute directly in the receive directory; a
// second file of that name within the minute overwrites neither.
void TestRecvWorkThread::stampsTakenNames()
{
    QVERIFY(QDir(recvDir()).mkpath("sub"));
    QFile old(recvDir() + "/sub/a.txt");
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
    old.close();

    ReceiverFixture fixture(recvDir());
    const QString before = QDateTime::currentDateTime().toString("yyyyMMdd_hhmm_");
    QList<QByteArray> contents;
    for (int seed = 1; seed <= 2; ++seed) {
        contents.append(contentOfSize(2000 + seed, seed));
        QVERIFY(fixture.deliver("sub/a.txt", contents.last()));
    }
    const QString after = QDateTime::currentDateTime().toString("yyyyMMdd_hhmm_");

    QCOMPARE(readFile(recvDir() + "/sub/a.txt"), QByteArray("old"));
    const QStringList stamped
        = QDir(recvDir()).entryList(QDir::Files | QDir::Hidden, QDir::Time | QDir::Reversed);
    QCOMPARE(stamped.size(), 2);
    QCOMPARE(filesUnder(recvDir()).size(), 3);
    const QRegularExpression form(QStringLiteral("^(\\d{8}_\\d{4}_)(\\d+_)?a\\.txt$"));
    QList<QByteArray> received;
    for (const QString &name : stamped) {
        const QRegularExpressionMatch match = form.match(name);
        QVERIFY2(match.hasMatch(), qPrintable(name));
        QVERIFY(match.captured(1) == before || match.captured(1) == after);
        received.append(readFile(recvDir() + '/' + name));
    }
    QVERIFY(received.contains(contents.at(0)) && received.contains(contents.at(1)));
    QVERIFY(stamped.contains(fixture.lastReport().at(0)));
    // The event and the row name the file by the name it took.
    QVERIFY(lastAudit().value(4).startsWith(
        "'127.0.0.1', '" + fixture.lastReport().at(0).toUtf8() + "', "));
    QCOMPARE(fixture.lastReport().at(TransferStateInfo::StoredPath),
        recvDir() + '/' + fixture.lastReport().at(0));
}

void TestRecvWorkThread::stampsLongNames_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("suffix"); // what the stamped name still ends with
    QTest::newRow("250 bytes with a suffix")
        << QByteArray(QByteArray(246, 'n') + ".txt") << QByteArray(".txt");
    QTest::newRow("254 bytes without one") << QByteArray(254, 'n') << QByteArray("nnnn");
    // 82 characters of three bytes each: the cut falls between characters, never inside one.
    QTest::newRow("250 bytes of Chinese")
        << QByteArray(QString(82, QChar(0x6587)).toUtf8() + ".txt") << QByteArray("文.txt");
    QTest::newRow("a suffix as long as the name")
        << QByteArray("x." + QByteArray(248, 's')) << QByteArray("sss");
}

// A taken name that leaves no room for the stamp still takes one: the name gives up its end, and
// keeps its suffix.
void TestRecvWorkThread::stampsLongNames()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, suffix);

    QFile old(recvDir() + '/' + QString::fromUtf8(name));
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
    old.close();
    ReceiverFixture fixture(recvDir());
    const QByteArray content = contentOfSize(5000);
    QVERIFY(fixture.deliver(name, content));

    const QString stamped = fixture.lastReport().at(0);
    const QByteArray bytes = stamped.toUtf8();
    QVERIFY2(bytes.size() <= 255, qPrintable(stamped));
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d{8}_\\d{4}_")).match(stamped).hasMatch(),
        qPrintable(stamped));
    QVERIFY2(bytes.endsWith(suffix), qPrintable(stamped));
    QCOMPARE(QString::fromUtf8(bytes).toUtf8(), bytes); // whole characters only
    QCOMPARE(readFile(recvDir() + '/' + stamped), content);
    QCOMPARE(readFile(recvDir() + '/' + QString::fromUtf8(name)), QByteArray("old"));
}

// A file that arrives over a second or more shows its progress as it goes, yet at most about ten
// times a second: each report wakes the window.
void TestRecvWorkThread::progressReportsAreSpaced()
{
    ReceiverFixture fixture(recvDir());
    const QByteArray content = contentOfSize(40 * kBlock);
    QTcpSocket gap;
    QVERIFY(fixture.connectGap(gap));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(send(
        gap, descriptor(content.size(), ReceiverFixture::kRuleKey, "slow.bin", md5Of(content))));
    QCOMPARE(u64(readBytes(gap, kPacket), 0), quint64(9));
    const QByteArray stream = contentPackets(content);
    for (int at = 0; at < stream.size(); at += 100 * kPacket) {
        QVERIFY(send(gap, stream.mid(at, 100 * kPacket)));
        QThread::msleep(25);
    }
    QCOMPARE(u64(readBytes(gap, kPacket), 0), quint64(5));
    QVERIFY(fixture.waitForWorkers());
    const qint64 elapsedMs = clock.elapsed();

    const int progressReports = fixture.statuses().count(QStringLiteral("正在接收中"));
    QVERIFY2(progressReports >= 1, qPrintable(QString::number(elapsedMs)));
    QVERIFY2(progressReports <= elapsedMs / RecvWorkThread::kProgressIntervalMs + 1,
        qPrintable(QStringLiteral("%1 reports in %2 ms").arg(progressReports).arg(elapsedMs)));
    QCOMPARE(readFile(recvDir() + "/slow.bin"), content);
}

void TestRecvWorkThread::slowPeerEnds_data()
{
    QTest::addColumn<bool>("described"); // whether the descriptor came before the trickle
    QTest::newRow("trickle after the descriptor") << true;
    QTest::newRow("trickle instead of a descriptor") << false;
}

// A peer that sends a byte now and then, never 30 s without one, yet far too little to move a
// file, is let go once a pace window has passed: its row says so, nothing is kept, its rule is
// free again.
void TestRecvWorkThread::slowPeerEnds()
{
    QFETCH(bool, described);
    constexpr int kWindowMs = 1500;
    RecvWorkThread::setPaceWindow(kWindowMs);
    ReceiverFixture fixture(recvDir());
    QTcpSocket gap;
    QVERIFY(fixture.connectGap(gap));
    RecvWorkThread::setPaceWindow(RecvWorkThread::kPaceWindowMs);
    const QByteArray content = contentOfSize(3 * kBlock);
    QByteArray stream = contentPackets(content);
    if (described) {
        QVERIFY(send(gap,
            descriptor(
                content.size(), ReceiverFixture::kRuleKey, "t/trickle.bin", md5Of(content))));
        QCOMPARE(u64(readBytes(gap, kPacket), 0), quint64(9));
    } else {
        stream.prepend(descriptor(content.size(), ReceiverFixture::kRuleKey, "t/trickle.bin"));
    }
    QTest::ignoreMessage(QtWarningMsg,
        QRegularExpression(
            QStringLiteral("^file connection from 127.0.0.1 moved \\d+ bytes in 1 s: ended")));
    QElapsedTimer clock;
    clock.start();
    for (int at = 0; gap.state() == QAbstractSocket::ConnectedState && clock.elapsed() < kWaitMs;
         ++at) {
        gap.write(stream.mid(at, 1));
        gap.waitForBytesWritten(100);
        gap.waitForReadyRead(100);
    }
    QCOMPARE(gap.state(), QAbstractSocket::UnconnectedState);
    QVERIFY(fixture.waitForWorkers());

    checkEndedWithoutFile(fixture, recvDir(), QStringLiteral("接收速度过慢|关闭连接"));
    QVERIFY(!QFileInfo::exists(recvDir() + "/t"));
}

// A file larger than the receive directory's free space is turned away before any content and
// unanswered, so that the sender keeps it for a later attempt; nothing is made for it.
void TestRecvWorkThread::declaredSizeBeyondFreeSpace()
{
    ReceiverFixture fixture(recvDir());
    QTcpSocket gap;
    QVERIFY(fixture.connectGap(gap));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^no room for ")));
    QVERIFY(send(gap, descriptor(qint64(1) << 60, ReceiverFixture::kRuleKey, "deep/er/huge.bin")));
    QCOMPARE(answersUntilClose(gap), QByteArray());
    QVERIFY(fixture.waitForWorkers());

    QCOMPARE(fixture.statuses(), QStringList { QStringLiteral("接收目录空间不足") });
    QCOMPARE(fixture.lastReport().at(0), QStringLiteral("deep/er/huge.bin"));
    QVERIFY(!fixture.lastReport().at(6).isEmpty());
    QCOMPARE(QDir(recvDir()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList());
    QCOMPARE(fixture.rule()->useCount.load(), 0);
    QCOMPARE(lastAudit().value(3), QByteArray("0"));
    QVERIFY(lastAudit().value(4).endsWith("'接收目录空间不足'"));
}

// A receive directory that went missing is made again, with the file's own directories.
void TestRecvWorkThread::recreatesMissingReceiveDirectory()
{
    QVERIFY(QDir(recvDir()).removeRecursively());
    ReceiverFixture fixture(recvDir());
    const QByteArray content = contentOfSize(100);
    QVERIFY(fixture.deliver("new/a.txt", content));
    QCOMPARE(readFile(recvDir() + "/new/a.txt"), content);
}

// A file that cannot be created gets no answer at all: the row names the open error, the audit
// the failure, and the rule is handed back.
void TestRecvWorkThread::unopenableFileIsNotAnswered()
{
    QFile blocker(recvDir() + "/x"); // a file where the path needs a directory
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    ReceiverFixture fixture(recvDir());
    QTcpSocket gap;
    QVERIFY(fixture.connectGap(gap));
    QVERIFY(send(gap, descriptor(100, ReceiverFixture::kRuleKey, "x/a.txt", md5Of("y"))));
    QCOMPARE(answersUntilClose(gap), QByteArray());
    QVERIFY(fixture.waitForWorkers());

    QCOMPARE(fixture.statuses(), QStringList { QStringLiteral("打开文件失败/关闭连接") });
    QCOMPARE(fixture.lastReport().at(0), QStringLiteral("x/a.txt"));
    QVERIFY(!fixture.lastReport().at(6).isEmpty());
    QCOMPARE(filesUnder(recvDir()), QStringList { QStringLiteral("x") });
    QCOMPARE(fixture.rule()->useCount.load(), 0);
    QCOMPARE(lastAudit().value(3), QByteArray("0"));
    QVERIFY(lastAudit().value(4).endsWith("'文件初始化错误'"));
}

void TestRecvWorkThread::digestMismatchRemovesFile_data()
{
    QTest::addColumn<bool>("lowerCase");
    QTest::addColumn<int>("size");
    QTest::newRow("other digest") << false << kBlock + 5;
    QTest::newRow("right digest in lower case") << true << kBlock + 5;
    QTest::newRow("other digest, ten blocks") << false << 10 * kBlock + 5;
}

void TestRecvWorkThread::digestMismatchRemovesFile()
{
    QFETCH(bool, lowerCase);
    QFETCH(int, size);

    ReceiverFixture fixture(recvDir());
    const QByteArray content = contentOfSize(size);
    const QByteArray announced = lowerCase ? md5Of(content).toLower() : md5Of(contentOfSize(7));
    QTcpSocket gap;
    QVERIFY(fixture.connectGap(gap));
    QVERIFY(send(gap, descriptor(content.size(), ReceiverFixture::kRuleKey, "m.bin", announced)));
    QCOMPARE(u64(readBytes(gap, kPacket), 0), quint64(9));
    QVERIFY(send(gap, contentPackets(content)));

    const QByteArray confirmation = readBytes(gap, kPacket);
    QCOMPARE(u64(confirmation, 0), quint64(15));
    QVERIFY(allZero(confirmation.mid(8)));
    QVERIFY(waitForClose(gap));
    QVERIFY(fixture.waitForWorkers());

    QCOMPARE(filesUnder(recvDir()), QStringList());
    QCOMPARE(fixture.statuses().last(), QStringLiteral("文件校验错误|稍后重传"));
    QVERIFY(!fixture.statuses().contains(kDone));
    QCOMPARE(fixture.gap()->recvFileNum.load(), 0);
    QCOMPARE(fixture.rule()->useCount.load(), 0);
    QCOMPARE(lastAudit().value(3), QByteArray("0"));
    QVERIFY(lastAudit().value(4).endsWith("'文件校验错误'"));
}

void TestRecvWorkThread::lostConnectionRemovesFile_data()
{
    QTest::addColumn<int>("cutAfter"); // bytes of the stream sent before the gap goes away
    QTest::addColumn<bool>("abort"); // reset instead of an orderly close

    QTest::newRow("inside the descriptor") << 700 << false;
    QTest::newRow("after the descriptor") << kPacket << false;
    QTest::newRow("inside a data packet") << kPacket * 50 + 333 << true;
    QTest::newRow("after a block was written") << kPacket * 150 << false;
}

// A gap that goes away leaves no file behind, and the row says so once a file was under way.
void TestRecvWorkThread::lostConnectionRemovesFile()
{
    QFETCH(int, cutAfter);
    QFETCH(bool, abort);

    ReceiverFixture fixture(recvDir());
    const QByteArray content = contentOfSize(3 * kBlock);
    const QByteArray stream
        = descriptor(content.size(), ReceiverFixture::kRuleKey, "cut/c.bin", md5Of(content))
        + contentPackets(content);
    QTcpSocket gap;
    QVERIFY(fixture.connectGap(gap));
    QVERIFY(send(gap, stream.left(cutAfter)));
    const bool described = cutAfter >= kPacket;
    if (described)
        QCOMPARE(u64(readBytes(gap, kPacket), 0), quint64(9));
    // Once the block is in the file, the cut comes mid-file.
    if (cutAfter > kPacket * 101)
        QTRY_COMPARE_WITH_TIMEOUT(largestOpenFileIn(QCoreApplication::applicationPid(), recvDir()),
            qint64(kBlock), 20000);
    abort ? gap.abort() : gap.disconnectFromHost();
    QVERIFY(fixture.waitForWorkers());

    // Not even the file's directory: the path is made when the file takes its name.
    QCOMPARE(QDir(recvDir()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList());
    QCOMPARE(fixture.rule()->useCount.load(), 0);
    if (!described) {
        QVERIFY(fixture.reports().isEmpty());
        return;
    }
    const TransferStateInfo last = fixture.lastReport();
    QCOMPARE(last.at(7), kCut);
    QCOMPARE(last.at(1), QStringLiteral("0 Mbps"));
    QVERIFY(!last.at(6).isEmpty());
}

void TestRecvWorkThread::garbledStreamEndsConnection_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QString>("status");

    const QByteArray content = contentOfSize(2 * kPayload + 10);
    const QByteArray described
        = descriptor(content.size(), ReceiverFixture::kRuleKey, "g.bin", md5Of(content));
    QByteArray badTail = packet(2);
    putU64(badTail, 8, kPayload);
    QByteArray negativeTail = packet(2);
    putU64(negativeTail, 8, quint64(-1));
    const QString unknown = QStringLiteral("未知的数据包类型|关闭连接");
    const QString noDescriptor = QStringLiteral("缺少文件描述信息|关闭连接");
    const QString badTailText = QStringLiteral("文件尾包长度错误|关闭连接");

    QTest::newRow("unknown type after the descriptor") << described + packet(3) << unknown;
    QTest::newRow("data before any descriptor") << packet(1) + described << noDescriptor;
    QTest::newRow("file end before any descriptor") << packet(2) << noDescriptor;
    QTest::newRow("verdict before any descriptor") << packet(10) << noDescriptor;
    QTest::newRow("second descriptor")
        << described + described << QStringLiteral("重复的文件描述信息|关闭连接");
    QTest::newRow("more content than announced") << descriptor(kPayload, ReceiverFixture::kRuleKey,
                                                        "g.bin", md5Of(content))
            + contentPackets(content) << QStringLiteral("文件数据超出声明大小|关闭连接");
    QTest::newRow("tail as long as a payload") << described + badTail << badTailText;
    QTest::newRow("negative tail length") << described + negativeTail << badTailText;
    QTest::newRow("no packet at all") << QByteArray(300000, '\xff') << unknown;
}

// A stream that is not one announced file ends the connection; nothing is kept or confirmed, and
// the row ends: a final status, the end time and a stopped rate.
void TestRecvWorkThread::garbledStreamEndsConnection()
{
    QFETCH(QByteArray, stream);
    QFETCH(QString, status);

    ReceiverFixture fixture(recvDir());
    QTcpSocket gap;
    QVERIFY(fixture.connectGap(gap));
    send(gap, stream); // the worker may close before it has all of it
    const QByteArray answers = answersUntilClose(gap);
    QCOMPARE(gap.state(), QAbstractSocket::UnconnectedState);
    QVERIFY(fixture.waitForWorkers());

    for (int at = 0; at + kPacket <= answers.size(); at += kPacket)
        QVERIFY(u64(answers, at) == 9);
    QVERIFY(!fixture.statuses().contains(kDone));
    checkEndedWithoutFile(fixture, recvDir(), status);
}

void TestRecvWorkThread::gapVerdictEndsRow_data()
{
    QTest::addColumn<quint64>("verdict");
    QTest::addColumn<int>("packetsBefore"); // data packets before the verdict
    QTest::addColumn<QString>("status");
    const QString keyword = QStringLiteral("文件存在过滤关键字");
    QTest::newRow("type refused, right after the response")
        << quint64(4) << 0 << QStringLiteral("不允许发送的文件类型");
    QTest::newRow("keyword, after a block was written") << quint64(10) << 150 << keyword;
    QTest::newRow("virus, mid-block") << quint64(11) << 30 << QStringLiteral("文件存在病毒");
}

// A gap that refuses the content tells the receiver why: the row ends with the sender's words for
// the verdict, the part file goes, the rule is handed back and the audit says it.
void TestRecvWorkThread::gapVerdictEndsRow()
{
    QFETCH(quint64, verdict);
    QFETCH(int, packetsBefore);
    QFETCH(QString, status);

    ReceiverFixture fixture(recvDir());
    const QByteArray content = contentOfSize(3 * kBlock);
    QTcpSocket gap;
    QVERIFY(fixture.connectGap(gap));
    QVERIFY(send(gap,
        descriptor(content.size(), ReceiverFixture::kRuleKey, "v/verdict.bin", md5Of(content))));
    QCOMPARE(u64(readBytes(gap, kPacket), 0), quint64(9));
    QVERIFY(send(gap, contentPackets(content).left(packetsBefore * kPacket) + packet(verdict)));
    QCOMPARE(answersUntilClose(gap), QByteArray());
    QVERIFY(fixture.waitForWorkers());

    checkEndedWithoutFile(fixture, recvDir(), status);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(lastAudit().value(3), QByteArray("0"));
    QCOMPARE(
        lastAudit().value(4), "'127.0.0.1', 'verdict.bin', 'alice', '" + status.toUtf8() + "'");
}

// Two files of one name on one rule at once: the rule counts both, and the file that finishes
// second takes a stamped name instead of replacing the first.
void TestRecvWorkThread::concurrentTransfersShareRule()
{
    ReceiverFixture fixture(recvDir());
    const QByteArray first = contentOfSize(kBlock + 3, 1);
    const QByteArray second = contentOfSize(kBlock + 4, 2);
    QTcpSocket gapA;
    QTcpSocket gapB;
    QVERIFY(fixture.connectGap(gapA));
    QVERIFY(fixture.connectGap(gapB));
    QVERIFY(
        send(gapA, descriptor(first.size(), ReceiverFixture::kRuleKey, "same.bin", md5Of(first))));
    QVERIFY(send(
        gapB, descriptor(second.size(), ReceiverFixture::kRuleKey, "same.bin", md5Of(second))));
    QCOMPARE(u64(readBytes(gapA, kPacket), 0), quint64(9));
    QCOMPARE(u64(readBytes(gapB, kPacket), 0), quint64(9));
    QCOMPARE(fixture.rule()->useCount.load(), 2);

    QVERIFY(send(gapA, contentPackets(first)));
    QCOMPARE(u64(readBytes(gapA, kPacket), 0), quint64(5));
    QVERIFY(send(gapB, contentPackets(second)));
    QCOMPARE(u64(readBytes(gapB, kPacket), 0), quint64(5));
    QVERIFY(fixture.waitForWorkers());

    QCOMPARE(fixture.rule()->useCount.load(), 0);
    QCOMPARE(fixture.gap()->recvFileNum.load(), 2);
    QCOMPARE(readFile(recvDir() + "/same.bin"), first);
    const QStringList files = filesUnder(recvDir());
    QCOMPARE(files.size(), 2);
    const QString stamped = files.at(0) == QLatin1String("same.bin") ? files.at(1) : files.at(0);
    QVERIFY2(stamped.endsWith(QLatin1String("_same.bin")), qPrintable(stamped));
    QCOMPARE(readFile(recvDir() + '/' + stamped), second);
}

// A connection from a host that is no listed gap is closed unanswered and leaves no trace.
void TestRecvWorkThread::unlistedPeerIsDropped()
{
    ReceiverFixture fixture(recvDir(), false);
    QTcpSocket gap;
    QVERIFY(fixture.connectGap(gap));
    send(gap, descriptor(1, ReceiverFixture::kRuleKey, "u.bin", md5Of("x")));
    QVERIFY(waitForClose(gap));
    QVERIFY(fixture.waitForWorkers());
    QVERIFY(fixture.reports().isEmpty());
    QCOMPARE(filesUnder(recvDir()), QStringList());
    QCOMPARE(fixture.rule()->useCount.load(), 0);
}

QTEST_MAIN(TestRecvWorkThread)
#include "tst_recvworkthread.moc"
